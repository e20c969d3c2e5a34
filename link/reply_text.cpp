#include "reply_text.h"

#include <cmath>

namespace vardek::link {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void appendHex(std::string& out, unsigned value, int digits) {
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
        out += kHexDigits[(value >> shift) & 0xF];
    }
}

}  // namespace

std::string hexDump(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve(4 * bytes.size());
    for (const std::uint8_t byte : bytes) {
        appendHex(text, byte, 3);
        text += ' ';
    }
    return text;
}

std::string dumpText(const ReplyBytes& bytes) { return hexDump(bytes); }

std::string rawText(std::uint16_t value) {
    std::string text;
    appendHex(text, value, 4);
    text += '(' + std::to_string(value) + ')';
    return text;
}

long temperatureTenths(std::uint16_t value) {
    // value * 500 / 1024 has at most ten binary fraction digits, so every step here is exact and
    // the tenths are rounded once, by std::lround.
    const double celsius = value / 1024.0 * 500.0;
    return std::lround(celsius * 10.0);
}

std::string temperatureText(std::uint16_t value) {
    const long tenths = temperatureTenths(value);
    std::string number = std::to_string(tenths / 10) + '.' + std::to_string(tenths % 10);
    if (number.size() < 4) {
        number.insert(0, 4 - number.size(), ' ');
    }
    return number + " \u2103";
}

}  // namespace vardek::link
