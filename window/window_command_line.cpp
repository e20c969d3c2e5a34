#include "window/window_command_line.h"

#include <QCommandLineParser>
#include <QStringList>

namespace vardek::app {

namespace {

// Qt's own options (-platform and the like) are not taken: the environment's QT_QPA_PLATFORM and
// friends do that job.
struct Parser {
    QCommandLineParser parser;
    // Not addHelpOption(): its --help-all lists Qt's own options, which the program does not take.
    const QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays help on commandline options.")};
    const QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Displays version information.")};
    const QCommandLineOption board{
        QStringLiteral("board"), QStringLiteral("The board's IPv4 address, such as 192.168.1.50."),
        QStringLiteral("ADDRESS")};
    const QCommandLineOption language{
        QStringLiteral("language"),
        QStringLiteral("The window's language, ja (its own) or en; else the key language= of "
                       "the same file gives it."),
        QStringLiteral("LANGUAGE")};

    Parser() {
        parser.setApplicationDescription(
            QStringLiteral("Checks a VARDEK board over UDP port 10001. The board's address comes "
                           "from --board,\nelse from the key board= of "
                           "$XDG_CONFIG_HOME/vardek-control/vardek-control.conf\n(~/.config/... "
                           "without XDG_CONFIG_HOME), else it is the built-in ") +
            QStringLiteral(VARDEK_BOARD_ADDRESS "."));
        parser.addOptions({help, version, board, language});
    }
};

}  // namespace

ParsedCommandLine parseCommandLine(int argc, char** argv) {
    QStringList arguments;
    for (int index = 0; index < argc; ++index) {
        arguments << QString::fromLocal8Bit(argv[index]);
    }
    Parser p;
    ParsedCommandLine parsed;
    if (!p.parser.parse(arguments)) {
        parsed.action = ParsedCommandLine::Action::Refuse;
        parsed.error = p.parser.errorText().toStdString();
    } else if (p.parser.isSet(p.help)) {
        parsed.action = ParsedCommandLine::Action::Help;
    } else if (p.parser.isSet(p.version)) {
        parsed.action = ParsedCommandLine::Action::Version;
    } else if (!p.parser.positionalArguments().isEmpty()) {
        parsed.action = ParsedCommandLine::Action::Refuse;
        parsed.error = "unexpected argument '" +
                       p.parser.positionalArguments().constFirst().toStdString() + "'";
    } else {
        if (p.parser.isSet(p.board)) {
            parsed.options.board = p.parser.value(p.board).toStdString();
        }
        if (p.parser.isSet(p.language)) {
            parsed.options.language = p.parser.value(p.language).toStdString();
        }
    }
    return parsed;
}

std::string helpText(const char* program) {
    // Qt names the program in the usage line only through an application object, which needs a
    // display: the line is written here instead.
    const QString text = Parser().parser.helpText();
    return "Usage: " + std::string(program) + " [options]" +
           text.mid(text.indexOf(QLatin1Char('\n'))).toStdString();
}

}  // namespace vardek::app
