#include "tools/probe/probe_commands.h"

#include <QString>
#include <QSysInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include <unistd.h>

#include "cli/command_line.h"
#include "link/reply_text.h"
#include "results/recorder.h"
#include "tools/probe/board_check.h"
#include "tools/probe/check_report.h"
#include "tools/probe/report.h"
#include "tools/probe/results_command.h"
#include "tools/probe/store_record.h"

namespace vardek::probe {

namespace {

using cli::complain;

// Bytes of a wrong-sized answer shown in the message.
constexpr std::size_t kShownBytes = 16;

void print(const std::string& line) {
    std::fputs((line + '\n').c_str(), stdout);
    std::fflush(stdout);
}

link::Request requestFor(const ProbeOptions& options) {
    switch (options.command) {
        case Command::Set:
            return link::setBitRequest(options.bit);
        case Command::Clear:
            return link::clearBitRequest(options.bit);
        case Command::Read:
            return link::readChannelRequest(options.channel->selector);
        case Command::Status:
        case Command::Watch:
        case Command::Check:
        case Command::Results:
            break;
    }
    return link::statusRequest();
}

// What --timeout, --retries and --any-sender allow the exchange with `board`, its notices told on
// standard error.
board::ExchangeSettings exchangeSettings(const ProbeOptions& options,
                                         const link::SocketAddress& board) {
    board::ExchangeSettings settings;
    settings.timeoutMs = options.timeoutMs;
    settings.retries = options.retries;
    settings.anySender = options.anySender;
    settings.ignoredSenders = [address = board.addressText()](int ignored) {
        complain(kProgramName, "ignored " + std::to_string(ignored) +
                                   " datagram(s) from addresses other than " + address +
                                   " (--any-sender takes them)");
    };
    settings.receiveFailed = [](const std::string& problem) { complain(kProgramName, problem); };
    return settings;
}

// "127.0.0.1:10001, dut-id SN0042, station EOL-3, operator kim": what the person's summary
// names the board by.
std::string unitLabel(const BoardRecord& record, const Station& station) {
    std::string label = record.board;
    for (const auto& [name, value] : {std::pair{"dut-id", record.dutId},
                                      {"station", station.station},
                                      {"operator", station.operatorName}}) {
        if (!value.empty()) {
            label += std::string(", ") + name + ' ' + value;
        }
    }
    return label;
}

// Every board of one check, checked at once: each with its own exchange, record and reports,
// its lines printed once it and every board before it are done.
class Rack {
  public:
    Rack(const ProbeOptions& options, EventLoop& loop)
        : options_(options),
          loop_(loop),
          station_{options.station, options.operatorName, QSysInfo::machineHostName().toStdString(),
                   std::string(kProgramName) + ' ' + VARDEK_VERSION} {
        if (options.ask) {
            asked_ = std::make_unique<TerminalOperator>(
                loop, std::chrono::seconds(options.askTimeoutS), STDIN_FILENO);
        }
        const auto start = std::chrono::system_clock::now();
        for (const RackBoard& board : options.boards) {
            const link::SocketAddress address{*link::parseIpv4(board.address), options.port};
            units_.push_back(std::make_unique<Unit>(
                Unit{BoardExchange(address, exchangeSettings(options, address), loop),
                     BoardRecord{address.text(), board.dutId, start, start, {}},
                     {},
                     false}));
        }
    }

    // Opened before anything is sent: a report that cannot be written stops nothing half-way.
    // Each is written in full beside its place and moved into it once its board is done (a
    // rack's --junit once all are), so a run cut short leaves an earlier report as it was.
    std::string openReports() {
        if (!options_.junitPath.empty()) {
            junit_.emplace(options_.junitPath, ReportFile::Earlier::Replace);
            if (std::string problem = opened(*junit_); !problem.empty()) {
                return problem;
            }
        }
        for (auto& unit : units_) {
            if (options_.reportDir.empty()) {
                break;
            }
            const std::string stem = options_.reportDir + '/' + reportStem(unit->record);
            for (const char* extension : {".json", ".xml"}) {
                unit->reports.emplace_back(stem + extension, ReportFile::Earlier::Keep);
                if (std::string problem = opened(unit->reports.back()); !problem.empty()) {
                    return problem;
                }
            }
        }
        return {};
    }

    // `recorder`, where given, records every board whose check finished.
    int run(results::Recorder* recorder) {
        std::vector<Task<void>> tasks;
        for (auto& unit : units_) {
            tasks.push_back(checkBoard(*unit));
        }
        loop_.run(tasks);
        const StopSignals& stop = loop_.stop();
        for (const auto& unit : units_) {
            complainAbout(*unit);
        }
        std::string text;
        std::vector<BoardRecord> records;
        for (auto& unit : units_) {
            BoardRecord& record = unit->record;
            if (record.run.end == CheckRun::End::Stopped) {
                record.run.cutShort = "cut short by " + std::string(stop.signalName());
                text +=
                    (options_.json
                         ? "{\"cut_short\":" + jsonString(record.run.cutShort) +
                               ",\"board\":" + jsonString(record.board) + ",\"dut_id\":" +
                               (record.dutId.empty() ? "null" : jsonString(record.dutId)) + '}'
                         : "check " + unitLabel(record, station_) + ": " + record.run.cutShort) +
                    '\n';
                records.push_back(record);
                continue;
            }
            if (record.run.end != CheckRun::End::Finished) {
                continue;
            }
            records.push_back(record);
            text += (options_.json ? jsonSummaryLine(record, station_)
                                   : summaryLine(record.run, unitLabel(record, station_))) +
                    '\n';
        }
        if (units_.size() > 1) {
            text += overallLine() + '\n';
        }
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
        // A rack's report keeps the boards that finished, those cut short in error; of a run
        // that finished no board, the earlier report stays as it was.
        const bool anyFinished = std::ranges::any_of(units_, [](const auto& unit) {
            return unit->record.run.end == CheckRun::End::Finished;
        });
        if (junit_ && anyFinished) {
            commit(*junit_, junitReport(records, station_));
        }
        // Each board that finished, also before a stop, as its report is.
        if (recorder != nullptr) {
            std::vector<BoardRecord> finished;
            std::ranges::copy_if(records, std::back_inserter(finished), [](const BoardRecord& r) {
                return r.run.end == CheckRun::End::Finished;
            });
            notWritten_ = !record(*recorder, finished) || notWritten_;
        }
        if (stop.signal() != 0) {
            return exitStatus(stop);
        }
        return notWritten_ ? kNotWritten : exitCode();
    }

  private:
    struct Unit {
        BoardExchange exchange;
        BoardRecord record;
        std::vector<ReportFile> reports;  // --report-dir's .json and .xml
        bool done = false;
    };

    static std::string opened(ReportFile& report) {
        const std::string problem = report.open();
        return problem.empty() ? "" : "cannot write " + report.path() + ": " + problem;
    }

    Task<void> checkBoard(Unit& unit) {
        unit.record.start = std::chrono::system_clock::now();
        unit.record.run = co_await runChecks(unit.exchange, options_.check, asked_.get());
        unit.record.end = std::chrono::system_clock::now();
        unit.done = true;
        printDone();
        // Written the moment the board is done: a signal that cuts the rest of the rack short
        // leaves this one's record.
        if (unit.record.run.end == CheckRun::End::Finished && !unit.reports.empty()) {
            commit(unit.reports[0], jsonSummaryLine(unit.record, station_) + '\n');
            commit(unit.reports[1], junitReport(std::span(&unit.record, 1), station_));
        }
    }

    // Each board's lines together, in the order the boards were given.
    void printDone() {
        std::string text;
        for (; printed_ < units_.size() && units_[printed_]->done; ++printed_) {
            const BoardRecord& record = units_[printed_]->record;
            // A rack's person reads which board each block is about.
            if (!options_.json && units_.size() > 1 && !record.run.results.empty()) {
                text += "board " + unitLabel(record, station_) + '\n';
            }
            for (const CheckResult& result : record.run.results) {
                if (!options_.json) {
                    text += humanLine(result) + '\n';
                    continue;
                }
                text += jsonLine(result, record.board) + '\n';
                for (const Measurement& measurement : result.measurements) {
                    text += jsonMeasurementLine(record, result, measurement) + '\n';
                }
            }
        }
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
    }

    // Why a board's check ended early, and what became of its outputs.
    void complainAbout(const Unit& unit) const {
        const CheckRun& run = unit.record.run;
        const std::string restored = run.restored.empty() ? "" : "; " + run.restored;
        const std::string board = units_.size() > 1 ? unit.record.board + ": " : "";
        if (run.end == CheckRun::End::Stopped) {
            complain(kProgramName,
                     board + "stopped by " + std::string(loop_.stop().signalName()) + restored);
        } else if (run.end == CheckRun::End::NotSent) {
            complain(kProgramName, "cannot send to " + unit.record.board + ": " +
                                       unit.exchange.notSentReason() + restored);
        }
    }

    // "check 5 boards: FAIL (3 passed, 0 marginal, 2 failed, of which 1 never answered)", and
    // after a signal how many it cut short.
    std::string overallLine() const {
        int counts[3] = {0, 0, 0};  // passed, marginal, failed
        int silent = 0;
        int cutShort = 0;
        for (const auto& unit : units_) {
            const CheckRun& run = unit->record.run;
            if (run.end == CheckRun::End::Stopped) {
                ++cutShort;
                continue;
            }
            const bool finished = run.end == CheckRun::End::Finished;
            const Outcome outcome = finished ? boardOutcome(run) : Outcome::Fail;
            ++counts[outcome == Outcome::Pass ? 0 : outcome == Outcome::Marginal ? 1 : 2];
            silent += finished && !run.answered ? 1 : 0;
        }
        const char* overall = counts[2] > 0 || cutShort > 0 ? "FAIL"
                              : counts[1] > 0               ? "MARGINAL"
                                                            : "PASS";
        const std::string boards = std::to_string(units_.size());
        if (options_.json) {
            return "{\"overall\":" + jsonString(overall) + ",\"boards\":" + boards +
                   ",\"passed\":" + std::to_string(counts[0]) +
                   ",\"marginal\":" + std::to_string(counts[1]) +
                   ",\"failed\":" + std::to_string(counts[2]) +
                   ",\"never_answered\":" + std::to_string(silent) +
                   ",\"cut_short\":" + std::to_string(cutShort) + '}';
        }
        return "check " + boards + " boards: " + overall + " (" + std::to_string(counts[0]) +
               " passed, " + std::to_string(counts[1]) + " marginal, " + std::to_string(counts[2]) +
               " failed, of which " + std::to_string(silent) + " never answered" +
               (cutShort > 0 ? "; " + std::to_string(cutShort) + " cut short" : "") + ")";
    }

    // False when a unit is in neither the store nor the spool.
    bool record(results::Recorder& recorder, const std::vector<BoardRecord>& finished) const {
        bool kept = true;
        for (const BoardRecord& board : finished) {
            std::string problem;
            if (!recorder.record(storeRecord(board, station_), problem)) {
                complain(kProgramName,
                         "the record of " + unitLabel(board, station_) + " is lost: " + problem);
                kept = false;
            }
        }
        if (recorder.spooled() > 0) {
            complain(kProgramName, std::to_string(recorder.spooled()) +
                                       " record(s) of this run wait in " + spoolPath() +
                                       " until the next run or vardek-probe results --sync");
        }
        return kept;
    }

    // A report that cannot be written whole fails the run, by its own exit status.
    void commit(ReportFile& report, const std::string& contents) {
        if (const std::string problem = report.commit(contents); !problem.empty()) {
            complain(kProgramName, "cannot write the report " + report.path() + ": " + problem);
            notWritten_ = true;
        }
    }

    // 5 when a board that answered failed, else 4 when a request to one could not be sent,
    // else 1 when one never answered, else 0.
    int exitCode() const {
        const auto any = [&](auto test) {
            return std::ranges::any_of(units_, [&](const auto& unit) { return test(*unit); });
        };
        const auto finished = [](const Unit& unit) {
            return unit.record.run.end == CheckRun::End::Finished;
        };
        if (any([&](const Unit& u) {
                return finished(u) && u.record.run.answered &&
                       boardOutcome(u.record.run) == Outcome::Fail;
            })) {
            return kCheckFailed;
        }
        if (any([&](const Unit& u) { return u.record.run.end == CheckRun::End::NotSent; })) {
            return kNotSent;
        }
        return any([&](const Unit& u) { return finished(u) && !u.record.run.answered; }) ? kNoReply
                                                                                         : kReplied;
    }

    const ProbeOptions& options_;
    EventLoop& loop_;
    const Station station_;
    std::vector<std::unique_ptr<Unit>> units_;
    std::optional<ReportFile> junit_;
    std::unique_ptr<Operator> asked_;
    std::size_t printed_ = 0;
    bool notWritten_ = false;
};

}  // namespace

int exitStatus(const StopSignals& stop) { return 128 + stop.signal(); }

Task<int> exchange(BoardExchange& board, const ProbeOptions& options, link::Request request,
                   const StopSignals& stop) {
    const std::string target = board.board().text();
    const std::string what =
        link::describeRequest(request.bytes()) + " (" + link::hexText(request.bytes(), 2) + ")";
    const Answer answer = co_await board.ask(request);
    switch (answer.kind) {
        case Answer::Kind::Reply: {
            print(options.json ? jsonLine(target, request, answer) : humanLine(request, answer));
            co_return kReplied;
        }
        case Answer::Kind::WrongSize: {
            const std::string shown = link::hexText(answer.bytes, 3, kShownBytes);
            complain(kProgramName, answer.from.text() + " answered " + what + " with " +
                                       std::to_string(answer.size) + " bytes instead of 8" +
                                       (shown.empty() ? "" : ": " + shown));
            co_return kWrongSize;
        }
        case Answer::Kind::Late:
            complain(kProgramName, answer.from.text() + " answered " + what + ' ' +
                                       lateText(answer.roundTrip, options.timeoutMs) +
                                       ", too late to be taken for its answer");
            co_return kNoReply;
        case Answer::Kind::NoReply:
            complain(kProgramName, "no reply from " + target + " to " + what + " after " +
                                       std::to_string(options.retries + 1) + " tries of " +
                                       std::to_string(options.timeoutMs) + " ms");
            co_return kNoReply;
        case Answer::Kind::NotSent:
            complain(kProgramName,
                     "cannot send " + what + " to " + target + ": " + board.notSentReason());
            co_return kNotSent;
        case Answer::Kind::Stopped:
            break;
    }
    co_return exitStatus(stop);
}

int check(const ProbeOptions& options, EventLoop& loop) {
    if (options.ask && ::isatty(STDIN_FILENO) == 0) {
        complain(kProgramName,
                 "--ask needs a terminal on standard input to ask the operator "
                 "on, and it is not one");
        return kBadUsage;
    }
    Rack rack(options, loop);
    if (const std::string problem = rack.openReports(); !problem.empty()) {
        complain(kProgramName, problem);
        return kBadUsage;
    }
    // The store is opened before any output is switched, as the reports are: a store that
    // refuses stops the run before the board is touched.
    std::string problem;
    const std::optional<host::ResultsLocation> store = chosenStore(options, problem);
    if (!problem.empty()) {
        // A settings file refused: with --board the run goes on, as it did before there was a
        // store, but not without saying that no results= was read from it.
        complain(kProgramName, problem + " (so no results= is read from it)");
        problem.clear();
    }
    std::optional<results::Recorder> recorder;
    if (store) {
        recorder = results::Recorder::open(
            *store, spoolPath(), [](const std::string& text) { complain(kProgramName, text); },
            problem);
        if (!recorder) {
            complain(kProgramName, problem);
            return kBadUsage;
        }
    }
    return rack.run(recorder ? &*recorder : nullptr);
}

int run(const ProbeOptions& given) {
    if (given.command == Command::Results) {
        return results(given);
    }
    ProbeOptions options = given;
    if (options.command == Command::Check) {
        if (const std::string problem = readCheckFiles(options); !problem.empty()) {
            complain(kProgramName, problem);
            return kBadUsage;
        }
    }
    StopSignals stop;
    if (stop.descriptor() < 0) {
        throw std::system_error(stop.error(), "cannot watch for signals");
    }
    EventLoop loop(stop);
    if (options.command == Command::Check) {
        return check(options, loop);
    }
    const link::SocketAddress address{*link::parseIpv4(options.board), options.port};
    BoardExchange board(address, exchangeSettings(options, address), loop);
    if (options.command == Command::Watch) {
        return loop.run(watch(board, options, stop));
    }
    return loop.run(exchange(board, options, requestFor(options), stop));
}

}  // namespace vardek::probe
