// vardek-probe as a process: against the simulator on an ephemeral loopback port, against a
// socket that never answers, and with command lines it must refuse before sending anything.
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <csignal>
#include <functional>
#include <optional>

#include <fcntl.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <unistd.h>

#include "link/reply_text.h"
#include "link/udp_socket.h"
#include "tests/fake_link.h"
#include "tests/settings_file.h"
#include "tests/simulator_run.h"

namespace {

using vardek::test::Bytes;
using vardek::test::kWaitMs;
using vardek::test::LoopbackBoard;
using vardek::test::SettingsKind;

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
// under `configHome`, never the user's own; `unprivileged`, as a user whom a file of mode 000
// stops. `started` is the program run, the probe itself unless a wrapper starts it.
Outcome runProbe(const QStringList& args, const std::function<void()>& whileRunning = {},
                 const QString& configHome = QStringLiteral("/nonexistent"),
                 bool unprivileged = false, const QString& started = VARDEK_PROBE) {
    QProcess probe;
    std::optional<QTemporaryDir> reachable;
    QString program = started;
    if (unprivileged) {
        program = vardek::test::asUnprivileged(probe, program, reachable.emplace());
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    probe.setProcessEnvironment(environment);
    QElapsedTimer clock;
    clock.start();
    probe.start(program, args);
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

// A JUnit report as junitparser reads it (tests/read_junit.py): each suite with its counts and
// properties, each case with its result, failure message and properties. Null when
// junitparser is missing.
std::optional<QJsonObject> readJunit(const QString& path) {
    QProcess reader;
    reader.start(VARDEK_READ_JUNIT, {path});
    if (!reader.waitForFinished(kWaitMs) || reader.exitCode() == 77) {
        return std::nullopt;
    }
    return QJsonDocument::fromJson(reader.readAllStandardOutput()).object();
}

bool allToolsRequired() { return qgetenv("VARDEK_REQUIRE_ALL_TOOLS") == "1"; }

// `report`: the JUnit report at `path` as junitparser reads it. Without junitparser the row is
// skipped, or fails where VARDEK_REQUIRE_ALL_TOOLS=1 requires every tool.
#define READ_JUNIT_OR_SKIP(report, path)                                                  \
    const auto report = readJunit(path);                                                  \
    if (!report) {                                                                        \
        QVERIFY2(!allToolsRequired(),                                                     \
                 "python3-junitparser is not installed, and VARDEK_REQUIRE_ALL_TOOLS=1"); \
        QSKIP("python3-junitparser is not installed: the JUnit report is not read");      \
    }

// Whether xmllint finds the report at `path` valid against Jenkins xUnit's junit-10.xsd, the
// schema that plug-in checks every file against before reading it; null without xmllint.
std::optional<QString> schemaProblem(const QString& path) {
    QProcess xmllint;
    xmllint.start(QStringLiteral("xmllint"),
                  {"--noout", "--schema", QStringLiteral(VARDEK_JUNIT_XSD), path});
    if (!xmllint.waitForStarted(kWaitMs)) {
        return std::nullopt;
    }
    xmllint.waitForFinished(kWaitMs);
    return xmllint.exitCode() == 0 ? QString() : QString::fromUtf8(xmllint.readAllStandardError());
}

// The report at `path` valid against junit-10.xsd. Without xmllint the check is skipped, or
// fails where VARDEK_REQUIRE_ALL_TOOLS=1 requires every tool.
#define VERIFY_JUNIT_SCHEMA(path)                                                           \
    do {                                                                                    \
        const auto problem = schemaProblem(path);                                           \
        if (!problem) {                                                                     \
            QVERIFY2(!allToolsRequired(),                                                   \
                     "xmllint is not installed, and "                                       \
                     "VARDEK_REQUIRE_ALL_TOOLS=1");                                         \
            QSKIP("xmllint (libxml2-utils) is not installed: the report is not validated"); \
        }                                                                                   \
        QVERIFY2(problem->isEmpty(), qPrintable(*problem));                                 \
    } while (false)

// One board's JSON Lines from check --json: its checks, its measurements and its summary.
struct CheckLines {
    QList<QJsonObject> checks;
    QList<QJsonObject> measurements;  // each {"board", "dut_id", "check", "measurement": {...}}
    QList<QJsonObject> summaries;
    QList<QJsonObject> overall;   // a rack's last line
    QList<QJsonObject> cutShort;  // a board that a signal stopped before it was done
    QStringList unparsed;
};

CheckLines readCheckLines(const QString& out) {
    CheckLines lines;
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
        QJsonParseError error{};
        const QJsonObject object = QJsonDocument::fromJson(line.toUtf8(), &error).object();
        if (error.error != QJsonParseError::NoError) {
            lines.unparsed << line;
        } else if (object.contains("measurement")) {
            lines.measurements << object;
        } else if (object.contains("summary")) {
            lines.summaries << object;
        } else if (object.contains("overall")) {
            lines.overall << object;
        } else if (object.contains("cut_short")) {
            lines.cutShort << object;
        } else {
            lines.checks << object;
        }
    }
    return lines;
}

// What a measurement's outcome must be, from its value and its limits.
QString expectedOutcome(const QJsonObject& m) {
    if (m["value"].isNull()) {
        return m["outcome"].toString() == "FAIL" ? "FAIL" : "SKIP";
    }
    const double value = m["value"].toDouble();
    const auto outside = [&](const char* low, const char* high) {
        return (!m[low].isNull() && value < m[low].toDouble()) ||
               (!m[high].isNull() && value > m[high].toDouble());
    };
    return outside("low", "high")                     ? "FAIL"
           : outside("marginal_low", "marginal_high") ? "MARGINAL"
                                                      : "PASS";
}

// The lines about one board of a rack.
CheckLines linesOf(const CheckLines& all, const QString& board) {
    CheckLines lines;
    for (const auto& [from, to] : {std::pair{&all.checks, &lines.checks},
                                   {&all.measurements, &lines.measurements},
                                   {&all.summaries, &lines.summaries}}) {
        for (const QJsonObject& line : *from) {
            if (line["board"].toString() == board) {
                *to << line;
            }
        }
    }
    return lines;
}

// A board's JSON Lines and its suite in the JUnit report tell the same story: the same checks
// with the same verdicts (MARGINAL passes in JUnit, and says so first in its output), failures
// in the terminal's words, each measurement once in each with the same value, every
// measurement's outcome true to its limits, and the unit named in every case's classname.
void compareReports(const CheckLines& lines, const QJsonObject& suite, const QString& board,
                    const QString& dutId) {
    QCOMPARE(suite["name"].toString(), board);
    QCOMPARE(suite["properties"].toObject()["dut-id"].toString(), dutId);
    const QJsonArray cases = suite["cases"].toArray();
    QCOMPARE(cases.size(), lines.checks.size());
    QCOMPARE(suite["tests"].toInt(), int(lines.checks.size()));
    int failures = 0;
    for (qsizetype i = 0; i < cases.size(); ++i) {
        const QJsonObject testcase = cases[i].toObject();
        const QString verdict = lines.checks[i]["result"].toString();
        QCOMPARE(testcase["name"].toString(), lines.checks[i]["check"].toString());
        QCOMPARE(testcase["result"].toString(), verdict == "MARGINAL" ? "PASS" : verdict);
        QCOMPARE(
            testcase["classname"].toString(),
            "vardek-probe.check." + QString(dutId.isEmpty() ? board : dutId).replace('.', '_'));
        QCOMPARE(testcase["system_out"].toString().startsWith("MARGINAL: "), verdict == "MARGINAL");
        failures += verdict == "FAIL" ? 1 : 0;
        if (verdict == "FAIL") {
            QCOMPARE(testcase["message"].toString(), lines.checks[i]["detail"].toString());
        }
        QJsonObject expected;
        for (const QJsonObject& line : lines.measurements) {
            if (line["check"] == testcase["name"]) {
                const QJsonObject m = line["measurement"].toObject();
                expected[m["name"].toString()] =
                    m["value"].isNull() ? QString() : QString::number(m["value"].toDouble());
            }
        }
        QJsonObject got;
        const QJsonObject properties = suite["properties"].toObject();
        const QString prefix = testcase["name"].toString() + '.';
        for (auto p = properties.begin(); p != properties.end(); ++p) {
            if (!p.key().startsWith(prefix)) {
                continue;
            }
            const QString value = p.value().toString();
            got[p.key().mid(prefix.size())] =
                value.isEmpty() ? QString() : QString::number(value.toDouble());
        }
        QCOMPARE(got, expected);
    }
    QCOMPARE(suite["failures"].toInt(), failures);
    for (const QJsonObject& line : lines.measurements) {
        const QJsonObject m = line["measurement"].toObject();
        QVERIFY2(m["outcome"].toString() == expectedOutcome(m),
                 QJsonDocument(m).toJson(QJsonDocument::Compact).constData());
        QCOMPARE(line["board"].toString(), board);
    }
}

}  // namespace

Q_DECLARE_METATYPE(Target)
Q_DECLARE_METATYPE(SettingsKind)

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

        // Replies 1200 ms late, beyond a timeout of 1000: waited out and named as late, never
        // taken for the next try's or the next request's answer.
        const QStringList slow{"--delay-ms", "1200"};
        const char* late =
            R"(answered status \(00\) after 1[2-9]\d\d ms, beyond --timeout 1000, too late)";
        QTest::newRow("slower than the timeout")
            << sim << slow << QStringList{"--timeout", "1000", "--json", "status"} << 1
            << QVariantList{} << "^$" << late;
        QTest::newRow("watch, slower than the timeout")
            << sim << slow << QStringList{"--timeout",  "1000", "--json",  "watch",
                                          "--interval", "20",   "--count", "2"}
            << 1 << QVariantList{} << "^$" << QString("%1.*\n.*%1").arg(late);

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
        refused("no RA4 to log", one + QStringList{"watch", "--read", "RA0,RA4"},
                "--read expects RA0,RA1,RA2,RA3,RA5 \\(any of them\\) or all, not 'RA0,RA4'");
        refused("a duration without its unit", one + QStringList{"watch", "--duration", "90"},
                "--duration expects a whole number with ms, s, min or h");
        refused("CSV and JSON at once", one + QStringList{"--json", "watch", "--csv"},
                "watch takes --csv or --json, not both");
        // A serial names the unit's report and stands in every record, so one rule holds it.
        refused("a serial too long to name a report",
                one + QStringList{"check", "--dut-id", QString(300, 'S')},
                "--dut-id the serial is 300 bytes, more than the 64");
        refused("a serial with a noncharacter",
                one + QStringList{"check", "--dut-id", QString("SN") + QChar(0xFFFE)},
                "--dut-id the serial holds a noncharacter \\(U\\+FFFE\\)");
        refused("a serial with a space", one + QStringList{"check", "--dut-id", "SN 7"},
                "--dut-id the serial holds a space");
        // Two checks of one board would switch its outputs at once and report each other's
        // changes as faults.
        refused("one board twice",
                {"--board", "127.0.0.2", "--board", "127.0.0.3", "--board", "127.0.0.2", "check"},
                "--board: the board 127\\.0\\.0\\.2 is named twice");
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

    // Without --board, the board named in the settings file that the window reads too. A file
    // that cannot be used is refused with the reason, at once, whatever is in its place: never
    // waited on, never passed over for the built-in board, its value never shown whole.
    void boardFromTheSettingsFile_data() {
        QTest::addColumn<SettingsKind>("kind");
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("reached");  // where the request went; empty for nowhere
        QTest::addColumn<QString>("err");
        const auto text = SettingsKind::Text;
        const QString file = "^vardek-probe: [^\n]*/vardek-control/vardek-control\\.conf: ";
        QTest::newRow("file") << text << QByteArray("board=127.0.0.7\n") << QStringList{}
                              << "127.0.0.7"
                              << "no reply from 127\\.0\\.0\\.7:";
        QTest::newRow("option over file") << text << QByteArray("[General]\nboard=127.0.0.7\n")
                                          << QStringList{"--board", "127.0.0.1"} << "127.0.0.1"
                                          << "no reply from 127\\.0\\.0\\.1:";
        QTest::newRow("option over a bad file")
            << text << QByteArray("board=0.0.0.0\n") << QStringList{"--board", "127.0.0.7"}
            << "127.0.0.7"
            << "no reply from 127\\.0\\.0\\.7:";
        QTest::newRow("bad value") << text << QByteArray("board=224.0.0.1\n") << QStringList{} << ""
                                   << file +
                                          "board=224\\.0\\.0\\.1 cannot name the board: "
                                          "224\\.0\\.0\\.1 is a multicast address";
        // The window's language, which the probe leaves alone; a name of none is refused by all.
        QTest::newRow("a language beside the board")
            << text << QByteArray("board=127.0.0.7\nlanguage=en\n") << QStringList{} << "127.0.0.7"
            << "no reply from 127\\.0\\.0\\.7:";
        QTest::newRow("no language")
            << text << QByteArray("language=english\n") << QStringList{} << ""
            << file +
                   "language=english cannot name a language: 'english' "
                   "names no language";
        QTest::newRow("a list is no address")
            << text << QByteArray("board=127.0.0.7, 127.0.0.8\n") << QStringList{} << ""
            << "board=127\\.0\\.0\\.7,127\\.0\\.0\\.8 cannot name the board";
        QTest::newRow("a FIFO") << SettingsKind::Fifo << QByteArray() << QStringList{} << ""
                                << file + "is a named pipe \\(FIFO\\), not a regular file\n";
        QTest::newRow("a directory") << SettingsKind::Directory << QByteArray() << QStringList{}
                                     << "" << file + "is a directory, not a regular file\n";
        QTest::newRow("mode 000") << SettingsKind::Unreadable << QByteArray("board=127.0.0.7\n")
                                  << QStringList{} << ""
                                  << file + "cannot be read: Permission denied\n";
        QTest::newRow("10 MB") << text << "board=" + QByteArray(10 << 20, '7') << QStringList{}
                               << ""
                               << file +
                                      "is 10485766 bytes, more than the 65536 a settings "
                                      "file may hold\n";
        QTest::newRow("a long value, shown short")
            << text << "board=" + QByteArray(60000, '7') << QStringList{} << ""
            << file + "board='7{40}'\\.\\.\\. \\(60000 bytes\\) cannot name the board";
        // Each tab is shown as the four characters \x09, and counts as four.
        QTest::newRow("a long value of tabs, shown short")
            << text << "board=0." + QByteArray(60, '\t') + "0.0.7" << QStringList{} << ""
            << file + "board='0\\.(\\\\x09){9}'\\.\\.\\. \\(67 bytes\\) cannot name the board";
        QTest::newRow("a NUL") << text << QByteArray("board=127.0.0.9\0junk\n", 21) << QStringList{}
                               << "" << file + "holds a NUL byte on line 1\n";
        QTest::newRow("binary junk before a good line")
            << text << QByteArray("\x89PNG\r\n\x1a\nboard=127.0.0.7\n") << QStringList{} << ""
            << file + "is not UTF-8 text \\(line 1\\)\n";
        QTest::newRow("a line of text junk")
            << text << QByteArray("the board is 127.0.0.9\nboard=127.0.0.7\n") << QStringList{}
            << ""
            << file +
                   "line 1 is neither key=value nor \\[section\\]: 'the board is "
                   "127\\.0\\.0\\.9'\n";
        QTest::newRow("the board twice")
            << text << QByteArray("board=127.0.0.7\nboard=127.0.0.9\n") << QStringList{} << ""
            << file + "line 2 sets 'board' again, as line 1 did: each key is given once\n";
        QTest::newRow("unknown key")
            << text << QByteArray("Board=127.0.0.7\n") << QStringList{} << ""
            << file +
                   "unknown key 'Board' \\(the file may set board, language, results, boards, "
                   "limits, station, report_dir\\)\n";
        QTest::newRow("a section")
            << text << QByteArray("[vardek]\nboard=127.0.0.7\n") << QStringList{} << ""
            << file +
                   "unknown section '\\[vardek\\]' \\(the file's keys, board, language, results, "
                   "boards, limits, station, report_dir, stand before any section\\)\n";
    }
    void boardFromTheSettingsFile() {
        QFETCH(SettingsKind, kind);
        QFETCH(QByteArray, settings);
        QFETCH(QStringList, args);
        QFETCH(QString, reached);
        QFETCH(QString, err);
        QTemporaryDir home;
        QVERIFY(vardek::test::putSettings(home.path(), kind, settings));
        // Two silent boards on one port: the one the request reaches tells where it went.
        vardek::link::UdpSocket seventh;
        seventh.bind({vardek::link::kLoopbackAddress + 6, 0});
        const std::uint16_t port = seventh.localAddress().port;
        vardek::link::UdpSocket first;
        first.bind({vardek::link::kLoopbackAddress, port});

        const Outcome outcome =
            runProbe(args + QStringList{"--port", QString::number(port), "--timeout", "100",
                                        "--retries", "0", "status"},
                     {}, home.path(), kind == SettingsKind::Unreadable);
        QCOMPARE(outcome.exitCode, reached.isEmpty() ? 2 : 1);
        QVERIFY2(QRegularExpression(err).match(outcome.err).hasMatch(), qPrintable(outcome.err));
        // One line that says what is wrong: neither the value whole nor the usage, since the
        // command line is not at fault.
        if (reached.isEmpty()) {
            QVERIFY2(outcome.err.count('\n') == 1 && outcome.err.size() < 400,
                     qPrintable(outcome.err.left(1000)));
        }
        std::array<std::uint8_t, 8> buffer{};
        QCOMPARE(bool(seventh.receive(buffer)), reached == "127.0.0.7");
        QCOMPARE(bool(first.receive(buffer)), reached == "127.0.0.1");
    }

    // check against a healthy and a faulty simulator: the verdicts, the fault named in the
    // failed check's detail, the measurements judged against their limits, the JSON Lines and
    // the JUnit report as their consumers read them, and port B as found afterwards.
    void check_data() {
        QTest::addColumn<Target>("target");
        QTest::addColumn<QStringList>("simulatorArgs");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("limits");  // the --limits file's text; none when empty
        QTest::addColumn<int>("signal");      // sent once the simulator has set an output; 0 none
        QTest::addColumn<int>("exitCode");
        // reachable, reply-size, outputs, analogue, inputs; none when the probe is stopped.
        QTest::addColumn<QStringList>("verdicts");
        // In the detail of the first check that failed or was marginal; for a stopped or
        // refused probe, in its message.
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("outcomes");  // "RA5 MARGINAL": a measurement's outcome
        QTest::addColumn<int>("portBAfter");        // read back with status; -1 not checked

        const auto sim = Target::Simulator;
        const QStringList all{"--outputs"};
        const QStringList healthy{"PASS", "PASS", "PASS", "PASS", "PASS"};
        const QStringList outputsFail{"PASS", "PASS", "FAIL", "PASS", "PASS"};
        const QStringList analogueFail{"PASS", "PASS", "SKIP", "FAIL", "PASS"};
        const QStringList analogueMarginal{"PASS", "PASS", "SKIP", "MARGINAL", "PASS"};
        const QStringList noOutputs{"PASS", "PASS", "SKIP", "PASS", "PASS"};
        QTest::newRow("healthy") << sim << QStringList{} << QStringList{} << "" << 0 << 0
                                 << noOutputs << "" << QStringList{"RA5 PASS"} << kPortB;
        QTest::newRow("healthy, outputs")
            << sim << QStringList{} << all << "" << 0 << 0 << healthy << ""
            << QStringList{"RB2_set PASS", "RB7_clear PASS"} << kPortB;
        QTest::newRow("stuck at 1")
            << sim << QStringList{"--stuck", "RB3=1"} << all << "" << 0 << 5 << outputsFail
            << "RB3 stuck at 1" << QStringList{"RB3_set PASS", "RB3_clear FAIL"} << (kPortB | 0x08);
        QTest::newRow("stuck at 0, two pins")
            << sim << QStringList{"--stuck", "RB7=0", "--stuck", "RB5=0"} << all << "" << 0 << 5
            << outputsFail << "^RB5 stuck at 0; RB7 stuck at 0$" << QStringList{"RB5_set FAIL"}
            << (kPortB & ~0x80);
        QTest::newRow("converter out of range")
            << sim << QStringList{"--adc", "RA2=4096"} << QStringList{} << "" << 0 << 5
            << analogueFail << "RA2 4096 above 1023" << QStringList{"RA2 FAIL"} << -1;
        QTest::newRow("shorted channel, lower limit")
            << sim << QStringList{"--adc", "RA1=1023"} << QStringList{"--adc-max", "1000"} << ""
            << 0 << 5 << analogueFail << "RA1 1023 above 1000" << QStringList{"RA1 FAIL"} << -1;
        QTest::newRow("too hot") << sim << QStringList{"--adc", "RA5=300"} << QStringList{} << ""
                                 << 0 << 5 << analogueFail << "RA5=146\\.5 ℃.*outside 0:60"
                                 << QStringList{"RA5 FAIL"} << -1;
        QTest::newRow("within a given range")
            << sim << QStringList{"--adc", "RA5=300"} << QStringList{"--temp-range", "-10:146.5"}
            << "" << 0 << 0 << noOutputs << "" << QStringList{"RA5 PASS"} << -1;
        // RA5 against the limits 15.1:35.2 and the marginal bounds 20:31.3, which its readings
        // 14.6 (raw 30), 15.1 (31), 20.0 (41), 31.7 (65), 35.2 (72) and 35.6 (73) fall outside,
        // on and inside of.
        const QString ra5 = "[RA5]\nrange=15.1:35.2\nmarginal=20:31.3\n";
        const auto reading = [&](const char* name, int raw, int exitCode,
                                 const QStringList& verdicts, const char* fault,
                                 const char* outcome) {
            QTest::newRow(name) << sim << QStringList{"--adc", QString("RA5=%1").arg(raw)}
                                << QStringList{} << ra5 << 0 << exitCode << verdicts << fault
                                << QStringList{outcome} << -1;
        };
        reading("below the low limit", 30, 5, analogueFail, "RA5 14\\.6 ℃ outside 15\\.1:35\\.2$",
                "RA5 FAIL");
        reading("on the low limit", 31, 0, analogueMarginal,
                "RA5 15\\.1 ℃ marginal, outside 20:31\\.3$", "RA5 MARGINAL");
        reading("on the marginal low bound", 41, 0, noOutputs, "", "RA5 PASS");
        reading("above the marginal high bound", 65, 0, analogueMarginal,
                "RA5 31\\.7 ℃ marginal, outside 20:31\\.3$", "RA5 MARGINAL");
        reading("on the high limit", 72, 0, analogueMarginal, "RA5 35\\.2 ℃ marginal",
                "RA5 MARGINAL");
        reading("above the high limit", 73, 5, analogueFail, "RA5 35\\.6 ℃ outside 15\\.1:35\\.2$",
                "RA5 FAIL");
        // The shorthand holds over the file's range, and its marginal bounds stay; an input with
        // limits is judged by them.
        QTest::newRow("limits of an input, a raw channel, the shorthand")
            << sim << QStringList{"--adc", "RA5=72", "--adc", "RA1=279"}
            << QStringList{"--temp-range", "0:60"} << ra5 + "[RB0]\nrange=0:0\n[RA1]\nrange=300:\n"
            << 0 << 5 << QStringList{"PASS", "PASS", "SKIP", "FAIL", "FAIL"}
            << "RA1 279 below 300; RA5 35\\.2 ℃ marginal, outside 20:31\\.3$"
            << QStringList{"RA5 MARGINAL", "RB0 FAIL", "RB1 PASS"} << -1;
        QTest::newRow("7-byte replies")
            << sim << QStringList{"--reply-size", "7"} << all << "" << 0 << 5
            << QStringList{"PASS", "FAIL", "SKIP", "SKIP", "SKIP"}
            << "^7 bytes instead of 8: 5 of 5 datagrams$" << QStringList{} << -1;
        // Replies 1200 ms after their requests, beyond a timeout of 1000: each is waited out as
        // late and none is taken for the next request's answer, so no output is switched on a
        // port B that answers another request.
        QTest::newRow("slower than the timeout")
            << sim << QStringList{"--delay-ms", "1200"}
            << QStringList{"--outputs", "--timeout", "1000", "--count", "2"} << "" << 0 << 5
            << QStringList{"FAIL", "PASS", "SKIP", "SKIP", "SKIP"}
            << "^0/2 answered, 2 replies after 1[2-9]\\d\\d ms, beyond --timeout 1000$"
            << QStringList{"rtt_max SKIP"} << kPortB;
        QTest::newRow("no board")
            << Target::Silent << QStringList{} << QStringList{"--timeout", "100", "--count", "2"}
            << "" << 0 << 1 << QStringList{"FAIL", "SKIP", "SKIP", "SKIP", "SKIP"}
            << "^never answered: no reply to a status request after 3 tries of 100 ms$"
            << QStringList{"rtt_max SKIP", "requests_sent PASS"} << -1;
        // Refused before anything is sent, an earlier report kept.
        const auto refused = [&](const char* name, const QString& limits, const char* message) {
            QTest::newRow(name) << sim << QStringList{} << all << limits << 0 << 2 << QStringList{}
                                << message << QStringList{} << kPortB;
        };
        refused("limits: bad range", "[RA5]\nrange=15:x\n",
                "LIMITS: \\[RA5\\] range=15:x: expects LO:HI");
        refused("limits: no such measurement", "[RA4]\nrange=1:2\n",
                "LIMITS: \\[RA4\\] names no measurement \\(RA0, ");
        refused("limits: unknown key", "[RA5]\nlimit=1:2\n",
                "LIMITS: \\[RA5\\] limit=1:2: unknown key");
        // Every line read, or the file refused: a dropped line would leave RA5's built-in 0:60
        // in place of the range the file gave.
        refused("limits: a line without '='", "[RA5]\nrange 40:60\n",
                "LIMITS line 2 is neither key=value nor \\[section\\]: 'range 40:60'");
        refused("limits: a colon for '='", "[RA5]\nrange: 40:60\n",
                "LIMITS line 2 is neither key=value nor \\[section\\]");
        refused("limits: junk bytes", "[RA5]\n<FF><FE>junk\nrange=40:60\n",
                "LIMITS is not UTF-8 text");
        refused("limits: a group twice",
                "[RA5]\nrange=40:60\n[RB0]\nrange=0:1\n[RA5]\nrange=0:60\n",
                "LIMITS line 5 repeats '\\[RA5\\]' of line 1");
        refused("limits: a key twice", "[RA5]\nrange=40:60\nrange=0:60\n",
                "LIMITS line 3 sets '\\[RA5\\] range' again, as line 2 did");
        refused("limits: margin beyond the range", "[RA5]\nrange=15:35\nmarginal=10:30\n",
                "LIMITS: \\[RA5\\] marginal=10:30 is not within range=15:35\n$");
        // Each reply takes 100 ms, so the signal comes while the outputs are being switched.
        const QStringList slow{"--delay-ms", "100"};
        QTest::newRow("Ctrl-C") << sim << slow << all << "" << SIGINT << 130 << QStringList{}
                                << "stopped by SIGINT; restored RB7..RB2=100101\n"
                                << QStringList{} << kPortB;
        QTest::newRow("SIGTERM") << sim << slow << all << "" << SIGTERM << 143 << QStringList{}
                                 << "stopped by SIGTERM; restored RB7..RB2=100101\n"
                                 << QStringList{} << kPortB;
        // A closed terminal or a dropped SSH session: before, their default action ended the
        // probe with the outputs left switched.
        QTest::newRow("SIGHUP") << sim << slow << all << "" << SIGHUP << 129 << QStringList{}
                                << "stopped by SIGHUP; restored RB7..RB2=100101\n"
                                << QStringList{} << kPortB;
        QTest::newRow("SIGQUIT") << sim << slow << all << "" << SIGQUIT << 131 << QStringList{}
                                 << "stopped by SIGQUIT; restored RB7..RB2=100101\n"
                                 << QStringList{} << kPortB;
    }
    void check() {
        QFETCH(Target, target);
        QFETCH(QStringList, simulatorArgs);
        QFETCH(QStringList, args);
        QFETCH(QString, limits);
        QFETCH(int, signal);
        QFETCH(int, exitCode);
        QFETCH(QStringList, verdicts);
        QFETCH(QString, fault);
        QFETCH(QStringList, outcomes);
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
        // An earlier report, which only a finished check replaces.
        const QString junit = dir.filePath("report.xml");
        const QByteArray earlier = "<testsuites/>\n";
        QFile earlierFile(junit);
        QVERIFY(earlierFile.open(QIODevice::WriteOnly) && earlierFile.write(earlier) > 0);
        earlierFile.close();
        if (!limits.isEmpty()) {
            QFile file(dir.filePath("limits.ini"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            // <FF> stands for a byte that no UTF-8 text holds.
            file.write(limits.toUtf8().replace("<FF>", "\xff").replace("<FE>", "\xfe"));
            args += QStringList{"--limits", file.fileName()};
            fault.replace("LIMITS", QRegularExpression::escape(file.fileName()));
        }

        QProcess probe;
        probe.start(
            VARDEK_PROBE,
            common + QStringList{"--json", "check", "--junit", junit, "--dut-id", "SN-7"} + args);
        if (signal != 0) {
            QVERIFY(vardek::test::waitForLog(simulator, QRegularExpression("\\| set RB3"), kWaitMs)
                        .hasMatch());
            ::kill(pid_t(probe.processId()), signal);
        }
        QVERIFY(probe.waitForFinished(kWaitMs));
        const QString err = QString::fromUtf8(probe.readAllStandardError());
        QVERIFY2(probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == exitCode,
                 qPrintable(QString("exit %1, stderr: %2").arg(probe.exitCode()).arg(err)));

        const CheckLines lines = readCheckLines(QString::fromUtf8(probe.readAllStandardOutput()));
        QCOMPARE(lines.unparsed, QStringList{});
        QCOMPARE(lines.checks.size(), verdicts.size());
        QCOMPARE(lines.cutShort.size(), signal != 0 ? 1 : 0);
        const QStringList names{"reachable", "reply-size", "outputs", "analogue", "inputs"};
        QString flaggedDetail;
        for (qsizetype i = 0; i < verdicts.size(); ++i) {
            const QJsonObject& line = lines.checks[i];
            QCOMPARE(line["check"].toString(), names[i]);
            QVERIFY2(line["result"].toString() == verdicts[i],
                     QJsonDocument(line).toJson(QJsonDocument::Compact).constData());
            if ((verdicts[i] == "FAIL" || verdicts[i] == "MARGINAL") && flaggedDetail.isEmpty()) {
                flaggedDetail = line["detail"].toString();
            }
        }
        QStringList measured;
        for (const QJsonObject& line : lines.measurements) {
            const QJsonObject m = line["measurement"].toObject();
            measured << m["name"].toString() + ' ' + m["outcome"].toString();
        }
        for (const QString& outcome : outcomes) {
            QVERIFY2(measured.contains(outcome), qPrintable(measured.join(", ")));
        }
        if (verdicts.isEmpty()) {
            QVERIFY2(QRegularExpression(fault).match(err).hasMatch(), qPrintable(err));
            QCOMPARE(lines.summaries.size(), 0);
            // Nothing was sent after a refusal, and an earlier report is as it was, alone.
            if (signal == 0) {
                QCOMPARE(simulator.countLines(" in "), 0);
            }
            QFile kept(junit);
            QVERIFY(kept.open(QIODevice::ReadOnly));
            QCOMPARE(kept.readAll(), earlier);
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(),
                     limits.isEmpty() ? 1 : 2);
        } else {
            QVERIFY2(QRegularExpression(fault).match(flaggedDetail).hasMatch(),
                     qPrintable(flaggedDetail));
            QCOMPARE(flaggedDetail.isEmpty(), fault.isEmpty());
            QCOMPARE(lines.summaries.size(), 1);
            const QJsonObject summary = lines.summaries.front();
            const QString outcome = exitCode != 0                   ? "FAIL"
                                    : verdicts.contains("MARGINAL") ? "MARGINAL"
                                                                    : "PASS";
            QCOMPARE(summary["outcome"].toString(), outcome);
            QCOMPARE(summary["dut_id"].toString(), "SN-7");
            QCOMPARE(summary["failed"].toInt(-1), int(verdicts.count("FAIL")));
            QCOMPARE(summary["marginal"].toInt(-1), int(verdicts.count("MARGINAL")));
            QVERIFY(summary["end_time_millis"].toDouble() >=
                    summary["start_time_millis"].toDouble());
            QCOMPARE(summary["measurements"].toArray().size(), lines.measurements.size());
            // The record says why: each check's outcome and reason, as the terminal said them.
            const QJsonArray checks = summary["checks"].toArray();
            QCOMPARE(checks.size(), verdicts.size());
            for (qsizetype i = 0; i < checks.size(); ++i) {
                QCOMPARE(checks[i]["outcome"].toString(), verdicts[i]);
                QCOMPARE(checks[i]["reason"].toString(), lines.checks[i]["detail"].toString());
            }
            QCOMPARE(summary["reason"].isNull(), fault.isEmpty());
        }

        if (portBAfter >= 0) {
            const Outcome status = runProbe(common + QStringList{"--json", "status"});
            QCOMPARE(status.exitCode, 0);
            const QJsonObject reply = QJsonDocument::fromJson(status.out.toUtf8()).object();
            QCOMPARE(reply["port_b"].toInt(-1), portBAfter);
        }

        if (!verdicts.isEmpty()) {
            VERIFY_JUNIT_SCHEMA(junit);
            READ_JUNIT_OR_SKIP(report, junit);
            const QJsonArray suites = (*report)["suites"].toArray();
            QCOMPARE(suites.size(), 1);
            compareReports(lines, suites[0].toObject(), board, "SN-7");
        }
    }

    // --report-dir keeps one record per unit and run: two runs in the same second leave two
    // pairs of reports, each whole, each naming the unit, the station and the operator, their
    // names sorting in the order the runs started.
    void reportsPerUnit() {
        vardek::test::SimulatorRun simulator;
        QVERIFY(vardek::test::startSimulator(simulator, VARDEK_BOARD_SIM, {"--drift-ms", "0"}));
        QTemporaryDir dir;
        const QStringList args{
            "--board", "127.0.0.1",    "--port",   QString::number(simulator.port),
            "check",   "--report-dir", dir.path(), "--dut-id",
            "SN-7",    "--station",    "EOL-1",    "--operator",
            "kim"};
        for (int run = 0; run < 2; ++run) {
            const Outcome outcome = runProbe(args);
            QVERIFY2(outcome.exitCode == 0, qPrintable(outcome.err));
        }
        const QStringList files = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(files.size(), 4);
        const QRegularExpression name(R"(^SN-7\.\d{8}T\d{6}\.\d{3}Z(_2)?\.(json|xml)$)");
        double lastStart = 0;
        for (const QString& file : files) {
            QVERIFY2(name.match(file).hasMatch(), qPrintable(file));
            const QString path = dir.filePath(file);
            if (file.endsWith(".json")) {
                QFile json(path);
                QVERIFY(json.open(QIODevice::ReadOnly));
                QJsonParseError error{};
                const QJsonObject record = QJsonDocument::fromJson(json.readAll(), &error).object();
                QCOMPARE(error.error, QJsonParseError::NoError);
                QCOMPARE(record["dut_id"].toString(), "SN-7");
                QCOMPARE(record["station"].toString(), "EOL-1");
                QCOMPARE(record["operator"].toString(), "kim");
                QCOMPARE(record["outcome"].toString(), "PASS");
                QVERIFY(!record["measurements"].toArray().isEmpty());
                QVERIFY(record["start_time_millis"].toDouble() >= lastStart);
                lastStart = record["start_time_millis"].toDouble();
                continue;
            }
            VERIFY_JUNIT_SCHEMA(path);
            READ_JUNIT_OR_SKIP(report, path);
            const QJsonObject properties = (*report)["suites"][0]["properties"].toObject();
            QCOMPARE(properties["dut-id"].toString(), "SN-7");
            QCOMPARE(properties["station"].toString(), "EOL-1");
            QCOMPARE(properties["operator"].toString(), "kim");
        }
    }

    // A --boards file read whole or refused, before anything is sent: what would reach the
    // terminal raw, break a report, or check one board as two.
    void boardsFileRefused_data() {
        QTest::addColumn<QByteArray>("boards");
        QTest::addColumn<QString>("err");
        QTest::newRow("one board twice")
            << QByteArray("127.0.0.2 SN-2\n127.0.0.3\n127.0.0.2 SN-9\n")
            << "the board 127\\.0\\.0\\.2 \\(SN-9\\) is named twice";
        QTest::newRow("one serial twice")
            << QByteArray("127.0.0.2 SN-2\n127.0.0.3 SN-2\n") << "the serial SN-2 is given twice";
        QTest::newRow("a control character")
            << QByteArray("127.0.0.2 SN\x1b[2J\n") << ":1: holds the control character";
        QTest::newRow("a serial of byte 0xFF")
            << QByteArray("127.0.0.2 SN\xff\n") << "BOARDS is not UTF-8 text";
        QTest::newRow("a serial with U+FFFE")
            << QByteArray("127.0.0.2 SN\xef\xbf\xbe\n")
            << ":1: the serial 'SN.*' holds a noncharacter \\(U\\+FFFE\\)";
        QTest::newRow("a 300-byte serial") << "127.0.0.2 " + QByteArray(300, 'S') + "\n"
                                           << "is 300 bytes, more than the 64";
    }
    void boardsFileRefused() {
        QFETCH(QByteArray, boards);
        QFETCH(QString, err);
        QTemporaryDir dir;
        QFile file(dir.filePath("boards"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(boards) == boards.size());
        file.close();
        err.replace("BOARDS", QRegularExpression::escape(file.fileName()));
        LoopbackBoard board("127.0.0.2");
        const Outcome outcome =
            runProbe({"--port", QString::number(board.port()), "--timeout", "100", "check",
                      "--boards", file.fileName(), "--report-dir", dir.path()});
        QVERIFY2(outcome.exitCode == 2, qPrintable(outcome.err));
        QVERIFY2(QRegularExpression(err).match(outcome.err).hasMatch(), qPrintable(outcome.err));
        QVERIFY(!board.receive(0));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"boards"});
    }

    // A report that cannot be written whole fails the check by its own status, naming the
    // report: on a full disk (a small tmpfs of the probe's own mount namespace) the check once
    // passed with nothing written.
    void fullDisk() {
        QProcess probeUnshare;
        probeUnshare.start(QStringLiteral("unshare"), {"--map-root-user", "--mount", "true"});
        if (!probeUnshare.waitForFinished(kWaitMs) || probeUnshare.exitCode() != 0) {
            QSKIP("no mount namespace of the test's own (unshare --map-root-user --mount)");
        }
        vardek::test::SimulatorRun simulator;
        QVERIFY(vardek::test::startSimulator(simulator, VARDEK_BOARD_SIM, {"--drift-ms", "0"}));
        QTemporaryDir dir;
        // The tmpfs filled to its last byte before the probe starts.
        const QString script = QStringLiteral(
            "mount -t tmpfs -o size=64k tmpfs \"$1\" && "
            "(head -c 1M /dev/zero > \"$1/fill\" 2>/dev/null; true) && shift && exec \"$@\"");
        const Outcome outcome = runProbe(
            {"--map-root-user", "--mount", "sh", "-c", script, "sh", dir.path(), VARDEK_PROBE,
             "--board", "127.0.0.1", "--port", QString::number(simulator.port), "check", "--dut-id",
             "SN-7", "--report-dir", dir.path(), "--junit", dir.filePath("rack.xml")},
            {}, QStringLiteral("/nonexistent"), false, QStringLiteral("unshare"));
        QVERIFY2(outcome.exitCode == 6, qPrintable(outcome.err));
        QVERIFY2(QRegularExpression("cannot write the report [^\n]*/SN-7\\.[^\n]*\\.json: No "
                                    "space left on device")
                     .match(outcome.err)
                     .hasMatch(),
                 qPrintable(outcome.err));
        QVERIFY2(outcome.err.contains("rack.xml: No space left on device"),
                 qPrintable(outcome.err));
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
        QTest::newRow("silent") << QByteArray("silent") << 1 << "reachable +FAIL +never answered";
        // Every third request lost: the retries hide it from the verdicts, so they are counted
        // and judged, and the board is marginal, not a silent pass.
        QTest::newRow("lossy") << QByteArray("drop-every 3") << 0
                               << "reachable +MARGINAL .*retries [1-9]\\d* marginal, above 0\n";
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

    // A rack of five boards checked at once, on 127.0.0.2 to 127.0.0.6: one with RB3 stuck at 1,
    // one not there. Each board's verdict in the JSON Lines and in its JUnit suite; a signal
    // puts every board's outputs back.
    void rack_data() {
        QTest::addColumn<int>("signal");  // sent once every board has set an output; 0 none
        QTest::addColumn<int>("exitCode");
        // Only the last board is slow, and the signal comes once the others are done: their
        // reports stay, the last one's record says it was cut short.
        QTest::addColumn<bool>("lastOnlySlow");
        QTest::newRow("verdicts") << 0 << 5 << false;
        QTest::newRow("Ctrl-C") << SIGINT << 130 << false;
        QTest::newRow("SIGTERM after four of five boards") << SIGTERM << 143 << true;
    }
    void rack() {
        QFETCH(int, signal);
        QFETCH(int, exitCode);
        QFETCH(bool, lastOnlySlow);
        // The first simulator's ephemeral port, taken by the others on their own addresses.
        std::array<vardek::test::SimulatorRun, 4> simulators;
        const std::array<int, 4> hosts{2, 3, 4, 6};
        quint16 port = 0;
        for (std::size_t i = 0; i < simulators.size(); ++i) {
            QStringList args{"--bind",       QString("127.0.0.%1").arg(hosts[i]),
                             "--drift-ms",   "0",
                             "--initial-pb", QString::number(kPortB)};
            if (hosts[i] == 3) {
                args << "--stuck"
                     << "RB3=1";
            }
            if (signal != 0 && (!lastOnlySlow || hosts[i] == 6)) {
                args << "--delay-ms"
                     << "100";
            }
            QVERIFY2(
                vardek::test::startSimulator(simulators[i], VARDEK_BOARD_SIM, args, kWaitMs, port),
                qPrintable(simulators[i].log));
            port = simulators[i].port;
        }
        QTemporaryDir dir;
        QFile boards(dir.filePath("boards"));
        QVERIFY(boards.open(QIODevice::WriteOnly));
        boards.write(
            "# the rack, slot by slot\n127.0.0.2 SN-2\n127.0.0.3 SN-3  # RB3 stuck\n"
            "127.0.0.4\n127.0.0.5 SN-5\n127.0.0.6 SN-6\n");
        boards.close();
        const QString junit = dir.filePath("rack.xml");
        QProcess probe;
        // Above the slow boards' 100 ms, for the signal to come while they switch their outputs;
        // without a signal, far above a loopback round trip on a loaded machine, since with no
        // retry a single slow reply would turn a healthy board into a failed one.
        const QString timeout = signal != 0 ? "1000" : "500";
        const QString reports = dir.filePath("reports");
        QVERIFY(QDir().mkpath(reports));
        probe.start(VARDEK_PROBE, {"--port", QString::number(port), "--timeout", timeout,
                                   "--retries", "0", "--json", "check", "--outputs", "--boards",
                                   boards.fileName(), "--junit", junit, "--report-dir", reports});
        const QString at = QString(":%1").arg(port);
        QByteArray out;
        if (lastOnlySlow) {
            // A board's lines come once it is done, in the rack's order: the fifth board's
            // switching is under way when the fourth's have come.
            QTRY_VERIFY_WITH_TIMEOUT(
                (out += probe.readAllStandardOutput()).contains("\"127.0.0.5" + at.toUtf8()),
                kWaitMs);
            QVERIFY(vardek::test::waitForLog(simulators[3], QRegularExpression("\\| set RB3"))
                        .hasMatch());
            ::kill(pid_t(probe.processId()), signal);
        } else if (signal != 0) {
            for (auto& simulator : simulators) {
                QVERIFY(vardek::test::waitForLog(simulator, QRegularExpression("\\| set RB3"))
                            .hasMatch());
            }
            ::kill(pid_t(probe.processId()), signal);
        }
        QVERIFY(probe.waitForFinished(kWaitMs));
        const QString err = QString::fromUtf8(probe.readAllStandardError());
        QVERIFY2(probe.exitCode() == exitCode,
                 qPrintable(QString("exit %1, stderr: %2").arg(probe.exitCode()).arg(err)));
        const CheckLines lines =
            readCheckLines(QString::fromUtf8(out + probe.readAllStandardOutput()));
        QCOMPARE(lines.unparsed, QStringList{});

        if (lastOnlySlow) {
            // Each finished board's two reports, whole; none for the board cut short, which
            // the summary names.
            const QStringList kept = QDir(reports).entryList(QDir::Files, QDir::Name);
            QCOMPARE(kept.size(), 8);
            QCOMPARE(kept.filter(QRegularExpression("^SN-6\\.")), QStringList{});
            for (const QString& name : kept.filter(QRegularExpression("\\.json$"))) {
                QFile report(QDir(reports).filePath(name));
                QVERIFY(report.open(QIODevice::ReadOnly));
                QVERIFY2(QJsonDocument::fromJson(report.readAll()).isObject(), qPrintable(name));
            }
            QCOMPARE(lines.summaries.size(), 4);
            QCOMPARE(lines.cutShort.size(), 1);
            QCOMPARE(lines.cutShort[0]["board"].toString(), "127.0.0.6" + at);
            QCOMPARE(lines.cutShort[0]["cut_short"].toString(), "cut short by SIGTERM");
            return;
        }
        if (signal != 0) {
            // No verdict, and each board that was switching is as it was found.
            QCOMPARE(lines.summaries.size(), 0);
            for (const int host : hosts) {
                const QString board = QString("127.0.0.%1").arg(host);
                QVERIFY2(err.contains(board + at + ": stopped by SIGINT; restored RB7..RB2=" +
                                      (host == 3 ? "100111" : "100101")),
                         qPrintable(err));
                const Outcome status = runProbe(
                    {"--board", board, "--port", QString::number(port), "--json", "status"});
                const QJsonObject reply = QJsonDocument::fromJson(status.out.toUtf8()).object();
                QCOMPARE(reply["port_b"].toInt(-1), host == 3 ? kPortB | 0x08 : kPortB);
            }
            return;
        }
        const QStringList outcomes{"PASS", "FAIL", "PASS", "FAIL", "PASS"};
        const QStringList dutIds{"SN-2", "SN-3", "", "SN-5", "SN-6"};
        QCOMPARE(lines.summaries.size(), 5);
        QCOMPARE(lines.overall.size(), 1);
        QCOMPARE(lines.overall[0]["failed"].toInt(), 2);
        QCOMPARE(lines.overall[0]["never_answered"].toInt(), 1);
        READ_JUNIT_OR_SKIP(report, junit);
        const QJsonArray suites = (*report)["suites"].toArray();
        QCOMPARE(suites.size(), 5);
        for (int slot = 0; slot < 5; ++slot) {
            const QString board = QString("127.0.0.%1").arg(slot + 2) + at;
            const QJsonObject summary = lines.summaries[slot];
            QCOMPARE(summary["board"].toString(), board);
            QCOMPARE(summary["outcome"].toString(), outcomes[slot]);
            QCOMPARE(summary["dut_id"].toString(), dutIds[slot]);
            const CheckLines own = linesOf(lines, board);
            QCOMPARE(own.checks.size(), 5);
            QCOMPARE(own.checks[2]["result"].toString(), slot == 1   ? "FAIL"
                                                         : slot == 3 ? "SKIP"
                                                                     : "PASS");
            QCOMPARE(own.checks[0]["result"].toString(), slot == 3 ? "FAIL" : "PASS");
            compareReports(own, suites[slot].toObject(), board, dutIds[slot]);
        }
    }

    // --ask on a pseudo-terminal: the operator's y and n per output, and silence, each a
    // measurement; without a terminal the probe refuses before sending anything.
    void askTheOperator_data() {
        // RB2..RB7, each set then cleared: y, n or - for none; empty: no terminal.
        QTest::addColumn<QString>("answers");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("fault");  // the outputs check's detail, or the message
        QTest::newRow("every output on, then off")
            << "yyyyyyyyyyyy" << 0 << "^RB2\\.\\.RB7 each set and cleared";
        QTest::newRow("RB4 off") << "yyyynyyyyyyy" << 5
                                 << "^RB4 set but not on, says the operator$";
        QTest::newRow("no answer") << "yy-yyyyyyyyy" << 5 << "^RB3 set: no answer$";
        // An LED stuck on: only the question after clear finds it.
        QTest::newRow("RB5 stays on")
            << "yyyyyyynyyyy" << 5 << "^RB5 cleared but not off, says the operator$";
        QTest::newRow("no terminal") << "" << 2 << "--ask needs a terminal on standard input";
    }
    void askTheOperator() {
        QFETCH(QString, answers);
        QFETCH(int, exitCode);
        QFETCH(QString, fault);
        vardek::test::SimulatorRun simulator;
        QVERIFY(vardek::test::startSimulator(simulator, VARDEK_BOARD_SIM, {"--drift-ms", "0"}));
        const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(terminal >= 0 && ::grantpt(terminal) == 0 && ::unlockpt(terminal) == 0);
        const auto closeTerminal = qScopeGuard([terminal] { ::close(terminal); });
        QProcess probe;
        probe.setStandardInputFile(answers.isEmpty() ? QProcess::nullDevice()
                                                     : QString(::ptsname(terminal)));
        probe.setReadChannel(QProcess::StandardError);
        probe.start(VARDEK_PROBE,
                    {"--board", "127.0.0.1", "--port", QString::number(simulator.port), "--json",
                     "check", "--outputs", "--ask", "--ask-timeout", "1"});
        QString err;
        for (qsizetype i = 0; i < answers.size(); ++i) {
            // The probe drops what was typed before its question: answer once it is asked.
            const QString question = QString(i % 2 == 0 ? "RB%1 set: is it on? [y/n] "
                                                        : "RB%1 cleared: is it off? [y/n] ")
                                         .arg(i / 2 + 2);
            const QDeadlineTimer deadline(kWaitMs);
            while (!err.contains(question) && !deadline.hasExpired()) {
                probe.waitForReadyRead(int(deadline.remainingTime()));
                err += QString::fromUtf8(probe.readAllStandardError());
            }
            QVERIFY2(err.contains(question), qPrintable(err));
            if (answers[i] != '-') {
                const QByteArray line = QString(answers[i]).toLatin1() + '\n';
                QCOMPARE(::write(terminal, line.constData(), std::size_t(line.size())),
                         ssize_t(line.size()));
            }
        }
        QVERIFY(probe.waitForFinished(kWaitMs));
        err += QString::fromUtf8(probe.readAllStandardError());
        QVERIFY2(probe.exitCode() == exitCode,
                 qPrintable(QString("exit %1, stderr: %2").arg(probe.exitCode()).arg(err)));
        if (answers.isEmpty()) {
            QVERIFY2(err.contains(fault), qPrintable(err));
            QCOMPARE(simulator.countLines(" in "), 0);
            return;
        }
        const CheckLines lines = readCheckLines(QString::fromUtf8(probe.readAllStandardOutput()));
        QCOMPARE(lines.checks.size(), 5);
        QVERIFY2(QRegularExpression(fault).match(lines.checks[2]["detail"].toString()).hasMatch(),
                 qPrintable(lines.checks[2]["detail"].toString()));
        QString said;
        for (const QJsonObject& line : lines.measurements) {
            const QJsonObject m = line["measurement"].toObject();
            if (m["name"].toString().endsWith("_on") || m["name"].toString().endsWith("_off")) {
                said += m["value"].isNull() ? '-' : m["value"].toInt() == 1 ? 'y' : 'n';
                QCOMPARE(m["outcome"].toString(), m["value"].toInt() == 1 ? "PASS" : "FAIL");
            }
        }
        QCOMPARE(said, answers);
    }

  private:
    // RB7, RB4 and RB2 high, RB0 high and frozen with the rest: port B is known throughout.
    static constexpr int kPortB = 0x95;
};

QTEST_GUILESS_MAIN(TestProbe)
#include "test_probe.moc"
