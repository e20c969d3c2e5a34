// VARDEK_Control: reads the command line, chooses the board and the language, and runs the control
// window until it is closed.

#include "cli/command_line.h"
#include "cli/exit_status.h"
#include "host/board_settings.h"
#include "window/application_info.h"
#include "window/window_command_line.h"
#include "window/window_program.h"

int main(int argc, char* argv[]) {
    namespace app = vardek::app;
    namespace cli = vardek::cli;
    const app::ParsedCommandLine parsed = app::parseCommandLine(cli::arguments(argc, argv));
    if (const auto status =
            parsed.answered(app::kApplicationName, app::kVersion, app::helpText())) {
        return *status;
    }
    // The command line before the settings file, before the address built in and the window's
    // own language.
    return app::runWindow(argc, argv,
                          vardek::host::chooseBoard(parsed.options.board, VARDEK_BOARD_ADDRESS),
                          vardek::host::chooseLanguage(parsed.options.language));
}
