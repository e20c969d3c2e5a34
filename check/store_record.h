// check's record of a board, as the results store keeps it: the one place that knows both, so
// that a change to what check records is a change here alone.
#pragma once

#include "check/check_report.h"
#include "results/unit_record.h"

namespace vardek::check {

// A new record (its own id) of `board`, checked at `station`.
results::UnitRecord storeRecord(const BoardRecord& board, const Station& station);

}  // namespace vardek::check
