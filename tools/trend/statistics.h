// The figures a bench engineer reads off a stretch of a run: per series the count of values, the
// extremes, the mean and the standard deviation, and the share of samples missed.
#pragma once

#include <array>
#include <cstddef>

#include "tools/trend/trace.h"

namespace vardek::trend {

struct SeriesStatistics {
    std::size_t count = 0;  // samples with a value of the series
    double min = 0;
    double max = 0;
    double mean = 0;
    double deviation = 0;  // the sample standard deviation; 0 for fewer than two values
};

struct Statistics {
    std::size_t samples = 0;
    std::size_t missed = 0;
    std::array<SeriesStatistics, kSeriesCount> series{};

    double missedShare() const {
        return samples == 0 ? 0 : static_cast<double>(missed) / static_cast<double>(samples);
    }
};

// Of the samples [first, last) of the trace.
Statistics statistics(const Trace& trace, std::size_t first, std::size_t last);

}  // namespace vardek::trend
