#include "tools/probe/probe_commands.h"

#include <QString>
#include <QSysInfo>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include <unistd.h>

#include "check/board_check.h"
#include "check/check_report.h"
#include "check/rack.h"
#include "cli/command_line.h"
#include "link/reply_text.h"
#include "results/recorder.h"
#include "tools/probe/operator_prompt.h"
#include "tools/probe/report.h"
#include "tools/probe/results_command.h"

namespace vardek::probe {

namespace {

using check::BoardRecord;
using check::CheckResult;
using check::CheckRun;
using check::lateText;
using check::Measurement;
using check::Outcome;
using check::Station;
using check::unitLabel;
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

// One check of every board at once, as the terminal shows it: each board's lines once it and
// every board before it are done, then a summary per board (and an overall line for several).
class CheckCommand {
  public:
    CheckCommand(const ProbeOptions& options, EventLoop& loop)
        : options_(options),
          loop_(loop),
          settings_{options.check, options.port, options.junitPath, options.reportDir,
                    Station{options.station, options.operatorName,
                            QSysInfo::machineHostName().toStdString(),
                            std::string(kProgramName) + ' ' + VARDEK_VERSION}} {
        if (options.ask) {
            asked_ = std::make_unique<TerminalOperator>(
                loop, std::chrono::seconds(options.askTimeoutS), STDIN_FILENO);
        }
        rack_.emplace(
            settings_, options.boards, loop,
            [&options](const link::SocketAddress& board) {
                return exchangeSettings(options, board);
            },
            std::vector<check::Operator*>(asked_ ? options.boards.size() : 0, asked_.get()),
            [](const std::string& text) { complain(kProgramName, text); });
        rack_->boardDone = [this](std::size_t) { printDone(); };
    }

    std::string openReports() { return rack_->openReports(); }

    // `recorder`, where given, records every board whose check finished.
    int run(results::Recorder* recorder) {
        rack_->run();
        const StopSignals& stop = loop_.stop();
        rack_->settle(std::string(stop.signalName()));
        std::string text;
        for (std::size_t board = 0; board < rack_->size(); ++board) {
            const BoardRecord& record = rack_->record(board);
            const std::string label = unitLabel(record, settings_.station);
            if (record.run.end == CheckRun::End::Stopped) {
                text += (options_.json
                             ? "{\"cut_short\":" + jsonString(record.run.cutShort) +
                                   ",\"board\":" + jsonString(record.board) + ",\"dut_id\":" +
                                   (record.dutId.empty() ? "null" : jsonString(record.dutId)) + '}'
                             : "check " + label + ": " + record.run.cutShort) +
                        '\n';
            } else if (record.run.end == CheckRun::End::Finished) {
                text += (options_.json ? jsonSummaryLine(record, settings_.station)
                                       : summaryLine(record.run, label)) +
                        '\n';
            }
        }
        if (rack_->size() > 1) {
            text += overallLine() + '\n';
        }
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
        rack_->keep(recorder);
        if (stop.signal() != 0) {
            return exitStatus(stop);
        }
        return rack_->notWritten() ? kNotWritten : exitCode();
    }

  private:
    // Each board's lines together, in the order the boards were given.
    void printDone() {
        std::string text;
        for (; printed_ < rack_->size() && rack_->done(printed_); ++printed_) {
            const BoardRecord& record = rack_->record(printed_);
            // A rack's person reads which board each block is about.
            if (!options_.json && rack_->size() > 1 && !record.run.results.empty()) {
                text += "board " + unitLabel(record, settings_.station) + '\n';
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

    // "check 5 boards: FAIL (3 passed, 0 marginal, 2 failed, of which 1 never answered)", and
    // after a signal how many it cut short.
    std::string overallLine() const {
        int counts[3] = {0, 0, 0};  // passed, marginal, failed
        int silent = 0;
        int cutShort = 0;
        for (std::size_t board = 0; board < rack_->size(); ++board) {
            const CheckRun& run = rack_->record(board).run;
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
        const std::string boards = std::to_string(rack_->size());
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

    // 5 when a board that answered failed, else 4 when a request to one could not be sent,
    // else 1 when one never answered, else 0.
    int exitCode() const {
        const auto any = [&](auto test) {
            for (std::size_t board = 0; board < rack_->size(); ++board) {
                if (test(rack_->record(board).run)) {
                    return true;
                }
            }
            return false;
        };
        const auto finished = [](const CheckRun& run) {
            return run.end == CheckRun::End::Finished;
        };
        if (any([&](const CheckRun& run) {
                return finished(run) && run.answered && boardOutcome(run) == Outcome::Fail;
            })) {
            return kCheckFailed;
        }
        if (any([](const CheckRun& run) { return run.end == CheckRun::End::NotSent; })) {
            return kNotSent;
        }
        return any([&](const CheckRun& run) { return finished(run) && !run.answered; }) ? kNoReply
                                                                                        : kReplied;
    }

    const ProbeOptions& options_;
    EventLoop& loop_;
    const check::RackSettings settings_;
    std::unique_ptr<Operator> asked_;
    std::optional<check::Rack> rack_;
    std::size_t printed_ = 0;
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
    CheckCommand rack(options, loop);
    if (const std::string problem = rack.openReports(); !problem.empty()) {
        complain(kProgramName, problem);
        return kBadUsage;
    }
    // The store is opened before any output is switched, as the reports are: a store that
    // refuses stops the run before the board is touched.
    std::string problem;
    const std::optional<host::ResultsLocation> store =
        host::chooseResultsLocation(options.results, problem);
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
