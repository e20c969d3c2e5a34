// vardek-board-sim: a stand-in for the VARDEK board on one UDP socket, with a traffic log.
#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <variant>
#include <vector>

#include <poll.h>

#include "cli/command_line.h"
#include "cli/exit_status.h"
#include "host/signal_descriptor.h"
#include "link/reply_text.h"
#include "link/udp_socket.h"
#include "tools/board-sim/board_model.h"
#include "tools/board-sim/capture_reader.h"
#include "tools/board-sim/control.h"
#include "tools/board-sim/control_socket.h"
#include "tools/board-sim/options.h"
#include "tools/board-sim/pcap_writer.h"
#include "tools/board-sim/replay.h"
#include "tools/board-sim/reply_queue.h"
#include "tools/board-sim/traffic_log.h"

namespace {

using namespace vardek::sim;
using vardek::cli::complain;
using vardek::cli::kBadUsage;
using vardek::cli::kFailed;
using vardek::cli::kSucceeded;
using vardek::link::SocketAddress;
using vardek::link::UdpSocket;

// Datagrams read per turn of the loop, so a flood still lets signals and due replies through.
constexpr int kDatagramsPerTurn = 64;

// One line per event, flushed at once: a person watches the log and scripts grep it.
void log(const std::string& line) {
    const std::string text = timestamp(std::chrono::system_clock::now()) + ' ' + line + '\n';
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

class Simulator {
  public:
    Simulator(const Options& options, UdpSocket& socket, PcapWriter& capture,
              ControlSocket& control, std::optional<Replay> replay, std::uint32_t seed)
        : model_(boardConfig(options, seed)),
          replay_(std::move(replay)),
          timing_(options.replayTiming),
          faults_{.board = model_.faults(), .delay = Millis(options.delayMs)},
          limits_{.largeReplies = isLoopback(options.bindAddress),
                  .replaying = replay_.has_value()},
          socket_(socket),
          local_(socket.localAddress()),
          capture_(capture),
          control_(control),
          start_(Clock::now()),
          buffer_(vardek::link::kReceiveCapacity) {}

    // Runs until a stop signal arrives on `signals`; false if the loop itself failed.
    bool run(vardek::host::SignalDescriptor& signals) {
        std::vector<pollfd> fds;
        while (true) {
            fds = {{socket_.descriptor(), POLLIN, 0}, {signals.descriptor(), POLLIN, 0}};
            if (control_.isOpen()) {
                control_.watch(fds);
            }
            if (::poll(fds.data(), fds.size(), pollTimeout()) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                complain(kProgramName, std::string("poll failed: ") + std::strerror(errno));
                return false;
            }
            if (fds[1].revents & POLLIN) {
                signals.take();
                std::string line = "stopped by " + std::string(signals.signalName());
                if (!pending_.empty()) {
                    line += ", delayed replies not sent: " + std::to_string(pending_.size());
                }
                log(line);
                return true;
            }
            checkSilence();
            if (control_.isOpen()) {
                control_.serve(
                    fds, 2, [this](std::string_view line) { return command(line); },
                    [](const std::string& notice) { log(notice); });
            }
            if (fds[0].revents & POLLIN) {
                receive();
            }
            sendDue();
        }
    }

    // The faults in force, as the log names them.
    std::vector<std::string> faultTexts() const {
        return vardek::sim::faultTexts(faults_, sinceStart(Clock::now()));
    }

  private:
    Millis sinceStart(Clock::time_point time) const {
        return std::chrono::duration_cast<Millis>(time - start_);
    }

    // Until the next reply is due or a timed silence ends, whichever comes first.
    int pollTimeout() const {
        std::optional<Clock::time_point> wake;
        if (!pending_.empty()) {
            wake = pending_.front().due;
        }
        if (faults_.silent && faults_.silentUntil) {
            const Clock::time_point end = start_ + *faults_.silentUntil;
            wake = wake ? std::min(*wake, end) : end;
        }
        if (!wake) {
            return -1;
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*wake - Clock::now());
        return static_cast<int>(std::max<std::chrono::milliseconds::rep>(wait.count(), 0));
    }

    // Logged when it happens, so that whoever waits on the log sees the silence end.
    void checkSilence() {
        if (silenceAt(faults_, sinceStart(Clock::now())) == Silence::Ended) {
            log("control silence over, answering again");
        }
    }

    std::string command(std::string_view line) {
        const ControlAnswer answer =
            runControlLine(line, faults_, sinceStart(Clock::now()), limits_);
        if (answer.changed) {
            model_.setFaults(faults_.board);
        }
        log("control " + printable(line) + " | " + answer.text);
        return answer.text;
    }

    void receive() {
        for (int i = 0; i < kDatagramsPerTurn; ++i) {
            std::optional<UdpSocket::Received> received;
            try {
                received = socket_.receive(buffer_);
            } catch (const std::system_error& error) {
                complain(kProgramName, error.what());
            }
            if (!received) {
                return;
            }
            const std::size_t size = std::min(received->size, buffer_.size());
            handle(std::span(buffer_).first(size), received->from);
        }
    }

    void handle(std::span<const std::uint8_t> datagram, const SocketAddress& peer) {
        const auto arrival = Clock::now();
        capture(peer, local_, datagram);
        std::string line = "in  " + peer.text() + ' ' + datagramText(datagram) + " | ";
        const std::string request = vardek::link::describeRequest(datagram);
        // A silent board is as one cut off the network: the request never reaches it.
        if (silenceAt(faults_, sinceStart(arrival)) == Silence::On) {
            log(line + request + ", silent, not answered");
            return;
        }
        if (replay_) {
            replayed(datagram, peer, arrival, line + request);
            return;
        }
        Outcome outcome = model_.handle(datagram, sinceStart(arrival));
        switch (outcome.disposition) {
            case Disposition::Malformed:
                log(line + "malformed, not answered");
                return;
            case Disposition::Dropped:
                log(line + request + ", reply dropped");
                return;
            case Disposition::Answered:
                break;
        }
        answer(line + request, peer, arrival, std::move(outcome.reply), faults_.delay);
    }

    void replayed(std::span<const std::uint8_t> datagram, const SocketAddress& peer,
                  Clock::time_point arrival, const std::string& line) {
        ReplayAnswer replies = replay_->answer(datagram);
        if (replies.ranOut) {
            log("replay: " + *replies.ranOut);
        }
        if (!replies.known) {
            log(line + ", not in the capture, not answered");
            return;
        }
        const std::string which = replies.occurrence == 0
                                      ? line + ", replies ran out"
                                      : line + ", captured " + std::to_string(replies.occurrence) +
                                            " of " + std::to_string(replies.occurrences);
        if (replies.replies.empty()) {
            log(which + ", not answered");
            return;
        }
        for (std::size_t i = 0; i < replies.replies.size(); ++i) {
            ReplayedReply& reply = replies.replies[i];
            const Millis after = timing_ ? std::chrono::ceil<Millis>(reply.after) : Millis::zero();
            // The first is logged with its request; the board's further replies to it as they
            // go out.
            answer(i == 0 ? which : std::string(), peer, arrival, std::move(reply.bytes),
                   after + faults_.delay);
        }
    }

    // Sends `reply` after `wait`, or queues it; `line`, unless empty, says what it answers.
    void answer(const std::string& line, const SocketAddress& peer, Clock::time_point arrival,
                Bytes reply, Millis wait) {
        if (wait == Millis::zero() && pending_.empty()) {
            if (!line.empty()) {
                log(line);
            }
            send({arrival, peer, std::move(reply)});
            return;
        }
        // A reply never overtakes one before it, also when the delay was shortened meanwhile:
        // the board answers in order.
        const Clock::time_point due =
            std::max(arrival + wait, pending_.empty() ? arrival : pending_.back().due);
        const std::size_t replySize = reply.size();
        if (!pending_.push({due, peer, std::move(reply)})) {
            log((line.empty() ? "another reply" : line) + ", reply dropped: delay queue full (" +
                std::to_string(pending_.size()) + " replies, " + std::to_string(pending_.bytes()) +
                " bytes waiting, this one " + std::to_string(replySize) + ")");
            return;
        }
        if (!line.empty()) {
            const auto inMs = std::chrono::ceil<Millis>(due - arrival);
            log(line + ", reply in " + std::to_string(inMs.count()) + " ms");
        }
    }

    void sendDue() {
        const auto now = Clock::now();
        while (!pending_.empty() && pending_.front().due <= now) {
            send(pending_.front());
            pending_.pop();
        }
    }

    void send(const PendingReply& reply) {
        const std::string line = "out " + reply.peer.text() + ' ' + datagramText(reply.bytes);
        if (const std::error_code error = socket_.sendTo(reply.bytes, reply.peer)) {
            log(line + " | not sent: " + error.message());
            return;
        }
        // Captured before the log line, so whoever sees the line finds the datagram in the file.
        capture(local_, reply.peer, reply.bytes);
        log(line);
    }

    // A capture that cannot be written any more ends; the simulator goes on without it.
    void capture(const SocketAddress& from, const SocketAddress& to,
                 std::span<const std::uint8_t> datagram) {
        if (!capture_.isOpen()) {
            return;
        }
        if (const std::string error = capture_.write(from, to, datagram); !error.empty()) {
            complain(kProgramName, error + "; capture stopped");
        }
    }

    BoardModel model_;
    std::optional<Replay> replay_;  // in place of the model when set
    bool timing_;
    RunningFaults faults_;
    ControlLimits limits_;
    UdpSocket& socket_;
    SocketAddress local_;
    PcapWriter& capture_;
    ControlSocket& control_;
    Clock::time_point start_;
    Bytes buffer_;
    ReplyQueue pending_;
};

// The socket bound as the options ask, or nothing after saying why not.
std::optional<UdpSocket> openSocket(const Options& options) {
    try {
        UdpSocket socket;
        socket.bind({*vardek::link::parseIpv4(options.bindAddress), options.port});
        return socket;
    } catch (const std::system_error& error) {
        complain(kProgramName, error.what());
        return std::nullopt;
    }
}

// The capture of --replay as a board to play, or why it cannot be one.
std::variant<Replay, std::string> loadReplay(const Options& options) {
    auto datagrams = readCapture(options.replayPath, options.replayPort);
    if (const auto* error = std::get_if<std::string>(&datagrams)) {
        return *error;
    }
    auto replay = Replay::fromCapture(std::get<std::vector<CapturedDatagram>>(datagrams),
                                      options.replayPort, options.replayEnd);
    if (const auto* error = std::get_if<std::string>(&replay)) {
        return options.replayPath + ": " + *error;
    }
    // As for --reply-size: a reply goes wherever a request says it came from, so a large one
    // off loopback would make the simulator an amplifier aimed at a third host.
    const std::size_t largest = std::get<Replay>(replay).largestReply();
    if (largest > vardek::link::kReplySize && !isLoopback(options.bindAddress)) {
        return options.replayPath + ": holds replies of up to " + std::to_string(largest) +
               " bytes, refused with --bind " + options.bindAddress +
               ": replies larger than 8 bytes are for a loopback address only";
    }
    return replay;
}

}  // namespace

int main(int argc, char** argv) {
    const ParsedCommandLine parsed = parseCommandLine(vardek::cli::arguments(argc, argv));
    if (const auto status = parsed.answered(kProgramName, VARDEK_VERSION, helpText())) {
        return *status;
    }
    const Options& options = parsed.options;
    if (!isLoopback(options.bindAddress)) {
        complain(kProgramName, "warning: bound to " + options.bindAddress +
                                   ", the simulator is reachable from the network");
    }

    // Blocked before anything else, so the signals only ever arrive through the descriptor.
    vardek::host::SignalDescriptor signals;
    if (signals.descriptor() < 0) {
        complain(kProgramName, "cannot watch for signals: " + signals.error().message());
        return kFailed;
    }

    // The files first: one refused ends the run before the simulator is on the network.
    std::optional<Replay> replay;
    std::string replaySummary;
    if (!options.replayPath.empty()) {
        std::variant<Replay, std::string> loaded = loadReplay(options);
        if (const auto* error = std::get_if<std::string>(&loaded)) {
            complain(kProgramName, *error);
            return kBadUsage;
        }
        replay = std::move(std::get<Replay>(loaded));
        replaySummary = "replaying " + options.replayPath + ": " + replay->summary();
    }
    std::optional<UdpSocket> socket = openSocket(options);
    if (!socket) {
        return kFailed;
    }
    PcapWriter capture;
    if (!options.pcapPath.empty()) {
        if (const PcapWriter::Opened opened = capture.open(options.pcapPath);
            !opened.error.empty()) {
            complain(kProgramName, opened.error);
            return opened.refused ? kBadUsage : kFailed;
        }
    }
    ControlSocket control;
    if (!options.controlPath.empty()) {
        if (const std::string error = control.open(options.controlPath); !error.empty()) {
            complain(kProgramName, error);
            return kFailed;
        }
    }
    const std::uint32_t seed = options.seed ? *options.seed : std::random_device{}();
    Simulator simulator(options, *socket, capture, control, std::move(replay), seed);
    log("listening on " + socket->localAddress().text() + " (seed " + std::to_string(seed) + ")");
    if (!replaySummary.empty()) {
        log(replaySummary);
    }
    if (control.isOpen()) {
        log("control socket at " + options.controlPath);
    }
    for (const std::string& fault : simulator.faultTexts()) {
        log("fault: " + fault);
    }
    const bool stopped = simulator.run(signals);
    return stopped ? kSucceeded : kFailed;
}
