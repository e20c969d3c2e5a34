// The simulated board: port B, the analogue inputs and the answers to requests.
//
// No clock and no socket in here: the caller passes the time in, so a seed and a sequence of
// calls always give the same replies, and the tests run without waiting.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "link/board_protocol.h"

namespace vardek::sim {

using Bytes = std::vector<std::uint8_t>;
using Millis = std::chrono::milliseconds;

// Readings stay inside these bounds however long they drift. RA5's bounds read as 20.0 to
// 30.3 ℃ in the panel.
inline constexpr std::uint16_t kRawMax = 1023;
inline constexpr std::uint16_t kTemperatureMin = 41;
inline constexpr std::uint16_t kTemperatureMax = 62;
inline constexpr Millis kDefaultDriftPeriod{250};

// What makes the board a faulty one. It starts as the command line asks and the control socket
// changes it while the simulator runs (BoardModel::setFaults).
struct Faults {
    // Every dropEvery-th well-formed request is carried out but left unanswered; 0 drops none.
    std::uint32_t dropEvery = 0;
    // Replies are cut to this size or padded with zeros to it.
    std::size_t replySize = link::kReplySize;
    // The outputs in stuckMask ignore set and clear and read as their bit in stuckLevels; a
    // channel with a fixed result converts to it whatever its reading.
    std::uint8_t stuckMask = 0;
    std::uint8_t stuckLevels = 0;
    std::array<std::optional<std::uint16_t>, link::kChannels.size()> fixedResults{};

    bool operator==(const Faults&) const = default;
};

struct BoardConfig {
    std::uint32_t seed = 0;
    // Bits 2..7 start the output latch; bits 0 and 1 start the inputs, which then drift.
    std::uint8_t initialPortB = 0;
    // Time between two drift steps of the readings and the inputs; zero freezes them.
    Millis driftPeriod = kDefaultDriftPeriod;
    Faults faults{};
};

// Everything that a request or the passing of time can change.
struct BoardState {
    std::uint8_t outputs = 0;                                      // only bits 2..7
    std::uint8_t inputs = 0;                                       // only bits 0 and 1
    std::array<std::uint16_t, link::kChannels.size()> readings{};  // by channel number
    std::uint16_t lastConversion = 0;
    std::uint32_t requests = 0;  // well-formed requests so far, dropped ones included
    std::int64_t driftSteps = 0;
    std::mt19937 random;

    std::uint8_t portB() const { return static_cast<std::uint8_t>(outputs | inputs); }
    bool operator==(const BoardState&) const = default;
};

enum class Disposition { Answered, Dropped, Malformed };

// What the board made of one request, and the reply it sends back for it.
struct Outcome {
    Disposition disposition = Disposition::Malformed;
    std::optional<link::DecodedRequest> request;  // empty when malformed
    Bytes reply;                                  // sent only when answered, even if empty
};

class BoardModel {
  public:
    explicit BoardModel(const BoardConfig& config);

    // `now` is the time since the board started. A malformed request changes nothing, not even
    // by letting the readings catch up with the time.
    Outcome handle(std::span<const std::uint8_t> datagram, Millis now);

    const BoardState& state() const { return state_; }
    const Faults& faults() const { return config_.faults; }
    // A stuck output takes its level at once, as a pin shorted to a rail does; one set free
    // keeps that level until the next set or clear.
    void setFaults(const Faults& faults);

  private:
    void drift(Millis now);
    void driftStep();
    // A fair-enough draw in 0..sides-1 from the engine's raw output, which, unlike the standard
    // distributions, is the same on every standard library.
    unsigned roll(unsigned sides);
    Bytes replyTo(const link::DecodedRequest& request) const;
    void applyStuckOutputs();

    BoardConfig config_;
    BoardState state_;
};

}  // namespace vardek::sim
