// The window's command line, read with QCommandLineParser before any application object exists,
// so that --help, --version and a bad option need no display.
#pragma once

#include <optional>
#include <string>

#include "cli/parsed_command_line.h"

namespace vardek::app {

struct WindowOptions {
    std::optional<std::string> board;  // --board's address, as given; checked by the caller
    // --language's name, as given; the window's translations say whether it speaks it.
    std::optional<std::string> language;
};

using ParsedCommandLine = cli::ParsedCommandLine<WindowOptions>;

// `argv` as main() has it, the program's name first.
ParsedCommandLine parseCommandLine(int argc, char** argv);

// The text of --help; `program` is the name it was started by.
std::string helpText(const char* program);

}  // namespace vardek::app
