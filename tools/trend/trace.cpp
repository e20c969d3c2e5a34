#include "trace.h"

#include <algorithm>

namespace vardek::trend {

namespace {

// Blocks of 8 << 20 samples at the top level: far beyond a day at 1 ms.
constexpr int kLevels = 21;

constexpr std::size_t blockSize(int level) { return Trace::kBlockSize << level; }

}  // namespace

float Sample::value(Series series) const {
    const int index = static_cast<int>(series);
    if (index < kAnalogueCount) {
        return analogue[static_cast<std::size_t>(index)];
    }
    if (portB < 0) {
        return kNoValue;
    }
    const int bit = index - static_cast<int>(Series::RB0);
    return static_cast<float>((portB >> bit) & 1);
}

void Extent::add(float value) {
    if (std::isnan(value)) {
        hasGap = true;
        return;
    }
    if (!hasValue) {
        min = max = value;
        hasValue = true;
        minFirst = true;
    } else if (value < min) {
        min = value;
        minFirst = false;
    } else if (value > max) {
        max = value;
        minFirst = true;
    }
}

void Extent::add(const Extent& later) {
    hasGap = hasGap || later.hasGap;
    if (!later.hasValue) {
        return;
    }
    if (!hasValue) {
        min = later.min;
        max = later.max;
        minFirst = later.minFirst;
        hasValue = true;
        return;
    }
    // Of equal values the earlier one stands, as for single samples.
    const bool minLater = later.min < min;
    const bool maxLater = later.max > max;
    if (minLater && maxLater) {
        minFirst = later.minFirst;
    } else if (minLater) {
        minFirst = false;
    } else if (maxLater) {
        minFirst = true;
    }
    if (minLater) {
        min = later.min;
    }
    if (maxLater) {
        max = later.max;
    }
}

void Trace::append(const Sample& sample) {
    if (samples_.empty() || samples_.back().timeMs <= sample.timeMs) {
        samples_.push_back(sample);
        summarise(samples_.size() - 1);
        return;
    }
    // A clock set back, or logs of two runs in one file: kept in time order, which costs a
    // rebuild of the summaries.
    const auto place = std::upper_bound(
        samples_.begin(), samples_.end(), sample.timeMs,
        [](std::int64_t timeMs, const Sample& other) { return timeMs < other.timeMs; });
    samples_.insert(place, sample);
    rebuild();
}

void Trace::append(std::vector<Sample> samples) {
    const auto earlier = [](const Sample& a, const Sample& b) { return a.timeMs < b.timeMs; };
    const bool inOrder =
        std::is_sorted(samples.begin(), samples.end(), earlier) &&
        (samples_.empty() || samples.empty() || samples_.back().timeMs <= samples.front().timeMs);
    if (inOrder) {
        samples_.reserve(samples_.size() + samples.size());
        for (const Sample& sample : samples) {
            samples_.push_back(sample);
            summarise(samples_.size() - 1);
        }
        return;
    }
    std::stable_sort(samples.begin(), samples.end(), earlier);
    const auto middle = static_cast<std::ptrdiff_t>(samples_.size());
    samples_.insert(samples_.end(), samples.begin(), samples.end());
    std::inplace_merge(samples_.begin(), samples_.begin() + middle, samples_.end(), earlier);
    rebuild();
}

void Trace::clear() {
    samples_.clear();
    for (Levels& levels : levels_) {
        levels.clear();
    }
}

std::size_t Trace::lowerBound(std::int64_t timeMs) const {
    const auto found = std::lower_bound(
        samples_.begin(), samples_.end(), timeMs,
        [](const Sample& sample, std::int64_t time) { return sample.timeMs < time; });
    return static_cast<std::size_t>(found - samples_.begin());
}

std::size_t Trace::nearest(std::int64_t timeMs) const {
    const std::size_t after = lowerBound(timeMs);
    if (after == 0 || samples_.empty()) {
        return after == 0 && !samples_.empty() ? 0 : samples_.size();
    }
    if (after == samples_.size()) {
        return after - 1;
    }
    return timeMs - samples_[after - 1].timeMs <= samples_[after].timeMs - timeMs ? after - 1
                                                                                  : after;
}

Extent Trace::extent(Series series, std::size_t first, std::size_t last) const {
    return query(static_cast<int>(series), first, last);
}

Extent Trace::replies(std::size_t first, std::size_t last) const {
    return query(kSeriesCount, first, last);
}

float Trace::summaryValue(int summary, std::size_t index) const {
    const Sample& sample = samples_[index];
    if (summary == kSeriesCount) {
        return sample.missed() ? kNoValue : 0.0F;
    }
    return sample.value(static_cast<Series>(summary));
}

void Trace::summarise(std::size_t index) {
    for (int summary = 0; summary < kSummaries; ++summary) {
        Levels& levels = levels_[static_cast<std::size_t>(summary)];
        levels.resize(kLevels);
        const float value = summaryValue(summary, index);
        for (int level = 0; level < kLevels; ++level) {
            std::vector<Extent>& blocks = levels[static_cast<std::size_t>(level)];
            const std::size_t block = index / blockSize(level);
            if (blocks.size() <= block) {
                blocks.resize(block + 1);
            }
            blocks[block].add(value);
        }
    }
}

void Trace::rebuild() {
    for (Levels& levels : levels_) {
        levels.clear();
    }
    for (std::size_t index = 0; index < samples_.size(); ++index) {
        summarise(index);
    }
}

Extent Trace::query(int summary, std::size_t first, std::size_t last) const {
    const Levels& levels = levels_[static_cast<std::size_t>(summary)];
    last = std::min(last, samples_.size());
    Extent extent;
    std::size_t index = first;
    while (index < last) {
        if (index % kBlockSize != 0 || last - index < kBlockSize) {
            extent.add(summaryValue(summary, index));
            ++index;
            continue;
        }
        // The largest block that starts here and ends within the run.
        int level = 0;
        while (level + 1 < kLevels && index % blockSize(level + 1) == 0 &&
               index + blockSize(level + 1) <= last) {
            ++level;
        }
        extent.add(levels[static_cast<std::size_t>(level)][index / blockSize(level)]);
        index += blockSize(level);
    }
    return extent;
}

}  // namespace vardek::trend
