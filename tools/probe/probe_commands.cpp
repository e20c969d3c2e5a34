#include "probe_commands.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>

#include "board_check.h"
#include "command_line.h"
#include "reply_text.h"
#include "report.h"

namespace vardek::probe {

namespace {

using cli::complain;
using std::chrono::milliseconds;

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
            break;
    }
    return link::statusRequest();
}

}  // namespace

int exitStatus(const StopSignals& stop) { return 128 + stop.signal(); }

int exchange(BoardExchange& board, const link::Request& request, const StopSignals& stop) {
    const ProbeOptions& options = board.options();
    const std::string target = board.board().text();
    const std::string what =
        link::describeRequest(request.bytes()) + " (" + link::hexText(request.bytes(), 2) + ")";
    const Answer answer = board.ask(request);
    switch (answer.kind) {
        case Answer::Kind::Reply: {
            print(options.json ? jsonLine(target, request, answer) : humanLine(request, answer));
            return kReplied;
        }
        case Answer::Kind::WrongSize: {
            const std::string shown = link::hexText(answer.bytes, 3, kShownBytes);
            complain(kProgramName, answer.from.text() + " answered " + what + " with " +
                                       std::to_string(answer.size) + " bytes instead of 8" +
                                       (shown.empty() ? "" : ": " + shown));
            return kWrongSize;
        }
        case Answer::Kind::NoReply:
            complain(kProgramName, "no reply from " + target + " to " + what + " after " +
                                       std::to_string(options.retries + 1) + " tries of " +
                                       std::to_string(options.timeoutMs) + " ms");
            return kNoReply;
        case Answer::Kind::NotSent:
            complain(kProgramName,
                     "cannot send " + what + " to " + target + ": " + board.notSentReason());
            return kNotSent;
        case Answer::Kind::Stopped:
            break;
    }
    return exitStatus(stop);
}

int watch(BoardExchange& board, const StopSignals& stop) {
    const ProbeOptions& options = board.options();
    int first = kReplied;
    for (std::uint32_t done = 0; !options.count || done < *options.count; ++done) {
        const auto started = BoardExchange::Clock::now();
        const int status = exchange(board, link::statusRequest(), stop);
        if (stop.signal() != 0) {
            return exitStatus(stop);
        }
        if (first == kReplied) {
            first = status;
        }
        const bool last = options.count && done + 1 == *options.count;
        if (!last && !board.idle(started + milliseconds(options.intervalMs))) {
            return exitStatus(stop);
        }
    }
    return first;
}

int check(BoardExchange& board, const StopSignals& stop) {
    const ProbeOptions& options = board.options();
    // Opened before any output is switched: a report that cannot be written stops nothing
    // half-way.
    std::FILE* junit = nullptr;
    if (!options.junitPath.empty()) {
        junit = std::fopen(options.junitPath.c_str(), "w");
        if (junit == nullptr) {
            complain(kProgramName,
                     "cannot write --junit " + options.junitPath + ": " + std::strerror(errno));
            return kBadUsage;
        }
    }
    const CheckRun run = runChecks(board, options.check);
    if (run.end == CheckRun::End::Stopped) {
        complain(kProgramName, std::string("stopped by ") +
                                   (stop.signal() == SIGINT ? "SIGINT" : "SIGTERM") +
                                   (run.restored.empty() ? "" : "; " + run.restored));
    }
    const std::string target = board.board().text();
    if (run.end == CheckRun::End::NotSent) {
        complain(kProgramName, "cannot send to " + target + ": " + board.notSentReason() +
                                   (run.restored.empty() ? "" : "; " + run.restored));
    }
    if (run.end == CheckRun::End::Finished) {
        std::string text;
        for (const CheckResult& result : run.results) {
            text += (options.json ? jsonLine(result) : humanLine(result)) + '\n';
        }
        text += summaryLine(run, target, options.json);
        print(text);
    }
    if (junit != nullptr) {
        const std::string report =
            run.end == CheckRun::End::Finished ? junitReport(run, target) : std::string{};
        const bool written = std::fputs(report.c_str(), junit) >= 0;
        if (std::fclose(junit) != 0 || !written) {
            complain(kProgramName,
                     "cannot write --junit " + options.junitPath + ": " + std::strerror(errno));
        }
    }
    switch (run.end) {
        case CheckRun::End::Stopped:
            return exitStatus(stop);
        case CheckRun::End::NotSent:
            return kNotSent;
        case CheckRun::End::Finished:
            break;
    }
    if (!run.answered) {
        return kNoReply;
    }
    return std::ranges::any_of(run.results,
                               [](const CheckResult& r) { return r.verdict == Verdict::Fail; })
               ? kCheckFailed
               : kReplied;
}

int run(const ProbeOptions& options) {
    StopSignals stop;
    if (stop.descriptor() < 0) {
        throw std::system_error(stop.error(), "cannot watch for signals");
    }
    BoardExchange board({*link::parseIpv4(options.board), options.port}, options, stop);
    switch (options.command) {
        case Command::Watch:
            return watch(board, stop);
        case Command::Check:
            return check(board, stop);
        default:
            break;
    }
    return exchange(board, requestFor(options), stop);
}

}  // namespace vardek::probe
