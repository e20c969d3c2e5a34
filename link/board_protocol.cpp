#include "link/board_protocol.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string>

namespace vardek::link {

namespace {

Request portBRequest(Command command, std::uint8_t bit) {
    if (!isOutputBit(bit)) {
        throw std::invalid_argument("port B bit " + std::to_string(bit) +
                                    " is not an output (RB2 to RB7)");
    }
    return {{command, kPortBOperand, bit}, 3};
}

}  // namespace

Request statusRequest() { return {{kStatusCommand, 0, 0}, 1}; }

Request setBitRequest(std::uint8_t bit) { return portBRequest(kSetBitCommand, bit); }

Request clearBitRequest(std::uint8_t bit) { return portBRequest(kClearBitCommand, bit); }

Request readChannelRequest(std::uint8_t selector) {
    return {{kReadChannelCommand, selector, kReadChannelTail}, 3};
}

std::string_view commandName(std::uint8_t command) {
    const auto it = std::ranges::find(kCommandNames, command, &CommandName::command);
    return it == kCommandNames.end() ? std::string_view{} : it->name;
}

std::string portBPinName(int bit) { return "RB" + std::to_string(bit); }

std::optional<std::uint8_t> parseOutputPin(std::string_view text) {
    if (text.size() != 3 || std::toupper(static_cast<unsigned char>(text[0])) != 'R' ||
        std::toupper(static_cast<unsigned char>(text[1])) != 'B') {
        return std::nullopt;
    }
    const auto bit = static_cast<std::uint8_t>(text[2] - '0');
    return isOutputBit(bit) ? std::optional(bit) : std::nullopt;
}

const Channel* findChannel(std::uint8_t selector) {
    const auto it = std::ranges::find(kChannels, selector, &Channel::selector);
    return it == kChannels.end() ? nullptr : &*it;
}

const Channel* parseAnaloguePin(std::string_view text) {
    const auto it = std::ranges::find_if(kChannels, [text](const Channel& channel) {
        return std::ranges::equal(text, channel.pin, [](char a, char b) {
            return std::toupper(static_cast<unsigned char>(a)) == b;
        });
    });
    return it == kChannels.end() ? nullptr : &*it;
}

std::optional<Reply> decodeReply(std::span<const std::uint8_t> datagram) {
    if (datagram.size() != kReplySize) {
        return std::nullopt;
    }
    Reply reply;
    std::ranges::copy(datagram, reply.bytes.begin());
    return reply;
}

Reply encodeReply(std::uint8_t portB, std::uint16_t conversion) {
    Reply reply;
    reply.bytes[kPortBOffset] = portB;
    reply.bytes[kConversionOffset] = static_cast<std::uint8_t>(conversion >> 8);
    reply.bytes[kConversionOffset + 1] = static_cast<std::uint8_t>(conversion);
    return reply;
}

std::string DecodedRequest::pin() const {
    if (command == kReadChannelCommand) {
        return std::string(findChannel(argument)->pin);
    }
    return command == kStatusCommand ? std::string{} : portBPinName(argument);
}

std::optional<RequestFields> readRequest(std::span<const std::uint8_t> datagram) {
    if (datagram.empty()) {
        return std::nullopt;
    }
    RequestFields fields;
    fields.command = datagram[0];
    switch (datagram[0]) {
        case kStatusCommand:
            fields.accepted = datagram.size() == 1;
            break;
        case kSetBitCommand:
        case kClearBitCommand:
            if (datagram.size() >= 3) {
                fields.argument = datagram[2];
            }
            fields.accepted =
                datagram.size() == 3 && datagram[1] == kPortBOperand && isOutputBit(datagram[2]);
            break;
        case kReadChannelCommand:
            if (datagram.size() >= 2) {
                fields.argument = datagram[1];
            }
            fields.accepted = datagram.size() == 3 && findChannel(datagram[1]) != nullptr &&
                              datagram[2] == kReadChannelTail;
            break;
        default:
            break;
    }
    return fields;
}

std::optional<DecodedRequest> decodeRequest(std::span<const std::uint8_t> datagram) {
    const auto fields = readRequest(datagram);
    if (!fields || !fields->accepted) {
        return std::nullopt;
    }
    return DecodedRequest{static_cast<Command>(fields->command), fields->argument.value_or(0)};
}

}  // namespace vardek::link
