// The window on a real X server, Xvfb with no window manager (run by with_xvfb.sh): it shows,
// becomes active of its own accord, and its first status request reaches the board.
#include <QFontInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QRawFont>
#include <QTest>

#include "tests/fake_link.h"
#include "tests/loopback_board.h"
#include "window/Unit1.h"

using vardek::link::EndpointConfig;
using vardek::test::hex;
using vardek::test::LoopbackBoard;

class TestWindowXvfb : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb")); }

    void firstShowingActivatesAndPolls() {
        LoopbackBoard board;
        TVARDEK_Ctrl window(EndpointConfig{"127.0.0.1", board.port()});
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(QTest::qWaitForWindowActive(&window));
        const auto request = board.receive();
        QVERIFY(request);
        QCOMPARE(hex(*request), QStringLiteral("00"));

        // No window manager, so no frame: the client area is the whole outer size.
        QCOMPARE(window.frameGeometry(), QRect(192, 107, 400, 300));
        const QFont font = window.findChild<QLabel*>("Label1")->font();
        QVERIFY2(QRawFont::fromFont(font).supportsCharacter(U'ポ'),
                 qPrintable(QFontInfo(font).family()));
    }
};

QTEST_MAIN(TestWindowXvfb)
#include "test_window_xvfb.moc"
