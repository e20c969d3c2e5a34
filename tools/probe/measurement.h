// A value that `check` takes from the board, judged against its limits: the record that the
// verdicts, the person's lines and the reports are all made from.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vardek::probe {

// MARGINAL passes: the value is inside its limits but outside its marginal bounds, a unit that
// works today and may not after a warmer day or an older part.
enum class Outcome { Pass, Marginal, Fail, Skip };

const char* outcomeText(Outcome outcome);  // "PASS", "MARGINAL", "FAIL" or "SKIP"

// Every bound inclusive and each one optional: a measurement without limits is only recorded.
struct Limits {
    std::optional<double> low;
    std::optional<double> high;
    std::optional<double> marginalLow;
    std::optional<double> marginalHigh;

    bool operator==(const Limits&) const = default;
};

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

// The value judged against its limits; SKIP without a value.
Measurement measured(std::string name, std::optional<double> value, std::string unit,
                     const Limits& limits, int decimals);

// "LO:HI" with either side left out for no bound ("15:35", ":50", "-5:"), LO not above HI.
bool parseRange(std::string_view text, std::optional<double>& low, std::optional<double>& high);

// A number as short as it reads back exactly: 60, 146.5, -0.25.
std::string numberText(double value);
std::string rangeText(std::optional<double> low, std::optional<double> high);

// The value as shown: "21.5 ℃", "1023".
std::string valueText(const Measurement& measurement);

// What a FAIL or MARGINAL measurement says, naming its value and the bound it crossed:
// "RA5 36.0 ℃ outside 15:35", "RA2 4096 above 1023", "RA5 33.0 ℃ marginal, outside 18:32".
// Empty for PASS and SKIP.
std::string outcomeProblem(const Measurement& measurement);

}  // namespace vardek::probe
