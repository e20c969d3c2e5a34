#include "datagram_endpoint.h"

#include <QSocketNotifier>
#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <stdexcept>
#include <system_error>
#include <utility>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vardek::link {

namespace {

// Larger than any UDP payload over IPv4 (65507 bytes).
constexpr std::size_t kReceiveCapacity = 65536;

std::system_error socketError(const std::string& what) {
    return std::system_error(errno, std::generic_category(), what);
}

sockaddr_in ipv4Address(const std::string& dottedDecimal, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (inet_pton(AF_INET, dottedDecimal.c_str(), &address.sin_addr) != 1) {
        throw std::invalid_argument("\"" + dottedDecimal +
                                    "\" is not a dotted-decimal IPv4 address");
    }
    return address;
}

}  // namespace

DatagramEndpoint::DatagramEndpoint(EndpointConfig config, QObject* parent)
    : QObject(parent),
      config_(std::move(config)),
      remote_(ipv4Address(config_.RemoteHost, config_.RemotePort)),
      receiveBuffer_(kReceiveCapacity) {
    // A plain socket never has SO_BROADCAST, so a broadcast RemoteHost is refused by the kernel
    // instead of reaching every host on the network.
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        throw socketError("cannot open a UDP socket");
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(config_.LocalPort);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const auto error = socketError("cannot bind UDP port " + std::to_string(config_.LocalPort));
        ::close(fd_);
        throw error;
    }
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &DatagramEndpoint::onReadable);
}

DatagramEndpoint::~DatagramEndpoint() {
    delete notifier_;
    ::close(fd_);
}

std::uint16_t DatagramEndpoint::localPort() const {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        throw socketError("cannot read the local port");
    }
    return ntohs(local.sin_port);
}

void DatagramEndpoint::SendBuffer(std::span<const std::uint8_t> buffer, int count) {
    if (count < 0 || static_cast<std::size_t>(count) > buffer.size()) {
        throw std::out_of_range("SendBuffer: count " + std::to_string(count) +
                                " does not fit a buffer of " + std::to_string(buffer.size()));
    }
    const ssize_t sent = ::sendto(fd_, buffer.data(), static_cast<std::size_t>(count), 0,
                                  reinterpret_cast<const sockaddr*>(&remote_), sizeof remote_);
    if (sent < 0) {
        throw socketError("cannot send to " + config_.RemoteHost + ":" +
                          std::to_string(config_.RemotePort));
    }
}

void DatagramEndpoint::ReadBuffer(std::span<std::uint8_t> buffer, int& count) {
    count = 0;
    if (delivering_.empty()) {
        return;
    }
    const std::vector<std::uint8_t>& bytes = delivering_.back()->bytes;
    const std::size_t copied = std::min(bytes.size(), buffer.size());
    std::copy_n(bytes.begin(), copied, buffer.begin());
    count = static_cast<int>(copied);
}

void DatagramEndpoint::onReadable() {
    try {
        // The notifier is level-triggered: keep it quiet until the pump has run.
        notifier_->setEnabled(false);
        schedulePump();
    } catch (...) {
        notifier_->setEnabled(true);
        reportCurrentException();
    }
}

void DatagramEndpoint::schedulePump() {
    if (pumpScheduled_) {
        return;
    }
    // Delivered from the event queue rather than from the notifier, so a handler that opens a
    // modal loop still sees later datagrams arrive as events of their own.
    QMetaObject::invokeMethod(this, &DatagramEndpoint::pump, Qt::QueuedConnection);
    pumpScheduled_ = true;
}

void DatagramEndpoint::pump() {
    pumpScheduled_ = false;
    // While a handler below runs a nested event loop, new arrivals must wake that loop.
    notifier_->setEnabled(true);
    // Not even a failed allocation may unwind into Qt's event loop. The notifier stays on, so
    // whatever is still waiting is taken at a later turn.
    try {
        for (int taken = 0; taken < kDatagramsPerTurn; ++taken) {
            Datagram datagram;
            const Receipt receipt = receive(datagram);
            if (receipt == Receipt::Nothing) {
                return;
            }
            if (receipt == Receipt::FromBoard) {
                deliver(datagram);
            }
        }
        // More may be waiting: go on at a later turn of the loop, after other events.
        notifier_->setEnabled(false);
        schedulePump();
    } catch (...) {
        notifier_->setEnabled(true);
        reportCurrentException();
    }
}

DatagramEndpoint::Receipt DatagramEndpoint::receive(Datagram& datagram) {
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t size = ::recvfrom(fd_, receiveBuffer_.data(), receiveBuffer_.size(), 0,
                                    reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (size < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            throw socketError("cannot receive a datagram");
        }
        return Receipt::Nothing;
    }
    // Taken off the socket all the same, so strangers cannot hold up the board's replies.
    if (from.sin_family != AF_INET || from.sin_addr.s_addr != remote_.sin_addr.s_addr) {
        return Receipt::Dropped;
    }
    datagram.bytes.assign(receiveBuffer_.begin(), receiveBuffer_.begin() + size);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    datagram.fromIP = text;
    datagram.port = ntohs(from.sin_port);
    return Receipt::FromBoard;
}

void DatagramEndpoint::deliver(const Datagram& datagram) {
    if (!OnDataReceived) {
        return;
    }
    delivering_.push_back(&datagram);
    // A handler's failure is reported, and the datagrams after it are still delivered.
    try {
        OnDataReceived(static_cast<int>(datagram.bytes.size()), datagram.fromIP, datagram.port);
    } catch (...) {
        reportCurrentException();
    }
    delivering_.pop_back();
}

void DatagramEndpoint::reportCurrentException() noexcept {
    try {
        std::string message = "unknown error";
        try {
            throw;
        } catch (const std::exception& error) {
            message = error.what();
        } catch (...) {
        }
        if (OnError) {
            OnError(message);
        } else {
            qWarning("vardek datagram endpoint: %s", message.c_str());
        }
    } catch (...) {
        // Reporting failed too (OnError threw, or no memory for the text): nothing is left to
        // report with, and the event loop must go on.
    }
}

}  // namespace vardek::link
