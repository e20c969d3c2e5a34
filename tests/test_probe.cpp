// vardek-probe as a process: against the simulator on an ephemeral loopback port, against a
// socket that never answers, and with command lines it must refuse before sending anything.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <functional>

#include <netinet/in.h>

#include "fake_link.h"
#include "reply_text.h"
#include "simulator_run.h"
#include "udp_socket.h"

namespace {

using vardek::test::Bytes;
using vardek::test::kWaitMs;
using vardek::test::LoopbackBoard;

// Silent: a socket that never answers. Stranger: a board on 127.0.0.2 whose reply comes after
// an 8-byte datagram from 127.0.0.9.
enum class Target { Simulator, Silent, Stranger, None };

struct Outcome {
    int exitCode = -1;
    QString out;
    QString err;
    qint64 elapsedMs = 0;
};

// `whileRunning` plays the other side of the exchange, if any. The probe reads its settings
// under `configHome`, never the user's own.
Outcome runProbe(const QStringList& args, const std::function<void()>& whileRunning = {},
                 const QString& configHome = QStringLiteral("/nonexistent")) {
    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    probe.setProcessEnvironment(environment);
    QElapsedTimer clock;
    clock.start();
    probe.start(VARDEK_PROBE, args);
    if (whileRunning) {
        whileRunning();
    }
    if (!probe.waitForFinished(kWaitMs) || probe.exitStatus() != QProcess::NormalExit) {
        return {};
    }
    return {probe.exitCode(), QString::fromUtf8(probe.readAllStandardOutput()),
            QString::fromUtf8(probe.readAllStandardError()), clock.elapsed()};
}

// What every JSON reply must hold, whatever the command: the fields agree with the dump.
void checkReply(const QJsonObject& reply) {
    const QString dump = reply["reply"].toString();
    QVERIFY2(QRegularExpression("^([0-9A-F]{3} ){8}$").match(dump).hasMatch(), qPrintable(dump));
    std::array<int, 8> bytes{};
    for (int i = 0; i < 8; ++i) {
        bytes[std::size_t(i)] = dump.mid(i * 4, 3).toInt(nullptr, 16);
    }
    QCOMPARE(reply["port_b"].toInt(-1), bytes[1]);
    const int value = reply["value"].toInt(-1);
    QCOMPARE(value, bytes[4] * 256 + bytes[5]);
    QVERIFY(reply["rtt_ms"].isDouble() && reply["rtt_ms"].toDouble() >= 0);
    const QString command = reply["command"].toString();
    QCOMPARE(reply.contains("text"), command == "read");
    if (command == "read") {
        const auto field = std::uint16_t(value);
        const std::string text = reply["pin"].toString() == "RA5"
                                     ? vardek::link::temperatureText(field)
                                     : vardek::link::rawText(field);
        QCOMPARE(reply["text"].toString(), QString::fromStdString(text));
    }
}

}  // namespace

Q_DECLARE_METATYPE(Target)

class TestProbe : public QObject {
    Q_OBJECT

  private slots:
    void commands_data() {
        QTest::addColumn<Target>("target");
        QTest::addColumn<QStringList>("simulatorArgs");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        // One map per line of JSON output, each field compared; or a pattern for the whole of
        // a person's output.
        QTest::addColumn<QVariantList>("json");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");

        const auto sim = Target::Simulator;
        // Inputs RB0 and RB7 high at start, and frozen, so port B is known.
        const QStringList board{"--seed", "5", "--drift-ms", "0", "--initial-pb", "0x81"};
        const auto reply = [](const char* command, const char* request, int portB) {
            return QVariantMap{{"command", command}, {"request", request}, {"port_b", portB}};
        };
        auto read = reply("read", "04 A1 01", 0x81);
        read["pin"] = "RA5";

        QTest::newRow("status") << sim << board << QStringList{"--json", "status"} << 0
                                << QVariantList{reply("status", "00", 0x81)} << ""
                                << "";
        QTest::newRow("set RB5") << sim << board << QStringList{"--json", "set", "RB5"} << 0
                                 << QVariantList{reply("set", "01 06 05", 0xA1)} << ""
                                 << "";
        QTest::newRow("clear RB7") << sim << board << QStringList{"clear", "rb7", "--json"} << 0
                                   << QVariantList{reply("clear", "02 06 07", 0x01)} << ""
                                   << "";
        QTest::newRow("read RA0") << sim << board << QStringList{"--json", "read", "RA0"} << 0
                                  << QVariantList{reply("read", "04 81 01", 0x81)} << ""
                                  << "";
        QTest::newRow("read RA5") << sim << board << QStringList{"--json", "read", "RA5"} << 0
                                  << QVariantList{read} << ""
                                  << "";
        QTest::newRow("watch") << sim << board
                               << QStringList{"--json", "watch", "--interval", "20", "--count", "3"}
                               << 0 << QVariantList(3, reply("status", "00", 0x81)) << ""
                               << "";
        QTest::newRow("status, for a person")
            << sim << board << QStringList{"status"} << 0 << QVariantList{}
            << R"(^000 081 000 001 000 000 000 000 RB7\.\.RB0=10000001 \(\d+\.\d{3} ms\)\n$)"
            << "";
        QTest::newRow("read RA5, for a person")
            << sim << board << QStringList{"read", "RA5"} << 0 << QVariantList{}
            << "^004 081 0A1 001 000 0[0-9A-F]{2} 000 000 RB7\\.\\.RB0=10000001 "
               "RA5=[ \\d]\\d\\.\\d \u2103 \\(\\d+\\.\\d{3} ms\\)\\n$"
            << "";
        QTest::newRow("wrong size")
            << sim << QStringList{"--reply-size", "7"} << QStringList{"--json", "status"} << 3
            << QVariantList{} << "^$"
            << R"(answered status \(00\) with 7 bytes instead of 8: 000 000 000 001 000 000 000\n)";

        // At most three sends of 200 ms each: the socket counts them, the clock checks the waits.
        QTest::newRow("no listener")
            << Target::Silent << QStringList{} << QStringList{"--timeout", "200", "status"} << 1
            << QVariantList{} << "^$"
            << R"(no reply from 127\.0\.0\.1:\d+ to status \(00\) after 3 )";
        QTest::newRow("stranger ignored")
            << Target::Stranger << QStringList{} << QStringList{"--json", "status"} << 0
            << QVariantList{reply("status", "00", 0x14)} << ""
            << "ignored 1 datagram\\(s\\) from addresses other than 127\\.0\\.0\\.2";
        QTest::newRow("any sender")
            << Target::Stranger << QStringList{} << QStringList{"--any-sender", "--json", "status"}
            << 0 << QVariantList{reply("status", "00", 0x55)} << ""
            << "^$";
        QTest::newRow("cannot send")
            << Target::None << QStringList{}
            << QStringList{"--board", "127.0.0.1", "--port", "0", "status"} << 4 << QVariantList{}
            << "^$"
            << "cannot send status \\(00\\) to 127\\.0\\.0\\.1:0: Invalid argument\n";

        const QStringList one{"--board", "127.0.0.1"};
        const auto refused = [&](const char* name, QStringList args, const char* reason) {
            QTest::newRow(name) << Target::None << QStringList{} << args << 2 << QVariantList{}
                                << "^$" << QString("^vardek-probe: %1[^\n]*\nUsage: ").arg(reason);
        };
        refused("no command", one, "no command given");
        refused("unknown command", one + QStringList{"reset"}, "unknown command 'reset'");
        refused("input pin", one + QStringList{"set", "RB1"}, "RBn expects an output pin");
        refused("no such pin", one + QStringList{"clear", "RB8"}, "RBn expects an output pin");
        refused("no RA4", one + QStringList{"read", "RA4"}, "PIN expects an analogue pin");
        refused("pin missing", one + QStringList{"set"}, "set needs an output pin");
        refused("host name", {"--board", "localhost", "status"},
                "--board 'localhost' is not a dotted-decimal IPv4 address");
        // Refused before anything is sent. Port 0 keeps a refusal that broke on this machine:
        // the kernel rejects the send (EINVAL) instead of letting it onto the network.
        const auto offLoopback = [](std::uint32_t address) {
            const std::string text = vardek::link::SocketAddress{address}.addressText();
            return QStringList{"--board", QString::fromStdString(text), "--port", "0", "status"};
        };
        refused("broadcast", offLoopback(INADDR_BROADCAST),
                "--board 255\\.255\\.255\\.255 is a broadcast address");
        refused("multicast", offLoopback(INADDR_ALLHOSTS_GROUP),
                "--board 224\\.0\\.0\\.1 is a multicast address");
        // The last address of the multicast range.
        refused("last multicast", offLoopback(INADDR_ALLHOSTS_GROUP | 0x0FFFFFFF),
                "--board 239\\.255\\.255\\.255 is a multicast address");
        refused("this host", offLoopback(INADDR_ANY),
                "--board 0\\.0\\.0\\.0 is in 0\\.0\\.0\\.0/8");
        // Once taken, and failed at the send with exit 4.
        refused("loopback broadcast", offLoopback(INADDR_LOOPBACK | 0x00FFFFFF),
                "--board 127\\.255\\.255\\.255 is a broadcast address");
        refused("port too high", one + QStringList{"--port", "65536", "status"},
                "--port expects a number from 0 to 65535");
        refused("no timeout", one + QStringList{"--timeout", "0", "status"},
                "--timeout expects a number from 1 to 600000");
        refused("flag with value", one + QStringList{"--json=1", "status"},
                "--json takes no value");
        refused("watch option on status", one + QStringList{"status", "--count", "2"},
                "unknown option '--count'");
    }
    void commands() {
        QFETCH(Target, target);
        QFETCH(QStringList, simulatorArgs);
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QVariantList, json);
        QFETCH(QString, out);
        QFETCH(QString, err);

        vardek::test::SimulatorRun simulator;
        std::optional<LoopbackBoard> board;
        std::optional<LoopbackBoard> stranger;
        std::function<void()> playBoard;
        if (target == Target::Simulator) {
            QVERIFY(vardek::test::startSimulator(simulator, VARDEK_BOARD_SIM, simulatorArgs));
            args = QStringList{"--board", "127.0.0.1", "--port", QString::number(simulator.port)} +
                   args;
        } else if (target == Target::Silent || target == Target::Stranger) {
            const bool silent = target == Target::Silent;
            board.emplace(silent ? "127.0.0.1" : "127.0.0.2");
            args = QStringList{"--board", silent ? "127.0.0.1" : "127.0.0.2", "--port",
                               QString::number(board->port())} +
                   args;
        }
        if (target == Target::Stranger) {
            stranger.emplace("127.0.0.9");
            playBoard = [&] {
                if (board->receive()) {
                    stranger->sendTo(board->senderPort(), vardek::test::replyWith(0x55));
                    board->reply(vardek::test::replyWith(0x14));
                }
            };
        }

        const Outcome outcome = runProbe(args, playBoard);
        QVERIFY2(outcome.exitCode == exitCode,
                 qPrintable(QString("exit %1, stderr: %2").arg(outcome.exitCode).arg(outcome.err)));
        QVERIFY2(QRegularExpression(err).match(outcome.err).hasMatch(), qPrintable(outcome.err));
        if (!out.isEmpty()) {
            QVERIFY2(QRegularExpression(out).match(outcome.out).hasMatch(),
                     qPrintable(outcome.out));
        }
        if (!json.isEmpty()) {
            const QStringList lines = outcome.out.split('\n', Qt::SkipEmptyParts);
            QCOMPARE(lines.size(), json.size());
            for (qsizetype i = 0; i < lines.size(); ++i) {
                const QJsonObject reply = QJsonDocument::fromJson(lines[i].toUtf8()).object();
                checkReply(reply);
                const QVariantMap expected = json[i].toMap();
                for (auto field = expected.begin(); field != expected.end(); ++field) {
                    QCOMPARE(reply[field.key()].toVariant(), field.value());
                }
            }
        }
        if (target == Target::Silent) {
            int requests = 0;
            while (const auto request = board->receive(0)) {
                QCOMPARE(*request, Bytes{0x00});
                ++requests;
            }
            QCOMPARE(requests, 3);
            QVERIFY2(outcome.elapsedMs >= 3 * 200, qPrintable(QString::number(outcome.elapsedMs)));
        }
    }

    // Without --board, the board named in the settings file that the window reads too.
    void boardFromTheSettingsFile_data() {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("reached");  // where the request went; empty for nowhere
        QTest::addColumn<QString>("err");
        QTest::newRow("file") << "board=127.0.0.7\n"
                              << QStringList{} << "127.0.0.7"
                              << "no reply from 127\\.0\\.0\\.7:";
        QTest::newRow("option over file") << "[General]\nboard=127.0.0.7\n"
                                          << QStringList{"--board", "127.0.0.1"} << "127.0.0.1"
                                          << "no reply from 127\\.0\\.0\\.1:";
        QTest::newRow("option over a bad file")
            << "board=0.0.0.0\n"
            << QStringList{"--board", "127.0.0.7"} << "127.0.0.7"
            << "no reply from 127\\.0\\.0\\.7:";
        QTest::newRow("bad value")
            << "board=224.0.0.1\n"
            << QStringList{} << ""
            << "^vardek-probe: [^\n]*/vardek-control/vardek-control\\.conf: board=224\\.0\\.0\\.1 "
               "cannot name the board: 224\\.0\\.0\\.1 is a multicast address";
        QTest::newRow("a list is no address")
            << "board=127.0.0.7, 127.0.0.8\n"
            << QStringList{} << ""
            << "board=127\\.0\\.0\\.7,127\\.0\\.0\\.8 cannot name the board";
    }
    void boardFromTheSettingsFile() {
        QFETCH(QString, settings);
        QFETCH(QStringList, args);
        QFETCH(QString, reached);
        QFETCH(QString, err);
        QTemporaryDir home;
        QVERIFY(QDir(home.path()).mkpath("vardek-control"));
        QFile file(home.filePath("vardek-control/vardek-control.conf"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(settings.toUtf8());
        file.close();
        // Two silent boards on one port: the one the request reaches tells where it went.
        vardek::link::UdpSocket seventh;
        seventh.bind({vardek::link::kLoopbackAddress + 6, 0});
        const std::uint16_t port = seventh.localAddress().port;
        vardek::link::UdpSocket first;
        first.bind({vardek::link::kLoopbackAddress, port});

        const Outcome outcome =
            runProbe(args + QStringList{"--port", QString::number(port), "--timeout", "100",
                                        "--retries", "0", "status"},
                     {}, home.path());
        QCOMPARE(outcome.exitCode, reached.isEmpty() ? 2 : 1);
        QVERIFY2(QRegularExpression(err).match(outcome.err).hasMatch(), qPrintable(outcome.err));
        std::array<std::uint8_t, 8> buffer{};
        QCOMPARE(bool(seventh.receive(buffer)), reached == "127.0.0.7");
        QCOMPARE(bool(first.receive(buffer)), reached == "127.0.0.1");
    }
};

QTEST_GUILESS_MAIN(TestProbe)
#include "test_probe.moc"
