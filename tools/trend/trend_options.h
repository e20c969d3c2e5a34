// The command line of vardek-trend, read before any window exists, so that --help and a bad
// option need no display; read by the rules of every program's (cli/).
#pragma once

#include <QCoreApplication>
#include <QSize>
#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/parsed_command_line.h"

namespace vardek::trend {

// The translations' context of the program's own messages. The command line's texts are shown
// before any translation is chosen, and stay English.
class CommandLine {
    Q_DECLARE_TR_FUNCTIONS(CommandLine)
};

struct TrendOptions {
    // Live: the board, when the command line names it, and how it is sampled.
    std::optional<std::string> board;
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

using ParsedOptions = cli::ParsedCommandLine<TrendOptions>;

// `args` without the program's name.
ParsedOptions parseOptions(std::span<const std::string_view> args);

// The text of --help.
std::string helpText();

}  // namespace vardek::trend
