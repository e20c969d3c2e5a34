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

void SampleStore::push_back(const Sample& sample) {
    if (size_ == chunks_.size() * kChunk) {
        chunks_.push_back(std::make_unique<Sample[]>(kChunk));
    }
    (*this)[size_++] = sample;
}

void SampleStore::clear() {
    chunks_.clear();
    size_ = 0;
}

std::vector<Sample> Trace::samples() const {
    std::vector<Sample> copy;
    copy.reserve(samples_.size());
    for (std::size_t index = 0; index < samples_.size(); ++index) {
        copy.push_back(samples_[index]);
    }
    return copy;
}

void Trace::append(const Sample& sample) {
    if (samples_.empty() || newest().timeMs <= sample.timeMs) {
        samples_.push_back(sample);
        summarise(samples_.size() - 1);
        estimateInterval();
        return;
    }
    // A clock set back, or logs of two runs in one file: kept in time order, which costs a
    // rebuild of the summaries.
    merge({sample});
}

void Trace::append(std::vector<Sample> samples) {
    const auto earlier = [](const Sample& a, const Sample& b) { return a.timeMs < b.timeMs; };
    const bool inOrder =
        std::is_sorted(samples.begin(), samples.end(), earlier) &&
        (samples_.empty() || samples.empty() || newest().timeMs <= samples.front().timeMs);
    if (inOrder) {
        for (const Sample& sample : samples) {
            samples_.push_back(sample);
            summarise(samples_.size() - 1);
        }
        estimateInterval();
        return;
    }
    merge(std::move(samples));
}

void Trace::merge(std::vector<Sample> later) {
    const auto earlier = [](const Sample& a, const Sample& b) { return a.timeMs < b.timeMs; };
    std::stable_sort(later.begin(), later.end(), earlier);
    std::vector<Sample> all = samples();
    const auto middle = static_cast<std::ptrdiff_t>(all.size());
    all.insert(all.end(), later.begin(), later.end());
    std::inplace_merge(all.begin(), all.begin() + middle, all.end(), earlier);
    samples_.clear();
    for (const Sample& sample : all) {
        samples_.push_back(sample);
    }
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
            spacings.push_back(samples_[index].timeMs - samples_[index - 1].timeMs);
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
    std::size_t low = std::min(from, samples_.size());
    std::size_t high = samples_.size();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (samples_[middle].timeMs < timeMs) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
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
    const Faults faults = sample.faults();
    faults_.push_back(faults);
    levels_.resize(kLevels);
    faultLevels_.resize(kLevels);
    // The sample goes into its block at the first level; a block made whole by it goes into
    // the block above it, and so on up: a sample costs the summaries a few steps, not one per
    // level.
    std::vector<Extents>& firstBlocks = levels_[0];
    std::vector<Faults>& firstFaults = faultLevels_[0];
    const std::size_t firstBlock = index / kBlockSize;
    if (firstBlocks.size() <= firstBlock) {
        firstBlocks.resize(firstBlock + 1);
        firstFaults.resize(firstBlock + 1);
    }
    add(firstBlocks[firstBlock], valuesOf(sample));
    firstFaults[firstBlock] |= faults;
    for (int level = 0; level + 1 < kLevels && (index + 1) % blockSize(level) == 0; ++level) {
        const std::size_t whole = index / blockSize(level);
        const std::size_t above = whole / 2;
        std::vector<Extents>& blocks = levels_[static_cast<std::size_t>(level) + 1];
        std::vector<Faults>& faultBlocks = faultLevels_[static_cast<std::size_t>(level) + 1];
        if (blocks.size() <= above) {
            blocks.resize(above + 1);
            faultBlocks.resize(above + 1);
        }
        add(blocks[above], levels_[static_cast<std::size_t>(level)][whole]);
        faultBlocks[above] |= faultLevels_[static_cast<std::size_t>(level)][whole];
    }
    if (index > 0 && breaksBefore(index)) {
        breaks_.push_back(index);
    }
}

void Trace::rebuild() {
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
