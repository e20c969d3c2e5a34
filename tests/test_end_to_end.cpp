// The real window, offscreen, against the real board simulator on an ephemeral loopback port.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

#include "link/datagram_endpoint.h"
#include "tests/simulator_run.h"
#include "tests/window_driver.h"
#include "window/Unit1.h"
#include "window/error_report.h"

using vardek::link::EndpointConfig;
using vardek::test::child;
using vardek::test::ControlClient;
using vardek::test::LoopbackBoard;
using vardek::test::memo;
using vardek::test::openBox;
using vardek::test::SimulatorRun;
using vardek::test::waitUntil;

class TestEndToEnd : public QObject {
    Q_OBJECT

    std::unique_ptr<SimulatorRun> simulator;
    std::unique_ptr<TVARDEK_Ctrl> window;
    QStringList reported;

    QCheckBox* box(int bit) const {
        return child<QCheckBox>(*window, QStringLiteral("CheckBoxRB%1").arg(bit));
    }

    // Starts the simulator with `options`, opens the window on it and, with `firstReply`, waits
    // until the reply to its first status request is shown.
    bool open(const QStringList& options, bool firstReply = true) {
        simulator = std::make_unique<SimulatorRun>();
        if (!vardek::test::startSimulator(*simulator, VARDEK_BOARD_SIM, options)) {
            return false;
        }
        window = std::make_unique<TVARDEK_Ctrl>(EndpointConfig{"127.0.0.1", simulator->port});
        window->show();
        return QTest::qWaitForWindowActive(window.get()) &&
               (!firstReply || waitUntil([&] { return !memo(*window).isEmpty(); }));
    }

    // Port B as the simulator itself reports it to a status request of the test's own.
    int simulatedPortB() {
        LoopbackBoard probe;
        probe.sendTo(simulator->port, {0x00});
        const auto reply = probe.receive();
        return reply && reply->size() == 8 ? (*reply)[1] : -1;
    }

  private slots:
    void init() {
        window.reset();
        simulator.reset();
        reported.clear();
        vardek::setErrorReporter(
            [this](const std::string& message) { reported << QString::fromStdString(message); });
    }

    void cleanup() {
        window.reset();
        simulator.reset();
    }

    void cleanupTestCase() { vardek::setErrorReporter(nullptr); }

    void activationSynchronisesWithTheBoard() {
        QVERIFY(open({"--initial-pb", "0x29", "--drift-ms", "0"}));
        for (int bit = 0; bit <= 7; ++bit) {
            QVERIFY2(box(bit)->isChecked() == ((0x29 >> bit & 1) != 0),
                     qPrintable(QStringLiteral("RB%1").arg(bit)));
        }
        // The echoed set commands leave the board as it was.
        QCOMPARE(simulatedPortB(), 0x29);
        QCOMPARE(reported, QStringList{});
    }

    void clickingAnOutputSetsTheBoardsPin() {
        QVERIFY(open({"--drift-ms", "0"}));
        QTest::mouseClick(box(3), Qt::LeftButton);
        QVERIFY(box(3)->isChecked());
        QVERIFY(waitUntil([&] { return simulator->countLines(R"(\| set RB3)") == 1; }));
        QCOMPARE(simulatedPortB() & 0x08, 0x08);
    }

    void temperatureReadsInRange() {
        // Replies name no request: the status reply is in before the channel is read.
        QVERIFY(open({"--seed", "7"}));
        QTest::mouseClick(child<QPushButton>(*window, "BtnRA5"), Qt::LeftButton);
        auto* edit1 = child<QLineEdit>(*window, "Edit1");
        QVERIFY(waitUntil([&] { return !edit1->text().isEmpty(); }));
        const QString text = edit1->text();
        QVERIFY2(text.endsWith(QString::fromUtf8(" ℃")), qPrintable(text));
        bool number = false;
        const double celsius = text.chopped(2).trimmed().toDouble(&number);
        QVERIFY2(number && celsius >= 20.0 && celsius <= 30.3, qPrintable(text));
    }

    void shortRepliesBringTheMessage() {
        QString title;
        QString text;
        const vardek::test::BoxCloser closer([&](QMessageBox& message) {
            title = message.windowTitle();
            text = message.text();
            return true;
        });
        QVERIFY(open({"--reply-size", "7"}, false));
        QVERIFY(waitUntil([&] { return !text.isEmpty(); }));
        QCOMPARE(title, QString::fromUtf8("受信したデータに誤りがあります"));
        QCOMPARE(text, QString::fromUtf8("データ数が一致しません"));
        QVERIFY(memo(*window).isEmpty());
    }

    void droppedRepliesLeaveTheLastValuesAndPollingGoesOn() {
        QVERIFY(open({"--drop-every", "2", "--drift-ms", "0", "--initial-pb", "0x01"}));
        const QString shown = memo(*window);
        auto* timer1 = window->findChild<QTimer*>("Timer1");
        timer1->start(20);  // polls come faster than the board's 5000 ms, nothing else changes
        QVERIFY(waitUntil([&] { return simulator->countLines(R"(reply dropped)") >= 3; }));
        QVERIFY(simulator->countLines(R"(\| status)") >= 6);
        QVERIFY(box(0)->isChecked());
        QVERIFY(!memo(*window).isEmpty());
        QVERIFY(openBox() == nullptr);
        QCOMPARE(reported, QStringList{});
        QCOMPARE(memo(*window).mid(4, 3), shown.mid(4, 3));  // port B as last received
    }

    // The board goes quiet while the window polls, has an output stuck meanwhile and comes back:
    // the title shows the silence and loses it, and the boxes take the board's outputs again.
    void boardSilencedAndResumedWhileTheWindowRuns() {
        QTemporaryDir dir;
        const QString path = dir.filePath("control");
        QVERIFY(open({"--drift-ms", "0", "--control", path}));
        const QString answering = window->windowTitle();
        ControlClient control(path);
        QCOMPARE(control.command("silent 12"), "ok");
        window->findChild<QTimer*>("Timer1")->start(50);
        QVERIFY(waitUntil(
            [&] { return window->windowTitle() == answering + QStringLiteral(" — 応答なし"); }));
        QCOMPARE(control.command("stuck RB3=1"), "ok");
        QVERIFY(!box(3)->isChecked());
        QCOMPARE(control.command("resume"), "ok");
        QVERIFY(waitUntil([&] { return window->windowTitle() == answering; }));
        QVERIFY(waitUntil([&] { return box(3)->isChecked(); }));
        QVERIFY(simulator->countLines(R"(\| status, silent, not answered)") >= 1);
        QCOMPARE(reported, QStringList{});
    }
};

QTEST_MAIN(TestEndToEnd)
#include "test_end_to_end.moc"
