#include "tools/probe/measurement.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace vardek::probe {

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

// "outside 15:35", "above 1023" or "below 2": the side given, or both.
std::string crossed(std::optional<double> low, std::optional<double> high) {
    if (low && high) {
        return "outside " + rangeText(low, high);
    }
    return high ? "above " + numberText(*high) : "below " + numberText(*low);
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

Measurement measured(std::string name, std::optional<double> value, std::string unit,
                     const Limits& limits, int decimals) {
    Measurement measurement{std::move(name), value, std::move(unit), limits, Outcome::Skip,
                            decimals,        {}};
    if (!value) {
        return measurement;
    }
    measurement.outcome = Outcome::Fail;
    if (inside(*value, limits.low, limits.high)) {
        measurement.outcome = inside(*value, limits.marginalLow, limits.marginalHigh)
                                  ? Outcome::Pass
                                  : Outcome::Marginal;
    }
    return measurement;
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

std::string valueText(const Measurement& measurement) {
    if (!measurement.value) {
        return "none";
    }
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", measurement.decimals, *measurement.value);
    return measurement.unit.empty() ? text : text + (' ' + measurement.unit);
}

std::string outcomeProblem(const Measurement& measurement) {
    const Limits& limits = measurement.limits;
    const std::string head = measurement.name + ' ';
    switch (measurement.outcome) {
        case Outcome::Fail:
            if (!measurement.value) {
                return head + (measurement.note.empty() ? "not measured" : measurement.note);
            }
            return head + valueText(measurement) + ' ' + crossed(limits.low, limits.high) +
                   (measurement.note.empty() ? "" : " (" + measurement.note + ')');
        case Outcome::Marginal:
            return head + valueText(measurement) + " marginal, " +
                   crossed(limits.marginalLow, limits.marginalHigh);
        case Outcome::Pass:
        case Outcome::Skip:
            break;
    }
    return {};
}

}  // namespace vardek::probe
