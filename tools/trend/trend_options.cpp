#include "tools/trend/trend_options.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>

#include <tuple>

#include "readings/sample.h"

namespace vardek::trend {

namespace {

QString fromView(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// A whole number of milliseconds from `least` to a day.
std::optional<std::chrono::milliseconds> milliseconds(const QString& text, int least) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < least || value > 86'400'000) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(value);
}

}  // namespace

ParsedOptions parseOptions(const QStringList& arguments) {
    ParsedOptions parsed;
    TrendOptions& options = parsed.options;
    QCommandLineParser parser;
    parser.setApplicationDescription(CommandLine::tr(
        "Charts a VARDEK board's readings over time: sampled live (the board's address from\n"
        "--board, else from the key board= of\n"
        "$XDG_CONFIG_HOME/vardek-control/vardek-control.conf, else the built-in one),\n"
        "or read from a CSV log written by `vardek-probe watch --csv` or by vardek-trend."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  CommandLine::tr("Displays this help."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     CommandLine::tr("Displays version information."));
    const QCommandLineOption board(
        QStringLiteral("board"), CommandLine::tr("The board's IPv4 address, such as 192.168.1.50."),
        QStringLiteral("ADDRESS"));
    const QCommandLineOption interval(
        QStringLiteral("interval"),
        CommandLine::tr("Milliseconds from one sample to the next (default 1000)."),
        QStringLiteral("MS"));
    const QCommandLineOption timeout(
        QStringLiteral("timeout"),
        CommandLine::tr("Milliseconds each request waits for its reply (default 500)."),
        QStringLiteral("MS"));
    const QCommandLineOption read(
        QStringLiteral("read"),
        CommandLine::tr("The analogue pins read in each sample: %1 (default all).")
            .arg(fromView(readings::kPinsForm)),
        QStringLiteral("PINS"));
    const QCommandLineOption log(
        QStringLiteral("log"),
        CommandLine::tr("Appends every sample to FILE.csv, as `vardek-probe watch "
                        "--csv` writes it."),
        QStringLiteral("FILE.csv"));
    const QCommandLineOption follow(QStringLiteral("follow"),
                                    CommandLine::tr("Keeps reading the log file as it grows."));
    const QCommandLineOption exportTo(
        QStringLiteral("export"),
        CommandLine::tr(
            "Draws the log file's chart to IMAGE (PNG, or SVG by its name) and ends, without a "
            "window or a display."),
        QStringLiteral("IMAGE"));
    const QCommandLineOption size(
        QStringLiteral("size"),
        CommandLine::tr("The exported image's size in pixels (default 1200x700)."),
        QStringLiteral("WxH"));
    const QCommandLineOption window(
        QStringLiteral("window"),
        CommandLine::tr(
            "The time shown, up to the newest sample: %1, or all (default 10min live, all of a "
            "file).")
            .arg(fromView(readings::kDurationForm)),
        QStringLiteral("SPAN"));
    const QCommandLineOption language(
        QStringLiteral("language"),
        CommandLine::tr("The window's language, en (its own) or ja; else the key language= of "
                        "the same file, else the locale's."),
        QStringLiteral("LANGUAGE"));
    parser.addOptions({help, version, board, interval, timeout, read, log, follow, exportTo, size,
                       window, language});
    parser.addPositionalArgument(QStringLiteral("FILE.csv"),
                                 CommandLine::tr("A log to chart instead."),
                                 QStringLiteral("[FILE.csv]"));

    const auto bad = [&parsed](const QString& problem) {
        parsed.outcome = ParsedOptions::Outcome::BadUsage;
        parsed.text = problem;
        return parsed;
    };
    if (!parser.parse(QStringList{QStringLiteral("vardek-trend")} + arguments)) {
        return bad(parser.errorText());
    }
    if (parser.isSet(help)) {
        parsed.outcome = ParsedOptions::Outcome::Help;
        parsed.text = parser.helpText();
        return parsed;
    }
    if (parser.isSet(version)) {
        parsed.outcome = ParsedOptions::Outcome::Version;
        return parsed;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        return bad(CommandLine::tr("unexpected argument '%1'").arg(files.at(1)));
    }
    options.file = files.value(0);
    const bool live = options.file.isEmpty();
    for (const QCommandLineOption* option : {&board, &interval, &timeout, &read, &log}) {
        if (!live && parser.isSet(*option)) {
            return bad(CommandLine::tr("--%1 is for sampling a board live, not for a log file")
                           .arg(option->names().constFirst()));
        }
    }
    for (const QCommandLineOption* option : {&follow, &exportTo, &size}) {
        if (live && parser.isSet(*option)) {
            return bad(CommandLine::tr("--%1 needs a log file").arg(option->names().constFirst()));
        }
    }
    if (parser.isSet(follow) && parser.isSet(exportTo)) {
        return bad(CommandLine::tr(
            "--follow and --export do not go together: an export draws the file as it "
            "stands"));
    }
    if (parser.isSet(size) && !parser.isSet(exportTo)) {
        return bad(CommandLine::tr("--size is for --export"));
    }
    if (parser.isSet(board)) {
        options.board = parser.value(board);
    }
    for (const auto& [option, least, value] : {std::tuple(&interval, 10, &options.interval),
                                               std::tuple(&timeout, 1, &options.timeout)}) {
        if (!parser.isSet(*option)) {
            continue;
        }
        const auto given = milliseconds(parser.value(*option), least);
        if (!given) {
            return bad(CommandLine::tr("--%1 must be a whole number of milliseconds from %2 to "
                                       "86400000, not '%3'")
                           .arg(option->names().constFirst())
                           .arg(least)
                           .arg(parser.value(*option)));
        }
        *value = *given;
    }
    const QString pinsText = parser.isSet(read) ? parser.value(read) : QStringLiteral("all");
    const auto pins = readings::parsePins(pinsText.toStdString());
    if (!pins) {
        return bad(CommandLine::tr("--read takes %1, not '%2'")
                       .arg(fromView(readings::kPinsForm), pinsText));
    }
    for (std::size_t pin = 0; pin < pins->size(); ++pin) {
        if (pins->test(pin)) {
            options.pins.push_back(pin);
        }
    }
    if (parser.isSet(language)) {
        options.language = parser.value(language).toStdString();
    }
    options.log = parser.value(log);
    options.follow = parser.isSet(follow);
    options.exportPath = parser.value(exportTo);
    if (parser.isSet(size)) {
        static const QRegularExpression form(QStringLiteral("^([0-9]{2,5})x([0-9]{2,5})$"));
        const auto match = form.match(parser.value(size));
        const int width = match.captured(1).toInt();
        const int height = match.captured(2).toInt();
        if (!match.hasMatch() || width < 200 || height < 150 || width > 16384 || height > 16384) {
            return bad(CommandLine::tr(
                           "--size takes WIDTHxHEIGHT in pixels, from 200x150 to 16384x16384, not "
                           "'%1'")
                           .arg(parser.value(size)));
        }
        options.size = QSize(width, height);
    }
    if (parser.isSet(window)) {
        const QString text = parser.value(window);
        if (text == QStringLiteral("all")) {
            options.windowMs = 0;
        } else if (const auto span = readings::parseDuration(text.toStdString())) {
            options.windowMs = span->count();
        } else {
            return bad(CommandLine::tr("--window takes %1, or all, not '%2'")
                           .arg(fromView(readings::kDurationForm), text));
        }
    }
    return parsed;
}

}  // namespace vardek::trend
