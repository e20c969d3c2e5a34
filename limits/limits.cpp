#include "limits/limits.h"

#include <array>
#include <charconv>
#include <cmath>

#include "link/board_protocol.h"

namespace vardek::limits {

namespace {

bool inside(double value, std::optional<double> low, std::optional<double> high) {
    return (!low || value >= *low) && (!high || value <= *high);
}

bool parseBound(std::string_view text, std::optional<double>& bound) {
    if (text.empty()) {
        bound.reset();
        return true;
    }
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value)) {
        return false;
    }
    bound = value;
    return true;
}

}  // namespace

const char* outcomeText(Outcome outcome) {
    switch (outcome) {
        case Outcome::Pass:
            return "PASS";
        case Outcome::Marginal:
            return "MARGINAL";
        case Outcome::Fail:
            return "FAIL";
        case Outcome::Skip:
            break;
    }
    return "SKIP";
}

Outcome judged(double value, const Limits& limits) {
    if (!inside(value, limits.low, limits.high)) {
        return Outcome::Fail;
    }
    return inside(value, limits.marginalLow, limits.marginalHigh) ? Outcome::Pass
                                                                  : Outcome::Marginal;
}

LimitsTable defaultLimits() {
    // A retry is a lost request or reply: the unit works, on a link or with a network stack
    // that may not on the line's next day. A late reply already fails the check it answered.
    const Limits noneLost{{}, {}, {}, 0};
    LimitsTable limits{{"rtt_median", {}},    {"rtt_max", {}},       {"RB0", {}},
                       {"RB1", {}},           {"requests_sent", {}}, {"requests_answered", {}},
                       {"retries", noneLost}, {"late_replies", {}}};
    for (const link::Channel& channel : link::kChannels) {
        limits[std::string(channel.pin)] = {};
    }
    setAdcMax(limits, kConverterMax);
    setTemperatureRange(limits, 0, 60);
    return limits;
}

void setAdcMax(LimitsTable& limits, double highest) {
    for (const link::Channel& channel : link::kChannels) {
        if (channel.reading == link::Reading::Raw) {
            limits[std::string(channel.pin)].high = highest;
        }
    }
}

void setTemperatureRange(LimitsTable& limits, double lowest, double highest) {
    Limits& ra5 = limits["RA5"];
    ra5.low = lowest;
    ra5.high = highest;
}

bool parseRange(std::string_view text, std::optional<double>& low, std::optional<double>& high) {
    // A colon after the first character, so "-5:40" splits after "-5"; ":50" has no low bound.
    const auto colon = text.starts_with(':') ? 0 : text.find(':', 1);
    return colon != std::string_view::npos && text.size() > 1 &&
           parseBound(text.substr(0, colon), low) && parseBound(text.substr(colon + 1), high) &&
           (!low || !high || *low <= *high);
}

std::string numberText(double value) {
    std::array<char, 32> text{};
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
    return {text.data(), result.ptr};
}

std::string rangeText(std::optional<double> low, std::optional<double> high) {
    return (low ? numberText(*low) : "") + ':' + (high ? numberText(*high) : "");
}

}  // namespace vardek::limits
