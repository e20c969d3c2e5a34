// What the chart draws of the samples in view: each series reduced to its minimum and maximum in
// each pixel column. Drawing then costs what the chart's width costs, whatever the number of
// samples, and a single-sample spike among a day of samples is still drawn. A missed sample
// breaks the line, and so does time without samples: no line is ever drawn across either.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "tools/trend/trace.h"

namespace vardek::trend {

// The time shown, from firstMs to lastMs inclusive, across `columns` pixel columns.
struct View {
    std::int64_t firstMs = 0;
    std::int64_t lastMs = 0;
    int columns = 0;
};

struct Reduced {
    struct Point {
        double timeMs;
        float value;
    };
    std::vector<Point> points;
    // Where each unbroken line starts in `points`, in order; the first is 0 when there are any.
    std::vector<std::size_t> lines;
    // Of the samples in view: the range an automatic axis takes.
    Extent extent;
};

// A run of columns with samples of one fault, by time, so that it is drawn on the time scale of
// the lines whatever the width it is drawn at.
struct FaultRun {
    Fault fault;
    double firstMs;  // the start of its first column
    double lastMs;   // the end of its last column
};

// Time in view without samples: from the sample before to the one after.
struct Hole {
    double fromMs;
    double toMs;
};

struct ReducedView {
    std::array<Reduced, kSeriesCount> series;
    std::vector<FaultRun> faults;
    std::vector<Hole> holes;
};

// All series in one pass over the view's columns. The samples just outside the view are taken
// in as well, so that a line runs on to the edge.
ReducedView reduce(const Trace& trace, const View& view);

}  // namespace vardek::trend
