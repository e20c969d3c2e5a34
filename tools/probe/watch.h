// `vardek-probe watch`: samples of the board on a fixed schedule, printed as replies or logged
// as readings over time.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "readings/sample.h"
#include "tools/probe/board_check.h"
#include "tools/probe/probe_options.h"

namespace vardek::probe {

// When each sample is due: sample k at the start + k × interval on the monotonic clock, so a
// long run does not drift from its count (24 h at 1000 ms is 86,400 samples). Every slot has its
// sample and its row; one begun after its slot, held up by the one before, counts as late.
class SampleSchedule {
  public:
    using Clock = std::chrono::steady_clock;

    // Starts now, with --interval, --count and --duration of `options`.
    explicit SampleSchedule(const ProbeOptions& options);

    // Whether another sample is to be taken: within --count, within --duration both by the
    // schedule and by the clock.
    bool another() const;
    Clock::time_point due() const { return start_ + taken_ * interval_; }
    // The sample that was due has been taken: counts it, and counts it late if it ran into the
    // next one's time.
    void taken();

    Clock::time_point start() const { return start_; }
    std::uint64_t count() const { return taken_; }
    std::uint64_t late() const { return late_; }

  private:
    Clock::time_point start_;
    std::chrono::milliseconds interval_;
    std::optional<std::uint64_t> count_;
    std::optional<std::chrono::milliseconds> duration_;
    std::uint64_t taken_ = 0;
    std::uint64_t late_ = 0;
};

// One sample, as takeSample leaves it for its row.
struct TakenSample {
    readings::Sample sample;
    // No request of it could be sent: the exchange was still waiting for a late answer to the
    // sample before when this one's time ran out.
    bool heldUp = false;
    // Its first unanswered request was cut short by the sample's time and may still be
    // answered: if it is, the sample was late, not unanswered.
    bool cutShortFirst = false;
};

// One sample, stamped with its slot's `time` and `elapsed`: the status request, then one read of
// each pin asked for, in the log's column order, each matched by order and tried as --timeout and
// --retries say. A value comes only from its own reply; the result is the first request's
// failure; the tries of every request are counted. Nothing when a signal cut it short.
Task<std::optional<TakenSample>> takeSample(CheckedBoard& board, readings::Pins pins,
                                            readings::UtcTime time,
                                            std::chrono::milliseconds elapsed);

}  // namespace vardek::probe
