// Measures the results store (scripts/bench-results), each figure beside a baseline taken in the
// same run: one unit's record written into SQLite (WAL, synchronous=FULL) and into PostgreSQL on
// this machine, against a commit of one row of one column in the same kind of store; yield,
// Pareto and Cpk over a million measurement rows in each, against counting those rows; and 20
// stations (processes) writing 500 units each into one PostgreSQL at once, against one station
// writing its 500 alone. PostgreSQL is a server of the run's own (tests/postgres_server.h), with
// fsync on, as a line's server has it. Usage:
// bench_results --writer VARDEK_RESULTS_WRITER --markdown FILE [--short]
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/results_location.h"
#include "results/answers.h"
#include "results/store.h"
#include "tests/postgres_server.h"

namespace {

using namespace vardek;
using Clock = std::chrono::steady_clock;

constexpr std::int64_t kStartMs = 1'796'000'000'000;
constexpr int kMeasurements = 20;
// What ctest takes for a skip (SKIP_RETURN_CODE), where PostgreSQL is not installed.
constexpr int kSkipped = 77;

double msSince(Clock::time_point from) {
    return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

struct Spread {
    double median = 0;
    double p95 = 0;
    double max = 0;
};

Spread spread(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const auto at = [&](double share) {
        return values[std::min(values.size() - 1, static_cast<std::size_t>(share * values.size()))];
    };
    return {at(0.5), at(0.95), values.back()};
}

results::Store open(const QString& where) {
    const auto location = host::parseResultsLocation(where.toStdString());
    std::string problem;
    results::Store::Failure failure{};
    auto store = location ? results::Store::open(*location, problem, failure) : std::nullopt;
    if (!store) {
        throw std::runtime_error(where.toStdString() + ": " + problem);
    }
    return std::move(*store);
}

void exec(results::Store& store, const QString& statement) {
    QSqlQuery query(store.database());
    if (!query.exec(statement)) {
        throw std::runtime_error(statement.toStdString() + ": " +
                                 query.lastError().text().toStdString());
    }
}

// "SN12": built by appending, as GCC 12 at -O3 takes a literal + a string for an overlapping copy.
std::string named(const char* prefix, int number) {
    std::string name(prefix);
    name += std::to_string(number);
    return name;
}

// A line's units as a station records them: five checks and twenty measurements each, values
// about the middle of their limits with a spread that puts a few outside the marginal bounds and
// fewer outside the limits; one serial in twenty tested again. Seeded: every run the same.
class Line {
  public:
    results::UnitRecord next() {
        results::UnitRecord unit;
        unit.id = results::newRecordId();
        const bool retest = count_ > 0 && chance_(random_) < 0.05;
        unit.serial = named("SN", retest ? serial_ - 1 : serial_++);
        unit.station = named("EOL-", count_ % 10 + 1);
        unit.operatorName = named("op", count_ / 400 % 6);
        unit.version = "vardek-probe 0.2.0";
        unit.board = "127.0.0.1:10001";
        // Two months of a line: a unit about every 100 s.
        unit.startMs = kStartMs + count_ * 100'000LL;
        unit.endMs = unit.startMs + 1500;
        bool failed = false;
        bool marginal = false;
        for (int m = 0; m < kMeasurements; ++m) {
            const double centre = 10.0 * (m + 1);
            const double value = centre + normal_(random_) * (0.5 + 0.05 * m);
            const double low = centre - 3;
            const double high = centre + 3;
            const char* outcome = value < low || value > high           ? "FAIL"
                                  : value < low + 1 || value > high - 1 ? "MARGINAL"
                                                                        : "PASS";
            failed = failed || outcome[0] == 'F';
            marginal = marginal || outcome[0] == 'M';
            unit.measurements.push_back(
                {"analogue", named("M", m), value, "V", low, high, low + 1, high - 1, outcome});
        }
        unit.outcome = failed ? "FAIL" : marginal ? "MARGINAL" : "PASS";
        for (const char* check : {"reachable", "reply-size", "outputs", "analogue", "inputs"}) {
            const bool analogue = std::string(check) == "analogue";
            unit.checks.push_back({check, analogue ? unit.outcome : "PASS",
                                   analogue && failed ? "outside its limits" : "as expected"});
        }
        ++count_;
        return unit;
    }

  private:
    std::mt19937_64 random_{34};
    std::normal_distribution<double> normal_;
    std::uniform_real_distribution<double> chance_;
    int count_ = 0;
    int serial_ = 1;
};

// One unit's record in its own transaction, against a one-row commit in a store of the same
// kind and settings (the commit's own cost), in turns.
struct Inserts {
    std::vector<double> record;
    std::vector<double> floor;
};

Inserts inserts(const QString& recordStore, const QString& floorStore, int count) {
    results::Store store = open(recordStore);
    results::Store floor = open(floorStore);
    exec(floor, QStringLiteral("CREATE TABLE floor (n BIGINT)"));
    QSqlQuery one(floor.database());
    one.prepare(QStringLiteral("INSERT INTO floor VALUES (?)"));
    Line line;
    Inserts times;
    std::string problem;
    for (int i = 0; i < count; ++i) {
        const results::UnitRecord unit = line.next();
        auto from = Clock::now();
        if (!store.insert(unit, problem)) {
            throw std::runtime_error(problem);
        }
        times.record.push_back(msSince(from));
        from = Clock::now();
        exec(floor, QStringLiteral("BEGIN"));
        one.bindValue(0, i);
        if (!one.exec()) {
            throw std::runtime_error(one.lastError().text().toStdString());
        }
        exec(floor, QStringLiteral("COMMIT"));
        times.floor.push_back(msSince(from));
    }
    return times;
}

// `units` records of the line into the store, 500 to a transaction; the time it took, in s.
double fill(results::Store& store, int units) {
    Line line;
    const auto from = Clock::now();
    std::string problem;
    for (int done = 0; done < units;) {
        std::vector<results::UnitRecord> batch;
        for (; done < units && batch.size() < 500; ++done) {
            batch.push_back(line.next());
        }
        if (!store.insert(batch, problem)) {
            throw std::runtime_error(problem);
        }
    }
    return msSince(from) / 1000;
}

struct Answered {
    const char* name;
    std::vector<double> ms;
};

// Each answer as `vardek-probe results` gives it (the query, and the text table made of its
// rows), against counting the rows it reads; in turns, `runs` times.
std::vector<Answered> answers(results::Store& store, int runs) {
    std::vector<Answered> timed{{"yield", {}}, {"pareto", {}}, {"cpk", {}}, {"count", {}}};
    const results::Answer asked[] = {results::Answer::Yield, results::Answer::Pareto,
                                     results::Answer::Cpk};
    for (int run = 0; run < runs; ++run) {
        for (std::size_t i = 0; i < 3; ++i) {
            results::Table table;
            std::string problem;
            const auto from = Clock::now();
            if (!results::answer(store, asked[i], {}, results::Grouping::None, table, problem)) {
                throw std::runtime_error(problem);
            }
            const std::string text = results::textTable(table);
            timed[i].ms.push_back(msSince(from));
            if (table.rows.empty() || text.empty()) {
                throw std::runtime_error(std::string(timed[i].name) + " gave no rows");
            }
        }
        const auto from = Clock::now();
        QSqlQuery query(store.database());
        if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM measurements m JOIN units u ON u.id "
                                       "= m.unit_id")) ||
            !query.next() || query.value(0).toLongLong() == 0) {
            throw std::runtime_error("cannot count the measurements");
        }
        timed[3].ms.push_back(msSince(from));
    }
    return timed;
}

struct Stations {
    double seconds = 0;
    long long stored = 0;
    long long distinct = 0;
    long long written = 0;  // ids the writers said they committed
    long long missing = 0;  // of those, not in the store
};

// `count` writers of `units` units each into `where` at once: from the first start to the last
// end, and what the store holds of them afterwards.
Stations stations(const QString& writer, const QString& where, int count, int units) {
    std::vector<std::unique_ptr<QProcess>> writers;
    const auto from = Clock::now();
    for (int i = 0; i < count; ++i) {
        writers.push_back(std::make_unique<QProcess>());
        writers.back()->start(writer, {where, QString::number(units)});
    }
    Stations outcome;
    std::set<std::string> committed;
    for (auto& process : writers) {
        if (!process->waitForFinished(600000) || process->exitCode() != 0) {
            throw std::runtime_error("a writer failed: " +
                                     process->readAllStandardError().toStdString());
        }
    }
    outcome.seconds = msSince(from) / 1000;
    for (auto& process : writers) {
        for (const QByteArray& line : process->readAllStandardOutput().split('\n')) {
            if (!line.isEmpty() && line != "ready") {
                committed.insert(line.toStdString());
                ++outcome.written;
            }
        }
    }
    results::Store store = open(where);
    QSqlQuery query(store.database());
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT record_id FROM units"))) {
        throw std::runtime_error("cannot read the stations' records");
    }
    std::set<std::string> stored;
    while (query.next()) {
        stored.insert(query.value(0).toString().toStdString());
        ++outcome.stored;
    }
    outcome.distinct = static_cast<long long>(stored.size());
    for (const std::string& id : committed) {
        outcome.missing += stored.count(id) == 0 ? 1 : 0;
    }
    return outcome;
}

QString figure(double value) { return QString::number(value, 'f', value < 10 ? 2 : 1); }

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption writer(
        QStringLiteral("writer"), QStringLiteral("vardek_results_writer"), QStringLiteral("PATH"));
    const QCommandLineOption markdown(
        QStringLiteral("markdown"), QStringLiteral("Where the figures go"), QStringLiteral("FILE"));
    const QCommandLineOption brief(QStringLiteral("short"),
                                   QStringLiteral("A little of each: checks that it works"));
    parser.addOptions({writer, markdown, brief});
    parser.process(application);
    if (!parser.isSet(writer) || !parser.isSet(markdown)) {
        std::fprintf(stderr, "bench_results: --writer and --markdown are needed\n");
        return 2;
    }
    const bool quick = parser.isSet(brief);
    const int insertCount = quick ? 20 : 300;
    const int units = quick ? 500 : 50'000;
    const int runs = quick ? 1 : 5;
    const int writerCount = quick ? 3 : 20;
    const int writerUnits = quick ? 20 : 500;

    if (!test::PostgresServer::installed() && qgetenv("VARDEK_REQUIRE_ALL_TOOLS") != "1") {
        std::fprintf(stderr, "bench_results: skipped: PostgreSQL 15 is not installed (%s)\n",
                     qPrintable(test::PostgresServer::binaries()));
        return kSkipped;
    }
    try {
        test::PostgresServer server;
        if (const QString problem = server.start(true); !problem.isEmpty()) {
            throw std::runtime_error(problem.toStdString());
        }
        const auto database = [&](const char* name) {
            QString problem;
            const QString uri = server.createDatabase(QLatin1String(name), problem);
            if (uri.isEmpty()) {
                throw std::runtime_error("createdb " + std::string(name) + ": " +
                                         problem.toStdString());
            }
            return uri;
        };
        QTemporaryDir folder;
        const auto file = [&](const char* name) { return folder.filePath(QLatin1String(name)); };

        std::fprintf(stderr, "bench_results: one record at a time\n");
        const Inserts sqlite = inserts(file("inserts.db"), file("floor.db"), insertCount);
        const Inserts postgres = inserts(database("inserts"), database("floor"), insertCount);

        std::fprintf(stderr, "bench_results: %d units into each store\n", units);
        results::Store sqliteStore = open(file("line.db"));
        results::Store postgresStore = open(database("line"));
        const double sqliteFill = fill(sqliteStore, units);
        const double postgresFill = fill(postgresStore, units);
        // What autovacuum does soon after a load like this one, done now so that every run
        // measures the same plans.
        exec(postgresStore, QStringLiteral("ANALYZE"));
        const std::vector<Answered> sqliteAnswers = answers(sqliteStore, runs);
        const std::vector<Answered> postgresAnswers = answers(postgresStore, runs);

        std::fprintf(stderr, "bench_results: %d stations at once\n", writerCount);
        const QString writerPath = parser.value(writer);
        const Stations alone = stations(writerPath, database("alone"), 1, writerUnits);
        const Stations line = stations(writerPath, database("stations"), writerCount, writerUnits);

        QFile out(parser.value(markdown));
        if (!out.open(QIODevice::WriteOnly | QIODevice::Text)) {
            throw std::runtime_error("cannot write the figures");
        }
        QTextStream text(&out);
        text << QStringLiteral(
                    "A unit's record: %1 measurements and 5 checks. The load average (1 min) as "
                    "the run ended: %2.\n\n")
                    .arg(kMeasurements)
                    .arg(QString::fromStdString([] {
                        QFile load(QStringLiteral("/proc/loadavg"));
                        return load.open(QIODevice::ReadOnly)
                                   ? load.readLine().split(' ').value(0).toStdString()
                                   : std::string("unknown");
                    }()));
        text << QStringLiteral(
                    "| One unit's record, its own transaction (%1 of each, in turns) | median | "
                    "p95 | max | baseline: one row of one column, median | p95 |\n"
                    "|---|---|---|---|---|---|\n")
                    .arg(insertCount);
        for (const auto& [name, times] : {std::pair{"SQLite, WAL, synchronous=FULL", &sqlite},
                                          {"PostgreSQL 15, Unix socket, fsync on", &postgres}}) {
            const Spread record = spread(times->record);
            const Spread floor = spread(times->floor);
            text << QStringLiteral("| %1 | %2 ms | %3 ms | %4 ms | %5 ms | %6 ms |\n")
                        .arg(QLatin1String(name), figure(record.median), figure(record.p95),
                             figure(record.max), figure(floor.median), figure(floor.p95));
        }
        text << QStringLiteral(
                    "\n| %1 units, %2 measurement rows (filled in %3 s and %4 s, 500 units a "
                    "transaction); median of %5 (max) | SQLite | PostgreSQL |\n|---|---|---|\n")
                    .arg(units)
                    .arg(static_cast<long long>(units) * kMeasurements)
                    .arg(figure(sqliteFill), figure(postgresFill))
                    .arg(runs);
        for (std::size_t i = 0; i < sqliteAnswers.size(); ++i) {
            const Spread s = spread(sqliteAnswers[i].ms);
            const Spread p = spread(postgresAnswers[i].ms);
            const QString name = i < 3 ? QStringLiteral("`results %1`, as a text table")
                                             .arg(QLatin1String(sqliteAnswers[i].name))
                                       : QStringLiteral("baseline: counting the rows joined");
            text << QStringLiteral("| %1 | %2 ms (%3) | %4 ms (%5) |\n")
                        .arg(name, figure(s.median), figure(s.max), figure(p.median),
                             figure(p.max));
        }
        text << QStringLiteral(
                    "\n| Stations writing into one PostgreSQL, %1 units each | records "
                    "committed | in the store | distinct | committed but missing | time |\n"
                    "|---|---|---|---|---|---|\n")
                    .arg(writerUnits);
        for (const auto& [name, outcome] :
             {std::pair{QStringLiteral("%1 at once").arg(writerCount), &line},
              {QStringLiteral("baseline: 1 alone"), &alone}}) {
            text << QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 s |\n")
                        .arg(name)
                        .arg(outcome->written)
                        .arg(outcome->stored)
                        .arg(outcome->distinct)
                        .arg(outcome->missing)
                        .arg(figure(outcome->seconds));
        }
        if (line.missing != 0 || line.stored != line.written || line.distinct != line.stored) {
            throw std::runtime_error("the stations' records are not each in the store once");
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_results: %s\n", error.what());
        return 1;
    }
    return 0;
}
