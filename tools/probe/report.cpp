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

// The channel that a read asks for; nullptr for the other requests.
const link::Channel* channelRead(const Exchange& exchange) {
    const auto& request = exchange.request.buffer;
    return request[0] == link::kReadChannelCommand ? link::findChannel(request[1]) : nullptr;
}

std::string readingText(const link::Channel& channel, const Exchange& exchange) {
    const std::uint16_t value = exchange.reply.conversion();
    return channel.reading == link::Reading::Temperature ? link::temperatureText(value)
                                                         : link::rawText(value);
}

std::string milliseconds(const Exchange& exchange) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", exchange.roundTrip.count());
    return text;
}

}  // namespace

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

std::string humanLine(const Exchange& exchange) {
    std::string line =
        link::dumpText(exchange.reply.bytes) + "RB7..RB0=" + bits(exchange.reply.portB());
    if (const link::Channel* channel = channelRead(exchange)) {
        line += ' ' + std::string(channel->pin) + '=' + readingText(*channel, exchange);
    }
    return line + " (" + milliseconds(exchange) + " ms)";
}

std::string jsonLine(const Exchange& exchange) {
    // "read RA5" is the command "read" on the pin "RA5".
    const std::string name = link::describeRequest(exchange.request.bytes());
    const auto space = name.find(' ');
    std::string line = "{\"command\":" + jsonString(name.substr(0, space));
    if (space != std::string::npos) {
        line += ",\"pin\":" + jsonString(name.substr(space + 1));
    }
    line += ",\"board\":" + jsonString(exchange.board);
    line += ",\"request\":" + jsonString(link::hexText(exchange.request.bytes(), 2));
    // The reply's bytes as in the panel's dump, without the space the dump ends on to lead into
    // what follows it on the line: a JSON value stands alone.
    line += ",\"reply\":" + jsonString(link::hexText(exchange.reply.bytes, 3));
    line += ",\"port_b\":" + std::to_string(exchange.reply.portB());
    line += ",\"value\":" + std::to_string(exchange.reply.conversion());
    if (const link::Channel* channel = channelRead(exchange)) {
        line += ",\"text\":" + jsonString(readingText(*channel, exchange));
    }
    return line + ",\"rtt_ms\":" + milliseconds(exchange) + '}';
}

}  // namespace vardek::probe
