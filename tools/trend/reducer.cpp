#include "reducer.h"

#include <cmath>

namespace vardek::trend {

namespace {

// The first sample of column `column`; the view's last column ends with lastMs itself.
std::size_t columnStart(const Trace& trace, const View& view, int column) {
    if (column >= view.columns) {
        return trace.lowerBound(view.lastMs + 1);
    }
    const double span = static_cast<double>(view.lastMs + 1 - view.firstMs);
    const double start = static_cast<double>(view.firstMs) + span * column / view.columns;
    return trace.lowerBound(static_cast<std::int64_t>(std::ceil(start)));
}

bool usable(const Trace& trace, const View& view) {
    return !trace.empty() && view.columns > 0 && view.lastMs >= view.firstMs;
}

}  // namespace

Reduced reduce(const Trace& trace, Series series, const View& view) {
    Reduced reduced;
    if (!usable(trace, view)) {
        return reduced;
    }
    const double columnMs = static_cast<double>(view.lastMs + 1 - view.firstMs) / view.columns;
    bool open = false;  // whether the next points may join the line drawn so far
    // Takes in the samples [first, last), drawn at `middleMs` when they are more than one.
    const auto take = [&](std::size_t first, std::size_t last, double middleMs) {
        const Extent extent = trace.extent(series, first, last);
        // A column with a missed sample in it stands alone: within one pixel it cannot show on
        // which side of the gap its values lie.
        if (extent.hasValue && (extent.hasGap || !open)) {
            reduced.lines.push_back(reduced.points.size());
        }
        open = extent.hasValue && !extent.hasGap;
        if (!extent.hasValue) {
            return extent;
        }
        if (last - first == 1) {
            reduced.points.push_back({static_cast<double>(trace[first].timeMs), extent.min});
        } else if (extent.min == extent.max) {
            reduced.points.push_back({middleMs, extent.min});
        } else {
            const float earlier = extent.minFirst ? extent.min : extent.max;
            const float later = extent.minFirst ? extent.max : extent.min;
            reduced.points.push_back({middleMs, earlier});
            reduced.points.push_back({middleMs, later});
        }
        return extent;
    };

    std::size_t first = columnStart(trace, view, 0);
    if (first > 0) {
        take(first - 1, first, 0);
    }
    for (int column = 0; column < view.columns; ++column) {
        const std::size_t last = columnStart(trace, view, column + 1);
        if (first < last) {
            reduced.extent.add(
                take(first, last, static_cast<double>(view.firstMs) + columnMs * (column + 0.5)));
        }
        first = last;
    }
    if (first < trace.size()) {
        take(first, first + 1, 0);
    }
    return reduced;
}

std::vector<std::pair<int, int>> missedColumns(const Trace& trace, const View& view) {
    std::vector<std::pair<int, int>> runs;
    if (!usable(trace, view)) {
        return runs;
    }
    std::size_t first = columnStart(trace, view, 0);
    for (int column = 0; column < view.columns; ++column) {
        const std::size_t last = columnStart(trace, view, column + 1);
        if (first < last && trace.replies(first, last).hasGap) {
            if (!runs.empty() && runs.back().second == column - 1) {
                runs.back().second = column;
            } else {
                runs.emplace_back(column, column);
            }
        }
        first = last;
    }
    return runs;
}

}  // namespace vardek::trend
