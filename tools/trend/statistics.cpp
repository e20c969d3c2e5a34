#include "tools/trend/statistics.h"

#include <algorithm>
#include <cmath>

namespace vardek::trend {

Statistics statistics(const Trace& trace, std::size_t first, std::size_t last) {
    Statistics figures;
    last = std::min(last, trace.size());
    // Welford's running mean and sum of squared deviations: one pass, and no loss of the
    // small spread of a steady reading to the size of its sum.
    std::array<double, kSeriesCount> squares{};
    for (std::size_t index = first; index < last; ++index) {
        const Sample& sample = trace[index];
        ++figures.samples;
        figures.missed += sample.missed() ? 1 : 0;
        for (int series = 0; series < kSeriesCount; ++series) {
            const float value = sample.value(static_cast<Series>(series));
            if (std::isnan(value)) {
                continue;
            }
            SeriesStatistics& of = figures.series[static_cast<std::size_t>(series)];
            const double x = value;
            if (of.count == 0) {
                of.min = of.max = x;
            } else {
                of.min = std::min(of.min, x);
                of.max = std::max(of.max, x);
            }
            ++of.count;
            const double delta = x - of.mean;
            of.mean += delta / static_cast<double>(of.count);
            squares[static_cast<std::size_t>(series)] += delta * (x - of.mean);
        }
    }
    for (std::size_t series = 0; series < figures.series.size(); ++series) {
        SeriesStatistics& of = figures.series[series];
        if (of.count > 1) {
            of.deviation = std::sqrt(squares[series] / static_cast<double>(of.count - 1));
        }
    }
    return figures;
}

}  // namespace vardek::trend
