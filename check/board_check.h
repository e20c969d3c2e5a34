// `vardek-probe check`: a board's self-test, one verdict per check, for a bench or a test jig.
//
// The checks speak to the board only through CheckedBoard, so their sequence and verdicts live
// here and the socket, the retries and the signals stay with the exchange (board/).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "board/answer.h"
#include "check/check_files.h"
#include "check/measurement.h"
#include "check/operator.h"
#include "link/board_protocol.h"

namespace vardek::check {

// The board as the checks see it, shared with the sampler.
using board::Answer;
using board::CheckedBoard;
using board::Milliseconds;
using board::Task;

using limits::defaultLimits;
using limits::LimitsTable;
using limits::setAdcMax;
using limits::setTemperatureRange;

struct CheckSettings {
    std::uint32_t count = 5;  // status requests of the reachable check
    bool outputs = false;     // switch RB2..RB7; they drive whatever is wired to them
    LimitsTable limits = defaultLimits();
};

struct CheckResult {
    std::string name;
    // FAIL when a fault was found or a measurement failed, else MARGINAL when a measurement was,
    // else PASS; SKIP when the check could not be made.
    Outcome verdict = Outcome::Skip;
    std::string detail;
    // The measured values for --json: a field name and its JSON text each.
    std::vector<std::pair<std::string, std::string>> values;
    std::vector<Measurement> measurements;
    std::chrono::duration<double> duration{};
};

struct CheckRun {
    enum class End { Finished, NotSent, Stopped };

    End end = End::Finished;
    bool answered = false;             // any datagram at all came from the board
    std::vector<CheckResult> results;  // in order, once finished
    std::string restored;  // after a stop in the outputs check: what became of the outputs
    std::string cutShort;  // after a stop: "cut short by SIGTERM", as the records say it
};

// "after 612 ms, beyond --timeout 500": how late an answer came, in whole milliseconds.
std::string lateText(Milliseconds roundTrip, std::uint32_t timeoutMs);

// Runs reachable, reply-size, outputs, analogue and inputs, in that order; with `asked`, the
// operator confirms each output once it is set. `board`, `settings` and `asked` must outlive
// the task.
Task<CheckRun> runChecks(CheckedBoard& board, const CheckSettings& settings,
                         Operator* asked = nullptr);

// A person's line: the name, the verdict and the detail in columns.
std::string humanLine(const CheckResult& result);
// One JSON object, the board that it checked named in it.
std::string jsonLine(const CheckResult& result, const std::string& board);

// The board's outcome: FAIL when it never answered or a check failed, else MARGINAL when a
// check was, else PASS.
Outcome boardOutcome(const CheckRun& run);
// How many checks had `outcome`.
int countOf(const CheckRun& run, Outcome outcome);
// "check 127.0.0.1:10001: PASS (5 passed, 0 marginal, 0 failed, 0 skipped)"
std::string summaryLine(const CheckRun& run, const std::string& board);

}  // namespace vardek::check
