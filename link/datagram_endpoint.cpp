#include "link/datagram_endpoint.h"
#include "link/exception_text.h"

#include <QSocketNotifier>
#include <QtGlobal>

#include <algorithm>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace vardek::link {

namespace {

SocketAddress ipv4Address(const std::string& dottedDecimal, std::uint16_t port) {
    const auto address = parseIpv4(dottedDecimal);
    if (!address) {
        throw std::invalid_argument("\"" + dottedDecimal +
                                    "\" is not a dotted-decimal IPv4 address");
    }
    return {*address, port};
}

}  // namespace

DatagramEndpoint::DatagramEndpoint(EndpointConfig config, QObject* parent)
    : QObject(parent),
      config_(std::move(config)),
      remote_(ipv4Address(config_.RemoteHost, config_.RemotePort)),
      receiveBuffer_(kReceiveCapacity) {
    // A plain socket never has SO_BROADCAST, so a broadcast RemoteHost is refused by the kernel
    // instead of reaching every host on the network.
    socket_.bind({0, config_.LocalPort});
    notifier_ = new QSocketNotifier(socket_.descriptor(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &DatagramEndpoint::onReadable);
}

DatagramEndpoint::~DatagramEndpoint() {
    // The notifier goes before the socket that it watches.
    delete notifier_;
}

std::uint16_t DatagramEndpoint::localPort() const { return socket_.localAddress().port; }

void DatagramEndpoint::SendBuffer(std::span<const std::uint8_t> buffer, int count) {
    if (count < 0 || static_cast<std::size_t>(count) > buffer.size()) {
        throw std::out_of_range("SendBuffer: count " + std::to_string(count) +
                                " does not fit a buffer of " + std::to_string(buffer.size()));
    }
    const std::error_code error =
        socket_.sendTo(buffer.first(static_cast<std::size_t>(count)), remote_);
    if (error) {
        throw std::system_error(error, "cannot send to " + config_.RemoteHost + ":" +
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
            const std::optional<UdpSocket::Received> received = socket_.receive(receiveBuffer_);
            if (!received) {
                return;
            }
            // Taken off the socket all the same, so strangers cannot hold up the board's replies.
            if (received->from.address == remote_.address) {
                deliver(*received);
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

void DatagramEndpoint::deliver(const UdpSocket::Received& received) {
    if (!OnDataReceived) {
        return;
    }
    const auto size = static_cast<std::ptrdiff_t>(std::min(received.size, receiveBuffer_.size()));
    const Datagram datagram{{receiveBuffer_.begin(), receiveBuffer_.begin() + size},
                            received.from.addressText(),
                            received.from.port};
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
        const std::string message = currentExceptionText();
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
