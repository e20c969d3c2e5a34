// vardek-probe: checks a VARDEK board from a terminal or a script, one request at a time.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

#include "board_protocol.h"
#include "command_line.h"
#include "probe_options.h"
#include "reply_text.h"
#include "report.h"
#include "udp_socket.h"

namespace {

using namespace vardek::probe;
using vardek::cli::complain;
namespace link = vardek::link;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

enum ExitStatus {
    kReplied = 0,
    kNoReply = 1,
    kBadUsage = 2,
    kWrongSize = 3,
    kNotSent = 4,
    kInterrupted = 130,
};

// Bytes of a wrong-sized answer shown in the message.
constexpr std::size_t kShownBytes = 16;

volatile std::sig_atomic_t interrupted = 0;

extern "C" void onInterrupt(int) { interrupted = 1; }

// Without SA_RESTART, so a wait on the socket returns as soon as Ctrl-C arrives.
void watchForInterrupt() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

class Probe {
  public:
    explicit Probe(const ProbeOptions& options)
        : options_(options),
          board_{*link::parseIpv4(options.board), options.port},
          buffer_(link::kReceiveCapacity) {}

    // One request, tried until a reply comes or the tries run out.
    int exchange(const link::Request& request) {
        discardWaiting();
        Exchange exchange;
        exchange.board = board_.text();
        exchange.request = request;
        const std::string what =
            link::describeRequest(request.bytes()) + " (" + link::hexText(request.bytes(), 2) + ")";
        ignored_ = 0;
        int status = kNoReply;
        for (std::uint32_t attempt = 0; attempt <= options_.retries && status == kNoReply;
             ++attempt) {
            status = tryOnce(request, exchange, what);
        }
        if (ignored_ > 0) {
            complain(kProgramName, "ignored " + std::to_string(ignored_) +
                                       " datagram(s) from addresses other " + "than " +
                                       board_.addressText() + " (--any-sender takes them)");
        }
        if (status == kNoReply) {
            complain(kProgramName, "no reply from " + board_.text() + " to " + what + " after " +
                                       std::to_string(options_.retries + 1) + " tries of " +
                                       std::to_string(options_.timeoutMs) + " ms");
        }
        return status;
    }

    // Waits out `until`, discarding whatever arrives meanwhile; false after Ctrl-C.
    bool idle(Clock::time_point until) {
        while (!interrupted && Clock::now() < until) {
            if (socket_.waitReadable(remaining(until))) {
                discardWaiting();
            }
        }
        return !interrupted;
    }

  private:
    static milliseconds remaining(Clock::time_point until) {
        return std::chrono::ceil<milliseconds>(until - Clock::now());
    }

    int tryOnce(const link::Request& request, Exchange& exchange, const std::string& what) {
        const auto sent = Clock::now();
        if (const std::error_code error = socket_.sendTo(request.bytes(), board_)) {
            complain(kProgramName,
                     "cannot send " + what + " to " + board_.text() + ": " + error.message());
            return kNotSent;
        }
        const auto deadline = sent + milliseconds(options_.timeoutMs);
        while (Clock::now() < deadline) {
            if (interrupted) {
                return kInterrupted;
            }
            if (!socket_.waitReadable(remaining(deadline))) {
                continue;
            }
            const auto received = take();
            if (!received) {
                continue;
            }
            if (!options_.anySender && received->from.address != board_.address) {
                ++ignored_;
                continue;
            }
            const auto bytes = std::span(buffer_).first(std::min(received->size, buffer_.size()));
            const auto reply = link::decodeReply(bytes);
            if (!reply) {
                const std::string shown = link::hexText(bytes, 3, kShownBytes);
                complain(kProgramName, received->from.text() + " answered " + what + " with " +
                                           std::to_string(received->size) + " bytes instead of 8" +
                                           (shown.empty() ? "" : ": " + shown));
                return kWrongSize;
            }
            exchange.reply = *reply;
            exchange.roundTrip = Clock::now() - sent;
            print(exchange);
            return kReplied;
        }
        return interrupted ? kInterrupted : kNoReply;
    }

    std::optional<link::UdpSocket::Received> take() {
        try {
            return socket_.receive(buffer_);
        } catch (const std::system_error& error) {
            complain(kProgramName, error.what());
            return std::nullopt;
        }
    }

    // A reply that comes after its request gave up would be taken for the next one's answer.
    void discardWaiting() {
        while (take()) {
        }
    }

    void print(const Exchange& exchange) {
        const std::string line = (options_.json ? jsonLine(exchange) : humanLine(exchange)) + '\n';
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
    }

    const ProbeOptions& options_;
    link::SocketAddress board_;
    link::UdpSocket socket_;
    std::vector<std::uint8_t> buffer_;
    int ignored_ = 0;
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
            break;
    }
    return link::statusRequest();
}

int watch(Probe& probe, const ProbeOptions& options) {
    int first = kReplied;
    for (std::uint32_t done = 0; !options.count || done < *options.count; ++done) {
        const auto started = Clock::now();
        const int status = probe.exchange(link::statusRequest());
        if (status == kInterrupted) {
            return kInterrupted;
        }
        if (first == kReplied) {
            first = status;
        }
        const bool last = options.count && done + 1 == *options.count;
        if (!last && !probe.idle(started + milliseconds(options.intervalMs))) {
            return kInterrupted;
        }
    }
    return first;
}

int run(const ProbeOptions& options) {
    watchForInterrupt();
    Probe probe(options);
    if (options.command == Command::Watch) {
        return watch(probe, options);
    }
    return probe.exchange(requestFor(options));
}

}  // namespace

int main(int argc, char** argv) {
    const link::DefaultBoard defaultBoard = link::defaultBoard(VARDEK_BOARD_ADDRESS);
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
