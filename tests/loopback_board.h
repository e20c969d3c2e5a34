// A UDP socket on 127.0.0.1 that plays the board in tests: it sees what the panel sends and
// answers it. Receiving keeps Qt's event loop turning, so an endpoint on the same thread runs.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

#include "link/udp_socket.h"
#include "tests/fake_link.h"

namespace vardek::test {

// How long any test waits for something that should happen: generous, because a loaded 2-core
// machine can be slow, and every wait ends as soon as its condition holds.
inline constexpr int kWaitMs = 10000;

// Runs the event loop until `done()` holds or `timeoutMs` has passed; waking on each event
// rather than on a fixed sleep keeps long exchanges fast.
template <typename Predicate>
bool waitUntil(Predicate done, int timeoutMs = kWaitMs) {
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
        const auto address = link::parseIpv4(host);
        if (!address || !link::isLoopback(*address)) {
            throw std::invalid_argument("not a loopback address");
        }
        socket_.bind({*address, 0});
        port_ = socket_.localAddress().port;
    }

    std::uint16_t port() const { return port_; }
    // The port the last datagram came from: where a board sends its reply.
    std::uint16_t senderPort() const { return senderPort_; }

    // The next datagram, running the event loop while waiting; nothing after `timeoutMs`.
    std::optional<Bytes> receive(int timeoutMs = kWaitMs) {
        const QDeadlineTimer deadline(timeoutMs);
        do {
            QCoreApplication::processEvents();
            if (auto datagram = take()) {
                return datagram;
            }
            socket_.waitReadable(std::chrono::milliseconds(5));
        } while (!deadline.hasExpired());
        return std::nullopt;
    }

    // Every datagram before `sentinel`, which the sender puts out after them: loopback keeps the
    // order of one socket's datagrams, so no quiet time is waited out.
    std::vector<Bytes> receiveUntil(const Bytes& sentinel) {
        std::vector<Bytes> datagrams;
        for (auto datagram = receive(); datagram && *datagram != sentinel; datagram = receive()) {
            datagrams.push_back(*datagram);
        }
        return datagrams;
    }

    void sendTo(std::uint16_t port, const Bytes& bytes) {
        if (socket_.sendTo(bytes, {link::kLoopbackAddress, port})) {
            throw std::runtime_error("the loopback board cannot send");
        }
    }

    void reply(const Bytes& bytes) { sendTo(senderPort_, bytes); }

  private:
    std::optional<Bytes> take() {
        Bytes buffer(link::kReceiveCapacity);
        const auto received = socket_.receive(buffer);
        if (!received) {
            return std::nullopt;
        }
        senderPort_ = received->from.port;
        buffer.resize(received->size);
        return buffer;
    }

    link::UdpSocket socket_;
    std::uint16_t port_ = 0;
    std::uint16_t senderPort_ = 0;
};

}  // namespace vardek::test
