#include "window/window_program.h"

#include <QApplication>

#include <cstdlib>
#include <exception>
#include <memory>

#include "cli/command_line.h"
#include "window/Unit1.h"
#include "window/application_info.h"
#include "window/error_box.h"
#include "window/stop_signals.h"

namespace vardek::app {

namespace {

QtMessageHandler qtMessages = nullptr;

// Without a display Qt ends the program with a fatal message (abort, status 134) before any box
// can open. The refusal is already on standard error, so the program ends as it would after the
// box, with the refusal's status.
void endAtQtsFatalMessage(QtMsgType type, const QMessageLogContext& context,
                          const QString& message) {
    if (type == QtFatalMsg) {
        std::_Exit(kBadUsage);
    }
    qtMessages(type, context, message);
}

// Why the program does not start, and the settings file that the reason is in, if any.
struct Refusal {
    std::string problem;
    std::string file;
};

// The board's refusal first, then the language's. The translation, when one is needed, is
// loaded here, before any application object, so that a language without one is refused as a
// bad board address is.
Refusal refusal(const host::ChosenBoard& board, const host::ChosenLanguage& language,
                host::Translation& translation) {
    if (!board.problem.empty()) {
        return {board.problem, board.file};
    }
    if (!language.problem.empty()) {
        return {language.problem, language.file};
    }
    if (!language.name) {
        return {};
    }
    translation = TVARDEK_Ctrl::translationInto(*language.name);
    if (translation.problem.empty()) {
        return {};
    }
    if (language.file.empty()) {
        return {"--language " + translation.problem, {}};
    }
    return {language.file + ": " + std::string(host::kLanguageKey) + "=" + *language.name + ": " +
                translation.problem,
            language.file};
}

}  // namespace

void complain(const std::string& message) { cli::complain(kApplicationName, message); }

int runWindow(int argc, char** argv, const host::ChosenBoard& board,
              const host::ChosenLanguage& language) {
    host::Translation translation;
    const Refusal refused = refusal(board, language, translation);
    if (!refused.problem.empty()) {
        complain(refused.problem);
        if (refused.file.empty()) {
            return kBadUsage;
        }
        qtMessages = qInstallMessageHandler(endAtQtsFatalMessage);
    }
    // Before the application object, whose threads inherit the blocked signals; after the
    // settings file was read, so that nothing is read with the stop signals blocked and unwatched.
    StopSignals stopSignals;
    // The program takes no command line of Qt's.
    int qtArgc = argc > 0 ? 1 : 0;
    QApplication application(qtArgc, argv);
    stopSignals.watch();
    QApplication::setApplicationName(QString::fromUtf8(kApplicationName));
    QApplication::setApplicationVersion(QString::fromUtf8(kVersion));
    QApplication::setDesktopFileName(QString::fromUtf8(kDesktopFileName));

    panel::ErrorBox errorBox;
    if (!refused.problem.empty()) {
        errorBox.showNow(refused.problem);
        return kBadUsage;
    }
    // Before the window is created: its texts are translated as it builds them.
    if (translation.translator) {
        QCoreApplication::installTranslator(translation.translator.get());
    }
    std::unique_ptr<TVARDEK_Ctrl> window;
    try {
        window = std::make_unique<TVARDEK_Ctrl>(link::EndpointConfig{.RemoteHost = board.address});
    } catch (const std::exception& error) {
        errorBox.showNow(error.what());
        return 1;
    }
    window->show();
    QApplication::exec();
    return 0;
}

}  // namespace vardek::app
