// The protocol in words: how the panel shows a reply, how a request is named, and the one hex
// style of every dump and log. Every text is built the same whatever the user's locale, so a
// reading never switches its decimal mark from one machine to the next.
#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>

#include "link/board_protocol.h"

namespace vardek::link {

// Each byte as `digits` upper-case hex digits, separated by single spaces: "04 A1 01" with 2
// digits, "004 0A1 001" with 3. Past `shown` bytes the rest is counted, not written:
// "000 000 ... (3 more)". Empty for no bytes.
std::string hexText(std::span<const std::uint8_t> bytes, int digits,
                    std::size_t shown = std::numeric_limits<std::size_t>::max());

// The dump of a reply: each byte as 3 hex digits and one space, always 32 characters.
std::string dumpText(const ReplyBytes& bytes);

// A raw channel result: 4 hex digits, then the decimal value in parentheses ("012C(300)").
std::string rawText(std::uint16_t value);

// The unit of the RA5 reading.
inline constexpr std::string_view kCelsiusSign = "\u2103";

// The RA5 reading in tenths of a degree Celsius, as the panel shows it: value / 1024 * 500,
// rounded once to the nearest tenth, an exact half away from zero.
long temperatureTenths(std::uint16_t value);

// The RA5 reading in degrees Celsius as the panel shows it, to the tenth: the one conversion
// of every reading, record and verdict.
double temperatureCelsius(std::uint16_t value);

// The RA5 reading as degrees Celsius, value / 1024 * 500, as "%4.1f ℃". An exact half in the
// second decimal rounds away from zero (31.25 reads 31.3).
std::string temperatureText(std::uint16_t value);

// A channel's reading as the panel shows it: the temperature for RA5, the raw form for the others.
std::string readingText(const Channel& channel, std::uint16_t value);

// A datagram sent to the board in words: "status", "set RB5", "clear RB7", "read RA5". One the
// board refuses is named as far as its bytes go: "read 0xA9", "command 0x03", "empty request".
std::string describeRequest(std::span<const std::uint8_t> datagram);

}  // namespace vardek::link
