// The window as a Wayland client, under a weston compositor that activates no window (run by
// with_weston.sh): its first showing still counts as its activation, once, and placing it and
// asking for the activation, which Wayland leaves to the compositor, are not even tried.
#include <QGuiApplication>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include "tests/window_driver.h"
#include "window/Unit1.h"

using vardek::link::EndpointConfig;
using vardek::test::LoopbackBoard;
using vardek::test::nextRequest;
using vardek::test::replyWith;

class TestWindowWayland : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("wayland"));
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    }

    void firstShowingActivatesOnce() {
        LoopbackBoard board;
        TVARDEK_Ctrl window(EndpointConfig{"127.0.0.1", board.port()});
        // A poll on a slow machine would land among the exact requests asserted below.
        window.findChild<QTimer*>("Timer1")->stop();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(nextRequest(board), QStringLiteral("00"));
        // The synchronisation is armed: the reply's outputs go into the boxes.
        board.sendTo(vardek::test::windowPort(window), replyWith(0x84));
        QCOMPARE(nextRequest(board), QStringLiteral("01 06 07"));
        QCOMPARE(nextRequest(board), QStringLiteral("01 06 02"));
        // No second status request before a channel read pressed now.
        QCOMPARE(vardek::test::requestsUntilSentinel(board, window), QStringList{});
        QVERIFY(!window.isActiveWindow());
        QVERIFY(!window.testAttribute(Qt::WA_Moved));
    }
};

QTEST_MAIN(TestWindowWayland)
#include "test_window_wayland.moc"
