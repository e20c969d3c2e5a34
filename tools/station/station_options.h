// The command line of vardek-station, read before any window exists, so that --help and a bad
// option need no display; read by the rules of every program's (cli/), with check's own files
// and meanings.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "check/board_check.h"
#include "check/check_files.h"
#include "cli/parsed_command_line.h"

namespace vardek::station {

struct StationOptions {
    std::string boardsPath;                // the rack file: its lines are the slots
    std::vector<check::RackBoard> boards;  // read from it
    std::uint16_t port = 0;                // none given: the board's own port
    std::uint32_t timeoutMs = 500;
    std::uint32_t retries = 2;
    check::CheckSettings check;  // --outputs, --count and --limits' limits
    std::string station;
    bool ask = false;
    std::string reportDir;
    std::optional<std::string> results;  // none takes the settings file's `results`
    std::optional<std::string> language;
};

using ParsedOptions = cli::ParsedCommandLine<StationOptions>;

// `args` without the program's name. The rack and limits files are read here: a file that
// refuses is a command line refused.
ParsedOptions parseOptions(std::span<const std::string_view> args);

std::string helpText();

}  // namespace vardek::station
