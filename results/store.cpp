#include "results/store.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QTimeZone>
#include <QUuid>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <clocale>
#include <map>
#include <span>
#include <tuple>

namespace vardek::results {

namespace {

// The most rows one insert statement carries: 2,200 bound values of a measurement's 11 columns.
constexpr std::size_t kRowsAStatement = 200;

// What a store says about itself in store_info: the table is ours only with this mark.
constexpr auto kApplication = "vardek-results";
// What makes a store, for the message where one was wanted and none is.
constexpr auto kCreatedBy = "check --results or results import makes one";

// Where SQLite and PostgreSQL part ways; every statement besides these is the same for both.
struct Dialect {
    const char* driver;
    // SQLite takes its write lock at BEGIN IMMEDIATE, so two writers queue there instead of
    // failing half-way through a unit.
    const char* begin;
    // Stations that start at once against an empty database create the tables one at a time.
    const char* schemaLock;
    const char* idColumn;
};
constexpr Dialect kSqlite{"QSQLITE", "BEGIN IMMEDIATE", nullptr, "INTEGER PRIMARY KEY"};
constexpr Dialect kPostgres{"QPSQL", "BEGIN", "SELECT pg_advisory_xact_lock(7340311)",
                            "BIGSERIAL PRIMARY KEY"};

// The statements that bring a store of version N to N + 1; a new store runs them all.
std::vector<QString> migrationTo(int version, const Dialect& dialect) {
    switch (version) {
        case 1:
            return {
                QStringLiteral("CREATE TABLE units (id %1, record_id TEXT NOT NULL UNIQUE, "
                               "serial TEXT NOT NULL, station TEXT NOT NULL, operator TEXT NOT "
                               "NULL, version TEXT NOT NULL, board TEXT NOT NULL, start_ms BIGINT "
                               "NOT NULL, end_ms BIGINT NOT NULL, start_utc TEXT NOT NULL, "
                               "outcome TEXT NOT NULL)")
                    .arg(QLatin1String(dialect.idColumn)),
                QStringLiteral("CREATE INDEX units_serial ON units (serial, start_ms)"),
                QStringLiteral("CREATE INDEX units_start ON units (start_ms)"),
                QStringLiteral("CREATE TABLE checks (unit_id BIGINT NOT NULL REFERENCES units "
                               "(id), position INTEGER NOT NULL, name TEXT NOT NULL, result TEXT "
                               "NOT NULL, reason TEXT NOT NULL, PRIMARY KEY (unit_id, position))"),
                QStringLiteral(
                    "CREATE TABLE measurements (unit_id BIGINT NOT NULL REFERENCES units (id), "
                    "position INTEGER NOT NULL, check_name TEXT NOT NULL, name TEXT NOT NULL, "
                    "value DOUBLE PRECISION, unit TEXT NOT NULL, low DOUBLE PRECISION, high "
                    "DOUBLE PRECISION, marginal_low DOUBLE PRECISION, marginal_high DOUBLE "
                    "PRECISION, outcome TEXT NOT NULL, PRIMARY KEY (unit_id, position))"),
                QStringLiteral("CREATE INDEX measurements_name ON measurements (name)"),
            };
        case 2:
            // Cpk's groups in the order its query reads them, each group's rows in the units'
            // order and with every value it takes: a million rows are read in order, without a
            // sort, and the units looked up page by page (2.3 s in SQLite before, 0.55 s with it).
            // It takes the name index's place, whose lookups it answers as well.
            return {
                QStringLiteral("CREATE INDEX measurements_limits ON measurements (name, unit, low, "
                               "high, unit_id, value, marginal_low, marginal_high)"),
                QStringLiteral("DROP INDEX measurements_name"),
            };
        default:
            return {};
    }
}

// Qt SQL loads its drivers only with an application object; a program without one (the probe)
// gets a plain one, with the C locale's numbers kept for everything it prints.
void needApplication() {
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "vardek-results";
        static char* argv[] = {name, nullptr};
        static QCoreApplication application(argc, argv);
        std::setlocale(LC_NUMERIC, "C");
    }
}

QString connectionName() {
    static std::atomic<int> next{0};
    return QStringLiteral("vardek-results-%1").arg(next++);
}

QString qs(const std::string& text) { return QString::fromStdString(text); }

QVariant number(const std::optional<double>& value) {
    return value ? QVariant(*value) : QVariant(QMetaType::fromType<double>());
}

std::optional<double> optionalNumber(const QVariant& value) {
    if (value.isNull()) {
        return std::nullopt;
    }
    return value.toDouble();
}

std::string errorText(const QSqlError& error) {
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    return text.trimmed().toStdString();
}

}  // namespace

std::string newRecordId() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
}

struct Store::Connection {
    QString name;
    const Dialect* dialect = nullptr;
    std::string shown;
    Failure failure = Failure::None;

    QSqlDatabase db() const { return QSqlDatabase::database(name, false); }

    // A statement that must succeed; false with `problem` set when it did not.
    bool exec(const QString& statement, std::string& problem) const {
        QSqlQuery query(db());
        if (!query.exec(statement)) {
            problem = errorText(query.lastError());
            return false;
        }
        return true;
    }

    // The insert statements, prepared once and kept: on a server each statement prepared is a
    // round trip of its own. Rows go in many to a statement (keyed by their number), so that a
    // unit is five round trips (begin, unit, checks, measurements, commit), not one a row.
    std::optional<QSqlQuery> unitInsert;
    std::map<std::size_t, QSqlQuery> checkInserts;
    std::map<std::size_t, QSqlQuery> measurementInserts;

    // The statement that inserts `rows` rows of `columns` into `table`; none with `problem` set
    // when it cannot be prepared.
    QSqlQuery* rowsInsert(std::map<std::size_t, QSqlQuery>& kept, const char* table,
                          const QStringList& columns, std::size_t rows, std::string& problem) {
        auto found = kept.find(rows);
        if (found != kept.end()) {
            return &found->second;
        }
        const QString row =
            QLatin1Char('(') +
            QStringList(columns.size(), QStringLiteral("?")).join(QLatin1Char(',')) +
            QLatin1Char(')');
        QSqlQuery query(db());
        if (!query.prepare(
                QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
                    .arg(QLatin1String(table), columns.join(QLatin1Char(',')),
                         QStringList(static_cast<qsizetype>(rows), row).join(QLatin1Char(','))))) {
            problem = errorText(query.lastError());
            return nullptr;
        }
        return &kept.emplace(rows, std::move(query)).first->second;
    }

    void forgetStatements() {
        unitInsert.reset();
        checkInserts.clear();
        measurementInserts.clear();
    }

    ~Connection() {
        forgetStatements();
        db().close();
        QSqlDatabase::removeDatabase(name);
    }
};

Store::Store(std::unique_ptr<Connection> connection) : connection_(std::move(connection)) {}
Store::~Store() = default;
Store::Store(Store&&) noexcept = default;
Store& Store::operator=(Store&&) noexcept = default;

std::optional<Store> Store::open(const host::ResultsLocation& location, std::string& problem,
                                 Failure& failure, Creating creating) {
    needApplication();
    const bool server = location.kind == host::ResultsLocation::Kind::Server;
    auto connection = std::make_unique<Connection>();
    connection->name = connectionName();
    connection->dialect = server ? &kPostgres : &kSqlite;
    connection->shown = server ? location.text : location.path;
    const std::string& shown = connection->shown;
    const auto refuse = [&](const std::string& why, Failure kind = Failure::Refused) {
        problem = shown + ": " + why;
        failure = kind;
        return std::nullopt;
    };
    if (!QSqlDatabase::isDriverAvailable(QLatin1String(connection->dialect->driver))) {
        return refuse(std::string("Qt's ") + connection->dialect->driver +
                      " driver is not installed (Debian: " +
                      (server ? "libqt6sql6-psql" : "libqt6sql6-sqlite") + ")");
    }
    QSqlDatabase db =
        QSqlDatabase::addDatabase(QLatin1String(connection->dialect->driver), connection->name);
    if (server) {
        db.setHostName(qs(location.host));
        if (location.port) {
            db.setPort(*location.port);
        }
        db.setDatabaseName(qs(location.database));
        db.setUserName(qs(location.user));
        db.setPassword(qs(location.password));
        // A server that is down is known in seconds, not after TCP's own minutes.
        db.setConnectOptions(QStringLiteral("connect_timeout=5"));
    } else {
        const QFileInfo file(qs(location.path));
        // SQLite would take a FIFO or a device for a database file; nothing but a regular file
        // (or none yet) is opened.
        if (file.exists() && !file.isFile()) {
            return refuse("not a regular file, so no results store");
        }
        // Checked before SQLite opens it, which would create the file.
        if (!file.exists() && creating == Creating::Refused) {
            return refuse(std::string("no results store there (") + kCreatedBy + ")");
        }
        if (!file.exists() && !file.dir().exists()) {
            return refuse("its folder " + file.dir().path().toStdString() + " does not exist");
        }
        db.setDatabaseName(qs(location.path));
        // Another station's process writing the same file is waited for, not failed on.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=60000"));
    }
    if (!db.open()) {
        return refuse("cannot be opened: " + errorText(db.lastError()),
                      server ? Failure::Unreachable : Failure::Refused);
    }
    // The store's own handle is the only one from here on, so the connection goes with it.
    db = QSqlDatabase();
    Store store(std::move(connection));
    const Connection& c = *store.connection_;
    std::string why;
    const auto failed = [&](const std::string& text) {
        c.exec(QStringLiteral("ROLLBACK"), why);
        return refuse(text, server ? Failure::Unreachable : Failure::Refused);
    };
    if (!c.exec(QLatin1String(c.dialect->begin), why) ||
        (c.dialect->schemaLock != nullptr && !c.exec(QLatin1String(c.dialect->schemaLock), why))) {
        return failed(server ? "cannot be read: " + why : "not a results store (" + why + ")");
    }
    const QStringList tables = c.db().tables();
    int version = 0;
    if (tables.contains(QStringLiteral("store_info"))) {
        QSqlQuery info(c.db());
        if (!info.exec(QStringLiteral("SELECT key, value FROM store_info"))) {
            return failed("cannot be read: " + errorText(info.lastError()));
        }
        bool ours = false;
        while (info.next()) {
            if (info.value(0).toString() == QLatin1String("application")) {
                ours = info.value(1).toString() == QLatin1String(kApplication);
            } else if (info.value(0).toString() == QLatin1String("schema_version")) {
                version = info.value(1).toInt();
            }
        }
        if (!ours || version < 1) {
            c.exec(QStringLiteral("ROLLBACK"), why);
            return refuse("holds a store_info table that is not a results store's");
        }
        if (version > kSchemaVersion) {
            c.exec(QStringLiteral("ROLLBACK"), why);
            return refuse("was written by a newer program (schema version " +
                          std::to_string(version) + "; this one knows up to " +
                          std::to_string(kSchemaVersion) + "): record into another store or " +
                          "update vardek-control");
        }
    } else if (!tables.isEmpty()) {
        c.exec(QStringLiteral("ROLLBACK"), why);
        return refuse("holds tables of something else (" +
                      tables.mid(0, 3).join(QStringLiteral(", ")).toStdString() +
                      "), so it is no results store and is left as it is");
    } else if (creating == Creating::Refused) {
        c.exec(QStringLiteral("ROLLBACK"), why);
        return refuse(std::string("holds no results store (") + kCreatedBy + ")");
    } else if (!c.exec(QStringLiteral("CREATE TABLE store_info (key TEXT PRIMARY KEY, value TEXT "
                                      "NOT NULL)"),
                       why) ||
               !c.exec(QStringLiteral("INSERT INTO store_info VALUES ('application', '%1'), "
                                      "('schema_version', '0')")
                           .arg(QLatin1String(kApplication)),
                       why)) {
        return failed("cannot be created: " + why);
    }
    if (version < kSchemaVersion) {
        for (int next = version + 1; next <= kSchemaVersion; ++next) {
            for (const QString& statement : migrationTo(next, *c.dialect)) {
                if (!c.exec(statement, why)) {
                    return failed("cannot be brought to schema version " + std::to_string(next) +
                                  ": " + why);
                }
            }
        }
        if (!c.exec(QStringLiteral("UPDATE store_info SET value = '%1' WHERE key = "
                                   "'schema_version'")
                        .arg(kSchemaVersion),
                    why)) {
            return failed("cannot be created: " + why);
        }
    }
    if (!c.exec(QStringLiteral("COMMIT"), why)) {
        return failed("cannot be created: " + why);
    }
    // Write-ahead logging, set only once the file is known to be ours (it changes the file's
    // header): a reader never waits for a writer, and with synchronous=FULL a committed unit
    // survives a power loss.
    if (!server && (!c.exec(QStringLiteral("PRAGMA journal_mode=WAL"), why) ||
                    !c.exec(QStringLiteral("PRAGMA synchronous=FULL"), why))) {
        return refuse("cannot be written: " + why);
    }
    failure = Failure::None;
    return store;
}

bool Store::insert(const UnitRecord& record, std::string& problem) {
    return write({record}, problem);
}

bool Store::insert(const std::vector<UnitRecord>& records, std::string& problem) {
    return write(records, problem);
}

bool Store::write(const std::vector<UnitRecord>& records, std::string& problem) {
    Connection& c = *connection_;
    const auto fail = [&](const std::string& why) {
        std::string ignored;
        c.exec(QStringLiteral("ROLLBACK"), ignored);
        // A server that went away took its prepared statements with it.
        c.forgetStatements();
        problem = c.shown + ": cannot record: " + why;
        c.failure = isServer() ? Failure::Unreachable : Failure::Refused;
        return false;
    };
    std::string why;
    if (!c.exec(QLatin1String(c.dialect->begin), why)) {
        return fail(why);
    }
    if (!c.unitInsert) {
        QSqlQuery unit(c.db());
        if (!unit.prepare(QStringLiteral(
                "INSERT INTO units (record_id, serial, station, operator, version, board, "
                "start_ms, end_ms, start_utc, outcome) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ON "
                "CONFLICT (record_id) DO NOTHING RETURNING id"))) {
            return fail(errorText(unit.lastError()));
        }
        c.unitInsert = std::move(unit);
    }
    QSqlQuery& unit = *c.unitInsert;
    static const QStringList kCheckColumns{"unit_id", "position", "name", "result", "reason"};
    static const QStringList kMeasurementColumns{
        "unit_id", "position", "check_name",   "name",          "value",  "unit",
        "low",     "high",     "marginal_low", "marginal_high", "outcome"};
    // Bound values of a statement in a list, in order.
    const auto run = [&](QSqlQuery& query, const QVariantList& values) {
        for (int i = 0; i < values.size(); ++i) {
            query.bindValue(i, values[i]);
        }
        return query.exec();
    };
    for (const UnitRecord& record : records) {
        const QVariantList values{qs(record.id),
                                  qs(record.serial),
                                  qs(record.station),
                                  qs(record.operatorName),
                                  qs(record.version),
                                  qs(record.board),
                                  qlonglong(record.startMs),
                                  qlonglong(record.endMs),
                                  QDateTime::fromMSecsSinceEpoch(record.startMs, QTimeZone::utc())
                                      .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")),
                                  qs(record.outcome)};
        if (!run(unit, values)) {
            return fail(errorText(unit.lastError()));
        }
        // No id back: the store holds this record already, from an earlier send.
        if (!unit.next()) {
            unit.finish();
            continue;
        }
        const qlonglong id = unit.value(0).toLongLong();
        unit.finish();
        QVariantList checks;
        for (std::size_t i = 0; i < record.checks.size(); ++i) {
            const CheckRecord& r = record.checks[i];
            checks << id << qlonglong(i) << qs(r.name) << qs(r.result) << qs(r.reason);
        }
        QVariantList measurements;
        for (std::size_t i = 0; i < record.measurements.size(); ++i) {
            const MeasurementRecord& m = record.measurements[i];
            measurements << id << qlonglong(i) << qs(m.check) << qs(m.name) << number(m.value)
                         << qs(m.unit) << number(m.low) << number(m.high) << number(m.marginalLow)
                         << number(m.marginalHigh) << qs(m.outcome);
        }
        // Rows in statements of at most kRowsAStatement, well inside SQLite's and PostgreSQL's
        // limits on bound values.
        for (const auto& [kept, table, columns, rows] :
             {std::tuple{&c.checkInserts, "checks", &kCheckColumns, &checks},
              std::tuple{&c.measurementInserts, "measurements", &kMeasurementColumns,
                         &measurements}}) {
            const auto width = static_cast<std::size_t>(columns->size());
            const std::size_t total = static_cast<std::size_t>(rows->size()) / width;
            for (std::size_t first = 0; first < total; first += kRowsAStatement) {
                const std::size_t count = std::min(kRowsAStatement, total - first);
                QSqlQuery* insert = c.rowsInsert(*kept, table, *columns, count, why);
                if (insert == nullptr) {
                    return fail(why);
                }
                if (!run(*insert, rows->mid(static_cast<qsizetype>(first * width),
                                            static_cast<qsizetype>(count * width)))) {
                    return fail(errorText(insert->lastError()));
                }
                insert->finish();
            }
        }
    }
    if (!c.exec(QStringLiteral("COMMIT"), why)) {
        return fail(why);
    }
    return true;
}

std::vector<UnitRecord> Store::records(std::string& problem) {
    const QSqlDatabase db = connection_->db();
    std::vector<UnitRecord> found;
    QSqlQuery units(db);
    QSqlQuery checks(db);
    QSqlQuery measurements(db);
    if (!units.exec(QStringLiteral("SELECT id, record_id, serial, station, operator, version, "
                                   "board, start_ms, end_ms, outcome FROM units ORDER BY start_ms, "
                                   "id")) ||
        !checks.prepare(QStringLiteral("SELECT name, result, reason FROM checks WHERE unit_id = ? "
                                       "ORDER BY position")) ||
        !measurements.prepare(QStringLiteral(
            "SELECT check_name, name, value, unit, low, high, marginal_low, marginal_high, "
            "outcome FROM measurements WHERE unit_id = ? ORDER BY position"))) {
        problem = connection_->shown + ": cannot be read: " + errorText(units.lastError());
        return {};
    }
    while (units.next()) {
        UnitRecord r;
        r.id = units.value(1).toString().toStdString();
        r.serial = units.value(2).toString().toStdString();
        r.station = units.value(3).toString().toStdString();
        r.operatorName = units.value(4).toString().toStdString();
        r.version = units.value(5).toString().toStdString();
        r.board = units.value(6).toString().toStdString();
        r.startMs = units.value(7).toLongLong();
        r.endMs = units.value(8).toLongLong();
        r.outcome = units.value(9).toString().toStdString();
        checks.bindValue(0, units.value(0));
        measurements.bindValue(0, units.value(0));
        if (!checks.exec() || !measurements.exec()) {
            problem = connection_->shown + ": cannot be read: " +
                      errorText(checks.lastError().isValid() ? checks.lastError()
                                                             : measurements.lastError());
            return {};
        }
        while (checks.next()) {
            r.checks.push_back({checks.value(0).toString().toStdString(),
                                checks.value(1).toString().toStdString(),
                                checks.value(2).toString().toStdString()});
        }
        while (measurements.next()) {
            const auto text = [&](int i) { return measurements.value(i).toString().toStdString(); };
            r.measurements.push_back({text(0), text(1), optionalNumber(measurements.value(2)),
                                      text(3), optionalNumber(measurements.value(4)),
                                      optionalNumber(measurements.value(5)),
                                      optionalNumber(measurements.value(6)),
                                      optionalNumber(measurements.value(7)), text(8)});
        }
        found.push_back(std::move(r));
    }
    return found;
}

bool Store::remove(const std::string& id, std::string& problem) {
    const Connection& c = *connection_;
    std::string why;
    if (!c.exec(QLatin1String(c.dialect->begin), why)) {
        problem = c.shown + ": " + why;
        return false;
    }
    QSqlQuery query(c.db());
    for (const char* statement :
         {"DELETE FROM measurements WHERE unit_id IN (SELECT id FROM units WHERE record_id = ?)",
          "DELETE FROM checks WHERE unit_id IN (SELECT id FROM units WHERE record_id = ?)",
          "DELETE FROM units WHERE record_id = ?"}) {
        query.prepare(QLatin1String(statement));
        query.bindValue(0, qs(id));
        if (!query.exec()) {
            problem = c.shown + ": " + errorText(query.lastError());
            c.exec(QStringLiteral("ROLLBACK"), why);
            return false;
        }
    }
    if (!c.exec(QStringLiteral("COMMIT"), why)) {
        problem = c.shown + ": " + why;
        return false;
    }
    return true;
}

bool Store::isServer() const { return connection_->dialect == &kPostgres; }
const std::string& Store::shownLocation() const { return connection_->shown; }
Store::Failure Store::failure() const { return connection_->failure; }
QSqlDatabase Store::database() const { return connection_->db(); }

}  // namespace vardek::results
