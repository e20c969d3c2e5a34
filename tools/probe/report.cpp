#include "report.h"

#include <cstdio>

#include "reply_text.h"

namespace vardek::probe {

namespace {

std::string bits(std::uint8_t byte) {
    std::string text;
    for (int bit = 7; bit >= 0; --bit) {
        text += (byte >> bit & 1) != 0 ? '1' : '0';
    }
    return text;
}

std::string readingText(const Exchange& exchange) {
    const std::uint16_t value = exchange.reply.conversion();
    return exchange.kind == link::Reading::Temperature ? link::temperatureText(value)
                                                       : link::rawText(value);
}

// The panel's dump ends every byte with a space, the last one included, to lead into what
// follows it on the line; a JSON value stands alone.
std::string dumpValue(const link::ReplyBytes& bytes) {
    std::string text = link::dumpText(bytes);
    if (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

// Our own texts hold no quote, backslash or control character; escaped all the same, so the
// output stays valid JSON whatever a later text holds.
std::string jsonString(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + '"';
}

std::string milliseconds(const Exchange& exchange) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", exchange.roundTrip.count());
    return text;
}

}  // namespace

std::string requestText(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const std::uint8_t byte : bytes) {
        if (!text.empty()) {
            text += ' ';
        }
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    return text;
}

std::string humanLine(const Exchange& exchange) {
    std::string line =
        link::dumpText(exchange.reply.bytes) + "RB7..RB0=" + bits(exchange.reply.portB());
    if (exchange.reading) {
        line += ' ' + exchange.pin + '=' + readingText(exchange);
    }
    return line + " (" + milliseconds(exchange) + " ms)";
}

std::string jsonLine(const Exchange& exchange) {
    std::string line = "{\"command\":" + jsonString(exchange.command);
    if (!exchange.pin.empty()) {
        line += ",\"pin\":" + jsonString(exchange.pin);
    }
    line += ",\"board\":" + jsonString(exchange.board);
    line += ",\"request\":" + jsonString(requestText(exchange.request.bytes()));
    line += ",\"reply\":" + jsonString(dumpValue(exchange.reply.bytes));
    line += ",\"port_b\":" + std::to_string(exchange.reply.portB());
    line += ",\"value\":" + std::to_string(exchange.reply.conversion());
    if (exchange.reading) {
        line += ",\"text\":" + jsonString(readingText(exchange));
    }
    return line + ",\"rtt_ms\":" + milliseconds(exchange) + '}';
}

}  // namespace vardek::probe
