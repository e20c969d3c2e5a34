// The UDP datagrams of a capture file, read with libpcap: pcap or pcapng, as --pcap, tcpdump or
// Wireshark write them, of raw IPv4 packets, Ethernet frames (VLAN-tagged or not) or Linux
// cooked captures (v1 and v2).
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "link/udp_socket.h"
#include "tools/board-sim/board_model.h"

namespace vardek::sim {

struct CapturedDatagram {
    std::size_t frame = 0;  // its number in the file, from 1, as Wireshark counts
    std::chrono::microseconds time{0};
    link::SocketAddress from;
    link::SocketAddress to;
    Bytes payload;
};

// Every whole, unfragmented IPv4 UDP datagram to or from `port`, or to an address and port that
// sent a request to `port` before (a board may answer from a port of its own), in the file's
// order; the rest of the traffic is passed over. A file that is not a capture, a damaged or
// truncated one, a link type other than those above, or a datagram kept here that the snap
// length cut short is refused with the reason, the file named.
std::variant<std::vector<CapturedDatagram>, std::string> readCapture(const std::string& path,
                                                                     std::uint16_t port);

// The same from an open file, which it closes; `name` names it in the reasons.
std::variant<std::vector<CapturedDatagram>, std::string> readCapture(std::FILE* file,
                                                                     const std::string& name,
                                                                     std::uint16_t port);

}  // namespace vardek::sim
