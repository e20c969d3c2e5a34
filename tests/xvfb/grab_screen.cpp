// Saves the one window on an X server's screen as a PNG, once it is drawn and has settled. For
// screenshots of the program under Xvfb with no window manager, which starts alongside this tool:
// the window is whatever differs from the bare screen, so the picture has the window's own size.
// Usage: vardek_grab_screen OUTPUT.png
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QScreen>
#include <QThread>

#include <cstdio>

namespace {

// The smallest rectangle holding every pixel unlike the screen's top left corner, which no window
// covers; empty while nothing is drawn.
QRect painted(const QImage& screen) {
    const QRgb bare = screen.pixel(0, 0);
    QRect found;
    for (int y = 0; y < screen.height(); ++y) {
        for (int x = 0; x < screen.width(); ++x) {
            if (screen.pixel(x, y) != bare) {
                found |= QRect(x, y, 1, 1);
            }
        }
    }
    return found;
}

}  // namespace

int main(int argc, char* argv[]) {
    QGuiApplication application(argc, argv);
    const QStringList arguments = QGuiApplication::arguments();
    if (arguments.size() != 2) {
        std::fprintf(stderr, "usage: vardek_grab_screen OUTPUT.png\n");
        return 2;
    }

    const QDeadlineTimer deadline(20000);
    QImage previous;
    while (!deadline.hasExpired()) {
        const QImage screen =
            QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(
                QImage::Format_RGB32);
        const QRect window = painted(screen);
        if (!window.isEmpty() && screen == previous) {
            return screen.copy(window).save(arguments[1], "PNG") ? 0 : 1;
        }
        previous = screen;
        QThread::msleep(500);
    }
    std::fprintf(stderr, "vardek_grab_screen: nothing settled on the screen\n");
    return 1;
}
