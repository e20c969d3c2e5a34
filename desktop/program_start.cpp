#include "desktop/program_start.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdlib>
#include <string>

#include "cli/command_line.h"
#include "cli/exit_status.h"
#include "desktop/stop_signals.h"

namespace vardek::desktop {

namespace {

QtMessageHandler qtMessages = nullptr;
// The stop signals of the program running, for stopSignalName().
const StopSignals* watchedSignals = nullptr;

// Without a display Qt ends the program with a fatal message (abort, status 134) before any box
// can open. The refusal is already on standard error, so the program ends as it would after the
// box, with the refusal's status.
void endAtQtsFatalMessage(QtMsgType type, const QMessageLogContext& context,
                          const QString& message) {
    if (type == QtFatalMsg) {
        std::_Exit(cli::kBadUsage);
    }
    qtMessages(type, context, message);
}

// Why the program does not start, and the settings file that the reason is in, if any.
struct Refusal {
    std::string problem;
    std::string file;
};

// The board's refusal first, then the language's. The translation is loaded here, before any
// application object, so that a language without one is refused as a bad board address is.
Refusal refusal(const Program& program, const host::ChosenBoard* board,
                const host::ChosenLanguage& language, host::Translation& translation) {
    if (board != nullptr && !board->problem.empty()) {
        return {board->problem, board->file};
    }
    if (!language.problem.empty()) {
        return {language.problem, language.file};
    }
    if (!language.name) {
        if (program.translationForLocale != nullptr) {
            translation.translator = program.translationForLocale();
        }
        return {};
    }
    translation = program.translationInto(*language.name);
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

int run(int argc, char** argv, const Program& program, const host::ChosenBoard* board,
        const host::ChosenLanguage& language, const std::function<int()>& body) {
    host::Translation translation;
    const Refusal refused = refusal(program, board, language, translation);
    if (!refused.problem.empty()) {
        cli::complain(program.name, refused.problem);
        if (refused.file.empty()) {
            return cli::kBadUsage;
        }
        qtMessages = qInstallMessageHandler(endAtQtsFatalMessage);
    }
    // Before the application object, whose threads inherit the blocked signals; after the
    // settings file was read, so that nothing is read with the stop signals blocked and unwatched.
    StopSignals stopSignals;
    const struct Watched {
        explicit Watched(const StopSignals& watched) { watchedSignals = &watched; }
        ~Watched() { watchedSignals = nullptr; }
    } watched(stopSignals);
    // The programs take no command line of Qt's.
    int qtArgc = argc > 0 ? 1 : 0;
    QApplication application(qtArgc, argv);
    stopSignals.watch();
    const auto text = [](std::string_view view) {
        return QString::fromUtf8(view.data(), qsizetype(view.size()));
    };
    QApplication::setApplicationName(text(program.name));
    QApplication::setApplicationVersion(text(program.version));
    QApplication::setDesktopFileName(text(program.desktopFileName));
    if (!refused.problem.empty()) {
        showBox(QString::fromStdString(refused.problem));
        return cli::kBadUsage;
    }
    // Before the program's windows are made: their texts are translated as they are built.
    if (translation.translator) {
        QCoreApplication::installTranslator(translation.translator.get());
    }
    return body();
}

std::string_view stopSignalName() {
    return watchedSignals != nullptr ? watchedSignals->signalName() : std::string_view();
}

void showBox(const QString& message) {
    if (QGuiApplication::platformName() == QStringLiteral("offscreen")) {
        return;
    }
    QMessageBox box(QMessageBox::Critical, QGuiApplication::applicationDisplayName(), message,
                    QMessageBox::Ok);
    box.exec();
}

}  // namespace vardek::desktop
