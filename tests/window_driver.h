// Driving the control window in tests: its parts by name, its boxes, and the requests that it
// sends to a loopback board.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "Unit1.h"
#include "datagram_endpoint.h"
#include "fake_link.h"
#include "loopback_board.h"

namespace vardek::test {

inline QMessageBox* openBox() {
    return qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
}

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
    QStringList requests;
    for (QString request = nextRequest(board); request != "04 81 01" && request != "<nothing>";
         request = nextRequest(board)) {
        requests << request;
    }
    return requests;
}

}  // namespace vardek::test
