#include "tools/trend/reducer.h"

#include <cmath>

namespace vardek::trend {

namespace {

// One series' line as the columns come in.
class Line {
  public:
    explicit Line(Reduced& reduced) : reduced_(reduced) {}

    // Takes in the extent of `count` samples, drawn at `middleMs` when they are more than one
    // and at `onlyMs`, the sample's own time, when there is one.
    void take(const Extent& extent, std::size_t count, double middleMs, double onlyMs) {
        // A column with a missed sample in it stands alone: within one pixel it cannot show on
        // which side of the gap its values lie.
        if (extent.hasValue && (extent.hasGap || !open_)) {
            reduced_.lines.push_back(reduced_.points.size());
        }
        open_ = extent.hasValue && !extent.hasGap;
        if (!extent.hasValue) {
            return;
        }
        if (count == 1) {
            reduced_.points.push_back({onlyMs, extent.min});
        } else if (extent.min == extent.max) {
            reduced_.points.push_back({middleMs, extent.min});
        } else {
            reduced_.points.push_back({middleMs, extent.minFirst ? extent.min : extent.max});
            reduced_.points.push_back({middleMs, extent.minFirst ? extent.max : extent.min});
        }
    }

  private:
    Reduced& reduced_;
    bool open_ = false;  // whether the next points may join the line drawn so far
};

}  // namespace

ReducedView reduce(const Trace& trace, const View& view) {
    ReducedView reduced;
    if (trace.empty() || view.columns <= 0 || view.lastMs < view.firstMs) {
        return reduced;
    }
    std::vector<Line> lines;
    for (Reduced& series : reduced.series) {
        series.points.reserve(2 * static_cast<std::size_t>(view.columns) + 2);
        lines.emplace_back(series);
    }
    const auto take = [&](std::size_t first, std::size_t last, double middleMs) {
        const Extents extents = trace.extents(first, last);
        const auto onlyMs = static_cast<double>(trace[first].timeMs);
        for (std::size_t series = 0; series < lines.size(); ++series) {
            lines[series].take(extents[series], last - first, middleMs, onlyMs);
        }
        return extents;
    };

    const double span = static_cast<double>(view.lastMs + 1 - view.firstMs);
    const double columnMs = span / view.columns;
    std::size_t first = trace.lowerBound(view.firstMs);
    if (first > 0) {
        take(first - 1, first, 0);
    }
    for (int column = 0; column < view.columns; ++column) {
        // The last column ends with lastMs itself.
        const std::int64_t endMs =
            column + 1 == view.columns
                ? view.lastMs + 1
                : static_cast<std::int64_t>(
                      std::ceil(static_cast<double>(view.firstMs) + columnMs * (column + 1)));
        const std::size_t last = trace.lowerBound(endMs, first);
        if (first < last) {
            const Extents extents =
                take(first, last, static_cast<double>(view.firstMs) + columnMs * (column + 0.5));
            for (std::size_t series = 0; series < reduced.series.size(); ++series) {
                reduced.series[series].extent.add(extents[series]);
            }
            if (extents[kReplies].hasGap) {
                if (!reduced.missed.empty() && reduced.missed.back().second == column - 1) {
                    reduced.missed.back().second = column;
                } else {
                    reduced.missed.emplace_back(column, column);
                }
            }
        }
        first = last;
    }
    if (first < trace.size()) {
        take(first, first + 1, 0);
    }
    return reduced;
}

}  // namespace vardek::trend
