// Requests and replies spoken with the VARDEK board over UDP.
//
// Requests carry no sequence number or checksum and replies name no request: the panel matches
// them by order of arrival alone. Every request is built in a 3-byte buffer, of which `count`
// bytes go out as one datagram.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vardek::link {

inline constexpr std::uint16_t kBoardPort = 10001;

enum Command : std::uint8_t {
    kStatusCommand = 0x00,
    kSetBitCommand = 0x01,
    kClearBitCommand = 0x02,
    kReadChannelCommand = 0x04,
};

// Each command's name, as the logs, the probe's command line and its --json name it.
struct CommandName {
    Command command;
    std::string_view name;
};
inline constexpr std::array<CommandName, 4> kCommandNames{{
    {kStatusCommand, "status"},
    {kSetBitCommand, "set"},
    {kClearBitCommand, "clear"},
    {kReadChannelCommand, "read"},
}};

// The name of a command byte; empty for a byte that is no command.
std::string_view commandName(std::uint8_t command);

// Operand of the set and clear commands that designates port B.
inline constexpr std::uint8_t kPortBOperand = 0x06;
// Last byte of every channel-read request.
inline constexpr std::uint8_t kReadChannelTail = 0x01;

// Port B pins RB2..RB7 are outputs; RB0 and RB1 are inputs and are never set or cleared.
inline constexpr std::uint8_t kFirstOutputBit = 2;
inline constexpr std::uint8_t kLastOutputBit = 7;
constexpr bool isOutputBit(std::uint8_t bit) {
    return bit >= kFirstOutputBit && bit <= kLastOutputBit;
}
// The same pins as bits of a port B byte.
inline constexpr std::uint8_t kOutputMask = 0xFC;
inline constexpr std::uint8_t kInputMask = 0x03;

// "RB5" for bit 5.
std::string portBPinName(int bit);
// The bit of an output pin, "RB2" to "RB7" in either case; nothing for any other text.
std::optional<std::uint8_t> parseOutputPin(std::string_view text);

struct Request {
    std::array<std::uint8_t, 3> buffer{};
    int count = 0;

    std::span<const std::uint8_t> bytes() const {
        return std::span(buffer).first(static_cast<std::size_t>(count));
    }
};

Request statusRequest();
// Throw std::invalid_argument for a bit outside RB2..RB7: the inputs must never be driven.
Request setBitRequest(std::uint8_t bit);
Request clearBitRequest(std::uint8_t bit);
Request readChannelRequest(std::uint8_t selector);

// Channel selector: bit 7 set, the channel number in bits 5..3, bit 0 set. Zero is never a
// selector, which lets the panel use it for "no channel read outstanding".
constexpr std::uint8_t channelSelector(int channelNumber) {
    return static_cast<std::uint8_t>(0x81 + 8 * channelNumber);
}

// What a channel's conversion result stands for: a raw value, or RA5's temperature sensor.
enum class Reading { Raw, Temperature };

struct Channel {
    std::string_view pin;
    int number;
    std::uint8_t selector;
    Reading reading;
};

// RA5 is channel 4: the board has no RA4 input.
inline constexpr std::array<Channel, 5> kChannels{{
    {"RA0", 0, channelSelector(0), Reading::Raw},
    {"RA1", 1, channelSelector(1), Reading::Raw},
    {"RA2", 2, channelSelector(2), Reading::Raw},
    {"RA3", 3, channelSelector(3), Reading::Raw},
    {"RA5", 4, channelSelector(4), Reading::Temperature},
}};

// The channel a selector names, or nullptr for 0 and every byte that is not a selector.
const Channel* findChannel(std::uint8_t selector);
// The channel of an analogue pin, "RA0" to "RA3" or "RA5" in either case; nullptr otherwise.
const Channel* parseAnaloguePin(std::string_view text);

inline constexpr std::size_t kReplySize = 8;
using ReplyBytes = std::array<std::uint8_t, kReplySize>;

// Where a reply carries what the panel reads; the other bytes are the board's own.
inline constexpr std::size_t kPortBOffset = 1;
inline constexpr std::size_t kConversionOffset = 4;  // high byte, then low byte

// The one reply layout: every 8-byte datagram is read with it, whatever it answers.
struct Reply {
    ReplyBytes bytes{};

    std::uint8_t portB() const { return bytes[kPortBOffset]; }
    std::uint16_t conversion() const {
        return static_cast<std::uint16_t>(bytes[kConversionOffset] << 8 |
                                          bytes[kConversionOffset + 1]);
    }
};

// A datagram is a reply only at exactly 8 bytes; nothing of any other size is decoded.
std::optional<Reply> decodeReply(std::span<const std::uint8_t> datagram);

// The board's side: a reply carrying `portB` and `conversion`, all other bytes zero.
Reply encodeReply(std::uint8_t portB, std::uint16_t conversion);

// A request as the board reads it: `argument` is the bit number of a set or clear command, the
// selector of a channel read, and 0 for the status request.
struct DecodedRequest {
    Command command;
    std::uint8_t argument;

    // The pin it names: "RB5" for a set or clear, "RA5" for a read, empty for the status.
    std::string pin() const;

    bool operator==(const DecodedRequest&) const = default;
};

// A datagram's bytes read as a request as far as they go, whether the board takes it or not, so
// that a refused one can still be named: its first byte, the byte where that command carries its
// argument if the datagram reaches it, and whether the board takes the request.
struct RequestFields {
    std::uint8_t command = 0;
    std::optional<std::uint8_t> argument;
    bool accepted = false;
};

// Nothing for an empty datagram.
std::optional<RequestFields> readRequest(std::span<const std::uint8_t> datagram);

// The board's side of the exchange. Anything the panel would never send is rejected: an unknown
// command, a wrong length, an operand other than port B, a bit outside RB2..RB7, an unknown
// selector or a channel read not ending in 0x01. Read through readRequest.
std::optional<DecodedRequest> decodeRequest(std::span<const std::uint8_t> datagram);

}  // namespace vardek::link
