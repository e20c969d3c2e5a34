// VARDEK_Control: brings up the application, creates the control window and runs the event loop
// until the window is closed.
#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>

#include <cstdio>
#include <exception>
#include <memory>
#include <optional>

#include "Unit1.h"
#include "application_info.h"
#include "board_address.h"
#include "board_settings.h"
#include "error_box.h"
#include "stop_signals.h"

namespace {

// Bad usage: an unknown option or a board address that cannot name a board.
constexpr int kBadUsage = 2;

void complain(const QString& message) {
    std::fprintf(stderr, "%s: %s\n", vardek::app::kApplicationName, qPrintable(message));
}

}  // namespace

int main(int argc, char* argv[]) {
    // Before the application object, whose threads inherit the blocked signals.
    vardek::app::StopSignals stopSignals;

    // Read before any application object, so that --help, --version and a bad option need no
    // display. Qt's own options (-platform and the like) are not taken: the environment's
    // QT_QPA_PLATFORM and friends do that job.
    QStringList arguments;
    for (int index = 0; index < argc; ++index) {
        arguments << QString::fromLocal8Bit(argv[index]);
    }
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral(
            "Checks a VARDEK board over UDP port 10001. The board's address comes from --board,\n"
            "else from the key board= of $XDG_CONFIG_HOME/vardek-control/vardek-control.conf\n"
            "(~/.config/... without XDG_CONFIG_HOME), else it is the built-in ") +
        QStringLiteral(VARDEK_BOARD_ADDRESS "."));
    // Not addHelpOption(): its --help-all lists Qt's own options, which the program does not take.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays help on commandline options."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption boardOption(QStringLiteral("board"),
                                         QStringLiteral("The board's IPv4 address, such as "
                                                        "192.168.1.50."),
                                         QStringLiteral("ADDRESS"));
    parser.addOption(boardOption);
    const bool parsed = parser.parse(arguments);
    if (!parsed || !parser.positionalArguments().isEmpty() || parser.isSet(help) ||
        parser.isSet(version)) {
        // QCommandLineParser prints its help and version through an application object.
        int qtArgc = argc > 0 ? 1 : 0;
        const QCoreApplication core(qtArgc, argv);
        QCoreApplication::setApplicationName(QString::fromUtf8(vardek::app::kApplicationName));
        QCoreApplication::setApplicationVersion(QString::fromUtf8(vardek::app::kVersion));
        if (parsed && parser.isSet(help)) {
            parser.showHelp(0);
        }
        if (parsed && parser.isSet(version)) {
            parser.showVersion();
        }
        complain(parsed ? QStringLiteral("unexpected argument '%1'")
                              .arg(parser.positionalArguments().constFirst())
                        : parser.errorText());
        std::fprintf(stderr, "Try '%s --help'.\n", vardek::app::kApplicationName);
        return kBadUsage;
    }

    // The command line before the settings file, before the address built in.
    std::optional<vardek::host::DefaultBoard> fromSettings;
    std::string board;
    if (parser.isSet(boardOption)) {
        board = parser.value(boardOption).toStdString();
        if (const std::string problem = vardek::link::boardAddressProblem(board);
            !problem.empty()) {
            complain(QStringLiteral("--board ") + QString::fromStdString(problem));
            return kBadUsage;
        }
    } else {
        fromSettings = vardek::host::defaultBoard(VARDEK_BOARD_ADDRESS);
        board = fromSettings->address;
    }

    // The program takes no command line of Qt's.
    int qtArgc = argc > 0 ? 1 : 0;
    QApplication application(qtArgc, argv);
    stopSignals.watch();
    QApplication::setApplicationName(QString::fromUtf8(vardek::app::kApplicationName));
    QApplication::setApplicationVersion(QString::fromUtf8(vardek::app::kVersion));
    QApplication::setDesktopFileName(QString::fromUtf8(vardek::app::kDesktopFileName));

    vardek::panel::ErrorBox errorBox;
    if (fromSettings && !fromSettings->problem.empty()) {
        // Started from a desktop menu, the program has no terminal to say it on.
        const QString problem = QString::fromStdString(fromSettings->problem);
        complain(problem);
        errorBox.showNow(problem.toStdString());
        return kBadUsage;
    }
    std::unique_ptr<TVARDEK_Ctrl> window;
    try {
        window = std::make_unique<TVARDEK_Ctrl>(vardek::link::EndpointConfig{.RemoteHost = board});
    } catch (const std::exception& error) {
        errorBox.showNow(error.what());
        return 1;
    }
    window->show();
    QApplication::exec();
    return 0;
}
