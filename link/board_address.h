// Which addresses may name the board: one check for every place a user can give one (the
// window's command line and settings file, the probe, the build's default).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vardek::link {

// Empty when `text` can be a board's address: dotted-decimal IPv4 naming one host. Otherwise
// why not, as a phrase that starts with the text itself ("224.0.0.1 is a multicast address; ..."),
// quoted by quotedForMessage when it is no address at all.
// Refused besides a malformed text: 0.0.0.0/8 (this host, from which every reply would be
// dropped), 255.255.255.255, multicast 224.0.0.0/4, reserved 240.0.0.0/4 and the broadcast
// address of any network this machine's interfaces are on, 127.255.255.255 included: a request
// to any of these reaches no board, or many hosts.
std::string boardAddressProblem(std::string_view text);

// How much of a text a message shows, in bytes of the message.
inline constexpr std::size_t kShownBytes = 40;

// `text` quoted for a message: as much of its start as kShownBytes of the message hold, cut at a
// character's edge and followed by its length when longer, with control characters written as
// \xNN. A value of 10 MB from a settings file or a command line must not become a message of
// 10 MB, nor a NUL or an escape sequence reach the terminal.
std::string quotedForMessage(std::string_view text);

}  // namespace vardek::link
