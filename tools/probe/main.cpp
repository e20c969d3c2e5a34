// vardek-probe: checks a VARDEK board from a terminal or a script, one request at a time.
#include <QString>
#include <QSysInfo>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include <poll.h>

#include "board_check.h"
#include "board_protocol.h"
#include "check_report.h"
#include "command_line.h"
#include "probe_options.h"
#include "reply_text.h"
#include "report.h"
#include "signal_descriptor.h"
#include "udp_socket.h"

namespace {

using namespace vardek::probe;
using vardek::cli::complain;
namespace link = vardek::link;
namespace host = vardek::host;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

enum ExitStatus {
    kReplied = 0,
    kNoReply = 1,
    kBadUsage = 2,
    kWrongSize = 3,
    kNotSent = 4,
    kCheckFailed = 5,
};

// Bytes of a wrong-sized answer shown in the message.
constexpr std::size_t kShownBytes = 16;

// The probe's waits watch the signals beside the socket: a signal only ever ends a wait, and the
// outputs can be put back after it.
using StopSignals = host::SignalDescriptor;

// The shell's convention: 130 after SIGINT (Ctrl-C), 143 after SIGTERM.
int exitStatus(const StopSignals& stop) { return 128 + stop.signal(); }

class Probe : public CheckedBoard {
  public:
    Probe(const ProbeOptions& options, StopSignals& stop)
        : options_(options),
          stop_(stop),
          board_{*link::parseIpv4(options.board), options.port},
          buffer_(link::kReceiveCapacity) {}

    const link::SocketAddress& board() const { return board_; }
    // Why the last send was refused.
    std::string notSentReason() const { return notSent_.message(); }

    // One request, tried until a reply comes or the tries run out, its reply printed.
    int exchange(const link::Request& request) {
        Exchange exchange;
        exchange.board = board_.text();
        exchange.request = request;
        const std::string what =
            link::describeRequest(request.bytes()) + " (" + link::hexText(request.bytes(), 2) + ")";
        const Answer answer = ask(request);
        switch (answer.kind) {
            case Answer::Kind::Reply:
                exchange.reply = answer.reply;
                exchange.roundTrip = answer.roundTrip;
                print(exchange);
                return kReplied;
            case Answer::Kind::WrongSize: {
                const auto bytes = std::span(buffer_).first(std::min(answer.size, buffer_.size()));
                const std::string shown = link::hexText(bytes, 3, kShownBytes);
                complain(kProgramName, answerFrom_.text() + " answered " + what + " with " +
                                           std::to_string(answer.size) + " bytes instead of 8" +
                                           (shown.empty() ? "" : ": " + shown));
                return kWrongSize;
            }
            case Answer::Kind::NoReply:
                complain(kProgramName, "no reply from " + board_.text() + " to " + what +
                                           " after " + std::to_string(options_.retries + 1) +
                                           " tries of " + std::to_string(options_.timeoutMs) +
                                           " ms");
                return kNoReply;
            case Answer::Kind::NotSent:
                complain(kProgramName, "cannot send " + what + " to " + board_.text() + ": " +
                                           notSent_.message());
                return kNotSent;
            case Answer::Kind::Stopped:
                break;
        }
        return exitStatus(stop_);
    }

    Answer ask(const link::Request& request, bool evenIfStopped = false) override {
        if (unanswered_) {
            awaitLateReply(*unanswered_);
            unanswered_.reset();
        }
        discardWaiting();
        ignored_ = 0;
        Answer answer;
        for (std::uint32_t attempt = 0;
             attempt <= options_.retries && answer.kind == Answer::Kind::NoReply; ++attempt) {
            answer = tryOnce(request, evenIfStopped);
        }
        if (ignored_ > 0) {
            complain(kProgramName, "ignored " + std::to_string(ignored_) +
                                       " datagram(s) from addresses other " + "than " +
                                       board_.addressText() + " (--any-sender takes them)");
        }
        return answer;
    }

    const std::map<std::size_t, unsigned>& datagramSizes() const override { return sizes_; }

    // Waits out `until`, discarding whatever arrives meanwhile; false after a signal.
    bool idle(Clock::time_point until) {
        while (!stop_.signal() && Clock::now() < until) {
            if (waitReadable(until)) {
                discardWaiting();
            }
        }
        return !stop_.signal();
    }

  private:
    // An answer that carries no datagram.
    static Answer outcome(Answer::Kind kind) {
        Answer answer;
        answer.kind = kind;
        return answer;
    }

    static milliseconds remaining(Clock::time_point until) {
        return std::chrono::ceil<milliseconds>(until - Clock::now());
    }

    // Waits until a datagram is waiting, `until` passes or a signal comes.
    bool waitReadable(Clock::time_point until) {
        std::array<pollfd, 2> fds{
            {{socket_.descriptor(), POLLIN, 0}, {stop_.descriptor(), POLLIN, 0}}};
        const auto timeout = std::max<milliseconds::rep>(remaining(until).count(), 0);
        if (::poll(fds.data(), fds.size(), static_cast<int>(timeout)) <= 0) {
            return false;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            stop_.take();
        }
        return (fds[0].revents & POLLIN) != 0;
    }

    Answer tryOnce(const link::Request& request, bool evenIfStopped) {
        const auto stopped = [&] { return stop_.signal() != 0 && !evenIfStopped; };
        if (stopped()) {
            return outcome(Answer::Kind::Stopped);
        }
        const auto sent = Clock::now();
        if (const std::error_code error = socket_.sendTo(request.bytes(), board_)) {
            notSent_ = error;
            return outcome(Answer::Kind::NotSent);
        }
        const auto deadline = sent + milliseconds(options_.timeoutMs);
        while (Clock::now() < deadline) {
            const bool readable = waitReadable(deadline);
            if (stopped()) {
                unanswered_ = deadline;
                return outcome(Answer::Kind::Stopped);
            }
            if (!readable) {
                continue;
            }
            const auto received = takeFromBoard();
            if (!received) {
                continue;
            }
            answerFrom_ = received->from;
            const auto bytes = std::span(buffer_).first(std::min(received->size, buffer_.size()));
            const auto reply = link::decodeReply(bytes);
            return {reply ? Answer::Kind::Reply : Answer::Kind::WrongSize,
                    reply.value_or(link::Reply{}), received->size, Clock::now() - sent};
        }
        return outcome(stopped() ? Answer::Kind::Stopped : Answer::Kind::NoReply);
    }

    std::optional<link::UdpSocket::Received> take() {
        try {
            return socket_.receive(buffer_);
        } catch (const std::system_error& error) {
            complain(kProgramName, error.what());
            return std::nullopt;
        }
    }

    // The next datagram from the board, counted by size; those from other addresses are
    // counted as ignored and dropped.
    std::optional<link::UdpSocket::Received> takeFromBoard() {
        while (const auto received = take()) {
            if (options_.anySender || received->from.address == board_.address) {
                ++sizes_[received->size];
                return received;
            }
            ++ignored_;
        }
        return std::nullopt;
    }

    // A request cut short by a signal may still be answered: that reply, taken for the answer
    // to the next request, would put a wrong port B in its place. Its time runs out first.
    void awaitLateReply(Clock::time_point deadline) {
        while (Clock::now() < deadline) {
            if (waitReadable(deadline) && takeFromBoard()) {
                return;
            }
        }
    }

    // A reply that comes after its request gave up would be taken for the next one's answer.
    void discardWaiting() {
        while (takeFromBoard()) {
        }
    }

    void print(const Exchange& exchange) {
        const std::string line = (options_.json ? jsonLine(exchange) : humanLine(exchange)) + '\n';
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
    }

    const ProbeOptions& options_;
    StopSignals& stop_;
    link::SocketAddress board_;
    link::UdpSocket socket_;
    std::vector<std::uint8_t> buffer_;
    int ignored_ = 0;
    link::SocketAddress answerFrom_;
    std::error_code notSent_;
    std::map<std::size_t, unsigned> sizes_;
    std::optional<Clock::time_point> unanswered_;  // until when a cut-short request may be answered
};

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

int watch(Probe& probe, const ProbeOptions& options, const StopSignals& stop) {
    int first = kReplied;
    for (std::uint32_t done = 0; !options.count || done < *options.count; ++done) {
        const auto started = Clock::now();
        const int status = probe.exchange(link::statusRequest());
        if (stop.signal() != 0) {
            return exitStatus(stop);
        }
        if (first == kReplied) {
            first = status;
        }
        const bool last = options.count && done + 1 == *options.count;
        if (!last && !probe.idle(started + milliseconds(options.intervalMs))) {
            return exitStatus(stop);
        }
    }
    return first;
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

int check(Probe& probe, const ProbeOptions& options, const StopSignals& stop) {
    BoardRecord record{
        probe.board().text(), options.dutId, std::chrono::system_clock::now(), {}, {}};
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
    record.run = runChecks(probe, options.check);
    record.end = std::chrono::system_clock::now();
    const CheckRun& run = record.run;
    if (run.end == CheckRun::End::Stopped) {
        complain(kProgramName, std::string("stopped by ") +
                                   (stop.signal() == SIGINT ? "SIGINT" : "SIGTERM") +
                                   (run.restored.empty() ? "" : "; " + run.restored));
        return exitStatus(stop);
    }
    if (run.end == CheckRun::End::NotSent) {
        complain(kProgramName, "cannot send to " + probe.board().text() + ": " +
                                   probe.notSentReason() +
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

int run(ProbeOptions options) {
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
    Probe probe(options, stop);
    switch (options.command) {
        case Command::Watch:
            return watch(probe, options, stop);
        case Command::Check:
            return check(probe, options, stop);
        default:
            break;
    }
    return probe.exchange(requestFor(options));
}

}  // namespace

int main(int argc, char** argv) {
    const host::DefaultBoard defaultBoard = host::defaultBoard(VARDEK_BOARD_ADDRESS);
    const ParsedCommandLine parsed =
        parseCommandLine(vardek::cli::arguments(argc, argv), defaultBoard);
    switch (parsed.action) {
        case ParsedCommandLine::Action::Help:
            std::fputs(helpText(defaultBoard).c_str(), stdout);
            return 0;
        case ParsedCommandLine::Action::Version:
            std::printf("%s %s\n", kProgramName.data(), VARDEK_VERSION);
            return 0;
        case ParsedCommandLine::Action::Refuse:
            complain(kProgramName, parsed.error);
            std::fputs(usageText().c_str(), stderr);
            return kBadUsage;
        case ParsedCommandLine::Action::Run:
            break;
    }
    try {
        return run(parsed.options);
    } catch (const std::system_error& error) {
        complain(kProgramName, error.what());
        return kNotSent;
    }
}
