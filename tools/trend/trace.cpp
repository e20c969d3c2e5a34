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

Faults Sample::faults() const {
    Faults faults = 0;
    switch (result) {
        case Result::Ok:
            break;
        case Result::NoReply:
            faults |= bitOf(Fault::NoReply);
            break;
        case Result::NotSent:
            faults |= bitOf(Fault::NotSent);
            break;
        case Result::WrongSize:
            faults |= bitOf(Fault::WrongSize);
            break;
        case Result::Late:
            faults |= bitOf(Fault::Late);
            break;
        case Result::NotWritten:
            faults |= bitOf(Fault::NotWritten);
            break;
    }
    if (lateReplies > 0) {
        faults |= bitOf(Fault::Late);
    }
    if (retries > 0) {
        faults |= bitOf(Fault::Retried);
    }
    return faults;
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
        estimateInterval();
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
        for (const Sample& sample : samples) {
            samples_.push_back(sample);
            summarise(samples_.size() - 1);
        }
        estimateInterval();
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
    if (!intervalSet_) {
        intervalMs_ = 0;
    }
    rebuild();
}

void Trace::setInterval(std::int64_t intervalMs) {
    intervalMs_ = std::max<std::int64_t>(intervalMs, 0);
    intervalSet_ = intervalMs_ > 0;
    rebuild();
}

void Trace::estimateInterval() {
    // Taken once, from the first samples: a later outage must not widen what counts as one.
    if (intervalMs_ > 0 || samples_.size() < 3) {
        return;
    }
    std::vector<std::int64_t> spacings;
    const std::size_t count = std::min(samples_.size(), kSpacingsTaken + 1);
    for (std::size_t index = 1; index < count; ++index) {
        if (!breaksBefore(index)) {
            spacings.push_back(times_[index] - times_[index - 1]);
        }
    }
    if (spacings.size() < 2) {
        return;
    }
    const auto middle = spacings.begin() + static_cast<std::ptrdiff_t>(spacings.size() / 2);
    std::nth_element(spacings.begin(), middle, spacings.end());
    if (*middle <= 0) {
        return;
    }
    intervalMs_ = *middle;
    breaks_.clear();
    for (std::size_t index = 1; index < samples_.size(); ++index) {
        if (breaksBefore(index)) {
            breaks_.push_back(index);
        }
    }
}

bool Trace::breaksBefore(std::size_t index) const {
    const Sample& before = samples_[index - 1];
    const Sample& after = samples_[index];
    // The elapsed time starts again with each run of the sampler.
    if (after.elapsedS < before.elapsedS) {
        return true;
    }
    // Half an interval of slack: a sample may start late after one that waited out timeouts.
    return intervalMs_ > 0 && 2 * (after.timeMs - before.timeMs) > 3 * intervalMs_;
}

std::size_t Trace::firstBreakFrom(std::size_t index) const {
    return static_cast<std::size_t>(std::lower_bound(breaks_.begin(), breaks_.end(), index) -
                                    breaks_.begin());
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

Trace::Values Trace::valuesOf(const Sample& sample) {
    Values values;
    for (int series = 0; series < kSeriesCount; ++series) {
        values[static_cast<std::size_t>(series)] = sample.value(static_cast<Series>(series));
    }
    values[kReplies] = sample.missed() ? kNoValue : 0.0F;
    return values;
}

void Trace::summarise(std::size_t index) {
    const Sample& sample = samples_[index];
    times_.push_back(sample.timeMs);
    const Values values = valuesOf(sample);
    const Faults faults = sample.faults();
    faults_.push_back(faults);
    levels_.resize(kLevels);
    faultLevels_.resize(kLevels);
    for (int level = 0; level < kLevels; ++level) {
        std::vector<Extents>& blocks = levels_[static_cast<std::size_t>(level)];
        std::vector<Faults>& faultBlocks = faultLevels_[static_cast<std::size_t>(level)];
        const std::size_t block = index / blockSize(level);
        if (blocks.size() <= block) {
            blocks.resize(block + 1);
            faultBlocks.resize(block + 1);
        }
        add(blocks[block], values);
        faultBlocks[block] |= faults;
    }
    if (index > 0 && breaksBefore(index)) {
        breaks_.push_back(index);
    }
}

void Trace::rebuild() {
    times_.clear();
    levels_.clear();
    faults_.clear();
    faultLevels_.clear();
    breaks_.clear();
    for (std::size_t index = 0; index < samples_.size(); ++index) {
        summarise(index);
    }
    estimateInterval();
}

template <typename OnValues, typename OnBlock>
void Trace::visit(std::size_t first, std::size_t last, OnValues onValues, OnBlock onBlock) const {
    last = std::min(last, samples_.size());
    std::size_t index = first;
    // The samples before the first whole block, one by one.
    for (; index < last && index % kBlockSize != 0; ++index) {
        onValues(index);
    }
    // Then the largest block that starts at each place and ends within the run.
    while (last - index >= kBlockSize) {
        const int aligned = std::countr_zero(index | (std::size_t{1} << 62)) - kBlockBits;
        const int fits = std::bit_width(last - index) - 1 - kBlockBits;
        const int level = std::min({aligned, fits, kLevels - 1});
        onBlock(static_cast<std::size_t>(level), index >> (level + kBlockBits));
        index += blockSize(level);
    }
    for (; index < last; ++index) {
        onValues(index);
    }
}

Extents Trace::extents(std::size_t first, std::size_t last) const {
    Extents extents{};
    visit(
        first, last, [&](std::size_t index) { add(extents, valuesOf(samples_[index])); },
        [&](std::size_t level, std::size_t block) { add(extents, levels_[level][block]); });
    return extents;
}

Faults Trace::faults(std::size_t first, std::size_t last) const {
    Faults faults = 0;
    visit(
        first, last, [&](std::size_t index) { faults |= faults_[index]; },
        [&](std::size_t level, std::size_t block) { faults |= faultLevels_[level][block]; });
    return faults;
}

}  // namespace vardek::trend
