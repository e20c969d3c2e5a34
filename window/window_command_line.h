// The window's command line, read before any application object exists, so that --help,
// --version and a bad option need no display; read by the rules of every program's (cli/).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "cli/parsed_command_line.h"

namespace vardek::app {

struct WindowOptions {
    std::optional<std::string> board;  // --board's address, as given; checked by the caller
    // --language's name, as given; the window's translations say whether it speaks it.
    std::optional<std::string> language;
};

using ParsedCommandLine = cli::ParsedCommandLine<WindowOptions>;

// `args` without the program's name.
ParsedCommandLine parseCommandLine(std::span<const std::string_view> args);

// The text of --help.
std::string helpText();

}  // namespace vardek::app
