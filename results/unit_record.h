// One unit's record as the results store keeps it: who tested which unit where, when, with what
// outcome, each check's result and reason, and every measurement with its limits. The store's
// own type, so that what a program tests and how it holds it can change without the store's
// rows changing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vardek::results {

struct CheckRecord {
    std::string name;
    std::string result;  // "PASS", "MARGINAL", "FAIL" or "SKIP"
    std::string reason;  // why it came out so; empty where there is nothing to say
};

struct MeasurementRecord {
    std::string check;  // the check that took it; empty where a record does not say
    std::string name;
    std::optional<double> value;  // none when it could not be taken
    std::string unit;
    std::optional<double> low;
    std::optional<double> high;
    std::optional<double> marginalLow;
    std::optional<double> marginalHigh;
    std::string outcome;  // as CheckRecord::result
};

struct UnitRecord {
    // Unique to the record, made where it was taken (a UUID): a record sent twice, after a lost
    // answer from a server, is stored once.
    std::string id;
    std::string serial;  // empty when the unit had none
    std::string station;
    std::string operatorName;
    std::string version;       // "vardek-probe 0.2.0"
    std::string board;         // "127.0.0.1:10001"
    std::int64_t startMs = 0;  // UTC, milliseconds since 1970
    std::int64_t endMs = 0;
    std::string outcome;  // as CheckRecord::result, without SKIP
    std::vector<CheckRecord> checks;
    std::vector<MeasurementRecord> measurements;
};

// A new record id.
std::string newRecordId();

}  // namespace vardek::results
