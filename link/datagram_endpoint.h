// The UDP endpoint through which all traffic with the board passes, driven by Qt's event loop.
#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/board_protocol.h"
#include "link/datagram_link.h"
#include "link/udp_socket.h"

class QSocketNotifier;

namespace vardek::link {

struct EndpointConfig {
    std::string RemoteHost;  // dotted-decimal IPv4 address of the board
    std::uint16_t RemotePort = kBoardPort;
    std::uint16_t LocalPort = 0;  // 0: the system picks the port
};

class DatagramEndpoint final : public QObject, public DatagramLink {
    Q_OBJECT

  public:
    // Raised once for every datagram that arrives from RemoteHost, from any of its ports, on the
    // thread that runs the event loop. The socket listens on every interface, so datagrams from
    // any other address are dropped unseen: only the board may act through the endpoint.
    using DataReceivedEvent =
        std::function<void(int numberBytes, const std::string& fromIP, int port)>;
    // Raised with the reason when OnDataReceived throws or a datagram cannot be received; nothing
    // unwinds into the event loop. Without a handler the reason goes to Qt's warning output.
    using ErrorEvent = std::function<void(const std::string& message)>;

    // Datagrams taken off the socket per turn of the event loop, so a flood of them still leaves
    // timers, input and painting their turn.
    static constexpr int kDatagramsPerTurn = 32;

    // Opens and binds the socket. Throws std::invalid_argument for a RemoteHost that is not a
    // dotted-decimal IPv4 address and std::system_error when the socket cannot be opened.
    explicit DatagramEndpoint(EndpointConfig config, QObject* parent = nullptr);
    ~DatagramEndpoint() override;

    DatagramEndpoint(const DatagramEndpoint&) = delete;
    DatagramEndpoint& operator=(const DatagramEndpoint&) = delete;

    void SendBuffer(std::span<const std::uint8_t> buffer, int count) override;
    void ReadBuffer(std::span<std::uint8_t> buffer, int& count) override;

    DataReceivedEvent OnDataReceived;
    ErrorEvent OnError;

    const EndpointConfig& config() const { return config_; }
    // The bound local port, the one the board answers to.
    std::uint16_t localPort() const;
    int socketDescriptor() const { return socket_.descriptor(); }

  private:
    // A datagram from the board, as its data event hands it out and ReadBuffer copies it.
    struct Datagram {
        std::vector<std::uint8_t> bytes;
        std::string fromIP;
        int port = 0;
    };

    void onReadable();
    void schedulePump();
    void pump();
    // Raises the data event for the datagram just taken into the receive buffer.
    void deliver(const UdpSocket::Received& received);
    // For use inside a catch block: raises OnError with the exception being handled.
    void reportCurrentException() noexcept;

    EndpointConfig config_;
    SocketAddress remote_;
    UdpSocket socket_;
    QSocketNotifier* notifier_ = nullptr;
    std::vector<std::uint8_t> receiveBuffer_;
    bool pumpScheduled_ = false;
    // The datagrams whose events are running, innermost last: a handler's nested event loop can
    // deliver further datagrams, and each ReadBuffer must see the one that raised its own event.
    std::vector<const Datagram*> delivering_;
};

}  // namespace vardek::link
