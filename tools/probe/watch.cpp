#include "tools/probe/watch.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include <unistd.h>

#include "cli/command_line.h"
#include "link/reply_text.h"
#include "readings/log_file.h"
#include "readings/log_format.h"
#include "tools/probe/probe_commands.h"

namespace vardek::probe {

namespace {

using cli::complain;
using Clock = SampleSchedule::Clock;
namespace readings = vardek::readings;

readings::Result resultOf(Answer::Kind kind) {
    switch (kind) {
        case Answer::Kind::WrongSize:
            return readings::Result::WrongSize;
        // Its bytes answer a request given up on: logged apart from none at all, as a board
        // that is slow is another fault than one that is silent.
        case Answer::Kind::Late:
            return readings::Result::Late;
        case Answer::Kind::NoReply:
            return readings::Result::NoReply;
        case Answer::Kind::NotSent:
            return readings::Result::NotSent;
        case Answer::Kind::Reply:
        case Answer::Kind::Stopped:
            break;
    }
    return readings::Result::Ok;
}

int exitStatusOf(readings::Result result) {
    switch (result) {
        case readings::Result::Ok:
            break;
        case readings::Result::NoReply:
        case readings::Result::Late:
            return kNoReply;
        case readings::Result::WrongSize:
            return kWrongSize;
        case readings::Result::NotSent:
            return kNotSent;
        case readings::Result::NotWritten:
            return kNotWritten;
    }
    return kReplied;
}

// A sample for a person: "2026-12-09T13:20:05.123Z ok RB7..RB0=10000001 RA5=21.5 ℃
// (0.412 ms)", with "-" for what did not come.
std::string humanLine(const readings::Sample& sample, const readings::Pins& pins) {
    std::string line =
        readings::utcText(sample.time) + ' ' + readings::resultText(sample) + " RB7..RB0=";
    for (int bit = 7; bit >= 0 && sample.portB; --bit) {
        line += (*sample.portB >> bit & 1) != 0 ? '1' : '0';
    }
    line += sample.portB ? "" : "-";
    for (std::size_t i = 0; i < link::kChannels.size(); ++i) {
        if (!pins.test(i)) {
            continue;
        }
        const link::Channel& channel = link::kChannels[i];
        line += ' ' + std::string(channel.pin) + '=';
        const auto& value = sample.values[i];
        if (!value) {
            line += '-';
        } else if (channel.reading == link::Reading::Temperature) {
            char text[32];
            std::snprintf(text, sizeof text, "%.1f \u2103", *value);
            line += text;
        } else {
            line += link::rawText(static_cast<std::uint16_t>(*value));
        }
    }
    if (sample.rttMs) {
        char text[32];
        std::snprintf(text, sizeof text, " (%.3f ms)", *sample.rttMs);
        line += text;
    }
    return line + '\n';
}

// The line on standard error that a person at a terminal watches: samples, missed, late,
// elapsed and the latest RA5, redrawn in place after each sample. Nothing of it goes to a file
// or a pipe.
class StatusLine {
  public:
    // `rowsToStandardOutput`: the log's lines go to standard output, maybe the same terminal.
    explicit StatusLine(bool rowsToStandardOutput)
        : shown_(::isatty(STDERR_FILENO) == 1),
          sharesTerminal_(rowsToStandardOutput && ::isatty(STDOUT_FILENO) == 1) {}

    // Before a message on standard error.
    void clear() {
        if (drawn_) {
            std::fputs("\r\033[K", stderr);
            drawn_ = false;
        }
    }
    // Before a line of the log, which must not run into the status line.
    void beforeRow() {
        if (sharesTerminal_) {
            clear();
        }
    }

    void draw(const SampleSchedule& schedule, std::uint64_t missed, const readings::Sample& latest,
              const readings::Pins& pins) {
        if (!shown_) {
            return;
        }
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(latest.elapsed);
        char text[160];
        std::snprintf(text, sizeof text,
                      "\r\033[Ksamples %llu  missed %llu  late %llu  elapsed %lld:%02lld:%02lld",
                      static_cast<unsigned long long>(schedule.count()),
                      static_cast<unsigned long long>(missed),
                      static_cast<unsigned long long>(schedule.late()),
                      static_cast<long long>(seconds.count() / 3600),
                      static_cast<long long>(seconds.count() / 60 % 60),
                      static_cast<long long>(seconds.count() % 60));
        std::string line = text;
        const std::size_t ra5 = link::kChannels.size() - 1;
        if (pins.test(ra5)) {
            const auto& value = latest.values[ra5];
            std::snprintf(text, sizeof text, "  RA5 %.1f \u2103", value.value_or(0));
            line += value ? text : "  RA5 -";
        }
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
        drawn_ = true;
    }

    // The last state stays on screen; what follows starts on a line of its own.
    ~StatusLine() {
        if (drawn_) {
            std::fputs("\n", stderr);
        }
    }

  private:
    bool shown_;
    bool sharesTerminal_;
    bool drawn_ = false;
};

// Each sample's status reply, as `status` prints it.
Task<int> watchReplies(BoardExchange& board, const StopSignals& stop) {
    SampleSchedule schedule(board.options());
    int first = kReplied;
    while (schedule.another()) {
        const bool going = co_await board.idle(schedule.due());
        if (!going) {
            co_return exitStatus(stop);
        }
        const int status = co_await exchange(board, link::statusRequest(), stop);
        if (stop.signal() != 0) {
            co_return exitStatus(stop);
        }
        first = first == kReplied ? status : first;
        schedule.taken();
    }
    co_return first;
}

Task<int> watchReadings(BoardExchange& board, const StopSignals& stop) {
    const ProbeOptions& options = board.options();
    const readings::Pins pins = options.readPins.value_or(readings::Pins());
    const bool csv = !options.json && (options.csv || !options.outputPath.empty());
    const std::string header = csv ? readings::csvHeader(pins) : std::string();
    readings::LogFile log;
    const std::string opened =
        options.outputPath.empty()
            ? log.openStandardOutput(header)
            : log.open(options.outputPath, header,
                       options.json ? readings::kJsonLineStart : std::string_view());
    if (!opened.empty()) {
        complain(kProgramName, opened);
        co_return kNotWritten;
    }
    StatusLine status(options.outputPath.empty());
    SampleSchedule schedule(options);
    // Each row is stamped with its slot: the start's time on the system clock and the slot's
    // offset on the monotonic one, so that rows stand an interval apart whatever came late.
    const auto wallStart = std::chrono::floor<std::chrono::milliseconds>(
        std::chrono::system_clock::now() - (Clock::now() - schedule.start()));
    // A sample may take its slot, or one timeout where that is longer; then the next is due. A
    // request still unanswered then ends the sample as missed, and its answer is waited out
    // before the row goes out, so that the row can say whether the board was silent or late.
    const auto allowed = std::max<Clock::duration>(std::chrono::milliseconds(options.intervalMs),
                                                   std::chrono::milliseconds(options.timeoutMs));
    int first = kReplied;
    std::uint64_t missed = 0;
    bool sendRefused = false;
    readings::Sample previous;
    while (schedule.another()) {
        const bool going = co_await board.idle(schedule.due());
        if (!going) {
            co_return exitStatus(stop);
        }
        const auto slot = schedule.due() - schedule.start();
        board.setDeadline(schedule.due() + allowed);
        auto sample = co_await takeSample(
            board, pins, wallStart + std::chrono::floor<std::chrono::milliseconds>(slot),
            std::chrono::floor<std::chrono::milliseconds>(slot));
        board.setDeadline(std::nullopt);
        if (!sample) {
            co_return exitStatus(stop);
        }
        if (co_await board.awaitCutShort()) {
            sample->sample.lateReplies += 1;
            if (sample->cutShortFirst) {
                sample->sample.result = readings::Result::Late;
            }
        }
        if (stop.signal() != 0) {
            co_return exitStatus(stop);
        }
        if (sample->heldUp) {
            // Its slot passed while the board still held up the one before: missed for the
            // same reason, or as late where that one was answered in the end.
            const bool slow = previous.result == readings::Result::Ok;
            sample->sample.result = slow ? readings::Result::Late : previous.result;
            sample->sample.replySize = slow ? 0 : previous.replySize;
        }
        previous = sample->sample;
        schedule.taken();
        if (sample->sample.result != readings::Result::Ok) {
            ++missed;
            first = first == kReplied ? exitStatusOf(sample->sample.result) : first;
        }
        // Why a send was refused is in no line of the log: it is said once as it begins.
        const bool refused = sample->sample.result == readings::Result::NotSent;
        if (refused && !sendRefused) {
            status.clear();
            complain(kProgramName,
                     "cannot send to " + board.board().text() + ": " + board.notSentReason());
        }
        sendRefused = refused;
        const std::string line = options.json ? readings::jsonLine(sample->sample, pins)
                                 : csv        ? readings::csvRow(sample->sample, pins)
                                              : humanLine(sample->sample, pins);
        status.beforeRow();
        if (const std::string problem = log.append(line); !problem.empty()) {
            status.clear();
            complain(kProgramName, problem);
            co_return kNotWritten;
        }
        if (!log.notice().empty()) {
            status.clear();
            complain(kProgramName, log.notice());
        }
        status.draw(schedule, missed, sample->sample, pins);
    }
    co_return first;
}

}  // namespace

SampleSchedule::SampleSchedule(const ProbeOptions& options)
    : start_(Clock::now()),
      interval_(options.intervalMs),
      count_(options.count),
      duration_(options.duration) {}

bool SampleSchedule::another() const {
    if (count_ && taken_ >= *count_) {
        return false;
    }
    return !duration_ || (taken_ * interval_ < *duration_ && Clock::now() - start_ < *duration_);
}

void SampleSchedule::taken() {
    ++taken_;
    if (Clock::now() > due()) {
        ++late_;
    }
}

Task<std::optional<TakenSample>> takeSample(CheckedBoard& board, readings::Pins pins,
                                            readings::UtcTime time,
                                            std::chrono::milliseconds elapsed) {
    TakenSample taken;
    readings::Sample& sample = taken.sample;
    sample.time = time;
    sample.elapsed = elapsed;
    taken.heldUp = true;
    bool failedYet = false;
    // Every answer counts its tries; the first that went wrong gives the sample its result.
    const auto answered = [&](const Answer& answer) {
        sample.retries += answer.tries > 1 ? answer.tries - 1 : 0;
        sample.lateReplies += answer.lateReplies;
        const bool heldUp = answer.kind == Answer::Kind::NoReply && answer.tries == 0;
        taken.heldUp = taken.heldUp && heldUp;
        if (answer.kind != Answer::Kind::Reply && !failedYet) {
            failedYet = true;
            sample.result = resultOf(answer.kind);
            sample.replySize = answer.size;
            taken.cutShortFirst = answer.kind == Answer::Kind::NoReply && answer.tries > 0;
        } else if (answer.tries > 0) {
            // A later request went out, so the first that went wrong was not cut short.
            taken.cutShortFirst = false;
        }
    };
    const Answer status = co_await board.ask(link::statusRequest());
    if (status.kind == Answer::Kind::Stopped) {
        co_return std::nullopt;
    }
    answered(status);
    if (status.kind == Answer::Kind::Reply) {
        sample.rttMs = status.roundTrip.count();
        sample.portB = status.reply.portB();
    }
    for (std::size_t i = 0; i < link::kChannels.size(); ++i) {
        if (!pins.test(i)) {
            continue;
        }
        const link::Channel& channel = link::kChannels[i];
        const Answer read = co_await board.ask(link::readChannelRequest(channel.selector));
        if (read.kind == Answer::Kind::Stopped) {
            co_return std::nullopt;
        }
        answered(read);
        if (read.kind == Answer::Kind::Reply) {
            sample.values[i] = readings::channelValue(channel, read.reply.conversion());
        }
    }
    co_return taken;
}

Task<int> watch(BoardExchange& board, const StopSignals& stop) {
    const ProbeOptions& options = board.options();
    const bool logsReadings = options.readPins || options.csv || !options.outputPath.empty();
    if (logsReadings) {
        co_return co_await watchReadings(board, stop);
    }
    co_return co_await watchReplies(board, stop);
}

}  // namespace vardek::probe
