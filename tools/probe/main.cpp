// vardek-probe: checks a VARDEK board from a terminal or a script, one request at a time.
#include <cstdio>
#include <system_error>

#include "cli/command_line.h"
#include "tools/probe/probe_commands.h"
#include "tools/probe/probe_options.h"

using namespace vardek::probe;
using vardek::cli::complain;

int main(int argc, char** argv) {
    const auto defaultBoard = vardek::host::defaultBoard(VARDEK_BOARD_ADDRESS);
    const ParsedCommandLine parsed =
        parseCommandLine(vardek::cli::arguments(argc, argv), defaultBoard);
    switch (parsed.action) {
        case ParsedCommandLine::Action::Help:
            std::fputs(helpText(defaultBoard).c_str(), stdout);
            return 0;
        case ParsedCommandLine::Action::Version:
            std::printf("%s %s\n", kProgramName.data(), VARDEK_VERSION);
            return 0;
        case ParsedCommandLine::Action::Refuse:
            complain(kProgramName, parsed.error);
            // A settings file that cannot be used is no misuse of the command line.
            if (parsed.error != defaultBoard.problem) {
                std::fputs(usageText().c_str(), stderr);
            }
            return kBadUsage;
        case ParsedCommandLine::Action::Run:
            break;
    }
    try {
        return run(parsed.options);
    } catch (const std::system_error& error) {
        complain(kProgramName, error.what());
        return kNotSent;
    }
}
