// How the panel shows a reply. Every text is built the same whatever the user's locale, so a
// reading never switches its decimal mark from one machine to the next.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "board_protocol.h"

namespace vardek::link {

// Each byte as 3 upper-case hex digits and one space, "0FF " for 255; empty for no bytes.
std::string hexDump(std::span<const std::uint8_t> bytes);

// The dump of a reply: always 32 characters.
std::string dumpText(const ReplyBytes& bytes);

// A raw channel result: 4 hex digits, then the decimal value in parentheses ("012C(300)").
std::string rawText(std::uint16_t value);

// The RA5 reading in tenths of a degree Celsius, as the panel shows it: value / 1024 * 500,
// rounded once to the nearest tenth, an exact half away from zero.
long temperatureTenths(std::uint16_t value);

// The RA5 reading as degrees Celsius, value / 1024 * 500, as "%4.1f ℃". An exact half in the
// second decimal rounds away from zero (31.25 reads 31.3).
std::string temperatureText(std::uint16_t value);

}  // namespace vardek::link
