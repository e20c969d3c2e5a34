#include "check/measurement.h"

#include <cstdio>

namespace vardek::check {

namespace {

// "outside 15:35", "above 1023" or "below 2": the side given, or both.
std::string crossed(std::optional<double> low, std::optional<double> high) {
    if (low && high) {
        return "outside " + rangeText(low, high);
    }
    return high ? "above " + numberText(*high) : "below " + numberText(*low);
}

}  // namespace

std::string decimals(double value, int places) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", places, value);
    return text;
}

Measurement measured(std::string name, std::optional<double> value, std::string unit,
                     const Limits& limits, int decimals) {
    Measurement measurement{std::move(name), value, std::move(unit), limits, Outcome::Skip,
                            decimals,        {}};
    if (!value) {
        return measurement;
    }
    measurement.outcome = limits::judged(*value, limits);
    return measurement;
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

}  // namespace vardek::check
