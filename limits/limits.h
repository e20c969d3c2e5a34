// A measurement's limits and marginal bounds, and the verdict on a value against them: what
// vardek-probe check judges a unit by and what vardek-trend draws on its chart, from the one
// limits file both read.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vardek::limits {

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

// PASS, MARGINAL or FAIL for a value.
Outcome judged(double value, const Limits& limits);

// The measurements whose limits a person may set, by name, each with its limits so far.
using LimitsTable = std::map<std::string, Limits, std::less<>>;

// The measurements whose limits a limits file may set, with the limits they have without one:
// the converter's full scale on RA0..RA3, 0 to 60 degrees C on RA5, and none on the others.
inline constexpr double kConverterMax = 1023;
LimitsTable defaultLimits();

// --adc-max and --temp-range: the upper limit of RA0..RA3, and RA5's limits.
void setAdcMax(LimitsTable& limits, double highest);
void setTemperatureRange(LimitsTable& limits, double lowest, double highest);

// "LO:HI" with either side left out for no bound ("15:35", ":50", "-5:"), LO not above HI.
bool parseRange(std::string_view text, std::optional<double>& low, std::optional<double>& high);

// A number as short as it reads back exactly: 60, 146.5, -0.25.
std::string numberText(double value);
std::string rangeText(std::optional<double> low, std::optional<double> high);

}  // namespace vardek::limits
