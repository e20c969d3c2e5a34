// The simulator's command line.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/parsed_command_line.h"
#include "link/board_protocol.h"
#include "tools/board-sim/board_model.h"
#include "tools/board-sim/replay.h"

namespace vardek::sim {

inline constexpr std::string_view kProgramName = "vardek-board-sim";

// Upper bounds of the numeric options.
inline constexpr std::uint32_t kMaxDelayMs = 600000;
inline constexpr std::uint32_t kMaxDriftMs = 3600000;
inline constexpr std::size_t kMaxReplySize = 65507;  // the largest UDP payload over IPv4
inline constexpr std::size_t kMaxControlPath = 107;  // a Unix-domain socket's address

struct Options {
    std::string bindAddress = "127.0.0.1";
    std::uint16_t port = link::kBoardPort;  // 0: the system picks one
    std::uint8_t initialPortB = 0;
    std::optional<std::uint32_t> seed;  // none: a fresh one from the system
    std::uint32_t dropEvery = 0;
    std::uint32_t delayMs = 0;
    std::size_t replySize = link::kReplySize;
    std::uint32_t driftMs = static_cast<std::uint32_t>(kDefaultDriftPeriod.count());
    std::string pcapPath;     // empty: no capture
    std::string controlPath;  // empty: no control socket
    // A capture to answer from in place of the model; empty: none.
    std::string replayPath;
    std::uint16_t replayPort = link::kBoardPort;
    bool replayTiming = false;
    ReplayEnd replayEnd = ReplayEnd::RepeatLast;
    // Board faults, as BoardConfig holds them.
    std::uint8_t stuckMask = 0;
    std::uint8_t stuckLevels = 0;
    std::array<std::optional<std::uint16_t>, link::kChannels.size()> fixedResults{};

    bool operator==(const Options&) const = default;
};

using ParsedCommandLine = cli::ParsedCommandLine<Options>;

// `args` leaves out the program name. Options take their value as the next argument or after
// '='; numbers are decimal or 0x-prefixed hex. Each option may be given once, but for the
// repeatable faults. A command line with a fault is refused even when it asks for help.
ParsedCommandLine parseCommandLine(std::span<const std::string_view> args);

std::string helpText();

// Whether a dotted-decimal IPv4 address is in 127.0.0.0/8.
bool isLoopback(std::string_view address);

BoardConfig boardConfig(const Options& options, std::uint32_t seed);

}  // namespace vardek::sim
