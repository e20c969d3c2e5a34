// The board simulator: its answers, its drift and fault injection, its command line, and the
// real executable on the loopback interface.
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <cstdlib>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <memory>
#include <vector>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include "tests/loopback_board.h"
#include "tests/simulator_run.h"
#include "tools/board-sim/board_model.h"
#include "tools/board-sim/control.h"
#include "tools/board-sim/control_socket.h"
#include "tools/board-sim/options.h"
#include "tools/board-sim/pcap_writer.h"
#include "tools/board-sim/reply_queue.h"
#include "tools/board-sim/traffic_log.h"

using namespace vardek::sim;
using vardek::link::channelSelector;

Q_DECLARE_METATYPE(std::vector<Bytes>)
Q_DECLARE_METATYPE(Options)

namespace vardek::sim {

// Lets QCOMPARE print both sides of a failed comparison.
char* toString(const Options& o) {
    const QString text =
        QStringLiteral("bind=%1 port=%2 pb=%3 seed=%4 drop=%5 delay=%6 size=%7 drift=%8 pcap=%9")
            .arg(QString::fromStdString(o.bindAddress))
            .arg(o.port)
            .arg(o.initialPortB)
            .arg(o.seed ? QString::number(*o.seed) : QStringLiteral("none"))
            .arg(o.dropEvery)
            .arg(o.delayMs)
            .arg(o.replySize)
            .arg(o.driftMs)
            .arg(QString::fromStdString(o.pcapPath));
    return qstrdup(text.toUtf8().constData());
}

}  // namespace vardek::sim

namespace {

constexpr std::uint32_t kSeed = 20240501;
using vardek::test::kWaitMs;

BoardConfig frozen(std::uint8_t initialPortB = 0) {
    return {.seed = kSeed, .initialPortB = initialPortB, .driftPeriod = Millis::zero()};
}

Bytes status() { return {0x00}; }

std::uint16_t conversionOf(const Bytes& reply) {
    return static_cast<std::uint16_t>(reply.at(4) << 8 | reply.at(5));
}

using Run = vardek::test::SimulatorRun;
using vardek::test::waitForLog;

// A datagram of a hand-made capture between a client (127.0.0.1:40000) and the board on 10001.
struct Captured {
    bool toBoard;
    Bytes payload;
    // Where a datagram to the client comes from: a board may answer from a port of its own.
    vardek::link::SocketAddress from{vardek::link::kLoopbackAddress, 10001};
};

// The link types a capture may be framed in, with the header put before each IPv4 packet.
struct Framing {
    std::uint32_t linkType;
    Bytes header;
};
const Framing kRawIpv4{101, {}};

void putLittle32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + std::size_t(i)] = std::uint8_t(value >> (8 * i));
    }
}

// The file, as the simulator's own writer makes it, the link layer's header added; datagrams
// 1 ms apart.
Bytes captureOf(const std::vector<Captured>& datagrams, const Framing& framing = kRawIpv4) {
    Bytes file = pcapFileHeader();
    putLittle32(file, 20, framing.linkType);
    const vardek::link::SocketAddress client{vardek::link::kLoopbackAddress, 40000};
    const vardek::link::SocketAddress board{vardek::link::kLoopbackAddress, 10001};
    std::chrono::system_clock::time_point time{std::chrono::seconds(1700000000)};
    std::uint16_t id = 0;
    for (const Captured& datagram : datagrams) {
        Bytes record = datagram.toBoard
                           ? pcapRecord(client, board, datagram.payload, time, ++id)
                           : pcapRecord(datagram.from, client, datagram.payload, time, ++id);
        const auto length = std::uint32_t(record.size() - 16 + framing.header.size());
        putLittle32(record, 8, length);
        putLittle32(record, 12, length);
        record.insert(record.begin() + 16, framing.header.begin(), framing.header.end());
        file.insert(file.end(), record.begin(), record.end());
        time += std::chrono::milliseconds(1);
    }
    return file;
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const Bytes& bytes) {
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) !=
            qint64(bytes.size())) {
        return {};
    }
    return file.fileName();
}

Bytes reply(std::uint8_t first, std::uint8_t count, std::size_t size = 8) {
    Bytes bytes{first, 0x24, 0, count, 0x01, 0x2C, 0xEE, 0xFF};
    bytes.resize(size);
    return bytes;
}

}  // namespace

Q_DECLARE_METATYPE(Framing)

class TestBoardSim : public QObject {
    Q_OBJECT

  private slots:
    void answers_data() {
        QTest::addColumn<int>("initialPortB");
        QTest::addColumn<Bytes>("request");
        QTest::addColumn<Bytes>("expected");  // bytes 4 and 5 come from `channel`
        QTest::addColumn<int>("portBAfter");
        QTest::addColumn<int>("channel");  // whose reading the reply carries; -1 for none yet

        QTest::newRow("status") << 0x00 << status() << Bytes{0, 0x00, 0, 1, 0, 0, 0, 0} << 0x00
                                << -1;
        QTest::newRow("status shows outputs and inputs")
            << 0xA7 << status() << Bytes{0, 0xA7, 0, 1, 0, 0, 0, 0} << 0xA7 << -1;
        QTest::newRow("set RB2") << 0x00 << Bytes{1, 6, 2} << Bytes{1, 0x04, 2, 1, 0, 0, 0, 0}
                                 << 0x04 << -1;
        QTest::newRow("set RB7 keeps the rest")
            << 0x43 << Bytes{1, 6, 7} << Bytes{1, 0xC3, 7, 1, 0, 0, 0, 0} << 0xC3 << -1;
        QTest::newRow("set RB5 already set")
            << 0x20 << Bytes{1, 6, 5} << Bytes{1, 0x20, 5, 1, 0, 0, 0, 0} << 0x20 << -1;
        QTest::newRow("clear RB7")
            << 0xFF << Bytes{2, 6, 7} << Bytes{2, 0x7F, 7, 1, 0, 0, 0, 0} << 0x7F << -1;
        QTest::newRow("clear RB2 keeps the inputs")
            << 0x07 << Bytes{2, 6, 2} << Bytes{2, 0x03, 2, 1, 0, 0, 0, 0} << 0x03 << -1;
        QTest::newRow("clear RB4 already clear")
            << 0x00 << Bytes{2, 6, 4} << Bytes{2, 0x00, 4, 1, 0, 0, 0, 0} << 0x00 << -1;
        for (const auto& channel : vardek::link::kChannels) {
            const std::uint8_t sel = channel.selector;
            QTest::addRow("read %s", channel.pin.data())
                << 0x12 << Bytes{4, sel, 1} << Bytes{4, 0x12, sel, 1, 0, 0, 0, 0} << 0x12
                << channel.number;
        }
    }
    void answers() {
        QFETCH(int, initialPortB);
        QFETCH(Bytes, request);
        QFETCH(Bytes, expected);
        QFETCH(int, portBAfter);
        QFETCH(int, channel);
        BoardModel board(frozen(static_cast<std::uint8_t>(initialPortB)));
        if (channel >= 0) {
            const std::uint16_t reading = board.state().readings.at(std::size_t(channel));
            expected[4] = static_cast<std::uint8_t>(reading >> 8);
            expected[5] = static_cast<std::uint8_t>(reading);
        }

        const Outcome outcome = board.handle(request, Millis(0));

        QCOMPARE(outcome.disposition, Disposition::Answered);
        QCOMPARE(outcome.reply, expected);
        QCOMPARE(int(board.state().portB()), portBAfter);
        QCOMPARE(board.state().lastConversion, conversionOf(expected));
    }

    void lastConversionStaysInLaterReplies() {
        BoardModel board(frozen());
        const auto& readings = board.state().readings;
        board.handle(Bytes{4, channelSelector(1), 1}, Millis(0));

        const Bytes afterStatus = board.handle(status(), Millis(0)).reply;
        QCOMPARE(conversionOf(afterStatus), readings[1]);
        QCOMPARE(afterStatus[3], std::uint8_t{2});
        const Bytes afterSet = board.handle(Bytes{1, 6, 3}, Millis(0)).reply;
        QCOMPARE(conversionOf(afterSet), readings[1]);
        QCOMPARE(afterSet[3], std::uint8_t{3});
        const Bytes afterRead = board.handle(Bytes{4, channelSelector(4), 1}, Millis(0)).reply;
        QCOMPARE(conversionOf(afterRead), readings[4]);
    }

    void malformedIsIgnored_data() {
        QTest::addColumn<Bytes>("request");
        QTest::newRow("empty") << Bytes{};
        QTest::newRow("command 03") << Bytes{3};
        QTest::newRow("command 03, 3 bytes") << Bytes{3, 6, 2};
        QTest::newRow("command 05") << Bytes{5, 6, 2};
        QTest::newRow("command FF") << Bytes{0xFF};
        QTest::newRow("status, 2 bytes") << Bytes{0, 0};
        QTest::newRow("status, 3 bytes") << Bytes{0, 0, 0};
        QTest::newRow("set, 2 bytes") << Bytes{1, 6};
        QTest::newRow("set, 4 bytes") << Bytes{1, 6, 2, 0};
        QTest::newRow("set, operand 05") << Bytes{1, 5, 2};
        QTest::newRow("set RB0") << Bytes{1, 6, 0};
        QTest::newRow("set RB1") << Bytes{1, 6, 1};
        QTest::newRow("set bit 8") << Bytes{1, 6, 8};
        QTest::newRow("clear RB1") << Bytes{2, 6, 1};
        QTest::newRow("clear, operand 07") << Bytes{2, 7, 3};
        QTest::newRow("clear bit FF") << Bytes{2, 6, 0xFF};
        QTest::newRow("read, 2 bytes") << Bytes{4, 0x81};
        QTest::newRow("read, tail 00") << Bytes{4, 0x81, 0};
        QTest::newRow("read, 4 bytes") << Bytes{4, 0x81, 1, 0};
        QTest::newRow("read, selector 00") << Bytes{4, 0, 1};
        QTest::newRow("read RA4 (no such)") << Bytes{4, channelSelector(5), 1};
        QTest::newRow("read, selector 80") << Bytes{4, 0x80, 1};
        QTest::newRow("read, selector 82") << Bytes{4, 0x82, 1};
        QTest::newRow("largest datagram") << Bytes(65507, 0);
    }
    void malformedIsIgnored() {
        QFETCH(Bytes, request);
        BoardModel board({.seed = kSeed, .initialPortB = 0x5C, .faults = {.dropEvery = 2}});
        board.handle(Bytes{4, channelSelector(2), 1}, Millis(0));
        const BoardState before = board.state();

        // Much later: not even the drift may catch up on a malformed request.
        const Outcome outcome = board.handle(request, Millis(60000));

        QCOMPARE(outcome.disposition, Disposition::Malformed);
        QVERIFY(!outcome.request.has_value());
        QVERIFY(outcome.reply.empty());
        QVERIFY(board.state() == before);
        // Nor does it count towards the drops: the next well-formed request is the second.
        QCOMPARE(board.handle(status(), Millis(60000)).disposition, Disposition::Dropped);
    }

    void everyNthRequestIsDropped() {
        BoardModel board(
            {.seed = kSeed, .driftPeriod = Millis::zero(), .faults = {.dropEvery = 3}});
        const std::vector<Bytes> requests{status(),  {1, 6, 2}, {1, 6, 3}, {3},
                                          {2, 6, 2}, status(),  status(),  {4, 0x99, 1}};
        std::vector<Disposition> dispositions;
        std::vector<int> numbers;
        for (const Bytes& request : requests) {
            const Outcome outcome = board.handle(request, Millis(0));
            dispositions.push_back(outcome.disposition);
            numbers.push_back(outcome.reply.empty() ? -1 : outcome.reply[3]);
        }
        using enum Disposition;
        QCOMPARE(dispositions, (std::vector{Answered, Answered, Dropped, Malformed, Answered,
                                            Answered, Dropped, Answered}));
        QCOMPARE(numbers, (std::vector{1, 2, -1, -1, 4, 5, -1, 7}));
        // The dropped set was still carried out.
        QCOMPARE(int(board.state().portB()), 0x08);
    }

    void replySize_data() {
        QTest::addColumn<int>("size");
        for (const int size : {0, 1, 7, 8, 9, 65507}) {
            QTest::addRow("%d bytes", size) << size;
        }
    }
    void replySize() {
        QFETCH(int, size);
        const Bytes full{1, 0x84, 7, 1, 0, 0, 0, 0};
        BoardConfig config = frozen(0x04);
        config.faults.replySize = std::size_t(size);
        BoardModel board(config);

        const Outcome outcome = board.handle(Bytes{1, 6, 7}, Millis(0));

        QCOMPARE(outcome.disposition, Disposition::Answered);
        Bytes expected(full.begin(), full.begin() + std::min(size, 8));
        expected.resize(std::size_t(size), 0);
        QCOMPARE(outcome.reply, expected);
    }

    void readingsDriftSlowlyWithinBounds() {
        for (const std::uint32_t seed : {0u, 1u, 2u, 3u, kSeed}) {
            BoardModel board({.seed = seed, .initialPortB = 0xFC});
            auto previous = board.state().readings;
            const auto first = previous;
            bool inputChanged[2] = {false, false};
            for (int step = 1; step <= 20000; ++step) {
                board.handle(status(), Millis(250 * step));
                const BoardState& state = board.state();
                for (std::size_t ch = 0; ch < previous.size(); ++ch) {
                    QVERIFY(std::abs(state.readings[ch] - previous[ch]) <= 1);
                }
                for (std::size_t ch = 0; ch < 4; ++ch) {
                    QVERIFY(state.readings[ch] <= kRawMax);
                }
                QVERIFY(state.readings[4] >= kTemperatureMin);
                QVERIFY(state.readings[4] <= kTemperatureMax);
                QCOMPARE(state.outputs, std::uint8_t{0xFC});
                inputChanged[0] |= (state.inputs & 1) != 0;
                inputChanged[1] |= (state.inputs & 2) != 0;
                previous = state.readings;
            }
            QVERIFY2(previous != first, "the readings never moved");
            QVERIFY2(inputChanged[0] && inputChanged[1], "an input never moved");
        }
    }

    void driftDependsOnTimeNotOnRequests() {
        BoardModel polled({.seed = kSeed});
        for (int ms = 0; ms <= 60000; ms += 1000) {
            polled.handle(status(), Millis(ms));
        }
        BoardModel idle({.seed = kSeed});
        idle.handle(status(), Millis(60000));

        QCOMPARE(polled.state().readings, idle.state().readings);
        QCOMPARE(polled.state().inputs, idle.state().inputs);
        QVERIFY(polled.state().random == idle.state().random);
    }

    void seedDecidesTheReadings() {
        QCOMPARE(BoardModel({.seed = 7}).state().readings,
                 BoardModel({.seed = 7}).state().readings);
        QVERIFY(BoardModel({.seed = 7}).state().readings !=
                BoardModel({.seed = 8}).state().readings);
    }

    void zeroDriftPeriodFreezes() {
        BoardModel board(frozen(0x02));
        const BoardState before = board.state();
        board.handle(status(), Millis(3600000));
        QCOMPARE(board.state().readings, before.readings);
        QCOMPARE(board.state().inputs, std::uint8_t{0x02});
    }

    void longIdleCatchesUpWithinBounds() {
        BoardModel board({.seed = kSeed});
        board.handle(status(), Millis(1000LL * 3600 * 24 * 365 * 100));
        QVERIFY(board.state().readings[4] >= kTemperatureMin);
        QVERIFY(board.state().readings[4] <= kTemperatureMax);
        QCOMPARE(board.state().driftSteps, 4LL * 3600 * 24 * 365 * 100);
    }

    void logTexts() {
        using namespace std::chrono;
        QCOMPARE(QString::fromStdString(timestamp(system_clock::time_point{})),
                 "1970-01-01T00:00:00.000Z");
        const auto leapDay = sys_days{2024y / February / 29} + 23h + 59min + 59s + 7ms;
        QCOMPARE(QString::fromStdString(timestamp(leapDay)), "2024-02-29T23:59:59.007Z");

        QCOMPARE(QString::fromStdString(datagramText(Bytes{})), "[0]");
        QCOMPARE(QString::fromStdString(datagramText(Bytes{4, 0xA1, 1})), "[3] 004 0A1 001");
        const QString text = QString::fromStdString(datagramText(Bytes(kLoggedBytes + 3, 0xFF)));
        QVERIFY2(text.startsWith("[19] 0FF 0FF") && text.endsWith("0FF ... (3 more)"),
                 qPrintable(text));
    }

    // The control socket's commands, in order, on a healthy board: each answer, then the faults
    // in force as `faults` lists them. A refused command changes nothing.
    void controlCommands_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("answers");  // patterns, whole answers
        QTest::addColumn<bool>("largeReplies");
        QTest::addColumn<bool>("replaying");
        QTest::addColumn<QString>("inForce");

        const QStringList every{"silent 12",   "drop-every 3", "delay 0x10",  "reply-size 7",
                                "stuck rb3=1", "stuck RB7=0",  "adc RA5=300", "adc ra1=1023"};
        const QStringList oks(every.size(), "ok");
        QTest::newRow("every fault, listed")
            << every << oks << true << false
            << "silent for 12 s more; no reply to every 3rd request; replies 16 ms late; replies "
               "of 7 "
               "bytes; RB3 stuck at 1; RB7 stuck at 0; RA1 converts to 03FF(1023); RA5 converts "
               "to 300 (146.5 ℃)";
        QTest::newRow("each ended by its own command")
            << every + QStringList{"resume",       "drop-every 0", "delay 0",
                                   "reply-size 8", "unstuck RB3",  "unstuck rb7",
                                   "adc RA5=off",  "adc RA1=off",  "unstuck RB4"}
            << oks + QStringList(9, "ok") << true << false << "none";
        QTest::newRow("clear ends them all")
            << every + QStringList{"clear"} << oks + QStringList{"ok"} << true << false << "none";
        QTest::newRow("the last of two wins, spaces and a CR allowed")
            << QStringList{"drop-every 2", "  drop-every\t5 \r", "stuck RB2=1", "stuck RB2=0"}
            << QStringList(4, "ok") << true << false
            << "no reply to every 5th request; RB2 stuck at 0";
        QTest::newRow("refused")
            << QStringList{"",
                           "STUCK RB3=1",
                           "stuck RB1=1",
                           "stuck RB3=2",
                           "stuck RB3",
                           "unstuck RB3=1",
                           "adc RA4=1",
                           "adc RA5=65536",
                           "adc RA5",
                           "delay 600001",
                           "delay -1",
                           "silent 86401",
                           "silent 1 2",
                           "resume now",
                           "drop-every",
                           QString::fromLatin1("\x01\xff\\")}
            << QStringList{"error: no command; the commands are silent \\[SECONDS\\], .*",
                           "error: unknown command 'STUCK'; .*",
                           "error: stuck expects RBn=0 or RBn=1 for an output RB2 to RB7, not "
                           "'RB1=1'",
                           "error: stuck expects .* not 'RB3=2'",
                           "error: stuck expects .* not 'RB3'",
                           "error: unstuck expects an output RB2 to RB7, not 'RB3=1'",
                           "error: adc expects RAx=VALUE or RAx=off for RA0, RA1, RA2, RA3 or "
                           "RA5, not 'RA4=1'",
                           "error: adc expects a number from 0 to 65535 \\(decimal or 0x hex\\), "
                           "not '65536'",
                           "error: adc expects .* not 'RA5'",
                           "error: delay expects a number from 0 to 600000 .*",
                           "error: delay expects .* not '-1'",
                           "error: silent expects a number from 0 to 86400 .*",
                           "error: usage: silent \\[SECONDS\\]",
                           "error: resume takes nothing after it",
                           "error: usage: drop-every N",
                           "error: unknown command '\\\\x01\\\\xFF\\\\x5C'; .*"}
            << true << false << "none";
        QTest::newRow("large replies on a loopback address only")
            << QStringList{"reply-size 9", "reply-size 7"}
            << QStringList{"error: reply-size above 8 is for a simulator bound to a loopback "
                           "address only",
                           "ok"}
            << false << false << "replies of 7 bytes";
        QTest::newRow("a replayed board: silence and delay only")
            << QStringList{"stuck RB3=1",  "adc RA5=1", "drop-every 2",
                           "reply-size 7", "silent",    "delay 5"}
            << QStringList{"error: stuck does not apply while a capture is replayed",
                           "error: adc does not .*",
                           "error: drop-every does not .*",
                           "error: reply-size does not .*",
                           "ok",
                           "ok"}
            << true << true << "silent until resume; replies 5 ms late";
    }
    void controlCommands() {
        QFETCH(QStringList, lines);
        QFETCH(QStringList, answers);
        QFETCH(bool, largeReplies);
        QFETCH(bool, replaying);
        QFETCH(QString, inForce);
        RunningFaults faults;
        const ControlLimits limits{.largeReplies = largeReplies, .replaying = replaying};
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const std::string line = lines[i].toLatin1().toStdString();
            const RunningFaults before = faults;
            const ControlAnswer answer = runControlLine(line, faults, Millis(1000), limits);
            const QString text = QString::fromStdString(answer.text);
            QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(answers[i]))
                         .match(text)
                         .hasMatch(),
                     qPrintable(lines[i] + " -> " + text));
            QCOMPARE(answer.changed, faults != before);
            if (text.startsWith("error")) {
                QVERIFY(faults == before);
            }
        }
        const ControlAnswer listed = runControlLine("faults", faults, Millis(1000), limits);
        QCOMPARE(QString::fromStdString(listed.text), "ok: " + inForce);
        QVERIFY(!listed.changed);
    }

    // A timed silence ends at its time, once, without a command; `silent` alone lasts.
    void silenceEndsOnItsOwn() {
        RunningFaults faults;
        QCOMPARE(runControlLine("silent 12", faults, Millis(1000), {}).text, "ok");
        QCOMPARE(silenceAt(faults, Millis(12999)), Silence::On);
        QCOMPARE(faultTexts(faults, Millis(11500)),
                 std::vector<std::string>{"silent for 2 s more"});
        QCOMPARE(silenceAt(faults, Millis(13000)), Silence::Ended);
        QCOMPARE(silenceAt(faults, Millis(13000)), Silence::Off);
        QCOMPARE(runControlLine("silent", faults, Millis(0), {}).text, "ok");
        QCOMPARE(silenceAt(faults, Millis(1) * 86400 * 1000 * 365), Silence::On);
    }

    void goodOptions_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<Options>("expected");
        QTest::newRow("defaults") << QStringList{} << Options{};
        Options all;
        all.bindAddress = "127.0.0.2";
        all.port = 0;
        all.initialPortB = 0xFC;
        all.seed = 42;
        all.dropEvery = 3;
        all.delayMs = 250;
        all.replySize = 9;
        all.driftMs = 0;
        all.pcapPath = "board.pcap";
        QTest::newRow("every option")
            << QStringList{"--bind",       "127.0.0.2", "--port",     "0",
                           "--initial-pb", "0xFC",      "--seed",     "42",
                           "--drop-every", "3",         "--delay-ms", "250",
                           "--reply-size", "9",         "--drift-ms", "0",
                           "--pcap",       "board.pcap"}
            << all;
        QTest::newRow("after '='")
            << QStringList{"--bind=127.0.0.2", "--port=0",       "--initial-pb=0xFC",
                           "--seed=42",        "--drop-every=3", "--delay-ms=250",
                           "--reply-size=9",   "--drift-ms=0",   "--pcap=board.pcap"}
            << all;
        Options largest;
        largest.port = 65535;
        largest.initialPortB = 255;
        largest.seed = 4294967295u;
        largest.dropEvery = 4294967295u;
        largest.delayMs = kMaxDelayMs;
        largest.replySize = kMaxReplySize;
        largest.driftMs = kMaxDriftMs;
        QTest::newRow("largest values")
            << QStringList{"--port",       "65535",        "--initial-pb", "255",        "--seed",
                           "0xFFFFFFFF",   "--drop-every", "4294967295",   "--delay-ms", "600000",
                           "--reply-size", "65507",        "--drift-ms",   "3600000"}
            << largest;
        Options port;
        port.port = 10001;
        QTest::newRow("upper-case hex") << QStringList{"--port", "0X2711"} << port;
        Options pb;
        pb.initialPortB = 10;
        QTest::newRow("leading zero is decimal") << QStringList{"--initial-pb", "010"} << pb;
        Options open;
        open.bindAddress = "0.0.0.0";
        open.replySize = 7;
        QTest::newRow("any address, by choice")
            << QStringList{"--bind", "0.0.0.0", "--reply-size", "7"} << open;
        Options faulty;
        faulty.stuckMask = 0x84;
        faulty.stuckLevels = 0x04;
        faulty.fixedResults[4] = 300;
        faulty.fixedResults[0] = 0xFFFF;
        QTest::newRow("faults, repeated") << QStringList{"--stuck",       "RB2=1", "--adc=ra5=300",
                                                         "--stuck=rb7=0", "--adc", "RA0=0xFFFF"}
                                          << faulty;
        Options replay;
        replay.replayPath = "board.pcap";
        replay.replayPort = 10002;
        replay.replayTiming = true;
        replay.replayEnd = ReplayEnd::Loop;
        replay.delayMs = 5;
        replay.controlPath = "/tmp/board.control";
        QTest::newRow("replay, with control and delay")
            << QStringList{"--replay",        "board.pcap",        "--replay-port", "10002",
                           "--replay-timing", "--replay-end=loop", "--delay-ms",    "5",
                           "--control",       "/tmp/board.control"}
            << replay;
        QTest::newRow("--help") << QStringList{"--help"} << Options{};
        QTest::newRow("-h") << QStringList{"-h"} << Options{};
        // Help answers whatever else the line holds, as for every program.
        QTest::newRow("help given twice") << QStringList{"-h", "--help"} << Options{};
        QTest::newRow("--version") << QStringList{"--version"} << Options{};
    }
    void goodOptions() {
        QFETCH(QStringList, args);
        QFETCH(Options, expected);
        const ParsedCommandLine result = parse(args);
        const bool help = args.contains("--help") || args.contains("-h");
        const auto action = help                               ? Action::Help
                            : args == QStringList{"--version"} ? Action::Version
                                                               : Action::Run;
        QVERIFY2(result.action == action, result.error.c_str());
        QCOMPARE(result.options, expected);
    }

    void badOptions_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("error");
        const QString number =
            "--port expects a number from 0 to 65535 (decimal or 0x hex), not '%1'";
        QTest::newRow("unknown option") << QStringList{"--verbose"} << "unknown option '--verbose'";
        QTest::newRow("single dash") << QStringList{"-p", "1"} << "unknown option '-p'";
        QTest::newRow("argument") << QStringList{"10001"} << "unexpected argument '10001'";
        QTest::newRow("missing value") << QStringList{"--seed"} << "--seed needs a value";
        QTest::newRow("option as value")
            << QStringList{"--port", "--seed", "1"} << number.arg("--seed");
        QTest::newRow("empty value") << QStringList{"--port="} << "--port needs a value";
        QTest::newRow("out of range") << QStringList{"--port", "65536"} << number.arg("65536");
        QTest::newRow("negative") << QStringList{"--port", "-1"} << number.arg("-1");
        QTest::newRow("plus sign") << QStringList{"--port", "+1"} << number.arg("+1");
        QTest::newRow("leading space") << QStringList{"--port", " 1"} << number.arg(" 1");
        QTest::newRow("trailing junk") << QStringList{"--port", "10x"} << number.arg("10x");
        QTest::newRow("bare 0x") << QStringList{"--port", "0x"} << number.arg("0x");
        QTest::newRow("bad hex") << QStringList{"--port", "0xZZ"} << number.arg("0xZZ");
        QTest::newRow("overflow") << QStringList{"--port", "99999999999999999999999"}
                                  << number.arg("99999999999999999999999");
        QTest::newRow("initial-pb 256") << QStringList{"--initial-pb", "0x100"}
                                        << "--initial-pb expects a number from 0 to 255";
        QTest::newRow("seed 2^32") << QStringList{"--seed", "4294967296"}
                                   << "--seed expects a number from 0 to 4294967295";
        QTest::newRow("drop-every 2^32") << QStringList{"--drop-every", "0x100000000"}
                                         << "--drop-every expects a number from 0 to 4294967295";
        QTest::newRow("delay too long") << QStringList{"--delay-ms", "600001"}
                                        << "--delay-ms expects a number from 0 to 600000";
        QTest::newRow("reply too big") << QStringList{"--reply-size", "65508"}
                                       << "--reply-size expects a number from 0 to 65507";
        QTest::newRow("drift too slow") << QStringList{"--drift-ms", "3600001"}
                                        << "--drift-ms expects a number from 0 to 3600000";
        const QString address = "--bind expects a dotted-decimal IPv4 address, not '%1'";
        for (const char* bad : {"localhost", "127.0.0", "127.0.0.256", "::1", "127.0.0.1 "}) {
            QTest::addRow("bind %s", bad) << QStringList{"--bind", bad} << address.arg(bad);
        }
        QTest::newRow("bind missing") << QStringList{"--bind"} << "--bind needs a value";
        QTest::newRow("pcap empty") << QStringList{"--pcap", ""} << "--pcap needs a file name";
        QTest::newRow("duplicate")
            << QStringList{"--port", "1", "--port=2"} << "--port is given more than once";
        const QString stuck = "--stuck expects RBn=0 or RBn=1 for an output RB2 to RB7, not '%1'";
        for (const char* bad : {"RB1=1", "RB8=0", "RB3=2", "RB3", "RB3=", "RB=1"}) {
            QTest::addRow("stuck %s", bad) << QStringList{"--stuck", bad} << stuck.arg(bad);
        }
        QTest::newRow("stuck twice")
            << QStringList{"--stuck", "RB3=1", "--stuck", "rb3=1"} << "--stuck names RB3 twice";
        const QString adc =
            "--adc expects RAx=VALUE for RA0, RA1, RA2, RA3 or RA5 and a value "
            "from 0 to 65535 (decimal or 0x hex), not '%1'";
        for (const char* bad : {"RA4=1", "RA0=65536", "RA0=-1", "RA0"}) {
            QTest::addRow("adc %s", bad) << QStringList{"--adc", bad} << adc.arg(bad);
        }
        QTest::newRow("adc twice")
            << QStringList{"--adc", "RA5=1", "--adc", "RA5=2"} << "--adc names RA5 twice";
        QTest::newRow("help with value") << QStringList{"--help=yes"} << "--help takes no value";
        QTest::newRow("replay end unknown")
            << QStringList{"--replay", "a.pcap", "--replay-end", "stop"}
            << "--replay-end expects repeat-last, loop or silent, not 'stop'";
        QTest::newRow("replay options without a replay")
            << QStringList{"--replay-timing"}
            << "--replay-port, --replay-timing and --replay-end need --replay FILE";
        QTest::newRow("replay with a fault of the model")
            << QStringList{"--replay", "a.pcap", "--stuck", "RB3=1"}
            << "--replay answers as the capture did: --stuck, --adc, --drop-every and "
               "--reply-size do not apply to it";
        QTest::newRow("control path too long") << QStringList{"--control", QString(108, 'c')}
                                               << "--control needs a path of 1 to 107 bytes";
        // Replies go to whatever source a request claims: no amplifier on the network.
        QTest::newRow("large replies off loopback")
            << QStringList{"--reply-size", "9", "--bind", "0.0.0.0"}
            << "--reply-size 9 is refused with --bind 0.0.0.0";
    }
    void badOptions() {
        QFETCH(QStringList, args);
        QFETCH(QString, error);
        const ParsedCommandLine result = parse(args);
        QVERIFY(result.action == Action::Refuse);
        const QString actual = QString::fromStdString(result.error);
        QVERIFY2(actual.startsWith(error), qPrintable(actual));
    }

    void loopback_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("loopback");
        QTest::newRow("127.0.0.1") << "127.0.0.1" << true;
        QTest::newRow("127.0.0.2") << "127.0.0.2" << true;
        QTest::newRow("127.255.255.255") << "127.255.255.255" << true;
        // The neighbours of 127.0.0.0/8, from their numbers: no test names an outside address.
        QTest::newRow("just below")
            << QString::fromStdString(vardek::link::SocketAddress{0x7EFFFFFF}.addressText())
            << false;
        QTest::newRow("just above")
            << QString::fromStdString(vardek::link::SocketAddress{0x80000001}.addressText())
            << false;
        QTest::newRow("0.0.0.0") << "0.0.0.0" << false;
    }
    void loopback() {
        QFETCH(QString, address);
        QFETCH(bool, loopback);
        QCOMPARE(isLoopback(address.toStdString()), loopback);
    }

    void helpNamesEveryOption() {
        const QString help = QString::fromStdString(helpText());
        for (const char* option :
             {"--bind", "--port", "--initial-pb", "--seed", "--drift-ms", "--drop-every",
              "--delay-ms", "--reply-size", "--pcap", "--stuck", "--adc", "--help"}) {
            QVERIFY2(help.contains(option), option);
        }
    }

    // The executable itself, as the end-to-end tests start it.

    void init() { board_ = std::make_unique<vardek::test::LoopbackBoard>(); }

    void exchangesOverLoopback() {
        Run run;
        QVERIFY(start(run, {"--seed", "5", "--drift-ms", "0", "--initial-pb", "0x81"}));

        const Bytes reply = exchange(run, Bytes{4, 0xA1, 1});
        BoardModel same({.seed = 5, .initialPortB = 0x81, .driftPeriod = Millis::zero()});
        const Bytes expected = same.handle(Bytes{4, 0xA1, 1}, Millis(0)).reply;
        QCOMPARE(reply, expected);

        // A malformed request gets nothing: the next datagram back answers the status after it.
        send(run, Bytes{3});
        QCOMPARE(exchange(run, status()).at(3), std::uint8_t{2});

        const QString me = QStringLiteral("127.0.0.1:%1").arg(board_->port());
        QVERIFY(
            waitForLog(run, QRegularExpression("in  " + me + " \\[3\\] 004 0A1 001 \\| read RA5\n"))
                .hasMatch());
        QVERIFY(waitForLog(
                    run, QRegularExpression("out " + me +
                                            " \\[8\\] 004 081 0A1 001 000 0[0-9A-F]{2} 000 000\n"))
                    .hasMatch());
        QVERIFY(waitForLog(run, QRegularExpression("in  " + me +
                                                   " \\[1\\] 003 \\| malformed, not answered\n"))
                    .hasMatch());

        run.process.terminate();
        QVERIFY(run.process.waitForFinished(kWaitMs));
        QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.process.exitCode(), 0);
        run.log += QString::fromUtf8(run.process.readAllStandardOutput());
        const QRegularExpression line(
            R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z (listening|in  |out |stopped))");
        const QStringList lines = run.log.split('\n', Qt::SkipEmptyParts);
        for (const QString& each : lines) {
            QVERIFY2(line.match(each).hasMatch(), qPrintable(each));
        }
        QVERIFY2(lines.last().endsWith("stopped by SIGTERM"), qPrintable(lines.last()));
    }

    void delayedRepliesKeepTheirOrder() {
        Run run;
        QVERIFY(start(run, {"--delay-ms", "50", "--reply-size", "9"}));
        send(run, status());
        send(run, Bytes{1, 6, 3});
        const Bytes first = receive();
        const Bytes second = receive();
        QCOMPARE(first.size(), std::size_t{9});
        QCOMPARE(first.at(3), std::uint8_t{1});
        QCOMPARE(second.at(0), std::uint8_t{1});
        QCOMPARE(second.at(3), std::uint8_t{2});

        ::kill(pid_t(run.process.processId()), SIGINT);
        QVERIFY(run.process.waitForFinished(kWaitMs));
        QCOMPARE(run.process.exitCode(), 0);
        QVERIFY(waitForLog(run, QRegularExpression("stopped by SIGINT\n")).hasMatch());
    }

    void replyQueueIsBounded_data() {
        QTest::addColumn<int>("maxReplies");
        QTest::addColumn<int>("maxBytes");
        QTest::addColumn<QList<int>>("sizes");
        QTest::addColumn<QList<bool>>("queued");
        QTest::newRow("count") << 3 << 100 << QList<int>{8, 8, 8, 8} << QList<bool>{1, 1, 1, 0};
        QTest::newRow("bytes, a smaller one still fits")
            << 10 << 20 << QList<int>{8, 8, 8, 4} << QList<bool>{1, 1, 0, 1};
        QTest::newRow("exactly full") << 10 << 16 << QList<int>{8, 8, 1} << QList<bool>{1, 1, 0};
        QTest::newRow("one alone too big") << 10 << 4 << QList<int>{5, 4} << QList<bool>{0, 1};
    }
    void replyQueueIsBounded() {
        QFETCH(int, maxReplies);
        QFETCH(int, maxBytes);
        QFETCH(QList<int>, sizes);
        QFETCH(QList<bool>, queued);
        ReplyQueue queue{std::size_t(maxReplies), std::size_t(maxBytes)};
        std::size_t bytes = 0;
        for (qsizetype i = 0; i < sizes.size(); ++i) {
            const std::size_t size(sizes[i]);
            QCOMPARE(queue.push({Clock::time_point{}, {}, Bytes(size, std::uint8_t(i))}),
                     queued[i]);
            bytes += queued[i] ? size : 0;
            QCOMPARE(queue.bytes(), bytes);
        }
        // Sending a reply frees its room.
        while (!queue.empty()) {
            queue.pop();
        }
        QCOMPARE(queue.bytes(), std::size_t{0});
        QVERIFY(queue.push({Clock::time_point{}, {}, Bytes(std::size_t(maxBytes))}));
    }

    void stopsWithRepliesStillWaiting_data() {
        QTest::addColumn<QString>("replySize");
        QTest::addColumn<int>("requests");
        QTest::addColumn<int>("waiting");
        QTest::newRow("one") << "8" << 1 << 1;
        // 64 of the largest replies fill the 4 MiB: later requests are carried out, their replies
        // dropped.
        QTest::newRow("queue full") << "65507" << 70 << 64;
    }
    void stopsWithRepliesStillWaiting() {
        QFETCH(QString, replySize);
        QFETCH(int, requests);
        QFETCH(int, waiting);
        Run run;
        QVERIFY(start(run, {"--delay-ms", "600000", "--reply-size", replySize}));
        for (int i = 0; i < requests; ++i) {
            send(run, status());
        }
        QTRY_COMPARE_WITH_TIMEOUT(run.countLines(" \\| status, reply "), requests, kWaitMs);
        QCOMPARE(run.countLines("status, reply in 600000 ms\n"), waiting);
        QCOMPARE(run.countLines("status, reply dropped: delay queue full \\(64 replies, 4192448 "
                                "bytes waiting, this one 65507\\)\n"),
                 requests - waiting);
        run.process.terminate();
        QVERIFY(run.process.waitForFinished(kWaitMs));
        QCOMPARE(run.process.exitCode(), 0);
        QVERIFY(waitForLog(
                    run,
                    QRegularExpression(
                        QString("stopped by SIGTERM, delayed replies not sent: %1\n").arg(waiting)))
                    .hasMatch());
    }

    // Faults switched while the board answers. The socket is its owner's alone; an over-long
    // line and binary junk are answered and the connection stays; a second simulator cannot
    // take the path; one left by a killed simulator is taken over.
    void controlSocket() {
        QTemporaryDir dir;
        const QString path = dir.filePath("control");
        Run run;
        QVERIFY(start(run, {"--drift-ms", "0", "--control", path}));
        QVERIFY(waitForLog(run, QRegularExpression("control socket at " +
                                                   QRegularExpression::escape(path) + "\n"))
                    .hasMatch());
        struct stat file {};
        QCOMPARE(::stat(path.toLocal8Bit().constData(), &file), 0);
        QCOMPARE(file.st_mode & 07777, 0600u);
        vardek::test::ControlClient control(path);
        QVERIFY(control.isConnected());

        QCOMPARE(control.command("stuck RB3=1"), "ok");
        QCOMPARE(int(exchange(run, status()).at(1)), 0x08);
        QVERIFY2(control.command(QByteArray(kMaxControlLine + 1, 'x')) ==
                     "error: line longer than 256 bytes, ignored",
                 "over-long line");
        QVERIFY(control.command(QByteArray("\x00\xff\x1b[2J", 6))
                    .startsWith(R"(error: unknown command '\x00\xFF\x1B[2J')"));
        QCOMPARE(control.command("faults"), "ok: RB3 stuck at 1");
        QCOMPARE(control.command("silent"), "ok");
        send(run, status());
        QVERIFY(
            waitForLog(run, QRegularExpression("\\| status, silent, not answered\n")).hasMatch());
        QCOMPARE(control.command("clear"), "ok");
        QCOMPARE(int(exchange(run, Bytes{2, 6, 3}).at(1)), 0x00);
        QVERIFY(waitForLog(run, QRegularExpression("control stuck RB3=1 \\| ok\n")).hasMatch());
        QVERIFY(run.log.contains(R"(control \x00\xFF\x1B[2J | error: unknown command)"));

        QProcess second;
        second.start(VARDEK_BOARD_SIM, {"--port", "0", "--control", path});
        QVERIFY(second.waitForFinished(kWaitMs));
        QCOMPARE(second.exitCode(), 1);
        QVERIFY(QString::fromUtf8(second.readAllStandardError())
                    .contains("another program listens on it"));

        ::kill(pid_t(run.process.processId()), SIGKILL);
        QVERIFY(run.process.waitForFinished(kWaitMs));
        QVERIFY(QFileInfo::exists(path));
        Run next;
        QVERIFY(start(next, {"--control", path}));
        QVERIFY(waitForLog(next, QRegularExpression("control socket at ")).hasMatch());
        next.process.terminate();
        QVERIFY(next.process.waitForFinished(kWaitMs));
        QVERIFY(!QFileInfo::exists(path));
    }

    // What may stand at --control's path: only a socket that refuses connections (one left by a
    // killed simulator) is taken over. One in use is refused without waiting, also when its
    // backlog is full; one this user may not connect to cannot be told unused and is kept.
    void controlSocketPath_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("problem");  // empty: taken over
        QTest::newRow("a socket left behind") << "stale"
                                              << "";
        QTest::newRow("a regular file") << "file"
                                        << "the file exists and is not a socket";
        QTest::newRow("a listener with a full backlog") << "full"
                                                        << "another program listens on it";
        QTest::newRow("another user's socket")
            << "forbidden"
            << "cannot tell whether it is in use, so it is left alone: Permission denied";
    }
    void controlSocketPath() {
        QFETCH(QString, kind);
        QFETCH(QString, problem);
        if (kind == "forbidden" && ::geteuid() == 0) {
            QSKIP("the superuser may connect to any socket");
        }
        QTemporaryDir dir;
        const QString path = dir.filePath("control");
        const QByteArray name = path.toLocal8Bit();
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
        const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        std::vector<int> waiting;
        if (kind == "file") {
            QVERIFY(!writeFile(dir, "control", Bytes{1}).isEmpty());
        } else {
            QCOMPARE(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address),
                     0);
        }
        if (kind == "forbidden") {
            QCOMPARE(::chmod(name.constData(), 0), 0);
        }
        if (kind == "full") {
            QCOMPARE(::listen(listener, 0), 0);
            while (waiting.size() < 64) {
                waiting.push_back(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
                if (::connect(waiting.back(), reinterpret_cast<const sockaddr*>(&address),
                              sizeof address) != 0 &&
                    errno == EAGAIN) {
                    break;
                }
            }
            QVERIFY2(errno == EAGAIN, "the backlog never filled");
        }
        Run run;
        const bool started = start(run, {"--control", path});
        for (const int fd : waiting) {
            ::close(fd);
        }
        ::close(listener);
        if (problem.isEmpty()) {
            QVERIFY(started);
            QVERIFY(waitForLog(run, QRegularExpression("control socket at ")).hasMatch());
            QVERIFY(vardek::test::ControlClient(path).isConnected());
            return;
        }
        QVERIFY(!started);
        QVERIFY(run.process.state() == QProcess::NotRunning ||
                run.process.waitForFinished(kWaitMs));
        QCOMPARE(run.process.exitCode(), 1);
        const QString error = QString::fromUtf8(run.process.readAllStandardError());
        QVERIFY2(error.contains(problem), qPrintable(error));
        QVERIFY2(QFileInfo::exists(path), "the path's file was removed");
    }

    // A simulator that ends removes its socket's file only while it is still its own: a later
    // simulator that took the path over keeps it.
    void controlSocketLeavesAnotherOne() {
        QTemporaryDir dir;
        const QString path = dir.filePath("control");
        Run first;
        QVERIFY(start(first, {"--control", path}));
        QVERIFY(waitForLog(first, QRegularExpression("control socket at ")).hasMatch());
        QVERIFY(QFile::remove(path));
        Run second;
        QVERIFY(start(second, {"--control", path}));
        QVERIFY(waitForLog(second, QRegularExpression("control socket at ")).hasMatch());
        first.process.terminate();
        QVERIFY(first.process.waitForFinished(kWaitMs));
        QVERIFY2(QFileInfo::exists(path), "the newer simulator's socket was removed");
        vardek::test::ControlClient control(path);
        QCOMPARE(control.command("faults"), "ok: none");
    }

    // All places taken: a client silent past the limit makes room for a new one; else the new
    // one is refused.
    void controlClientsMakeRoom_data() {
        QTest::addColumn<int>("idleLimitMs");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("notice");
        QTest::newRow("the quietest silent past the limit")
            << 0 << "ok: newcomer"
            << "control connection closed: silent for 0 s, its place taken";
        QTest::newRow("all heard within the limit")
            << 3'600'000 << "error: already 8 control connections"
            << "control connection refused: 8 already open";
    }
    void controlClientsMakeRoom() {
        QFETCH(int, idleLimitMs);
        QFETCH(QString, answer);
        QFETCH(QString, notice);
        QTemporaryDir dir;
        const QString path = dir.filePath("control");
        ControlSocket control{std::chrono::milliseconds(idleLimitMs)};
        QCOMPARE(QString::fromStdString(control.open(path.toStdString())), QString());
        QStringList notices;
        const auto serve = [&] {
            std::vector<pollfd> fds;
            control.watch(fds);
            if (::poll(fds.data(), fds.size(), 0) > 0) {
                control.serve(
                    fds, 0, [](std::string_view line) { return "ok: " + std::string(line); },
                    [&](const std::string& text) { notices << QString::fromStdString(text); });
            }
        };
        std::vector<std::unique_ptr<vardek::test::ControlClient>> clients;
        for (std::size_t i = 0; i <= kMaxControlClients; ++i) {
            clients.push_back(std::make_unique<vardek::test::ControlClient>(path));
            QVERIFY(clients.back()->isConnected());
            serve();
        }
        // Refused, the connection is closed already: the send may fail, the answer is there.
        clients.back()->send("newcomer");
        serve();
        QCOMPARE(clients.back()->answer(), answer);
        QVERIFY2(notices.join('\n').contains(notice), qPrintable(notices.join('\n')));
    }

    // A capture played back: two statuses answered as captured, the second twice (one of them
    // 7 bytes), a read and a third status that the board left unanswered; then the statuses
    // run out. The last request, a read, was answered from another of the board's ports and
    // marks the end; a stranger's datagram to the client is no reply.
    void replayAnswersAsCapturedThenAsTold_data() {
        QTest::addColumn<QString>("end");
        QTest::addColumn<std::vector<Bytes>>("afterRunningOut");
        QTest::addColumn<QString>("said");
        QTest::newRow("repeat-last, the last one answered")
            << "repeat-last" << std::vector<Bytes>{reply(0, 2), reply(0, 3, 7)}
            << "repeating the last";
        QTest::newRow("loop") << "loop" << std::vector<Bytes>{reply(0, 1)}
                              << "from the first again";
        QTest::newRow("silent") << "silent" << std::vector<Bytes>{} << "no more replies";
    }
    void replayAnswersAsCapturedThenAsTold() {
        QFETCH(QString, end);
        QFETCH(std::vector<Bytes>, afterRunningOut);
        QFETCH(QString, said);
        const Bytes readRA5{4, 0xA1, 1};
        const Bytes readRA0{4, 0x81, 1};
        QTemporaryDir dir;
        const QString capture = writeFile(dir, "board.pcap",
                                          captureOf({{true, status()},
                                                     {false, reply(0, 1)},
                                                     {true, status()},
                                                     {false, reply(0, 2)},
                                                     {false, reply(0, 3, 7)},
                                                     {true, readRA5},
                                                     {true, status()},
                                                     {true, readRA0},
                                                     {false, reply(4, 7), {0x7F000009, 10001}},
                                                     {false, reply(4, 6), {0x7F000001, 10011}}}));
        Run run;
        QVERIFY(start(run, {"--replay", capture, "--replay-end", end}));
        for (const Bytes& request :
             {status(), status(), readRA5, status(), status(), Bytes{2, 6, 5}, readRA0}) {
            send(run, request);
        }
        std::vector<Bytes> expected{reply(0, 1), reply(0, 2), reply(0, 3, 7)};
        expected.insert(expected.end(), afterRunningOut.begin(), afterRunningOut.end());
        expected.push_back(reply(4, 6));
        std::vector<Bytes> received;
        while (received.size() < 8 && (received.empty() || received.back() != reply(4, 6))) {
            received.push_back(receive());
        }
        QCOMPARE(received, expected);
        QVERIFY(waitForLog(run, QRegularExpression("clear RB5, not in the capture, not answered"))
                    .hasMatch());
        QCOMPARE(run.countLines("replay: replies to status ran out after 3, " + said + "\n"), 1);
        QCOMPARE(run.countLines("\\| status, captured 3 of 3, not answered\n"), 1);
        QVERIFY(run.log.contains("replaying " + capture +
                                 ": 5 requests of 3 kinds, 4 replies (1 reply to no "
                                 "request left out)\n"));
    }

    // The framings that tcpdump and Wireshark write, beside the simulator's own raw IPv4.
    void replayReadsEveryFraming_data() {
        QTest::addColumn<Framing>("framing");
        QTest::newRow("raw IPv4") << kRawIpv4;
        QTest::newRow("Ethernet") << Framing{1, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x08, 0x00}};
        QTest::newRow("Ethernet, VLAN-tagged")
            << Framing{1, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x81, 0x00, 0x00, 0x05, 0x08, 0x00}};
        QTest::newRow("Linux cooked")
            << Framing{113, {0, 0, 0x03, 0x04, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0x08, 0x00}};
        QTest::newRow("Linux cooked v2") << Framing{
            276, {0x08, 0x00, 0, 0, 0, 0, 0, 1, 0x03, 0x04, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0}};
    }
    void replayReadsEveryFraming() {
        QFETCH(Framing, framing);
        QTemporaryDir dir;
        const QString capture = writeFile(
            dir, "board.pcap", captureOf({{true, {1, 6, 7}}, {false, reply(1, 9)}}, framing));
        Run run;
        QVERIFY(start(run, {"--replay", capture}));
        QCOMPARE(exchange(run, Bytes{1, 6, 7}), reply(1, 9));
    }

    void replayRefusesWhatIsNoBoardCapture_data() {
        QTest::addColumn<Bytes>("file");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("problem");
        const Bytes whole = captureOf({{true, status()}, {false, reply(0, 1)}});
        const std::string text = "2026-12-09T10:00:00.000Z listening on 127.0.0.1:10001\n";
        QTest::newRow("not a capture") << Bytes(text.begin(), text.end()) << QStringList{}
                                       << "not a capture that libpcap reads (unknown file format)";
        QTest::newRow("empty") << Bytes{} << QStringList{}
                               << "not a capture that libpcap reads (truncated dump file";
        QTest::newRow("truncated") << Bytes(whole.begin(), whole.end() - 3) << QStringList{}
                                   << "damaged or truncated after packet 1 (truncated dump file";
        QTest::newRow("no board traffic")
            << whole << QStringList{"--replay-port", "10002"}
            << "no UDP traffic on port 10002 (--replay-port names the board's port)";
        QTest::newRow("replies only") << captureOf({{false, reply(0, 1)}}) << QStringList{}
                                      << "no requests to port 10001, only 1 datagram from it";
        Bytes snapped = whole;
        putLittle32(snapped, 24 + 8, 28);  // the status request's 29 bytes, less its one byte
        snapped.erase(snapped.begin() + 24 + 16 + 28);
        QTest::newRow("cut by the snap length")
            << snapped << QStringList{}
            << "packet 1 holds 28 of its 29 bytes: captured with too small a snap length";
        Bytes wireless = whole;
        putLittle32(wireless, 20, 105);
        QTest::newRow("another link type")
            << wireless << QStringList{}
            << "link type 105 (IEEE802_11) is not one replayed; raw IPv4, Ethernet and Linux "
               "cooked captures are";
    }
    void replayRefusesWhatIsNoBoardCapture() {
        QFETCH(Bytes, file);
        QFETCH(QStringList, args);
        QFETCH(QString, problem);
        QTemporaryDir dir;
        const QString path = writeFile(dir, "board.pcap", file);
        QProcess process;
        process.start(VARDEK_BOARD_SIM, QStringList{"--port", "0", "--replay", path} + args);
        QVERIFY(process.waitForFinished(kWaitMs));
        QCOMPARE(process.exitCode(), 2);
        const QString error = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(error.startsWith("vardek-board-sim: " + path + ": " + problem), qPrintable(error));
        QVERIFY(process.readAllStandardOutput().isEmpty());
    }

    // A file the simulator is given that is no file of its kind is refused before the
    // simulator is on the network, and left as it was: a FIFO or a device would block its start
    // with the stop signals blocked; someone's file under --pcap would be emptied. A capture
    // with large replies is for loopback only, as --reply-size is.
    void refusesFilesNotItsOwn_data() {
        QTest::addColumn<QString>("kind");      // what is put at the path
        QTest::addColumn<QStringList>("args");  // FILE stands for the path
        QTest::addColumn<QString>("problem");
        const QString noFile = "not a regular file";
        QTest::newRow("--pcap on a FIFO")
            << "fifo" << QStringList{"--pcap", "FILE"} << "FILE: is a named pipe (FIFO), " + noFile;
        QTest::newRow("--pcap on a directory")
            << "directory" << QStringList{"--pcap", "FILE"} << "FILE: is a directory, " + noFile;
        QTest::newRow("--pcap on a readings log")
            << "log" << QStringList{"--pcap", "FILE"}
            << "FILE holds something other than a capture of this simulator's: refused untouched";
        QTest::newRow("--pcap on a capture cut inside a record")
            << "torn capture" << QStringList{"--pcap", "FILE"}
            << "FILE ends inside a record: refused untouched";
        QTest::newRow("--replay on a FIFO") << "fifo" << QStringList{"--replay", "FILE"}
                                            << "FILE: is a named pipe (FIFO), " + noFile;
        QTest::newRow("--replay on a device")
            << "/dev/zero" << QStringList{"--replay", "FILE"} << "FILE: is a device, " + noFile;
        QTest::newRow("--replay of large replies off loopback")
            << "large replies" << QStringList{"--bind", "0.0.0.0", "--replay", "FILE"}
            << "FILE: holds replies of up to 100 bytes, refused with --bind 0.0.0.0: replies "
               "larger than 8 bytes are for a loopback address only";
    }
    void refusesFilesNotItsOwn() {
        QFETCH(QString, kind);
        QFETCH(QStringList, args);
        QFETCH(QString, problem);
        QTemporaryDir dir;
        QString path = dir.filePath("file");
        const std::string log = "time_utc,elapsed_s,result\r\n";
        Bytes torn = captureOf({{true, status()}});
        torn.pop_back();
        if (kind == "fifo") {
            QCOMPARE(::mkfifo(path.toLocal8Bit().constData(), 0600), 0);
        } else if (kind == "directory") {
            QVERIFY(QDir().mkdir(path));
        } else if (kind == "log") {
            QVERIFY(!writeFile(dir, "file", Bytes(log.begin(), log.end())).isEmpty());
        } else if (kind == "torn capture") {
            QVERIFY(!writeFile(dir, "file", torn).isEmpty());
        } else if (kind == "large replies") {
            QVERIFY(
                !writeFile(dir, "file", captureOf({{true, status()}, {false, reply(0, 1, 100)}}))
                     .isEmpty());
        } else {
            path = kind;
        }
        QFile file(path);
        const QByteArray before = QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly)
                                      ? file.readAll()
                                      : QByteArray();
        file.close();
        args.replaceInStrings("FILE", path);
        QProcess process;
        process.start(VARDEK_BOARD_SIM, QStringList{"--port", "0"} + args);
        QVERIFY(process.waitForFinished(kWaitMs));
        QCOMPARE(process.exitCode(), 2);
        const QString error = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(error.contains("vardek-board-sim: " + QString(problem).replace("FILE", path)),
                 qPrintable(error));
        QVERIFY2(!process.readAllStandardOutput().contains("listening on"),
                 "on the network with a file refused");
        if (QFileInfo(path).isFile()) {
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY2(file.readAll() == before, "a refused file was changed");
        }
    }

    // A second run with the same --pcap adds to the capture of the first, which stays whole.
    void captureAppendsToItsOwn() {
        QTemporaryDir dir;
        const QString path = dir.filePath("board.pcap");
        for (int round = 0; round < 2; ++round) {
            Run run;
            QVERIFY(start(run, {"--pcap", path}));
            QCOMPARE(exchange(run, status()).size(), std::size_t{8});
            QVERIFY(waitForLog(run, QRegularExpression(" out 127\\.")).hasMatch());
            run.process.terminate();
            QVERIFY(run.process.waitForFinished(kWaitMs));
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const Bytes header = pcapFileHeader();
        QVERIFY(bytes.startsWith(
            QByteArray(reinterpret_cast<const char*>(header.data()), qsizetype(header.size()))));
        // Two requests of one byte and two replies of eight, each in its IPv4 and UDP headers.
        QCOMPARE(bytes.size(), qsizetype(header.size() + 2 * (16 + 28 + 1) + 2 * (16 + 28 + 8)));
    }

    void refusesABadCommandLine() {
        QProcess process;
        process.start(VARDEK_BOARD_SIM, {"--reply-size", "70000"});
        QVERIFY(process.waitForFinished(kWaitMs));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 2);
        QVERIFY(process.readAllStandardOutput().isEmpty());
        const QString error = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(error.startsWith("vardek-board-sim: --reply-size expects a number"),
                 qPrintable(error));
    }

    void printsHelp() {
        QProcess process;
        process.start(VARDEK_BOARD_SIM, {"--help"});
        QVERIFY(process.waitForFinished(kWaitMs));
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()),
                 QString::fromStdString(helpText()));
    }

    void reportsAPortInUse() {
        QProcess process;
        process.start(VARDEK_BOARD_SIM, {"--port", QString::number(board_->port())});
        QVERIFY(process.waitForFinished(kWaitMs));
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(
            QString::fromUtf8(process.readAllStandardError()).contains("cannot bind 127.0.0.1:"));
    }

  private:
    using Action = ParsedCommandLine::Action;

    static ParsedCommandLine parse(const QStringList& args) {
        std::vector<std::string> storage;
        for (const QString& arg : args) {
            storage.push_back(arg.toStdString());
        }
        const std::vector<std::string_view> views(storage.begin(), storage.end());
        return parseCommandLine(views);
    }

    static bool start(Run& run, const QStringList& args) {
        return vardek::test::startSimulator(run, VARDEK_BOARD_SIM, args);
    }

    void send(const Run& run, const Bytes& request) { board_->sendTo(run.port, request); }

    Bytes receive() { return board_->receive().value_or(Bytes{}); }

    Bytes exchange(const Run& run, const Bytes& request) {
        send(run, request);
        return receive();
    }

    std::unique_ptr<vardek::test::LoopbackBoard> board_;
};

QTEST_GUILESS_MAIN(TestBoardSim)
#include "test_board_sim.moc"
