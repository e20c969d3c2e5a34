// The readings log: its CSV and JSON Lines forms, read back whole and as a growing file, the
// lines a reader must refuse without losing the rest, and the file that keeps whole lines.
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <vector>

#include <sys/resource.h>

#include "readings/log_file.h"
#include "readings/log_format.h"
#include "readings/log_reader.h"
#include "readings/sample.h"

using namespace vardek::readings;
using namespace std::chrono_literals;

using Samples = std::vector<Sample>;
Q_DECLARE_METATYPE(Samples)
Q_DECLARE_METATYPE(Pins)

namespace {

// 2026-12-09T13:20:05.123Z
constexpr UtcTime kNoon{std::chrono::sys_days{std::chrono::year(2026) / 12 / 9} + 13h + 20min + 5s +
                        123ms};

Sample answered(std::chrono::milliseconds elapsed) {
    Sample s;
    s.time = kNoon + elapsed;
    s.elapsed = elapsed;
    s.rttMs = 0.412;
    s.portB = 0x81;
    s.values = {105, 279, 424, 148, 21.5};
    return s;
}

// Everything the reader makes of `text` fed in pieces of `step` bytes, then finished.
LogReader::Batch readAll(LogReader& reader, const std::string& text, std::size_t step) {
    LogReader::Batch all;
    const auto take = [&all](LogReader::Batch batch) {
        all.samples.insert(all.samples.end(), batch.samples.begin(), batch.samples.end());
        all.problems.insert(all.problems.end(), batch.problems.begin(), batch.problems.end());
    };
    for (std::size_t at = 0; at < text.size(); at += step) {
        take(reader.feed(std::string_view(text).substr(at, step)));
    }
    take(reader.finish());
    return all;
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("unreadable");
}

}  // namespace

class TestReadings : public QObject {
    Q_OBJECT

  private slots:
    // What a line of each form holds, character for character.
    void forms() {
        Sample partial = answered(1005ms);
        partial.result = Result::NoReply;
        partial.values[2].reset();
        partial.retries = 2;
        partial.lateReplies = 1;
        const Pins pins = *parsePins("RA2,ra0,RA5");
        QCOMPARE(csvHeader(pins),
                 "time_utc,elapsed_s,result,rtt_ms,port_b,RB0,RB1,RB2,RB3,RB4,RB5,RB6,RB7,RA0,RA2,"
                 "RA5_degC,retries,late_replies\r\n");
        // The time as spreadsheets take a date and time; the column's name says UTC.
        QCOMPARE(
            csvRow(partial, pins),
            "2026-12-09 13:20:06.128,1.005,no-reply,0.412,129,1,0,0,0,0,0,0,1,105,,21.5,2,1\r\n");
        QCOMPARE(jsonLine(partial, pins),
                 "{\"time_utc\":\"2026-12-09T13:20:06.128Z\",\"elapsed_s\":1.005,\"result\":"
                 "\"no-reply\",\"rtt_ms\":0.412,\"port_b\":129,\"RB0\":1,\"RB1\":0,\"RB2\":0,"
                 "\"RB3\":0,\"RB4\":0,\"RB5\":0,\"RB6\":0,\"RB7\":1,\"RA0\":105,\"RA2\":null,"
                 "\"RA5_degC\":21.5,\"retries\":2,\"late_replies\":1}\n");
        Sample none;
        none.result = Result::WrongSize;
        none.replySize = 9;
        QCOMPARE(csvRow(none, *parsePins("RA3")),
                 "1970-01-01 00:00:00.000,0.000,wrong-size:9,,,,,,,,,,,,0,0\r\n");
    }

    // Every sample written comes back as it was, however the file's bytes arrive.
    void roundTrip_data() {
        QTest::addColumn<Pins>("pins");
        QTest::addColumn<Samples>("samples");
        Sample noReply = answered(200ms);
        noReply.result = Result::NoReply;
        noReply.rttMs.reset();
        noReply.portB.reset();
        Sample wrongSize = answered(400ms);
        wrongSize.result = Result::WrongSize;
        wrongSize.replySize = 7;
        wrongSize.values[4].reset();
        Sample notSent = noReply;
        notSent.result = Result::NotSent;
        notSent.values = {};
        // The hottest reading the converter can give, and a day and more in.
        Sample late = answered(90'000'001ms);
        late.values = {0, 1023, 65535, 1, 31999.5};
        // A lossy board's retries and a slow board's late answers, and a sample the log could
        // not hold at its time.
        Sample retried = answered(600ms);
        retried.retries = 3;
        Sample slow = noReply;
        slow.result = Result::Late;
        slow.lateReplies = 1;
        Sample notWritten = notSent;
        notWritten.result = Result::NotWritten;
        QTest::newRow("all pins") << Pins().set()
                                  << Samples{answered(0ms), noReply, wrongSize, notSent,
                                             late,          retried, slow,      notWritten};
        Sample ra5 = answered(0ms);
        ra5.values = {std::nullopt, std::nullopt, std::nullopt, std::nullopt, 21.5};
        QTest::newRow("RA5 only") << *parsePins("RA5") << Samples{ra5};
        Sample bare = answered(0ms);
        bare.values = {};
        QTest::newRow("no pins") << Pins() << Samples{bare, notSent};
    }
    void roundTrip() {
        QFETCH(Pins, pins);
        QFETCH(Samples, samples);
        std::string log = csvHeader(pins);
        for (const Sample& sample : samples) {
            log += csvRow(sample, pins);
        }
        for (const std::size_t step : {log.size(), std::size_t{1}, std::size_t{7}}) {
            LogReader reader;
            const LogReader::Batch read = readAll(reader, log, step);
            QVERIFY2(read.problems.empty(),
                     read.problems.empty() ? "" : read.problems.front().reason.c_str());
            QCOMPARE(reader.pins(), pins);
            QCOMPARE(read.samples.size(), samples.size());
            for (std::size_t i = 0; i < samples.size(); ++i) {
                QVERIFY2(read.samples[i] == samples[i], csvRow(read.samples[i], pins).c_str());
            }
        }
    }

    // Lines a reader must take or refuse; a refused row costs that row alone.
    void reading_data() {
        QTest::addColumn<QByteArray>("log");
        QTest::addColumn<int>("samples");
        QTest::addColumn<QString>("problems");  // "line: reason" each, joined by "; "
        QTest::addColumn<bool>("failed");
        const QByteArray header = "time_utc,elapsed_s,result,rtt_ms,port_b,RA5_degC\r\n";
        const QByteArray row = "2026-12-09T13:20:05.123Z,0.000,ok,0.412,129,21.5\r\n";
        QTest::newRow("LF line ends, a BOM")
            << "\xEF\xBB\xBF" + QByteArray(header).replace("\r\n", "\n") + row +
                   QByteArray(row).replace("\r\n", "\n")
            << 2 << "" << false;
        QTest::newRow("quoted fields, columns moved, one unknown")
            << QByteArray(
                   "\"result\",note,time_utc,elapsed_s\n"
                   "ok,\"a \"\"quoted\"\", comma\",2026-12-09T13:20:05Z,1.5\n")
            << 1 << "" << false;
        QTest::newRow("a line cut short by a power loss, then more rows")
            << header + "2026-12-09T13:20:05.123Z,0.2\r\n" + row << 1
            << "2: 2 fields where the header has 6" << false;
        QTest::newRow("a torn last line") << header + row + "2026-12-09T13:2" << 1
                                          << "3: 1 fields where the header has 6" << false;
        QTest::newRow("a torn last line in quotes")
            << header + row + "\"2026-12-09T13:2\n0" << 1
            << "3: a quote out of place; 4: 1 fields where the header has 6" << false;
        QTest::newRow("no such day, a negative port B, an unknown result")
            << header + "2026-02-30T13:20:05.123Z,0.000,ok,,,\r\n" +
                   "2026-12-09T13:20:05.123Z,0.000,ok,,-1,\r\n" +
                   "2026-12-09T13:20:05.123Z,0.000,lost,,,\r\n" + row
            << 1
            << "2: time_utc '2026-02-30T13:20:05.123Z' cannot be read; 3: port_b '-1' cannot be "
               "read; 4: result 'lost' cannot be read"
            << false;
        QTest::newRow("readings the board cannot give")
            << header + "2026-12-09T13:20:05.123Z,0.000,ok,,,-0.5\r\n" +
                   "2026-12-09T13:20:05.123Z,0.000,ok,,,32000.1\r\n" +
                   "2026-12-09T13:20:05.123Z,0.000,ok,1e300,,\r\n" + row
            << 1
            << "2: RA5_degC '-0.5' cannot be read; 3: RA5_degC '32000.1' cannot be read; 4: "
               "rtt_ms '1e300' cannot be read"
            << false;
        QTest::newRow("a stray quote, a quote left open")
            << header + "2026-12-09T13:20:05.123Z,0.0\"00,ok,,,\r\n" + row + "\"2026" + row +
                   QByteArray(LogReader::kLongestLine, 'x') + "\r\n" + row
            << 2 << "2: a quote out of place; 4: a quote out of place; 5: longer than 4096 bytes"
            << false;
        QByteArray afterAStrayQuote = header + row + "2026-12-09T13:20:05.123Z,\"0.000,ok,,,\r\n";
        for (int i = 0; i < 28; ++i) {
            afterAStrayQuote += row;
        }
        QTest::newRow("a stray quote, the rows after it")
            << afterAStrayQuote << 29 << "3: a quote out of place" << false;
        QTest::newRow("empty") << QByteArray() << 0 << "1: not a readings log: it holds no header"
                               << true;
        QTest::newRow("blank lines only")
            << QByteArray("\r\n\n\r\n") << 0 << "3: not a readings log: it holds no header" << true;
        QTest::newRow("line ends of an old Mac only")
            << QByteArray("\r\r\r") << 0 << "1: not a readings log: it holds no header" << true;
        QTest::newRow("the header alone") << header + "\r\n"
                                          << 0 << "2: holds no rows, only the header" << true;
        QTest::newRow("the time as spreadsheets take it, and as it was written before")
            << QByteArray(
                   "time_utc,elapsed_s,result,retries,late_replies\r\n"
                   "2026-12-09 13:20:05.123,0.000,ok,0,0\r\n"
                   "2026-12-09T13:20:05.623Z,0.500,late,0,1\r\n"
                   "2026-12-09 13:20:06.123Z,1.000,ok,-1,0\r\n"
                   "2026-12-09_13:20:06.623,1.500,ok,0,0\r\n")
            << 2
            << "4: retries '-1' cannot be read; 5: time_utc '2026-12-09_13:20:06.623' cannot be "
               "read"
            << false;
        QTest::newRow("not a log")
            << QByteArray("# board notes\nok\n") << 0
            << "1: not a readings log: no column time_utc in the header" << true;
        QTest::newRow("a column twice") << "time_utc,elapsed_s,result,RA0,RA0\n" + row << 0
                                        << "1: the column RA0 is named twice" << true;
    }
    void reading() {
        QFETCH(QByteArray, log);
        QFETCH(int, samples);
        QFETCH(QString, problems);
        QFETCH(bool, failed);
        LogReader reader;
        const LogReader::Batch read = readAll(reader, log.toStdString(), 5);
        QStringList found;
        for (const LogReader::Problem& problem : read.problems) {
            found
                << QString("%1: %2").arg(problem.line).arg(QString::fromStdString(problem.reason));
        }
        QCOMPARE(found.join("; "), problems);
        QCOMPARE(int(read.samples.size()), samples);
        QCOMPARE(reader.failed(), failed);
    }

    void pinsAndDurations_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("pins");  // the pins' columns, or "refused"
        QTest::addColumn<qint64>("ms");     // -1 refused
        QTest::newRow("all") << "ALL"
                             << "RA0 RA1 RA2 RA3 RA5_degC" << -1LL;
        QTest::newRow("twice, out of order") << "ra5,RA1,RA5"
                                             << "RA1 RA5_degC" << -1LL;
        QTest::newRow("no RA4") << "RA0,RA4"
                                << "refused" << -1LL;
        QTest::newRow("empty item") << "RA0,"
                                    << "refused" << -1LL;
        QTest::newRow("90s") << "90s"
                             << "refused" << 90'000LL;
        QTest::newRow("30min") << "30min"
                               << "refused" << 1'800'000LL;
        QTest::newRow("2h") << "2h"
                            << "refused" << 7'200'000LL;
        QTest::newRow("500ms") << "500ms"
                               << "refused" << 500LL;
        QTest::newRow("no unit") << "90"
                                 << "refused" << -1LL;
        QTest::newRow("zero") << "0s"
                              << "refused" << -1LL;
        QTest::newRow("a fraction") << "1.5h"
                                    << "refused" << -1LL;
        QTest::newRow("space") << "2 h"
                               << "refused" << -1LL;
        QTest::newRow("past a year") << "9000h"
                                     << "refused" << -1LL;
        QTest::newRow("overflow") << "18446744073709551615h"
                                  << "refused" << -1LL;
    }
    void pinsAndDurations() {
        QFETCH(QString, text);
        QFETCH(QString, pins);
        QFETCH(qint64, ms);
        const auto parsed = parsePins(text.toStdString());
        QStringList columns;
        for (std::size_t i = 0; parsed && i < parsed->size(); ++i) {
            if (parsed->test(i)) {
                columns << QString::fromUtf8(columnName(vardek::link::kChannels[i]).data());
            }
        }
        QCOMPARE(parsed ? columns.join(' ') : QString("refused"), pins);
        const auto duration = parseDuration(text.toStdString());
        QCOMPARE(duration ? qint64(duration->count()) : -1LL, ms);
    }

    // The header once, then rows after it on every later run; another log's file refused
    // untouched; a torn line ended before the next row.
    void appending() {
        QTemporaryDir dir;
        const QString path = dir.filePath("soak.csv");
        const Pins ra5 = *parsePins("RA5");
        const std::string row = csvRow(answered(0ms), ra5);
        for (int run = 0; run < 2; ++run) {
            LogFile log;
            QCOMPARE(log.open(path.toStdString(), csvHeader(ra5)), "");
            QCOMPARE(log.append(row), "");
        }
        const QByteArray twice = QByteArray::fromStdString(csvHeader(ra5) + row + row);
        QCOMPARE(contents(path), twice);

        LogFile other;
        const std::string refused = other.open(path.toStdString(), csvHeader(Pins().set()));
        QVERIFY2(refused.find("soak.csv holds lines that are not a log of these columns") !=
                     std::string::npos,
                 refused.c_str());
        QCOMPARE(contents(path), twice);

        QFile torn(path);
        QVERIFY(torn.open(QIODevice::Append));
        torn.write("2026-12-09T13:2");
        torn.close();
        LogFile log;
        QCOMPARE(log.open(path.toStdString(), csvHeader(ra5)), "");
        QCOMPARE(log.append(row), "");
        QCOMPARE(contents(path), twice + "2026-12-09T13:2\r\n" + QByteArray::fromStdString(row));
    }

    // A log whose name comes to lead elsewhere while it is written, as logrotate and a person
    // at a shell do it: the next line goes to the name again, under a header where the file is
    // new or empty, and what happened is told; another program's file there is refused as
    // open() refuses it.
    void aLostFileIsBegunAgain_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("notice");
        QTest::addColumn<bool>("refused");
        QTest::newRow("deleted") << "rm"
                                 << "soak.csv was deleted: a new log begins there" << false;
        QTest::newRow("moved away, a new log made there")
            << "mv-create"
            << "soak.csv was replaced: a new log begins there" << false;
        QTest::newRow("renamed over by someone else's file") << "mv-over"
                                                             << "" << true;
        QTest::newRow("truncated (copytruncate)")
            << "truncate"
            << "soak.csv was truncated: a new log begins there" << false;
        QTest::newRow("left alone") << ""
                                    << "" << false;
    }
    void aLostFileIsBegunAgain() {
        QFETCH(QString, change);
        QFETCH(QString, notice);
        QFETCH(bool, refused);
        QTemporaryDir dir;
        const QString path = dir.filePath("soak.csv");
        const Pins ra5 = *parsePins("RA5");
        const std::string row = csvRow(answered(0ms), ra5);
        LogFile log;
        QCOMPARE(log.open(path.toStdString(), csvHeader(ra5)), "");
        QCOMPARE(log.append(row), "");
        QCOMPARE(log.append(row), "");
        const QByteArray notes("bench notes\n");
        if (change == "rm") {
            QVERIFY(QFile::remove(path));
        } else if (change == "mv-create" || change == "mv-over") {
            QVERIFY(QFile::rename(path, path + ".1"));
            QFile made(path);
            QVERIFY(made.open(QIODevice::WriteOnly));
            made.write(change == "mv-over" ? notes : QByteArray::fromStdString(csvHeader(ra5)));
        } else if (change == "truncate") {
            QVERIFY(QFile::resize(path, 0));
        }
        const std::string problem = log.append(row);
        QCOMPARE(QString::fromStdString(log.notice()).remove(dir.path() + '/'), notice);
        if (refused) {
            QVERIFY2(problem.find("holds lines that are not a log of these columns") !=
                         std::string::npos,
                     problem.c_str());
            QCOMPARE(contents(path), notes);
            return;
        }
        QCOMPARE(problem, "");
        const QByteArray expected = QByteArray::fromStdString(
            csvHeader(ra5) + (change.isEmpty() ? row + row : std::string()) + row);
        QCOMPARE(contents(path), expected);
    }

    // A file that cannot grow (a full disk; here the size limit, which fails the same way part
    // of the way through a line) keeps whole lines, and the failure names the file.
    void aFullDiskLeavesWholeLines() {
        QTemporaryDir dir;
        const QString path = dir.filePath("full.csv");
        const std::string header = csvHeader(Pins().set());
        const std::string row = csvRow(answered(0ms), Pins().set());
        LogFile log;
        QCOMPARE(log.open(path.toStdString(), header), "");
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        rlimit small = saved;
        small.rlim_cur = header.size() + row.size() + row.size() / 2;
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
        const std::string first = log.append(row);
        const std::string second = log.append(row);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        QCOMPARE(first, "");
        QCOMPARE(second, "cannot write to " + path.toStdString() + ": File too large");
        QCOMPARE(contents(path), QByteArray::fromStdString(header + row));
    }
};

QTEST_GUILESS_MAIN(TestReadings)
#include "test_readings.moc"
