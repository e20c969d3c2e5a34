// The window under a real window manager, openbox on Xvfb (run by with_xvfb.sh --openbox): the
// frame the manager draws, the activation it gives and takes, its close button, and the program
// started as a user starts it, with the board it is told to use.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <chrono>
#include <memory>
#include <optional>

#include "tests/settings_file.h"
#include "tests/window_driver.h"
#include "window/Unit1.h"

using vardek::link::EndpointConfig;
using vardek::test::Bytes;
using vardek::test::LoopbackBoard;
using vardek::test::nextRequest;
using vardek::test::replyWith;
using vardek::test::requestsUntilSentinel;
using vardek::test::SettingsKind;
using vardek::test::waitUntil;
using vardek::test::windowPort;

namespace {

// Runs wmctrl, which stands in for the user's hand on the window manager: its output, or what
// went wrong.
QString wmctrl(const QStringList& arguments) {
    QProcess process;
    // Titles in UTF-8, as the window sets them.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("wmctrl"), arguments);
    if (!process.waitForFinished(10000) || process.exitCode() != 0) {
        return QStringLiteral("<wmctrl failed: %1>")
            .arg(QString::fromUtf8(process.readAllStandardError()));
    }
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

}  // namespace

Q_DECLARE_METATYPE(SettingsKind)

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
        vardek::test::BoxCloser closer(
            [&](QMessageBox& box) { return boxWasActive = box.isActiveWindow(); });
        board.sendTo(windowPort(*window), Bytes(7, 0xEE));
        QVERIFY(waitUntil([&] { return boxWasActive; }));
        closer.stop();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QCOMPARE(requestsUntilSentinel(board, *window), QStringList{});
    }

    // The program as a user starts it: the board from --board, else from the settings file,
    // else the one built in; the window closed through the window manager. A refused address,
    // or a language without a translation, ends the program with status 2 before anything is
    // sent: on standard error for an option, in a box naming the file, the key and the value for
    // the settings file, and on standard error alone where there is no display to show a box on.
    void theBoardsAddress_data() {
        QTest::addColumn<SettingsKind>("kind");
        QTest::addColumn<QString>("settings");  // the settings file's text; none if empty
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("board");  // where the status requests go; none if refused
        QTest::addColumn<QString>("title");  // of the window, or of the box
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("err");   // a pattern for what is said on standard error
        QTest::addColumn<bool>("display");  // DISPLAY names the X server; else nothing does
        const auto text = SettingsKind::Text;
        const QString seventh = QStringLiteral("VARDEK_Ctrl — 127.0.0.7");
        QTest::newRow("built in") << text << "" << QStringList{} << VARDEK_BOARD_ADDRESS
                                  << "VARDEK_Ctrl" << 0 << "" << true;
        QTest::newRow("option") << text << "" << QStringList{"--board", "127.0.0.7"} << "127.0.0.7"
                                << seventh << 0 << "" << true;
        QTest::newRow("settings file")
            << text << "board=127.0.0.7\n"
            << QStringList{} << "127.0.0.7" << seventh << 0 << "" << true;
        QTest::newRow("option over the file")
            << text << "board=127.0.0.9\n"
            << QStringList{"--board=127.0.0.7"} << "127.0.0.7" << seventh << 0 << "" << true;
        QTest::newRow("the built-in address named")
            << text << "" << QStringList{"--board", VARDEK_BOARD_ADDRESS} << VARDEK_BOARD_ADDRESS
            << "VARDEK_Ctrl" << 0 << "" << true;
        QTest::newRow("bad option")
            << text << "board=127.0.0.7\n"
            << QStringList{"--board", "127.255.255.255"} << ""
            << "" << 2 << "^VARDEK_Control: --board 127\\.255\\.255\\.255 is a broadcast address"
            << true;
        QTest::newRow("bad file")
            << text << "board=0.0.0.0\n"
            << QStringList{} << ""
            << "VARDEK_Control" << 2
            << "vardek-control\\.conf: board=0\\.0\\.0\\.0 cannot name the board" << true;
        QTest::newRow("unknown option")
            << text << "" << QStringList{"--bored", "127.0.0.7"} << ""
            << "" << 2 << "^VARDEK_Control: unknown option '--bored'\nTry 'VARDEK_Control --help'"
            << true;
        // Refused, not the last one taken.
        QTest::newRow("an option given twice")
            << text << "" << QStringList{"--language", "xx", "--language", "en"} << ""
            << "" << 2
            << "^VARDEK_Control: --language is given more than once\nTry 'VARDEK_Control --help'"
            << true;
        // Opened for reading, the FIFO held the program up with its stop signals blocked.
        QTest::newRow("a FIFO in the file's place")
            << SettingsKind::Fifo << "" << QStringList{} << ""
            << "VARDEK_Control" << 2 << "vardek-control\\.conf: is a named pipe \\(FIFO\\)" << true;
        QTest::newRow("English") << text << "language=de\n"
                                 << QStringList{"--language", "en"} << VARDEK_BOARD_ADDRESS
                                 << "VARDEK_Ctrl" << 0 << "" << true;
        QTest::newRow("a language without a translation")
            << text << "" << QStringList{"--language", "de"} << ""
            << "" << 2
            << "^VARDEK_Control: --language 'de' has no translation \\(there are ja, en\\)\n$"
            << true;
        QTest::newRow("a language without a translation in the file")
            << text << "language=de\n"
            << QStringList{} << ""
            << "VARDEK_Control" << 2
            << "vardek-control\\.conf: language=de: 'de' has no translation \\(there are ja, "
               "en\\)"
            << true;
        // Qt aborted (status 134) before the box could open.
        QTest::newRow("bad file, no display") << text << "board=0.0.0.0\n"
                                              << QStringList{} << ""
                                              << "" << 2
                                              << "^VARDEK_Control: [^\n]*vardek-control\\.conf: "
                                                 "board=0\\.0\\.0\\.0 cannot name the board"
                                              << false;
    }
    void theBoardsAddress() {
        QFETCH(SettingsKind, kind);
        QFETCH(QString, settings);
        QFETCH(QStringList, args);
        QFETCH(QString, board);
        QFETCH(QString, title);
        QFETCH(int, exitCode);
        QFETCH(QString, err);
        QFETCH(bool, display);
        window.reset();
        if (!board.isEmpty() && !board.startsWith("127.")) {
            QSKIP("the program talks to a board outside loopback");
        }
        QTemporaryDir home;
        if (!settings.isEmpty() || kind != SettingsKind::Text) {
            QVERIFY(vardek::test::putSettings(home.path(), kind, settings.toUtf8()));
        }
        // The board's port is fixed: only one test at a time holds it (RESOURCE_LOCK).
        std::optional<vardek::link::UdpSocket> boardSocket;
        if (!board.isEmpty()) {
            boardSocket.emplace();
            boardSocket->bind({*vardek::link::parseIpv4(board.toStdString()), 10001});
        }

        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", home.path());
        if (!display) {
            environment.remove("DISPLAY");
        }
        program.setProcessEnvironment(environment);
        program.start(VARDEK_CONTROL, args);
        QVERIFY(program.waitForStarted());
        if (boardSocket) {
            std::array<std::uint8_t, 8> request{};
            std::optional<vardek::link::UdpSocket::Received> received;
            for (int wait = 0; !received && wait < 60; ++wait) {
                boardSocket->waitReadable(std::chrono::milliseconds(1000));
                received = boardSocket->receive(request);
            }
            QVERIFY(received && received->size == 1 && request[0] == 0x00);
        }
        if (!title.isEmpty()) {
            // The window manager's list of the windows it manages, with their process.
            QString id;
            QString shown;
            const auto managed = [&] {
                for (const QString& line : wmctrl({"-l", "-p"}).split('\n')) {
                    const QStringList fields = line.simplified().split(' ');
                    if (fields.size() >= 5 && fields[2] == QString::number(program.processId())) {
                        id = fields[0];
                        shown = fields.mid(4).join(' ');
                    }
                }
                return !id.isEmpty();
            };
            QVERIFY(waitUntil(managed, 60000));
            QCOMPARE(shown, title);
            QCOMPARE(wmctrl({"-i", "-c", id}), QString());
        }
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        const QString errors = QString::fromUtf8(program.readAllStandardError());
        QVERIFY2(QRegularExpression(err).match(errors).hasMatch(), qPrintable(errors));
        QCOMPARE(program.exitCode(), exitCode);
    }
};

QTEST_MAIN(TestWindowOpenbox)
#include "test_window_openbox.moc"
