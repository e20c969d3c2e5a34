#include "tools/board-sim/capture_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <span>

#include <fcntl.h>
#include <pcap/pcap.h>

#include "host/regular_file.h"

namespace vardek::sim {

namespace {

// Link types as pcap files name them (the link layer header types of tcpdump.org).
constexpr int kLinuxCookedV2 = 276;
constexpr std::uint16_t kEtherTypeIpv4 = 0x0800;
constexpr std::uint16_t kEtherTypeVlan = 0x8100;
constexpr std::uint16_t kEtherTypeQinQ = 0x88A8;
constexpr std::uint8_t kProtocolUdp = 17;
constexpr std::size_t kUdpHeaderSize = 8;

std::uint16_t big16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

std::uint32_t big32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(big16(bytes, at)) << 16 | big16(bytes, at + 2);
}

// Where the IPv4 packet starts in a frame of `linkType`; none when the frame carries no IPv4.
std::optional<std::size_t> ipv4Offset(int linkType, std::span<const std::uint8_t> frame) {
    switch (linkType) {
        case DLT_RAW:
        case DLT_IPV4:
            return 0;
        case DLT_EN10MB: {
            std::size_t type = 12;
            while (frame.size() >= type + 2 &&
                   (big16(frame, type) == kEtherTypeVlan || big16(frame, type) == kEtherTypeQinQ)) {
                type += 4;
            }
            if (frame.size() < type + 2 || big16(frame, type) != kEtherTypeIpv4) {
                return std::nullopt;
            }
            return type + 2;
        }
        case DLT_LINUX_SLL:
            if (frame.size() < 16 || big16(frame, 14) != kEtherTypeIpv4) {
                return std::nullopt;
            }
            return 16;
        case kLinuxCookedV2:
            if (frame.size() < 20 || big16(frame, 0) != kEtherTypeIpv4) {
                return std::nullopt;
            }
            return 20;
        default:
            return std::nullopt;
    }
}

struct Udp {
    CapturedDatagram datagram;
    bool whole = true;  // false: the snap length cut it
};

// The UDP datagram in an IPv4 packet, as far as the capture holds it; none for another
// protocol, a fragment or a header that does not fit.
std::optional<Udp> udpIn(std::span<const std::uint8_t> packet, std::size_t originalSize) {
    if (packet.size() < 20 || packet[0] >> 4 != 4 || packet[9] != kProtocolUdp) {
        return std::nullopt;
    }
    const std::size_t headerSize = std::size_t{packet[0] & 0x0Fu} * 4;
    const bool fragment = (big16(packet, 6) & 0x3FFF) != 0;  // more fragments, or an offset
    if (headerSize < 20 || fragment || packet.size() < headerSize + kUdpHeaderSize) {
        return std::nullopt;
    }
    const std::size_t totalSize = big16(packet, 2);
    const auto udp = packet.subspan(headerSize);
    const std::size_t udpSize = big16(udp, 4);
    if (udpSize < kUdpHeaderSize || headerSize + udpSize > totalSize) {
        return std::nullopt;
    }
    Udp out;
    out.datagram.from = {big32(packet, 12), big16(udp, 0)};
    out.datagram.to = {big32(packet, 16), big16(udp, 2)};
    const std::size_t payloadSize = udpSize - kUdpHeaderSize;
    const std::size_t held = std::min(payloadSize, udp.size() - kUdpHeaderSize);
    out.whole = held == payloadSize && originalSize >= packet.size();
    const auto payload = udp.subspan(kUdpHeaderSize, held);
    out.datagram.payload.assign(payload.begin(), payload.end());
    return out;
}

}  // namespace

std::variant<std::vector<CapturedDatagram>, std::string> readCapture(const std::string& path,
                                                                     std::uint16_t port) {
    // A FIFO or a device named here would hold the simulator up before it can take a signal.
    host::OpenedFile opened = host::openRegularFile(path, O_RDONLY);
    if (!opened.problem.empty()) {
        return path + ": " + opened.problem;
    }
    std::FILE* file = ::fdopen(opened.fd.get(), "rb");
    if (file == nullptr) {
        return path + ": " + std::strerror(errno);
    }
    opened.fd.release();
    return readCapture(file, path, port);
}

std::variant<std::vector<CapturedDatagram>, std::string> readCapture(std::FILE* file,
                                                                     const std::string& name,
                                                                     std::uint16_t port) {
    const std::string& path = name;
    char error[PCAP_ERRBUF_SIZE] = {};
    // The capture closes the file with it; a file it refused is still the caller's.
    const std::unique_ptr<pcap_t, void (*)(pcap_t*)> capture(
        pcap_fopen_offline_with_tstamp_precision(file, PCAP_TSTAMP_PRECISION_MICRO, error),
        pcap_close);
    if (!capture) {
        std::fclose(file);
        return path + ": not a capture that libpcap reads (" + error + ")";
    }
    const int linkType = pcap_datalink(capture.get());
    if (linkType != DLT_RAW && linkType != DLT_IPV4 && linkType != DLT_EN10MB &&
        linkType != DLT_LINUX_SLL && linkType != kLinuxCookedV2) {
        const char* name = pcap_datalink_val_to_name(linkType);
        return path + ": link type " + std::to_string(linkType) + " (" + (name ? name : "unknown") +
               ") is not one replayed; raw IPv4, Ethernet and Linux cooked captures are";
    }
    std::vector<CapturedDatagram> datagrams;
    // Where requests came from: a board may answer from a port of its own.
    std::set<std::pair<std::uint32_t, std::uint16_t>> requesters;
    bool any = false;
    pcap_pkthdr* header = nullptr;
    const std::uint8_t* data = nullptr;
    for (std::size_t frame = 1;; ++frame) {
        const int got = pcap_next_ex(capture.get(), &header, &data);
        if (got == PCAP_ERROR_BREAK) {
            break;
        }
        if (got != 1) {
            return path + ": damaged or truncated after packet " + std::to_string(frame - 1) +
                   " (" + pcap_geterr(capture.get()) + ")";
        }
        const std::span<const std::uint8_t> bytes(data, header->caplen);
        const auto offset = ipv4Offset(linkType, bytes);
        if (!offset || *offset > bytes.size()) {
            continue;
        }
        const std::size_t originalIpSize = header->len >= *offset ? header->len - *offset : 0;
        auto udp = udpIn(bytes.subspan(*offset), originalIpSize);
        if (!udp) {
            continue;
        }
        const link::SocketAddress& from = udp->datagram.from;
        const link::SocketAddress& to = udp->datagram.to;
        const bool toRequester = requesters.contains({to.address, to.port});
        if (from.port != port && to.port != port && !toRequester) {
            continue;
        }
        if (to.port == port) {
            requesters.insert({from.address, from.port});
        }
        any = any || from.port == port || to.port == port;
        if (!udp->whole) {
            return path + ": packet " + std::to_string(frame) + " holds " +
                   std::to_string(header->caplen) + " of its " + std::to_string(header->len) +
                   " bytes: captured with too small a snap length to be replayed";
        }
        udp->datagram.frame = frame;
        // A damaged or forged timestamp must not overflow the microseconds; a thousand years
        // either side of 1970 holds every real one.
        constexpr std::int64_t kSecondsLimit = 31557600000;
        const std::int64_t seconds =
            std::clamp<std::int64_t>(header->ts.tv_sec, -kSecondsLimit, kSecondsLimit);
        udp->datagram.time =
            std::chrono::seconds(seconds) + std::chrono::microseconds(header->ts.tv_usec % 1000000);
        datagrams.push_back(std::move(udp->datagram));
    }
    if (!any) {
        return path + ": no UDP traffic on port " + std::to_string(port) +
               " (--replay-port names the board's port)";
    }
    return datagrams;
}

}  // namespace vardek::sim
