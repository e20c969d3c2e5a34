// Samples of a board's readings on a fixed schedule, as `vardek-probe watch` logs them and
// vardek-trend charts them live: each sample is the status request, then one read of each pin
// asked for, through one BoardExchange, so both programs count a slow board's late replies and
// keep their slots the same way.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "board/board_exchange.h"
#include "board/task.h"
#include "readings/sample.h"

namespace vardek::board {

// When each sample is due: sample k at the start + k × interval on the monotonic clock, so a
// long run does not drift from its count (24 h at 1000 ms is 86,400 samples). Every slot has its
// sample and its row; one begun after its slot, held up by the one before, counts as late.
class SampleSchedule {
  public:
    using Clock = std::chrono::steady_clock;

    // Starts now; without a count or a duration it runs until it is stopped.
    SampleSchedule(std::chrono::milliseconds interval, std::optional<std::uint64_t> count,
                   std::optional<std::chrono::milliseconds> duration);

    // Whether another sample is to be taken: within the count, within the duration both by the
    // schedule and by the clock.
    bool another() const;
    Clock::time_point due() const { return start_ + taken_ * interval_; }
    // The sample that was due has been taken: counts it, and counts it late if it ran into the
    // next one's time.
    void taken();

    Clock::time_point start() const { return start_; }
    std::chrono::milliseconds interval() const { return interval_; }
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

// Handed each sample as it is complete, missed ones included; false ends the sampling.
using SampleTaken = std::function<bool(const readings::Sample& sample)>;

enum class SamplingEnd {
    Done,     // the schedule ran out
    Stopped,  // a stop signal came
    Refused,  // SampleTaken refused a sample
};

// Takes the schedule's samples of `pins` from `board`, each stamped with its slot: the start's
// time on the system clock and the slot's offset on the monotonic one, so that rows stand an
// interval apart whatever came late. Each request is tried as the exchange's timeout and retries
// say; a value comes only from its own reply; a sample's result is its first request's failure.
// A sample may take its slot, or one timeout where that is longer: a request still unanswered
// then ends it as missed, and its answer is waited out before the sample is handed on, so that
// it can say whether the board was silent or late. `board`, `schedule` and `taken` must outlive
// the task.
Task<SamplingEnd> sampleOnSchedule(BoardExchange& board, SampleSchedule& schedule,
                                   readings::Pins pins, const SampleTaken& taken);

}  // namespace vardek::board
