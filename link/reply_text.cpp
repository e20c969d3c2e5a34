#include "link/reply_text.h"

#include <algorithm>
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

std::string hexText(std::span<const std::uint8_t> bytes, int digits, std::size_t shown) {
    std::string text;
    text.reserve(static_cast<std::size_t>(digits + 1) * std::min(bytes.size(), shown));
    for (std::size_t i = 0; i < bytes.size() && i < shown; ++i) {
        if (i > 0) {
            text += ' ';
        }
        appendHex(text, bytes[i], digits);
    }
    if (bytes.size() > shown) {
        text += " ... (" + std::to_string(bytes.size() - shown) + " more)";
    }
    return text;
}

std::string dumpText(const ReplyBytes& bytes) { return hexText(bytes, 3) + ' '; }

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

double temperatureCelsius(std::uint16_t value) {
    return static_cast<double>(temperatureTenths(value)) / 10.0;
}

std::string temperatureText(std::uint16_t value) {
    const long tenths = temperatureTenths(value);
    std::string number = std::to_string(tenths / 10) + '.' + std::to_string(tenths % 10);
    if (number.size() < 4) {
        number.insert(0, 4 - number.size(), ' ');
    }
    return number + ' ' + std::string(kCelsiusSign);
}

std::string readingText(const Channel& channel, std::uint16_t value) {
    return channel.reading == Reading::Temperature ? temperatureText(value) : rawText(value);
}

std::string describeRequest(std::span<const std::uint8_t> datagram) {
    const auto fields = readRequest(datagram);
    if (!fields) {
        return "empty request";
    }
    const auto byteText = [](std::uint8_t byte) {
        std::string text = "0x";
        appendHex(text, byte, 2);
        return text;
    };
    const std::string_view name = commandName(fields->command);
    if (name.empty()) {
        return "command " + byteText(fields->command);
    }
    std::string text(name);
    if (const auto argument = fields->argument) {
        const Channel* channel = findChannel(*argument);
        text += ' ' + (fields->command != kReadChannelCommand ? portBPinName(*argument)
                       : channel != nullptr                   ? std::string(channel->pin)
                                                              : byteText(*argument));
    }
    return text;
}

}  // namespace vardek::link
