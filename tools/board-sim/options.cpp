#include "options.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <set>

#include <arpa/inet.h>

namespace vardek::sim {

namespace {

enum class Kind { Address, Number, File, Flag };

struct OptionRule {
    std::string_view name;
    Kind kind;
    std::uint64_t max;
    // Stores the checked value: the text for an address or a file, the number for a number.
    void (*store)(Options&, std::string_view text, std::uint64_t number);
};

constexpr std::array kRules{
    OptionRule{"--bind", Kind::Address, 0,
               [](Options& o, std::string_view text, std::uint64_t) { o.bindAddress = text; }},
    OptionRule{"--port", Kind::Number, 65535,
               [](Options& o, std::string_view, std::uint64_t n) {
                   o.port = static_cast<std::uint16_t>(n);
               }},
    OptionRule{"--initial-pb", Kind::Number, 255,
               [](Options& o, std::string_view, std::uint64_t n) {
                   o.initialPortB = static_cast<std::uint8_t>(n);
               }},
    OptionRule{"--seed", Kind::Number, 4294967295,
               [](Options& o, std::string_view, std::uint64_t n) {
                   o.seed = static_cast<std::uint32_t>(n);
               }},
    OptionRule{"--drop-every", Kind::Number, 4294967295,
               [](Options& o, std::string_view, std::uint64_t n) {
                   o.dropEvery = static_cast<std::uint32_t>(n);
               }},
    OptionRule{"--delay-ms", Kind::Number, kMaxDelayMs,
               [](Options& o, std::string_view, std::uint64_t n) {
                   o.delayMs = static_cast<std::uint32_t>(n);
               }},
    OptionRule{"--reply-size", Kind::Number, kMaxReplySize,
               [](Options& o, std::string_view, std::uint64_t n) {
                   o.replySize = static_cast<std::size_t>(n);
               }},
    OptionRule{"--drift-ms", Kind::Number, kMaxDriftMs,
               [](Options& o, std::string_view, std::uint64_t n) {
                   o.driftMs = static_cast<std::uint32_t>(n);
               }},
    OptionRule{"--pcap", Kind::File, 0,
               [](Options& o, std::string_view text, std::uint64_t) { o.pcapPath = text; }},
    OptionRule{"--help", Kind::Flag, 0,
               [](Options& o, std::string_view, std::uint64_t) { o.help = true; }},
};

std::optional<std::uint64_t> parseNumber(std::string_view text, std::uint64_t max) {
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    // from_chars on an unsigned type takes no sign, so "-1" and "+1" fail here too.
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value > max) {
        return std::nullopt;
    }
    return value;
}

bool isAddress(std::string_view text) {
    in_addr address{};
    return inet_pton(AF_INET, std::string(text).c_str(), &address) == 1;
}

}  // namespace

ParseResult parseOptions(std::span<const std::string_view> args) {
    ParseResult result;
    std::set<std::string_view> seen;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (arg == "-h") {
            arg = "--help";
        }
        const std::size_t equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        if (!name.starts_with("-")) {
            result.error = "unexpected argument '" + std::string(arg) + "'";
            return result;
        }
        const auto rule = std::ranges::find(kRules, name, &OptionRule::name);
        if (rule == kRules.end()) {
            result.error = "unknown option '" + std::string(name) + "'";
            return result;
        }
        if (!seen.insert(rule->name).second) {
            result.error = std::string(name) + " is given more than once";
            return result;
        }
        if (rule->kind == Kind::Flag) {
            if (equals != std::string_view::npos) {
                result.error = std::string(name) + " takes no value";
                return result;
            }
            rule->store(result.options, {}, 0);
            continue;
        }
        std::string_view value;
        if (equals != std::string_view::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            result.error = std::string(name) + " needs a value";
            return result;
        }
        std::uint64_t number = 0;
        if (rule->kind == Kind::Address) {
            if (!isAddress(value)) {
                result.error = std::string(name) + " expects a dotted-decimal IPv4 address, not '" +
                               std::string(value) + "'";
                return result;
            }
        } else if (rule->kind == Kind::File) {
            if (value.empty()) {
                result.error = std::string(name) + " needs a file name";
                return result;
            }
        } else if (const auto parsed = parseNumber(value, rule->max)) {
            number = *parsed;
        } else {
            result.error = std::string(name) + " expects a number from 0 to " +
                           std::to_string(rule->max) + " (decimal or 0x hex), not '" +
                           std::string(value) + "'";
            return result;
        }
        rule->store(result.options, value, number);
    }
    return result;
}

std::string helpText() {
    return R"(Usage: vardek-board-sim [OPTION]...
Answers the VARDEK board's UDP requests as the board would, for trying out and testing
VARDEK_Control without a board. Every datagram in and out is logged on standard output, one
timestamped line each. SIGINT or SIGTERM ends it with status 0.

Options (numbers are decimal or 0x-prefixed hex):
  --bind ADDR        IPv4 address to listen on (default 127.0.0.1). Any address outside
                     127.0.0.0/8 makes the simulator reachable from the network; it is allowed,
                     with a warning.
  --port N           UDP port to listen on (default 10001); 0 lets the system pick one. The
                     first log line names the bound address and port.
  --initial-pb BYTE  port B at start (default 0): bits 2-7 are the output latch, bits 0 and 1
                     the inputs RB0 and RB1, which then change on their own.
  --seed N           seed of the simulated readings and inputs, 0 to 4294967295 (default: a
                     fresh one, printed in the first log line). The same seed gives the same
                     readings at the same times since start.
  --drift-ms N       milliseconds between two drift steps of the readings and inputs, up to
                     3600000 (default 250); 0 keeps them fixed.
  --pcap FILE        also write every datagram in and out to FILE, a pcap capture of raw IPv4
                     packets for Wireshark or tshark. FILE is replaced; each datagram is written
                     as it passes, so the capture can be read while the simulator runs.
  -h, --help         show this text and exit.

Fault injection:
  --drop-every N     carry out every Nth well-formed request but send no reply (default 0:
                     never). Malformed requests are not counted.
  --delay-ms N       send every reply N ms after its request arrived, up to 600000 (default 0).
                     Replies keep their order and other requests are still read meanwhile.
  --reply-size N     reply with N bytes instead of 8, 0 to 65507: fewer are the first N bytes of
                     the reply, more are padded with zero bytes.

Requests and replies:
  00           status
  01 06 n      set port B bit n (2 to 7)
  02 06 n      clear port B bit n (2 to 7)
  04 sel 01    convert a channel: sel 81 RA0, 89 RA1, 91 RA2, 99 RA3, A1 RA5
Each request is answered with 8 bytes, sent to the request's source address and port:
  0    the request's command byte (00, 01, 02 or 04)
  1    port B: the output latch in bits 2-7, the inputs RB0 and RB1 in bits 0 and 1
  2    the request's argument: the bit number, the selector, 00 for status
  3    well-formed requests received so far, this one included, modulo 256 (a dropped reply
       leaves a gap)
  4-5  the last conversion result, big-endian (0 before the first): RA0-RA3 give 0 to 1023,
       RA5 gives 41 to 62 (20.0 to 30.3 degrees Celsius); all drift slowly
  6-7  zero
Anything else (an unknown command, a wrong length, an operand other than 06, a bit outside
2-7, an unknown selector) is logged and not answered, and changes nothing.

Exit status: 0 after SIGINT or SIGTERM, 1 if the socket or the capture file cannot be opened,
2 for a bad command line.
)";
}

bool isLoopback(std::string_view address) {
    in_addr parsed{};
    return inet_pton(AF_INET, std::string(address).c_str(), &parsed) == 1 &&
           (ntohl(parsed.s_addr) >> 24) == 127;
}

BoardConfig boardConfig(const Options& options, std::uint32_t seed) {
    return {
        .seed = seed,
        .initialPortB = options.initialPortB,
        .dropEvery = options.dropEvery,
        .replySize = options.replySize,
        .driftPeriod = Millis(options.driftMs),
    };
}

}  // namespace vardek::sim
