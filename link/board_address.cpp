#include "link/board_address.h"

#include <algorithm>
#include <span>

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include "link/reply_text.h"
#include "link/udp_socket.h"

namespace vardek::link {

namespace {

std::uint32_t hostOrder(const sockaddr* address) {
    return ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
}

// The broadcast address of a network one of this machine's interfaces is on, up or down. The
// loopback interface has no broadcast flag, but its network has one all the same.
bool isLocalBroadcast(std::uint32_t address) {
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) {
        return false;
    }
    bool found = false;
    for (const ifaddrs* each = interfaces; each != nullptr && !found; each = each->ifa_next) {
        if (each->ifa_addr == nullptr || each->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        if ((each->ifa_flags & IFF_BROADCAST) != 0 && each->ifa_broadaddr != nullptr &&
            each->ifa_broadaddr->sa_family == AF_INET) {
            found = hostOrder(each->ifa_broadaddr) == address;
        }
        // A /31 or /32 network has no broadcast address: its last address is a host.
        if (!found && each->ifa_netmask != nullptr) {
            const std::uint32_t mask = hostOrder(each->ifa_netmask);
            found = mask < 0xFFFFFFFE && (hostOrder(each->ifa_addr) | ~mask) == address;
        }
    }
    freeifaddrs(interfaces);
    return found;
}

// Written as \xNN in a message, so that none reaches the terminal.
bool isControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

}  // namespace

std::string quotedForMessage(std::string_view text) {
    // As many bytes as fit in kShownBytes characters of the message, each control character
    // taking the four of its \xNN: a line of tabs must not make a message four times as long.
    std::size_t shown = 0;
    for (std::size_t width = 0; shown < text.size(); ++shown) {
        width += isControl(static_cast<unsigned char>(text[shown])) ? 4 : 1;
        if (width > kShownBytes) {
            break;
        }
    }
    // Not in the middle of a UTF-8 character: back to the first byte of the one cut.
    while (shown < text.size() && shown > 0 &&
           (static_cast<unsigned char>(text[shown]) & 0xC0) == 0x80) {
        --shown;
    }
    // Built by appending: GCC 12 at -O3 takes "'" + std::string(...) for an overlapping copy
    // (-Wrestrict), a false alarm that stops the release build with warnings as errors.
    std::string quoted(1, '\'');
    for (const char c : text.substr(0, shown)) {
        const auto byte = static_cast<unsigned char>(c);
        if (isControl(byte)) {
            quoted.append("\\x").append(hexText(std::span(&byte, 1), 2));
        } else {
            quoted.push_back(c);
        }
    }
    quoted.push_back('\'');
    if (shown < text.size()) {
        quoted.append("... (").append(std::to_string(text.size())).append(" bytes)");
    }
    return quoted;
}

std::string boardAddressProblem(std::string_view text) {
    const auto parsed = parseIpv4(text);
    if (!parsed) {
        return quotedForMessage(text) +
               " is not a dotted-decimal IPv4 address (four numbers 0 to 255, such as "
               "192.168.1.50)";
    }
    const std::uint32_t address = *parsed;
    const std::string named(text);
    if (address >> 24 == 0) {
        return named + " is in 0.0.0.0/8, which names this host, not a board";
    }
    if (address >> 28 == 0xE) {
        return named + " is a multicast address; give the address of one board";
    }
    if (address == 0xFFFFFFFF || isLocalBroadcast(address)) {
        return named + " is a broadcast address; give the address of one board";
    }
    if (address >> 28 == 0xF) {
        return named + " is in the reserved range 240.0.0.0/4";
    }
    return {};
}

}  // namespace vardek::link
