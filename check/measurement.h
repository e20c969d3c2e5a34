// A value that `check` takes from the board, judged against its limits: the record that the
// verdicts, the person's lines and the reports are all made from.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "limits/limits.h"

namespace vardek::check {

// The limits and their verdicts are the shared ones, named here as check has always named them.
using limits::Limits;
using limits::numberText;
using limits::Outcome;
using limits::outcomeText;
using limits::parseRange;
using limits::rangeText;

struct Measurement {
    std::string name;             // "RA5", "rtt_max", "RB3_set"
    std::optional<double> value;  // none when it could not be taken
    std::string unit;             // "ms", "℃"; empty for raw counts and pin levels
    Limits limits;
    Outcome outcome = Outcome::Skip;
    int decimals = 0;  // the places the value is shown with
    // Why there is no value ("no answer"), or what a failed value means beyond its limit.
    std::string note;
};

// `value` with `places` digits after the point, as every figure check and the probe print or
// report.
std::string decimals(double value, int places);

// The value judged against its limits; SKIP without a value.
Measurement measured(std::string name, std::optional<double> value, std::string unit,
                     const Limits& limits, int decimals);

// The value as shown: "21.5 ℃", "1023".
std::string valueText(const Measurement& measurement);

// What a FAIL or MARGINAL measurement says, naming its value and the bound it crossed:
// "RA5 36.0 ℃ outside 15:35", "RA2 4096 above 1023", "RA5 33.0 ℃ marginal, outside 18:32".
// Empty for PASS and SKIP.
std::string outcomeProblem(const Measurement& measurement);

}  // namespace vardek::check
