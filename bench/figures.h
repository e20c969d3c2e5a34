// A figure measured several times, as the benchmarks' tables give it beside its baseline: the
// median with the smallest and largest value, and the ratio of the two medians.
#pragma once

#include <QString>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace vardek::bench {

struct Spread {
    double median = 0;
    double min = 0;
    double max = 0;
};

inline Spread spread(std::vector<double> values) {
    if (values.empty()) {
        throw std::runtime_error("a figure was not measured");
    }
    std::ranges::sort(values);
    return {values[values.size() / 2], values.front(), values.back()};
}

// "| figure | unit | median (min–max) | median (min–max) | ratio× |", a Markdown table's row.
inline QString row(const QString& figure, const QString& unit, const Spread& program,
                   const Spread& baseline) {
    const auto cell = [](const Spread& value) {
        return QStringLiteral("%1 (%2–%3)")
            .arg(value.median, 0, 'g', 3)
            .arg(value.min, 0, 'g', 3)
            .arg(value.max, 0, 'g', 3);
    };
    return QStringLiteral("| %1 | %2 | %3 | %4 | %5× |\n")
        .arg(figure, unit, cell(program), cell(baseline))
        .arg(program.median / baseline.median, 0, 'f', 2);
}

}  // namespace vardek::bench
