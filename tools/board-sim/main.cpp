// vardek-board-sim: a stand-in for the VARDEK board on one UDP socket, with a traffic log.
#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "board_model.h"
#include "options.h"
#include "pcap_writer.h"
#include "traffic_log.h"

namespace {

using namespace vardek::sim;
using Clock = std::chrono::steady_clock;

// Larger than any UDP payload over IPv4.
constexpr std::size_t kReceiveCapacity = 65536;
// Datagrams read per turn of the loop, so a flood still lets signals and due replies through.
constexpr int kDatagramsPerTurn = 64;

// One line per event, flushed at once: a person watches the log and scripts grep it.
void log(const std::string& line) {
    const std::string text = timestamp(std::chrono::system_clock::now()) + ' ' + line + '\n';
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

void complain(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", kProgramName.data(), message.c_str());
}

std::string peerText(const sockaddr_in& peer) {
    char address[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
    return std::string(address) + ':' + std::to_string(ntohs(peer.sin_port));
}

Endpoint endpointOf(const sockaddr_in& address) {
    return {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

struct PendingReply {
    Clock::time_point due;
    sockaddr_in peer;
    Bytes bytes;
};

class Simulator {
  public:
    Simulator(const Options& options, int socket, const sockaddr_in& local, PcapWriter& capture,
              std::uint32_t seed)
        : model_(boardConfig(options, seed)),
          delay_(options.delayMs),
          socket_(socket),
          local_(local),
          capture_(capture),
          start_(Clock::now()),
          buffer_(kReceiveCapacity) {}

    // Runs until SIGINT or SIGTERM arrives on `signals`; false if the loop itself failed.
    bool run(int signals) {
        std::array<pollfd, 2> fds{{{socket_, POLLIN, 0}, {signals, POLLIN, 0}}};
        while (true) {
            if (::poll(fds.data(), fds.size(), pollTimeout()) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                complain(std::string("poll failed: ") + std::strerror(errno));
                return false;
            }
            if (fds[1].revents & POLLIN) {
                signalfd_siginfo info{};
                const bool read = ::read(signals, &info, sizeof info) == sizeof info;
                std::string line = "stopped by ";
                line += !read ? "a signal" : info.ssi_signo == SIGINT ? "SIGINT" : "SIGTERM";
                if (!pending_.empty()) {
                    line += ", delayed replies not sent: " + std::to_string(pending_.size());
                }
                log(line);
                return true;
            }
            if (fds[0].revents & POLLIN) {
                receive();
            }
            sendDue();
        }
    }

  private:
    int pollTimeout() const {
        if (pending_.empty()) {
            return -1;
        }
        const auto wait =
            std::chrono::ceil<std::chrono::milliseconds>(pending_.front().due - Clock::now());
        return static_cast<int>(std::max<std::chrono::milliseconds::rep>(wait.count(), 0));
    }

    void receive() {
        for (int i = 0; i < kDatagramsPerTurn; ++i) {
            sockaddr_in peer{};
            socklen_t length = sizeof peer;
            const ssize_t size = ::recvfrom(socket_, buffer_.data(), buffer_.size(), 0,
                                            reinterpret_cast<sockaddr*>(&peer), &length);
            if (size < 0) {
                if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                    complain(std::string("receive failed: ") + std::strerror(errno));
                }
                return;
            }
            handle(std::span(buffer_).first(static_cast<std::size_t>(size)), peer);
        }
    }

    void handle(std::span<const std::uint8_t> datagram, const sockaddr_in& peer) {
        const auto arrival = Clock::now();
        const auto since = std::chrono::duration_cast<Millis>(arrival - start_);
        capture(peer, local_, datagram);
        Outcome outcome = model_.handle(datagram, since);
        std::string line = "in  " + peerText(peer) + ' ' + datagramText(datagram) + " | ";
        switch (outcome.disposition) {
            case Disposition::Malformed:
                log(line + "malformed, not answered");
                return;
            case Disposition::Dropped:
                log(line + describe(*outcome.request) + ", reply dropped");
                return;
            case Disposition::Answered:
                break;
        }
        if (delay_ == Millis::zero()) {
            log(line + describe(*outcome.request));
            send({arrival, peer, std::move(outcome.reply)});
            return;
        }
        log(line + describe(*outcome.request) + ", reply in " + std::to_string(delay_.count()) +
            " ms");
        // Every reply waits the same time, so the queue stays in order of its deadlines.
        pending_.push_back({arrival + delay_, peer, std::move(outcome.reply)});
    }

    void sendDue() {
        const auto now = Clock::now();
        while (!pending_.empty() && pending_.front().due <= now) {
            send(pending_.front());
            pending_.pop_front();
        }
    }

    void send(const PendingReply& reply) {
        const ssize_t sent =
            ::sendto(socket_, reply.bytes.data(), reply.bytes.size(), 0,
                     reinterpret_cast<const sockaddr*>(&reply.peer), sizeof reply.peer);
        if (sent < 0) {
            log("out " + peerText(reply.peer) + ' ' + datagramText(reply.bytes) +
                " | not sent: " + std::strerror(errno));
            return;
        }
        // Captured before the log line, so whoever sees the line finds the datagram in the file.
        capture(local_, reply.peer, reply.bytes);
        log("out " + peerText(reply.peer) + ' ' + datagramText(reply.bytes));
    }

    // A capture that cannot be written any more ends; the simulator goes on without it.
    void capture(const sockaddr_in& from, const sockaddr_in& to,
                 std::span<const std::uint8_t> datagram) {
        if (!capture_.isOpen()) {
            return;
        }
        const std::string error = capture_.write(endpointOf(from), endpointOf(to), datagram);
        if (!error.empty()) {
            complain(error + "; capture stopped");
        }
    }

    BoardModel model_;
    Millis delay_;
    int socket_;
    sockaddr_in local_;
    PcapWriter& capture_;
    Clock::time_point start_;
    Bytes buffer_;
    std::deque<PendingReply> pending_;
};

int openSocket(const Options& options) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        complain(std::string("cannot open a UDP socket: ") + std::strerror(errno));
        return -1;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(options.port);
    inet_pton(AF_INET, options.bindAddress.c_str(), &local.sin_addr);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        complain("cannot bind " + options.bindAddress + ':' + std::to_string(options.port) + ": " +
                 std::strerror(errno));
        ::close(fd);
        return -1;
    }
    return fd;
}

sockaddr_in boundAddress(int fd) {
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    return bound;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + std::min(argc, 1), argv + argc);
    const ParseResult parsed = parseOptions(args);
    if (!parsed.ok()) {
        complain(parsed.error);
        std::fprintf(stderr, "Try '%s --help'.\n", kProgramName.data());
        return 2;
    }
    const Options& options = parsed.options;
    if (options.help) {
        std::fputs(helpText().c_str(), stdout);
        return 0;
    }
    if (!isLoopback(options.bindAddress)) {
        complain("warning: bound to " + options.bindAddress +
                 ", the simulator is reachable from the network");
    }

    // Blocked before anything else, so the signals only ever arrive through the descriptor.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    const int signals = ::signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (signals < 0) {
        complain(std::string("cannot watch for signals: ") + std::strerror(errno));
        return 1;
    }

    const int socket = openSocket(options);
    if (socket < 0) {
        return 1;
    }
    PcapWriter capture;
    if (!options.pcapPath.empty()) {
        if (const std::string error = capture.open(options.pcapPath); !error.empty()) {
            complain(error);
            return 1;
        }
    }
    const sockaddr_in local = boundAddress(socket);
    const std::uint32_t seed = options.seed ? *options.seed : std::random_device{}();
    log("listening on " + peerText(local) + " (seed " + std::to_string(seed) + ")");
    const bool stopped = Simulator(options, socket, local, capture, seed).run(signals);
    ::close(socket);
    ::close(signals);
    return stopped ? 0 : 1;
}
