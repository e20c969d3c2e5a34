// check's record of a board, as the results store keeps it: the one place that knows both, so
// that a change to what check records is a change here alone.
#pragma once

#include "results/unit_record.h"
#include "tools/probe/check_report.h"

namespace vardek::probe {

// A new record (its own id) of `board`, checked at `station`.
results::UnitRecord storeRecord(const BoardRecord& board, const Station& station);

}  // namespace vardek::probe
