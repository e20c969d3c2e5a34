#include "tools/trend/reducer.h"

#include <algorithm>
#include <cmath>

namespace vardek::trend {

namespace {

// One series' line as the columns come in.
class Line {
  public:
    explicit Line(Reduced& reduced) : reduced_(reduced) {}

    // Takes in the extent of `count` samples, drawn at `middleMs` when they are more than one
    // and at `onlyMs`, the sample's own time, when there is one. `after` says that unmeasured
    // time comes before the samples, `within` that it lies among them.
    void take(const Extent& extent, std::size_t count, double middleMs, double onlyMs, bool after,
              bool within) {
        if (after) {
            open_ = false;
        }
        // A column with a missed sample or unmeasured time in it stands alone: within one
        // pixel it cannot show on which side of the gap its values lie.
        const bool gap = extent.hasGap || within;
        if (extent.hasValue && (gap || !open_)) {
            reduced_.lines.push_back(reduced_.points.size());
        }
        open_ = extent.hasValue && !gap;
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
    const std::vector<std::size_t>& breaks = trace.breaks();
    std::size_t nextBreak = 0;
    const auto take = [&](std::size_t first, std::size_t last, double middleMs) {
        // The breaks are met in order, since the columns are.
        nextBreak = std::max(nextBreak, trace.firstBreakFrom(first));
        const bool after = nextBreak < breaks.size() && breaks[nextBreak] == first;
        std::size_t beyond = nextBreak + (after ? 1 : 0);
        const bool within = beyond < breaks.size() && breaks[beyond] < last;
        while (beyond < breaks.size() && breaks[beyond] < last) {
            ++beyond;
        }
        nextBreak = beyond;
        const Extents extents = trace.extents(first, last);
        const auto onlyMs = static_cast<double>(trace[first].timeMs);
        for (std::size_t series = 0; series < lines.size(); ++series) {
            lines[series].take(extents[series], last - first, middleMs, onlyMs, after, within);
        }
        return extents;
    };

    const double span = static_cast<double>(view.lastMs + 1 - view.firstMs);
    const double columnMs = span / view.columns;
    std::size_t first = trace.lowerBound(view.firstMs);
    const std::size_t viewFirst = first;
    if (first > 0) {
        take(first - 1, first, 0);
    }
    // The last run of each fault, to be lengthened by the column that follows it.
    std::array<std::ptrdiff_t, kFaultCount> lastRun{};
    lastRun.fill(-1);
    std::array<int, kFaultCount> lastColumn{};
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
            if (const Faults faults = trace.faults(first, last); faults != 0) {
                // A sample alone in its column is marked at its own time, as its values are.
                const bool alone = last - first == 1;
                const double startMs = alone
                                           ? static_cast<double>(trace[first].timeMs)
                                           : static_cast<double>(view.firstMs) + columnMs * column;
                const double endMs = alone ? startMs : startMs + columnMs;
                for (int fault = 0; fault < kFaultCount; ++fault) {
                    if ((faults & bitOf(static_cast<Fault>(fault))) == 0) {
                        continue;
                    }
                    auto& run = lastRun[static_cast<std::size_t>(fault)];
                    auto& at = lastColumn[static_cast<std::size_t>(fault)];
                    if (run >= 0 && at == column - 1) {
                        reduced.faults[static_cast<std::size_t>(run)].lastMs = endMs;
                    } else {
                        run = static_cast<std::ptrdiff_t>(reduced.faults.size());
                        reduced.faults.push_back({static_cast<Fault>(fault), startMs, endMs});
                    }
                    at = column;
                }
            }
        }
        first = last;
    }
    const std::size_t viewLast = first;
    if (first < trace.size()) {
        take(first, first + 1, 0);
    }
    // Unmeasured time that reaches into the view, the one running into its left edge too.
    const std::size_t end = std::min(viewLast + 1, trace.size());
    for (std::size_t index = trace.firstBreakFrom(viewFirst);
         index < breaks.size() && breaks[index] < end; ++index) {
        const std::size_t after = breaks[index];
        reduced.holes.push_back({static_cast<double>(trace[after - 1].timeMs),
                                 static_cast<double>(trace[after].timeMs)});
    }
    return reduced;
}

}  // namespace vardek::trend
