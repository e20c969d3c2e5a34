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
#include <QXmlStreamReader>

#include <array>
#include <csignal>
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
    QVERIFY2(QRegularExpression("^[0-9A-F]{3}( [0-9A-F]{3}){7}$").match(dump).hasMatch(),
             qPrintable(dump));
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
        const auto* channel = vardek::link::parseAnaloguePin(reply["pin"].toString().toStdString());
        const std::string text = channel ? vardek::link::readingText(*channel, field) : "";
        QCOMPARE(reply["text"].toString(), QString::fromStdString(text));
    }
}

// A JUnit report's testcases: each check's name and "PASS", "FAIL" or "SKIP", from its
// failure and skipped elements; the testsuite's name first.
QStringList readJunit(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {"unreadable"};
    }
    QXmlStreamReader xml(&file);
    QStringList cases;
    while (xml.readNextStartElement()) {
        if (xml.name() == u"testsuite") {
            cases << xml.attributes().value("name").toString();
            continue;
        }
        cases << xml.attributes().value("name").toString() + " PASS";
        while (xml.readNextStartElement()) {
            if (xml.name() == u"failure" || xml.name() == u"skipped") {
                cases.last().replace("PASS", xml.name() == u"failure" ? "FAIL" : "SKIP");
            }
            xml.skipCurrentElement();
        }
    }
    if (xml.hasError()) {
        return {xml.errorString()};
    }
    return cases;
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

    // check against a healthy and a faulty simulator: the verdicts, the fault named in the
    // failed check's detail, the JSON and JUnit reports, and port B as found afterwards.
    void check_data() {
        QTest::addColumn<Target>("target");
        QTest::addColumn<QStringList>("simulatorArgs");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("signal");  // sent once the simulator has set an output; 0 none
        QTest::addColumn<int>("exitCode");
        // reachable, reply-size, outputs, analogue, inputs; none when the probe is stopped.
        QTest::addColumn<QStringList>("verdicts");
        // In the detail of the first failed check; for a stopped probe, in its message.
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("portBAfter");  // read back with status; -1 not checked

        const auto sim = Target::Simulator;
        const QStringList all{"--outputs"};
        const QStringList healthy{"PASS", "PASS", "PASS", "PASS", "PASS"};
        const QStringList outputsFail{"PASS", "PASS", "FAIL", "PASS", "PASS"};
        const QStringList analogueFail{"PASS", "PASS", "SKIP", "FAIL", "PASS"};
        QTest::newRow("healthy") << sim << QStringList{} << QStringList{} << 0 << 0
                                 << QStringList{"PASS", "PASS", "SKIP", "PASS", "PASS"} << ""
                                 << kPortB;
        QTest::newRow("healthy, outputs")
            << sim << QStringList{} << all << 0 << 0 << healthy << "" << kPortB;
        QTest::newRow("stuck at 1") << sim << QStringList{"--stuck", "RB3=1"} << all << 0 << 5
                                    << outputsFail << "RB3 stuck at 1" << (kPortB | 0x08);
        QTest::newRow("stuck at 0, two pins")
            << sim << QStringList{"--stuck", "RB7=0", "--stuck", "RB5=0"} << all << 0 << 5
            << outputsFail << "^RB5 stuck at 0; RB7 stuck at 0$" << (kPortB & ~0x80);
        QTest::newRow("converter out of range")
            << sim << QStringList{"--adc", "RA2=4096"} << QStringList{} << 0 << 5 << analogueFail
            << "RA2 4096 above 1023" << -1;
        QTest::newRow("shorted channel, lower limit")
            << sim << QStringList{"--adc", "RA1=1023"} << QStringList{"--adc-max", "1000"} << 0 << 5
            << analogueFail << "RA1 1023 above 1000" << -1;
        QTest::newRow("too hot") << sim << QStringList{"--adc", "RA5=300"} << QStringList{} << 0
                                 << 5 << analogueFail << "RA5=146\\.5 ℃.*outside 0:60" << -1;
        QTest::newRow("within a given range")
            << sim << QStringList{"--adc", "RA5=300"} << QStringList{"--temp-range", "-10:146.5"}
            << 0 << 0 << QStringList{"PASS", "PASS", "SKIP", "PASS", "PASS"} << "" << -1;
        QTest::newRow("7-byte replies") << sim << QStringList{"--reply-size", "7"} << all << 0 << 5
                                        << QStringList{"PASS", "FAIL", "SKIP", "SKIP", "SKIP"}
                                        << "^7 bytes instead of 8: 5 of 5 datagrams$" << -1;
        QTest::newRow("no board") << Target::Silent << QStringList{}
                                  << QStringList{"--timeout", "100", "--count", "2"} << 0 << 1
                                  << QStringList{"FAIL", "SKIP", "SKIP", "SKIP", "SKIP"}
                                  << "^0/2 answered$" << -1;
        // Each reply takes 100 ms, so the signal comes while the outputs are being switched.
        const QStringList slow{"--delay-ms", "100"};
        QTest::newRow("Ctrl-C") << sim << slow << all << SIGINT << 130 << QStringList{}
                                << "stopped by SIGINT; restored RB7..RB2=100101\n"
                                << kPortB;
        QTest::newRow("SIGTERM") << sim << slow << all << SIGTERM << 143 << QStringList{}
                                 << "stopped by SIGTERM; restored RB7..RB2=100101\n"
                                 << kPortB;
    }
    void check() {
        QFETCH(Target, target);
        QFETCH(QStringList, simulatorArgs);
        QFETCH(QStringList, args);
        QFETCH(int, signal);
        QFETCH(int, exitCode);
        QFETCH(QStringList, verdicts);
        QFETCH(QString, fault);
        QFETCH(int, portBAfter);

        vardek::test::SimulatorRun simulator;
        std::optional<LoopbackBoard> silent;
        QString board = "127.0.0.1:";
        if (target == Target::Simulator) {
            QVERIFY(vardek::test::startSimulator(
                simulator, VARDEK_BOARD_SIM,
                QStringList{"--drift-ms", "0", "--initial-pb", QString::number(kPortB)} +
                    simulatorArgs,
                kWaitMs));
            board += QString::number(simulator.port);
        } else {
            silent.emplace();
            board += QString::number(silent->port());
        }
        const QStringList common{"--board", "127.0.0.1", "--port", board.section(':', 1)};
        QTemporaryDir dir;
        const QString junit = dir.filePath("report.xml");

        QProcess probe;
        probe.start(VARDEK_PROBE, common + QStringList{"--json", "check", "--junit", junit} + args);
        if (signal != 0) {
            QVERIFY(vardek::test::waitForLog(simulator, QRegularExpression("\\| set RB3"), kWaitMs)
                        .hasMatch());
            ::kill(pid_t(probe.processId()), signal);
        }
        QVERIFY(probe.waitForFinished(kWaitMs));
        const QString err = QString::fromUtf8(probe.readAllStandardError());
        QVERIFY2(probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == exitCode,
                 qPrintable(QString("exit %1, stderr: %2").arg(probe.exitCode()).arg(err)));

        // One JSON object per line: a check each, then the summary.
        const QStringList lines =
            QString::fromUtf8(probe.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), verdicts.isEmpty() ? 0 : verdicts.size() + 1);
        const QStringList names{"reachable", "reply-size", "outputs", "analogue", "inputs"};
        QStringList expectedCases{board};
        QString failedDetail;
        for (qsizetype i = 0; i < verdicts.size(); ++i) {
            QJsonParseError error{};
            const QJsonObject line = QJsonDocument::fromJson(lines[i].toUtf8(), &error).object();
            QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(lines[i]));
            QCOMPARE(line["check"].toString(), names[i]);
            QVERIFY2(line["result"].toString() == verdicts[i], qPrintable(lines[i]));
            if (verdicts[i] == "FAIL" && failedDetail.isEmpty()) {
                failedDetail = line["detail"].toString();
            }
            expectedCases << names[i] + ' ' + verdicts[i];
        }
        if (!verdicts.isEmpty()) {
            const QJsonObject summary = QJsonDocument::fromJson(lines.last().toUtf8()).object();
            QCOMPARE(summary["summary"].toString(), exitCode == 0 ? "PASS" : "FAIL");
            QCOMPARE(summary["failed"].toInt(-1), int(verdicts.count("FAIL")));
            QCOMPARE(readJunit(junit), expectedCases);
        }
        if (signal != 0) {
            QVERIFY2(err.endsWith(fault), qPrintable(err));
        } else {
            QVERIFY2(QRegularExpression(fault).match(failedDetail).hasMatch(),
                     qPrintable(failedDetail));
            QCOMPARE(failedDetail.isEmpty(), fault.isEmpty());
        }

        if (portBAfter >= 0) {
            const Outcome status = runProbe(common + QStringList{"--json", "status"});
            QCOMPARE(status.exitCode, 0);
            const QJsonObject reply = QJsonDocument::fromJson(status.out.toUtf8()).object();
            QCOMPARE(reply["port_b"].toInt(-1), portBAfter);
        }
    }

    // One simulator, its faults switched through its control socket between checks: the check
    // fails on each fault and passes again after `clear`.
    void checkFollowsFaultsSwitchedWhileRunning_data() {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("fault");  // in the check's report
        QTest::newRow("stuck") << QByteArray("stuck RB3=1") << 5 << "outputs +FAIL +RB3 stuck at 1";
        QTest::newRow("converter")
            << QByteArray("adc RA5=300") << 5 << "analogue +FAIL .*RA5=146\\.5 ℃.*outside 0:60";
        QTest::newRow("short replies")
            << QByteArray("reply-size 7") << 5 << "reply-size +FAIL +7 bytes instead of 8";
        QTest::newRow("silent") << QByteArray("silent") << 1 << "reachable +FAIL +0/2 answered";
    }
    void checkFollowsFaultsSwitchedWhileRunning() {
        QFETCH(QByteArray, command);
        QFETCH(int, exitCode);
        QFETCH(QString, fault);
        QTemporaryDir dir;
        const QString path = dir.filePath("control");
        vardek::test::SimulatorRun simulator;
        QVERIFY(vardek::test::startSimulator(simulator, VARDEK_BOARD_SIM,
                                             {"--drift-ms", "0", "--control", path}));
        const QStringList check{"--port",    QString::number(simulator.port),
                                "--timeout", "200",
                                "check",     "--outputs",
                                "--count",   "2"};
        vardek::test::ControlClient control(path);
        QCOMPARE(control.command(command), "ok");
        const Outcome faulty = runProbe(check);
        QCOMPARE(faulty.exitCode, exitCode);
        QVERIFY2(QRegularExpression(fault).match(faulty.out).hasMatch(), qPrintable(faulty.out));

        QCOMPARE(control.command("clear"), "ok");
        const Outcome healthy = runProbe(check);
        QVERIFY2(healthy.exitCode == 0, qPrintable(healthy.out + healthy.err));
    }

  private:
    // RB7, RB4 and RB2 high, RB0 high and frozen with the rest: port B is known throughout.
    static constexpr int kPortB = 0x95;
};

QTEST_GUILESS_MAIN(TestProbe)
#include "test_probe.moc"
