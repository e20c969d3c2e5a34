// VARDEK_Control: brings up the application, creates the control window and runs the event loop
// until the window is closed.
#include <QApplication>

#include <exception>
#include <memory>

#include "Unit1.h"
#include "application_info.h"
#include "error_box.h"
#include "stop_signals.h"

int main(int argc, char* argv[]) {
    // Before the application object, whose threads inherit the blocked signals.
    vardek::app::StopSignals stopSignals;
    // The program takes no command line, not even Qt's own options.
    int qtArgc = argc > 0 ? 1 : 0;
    QApplication application(qtArgc, argv);
    stopSignals.watch();
    QApplication::setApplicationName(QString::fromUtf8(vardek::app::kApplicationName));
    QApplication::setApplicationVersion(QString::fromUtf8(vardek::app::kVersion));
    QApplication::setDesktopFileName(QString::fromUtf8(vardek::app::kDesktopFileName));

    vardek::panel::ErrorBox errorBox;
    std::unique_ptr<TVARDEK_Ctrl> window;
    try {
        window = std::make_unique<TVARDEK_Ctrl>();
    } catch (const std::exception& error) {
        errorBox.report(error.what());
        return 1;
    }
    window->show();
    QApplication::exec();
    return 0;
}
