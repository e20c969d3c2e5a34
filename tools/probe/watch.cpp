// `vardek-probe watch`: samples of the board on a fixed schedule, printed as replies or logged
// as readings over time.
#include <cstdio>
#include <string>

#include <unistd.h>

#include "board/sampler.h"
#include "cli/command_line.h"
#include "link/reply_text.h"
#include "readings/log_file.h"
#include "readings/log_format.h"
#include "tools/probe/probe_commands.h"

namespace vardek::probe {

namespace {

using board::SampleSchedule;
using cli::complain;
namespace readings = vardek::readings;

SampleSchedule scheduleOf(const ProbeOptions& options) {
    return SampleSchedule(std::chrono::milliseconds(options.intervalMs), options.count,
                          options.duration);
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
Task<int> watchReplies(BoardExchange& board, const ProbeOptions& options, const StopSignals& stop) {
    SampleSchedule schedule = scheduleOf(options);
    int first = kReplied;
    while (schedule.another()) {
        const bool going = co_await board.idle(schedule.due());
        if (!going) {
            co_return exitStatus(stop);
        }
        const int status = co_await exchange(board, options, link::statusRequest(), stop);
        if (stop.signal() != 0) {
            co_return exitStatus(stop);
        }
        first = first == kReplied ? status : first;
        schedule.taken();
    }
    co_return first;
}

Task<int> watchReadings(BoardExchange& board, const ProbeOptions& options,
                        const StopSignals& stop) {
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
    SampleSchedule schedule = scheduleOf(options);
    int first = kReplied;
    std::uint64_t missed = 0;
    bool sendRefused = false;
    // Each sample's row, as it is complete; false once the log cannot take one.
    const board::SampleTaken write = [&](const readings::Sample& sample) {
        if (sample.result != readings::Result::Ok) {
            ++missed;
            first = first == kReplied ? exitStatusOf(sample.result) : first;
        }
        // Why a send was refused is in no line of the log: it is said once as it begins.
        const bool refused = sample.result == readings::Result::NotSent;
        if (refused && !sendRefused) {
            status.clear();
            complain(kProgramName,
                     "cannot send to " + board.board().text() + ": " + board.notSentReason());
        }
        sendRefused = refused;
        const std::string line = options.json ? readings::jsonLine(sample, pins)
                                 : csv        ? readings::csvRow(sample, pins)
                                              : humanLine(sample, pins);
        status.beforeRow();
        if (const std::string problem = log.append(line); !problem.empty()) {
            status.clear();
            complain(kProgramName, problem);
            return false;
        }
        if (!log.notice().empty()) {
            status.clear();
            complain(kProgramName, log.notice());
        }
        status.draw(schedule, missed, sample, pins);
        return true;
    };
    const board::SamplingEnd end = co_await board::sampleOnSchedule(board, schedule, pins, write);
    switch (end) {
        case board::SamplingEnd::Stopped:
            co_return exitStatus(stop);
        case board::SamplingEnd::Refused:
            co_return kNotWritten;
        case board::SamplingEnd::Done:
            break;
    }
    co_return first;
}

}  // namespace

Task<int> watch(BoardExchange& board, const ProbeOptions& options, const StopSignals& stop) {
    const bool logsReadings = options.readPins || options.csv || !options.outputPath.empty();
    if (logsReadings) {
        co_return co_await watchReadings(board, options, stop);
    }
    co_return co_await watchReplies(board, options, stop);
}

}  // namespace vardek::probe
