// Driving the control window in tests: its parts by name, its boxes, and the requests that it
// sends to a loopback board.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

#include "link/datagram_endpoint.h"
#include "tests/fake_link.h"
#include "tests/loopback_board.h"
#include "window/Unit1.h"

namespace vardek::test {

inline QMessageBox* openBox() {
    return qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
}

// While it lives, clicks Ok on each box that opens once `seen`, if given, returns true for it.
// A box runs its own event loop, so this runs from a timer, which fires inside that loop too.
class BoxCloser {
  public:
    explicit BoxCloser(std::function<bool(QMessageBox&)> seen = {}) {
        QObject::connect(&timer_, &QTimer::timeout, [this, seen = std::move(seen)] {
            if (QMessageBox* box = openBox(); box && (!seen || seen(*box))) {
                ++closed_;
                box->button(QMessageBox::Ok)->click();
            }
        });
        timer_.start(10);
    }

    int closed() const { return closed_; }
    void stop() { timer_.stop(); }

  private:
    QTimer timer_;
    int closed_ = 0;
};

// The window's texts in `language` while this lives: a window created meanwhile speaks it.
class WindowLanguage {
  public:
    explicit WindowLanguage(std::string_view language)
        : translation_(TVARDEK_Ctrl::translationInto(language)) {
        if (translation_.translator) {
            QCoreApplication::installTranslator(translation_.translator.get());
        }
    }
    ~WindowLanguage() {
        if (translation_.translator) {
            QCoreApplication::removeTranslator(translation_.translator.get());
        }
    }
    WindowLanguage(const WindowLanguage&) = delete;
    WindowLanguage& operator=(const WindowLanguage&) = delete;

    const std::string& problem() const { return translation_.problem; }

  private:
    host::Translation translation_;
};

// A widget or timer of the window, by its name in the window description.
template <typename Child = QWidget>
Child* child(const QWidget& window, const QString& name) {
    return window.findChild<Child*>(name);
}

// The reply dump that Memo1 shows.
inline QString memo(const QWidget& window) {
    return window.findChild<QPlainTextEdit*>("Memo1")->toPlainText();
}

// The endpoint's local port, where a board sends its replies.
inline std::uint16_t windowPort(const QWidget& window) {
    return child<link::DatagramEndpoint>(window, "NMUDP1")->localPort();
}

// The next request that the board receives, as "01 06 02", or "<nothing>".
inline QString nextRequest(LoopbackBoard& board) {
    const auto datagram = board.receive();
    return datagram ? hex(*datagram) : QStringLiteral("<nothing>");
}

// What the window sent before a channel read pressed now, in order (loopback keeps the order of
// one socket's datagrams, so no quiet time is waited out). Events already queued run first.
inline QStringList requestsUntilSentinel(LoopbackBoard& board, QWidget& window) {
    QCoreApplication::processEvents();
    QTest::mouseClick(child<QPushButton>(window, "BtnRA0"), Qt::LeftButton);
    return hexAll(board.receiveUntil(bytesOf(link::readChannelRequest(link::channelSelector(0)))));
}

}  // namespace vardek::test
