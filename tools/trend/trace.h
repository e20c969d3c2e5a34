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
    enum class Result : std::uint8_t { Ok, NoReply, WrongSize, NotSent };

    std::int64_t timeMs = 0;  // UTC, milliseconds since the epoch
    double elapsedS = 0;      // since the start of the run that took it
    Result result = Result::NoReply;
    std::uint16_t wrongSize = 0;  // the size of the datagram that answered, for WrongSize
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
    void add(float value);
    void add(const Extent& later);
};

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

    // The first sample at or after `timeMs`; size() when there is none.
    std::size_t lowerBound(std::int64_t timeMs) const;
    // The sample nearest to `timeMs`; size() when the trace is empty.
    std::size_t nearest(std::int64_t timeMs) const;

    // The extent of `series` over the samples [first, last). Costs the logarithm of the count,
    // not the count.
    Extent extent(Series series, std::size_t first, std::size_t last) const;
    // The same for whether the samples were answered: hasGap when one was missed.
    Extent replies(std::size_t first, std::size_t last) const;

  private:
    // One summary per series, and one more whose value is 0 for an answered sample and no
    // value for a missed one.
    static constexpr int kSummaries = kSeriesCount + 1;
    using Levels = std::vector<std::vector<Extent>>;

    float summaryValue(int summary, std::size_t index) const;
    void summarise(std::size_t index);
    void rebuild();
    Extent query(int summary, std::size_t first, std::size_t last) const;

    std::vector<Sample> samples_;
    std::array<Levels, kSummaries> levels_;
};

}  // namespace vardek::trend
