// The command line of vardek-trend, read before any window exists, so that --help and a bad
// option need no display.
#pragma once

#include <QCoreApplication>
#include <QSize>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vardek::trend {

// The translations' context of the command line's texts and of the program's own messages.
class CommandLine {
    Q_DECLARE_TR_FUNCTIONS(CommandLine)
};

struct TrendOptions {
    // Live: the board, when the command line names it, and how it is sampled.
    std::optional<QString> board;
    std::chrono::milliseconds interval{1000};
    std::chrono::milliseconds timeout{500};
    std::vector<std::size_t> pins;  // indices into link::kChannels
    QString log;                    // appended to while sampling live
    // A log file opened instead, kept reading with `follow`, or drawn to `exportPath`.
    QString file;
    bool follow = false;
    QString exportPath;
    QSize size{1200, 700};
    // The time window; none for the default, 10 min live and all of a file.
    std::optional<std::int64_t> windowMs;
    // The language asked for; none for the settings file's, else the locale's.
    std::optional<std::string> language;
};

struct ParsedOptions {
    enum class Outcome { Run, Help, Version, BadUsage };
    Outcome outcome = Outcome::Run;
    TrendOptions options;
    QString text;  // the help, or what is wrong with the command line
};

// `arguments` without the program's name.
ParsedOptions parseOptions(const QStringList& arguments);

}  // namespace vardek::trend
