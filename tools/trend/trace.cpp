#include "tools/trend/trace.h"

#include <algorithm>
#include <bit>

namespace vardek::trend {

namespace {

// Blocks of 8 << 20 samples at the top level: far beyond a day at 1 ms.
constexpr int kLevels = 21;

constexpr std::size_t blockSize(int level) { return Trace::kBlockSize << level; }
constexpr int kBlockBits = std::countr_zero(Trace::kBlockSize);
static_assert(Trace::kBlockSize == std::size_t{1} << kBlockBits);

template <typename Later>
void add(Extents& extents, const Later& later) {
    for (std::size_t summary = 0; summary < extents.size(); ++summary) {
        extents[summary].add(later[summary]);
    }
}

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
        times_.reserve(samples_.capacity());
        values_.reserve(samples_.capacity());
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
    rebuild();
}

std::size_t Trace::lowerBound(std::int64_t timeMs, std::size_t from) const {
    from = std::min(from, times_.size());
    const auto begin = times_.begin() + static_cast<std::ptrdiff_t>(from);
    return static_cast<std::size_t>(std::lower_bound(begin, times_.end(), timeMs) - times_.begin());
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

void Trace::summarise(std::size_t index) {
    const Sample& sample = samples_[index];
    times_.push_back(sample.timeMs);
    Values& values = values_.emplace_back();
    for (int series = 0; series < kSeriesCount; ++series) {
        values[static_cast<std::size_t>(series)] = sample.value(static_cast<Series>(series));
    }
    values[kReplies] = sample.missed() ? kNoValue : 0.0F;
    levels_.resize(kLevels);
    for (int level = 0; level < kLevels; ++level) {
        std::vector<Extents>& blocks = levels_[static_cast<std::size_t>(level)];
        const std::size_t block = index / blockSize(level);
        if (blocks.size() <= block) {
            blocks.resize(block + 1);
        }
        add(blocks[block], values);
    }
}

void Trace::rebuild() {
    times_.clear();
    values_.clear();
    levels_.clear();
    for (std::size_t index = 0; index < samples_.size(); ++index) {
        summarise(index);
    }
}

Extents Trace::extents(std::size_t first, std::size_t last) const {
    last = std::min(last, values_.size());
    Extents extents{};
    std::size_t index = first;
    // The samples before the first whole block, one by one.
    for (; index < last && index % kBlockSize != 0; ++index) {
        add(extents, values_[index]);
    }
    // Then the largest block that starts at each place and ends within the run.
    while (last - index >= kBlockSize) {
        const int aligned = std::countr_zero(index | (std::size_t{1} << 62)) - kBlockBits;
        const int fits = std::bit_width(last - index) - 1 - kBlockBits;
        const int level = std::min({aligned, fits, kLevels - 1});
        add(extents, levels_[static_cast<std::size_t>(level)][index >> (level + kBlockBits)]);
        index += blockSize(level);
    }
    for (; index < last; ++index) {
        add(extents, values_[index]);
    }
    return extents;
}

}  // namespace vardek::trend
