#include "tools/probe/report.h"

#include "link/reply_text.h"

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
const link::Channel* channelRead(const link::Request& request) {
    const auto decoded = link::decodeRequest(request.bytes());
    return decoded && decoded->command == link::kReadChannelCommand
               ? link::findChannel(decoded->argument)
               : nullptr;
}

std::string milliseconds(const Answer& answer) { return decimals(answer.roundTrip.count(), 3); }

}  // namespace

std::string humanLine(const link::Request& request, const Answer& answer) {
    const link::Reply& reply = answer.reply;
    std::string line = link::dumpText(reply.bytes) + "RB7..RB0=" + bits(reply.portB());
    if (const link::Channel* channel = channelRead(request)) {
        line +=
            ' ' + std::string(channel->pin) + '=' + link::readingText(*channel, reply.conversion());
    }
    return line + " (" + milliseconds(answer) + " ms)";
}

std::string jsonLine(const std::string& board, const link::Request& request, const Answer& answer) {
    // The probe sends only requests that the board takes.
    const link::DecodedRequest decoded = *link::decodeRequest(request.bytes());
    const link::Reply& reply = answer.reply;
    std::string line =
        "{\"command\":" + jsonString(std::string(link::commandName(decoded.command)));
    if (const std::string pin = decoded.pin(); !pin.empty()) {
        line += ",\"pin\":" + jsonString(pin);
    }
    line += ",\"board\":" + jsonString(board);
    line += ",\"request\":" + jsonString(link::hexText(request.bytes(), 2));
    // The reply's bytes as in the panel's dump, without the space the dump ends on to lead into
    // what follows it on the line: a JSON value stands alone.
    line += ",\"reply\":" + jsonString(link::hexText(reply.bytes, 3));
    line += ",\"port_b\":" + std::to_string(reply.portB());
    line += ",\"value\":" + std::to_string(reply.conversion());
    if (const link::Channel* channel = channelRead(request)) {
        line += ",\"text\":" + jsonString(link::readingText(*channel, reply.conversion()));
    }
    return line + ",\"rtt_ms\":" + milliseconds(answer) + '}';
}

}  // namespace vardek::probe
