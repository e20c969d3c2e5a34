// The least Qt Widgets program that does the control window's visible work, the yardstick for
// its start-up, memory and responsiveness: one window with one Japanese caption, port B's, in
// the face the window draws it in, one check box where the window has RB5, a 1-byte datagram to
// the board on the first activation, on every toggle and on every tick of a 5000 ms timer, and a
// socket from which it reads every datagram, showing the latest in a label where the window has
// its dump.
#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QFont>
#include <QLabel>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

class BaselineWindow final : public QWidget {
  public:
    BaselineWindow() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd_ < 0) {
            std::exit(1);
        }
        board_.sin_family = AF_INET;
        board_.sin_port = htons(10001);
        board_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        auto* latest = new QLabel(this);
        latest->setGeometry(104, 224, 265, 41);
        auto* notifier = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this, latest] {
            std::uint8_t bytes[8];
            std::uint8_t shown[8];
            ssize_t size = -1;
            for (ssize_t received; (received = ::recv(fd_, bytes, sizeof bytes, 0)) >= 0;) {
                size = received;
                std::copy(bytes, bytes + sizeof bytes, shown);
            }
            if (size < 0) {
                return;
            }
            QString text;
            for (ssize_t index = 0; index < std::min<ssize_t>(size, 8); ++index) {
                text += QStringLiteral("%1 ").arg(shown[index], 3, 16, QLatin1Char('0')).toUpper();
            }
            latest->setText(text);
        });

        // Where the control window has its designed place and its RB5 box.
        move(192, 107);
        resize(400, 300);
        setWindowTitle(QStringLiteral("baseline"));
        // On the port B frame's top border, in the Japanese face of a Debian desktop, where the
        // window's designed face is missing.
        QFont japanese(QStringLiteral("IPAPGothic"));
        japanese.setPixelSize(12);
        auto* caption = new QLabel(QStringLiteral("ポートＢ"), this);
        caption->setFont(japanese);
        caption->setGeometry(16, 1, 80, 17);
        auto* box = new QCheckBox(QStringLiteral("RB5"), this);
        box->setGeometry(32, 72, 50, 17);
        connect(box, &QCheckBox::toggled, this, [this](bool on) { send(on ? 0x01 : 0x02); });
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this] { send(0x00); });
        timer->start(5000);
    }
    ~BaselineWindow() override { ::close(fd_); }

  protected:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::WindowActivate && !activated_) {
            activated_ = true;
            send(0x00);
        }
        return QWidget::event(event);
    }
    void showEvent(QShowEvent* event) override {
        QWidget::showEvent(event);
        // As the control window does: nothing else activates it without a window manager.
        activateWindow();
    }

  private:
    void send(std::uint8_t byte) {
        ::sendto(fd_, &byte, 1, 0, reinterpret_cast<const sockaddr*>(&board_), sizeof board_);
    }

    int fd_ = -1;
    sockaddr_in board_{};
    bool activated_ = false;
};

}  // namespace

int main(int argc, char* argv[]) {
    int qtArgc = argc > 0 ? 1 : 0;
    QApplication application(qtArgc, argv);
    BaselineWindow window;
    window.show();
    return QApplication::exec();
}
