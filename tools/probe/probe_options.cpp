#include "tools/probe/probe_options.h"

#include "cli/command_line.h"
#include "host/results_location.h"
#include "results/answers.h"

namespace vardek::probe {

using check::serialProblem;
using limits::LimitsTable;
using limits::parseRange;
using limits::readLimitsFile;
using limits::setAdcMax;
using limits::setTemperatureRange;

namespace {

constexpr std::string_view kCommands = "status, set, clear, read, watch, check or results";

CLI::Validator outputPin(std::uint8_t& bit) {
    return CLI::Validator(
        [&bit](std::string& text) -> std::string {
            if (const auto parsed = link::parseOutputPin(text)) {
                bit = *parsed;
                return {};
            }
            return "expects an output pin RB2 to RB7, not '" + text + "'";
        },
        "RBn");
}

CLI::Validator analogPin(const link::Channel*& channel) {
    return CLI::Validator(
        [&channel](std::string& text) -> std::string {
            if (const link::Channel* found = link::parseAnaloguePin(text)) {
                channel = found;
                return {};
            }
            return "expects an analogue pin RA0, RA1, RA2, RA3 or RA5, not '" + text + "'";
        },
        "PIN");
}

CLI::Validator nonEmpty(const char* what) {
    return CLI::Validator(
        [](const std::string& text) { return text.empty() ? "needs a name" : ""; }, what);
}

// A name recorded in every report, where a control character would break a line or a file.
CLI::Validator printable(const char* what) {
    return CLI::Validator(
        [](const std::string& text) -> std::string {
            if (text.empty()) {
                return "needs a name";
            }
            if (std::ranges::any_of(text, [](unsigned char c) { return c < 0x20 || c == 0x7F; })) {
                return "holds a control character";
            }
            return {};
        },
        what);
}

// A unit's serial, held to the rule a --boards file's serials are.
CLI::Validator serial() {
    return CLI::Validator(
        [](const std::string& text) -> std::string {
            const std::string problem = serialProblem(text);
            return problem.empty() ? "" : "the serial " + problem;
        },
        "ID");
}

CLI::Validator storeLocation() {
    return CLI::Validator(
        [](const std::string& text) { return host::resultsLocationProblem(text); }, "DB");
}

CLI::Validator utcTime() {
    return CLI::Validator(
        [](const std::string& text) -> std::string {
            return results::parseUtc(text)
                       ? ""
                       : "expects a UTC time YYYY-MM-DD[THH:MM[:SS]], not '" + text + "'";
        },
        "TIME");
}

}  // namespace

namespace {

// What is wrong with the words after `results`, or an empty text; takes them into `o`.
std::string resultsProblem(const std::vector<std::string>& words, ProbeOptions& o) {
    static constexpr std::string_view kAnswers = "yield, pareto, cpk, units or import DIR";
    if (words.empty()) {
        return o.sync ? "" : "results needs an answer (" + std::string(kAnswers) + ") or --sync";
    }
    o.resultsAnswer = words.front();
    const bool answer = o.resultsAnswer == "yield" || o.resultsAnswer == "pareto" ||
                        o.resultsAnswer == "cpk" || o.resultsAnswer == "units";
    if (!answer && o.resultsAnswer != "import") {
        return "unknown answer '" + o.resultsAnswer + "' (" + std::string(kAnswers) + ")";
    }
    if (o.resultsAnswer == "import") {
        if (words.size() != 2 || words[1].empty()) {
            return "results import needs the folder of the reports: import DIR";
        }
        o.importDir = words[1];
        return {};
    }
    if (words.size() > 1) {
        return "results " + o.resultsAnswer + " takes no '" + words[1] + "'";
    }
    if (o.resultsAnswer == "units" && !o.by.empty()) {
        return "--by groups yield, pareto and cpk, not units";
    }
    return {};
}

}  // namespace

ParsedCommandLine parseCommandLine(std::span<const std::string_view> args,
                                   const host::ChosenBoard& defaultBoard) {
    ParsedCommandLine parsed;
    ProbeOptions& o = parsed.options;
    o.board = defaultBoard.address;

    CLI::App app{std::string(kProgramName)};
    cli::setUp(app);
    // The common options may also follow the command.
    app.fallthrough();

    bool help = false;
    bool version = false;
    std::vector<std::string> boards;
    const CLI::Option* board = app.add_option("--board", boards)
                                   ->check(cli::boardAddress())
                                   ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
                                   ->allow_extra_args(false);
    app.add_option("--port", o.port)->transform(cli::number(0, 65535));
    app.add_option("--timeout", o.timeoutMs)->transform(cli::number(1, 600000));
    app.add_option("--retries", o.retries)->transform(cli::number(0, 100));
    app.add_flag("--json", o.json)->disable_flag_override();
    app.add_flag("--any-sender", o.anySender)->disable_flag_override();
    app.add_flag("-h,--help", help)->disable_flag_override();
    app.add_flag("--version", version)->disable_flag_override();

    app.add_subcommand("status");
    CLI::App* set = app.add_subcommand("set");
    CLI::App* clear = app.add_subcommand("clear");
    CLI::App* read = app.add_subcommand("read");
    CLI::App* watch = app.add_subcommand("watch");
    std::string pinText;
    for (CLI::App* bitCommand : {set, clear}) {
        bitCommand->add_option("RBn", pinText)->check(outputPin(o.bit));
    }
    read->add_option("PIN", pinText)->check(analogPin(o.channel));
    watch->add_option("--interval", o.intervalMs)->transform(cli::number(1, 86400000));
    watch->add_option_function<std::uint32_t>("--count", [&o](std::uint32_t n) { o.count = n; })
        ->transform(cli::number(1, 4294967295));
    watch->add_option_function<std::string>("--duration", [](const std::string&) {})
        ->check(CLI::Validator(
            [&o](const std::string& text) -> std::string {
                o.duration = readings::parseDuration(text);
                return o.duration ? ""
                                  : "expects " + std::string(readings::kDurationForm) + ", not '" +
                                        text + "'";
            },
            "TIME"));
    watch->add_option_function<std::string>("--read", [](const std::string&) {})
        ->check(CLI::Validator(
            [&o](const std::string& text) -> std::string {
                o.readPins = readings::parsePins(text);
                return o.readPins
                           ? ""
                           : "expects " + std::string(readings::kPinsForm) + ", not '" + text + "'";
            },
            "PINS"));
    watch->add_flag("--csv", o.csv)->disable_flag_override();
    watch->add_option("--output", o.outputPath)->check(nonEmpty("FILE"));

    CLI::App* check = app.add_subcommand("check");
    check->add_flag("--outputs", o.check.outputs)->disable_flag_override();
    check->add_option("--count", o.check.count)->transform(cli::number(1, 1000));
    check->add_option_function<std::uint32_t>("--adc-max", [&o](std::uint32_t m) { o.adcMax = m; })
        ->transform(cli::number(0, 65535));
    check->add_option_function<std::string>("--temp-range", [](const std::string&) {})
        ->check(CLI::Validator(
            [&o](const std::string& text) -> std::string {
                Limits range;
                if (!parseRange(text, range.low, range.high) || !range.low || !range.high) {
                    return "expects LO:HI in degrees Celsius, LO not above HI, not '" + text + "'";
                }
                o.temperatureRange = range;
                return {};
            },
            "LO:HI"));
    check->add_option("--limits", o.limitsPath)->check(nonEmpty("FILE"));
    check->add_option("--junit", o.junitPath)->check(nonEmpty("FILE"));
    check->add_option("--report-dir", o.reportDir)->check(nonEmpty("DIR"));
    check->add_option("--boards", o.boardsPath)->check(nonEmpty("FILE"));
    check->add_flag("--ask", o.ask)->disable_flag_override();
    check->add_option("--ask-timeout", o.askTimeoutS)->transform(cli::number(1, 3600));
    check->add_option("--dut-id", o.dutId)->check(serial());
    check->add_option("--station", o.station)->check(printable("NAME"));
    check->add_option("--operator", o.operatorName)->check(printable("NAME"));
    std::string storeText;
    check->add_option("--results", storeText)->check(storeLocation());

    CLI::App* results = app.add_subcommand("results");
    std::vector<std::string> resultsWords;
    results->add_option("--results", storeText)->check(storeLocation());
    results->add_flag("--sync", o.sync)->disable_flag_override();
    results->add_option("--since", o.since)->check(utcTime());
    results->add_option("--until", o.until)->check(utcTime());
    results->add_option("--station", o.station)->check(printable("NAME"));
    results->add_option("--operator", o.operatorName)->check(printable("NAME"));
    results->add_option("--serial", o.serial)->check(printable("ID"));
    results->add_option("--by", o.by)
        ->check(CLI::IsMember({"station", "operator", "day", "shift"}));
    results->add_flag("--csv", o.csv)->disable_flag_override();
    results->add_option("ANSWER", resultsWords)
        ->expected(0, 2)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);

    parsed.error = cli::parse(app, args);
    if (help || version) {
        parsed.action = help ? ParsedCommandLine::Action::Help : ParsedCommandLine::Action::Version;
        parsed.error.clear();
        return parsed;
    }
    const auto chosen = app.get_subcommands();
    if (chosen.empty()) {
        const auto left = app.remaining();
        if (!left.empty() && !left.front().starts_with('-')) {
            parsed.error =
                "unknown command '" + left.front() + "' (" + std::string(kCommands) + ")";
        } else if (parsed.error.empty()) {
            parsed.error = "no command given (" + std::string(kCommands) + ")";
        }
    }
    if (parsed.error.empty() && pinText.empty()) {
        if (chosen.front() == read) {
            parsed.error = "read needs an analogue pin: RA0, RA1, RA2, RA3 or RA5";
        } else if (chosen.front() == set || chosen.front() == clear) {
            parsed.error = chosen.front()->get_name() + " needs an output pin: RB2 to RB7";
        }
    }
    // Several boards only for check, which tests them at once; one unit's serial for one board.
    if (parsed.error.empty() && boards.size() > 1 && chosen.front() != check) {
        parsed.error = "--board is given " + std::to_string(boards.size()) +
                       " times: only check takes several boards";
    }
    const bool rack = boards.size() > 1 || !o.boardsPath.empty();
    if (parsed.error.empty() && rack && !o.dutId.empty()) {
        parsed.error =
            "--dut-id names one board's unit: give each board's after its address in "
            "a --boards file";
    }
    if (parsed.error.empty() && !chosen.empty() && chosen.front() == results) {
        parsed.error = resultsProblem(resultsWords, o);
    }
    if (parsed.error.empty() && o.csv && o.json) {
        parsed.error = chosen.front()->get_name() + " takes --csv or --json, not both";
    }
    if (parsed.error.empty() && o.ask && rack) {
        parsed.error = "--ask asks about one board: give one --board";
    }
    if (parsed.error.empty() && o.ask && !o.check.outputs) {
        parsed.error = "--ask asks about the outputs that check switches: give --outputs too";
    }
    // The settings file's address matters only when the command line names none, and only to
    // the commands that talk to a board.
    if (parsed.error.empty() && board->count() == 0 && o.boardsPath.empty() &&
        chosen.front() != results) {
        parsed.error = defaultBoard.problem;
    }
    if (!parsed.error.empty()) {
        parsed.action = ParsedCommandLine::Action::Refuse;
        return parsed;
    }
    if (!boards.empty()) {
        o.board = boards.front();
    }
    if (!boards.empty() || o.boardsPath.empty()) {
        for (const std::string& address : boards.empty() ? std::vector{o.board} : boards) {
            o.boards.push_back({address, o.dutId});
        }
    }
    if (const std::string problem = repeatedBoard(o.boards); !problem.empty()) {
        parsed.error = "--board: " + problem;
        parsed.action = ParsedCommandLine::Action::Refuse;
        return parsed;
    }
    if (!storeText.empty()) {
        o.results = storeText;
    }
    const CLI::App* command = chosen.front();
    o.command = command == set       ? Command::Set
                : command == clear   ? Command::Clear
                : command == read    ? Command::Read
                : command == watch   ? Command::Watch
                : command == check   ? Command::Check
                : command == results ? Command::Results
                                     : Command::Status;
    return parsed;
}

std::string readCheckFiles(ProbeOptions& options) {
    if (!options.boardsPath.empty()) {
        if (std::string problem = readBoardsFile(options.boardsPath, options.boards);
            !problem.empty()) {
            return problem;
        }
    }
    LimitsTable& limits = options.check.limits;
    if (!options.limitsPath.empty()) {
        if (std::string problem = readLimitsFile(options.limitsPath, limits); !problem.empty()) {
            return problem;
        }
    }
    if (options.adcMax) {
        setAdcMax(limits, *options.adcMax);
    }
    if (options.temperatureRange) {
        setTemperatureRange(limits, *options.temperatureRange->low,
                            *options.temperatureRange->high);
    }
    return {};
}

std::string usageText() {
    return R"(Usage: vardek-probe [--board ADDR] [--port N] [--timeout MS] [--retries N] [--json]
                    [--any-sender] COMMAND [ARG]
Commands: status | set RBn | clear RBn | read RA0|RA1|RA2|RA3|RA5
          | watch [--interval MS] [--count N] [--duration TIME] [--read PINS] [--csv]
                  [--output FILE]
          | check [--outputs] [--count N] [--limits FILE] [--temp-range LO:HI] [--adc-max M]
                  [--boards FILE] [--dut-id ID] [--station NAME] [--operator NAME]
                  [--junit FILE] [--report-dir DIR] [--ask [--ask-timeout S]]
                  [--results DB]
          | results [--results DB] [--since T] [--until T] [--station NAME]
                    [--operator NAME] [--serial ID] [--by GROUP] [--csv]
                    [--sync] [yield | pareto | cpk | units | import DIR]
Try 'vardek-probe --help'.
)";
}

std::string helpText(const host::ChosenBoard& defaultBoard) {
    const std::string origin =
        defaultBoard.file.empty() ? std::string("built in") : "from " + defaultBoard.file;
    return R"(Usage: vardek-probe [OPTION]... COMMAND [ARG]
Sends one request to a VARDEK board over UDP and prints its 8-byte reply: the raw bytes as
VARDEK_Control shows them, then port B as bits RB7..RB0 and, for read, the reading.

Commands:
  status             one status request
  set RBn            set output pin RBn (n = 2 to 7)
  clear RBn          clear output pin RBn (n = 2 to 7)
  read PIN           convert analogue pin RA0, RA1, RA2, RA3 or RA5 (RA5 reads in degrees C)
  watch              a status request every interval, until --count, --duration or Ctrl-C;
                     with --read, --csv or --output a log of readings: one line per sample
    --interval MS    time from one sample's start to the next's (default 5000); a sample
                     that overruns its time is followed at once by the next, never skipped
    --count N        stop after N samples
    --duration TIME  stop after TIME: 90s, 30min, 2h (units ms, s, min, h)
    --read PINS      also read these analogue pins in each sample: a comma list of RA0, RA1,
                     RA2, RA3 and RA5, or all
    --csv            print the log as CSV (RFC 4180, CR LF line ends), a header line first:
                     time_utc,elapsed_s,result,rtt_ms,port_b,RB0..RB7, then RA0, RA1, RA2,
                     RA3, RA5_degC as read; result is ok, no-reply, wrong-size:N or not-sent,
                     and a value that did not come is an empty field. With --json the same
                     records as JSON Lines, null for empty
    --output FILE    append the log to FILE instead (CSV unless --json), the header only
                     when FILE is new or empty; every line is written whole at once
                     On a terminal, standard error keeps one line up to date with the log:
                     samples, missed, late, elapsed and the latest RA5.
  check              a self-test with a verdict: one line per check (name, PASS, FAIL or SKIP,
                     detail), then a summary line
    --count N        status requests of the reachable check, 1 to 1000 (default 5)
    --outputs        also set and clear RB2..RB7 in turn and read each back; the outputs are
                     put back as found, also after a failure, Ctrl-C, SIGTERM, SIGHUP or
                     SIGQUIT (not after SIGKILL or a power loss, which nothing survives)
    --boards FILE    also check the boards FILE lists, one address a line, optionally the
                     unit's serial after it, # starting a comment; with them and with
                     --board given more than once, every board is checked at the same time
    --ask            with --outputs, one board and a terminal: after each output is set, ask
                     "RB5 set: is it on? [y/n]", after it is cleared "RB5 cleared: is it
                     off? [y/n]", each answer a measurement (RB5_on, RB5_off), no answer a
                     failure; for a jig with an LED or a relay on each output
    --ask-timeout S  how long an answer may take, 1 to 3600 seconds (default 30)
    --limits FILE    the limits of the measurements, an INI file with one group per
                     measurement: [RA5] range=15:35 marginal=18:32 (see below)
    --adc-max M      the highest RA0..RA3 result accepted, 0 to 65535 (default 1023)
    --temp-range LO:HI  the RA5 temperatures accepted, in degrees C (default 0:60)
    --dut-id ID      the unit's serial number, recorded in every output (one board only)
    --station NAME   the test station, recorded in every output
    --operator NAME  who tests, recorded in every output
    --junit FILE     also write a JUnit XML report to FILE
    --report-dir DIR  also write ID.yyyymmddThhmmss.mmmZ.json and .xml into DIR (the
                     board's address without --dut-id; UTC start), each board's once it is
                     done, never over an earlier report
    --results DB     also record every unit in the results store DB: a file (SQLite,
                     created where none is) or postgresql://[USER@]HOST[:PORT]/DATABASE
                     (?host=/run/postgresql for a Unix socket); without it the settings
                     file's results= names the store. Each unit is one transaction. While
                     the server cannot be reached, records wait in results-spool.sqlite
                     beside the settings file; the run says so and exits by its verdict,
                     and the next run or results --sync sends them, each once
  results ANSWER     the store's answers, as text tables with their definitions:
                     yield (units, first-pass and final yield, retests), pareto (failed
                     and marginal measurements, most frequent first), cpk (per measurement
                     with limits: n, mean, standard deviation, Cp, Cpk, weakest first,
                     below 1.33 marked) or units (the records); import DIR reads the .json
                     reports that --report-dir wrote
    --results DB     the store, as for check (default: the settings file's results=);
                     an answer needs one that is there; import and --sync make one
    --since T        records that started at or after T, UTC: 2026-12-09 or
                     2026-12-09T06:00[:00]
    --until T        records that started before T
    --station NAME   --operator NAME  --serial ID  only records with these
    --by GROUP       a row per station, operator, day or shift (UTC 00-08, 08-16, 16-24)
    --csv            CSV (RFC 4180) instead of the table; --json gives JSON Lines
    --sync           first send the records that wait in the spool

Options (numbers are decimal or 0x-prefixed hex):
  --board ADDR       the board's IPv4 address in dotted decimal (default )" +
           defaultBoard.address + ", " + origin + R"().
                     Without it, the key board= of ~/.config/vardek-control/
                     vardek-control.conf (under $XDG_CONFIG_HOME if set) names the
                     board, as for VARDEK_Control. Broadcast, multicast, 0.x.x.x
                     and 240.0.0.0/4 addresses are refused. check takes several.
  --port N           the board's UDP port (default 10001)
  --timeout MS       how long to wait for the reply to one try, 1 to 600000 (default 500)
  --retries N        tries after the first when no reply comes, 0 to 100 (default 2)
  --json             print each reply as one JSON object per line (JSON Lines)
  --any-sender       take a reply from any address, not only from the board's
  -h, --help         show this text and exit
  --version          show the version and exit

The first datagram from the board's address (any port) after the request is its reply, whatever
its size: the protocol matches replies by order alone. So a try that times out waits one more
timeout for its late reply before anything else is sent; a late reply is named, with its delay,
and never taken for an answer. Messages go to standard error.

Checks of check: reachable (every status request answered; round trips), reply-size (every
datagram from the board 8 bytes), outputs (only with --outputs), analogue (RA0-RA3 and RA5
within their limits) and inputs (RB0 and RB1, within limits only where given). Several boards
are checked at the same time, each on its own socket; each board's lines come once it is done,
in the order given, then a summary line per board and an overall line.

Each value is a measurement with limits and marginal bounds: PASS inside both, MARGINAL inside
the limits but outside the marginal bounds (it passes, and says so), FAIL outside the limits.
--limits groups: rtt_median and rtt_max (ms), RA0..RA3 (raw), RA5 (degrees C), RB0 and RB1
(0 or 1), retries (MARGINAL above 0 by default), requests_sent, requests_answered and
late_replies; keys range=LO:HI and marginal=LO:HI, a side left out for no bound (range=:50).
--adc-max and --temp-range, where given, hold over the file.

Exit status: 0 a reply came; 1 no reply in time after all tries; 2 bad usage; 3 the board answered
with a datagram that is not 8 bytes; 4 the request could not be sent. watch: 0 when every
request got its reply, else the status of the first one that did not; 6 the log could not be
written (a message names the file), where it stops at once. check: 0 every check passed, 5 a
check failed (a wrong-sized reply included), 1 the board never answered; for several boards, 5
when one failed, else 4 when a request to one could not be sent, else 1 when one never
answered; 6 a report could not be written whole, or a unit's record neither in the store nor
in its spool (a message names it). results: 0 done, 2 bad usage or a store refused, 6 the
store could not be read or written. 130 after Ctrl-C, 143 after SIGTERM, 129 after SIGHUP and
131 after SIGQUIT (check
puts the outputs back first).
)";
}

}  // namespace vardek::probe
