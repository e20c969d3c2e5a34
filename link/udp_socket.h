// A plain IPv4 UDP socket: what the endpoint, the simulator, the probe and the tests' board all
// need of one, written once. Non-blocking; waiting is explicit, with a timeout.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

namespace vardek::link {

// An IPv4 address, in host byte order, and a port.
struct SocketAddress {
    std::uint32_t address = 0;
    std::uint16_t port = 0;

    std::string addressText() const;  // dotted decimal
    std::string text() const;         // "127.0.0.1:10001"

    bool operator==(const SocketAddress&) const = default;
};

inline constexpr std::uint32_t kLoopbackAddress = 0x7F000001;

// A receive buffer this large takes any UDP payload over IPv4 (at most 65507 bytes) whole.
inline constexpr std::size_t kReceiveCapacity = 65536;

// Four decimal numbers 0..255 separated by dots and nothing else; no host names.
std::optional<std::uint32_t> parseIpv4(std::string_view dottedDecimal);

// 127.0.0.0/8: traffic that never leaves the machine.
constexpr bool isLoopback(std::uint32_t address) { return address >> 24 == 127; }

class UdpSocket {
  public:
    // A datagram taken off the socket: `size` is its true size, even when the buffer was
    // smaller and got only the first bytes.
    struct Received {
        std::size_t size = 0;
        SocketAddress from;
    };

    // Opens the socket. A plain socket has no SO_BROADCAST, so the system refuses to send to a
    // broadcast address. Throws std::system_error.
    UdpSocket();
    ~UdpSocket();
    UdpSocket(UdpSocket&& other) noexcept;
    UdpSocket& operator=(UdpSocket&& other) noexcept;
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // Throws std::system_error naming the address.
    void bind(const SocketAddress& local);
    SocketAddress localAddress() const;

    // One datagram; the error when the system refuses it, an empty one when it went out.
    std::error_code sendTo(std::span<const std::uint8_t> bytes, const SocketAddress& to) noexcept;

    // The next waiting datagram, copied into `buffer` as far as it fits; nothing when none is
    // waiting. Throws std::system_error when the system reports a failure.
    std::optional<Received> receive(std::span<std::uint8_t> buffer);

    // Waits until a datagram is waiting or `timeout` has passed; false also when a signal
    // interrupted the wait, so a caller can look at what its handler recorded.
    bool waitReadable(std::chrono::milliseconds timeout) const;

    int descriptor() const { return fd_; }

  private:
    int fd_ = -1;
};

}  // namespace vardek::link
