#include "link/udp_socket.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vardek::link {

namespace {

std::system_error socketError(const std::string& what) {
    return std::system_error(errno, std::generic_category(), what);
}

sockaddr_in toSockaddr(const SocketAddress& address) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_addr.s_addr = htonl(address.address);
    result.sin_port = htons(address.port);
    return result;
}

SocketAddress fromSockaddr(const sockaddr_in& address) {
    return {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

}  // namespace

std::string SocketAddress::addressText() const {
    return std::to_string(address >> 24) + '.' + std::to_string(address >> 16 & 0xFF) + '.' +
           std::to_string(address >> 8 & 0xFF) + '.' + std::to_string(address & 0xFF);
}

std::string SocketAddress::text() const { return addressText() + ':' + std::to_string(port); }

std::optional<std::uint32_t> parseIpv4(std::string_view dottedDecimal) {
    // inet_pton takes exactly dotted decimal, without leading zeros or surrounding space.
    in_addr parsed{};
    if (inet_pton(AF_INET, std::string(dottedDecimal).c_str(), &parsed) != 1) {
        return std::nullopt;
    }
    return ntohl(parsed.s_addr);
}

UdpSocket::UdpSocket() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {
    if (fd_ < 0) {
        throw socketError("cannot open a UDP socket");
    }
}

UdpSocket::~UdpSocket() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

UdpSocket::UdpSocket(UdpSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
}

void UdpSocket::bind(const SocketAddress& local) {
    const sockaddr_in address = toSockaddr(local);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        throw socketError("cannot bind " + local.text());
    }
}

SocketAddress UdpSocket::localAddress() const {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        throw socketError("cannot read the local address");
    }
    return fromSockaddr(local);
}

std::error_code UdpSocket::sendTo(std::span<const std::uint8_t> bytes,
                                  const SocketAddress& to) noexcept {
    const sockaddr_in address = toSockaddr(to);
    if (::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&address),
                 sizeof address) < 0) {
        return {errno, std::generic_category()};
    }
    return {};
}

std::optional<UdpSocket::Received> UdpSocket::receive(std::span<std::uint8_t> buffer) {
    sockaddr_in from{};
    socklen_t length = sizeof from;
    // MSG_TRUNC makes the call return the datagram's real length, not the part that fitted.
    const ssize_t size = ::recvfrom(fd_, buffer.data(), buffer.size(), MSG_TRUNC,
                                    reinterpret_cast<sockaddr*>(&from), &length);
    if (size < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            return std::nullopt;
        }
        throw socketError("cannot receive a datagram");
    }
    return Received{static_cast<std::size_t>(size), fromSockaddr(from)};
}

bool UdpSocket::waitReadable(std::chrono::milliseconds timeout) const {
    pollfd readable{fd_, POLLIN, 0};
    const auto ms = std::max<std::chrono::milliseconds::rep>(timeout.count(), 0);
    const int ready = ::poll(&readable, 1, static_cast<int>(std::min<decltype(ms)>(ms, 1 << 30)));
    return ready > 0;
}

}  // namespace vardek::link
