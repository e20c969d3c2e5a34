#include "board_protocol.h"

#include <algorithm>
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

const Channel* findChannel(std::uint8_t selector) {
    const auto it = std::ranges::find(kChannels, selector, &Channel::selector);
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

std::optional<DecodedRequest> decodeRequest(std::span<const std::uint8_t> datagram) {
    if (datagram.empty()) {
        return std::nullopt;
    }
    switch (datagram[0]) {
        case kStatusCommand:
            if (datagram.size() == 1) {
                return DecodedRequest{kStatusCommand, 0};
            }
            break;
        case kSetBitCommand:
        case kClearBitCommand:
            if (datagram.size() == 3 && datagram[1] == kPortBOperand && isOutputBit(datagram[2])) {
                return DecodedRequest{static_cast<Command>(datagram[0]), datagram[2]};
            }
            break;
        case kReadChannelCommand:
            if (datagram.size() == 3 && findChannel(datagram[1]) != nullptr &&
                datagram[2] == kReadChannelTail) {
                return DecodedRequest{kReadChannelCommand, datagram[1]};
            }
            break;
        default:
            break;
    }
    return std::nullopt;
}

}  // namespace vardek::link
