// VARDEK_Control: reads the command line, chooses the board and the language, and runs the control
// window until it is closed.
#include <cstdio>

#include "host/board_settings.h"
#include "window/application_info.h"
#include "window/window_command_line.h"
#include "window/window_program.h"

int main(int argc, char* argv[]) {
    namespace app = vardek::app;
    const char* program = argc > 0 ? argv[0] : app::kApplicationName;
    const app::ParsedCommandLine parsed = app::parseCommandLine(argc, argv);
    switch (parsed.action) {
        case app::ParsedCommandLine::Action::Help:
            std::fputs(app::helpText(program).c_str(), stdout);
            return 0;
        case app::ParsedCommandLine::Action::Version:
            std::printf("%s %s\n", app::kApplicationName, app::kVersion);
            return 0;
        case app::ParsedCommandLine::Action::Refuse:
            app::complain(parsed.error);
            std::fprintf(stderr, "Try '%s --help'.\n", app::kApplicationName);
            return app::kBadUsage;
        case app::ParsedCommandLine::Action::Run:
            break;
    }
    // The command line before the settings file, before the address built in and the window's
    // own language.
    return app::runWindow(argc, argv,
                          vardek::host::chooseBoard(parsed.options.board, VARDEK_BOARD_ADDRESS),
                          vardek::host::chooseLanguage(parsed.options.language));
}
