// The window under a real window manager, openbox on Xvfb (run by with_xvfb.sh --openbox): the
// frame the manager draws, the activation it gives and takes, and its close button.
#include <QGuiApplication>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <memory>

#include "Unit1.h"
#include "window_driver.h"

using vardek::link::EndpointConfig;
using vardek::test::Bytes;
using vardek::test::LoopbackBoard;
using vardek::test::nextRequest;
using vardek::test::replyWith;
using vardek::test::requestsUntilSentinel;
using vardek::test::waitUntil;
using vardek::test::windowPort;

namespace {

// Runs wmctrl, which stands in for the user's hand on the window manager: its output, or what
// went wrong.
QString wmctrl(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("wmctrl"), arguments);
    if (!process.waitForFinished(10000) || process.exitCode() != 0) {
        return QStringLiteral("<wmctrl failed: %1>")
            .arg(QString::fromUtf8(process.readAllStandardError()));
    }
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

}  // namespace

class TestWindowOpenbox : public QObject {
    Q_OBJECT

    LoopbackBoard board;
    std::unique_ptr<TVARDEK_Ctrl> window;

  private slots:
    void initTestCase() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        QVERIFY(wmctrl({"-m"}).startsWith("Name: Openbox"));
    }

    void framedPlacedAndActivated() {
        window = std::make_unique<TVARDEK_Ctrl>(EndpointConfig{"127.0.0.1", board.port()});
        // A poll on a slow machine would land among the exact requests asserted below.
        window->findChild<QTimer*>("Timer1")->stop();
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QCOMPARE(nextRequest(board), QStringLiteral("00"));
        board.sendTo(windowPort(*window), replyWith(0x00));
        QTRY_COMPARE(window->frameGeometry(), QRect(192, 107, 400, 300));
        QVERIFY(window->geometry() != window->frameGeometry());
        QCOMPARE(requestsUntilSentinel(board, *window), QStringList{});
    }

    void focusAwayAndBackActivatesAgain() {
        QWidget other;
        other.setWindowTitle("other");
        other.show();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QVERIFY(!window->isActiveWindow());
        // As a pager or task bar would ask the window manager.
        wmctrl({"-i", "-a", QString::number(window->winId())});
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QCOMPARE(nextRequest(board), QStringLiteral("00"));
        board.sendTo(windowPort(*window), replyWith(0x84));
        QCOMPARE(nextRequest(board), QStringLiteral("01 06 07"));
        QCOMPARE(nextRequest(board), QStringLiteral("01 06 02"));
        QCOMPARE(requestsUntilSentinel(board, *window), QStringList{});
    }

    // The window manager gives the focus back to the window when the box closes: no new
    // activation, no request.
    void closingTheProgramsBoxSendsNothing() {
        bool boxWasActive = false;
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box && box->isActiveWindow()) {
                boxWasActive = true;
                box->button(QMessageBox::Ok)->click();
            }
        });
        closer.start(10);
        board.sendTo(windowPort(*window), Bytes(7, 0xEE));
        QVERIFY(waitUntil([&] { return boxWasActive; }));
        closer.stop();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QCOMPARE(requestsUntilSentinel(board, *window), QStringList{});
    }

    void closingThroughTheWindowManagerEndsTheProgram() {
        window.reset();
        if (!QString(VARDEK_BOARD_ADDRESS).startsWith("127.")) {
            QSKIP("the program talks to a board outside loopback");
        }
        QProcess program;
        program.start(VARDEK_CONTROL, {});
        QVERIFY(program.waitForStarted());
        // The window manager's list of the windows it manages, with their process.
        QString id;
        const auto managed = [&] {
            for (const QString& line : wmctrl({"-l", "-p"}).split('\n')) {
                const QStringList fields = line.simplified().split(' ');
                if (fields.size() == 5 && fields[2] == QString::number(program.processId()) &&
                    fields[4] == "VARDEK_Ctrl") {
                    id = fields[0];
                }
            }
            return !id.isEmpty();
        };
        QVERIFY(waitUntil(managed, 60000));
        QCOMPARE(wmctrl({"-i", "-c", id}), QString());
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
    }
};

QTEST_MAIN(TestWindowOpenbox)
#include "test_window_openbox.moc"
