// The results store: every unit's record, in an SQLite file (a station's own) or in a PostgreSQL
// database (a line's), through one code path in Qt SQL. The program creates the schema and
// migrates it; the store carries its schema version, and a store of a newer program, or a file
// or a database that is not a store, is refused with the reason, never written over.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/results_location.h"
#include "results/unit_record.h"

class QSqlDatabase;

namespace vardek::results {

// The schema this program writes and reads; a store with a higher one is refused.
inline constexpr int kSchemaVersion = 2;

class Store {
  public:
    // What open() and insert() tell apart: a server that could not be reached may be tried
    // again later; a store refused stays refused.
    enum class Failure { None, Unreachable, Refused };

    ~Store();
    Store(Store&&) noexcept;
    Store& operator=(Store&&) noexcept;

    // Whether open() may make a new store: what records units may; what only reads one may
    // not, so that a mistyped path is said so instead of answered from an empty store.
    enum class Creating { Allowed, Refused };

    // Opens the store at `location`, creating it where `creating` allows (a new SQLite file, or
    // the tables in an empty database) and migrating an older one. Returns the store, or none
    // with `problem` and `failure` set.
    static std::optional<Store> open(const host::ResultsLocation& location, std::string& problem,
                                     Failure& failure, Creating creating = Creating::Allowed);

    // The record as one transaction: whole or not at all. A record whose id the store holds
    // already is left as stored (true all the same). False with `problem` set when it could not
    // be written; `failure()` then says whether the server went away.
    bool insert(const UnitRecord& record, std::string& problem);
    // Several records in one transaction, for an import and for filling a store quickly.
    bool insert(const std::vector<UnitRecord>& records, std::string& problem);

    // Every record, oldest first, its checks and measurements included: what a spool sends.
    std::vector<UnitRecord> records(std::string& problem);
    // Takes the record out (the spool, once its server holds it).
    bool remove(const std::string& id, std::string& problem);

    bool isServer() const;
    const std::string& shownLocation() const;
    Failure failure() const;
    // The connection, for the answers' queries.
    QSqlDatabase database() const;

  private:
    struct Connection;
    explicit Store(std::unique_ptr<Connection> connection);
    bool write(const std::vector<UnitRecord>& records, std::string& problem);

    std::unique_ptr<Connection> connection_;
};

}  // namespace vardek::results
