// The results store against real databases: SQLite, and a PostgreSQL 15 server that the test
// starts itself. Its answers against a hand-computed fixture, files that are no store, the
// server stopped mid-shift, a writer killed mid-write and two writers at once.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>
#include <sys/stat.h>

#include "results/answers.h"
#include "results/store.h"
#include "tests/postgres_server.h"
#include "tests/simulator_run.h"

using namespace vardek;
using namespace vardek::test;

namespace {

bool allToolsRequired() { return qgetenv("VARDEK_REQUIRE_ALL_TOOLS") == "1"; }

std::int64_t utc(const char* text) { return *results::parseUtc(text); }

results::MeasurementRecord ra5(double value, const char* outcome) {
    return {"analogue", "RA5", value, "℃", 0.0, 35.0, 5.0, 30.0, outcome};
}
results::MeasurementRecord ra0(double value, const char* outcome) {
    return {"analogue", "RA0",        value,        "",     std::nullopt,
            1023.0,     std::nullopt, std::nullopt, outcome};
}

// Five records of three serials, two stations, two days: the figures in answers_data are
// worked out by hand from these.
std::vector<results::UnitRecord> fixture() {
    const auto unit = [](const char* serial, const char* station, const char* who,
                         const char* start, const char* outcome, results::MeasurementRecord a,
                         results::MeasurementRecord b) {
        results::UnitRecord r;
        r.id = results::newRecordId();
        r.serial = serial;
        r.station = station;
        r.operatorName = who;
        r.version = "vardek-probe 0.2.0";
        r.board = "127.0.0.1:10001";
        r.startMs = utc(start);
        r.endMs = r.startMs + 1500;
        r.outcome = outcome;
        r.checks = {{"reachable", "PASS", "5/5 answered"},
                    {"analogue", outcome, std::string(outcome) == "FAIL" ? "RA5 outside" : ""}};
        r.measurements = {a, b};
        return r;
    };
    return {
        unit("SN1", "EOL-1", "kim", "2026-12-01T06:00", "FAIL", ra5(40, "FAIL"), ra0(100, "PASS")),
        unit("SN1", "EOL-1", "kim", "2026-12-01T07:00", "PASS", ra5(20, "PASS"), ra0(200, "PASS")),
        unit("SN2", "EOL-2", "lee", "2026-12-01T09:00", "MARGINAL", ra5(31, "MARGINAL"),
             ra0(300, "PASS")),
        unit("SN3", "EOL-2", "lee", "2026-12-02T17:00", "FAIL", ra5(-1, "FAIL"), ra0(2000, "FAIL")),
        unit("SN3", "EOL-2", "lee", "2026-12-02T18:00", "FAIL", ra5(50, "FAIL"), ra0(400, "PASS")),
    };
}

std::optional<results::Store> openStore(
    const QString& where, std::string& problem,
    results::Store::Creating creating = results::Store::Creating::Allowed) {
    const auto location = host::parseResultsLocation(where.toStdString());
    results::Store::Failure failure{};
    return location ? results::Store::open(*location, problem, failure, creating) : std::nullopt;
}

long long count(results::Store& store, const QString& sql) {
    QSqlQuery query(store.database());
    return query.exec(sql) && query.next() ? query.value(0).toLongLong() : -1;
}

// Every unit whole: as many checks and measurements as its writer gives each.
long long brokenUnits(results::Store& store, int checks, int measurements) {
    return count(store, QStringLiteral("SELECT COUNT(*) FROM units u WHERE (SELECT COUNT(*) FROM "
                                       "checks c WHERE c.unit_id = u.id) <> %1 OR (SELECT "
                                       "COUNT(*) FROM measurements m WHERE m.unit_id = u.id) <> %2")
                            .arg(checks)
                            .arg(measurements));
}

}  // namespace

class TestResults : public QObject {
    Q_OBJECT

    QTemporaryDir folder_;
    std::unique_ptr<PostgresServer> server_;
    QString serverProblem_;
    int databases_ = 0;

    // A new empty store of `backend` ("sqlite" or "postgresql"); skips or fails the test
    // where PostgreSQL is missing.
    QString newStore(const QString& backend) {
        ++databases_;
        if (backend == QLatin1String("sqlite")) {
            return folder_.filePath(QStringLiteral("store%1.db").arg(databases_));
        }
        if (!server_) {
            if (allToolsRequired()) {
                qFatal("PostgreSQL: %s, and VARDEK_REQUIRE_ALL_TOOLS=1",
                       qPrintable(serverProblem_));
            }
            return {};
        }
        QString problem;
        const QString uri = server_->createDatabase(QStringLiteral("t%1").arg(databases_), problem);
        if (uri.isEmpty()) {
            qWarning("createdb: %s", qPrintable(problem));
        }
        return uri;
    }

#define NEW_STORE(variable, backend)                                                            \
    const QString variable = newStore(backend);                                                 \
    if (variable.isEmpty()) {                                                                   \
        QSKIP(qPrintable(QStringLiteral("PostgreSQL 15 is not available: ") + serverProblem_)); \
    }

  private slots:
    void initTestCase() {
        QVERIFY(folder_.isValid());
        if (!PostgresServer::installed()) {
            serverProblem_ = PostgresServer::binaries() + QStringLiteral("/postgres is missing");
            return;
        }
        server_ = std::make_unique<PostgresServer>();
        serverProblem_ = server_->start();
        if (!serverProblem_.isEmpty()) {
            server_.reset();
        }
    }

    void answers_data() {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("since");
        QTest::addColumn<QString>("station");
        QTest::addColumn<int>("grouping");
        QTest::addColumn<QString>("csv");
        using results::Answer;
        using results::Grouping;
        const struct {
            const char* name;
            Answer answer;
            const char* since;
            const char* station;
            Grouping grouping;
            const char* csv;
        } rows[] = {
            // SN1 fails first and passes its retest, SN2 passes marginally, SN3 fails twice.
            {"yield", Answer::Yield, "", "", Grouping::None,
             "records,units,first_pass,first_pass_yield,final_pass,final_yield,retests\r\n"
             "5,3,1,0.333333,2,0.666667,2\r\n"},
            // From 06:30 SN1's first record is its pass.
            {"yield since", Answer::Yield, "2026-12-01T06:30", "", Grouping::None,
             "records,units,first_pass,first_pass_yield,final_pass,final_yield,retests\r\n"
             "4,3,2,0.666667,2,0.666667,1\r\n"},
            {"yield by station", Answer::Yield, "", "", Grouping::Station,
             "station,records,units,first_pass,first_pass_yield,final_pass,final_yield,retests\r\n"
             "EOL-1,2,1,0,0,1,1,1\r\nEOL-2,3,2,1,0.5,1,0.5,1\r\n"},
            {"yield by shift", Answer::Yield, "", "", Grouping::Shift,
             "shift,records,units,first_pass,first_pass_yield,final_pass,final_yield,retests\r\n"
             "2026-12-01 00-08,2,1,0,0,1,1,1\r\n2026-12-01 08-16,1,1,1,1,1,1,0\r\n"
             "2026-12-02 16-24,2,1,0,0,0,0,1\r\n"},
            // RA5 failed three times and was marginal once; RA0 failed once.
            {"pareto", Answer::Pareto, "", "", Grouping::None,
             "measurement,failed,marginal,share,cumulative\r\nRA5,3,1,0.75,0.75\r\n"
             "RA0,1,0,0.25,1\r\n"},
            {"pareto of one station", Answer::Pareto, "", "EOL-1", Grouping::None,
             "measurement,failed,marginal,share,cumulative\r\nRA5,1,0,1,1\r\n"},
            // RA5: 40 20 31 -1 50, mean 28, s = sqrt(1542 / 4); RA0: 100 200 300 2000 400,
            // mean 600, s = sqrt(2500000 / 4), its one limit 1023.
            {"cpk", Answer::Cpk, "", "", Grouping::None,
             "measurement,unit,low,high,n,mean,stddev,cp,cpk,outside_marginal,mark\r\n"
             "RA5,℃,0,35,5,28,19.634154,0.29710133,0.11884053,0.8,below 1.33\r\n"
             "RA0,,,1023,5,600,790.56942,,0.17835246,0,below 1.33\r\n"},
        };
        for (const char* backend : {"sqlite", "postgresql"}) {
            for (const auto& row : rows) {
                QTest::addRow("%s %s", backend, row.name)
                    << QString::fromLatin1(backend) << int(row.answer)
                    << QString::fromLatin1(row.since) << QString::fromLatin1(row.station)
                    << int(row.grouping) << QString::fromUtf8(row.csv);
            }
        }
    }

    void answers() {
        QFETCH(QString, backend);
        QFETCH(int, answer);
        QFETCH(QString, since);
        QFETCH(QString, station);
        QFETCH(int, grouping);
        QFETCH(QString, csv);
        NEW_STORE(where, backend);
        std::string problem;
        auto store = openStore(where, problem);
        QVERIFY2(store, problem.c_str());
        QVERIFY2(store->insert(fixture(), problem), problem.c_str());
        results::Filter filter;
        if (!since.isEmpty()) {
            filter.sinceMs = utc(since.toLatin1().constData());
        }
        filter.station = station.toStdString();
        results::Table table;
        QVERIFY2(results::answer(*store, results::Answer(answer), filter,
                                 results::Grouping(grouping), table, problem),
                 problem.c_str());
        QCOMPARE(QString::fromStdString(results::csvTable(table)), csv);
    }

    // Nothing but a store of ours is written: what is in the file's place stays as it was. An
    // answer asked of a path without a store says so, and makes none.
    void notAStoreIsRefused_data() {
        QTest::addColumn<QByteArray>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("nothing") << QByteArray("nothing") << "no results store there";
        QTest::newRow("an empty file") << QByteArray("empty") << "holds no results store";
        QTest::newRow("text") << QByteArray("text") << "not a results store";
        QTest::newRow("another program's database")
            << QByteArray("other") << "holds tables of something else (inventory)";
        QTest::newRow("a newer program's store")
            << QByteArray("newer") << "written by a newer program (schema version 99";
        QTest::newRow("fifo") << QByteArray("fifo") << "not a regular file";
    }

    void notAStoreIsRefused() {
        QFETCH(QByteArray, kind);
        QFETCH(QString, message);
        const QString path = folder_.filePath(QStringLiteral("refused-") + kind);
        if (kind == "fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind == "text" || kind == "empty") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            if (kind == "text") {
                file.write("board=127.0.0.1\nthis is no database, and must stay as it is\n");
            }
        } else if (kind == "other") {
            {
                QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "other");
                other.setDatabaseName(path);
                QVERIFY(other.open());
                QVERIFY(QSqlQuery(other).exec("CREATE TABLE inventory (item TEXT)"));
            }
            QSqlDatabase::removeDatabase("other");
        } else if (kind == "newer") {
            std::string problem;
            auto store = openStore(path, problem);
            QVERIFY(store);
            QVERIFY(QSqlQuery(store->database())
                        .exec("UPDATE store_info SET value = '99' WHERE key = 'schema_version'"));
        }
        const QByteArray before = kind == "fifo" ? QByteArray() : [&] {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }();
        std::string problem;
        QVERIFY(!openStore(path, problem, results::Store::Creating::Refused));
        QVERIFY2(QString::fromStdString(problem).contains(message), problem.c_str());
        QProcess probe;
        probe.start(QStringLiteral(VARDEK_PROBE), {"results", "--results", path, "yield"});
        QVERIFY(probe.waitForFinished(60000));
        QCOMPARE(probe.exitCode(), 2);
        const QString errors = QString::fromUtf8(probe.readAllStandardError());
        QVERIFY2(errors.contains(message), qPrintable(errors));
        if (kind == "nothing") {
            QVERIFY2(!QFileInfo::exists(path), "an answer made a store");
        } else if (kind != "fifo") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), before);
        }
    }

    // A writer killed at any moment leaves every unit whole or absent, and each one it had
    // committed present.
    void killedMidWrite_data() {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << "sqlite";
        QTest::newRow("postgresql") << "postgresql";
    }

    void killedMidWrite() {
        QFETCH(QString, backend);
        NEW_STORE(where, backend);
        QProcess writer;
        writer.start(QStringLiteral(VARDEK_RESULTS_WRITER), {where, QStringLiteral("100000")});
        QByteArray out;
        QVERIFY(waitUntil(
            [&] {
                out += writer.readAllStandardOutput();
                return out.count('\n') > 60 || writer.state() == QProcess::NotRunning;
            },
            60000));
        QCOMPARE(writer.state(), QProcess::Running);
        ::kill(static_cast<pid_t>(writer.processId()), SIGKILL);
        writer.waitForFinished(10000);
        out += writer.readAllStandardOutput();
        const long long committed = out.count('\n') - 1;  // after "ready"
        std::string problem;
        auto store = openStore(where, problem);
        QVERIFY2(store, problem.c_str());
        QVERIFY(count(*store, QStringLiteral("SELECT COUNT(*) FROM units")) >= committed);
        QCOMPARE(brokenUnits(*store, 5, 20), 0);
    }

    // Two stations writing into one store at once: every record of both, once.
    void twoWriters_data() { killedMidWrite_data(); }

    void twoWriters() {
        QFETCH(QString, backend);
        NEW_STORE(where, backend);
        QProcess writers[2];
        for (QProcess& writer : writers) {
            writer.start(QStringLiteral(VARDEK_RESULTS_WRITER),
                         {where, QStringLiteral("200"), QStringLiteral("10")});
        }
        for (QProcess& writer : writers) {
            QVERIFY(writer.waitForFinished(120000));
            QVERIFY2(writer.exitCode() == 0, writer.readAllStandardError().constData());
        }
        std::string problem;
        auto store = openStore(where, problem);
        QVERIFY2(store, problem.c_str());
        QCOMPARE(count(*store, QStringLiteral("SELECT COUNT(DISTINCT record_id) FROM units")), 400);
        QCOMPARE(count(*store, QStringLiteral("SELECT COUNT(*) FROM units")), 400);
        QCOMPARE(brokenUnits(*store, 5, 10), 0);
    }

    // The server stopped mid-shift: the runs go on and say where their records wait, and once
    // it is back each record arrives once, however often the spool is sent.
    void serverStoppedMidShift() {
        NEW_STORE(where, QStringLiteral("postgresql"));
        SimulatorRun simulator;
        QVERIFY(startSimulator(simulator, QStringLiteral(VARDEK_BOARD_SIM), {"--seed", "3"}));
        QTemporaryDir config;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        const auto probe = [&](const QStringList& args, QString* errors = nullptr) {
            QProcess process;
            process.setProcessEnvironment(environment);
            process.start(QStringLiteral(VARDEK_PROBE), args);
            process.waitForFinished(60000);
            if (errors != nullptr) {
                *errors = QString::fromUtf8(process.readAllStandardError());
            }
            return process.exitCode();
        };
        const auto check = [&](const QString& serial, QString* errors = nullptr) {
            return probe({"--board", "127.0.0.1", "--port", QString::number(simulator.port),
                          "check", "--dut-id", serial, "--results", where},
                         errors);
        };
        QCOMPARE(check(QStringLiteral("SN1")), 0);
        server_->stop();
        QString errors;
        QCOMPARE(check(QStringLiteral("SN2"), &errors), 0);
        QVERIFY2(errors.contains(QLatin1String("wait in")), qPrintable(errors));
        QCOMPARE(check(QStringLiteral("SN3")), 0);
        QCOMPARE(server_->start(), QString());
        QCOMPARE(probe({"results", "--results", where, "--sync"}), 0);
        QCOMPARE(probe({"results", "--results", where, "--sync"}), 0);
        // The next run sends nothing twice either.
        QCOMPARE(check(QStringLiteral("SN4")), 0);
        std::string problem;
        auto store = openStore(where, problem);
        QVERIFY2(store, problem.c_str());
        QCOMPARE(count(*store, QStringLiteral("SELECT COUNT(*) FROM units")), 4);
        QCOMPARE(count(*store, QStringLiteral("SELECT COUNT(DISTINCT serial) FROM units")), 4);
        QCOMPARE(brokenUnits(
                     *store, 5,
                     int(count(*store, QStringLiteral("SELECT COUNT(*) / 4 FROM measurements")))),
                 0);
    }

    // What check --report-dir wrote before there was a store, imported once however often, with
    // each check's outcome and reason where the report has them.
    void importReports_data() {
        QTest::addColumn<bool>("older");
        QTest::newRow("reports with their checks") << false;
        QTest::newRow("reports of an older program, without checks") << true;
    }

    void importReports() {
        QFETCH(bool, older);
        SimulatorRun simulator;
        QVERIFY(startSimulator(simulator, QStringLiteral(VARDEK_BOARD_SIM), {"--seed", "4"}));
        const QString reports = folder_.filePath(QStringLiteral("reports-%1").arg(older));
        QVERIFY(QDir().mkpath(reports));
        for (const char* serial : {"SN7", "SN8"}) {
            QCOMPARE(QProcess::execute(
                         QStringLiteral(VARDEK_PROBE),
                         {"--board", "127.0.0.1", "--port", QString::number(simulator.port),
                          "check", "--dut-id", serial, "--report-dir", reports}),
                     0);
        }
        // Each check as the reports give it, in order: "name|outcome|reason".
        QStringList reported;
        for (const QFileInfo& file : QDir(reports).entryInfoList({"*.json"}, QDir::Files)) {
            QFile report(file.filePath());
            QVERIFY(report.open(QIODevice::ReadWrite));
            QJsonObject object = QJsonDocument::fromJson(report.readAll()).object();
            QVERIFY2(object.value("checks").isArray(), qPrintable(file.filePath()));
            if (older) {
                object.remove("checks");
                report.resize(0);
                report.write(QJsonDocument(object).toJson());
                continue;
            }
            for (const QJsonValue& check : object.value("checks").toArray()) {
                reported << check["name"].toString() + '|' + check["outcome"].toString() + '|' +
                                check["reason"].toString();
            }
        }
        const QString where = folder_.filePath(QStringLiteral("imported-%1.db").arg(older));
        for (int time = 0; time < 2; ++time) {
            QCOMPARE(QProcess::execute(QStringLiteral(VARDEK_PROBE),
                                       {"results", "--results", where, "import", reports}),
                     0);
        }
        std::string problem;
        auto store = openStore(where, problem);
        QVERIFY2(store, problem.c_str());
        QCOMPARE(count(*store, QStringLiteral("SELECT COUNT(*) FROM units WHERE serial IN ('SN7', "
                                              "'SN8') AND outcome = 'PASS'")),
                 2);
        QVERIFY(count(*store, QStringLiteral("SELECT COUNT(*) FROM measurements WHERE name = "
                                             "'RA5' AND value IS NOT NULL")) == 2);
        QStringList stored;
        QSqlQuery checks(store->database());
        QVERIFY(
            checks.exec("SELECT c.name, c.result, c.reason FROM checks c JOIN units u ON u.id "
                        "= c.unit_id ORDER BY u.start_ms, c.position"));
        while (checks.next()) {
            stored << checks.value(0).toString() + '|' + checks.value(1).toString() + '|' +
                          checks.value(2).toString();
        }
        QVERIFY(older || reported.size() >= 2 * 5);
        QCOMPARE(stored, reported);
    }
};

QTEST_GUILESS_MAIN(TestResults)
#include "test_results.moc"
