// The readings vardek-trend holds: one sample per row, in time order, and for each series a
// summary of its minimum and maximum over blocks of samples, so that a chart column
// covering a thousand samples is summed up in a few steps rather than a thousand.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

#include "readings/sample.h"

namespace vardek::trend {

// The series a sample carries: RA0-RA3 raw, RA5 in degrees Celsius, and port B's bits as 0 or
// 1: the inputs RB0 and RB1 and the outputs RB2-RB7, whose state the status reply reports.
enum class Series : int { RA0, RA1, RA2, RA3, RA5, RB0, RB1, RB2, RB3, RB4, RB5, RB6, RB7 };
inline constexpr int kSeriesCount = 13;
inline constexpr int kAnalogueCount = 5;  // RA0-RA3 and RA5, in the order of Series
inline constexpr int kPortBits = 8;       // RB0-RB7, in the order of Series

inline constexpr std::array<std::string_view, kSeriesCount> kSeriesNames{
    "RA0", "RA1", "RA2", "RA3", "RA5", "RB0", "RB1", "RB2", "RB3", "RB4", "RB5", "RB6", "RB7"};

// Where a series is drawn: RA0-RA3 against the left axis, RA5 against the right one, port B's
// bits as steps in the strip below.
enum class Scale { Raw, Temperature, Input };
constexpr Scale scaleOf(Series series) {
    return series == Series::RA5   ? Scale::Temperature
           : series >= Series::RB0 ? Scale::Input
                                   : Scale::Raw;
}

inline constexpr float kNoValue = std::numeric_limits<float>::quiet_NaN();

// What went wrong in a sample, each drawn with a mark of its own: a silent board, a request the
// system would not send, a reply of the wrong size and a sample the log could not hold when it
// was due leave values missing; a reply after its timeout (late) leaves them missing when it
// was the last try, and a request that needed more than one try (retried) has them.
enum class Fault : int { NoReply, NotSent, WrongSize, Late, Retried, NotWritten };
inline constexpr int kFaultCount = 6;
using Faults = std::uint8_t;  // a bit per Fault
constexpr Faults bitOf(Fault fault) { return Faults(1U << static_cast<unsigned>(fault)); }

// One sample as the chart keeps it: what a log row of `vardek-probe watch` holds, in the
// compact form of a trace that keeps every sample of a run. The samples come as
// readings::Sample, from the board client or a log, and are turned into this at the chart's
// edge (log_samples.h): at a week of a sample a second, readings::Sample's optionals would take
// 87 MB where this takes 34 MB.
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
    Faults faults() const;
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

// Samples by index, kept in chunks of a fixed size rather than in one array: a week's log grows
// by a chunk at a time, never copied whole into an array twice its size as it grows.
class SampleStore {
  public:
    static constexpr std::size_t kChunk = 4096;

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const Sample& operator[](std::size_t index) const {
        return chunks_[index / kChunk][index % kChunk];
    }
    Sample& operator[](std::size_t index) { return chunks_[index / kChunk][index % kChunk]; }
    void push_back(const Sample& sample);
    void clear();

  private:
    std::vector<std::unique_ptr<Sample[]>> chunks_;
    std::size_t size_ = 0;
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
    // The newest sample, and the oldest; only of a trace that is not empty.
    const Sample& newest() const { return samples_[samples_.size() - 1]; }
    const Sample& oldest() const { return samples_[0]; }
    // Every sample, in time order, as a copy.
    std::vector<Sample> samples() const;

    // The first sample at or after `timeMs`, from `from` on; size() when there is none.
    std::size_t lowerBound(std::int64_t timeMs, std::size_t from = 0) const;
    // The sample nearest to `timeMs`; size() when the trace is empty.
    std::size_t nearest(std::int64_t timeMs) const;

    // Every series' extent over the samples [first, last), and the replies'. Costs the
    // logarithm of the count, not the count.
    Extents extents(std::size_t first, std::size_t last) const;
    // The faults of any sample in [first, last), at the same cost.
    Faults faults(std::size_t first, std::size_t last) const;

    // The time between two samples that the log's own interval allows: longer, and the time
    // between them went unmeasured (the sampler stopped, rows were cut out). Taken from the
    // samples (the most common spacing of the first ones) unless set.
    void setInterval(std::int64_t intervalMs);
    std::int64_t intervalMs() const { return intervalMs_; }
    // The samples that follow unmeasured time, as indices in time order: the time from the
    // sample before each to it has no samples. A new run in the same log (its elapsed time
    // starting again) is one as well.
    const std::vector<std::size_t>& breaks() const { return breaks_; }
    // The first index of breaks() at or after the sample `index`.
    std::size_t firstBreakFrom(std::size_t index) const;

  private:
    // A sample's value in each summary: the series, then 0 for an answered sample and no value
    // for a missed one. Figured from the sample where a run's edge needs it rather than kept
    // beside it: at a week of samples the copy would cost more memory than the summaries.
    using Values = std::array<float, kSeriesCount + 1>;
    static Values valuesOf(const Sample& sample);

    template <typename OnValues, typename OnBlock>
    void visit(std::size_t first, std::size_t last, OnValues onValues, OnBlock onBlock) const;
    void summarise(std::size_t index);
    void rebuild();
    // Puts samples that do not follow the newest in their places in time, then rebuilds.
    void merge(std::vector<Sample> later);
    void estimateInterval();
    bool breaksBefore(std::size_t index) const;

    static constexpr std::size_t kSpacingsTaken = 1000;

    SampleStore samples_;
    // levels_[level][block]: the extents of the block's kBlockSize << level samples, summed up
    // once the block is whole: only whole blocks are ever asked for.
    std::vector<std::vector<Extents>> levels_;
    std::vector<Faults> faults_;
    std::vector<std::vector<Faults>> faultLevels_;
    std::int64_t intervalMs_ = 0;
    bool intervalSet_ = false;
    std::vector<std::size_t> breaks_;
};

}  // namespace vardek::trend
