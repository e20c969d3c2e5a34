// The simulator's captures, read back by tshark through the project's Wireshark dissector: every
// datagram in the file with its real addresses and ports and valid checksums, decoded in the
// protocol's terms, and every malformed one flagged.
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "link/board_protocol.h"
#include "link/reply_text.h"
#include "tests/loopback_board.h"
#include "tests/simulator_run.h"

namespace {

using vardek::link::channelSelector;
using vardek::test::Bytes;

using vardek::test::kWaitMs;
constexpr std::uint8_t kRA5 = channelSelector(4);

struct Step {
    Bytes request;
    QString fields;         // command|operand|bit|selector, as tshark prints them
    QString problem;        // the expert message of a malformed request, which goes unanswered
    std::uint8_t read = 0;  // the selector that the reply answers
};
using Steps = std::vector<Step>;

const QString kTshark = QStringLiteral(VARDEK_TSHARK);
const QStringList kFields{"ip.src",       "udp.srcport",        "ip.dst",
                          "udp.dstport",  "vardek.command",     "vardek.operand",
                          "vardek.bit",   "vardek.selector",    "vardek.portb",
                          "vardek.value", "vardek.temperature", "_ws.col.Info",
                          "_ws.expert"};

QString hex(unsigned value, int digits) {
    return "0x" + QString::number(value, 16).rightJustified(digits, '0');
}

QString malformed(const QString& problem) { return "Expert Info (Error/Malformed): " + problem; }

// The reply's row, its values as the panel shows them.
QString replyRow(const QString& addresses, const Bytes& reply, std::uint8_t read) {
    if (reply.size() != vardek::link::kReplySize) {
        const QString problem = QStringLiteral("wrong length: %1 bytes, not 8").arg(reply.size());
        return addresses + "||||||||Reply [" + problem + "]|" + malformed(problem);
    }
    const unsigned value = unsigned(reply[4]) << 8 | reply[5];
    QString info = QString::fromStdString(vardek::link::hexText(reply, 3));
    QString temperature;
    if (read != 0) {
        info += "; " + QString::fromUtf8(vardek::link::findChannel(read)->pin.data(), 3) + ' ';
        if (read == kRA5) {
            temperature = QString::number(value / 1024.0 * 500, 'g', 15);
            info += QString::fromStdString(vardek::link::temperatureText(value));
        } else {
            info += QString::fromStdString(vardek::link::rawText(value));
        }
    }
    return QStringList{
        addresses,     "",          "",   "", read != 0 ? hex(read, 2) : "", hex(reply[1], 2),
        hex(value, 4), temperature, info, ""}
        .join('|');
}

// The capture through tshark and the dissector under test with `args` beside, its output's lines,
// and in `errors` whatever went wrong.
QStringList tsharkLines(const QString& capture, quint16 boardPort, const QStringList& args,
                        QString& errors) {
    const QTemporaryDir home;
    QProcess tshark;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // No personal settings, and no personal copy of the dissector (in ~/.local) beside the one
    // under test.
    environment.insert("WIRESHARK_CONFIG_DIR", home.path());
    environment.insert("HOME", home.path());
    tshark.setProcessEnvironment(environment);
    tshark.start(kTshark, QStringList{"-X", "lua_script:" VARDEK_DISSECTOR, "-o",
                                      "vardek.port:" + QString::number(boardPort), "-r", capture}
                              << args);
    if (!tshark.waitForFinished(60000)) {
        errors = "tshark did not finish";
        return {};
    }
    errors = QString::fromUtf8(tshark.readAllStandardError());
    if (tshark.exitCode() == 0 && !errors.contains("Lua Error")) {
        errors.clear();
    }
    // UDP's own note on a datagram whose ephemeral port falls among traceroute's (33434 and up)
    // is no concern of the dissector's, and would otherwise come and go with the ports drawn.
    static const QString note =
        R"(Expert Info \(Chat/Sequence\): Possible traceroute: hop #\d+, attempt #\d+)";
    static const QRegularExpression traceroute(QString("%1,|,?%1").arg(note));
    return QString::fromUtf8(tshark.readAllStandardOutput())
        .remove(traceroute)
        .split('\n', Qt::SkipEmptyParts);
}

// One row of `fields` a datagram, as tshark prints them when asked for them (a tree built).
QStringList fieldsOf(const QString& capture, quint16 boardPort, const QStringList& fields,
                     QString& errors) {
    QStringList args{"-o", "ip.check_checksum:TRUE",
                     "-o", "udp.check_checksum:TRUE",
                     "-T", "fields",
                     "-E", "separator=|"};
    for (const QString& field : fields) {
        args << "-e" << field;
    }
    return tsharkLines(capture, boardPort, args, errors);
}

}  // namespace

Q_DECLARE_METATYPE(Steps)

class TestCapture : public QObject {
    Q_OBJECT

  private slots:
    void init() { board_ = std::make_unique<vardek::test::LoopbackBoard>(); }

    void readsInTheProtocolsTerms_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<bool>("whileRunning");

        const Steps exchange{
            {{0x00}, "0x00|||", {}},
            {{0x01, 0x06, 0x05}, "0x01|0x06|5|", {}},
            {{0x02, 0x06, 0x05}, "0x02|0x06|5|", {}},
            {{0x04, 0x81, 0x01}, "0x04|||0x81", {}, 0x81},
            {{0x04, 0x89, 0x01}, "0x04|||0x89", {}, 0x89},
            {{0x04, 0x91, 0x01}, "0x04|||0x91", {}, 0x91},
            {{0x04, 0x99, 0x01}, "0x04|||0x99", {}, 0x99},
            {{0x04, 0xA1, 0x01}, "0x04|||0xa1", {}, kRA5},
            {{0x03, 0x06, 0x02}, "0x03|||", "unknown command"},
            {{0x01, 0x07, 0x02}, "0x01|0x07|2|", "operand 0x07, not port B"},
            {{0x02, 0x06, 0x01}, "0x02|0x06|1|", "bit outside 2..7"},
            {{0x04, 0xA9, 0x01}, "0x04|||0xa9", "unknown selector"},
            {{0x04, 0x81, 0x00}, "0x04|||0x81", "tail 0x00, not 0x01"},
            {{0x00, 0x00, 0x00}, "0x00|||", "wrong length: 3 bytes, not 1"},
            {{0x01, 0x06, 0x02, 0x00}, "0x01|0x06|2|", "wrong length: 4 bytes, not 3"},
            {{0x01, 0x06}, "0x01|0x06||", "wrong length: 2 bytes, not 3"},
            {{0x04}, "0x04|||", "wrong length: 1 bytes, not 3"},
            {{0xFF}, "0xff|||", "unknown command"},
            {{}, "|||", "wrong length: 0 bytes"},
            // Malformed reads are never answered, so this reply answers no read.
            {{0x00}, "0x00|||", {}},
        };
        QTest::newRow("exchange, read while the simulator runs")
            << QStringList{"--seed", "7", "--drift-ms", "0", "--initial-pb", "0x83"} << exchange
            << true;
        const Steps shortReplies{
            {{0x04, 0xA1, 0x01}, "0x04|||0xa1", {}, kRA5},
            {{0x00}, "0x00|||", {}},
        };
        QTest::newRow("7-byte replies, read after SIGINT")
            << QStringList{"--reply-size", "7"} << shortReplies << false;
    }

    void readsInTheProtocolsTerms() {
        QFETCH(QStringList, args);
        QFETCH(Steps, steps);
        QFETCH(bool, whileRunning);
        QVERIFY2(QFileInfo(kTshark).isExecutable(), "tshark is missing; scripts/setup installs it");
        QTemporaryDir work;
        QVERIFY(work.isValid());
        const QString capture = work.filePath("board.pcap");

        vardek::test::SimulatorRun run;
        QVERIFY(vardek::test::startSimulator(run, VARDEK_BOARD_SIM, args << "--pcap" << capture));
        const QString me = "127.0.0.1|" + QString::number(board_->port());
        const QString board = "127.0.0.1|" + QString::number(run.port);
        QStringList expected;
        int answered = 0;
        for (const Step& step : steps) {
            board_->sendTo(run.port, step.request);
            // The C++ name of the request, its first letter capitalised as Info columns are.
            QString info = QString::fromStdString(vardek::link::describeRequest(step.request));
            info[0] = info[0].toUpper();
            if (!step.problem.isEmpty()) {
                info += " [" + step.problem + "]";
            }
            expected
                << QStringList{me,          board,
                               step.fields, "",
                               "",          "",
                               info,        step.problem.isEmpty() ? "" : malformed(step.problem)}
                       .join('|');
            if (step.problem.isEmpty()) {
                const auto reply = board_->receive();
                QVERIFY(reply.has_value());
                expected << replyRow(board + '|' + me, *reply, step.read);
                ++answered;
            }
        }
        // The log line of a reply follows its record in the capture.
        QTRY_COMPARE_WITH_TIMEOUT(run.countLines("Z out "), answered, kWaitMs);
        if (!whileRunning) {
            ::kill(pid_t(run.process.processId()), SIGINT);
            QVERIFY(run.process.waitForFinished(kWaitMs));
            QCOMPARE(run.process.exitCode(), 0);
        }

        QString errors;
        const QStringList rows = fieldsOf(capture, run.port, kFields, errors);
        QVERIFY2(errors.isEmpty(), qPrintable(errors));
        for (qsizetype i = 0; i < std::min(rows.size(), expected.size()); ++i) {
            QCOMPARE(rows[i], expected[i]);
        }
        QCOMPARE(rows.size(), expected.size());
    }

    // Two reads before either answer: the board answers in order, the window (one read kept)
    // takes the first reply for the second read. A 33-byte snap length keeps 5 of 8 reply bytes.
    void pairsInOrderAndKnowsTruncation() {
        QVERIFY2(QFileInfo(kTshark).isExecutable(), "tshark is missing; scripts/setup installs it");
        QTemporaryDir work;
        const QString capture = work.filePath("board.pcap");
        vardek::test::SimulatorRun run;
        QVERIFY(vardek::test::startSimulator(
            run, VARDEK_BOARD_SIM, {"--delay-ms", "1000", "--seed", "7", "--pcap", capture}));
        board_->sendTo(run.port, {0x04, 0x89, 0x01});
        board_->sendTo(run.port, {0x04, 0x91, 0x01});
        QVERIFY(board_->receive() && board_->receive());
        QTRY_COMPARE_WITH_TIMEOUT(run.countLines("Z out "), 2, kWaitMs);

        QString errors;
        QStringList rows =
            fieldsOf(capture, run.port, {"vardek.selector", "vardek.window"}, errors);
        QVERIFY2(errors.isEmpty(), qPrintable(errors));
        for (QString& row : rows) {
            row = row.section(' ', 0, 1);  // the selector, and the window's reading's name
        }
        QCOMPARE(rows, (QStringList{"0x89|", "0x91|", "0x89|as RA2", "0x91|as no"}));

        QProcess editcap;
        editcap.start(QFileInfo(kTshark).dir().filePath("editcap"),
                      {"-s", "33", capture, work.filePath("cut.pcap")});
        QVERIFY(editcap.waitForFinished(kWaitMs) && editcap.exitCode() == 0);
        rows = fieldsOf(work.filePath("cut.pcap"), run.port, {"_ws.col.Info"}, errors);
        QVERIFY2(errors.isEmpty(), qPrintable(errors));
        QCOMPARE(rows, (QStringList{"Read RA1", "Read RA2", "Reply [captured 5 of 8 bytes]",
                                    "Reply [captured 5 of 8 bytes]"}));
    }

    // Filters, colouring rules and statistics in a plain run, where tshark shows no tree: one
    // row for each field and expert info of the dissector.
    void filtersMatchInAPlainRun_data() {
        QTest::addColumn<QString>("capture");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("frames");

        const QStringList replies{"2", "4", "6", "9", "10"};
        const QStringList malformed{"11", "12", "13", "14", "15", "16"};
        QStringList everyFrame;
        for (int frame = 1; frame <= 16; ++frame) {
            everyFrame << QString::number(frame);
        }
        const auto row = [](const char* capture, const char* filter, const QStringList& frames) {
            QTest::newRow(filter) << QString(capture) << QString(filter) << frames;
        };
        row("board", "vardek", everyFrame);
        row("board", "vardek.command == 4", {"5", "7", "8", "14", "15"});
        row("board", "vardek.operand == 0x07", {"11"});
        row("board", "vardek.bit == 5", {"3"});
        row("board", "vardek.selector == 0x89", {"7", "9"});
        row("board", "vardek.tail == 0x00", {"15"});
        row("board", "vardek.dump matches \"^001 \"", {"4"});
        row("board", "vardek.portb == 0x83", {"2"});
        // Port B as the simulator starts, 0x83; Set RB5 makes it 0xA3.
        for (int pin = 0; pin < 8; ++pin) {
            const bool set = (0x83 >> pin & 1) != 0;
            const QString filter = QString("vardek.portb.rb%1 == %2").arg(pin).arg(int(set));
            QTest::newRow(qPrintable(filter))
                << QString("board") << filter << (pin == 5 ? QStringList{"2"} : replies);
        }
        row("board", "vardek.value > 0", {"6", "9", "10"});
        row("board", "vardek.temperature > 0", {"6"});
        row("board", "vardek.request_in == 7", {"9"});
        row("board", "vardek.window contains \"RA2\"", {"9"});
        row("board", "vardek.operand.bad", {"11"});
        row("board", "vardek.bit.bad", {"12"});
        row("board", "vardek.command.unknown", {"13"});
        row("board", "vardek.selector.unknown", {"14"});
        row("board", "vardek.tail.bad", {"15"});
        row("board", "vardek.request.length", {"16"});
        row("board", "_ws.expert.severity == error", malformed);
        row("7-byte replies", "vardek.reply.length", {"2"});
        row("cut to 33 bytes", "vardek.truncated", replies);
    }

    void filtersMatchInAPlainRun() {
        QFETCH(QString, capture);
        QFETCH(QString, filter);
        QFETCH(QStringList, frames);
        QVERIFY2(QFileInfo(kTshark).isExecutable(), "tshark is missing; scripts/setup installs it");
        if (captures_.empty()) {
            makeCaptures();
        }
        QVERIFY(captures_.count(capture) == 1);
        const auto& [file, port] = captures_.at(capture);
        QString errors;
        const QStringList lines = tsharkLines(file, port, {"-Y", filter}, errors);
        QVERIFY2(errors.isEmpty(), qPrintable(errors));
        QStringList matched;
        for (const QString& line : lines) {
            matched << line.simplified().section(' ', 0, 0);
        }
        QCOMPARE(matched, frames);
    }

    // A session of the probe against a seeded simulator, captured, and the capture replayed to
    // the same session: the replies, read back through tshark, are the same bytes, and the
    // probe prints the same.
    void replayAnswersTheSessionAsCaptured() {
        QVERIFY2(QFileInfo(kTshark).isExecutable(), "tshark is missing; scripts/setup installs it");
        QTemporaryDir work;
        const QString original = work.filePath("board.pcap");
        const QString replayed = work.filePath("replayed.pcap");
        const QList<QStringList> session{{"status"},      {"set", "RB5"}, {"read", "RA5"},
                                         {"read", "RA0"}, {"set", "RB2"}, {"clear", "RB5"},
                                         {"read", "RA5"}, {"status"}};
        const auto runSession = [&](vardek::test::SimulatorRun& board) {
            QStringList printed;
            for (const QStringList& command : session) {
                QProcess probe;
                QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
                environment.insert("XDG_CONFIG_HOME", work.filePath("no-config"));
                probe.setProcessEnvironment(environment);
                probe.start(VARDEK_PROBE, QStringList{"--board", "127.0.0.1", "--port",
                                                      QString::number(board.port)} +
                                              command);
                probe.waitForFinished(kWaitMs);
                // All but the round trip's time, which is the one thing a replay cannot keep.
                printed << QString::fromUtf8(probe.readAllStandardOutput())
                               .remove(QRegularExpression(R"( \(\d+\.\d+ ms\)\n$)"));
            }
            // Every reply's record is in the file once its log line is out.
            const bool logged = QTest::qWaitFor(
                [&] { return board.countLines("Z out ") == int(session.size()); }, kWaitMs);
            return logged ? printed : QStringList{};
        };
        QString errors;
        const auto replies = [&](const QString& capture, quint16 port) {
            QStringList rows =
                fieldsOf(capture, port, {"udp.srcport", "udp.payload", "_ws.col.Info"}, errors);
            rows = rows.filter(QRegularExpression("^" + QString::number(port) + "\\|"));
            for (QString& row : rows) {
                row = row.section('|', 1);
            }
            return rows;
        };

        vardek::test::SimulatorRun board;
        QVERIFY(vardek::test::startSimulator(
            board, VARDEK_BOARD_SIM, {"--seed", "3", "--drift-ms", "1", "--pcap", original}));
        const QStringList printed = runSession(board);
        QCOMPARE(printed.size(), session.size());
        board.process.terminate();
        QVERIFY(board.process.waitForFinished(kWaitMs));

        vardek::test::SimulatorRun replay;
        QVERIFY(vardek::test::startSimulator(replay, VARDEK_BOARD_SIM,
                                             {"--replay", original, "--replay-port",
                                              QString::number(board.port), "--pcap", replayed}));
        QCOMPARE(runSession(replay), printed);
        const QStringList captured = replies(original, board.port);
        QVERIFY2(errors.isEmpty(), qPrintable(errors));
        QCOMPARE(captured.size(), session.size());
        QCOMPARE(replies(replayed, replay.port), captured);
        QVERIFY2(errors.isEmpty(), qPrintable(errors));
    }

  private:
    // The captures that the filters are tried on, each with the board's port in it: an exchange
    // with a simulator whose replies come 100 ms late, so that two reads can be asked before
    // either is answered; the same with 7-byte replies; the first cut to 33 bytes a packet.
    void makeCaptures() {
        QVERIFY(work_.isValid());
        vardek::test::LoopbackBoard panel;
        // Each turn's requests are sent together and their replies awaited; the malformed ones
        // at the end are not answered.
        const auto capture = [&](const QString& name, QStringList args,
                                 const std::vector<std::vector<Bytes>>& turns,
                                 const std::vector<Bytes>& malformed) {
            const QString file = work_.filePath(name + ".pcap");
            vardek::test::SimulatorRun run;
            QVERIFY(vardek::test::startSimulator(run, VARDEK_BOARD_SIM,
                                                 args << "--delay-ms"
                                                      << "100"
                                                      << "--pcap" << file));
            int requests = 0;
            for (const auto& turn : turns) {
                for (const Bytes& request : turn) {
                    panel.sendTo(run.port, request);
                    ++requests;
                }
                for (std::size_t i = 0; i < turn.size(); ++i) {
                    QVERIFY(panel.receive().has_value());
                }
            }
            for (const Bytes& request : malformed) {
                panel.sendTo(run.port, request);
                ++requests;
            }
            QTRY_COMPARE_WITH_TIMEOUT(run.countLines("Z in  "), requests, kWaitMs);
            ::kill(pid_t(run.process.processId()), SIGINT);
            QVERIFY(run.process.waitForFinished(kWaitMs));
            captures_[name] = {file, run.port};
        };
        capture("board", {"--seed", "7", "--drift-ms", "0", "--initial-pb", "0x83"},
                {{{0x00}},
                 {{0x01, 0x06, 0x05}},
                 {{0x04, 0xA1, 0x01}},
                 {{0x04, 0x89, 0x01}, {0x04, 0x91, 0x01}}},
                {{0x02, 0x07, 0x03},
                 {0x01, 0x06, 0x01},
                 {0x03, 0x06, 0x02},
                 {0x04, 0xA9, 0x01},
                 {0x04, 0x81, 0x00},
                 {0x00, 0x00, 0x00}});
        capture("7-byte replies", {"--reply-size", "7"}, {{{0x00}}}, {});

        QProcess editcap;
        editcap.start(QFileInfo(kTshark).dir().filePath("editcap"),
                      {"-s", "33", captures_["board"].first, work_.filePath("cut.pcap")});
        QVERIFY(editcap.waitForFinished(kWaitMs) && editcap.exitCode() == 0);
        captures_["cut to 33 bytes"] = {work_.filePath("cut.pcap"), captures_["board"].second};
    }

    std::unique_ptr<vardek::test::LoopbackBoard> board_;
    QTemporaryDir work_;
    std::map<QString, std::pair<QString, quint16>> captures_;
};

QTEST_GUILESS_MAIN(TestCapture)
#include "test_capture.moc"
