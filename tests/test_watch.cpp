// vardek-probe watch as a readings log, against the simulator on an ephemeral loopback port: the
// CSV read back by Python's csv module and the JSON Lines by a JSON parser, every dropped reply an
// empty field in its own sample and never an old value, whole lines after a stop, and the log
// files it must not write to.
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include "tests/simulator_run.h"

namespace {

using vardek::test::kWaitMs;

const QStringList kHeader =
    QString(
        "time_utc,elapsed_s,result,rtt_ms,port_b,RB0,RB1,RB2,RB3,RB4,RB5,RB6,RB7,RA0,RA1,RA2,"
        "RA3,RA5_degC")
        .split(',');
// The columns of the status request's reply; the analogue pins' follow.
const QStringList kStatusColumns{"rtt_ms", "port_b", "RB0", "RB1", "RB2",
                                 "RB3",    "RB4",    "RB5", "RB6", "RB7"};

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The rows of a CSV file as Python's csv module reads them; the parser's message when it
// refuses the file.
QList<QStringList> readCsv(const QString& path, QString& problem) {
    QProcess reader;
    reader.start(VARDEK_READ_CSV, {path});
    if (!reader.waitForFinished(kWaitMs) || reader.exitCode() != 0) {
        problem = "read_csv.py: " + QString::fromUtf8(reader.readAllStandardError());
        return {};
    }
    QList<QStringList> rows;
    for (const QJsonValue row : QJsonDocument::fromJson(reader.readAllStandardOutput()).array()) {
        QStringList fields;
        for (const QJsonValue field : row.toArray()) {
            fields << field.toString();
        }
        rows << fields;
    }
    return rows;
}

// The log's records by column name, an empty CSV field as null; the header's names first.
struct Log {
    QStringList header;
    QList<QVariantMap> records;
    QString problem;
};

Log readLog(const QString& path, bool json) {
    Log log;
    if (json) {
        for (const QByteArray& line : contents(path).split('\n')) {
            if (line.isEmpty()) {
                continue;
            }
            QJsonParseError error{};
            const QJsonObject object = QJsonDocument::fromJson(line, &error).object();
            if (error.error != QJsonParseError::NoError) {
                log.problem = "not JSON: " + QString::fromUtf8(line);
                return log;
            }
            log.records << object.toVariantMap();
            log.header = object.keys();
        }
        return log;
    }
    const QList<QStringList> rows = readCsv(path, log.problem);
    if (rows.isEmpty()) {
        return log;
    }
    log.header = rows.front();
    for (const QStringList& row : rows.mid(1)) {
        if (row.size() != log.header.size()) {
            log.problem = QString("%1 fields under a header of %2: %3")
                              .arg(row.size())
                              .arg(log.header.size())
                              .arg(row.join(','));
            return log;
        }
        QVariantMap record;
        for (qsizetype i = 0; i < row.size(); ++i) {
            record[log.header[i]] = row[i].isEmpty() ? QVariant() : QVariant(row[i]);
        }
        log.records << record;
    }
    return log;
}

}  // namespace

class TestWatch : public QObject {
    Q_OBJECT

  private slots:
    void log_data() {
        QTest::addColumn<QStringList>("simulatorArgs");
        QTest::addColumn<QStringList>("args");    // FILE stands for the log's path
        QTest::addColumn<QByteArray>("earlier");  // the file before; null for none
        QTest::addColumn<int>("runs");            // of the same command, one after the other
        QTest::addColumn<int>("signal");          // sent once 3 rows are in the file; 0 none
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("err");       // a pattern
        QTest::addColumn<QStringList>("pins");  // the analogue columns
        QTest::addColumn<int>("rows");          // -1 for as many as came before the signal
        QTest::addColumn<int>("dropEvery");     // the simulator's --drop-every; 0 none

        const QStringList all{"RA0", "RA1", "RA2", "RA3", "RA5_degC"};
        // A reply that does not come costs its timeout, and as long again waiting for a late
        // answer: short, yet far above a loopback round trip on a loaded machine, so only the
        // dropped ones count as missing, and two of them within a sample's interval.
        const QStringList once{"--timeout", "100", "--retries", "0"};
        const QStringList drops{"--drop-every", "4"};
        // Six requests a sample: a read of every pin drops one or two a sample.
        QTest::newRow("CSV, reads dropped")
            << drops << once + QStringList{"watch",      "--read", "all",     "--csv",
                                           "--interval", "500",    "--count", "4"}
            << QByteArray() << 1 << 0 << 1 << "^$" << all << 4 << 4;
        // Three requests a sample: the second sample's status request is dropped.
        QTest::newRow("JSON Lines, a status request dropped")
            << drops << once + QStringList{"--json",     "watch", "--read",  "RA2,ra1",
                                           "--interval", "500",   "--count", "4"}
            << QByteArray() << 1 << 0 << 1 << "^$" << QStringList{"RA1", "RA2"} << 4 << 4;
        QTest::newRow("appended to a file, the header once")
            << QStringList{} << QStringList{"watch",      "--read", "RA5",     "--output", "FILE",
                                            "--interval", "20",     "--count", "3"}
            << QByteArray() << 2 << 0 << 0 << "^$" << QStringList{"RA5_degC"} << 6 << 0;
        QTest::newRow("for a duration")
            << QStringList{}
            << QStringList{"watch", "--csv", "--interval", "500", "--duration", "2s"}
            << QByteArray() << 1 << 0 << 0 << "^$" << QStringList{} << 4 << 0;
        QTest::newRow("SIGTERM in the middle")
            << QStringList{}
            << QStringList{"watch", "--read", "all", "--output", "FILE", "--interval", "10"}
            << QByteArray() << 1 << SIGTERM << 143 << "^$" << all << -1 << 0;
        QTest::newRow("a file that holds something else")
            << QStringList{} << QStringList{"watch", "--read", "RA5", "--output", "FILE"}
            << QByteArray("bench notes\n") << 1 << 0 << 6
            << "^vardek-probe: \\S+/log holds lines that are not a log of these columns: its "
               "first line is 'bench notes'"
            << QStringList{} << 0 << 0;
        QTest::newRow("JSON Lines onto a CSV log")
            << QStringList{} << QStringList{"--json", "watch", "--output", "FILE"}
            << QByteArray("time_utc,elapsed_s,result,rtt_ms,port_b\r\n") << 1 << 0 << 6
            << "log holds lines that are not a log of these columns: its first line is "
               "'time_utc,elapsed_s,result,rtt_ms,port_b', where one starting \\{\"time_utc\":"
            << QStringList{} << 0 << 0;
        QTest::newRow("a full disk")
            << QStringList{} << QStringList{"watch", "--read", "RA5", "--output", "/dev/full"}
            << QByteArray() << 1 << 0 << 6
            << "^vardek-probe: cannot write to /dev/full: No space left on device\n$"
            << QStringList{} << 0 << 0;
    }
    void log() {
        QFETCH(QStringList, simulatorArgs);
        QFETCH(QStringList, args);
        QFETCH(QByteArray, earlier);
        QFETCH(int, runs);
        QFETCH(int, signal);
        QFETCH(int, exitCode);
        QFETCH(QString, err);
        QFETCH(QStringList, pins);
        QFETCH(int, rows);
        QFETCH(int, dropEvery);

        vardek::test::SimulatorRun simulator;
        QVERIFY(vardek::test::startSimulator(simulator, VARDEK_BOARD_SIM,
                                             QStringList{"--seed", "3"} + simulatorArgs));
        QTemporaryDir dir;
        const QString path = dir.filePath("log");
        const bool toFile = args.contains("FILE");
        args.replaceInStrings(QRegularExpression("^FILE$"), path);
        if (!earlier.isNull()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(earlier) == earlier.size());
        }
        const QStringList common{"--board", "127.0.0.1", "--port", QString::number(simulator.port)};
        QByteArray out;
        for (int run = 0; run < runs; ++run) {
            QProcess probe;
            probe.start(VARDEK_PROBE, common + args);
            if (signal != 0) {
                QTRY_VERIFY_WITH_TIMEOUT(contents(path).count('\n') > 3, kWaitMs);
                ::kill(pid_t(probe.processId()), signal);
            }
            QVERIFY(probe.waitForFinished(kWaitMs));
            const QString stderrText = QString::fromUtf8(probe.readAllStandardError());
            QVERIFY2(probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == exitCode,
                     qPrintable(QString("exit %1: %2").arg(probe.exitCode()).arg(stderrText)));
            QVERIFY2(QRegularExpression(err).match(stderrText).hasMatch(), qPrintable(stderrText));
            out += probe.readAllStandardOutput();
        }
        if (exitCode == 6) {
            QCOMPARE(contents(path), earlier);
            return;
        }
        if (!toFile) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(out) == out.size());
        } else {
            QVERIFY(out.isEmpty());
        }
        // Whole lines only, each ended as RFC 4180 ends them, also after a signal.
        const QByteArray bytes = contents(path);
        const bool json = args.contains("--json");
        QVERIFY2(bytes.endsWith(json ? "}\n" : "\r\n"), bytes.right(80).constData());

        const Log log = readLog(path, json);
        QVERIFY2(log.problem.isEmpty(), qPrintable(log.problem));
        QStringList header =
            kHeader.mid(0, kHeader.indexOf("RA0")) + pins + QStringList{"retries", "late_replies"};
        if (json) {
            // A JSON object's names come back sorted.
            header.sort();
        }
        QCOMPARE(log.header, header);
        if (rows >= 0) {
            QCOMPARE(log.records.size(), qsizetype(rows));
        } else {
            QVERIFY(log.records.size() >= 3);
        }

        QString previousTime;
        double previousElapsed = -1;
        for (qsizetype k = 0; k < log.records.size(); ++k) {
            const QVariantMap& record = log.records[k];
            const QString time = record["time_utc"].toString();
            const QString where = QString("sample %1: %2").arg(k).arg(time);
            // CSV's time as spreadsheets take a date and time, JSON's with its zone.
            QVERIFY2(QRegularExpression(json ? R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$)"
                                             : R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}$)")
                         .match(time)
                         .hasMatch(),
                     qPrintable(where));
            // Each row has a slot of its own; a second run of the log starts its elapsed time
            // again.
            const double elapsed = record["elapsed_s"].toDouble();
            QVERIFY2(time > previousTime && (elapsed > previousElapsed || elapsed == 0),
                     qPrintable(where));
            QCOMPARE(record["retries"].toString(), "0");
            previousTime = time;
            previousElapsed = elapsed;

            // The simulator counts requests from 1 across the samples: the status request, then
            // a read of each pin in the columns' order. Each dropped reply leaves its own fields
            // empty, and only those.
            bool missed = false;
            const auto dropped = [&](qsizetype request) {
                const qsizetype n = k * (1 + pins.size()) + request + 1;
                const bool drop = dropEvery != 0 && n % dropEvery == 0;
                missed = missed || drop;
                return drop;
            };
            const bool statusDropped = dropped(0);
            for (const QString& column : kStatusColumns) {
                QVERIFY2(record[column].isNull() == statusDropped,
                         qPrintable(where + ' ' + column));
            }
            if (!statusDropped) {
                const int portB = record["port_b"].toInt();
                for (int bit = 0; bit < 8; ++bit) {
                    QCOMPARE(record[QString("RB%1").arg(bit)].toInt(), portB >> bit & 1);
                }
            }
            for (qsizetype i = 0; i < pins.size(); ++i) {
                const QVariant value = record[pins[i]];
                QVERIFY2(value.isNull() == dropped(i + 1), qPrintable(where + ' ' + pins[i]));
                const QString text = value.toString();
                const bool celsius = pins[i] == "RA5_degC";
                QVERIFY2(
                    value.isNull() || QRegularExpression(celsius ? R"(^\d+(\.\d)?$)" : R"(^\d+$)")
                                          .match(text)
                                          .hasMatch(),
                    qPrintable(where + ' ' + pins[i] + '=' + text));
            }
            QCOMPARE(record["result"].toString(), missed ? "no-reply" : "ok");
        }
    }

    // Faults switched through the simulator's control socket once the log has begun: every slot
    // has its row, an interval after the one before whatever the board did, and the rows of an
    // outage say why they missed, the retries of a lossy board and the late answers of a slow
    // one counted.
    void schedule_data() {
        QTest::addColumn<QByteArray>("fault");  // the control command
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("missedAs");  // the result of every missed row
        QTest::addColumn<bool>("retried");      // some row counts a retry
        QTest::addColumn<bool>("lateCounted");  // some row counts a late reply
        const QStringList watch{"watch", "--read", "RA0,RA5", "--count", "16", "--output", "FILE"};
        // A silence within the run: its slots are missed rows, and no row catches up later.
        QTest::newRow("silent for a second") << QByteArray("silent 1")
                                             << QStringList{"--timeout", "100", "--retries", "0"} +
                                                    watch + QStringList{"--interval", "200"}
                                             << 1 << "no-reply" << false << false;
        // Answers after the timeout, waited out and told apart from none.
        QTest::newRow("slower than the timeout")
            << QByteArray("delay 150")
            << QStringList{"--timeout", "100", "--retries", "0"} + watch +
                   QStringList{"--interval", "400"}
            << 1 << "late" << false << true;
        // Every third request dropped, each answered on its retry: every row ok, the loss
        // counted.
        QTest::newRow("a lossy board retried")
            << QByteArray("drop-every 3")
            << QStringList{"--timeout", "100", "--retries", "2"} + watch +
                   QStringList{"--interval", "800"}
            << 0 << "" << true << false;
    }
    void schedule() {
        QFETCH(QByteArray, fault);
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, missedAs);
        QFETCH(bool, retried);
        QFETCH(bool, lateCounted);
        QTemporaryDir dir;
        const QString control = dir.filePath("control");
        vardek::test::SimulatorRun simulator;
        QVERIFY(vardek::test::startSimulator(simulator, VARDEK_BOARD_SIM,
                                             {"--seed", "3", "--control", control}));
        const QString path = dir.filePath("log");
        args.replaceInStrings(QRegularExpression("^FILE$"), path);
        QProcess probe;
        probe.start(
            VARDEK_PROBE,
            QStringList{"--board", "127.0.0.1", "--port", QString::number(simulator.port)} + args);
        QTRY_VERIFY_WITH_TIMEOUT(contents(path).count('\n') > 2, kWaitMs);
        vardek::test::ControlClient client(control);
        QCOMPARE(client.command(fault), "ok");
        QVERIFY(probe.waitForFinished(kWaitMs * 2));
        QCOMPARE(probe.exitCode(), exitCode);

        const Log log = readLog(path, false);
        QVERIFY2(log.problem.isEmpty(), qPrintable(log.problem));
        QCOMPARE(log.records.size(), 16);
        const int interval = args.at(args.indexOf("--interval") + 1).toInt();
        const QDateTime first = QDateTime::fromString(log.records.front()["time_utc"].toString(),
                                                      "yyyy-MM-dd HH:mm:ss.zzz");
        int missed = 0;
        bool sawRetry = false;
        bool sawLate = false;
        for (qsizetype k = 0; k < log.records.size(); ++k) {
            const QVariantMap& record = log.records[k];
            const QString where = QString("row %1: %2").arg(k).arg(record["time_utc"].toString());
            QCOMPARE(
                QDateTime::fromString(record["time_utc"].toString(), "yyyy-MM-dd HH:mm:ss.zzz"),
                first.addMSecs(k * interval));
            QCOMPARE(record["elapsed_s"].toString(),
                     QString::number(k * interval / 1000.0, 'f', 3));
            const QString result = record["result"].toString();
            if (result != "ok") {
                ++missed;
                QVERIFY2(result == missedAs, qPrintable(where + ' ' + result));
                QVERIFY2(record["RA5_degC"].isNull() || record["RA0"].isNull(), qPrintable(where));
            }
            sawRetry = sawRetry || record["retries"].toInt() > 0;
            sawLate = sawLate || record["late_replies"].toInt() > 0;
        }
        QCOMPARE(missed > 0, !missedAs.isEmpty());
        QCOMPARE(sawRetry, retried);
        QCOMPARE(sawLate, lateCounted);
    }
};

QTEST_GUILESS_MAIN(TestWatch)
#include "test_watch.moc"
