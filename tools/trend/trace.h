// The readings vardek-trend holds: one sample per row, in time order, and for each of the seven
// series a summary of its minimum and maximum over blocks of samples, so that a chart column
// covering a thousand samples is summed up in a few steps rather than a thousand.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

#include "readings/sample.h"

namespace vardek::trend {

// The seven series a sample carries: RA0-RA3 raw, RA5 in degrees Celsius, and the inputs RB0
// and RB1 as 0 or 1.
enum class Series : int { RA0, RA1, RA2, RA3, RA5, RB0, RB1 };
inline constexpr int kSeriesCount = 7;
inline constexpr int kAnalogueCount = 5;  // RA0-RA3 and RA5, in the order of Series

inline constexpr std::array<std::string_view, kSeriesCount> kSeriesNames{"RA0", "RA1", "RA2", "RA3",
                                                                         "RA5", "RB0", "RB1"};

// Where a series is drawn: RA0-RA3 against the left axis, RA5 against the right one, the
// inputs as steps in the strip below.
enum class Scale { Raw, Temperature, Input };
constexpr Scale scaleOf(Series series) {
    return series == Series::RA5   ? Scale::Temperature
           : series >= Series::RB0 ? Scale::Input
                                   : Scale::Raw;
}

inline constexpr float kNoValue = std::numeric_limits<float>::quiet_NaN();

// One sample, with what a log row of `vardek-probe watch` holds.
struct Sample {
    // Every request answered, or how the first one that was not went.
    using Result = readings::Result;

    std::int64_t timeMs = 0;  // UTC, milliseconds since the epoch
    double elapsedS = 0;      // since the start of the run that took it
    Result result = Result::NoReply;
    std::uint16_t wrongSize = 0;  // the size of the datagram that answered, for WrongSize
    // Requests sent again and replies that came too late, as the log counts them.
    std::uint16_t retries = 0;
    std::uint16_t lateReplies = 0;
    float rttMs = kNoValue;
    std::int16_t portB = -1;  // -1: no status reply in this sample
    // RA0-RA3 raw and RA5 in degrees Celsius; kNoValue for a pin not read or not answered.
    std::array<float, kAnalogueCount> analogue{kNoValue, kNoValue, kNoValue, kNoValue, kNoValue};

    bool missed() const { return result != Result::Ok; }
    // The value of one series; kNoValue where the sample has none.
    float value(Series series) const;
};

// The minimum and maximum of a run of samples, and whether a sample in it had no value.
struct Extent {
    float min = 0;
    float max = 0;
    bool hasValue = false;
    bool hasGap = false;
    bool minFirst = true;  // the minimum came no later than the maximum

    // Takes in the samples that follow this run in time.
    void add(float value) {
        if (std::isnan(value)) {
            hasGap = true;
        } else if (!hasValue) {
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
    void add(const Extent& later);
};

// The extent of each series over a run of samples, then of the replies: whether one was missed.
inline constexpr int kReplies = kSeriesCount;
using Extents = std::array<Extent, kSeriesCount + 1>;

class Trace {
  public:
    // Samples in a block at the summary's first level; each level above doubles it.
    static constexpr std::size_t kBlockSize = 8;

    // A sample older than the newest goes in its place in time; one at the same time as
    // another goes after it.
    void append(const Sample& sample);
    // Many at once, as from a log file: out of order among themselves or with the trace, they
    // cost one rebuild of the summaries in all rather than one each.
    void append(std::vector<Sample> samples);
    void clear();

    std::size_t size() const { return samples_.size(); }
    bool empty() const { return samples_.empty(); }
    const Sample& operator[](std::size_t index) const { return samples_[index]; }
    const std::vector<Sample>& samples() const { return samples_; }

    // The first sample at or after `timeMs`, from `from` on; size() when there is none.
    std::size_t lowerBound(std::int64_t timeMs, std::size_t from = 0) const;
    // The sample nearest to `timeMs`; size() when the trace is empty.
    std::size_t nearest(std::int64_t timeMs) const;

    // Every series' extent over the samples [first, last), and the replies'. Costs the
    // logarithm of the count, not the count.
    Extents extents(std::size_t first, std::size_t last) const;

  private:
    // A sample's value in each summary: the series, then 0 for an answered sample and no value
    // for a missed one. All of a sample's, and all of a block's, lie together in memory, so that
    // a chart column costs a few cache lines for all the series at once.
    using Values = std::array<float, kSeriesCount + 1>;

    void summarise(std::size_t index);
    void rebuild();

    std::vector<Sample> samples_;
    std::vector<std::int64_t> times_;
    std::vector<Values> values_;
    // levels_[level][block]: the extents of the block's kBlockSize << level samples.
    std::vector<std::vector<Extents>> levels_;
};

}  // namespace vardek::trend
