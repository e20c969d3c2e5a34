#include "tools/station/station_options.h"

#include <tuple>

#include "cli/command_line.h"
#include "host/board_settings.h"
#include "limits/limits_file.h"
#include "link/board_protocol.h"

namespace vardek::station {

ParsedOptions parseOptions(std::span<const std::string_view> args) {
    ParsedOptions parsed;
    StationOptions& o = parsed.options;
    o.port = link::kBoardPort;
    CLI::App app{"vardek-station"};
    cli::setUp(app);
    bool help = false;
    bool version = false;
    app.add_flag("-h,--help", help)->disable_flag_override();
    app.add_flag("-v,--version", version)->disable_flag_override();
    app.add_option("--boards", o.boardsPath);
    app.add_option_function<std::uint32_t>(
           "--port", [&o](std::uint32_t port) { o.port = std::uint16_t(port); })
        ->transform(cli::number(1, 65535));
    app.add_option("--timeout", o.timeoutMs)->transform(cli::number(1, 86'400'000));
    app.add_option("--retries", o.retries)->transform(cli::number(0, 100));
    app.add_option("--count", o.check.count)->transform(cli::number(1, 1000));
    app.add_flag("--outputs", o.check.outputs)->disable_flag_override();
    std::string limitsPath;
    app.add_option("--limits", limitsPath);
    app.add_option("--station", o.station);
    app.add_flag("--ask", o.ask)->disable_flag_override();
    app.add_option("--report-dir", o.reportDir);
    app.add_option_function<std::string>("--results",
                                         [&o](const std::string& db) { o.results = db; });
    app.add_option_function<std::string>("--language",
                                         [&o](const std::string& name) { o.language = name; });
    parsed.error = cli::parse(app, args);
    // What the command line leaves out, the settings file may name: a station's own files.
    for (const auto& [key, isPath, value] : {std::tuple{host::kBoardsKey, true, &o.boardsPath},
                                             {host::kLimitsKey, true, &limitsPath},
                                             {host::kStationKey, false, &o.station},
                                             {host::kReportDirKey, true, &o.reportDir}}) {
        if (parsed.error.empty() && value->empty()) {
            *value = host::settingsValue(key, isPath, parsed.error).value_or("");
        }
    }
    if (parsed.error.empty() && o.boardsPath.empty()) {
        parsed.error =
            "--boards FILE is needed (or boards=FILE in the settings file): the rack "
            "file, one board's address a line";
    }
    if (parsed.error.empty()) {
        parsed.error = check::readBoardsFile(o.boardsPath, o.boards);
    }
    if (parsed.error.empty() && o.boards.empty()) {
        parsed.error = o.boardsPath + " names no board";
    }
    if (parsed.error.empty()) {
        parsed.error = check::repeatedBoard(o.boards);
    }
    if (parsed.error.empty() && !limitsPath.empty()) {
        parsed.error = limits::readLimitsFile(limitsPath, o.check.limits);
    }
    parsed.conclude(help, version);
    return parsed;
}

std::string helpText() {
    return R"(Usage: vardek-station --boards FILE [OPTION]...
The operator's window for a rack of VARDEK boards: scan each unit's serial into its slot,
press Start, and read PASS, MARGINAL, FAIL or NO ANSWER on each slot's tile. The checks,
reports and store records are those of `vardek-probe check`.

Options (numbers are decimal or 0x-prefixed hex):
  --boards FILE      the rack: one board's address a line, in the order of the tiles;
                     a serial after it is optional, '#' starts a comment
  --port N           the boards' UDP port (default 10001)
  --timeout MS       milliseconds each request waits for its reply (default 500)
  --retries N        tries after the first for an unanswered request (default 2)
  --count N          status requests of the reachable check (default 5)
  --outputs          also switches RB2..RB7; they drive whatever is wired to them
  --limits FILE      the limits file `vardek-probe check --limits` reads
  --station NAME     the station's name in every record
  --ask              asks the operator to confirm each output once it is set
  --report-dir DIR   a JSON and a JUnit XML report per unit in DIR
  --results DB       records each unit in the results store DB: an SQLite file or a
                     postgresql:// URI
  --language LANGUAGE  the window's language, en (its own) or ja; else the key language=
                     of the settings file, else the locale's
  -h, --help         shows this help and ends
  -v, --version      shows the version and ends

Without --boards, --limits, --station, --report-dir or --results, the keys boards=,
limits=, station=, report_dir= and results= of
$XDG_CONFIG_HOME/vardek-control/vardek-control.conf name them (a relative path
from the file's folder).
)";
}

}  // namespace vardek::station
