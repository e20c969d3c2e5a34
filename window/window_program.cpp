#include "window/window_program.h"

#include <QApplication>

#include <exception>
#include <memory>

#include "cli/exit_status.h"
#include "desktop/program_start.h"
#include "window/Unit1.h"
#include "window/application_info.h"
#include "window/error_box.h"

namespace vardek::app {

int runWindow(int argc, char** argv, const host::ChosenBoard& board,
              const host::ChosenLanguage& language) {
    // The window speaks Japanese, its own language, whatever the locale.
    const desktop::Program program{.name = kApplicationName,
                                   .version = kVersion,
                                   .desktopFileName = kDesktopFileName,
                                   .translationInto = &TVARDEK_Ctrl::translationInto};
    return desktop::run(argc, argv, program, &board, language, [&board] {
        panel::ErrorBox errorBox;
        std::unique_ptr<TVARDEK_Ctrl> window;
        try {
            window =
                std::make_unique<TVARDEK_Ctrl>(link::EndpointConfig{.RemoteHost = board.address});
        } catch (const std::exception& error) {
            errorBox.showNow(error.what());
            return cli::kFailed;
        }
        window->show();
        QApplication::exec();
        return cli::kSucceeded;
    });
}

}  // namespace vardek::app
