// A UDP socket on 127.0.0.1 that plays the board in tests: it sees what the panel sends and
// answers it. Receiving keeps Qt's event loop turning, so an endpoint on the same thread runs.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vardek::test {

using Bytes = std::vector<std::uint8_t>;

// Runs the event loop until `done()` holds or `timeoutMs` has passed; waking on each event
// rather than on a fixed sleep keeps long exchanges fast.
template <typename Predicate>
bool waitUntil(Predicate done, int timeoutMs = 3000) {
    const QDeadlineTimer deadline(timeoutMs);
    QTimer wake;
    wake.start(10);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return done();
}

class LoopbackBoard {
  public:
    // Bound to `host`, which must be a loopback address: a stranger on another address is
    // played from 127.0.0.2 and up.
    explicit LoopbackBoard(const char* host = "127.0.0.1") {
        sockaddr_in address = loopback(0);
        if (::inet_pton(AF_INET, host, &address.sin_addr) != 1 ||
            ntohl(address.sin_addr.s_addr) >> 24 != 127) {
            throw std::invalid_argument("not a loopback address");
        }
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            throw std::runtime_error("cannot bind the loopback board");
        }
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~LoopbackBoard() { ::close(fd_); }
    LoopbackBoard(const LoopbackBoard&) = delete;
    LoopbackBoard& operator=(const LoopbackBoard&) = delete;

    std::uint16_t port() const { return port_; }
    // The port the last datagram came from: where a board sends its reply.
    std::uint16_t senderPort() const { return senderPort_; }

    // The next datagram, running the event loop while waiting; nothing after `timeoutMs`.
    std::optional<Bytes> receive(int timeoutMs = 2000) {
        const QDeadlineTimer deadline(timeoutMs);
        do {
            QCoreApplication::processEvents();
            if (auto datagram = take()) {
                return datagram;
            }
            pollfd readable{fd_, POLLIN, 0};
            ::poll(&readable, 1, 5);
        } while (!deadline.hasExpired());
        return std::nullopt;
    }

    // Every datagram until none has come for `quietMs`.
    std::vector<Bytes> receiveAll(int quietMs = 300) {
        std::vector<Bytes> datagrams;
        while (auto datagram = receive(quietMs)) {
            datagrams.push_back(*datagram);
        }
        return datagrams;
    }

    void sendTo(std::uint16_t port, const Bytes& bytes) {
        const sockaddr_in to = loopback(port);
        if (::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                     sizeof to) != static_cast<ssize_t>(bytes.size())) {
            throw std::runtime_error("the loopback board cannot send");
        }
    }

    void reply(const Bytes& bytes) { sendTo(senderPort_, bytes); }

  private:
    static sockaddr_in loopback(std::uint16_t port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        return address;
    }

    std::optional<Bytes> take() {
        Bytes buffer(65536);
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t size = ::recvfrom(fd_, buffer.data(), buffer.size(), 0,
                                        reinterpret_cast<sockaddr*>(&from), &length);
        if (size < 0) {
            return std::nullopt;
        }
        senderPort_ = ntohs(from.sin_port);
        buffer.resize(static_cast<std::size_t>(size));
        return buffer;
    }

    int fd_ = -1;
    std::uint16_t port_ = 0;
    std::uint16_t senderPort_ = 0;
};

}  // namespace vardek::test
