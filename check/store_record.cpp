#include "check/store_record.h"

namespace vardek::check {

namespace {

std::int64_t millis(std::chrono::system_clock::time_point when) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
}

}  // namespace

results::UnitRecord storeRecord(const BoardRecord& board, const Station& station) {
    results::UnitRecord unit;
    unit.id = results::newRecordId();
    unit.serial = board.dutId;
    unit.station = station.station;
    unit.operatorName = station.operatorName;
    unit.version = station.version;
    unit.board = board.board;
    unit.startMs = millis(board.start);
    unit.endMs = millis(board.end);
    unit.outcome = outcomeText(boardOutcome(board.run));
    for (const CheckResult& check : board.run.results) {
        unit.checks.push_back({check.name, outcomeText(check.verdict), check.detail});
        for (const Measurement& m : check.measurements) {
            unit.measurements.push_back({check.name, m.name, m.value, m.unit, m.limits.low,
                                         m.limits.high, m.limits.marginalLow, m.limits.marginalHigh,
                                         outcomeText(m.outcome)});
        }
    }
    return unit;
}

}  // namespace vardek::check
