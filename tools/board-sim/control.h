// The commands of the simulator's control socket, one a line, each answered in one line: faults
// switched on and off while the window or the probe talks to the simulator.
//
// Like the model, no clock in here: the caller passes the time since the simulator started, so
// a silence of some seconds ends at a time the tests choose.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/board-sim/board_model.h"

namespace vardek::sim {

// Longer lines are refused unread, so a client cannot make the simulator hold its junk.
inline constexpr std::size_t kMaxControlLine = 256;
// The longest silence one command asks for: a day.
inline constexpr std::uint32_t kMaxSilentSeconds = 86400;

// Everything the control socket can change.
struct RunningFaults {
    Faults board{};
    Millis delay{0};
    bool silent = false;
    std::optional<Millis> silentUntil{};  // when a timed silence ends; none: at `resume`

    bool operator==(const RunningFaults&) const = default;
};

// What the simulator allows beyond the commands' own ranges.
struct ControlLimits {
    // Replies above 8 bytes: only on a loopback address, where they cannot be aimed at a third
    // host.
    bool largeReplies = true;
    // A replayed capture answers with its own bytes, so only silence and delay apply to it.
    bool replaying = false;
};

struct ControlAnswer {
    std::string text;      // "ok", "ok: <faults>" or "error: <why>"
    bool changed = false;  // whether `faults` changed
};

// Carries out one line, its newline taken off, at `now`.
ControlAnswer runControlLine(std::string_view line, RunningFaults& faults, Millis now,
                             const ControlLimits& limits);

// Whether the board is silent at `now`. A timed silence that is over ends here, and the answer
// says so once.
enum class Silence { Off, On, Ended };
Silence silenceAt(RunningFaults& faults, Millis now);

// The faults in force, one text each ("RB3 stuck at 1", "silent for 12 s more"); none for a
// healthy board.
std::vector<std::string> faultTexts(const RunningFaults& faults, Millis now);

// `text` with every byte outside printable ASCII written as \xNN, so that junk sent to the
// socket cannot garble a log line or a terminal.
std::string printable(std::string_view text);

}  // namespace vardek::sim
