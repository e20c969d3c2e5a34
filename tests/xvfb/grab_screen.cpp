// Saves a rectangle of an X server's screen as a PNG, once whatever is drawn there has settled.
// For screenshots of the program under Xvfb, which starts alongside this tool.
// Usage: vardek_grab_screen OUTPUT.png LEFT TOP WIDTH HEIGHT
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QThread>

#include <cstdio>

namespace {

// Blank until a window is mapped and painted there.
bool isBlank(const QImage& image) {
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != first) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    QGuiApplication application(argc, argv);
    const QStringList arguments = QGuiApplication::arguments();
    if (arguments.size() != 6) {
        std::fprintf(stderr, "usage: vardek_grab_screen OUTPUT.png LEFT TOP WIDTH HEIGHT\n");
        return 2;
    }
    const int left = arguments[2].toInt();
    const int top = arguments[3].toInt();
    const int width = arguments[4].toInt();
    const int height = arguments[5].toInt();

    const QDeadlineTimer deadline(20000);
    QImage previous;
    while (!deadline.hasExpired()) {
        const QImage image = QGuiApplication::primaryScreen()
                                 ->grabWindow(0, left, top, width, height)
                                 .toImage()
                                 .convertToFormat(QImage::Format_RGB32);
        if (!isBlank(image) && image == previous) {
            return image.save(arguments[1], "PNG") ? 0 : 1;
        }
        previous = image;
        QThread::msleep(500);
    }
    std::fprintf(stderr, "vardek_grab_screen: nothing settled on the screen\n");
    return 1;
}
