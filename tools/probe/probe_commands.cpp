#include "probe_commands.h"

#include <QString>
#include <QSysInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>

#include "board_check.h"
#include "check_report.h"
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
        case Answer::Kind::Late:
            complain(kProgramName, answer.from.text() + " answered " + what + ' ' +
                                       lateText(answer.roundTrip, options.timeoutMs) +
                                       ", too late to be taken for its answer");
            return kNoReply;
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
    BoardRecord record{
        board.board().text(), options.dutId, std::chrono::system_clock::now(), {}, {}};
    const Station station{options.station, options.operatorName,
                          QSysInfo::machineHostName().toStdString(),
                          std::string(kProgramName) + ' ' + VARDEK_VERSION};
    // Opened before any output is switched: a report that cannot be written stops nothing
    // half-way. Each is written in full beside its place and moved into it at the end, so a
    // run cut short leaves an earlier report as it was.
    std::vector<std::pair<ReportFile, bool>> reports;  // the file, and whether it takes JUnit
    if (!options.junitPath.empty()) {
        reports.emplace_back(ReportFile(options.junitPath, ReportFile::Earlier::Replace), true);
    }
    if (!options.reportDir.empty()) {
        const std::string stem = options.reportDir + '/' + reportStem(record);
        reports.emplace_back(ReportFile(stem + ".json", ReportFile::Earlier::Keep), false);
        reports.emplace_back(ReportFile(stem + ".xml", ReportFile::Earlier::Keep), true);
    }
    for (auto& [report, junit] : reports) {
        if (const std::string problem = report.open(); !problem.empty()) {
            complain(kProgramName, "cannot write " + report.path() + ": " + problem);
            return kBadUsage;
        }
    }
    record.run = runChecks(board, options.check);
    record.end = std::chrono::system_clock::now();
    const CheckRun& run = record.run;
    if (run.end == CheckRun::End::Stopped) {
        complain(kProgramName, std::string("stopped by ") +
                                   (stop.signal() == SIGINT ? "SIGINT" : "SIGTERM") +
                                   (run.restored.empty() ? "" : "; " + run.restored));
        return exitStatus(stop);
    }
    if (run.end == CheckRun::End::NotSent) {
        complain(kProgramName, "cannot send to " + board.board().text() + ": " +
                                   board.notSentReason() +
                                   (run.restored.empty() ? "" : "; " + run.restored));
        return kNotSent;
    }
    std::string text;
    for (const CheckResult& result : run.results) {
        text += (options.json ? jsonLine(result) : humanLine(result)) + '\n';
        for (const Measurement& measurement :
             options.json ? result.measurements : std::vector<Measurement>{}) {
            text += jsonMeasurementLine(record, result, measurement) + '\n';
        }
    }
    text += (options.json ? jsonSummaryLine(record, station)
                          : summaryLine(run, unitLabel(record, station))) +
            '\n';
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
    const std::string junit = junitReport(std::span(&record, 1), station);
    const std::string json = jsonSummaryLine(record, station) + '\n';
    for (auto& [report, isJunit] : reports) {
        if (const std::string problem = report.commit(isJunit ? junit : json); !problem.empty()) {
            complain(kProgramName, "cannot write " + report.path() + ": " + problem);
        }
    }
    if (!run.answered) {
        return kNoReply;
    }
    return boardOutcome(run) == Outcome::Fail ? kCheckFailed : kReplied;
}

int run(const ProbeOptions& given) {
    ProbeOptions options = given;
    if (options.command == Command::Check) {
        if (const std::string problem = resolveLimits(options); !problem.empty()) {
            complain(kProgramName, problem);
            return kBadUsage;
        }
    }
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
