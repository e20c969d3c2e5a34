#include "tools/board-sim/options.h"

#include <algorithm>
#include <map>

#include "cli/command_line.h"
#include "link/reply_text.h"
#include "link/udp_socket.h"

namespace vardek::sim {

namespace {

template <typename Number>
void addNumber(CLI::App& app, const std::string& name, Number& target, std::uint64_t max) {
    app.add_option_function<std::uint64_t>(
           name, [&target](std::uint64_t value) { target = static_cast<Number>(value); })
        ->transform(cli::number(0, max));
}

// "PIN=VALUE" split at the '='; false without an '='.
bool splitAssignment(const std::string& text, std::string& pin, std::string& value) {
    const auto equals = text.find('=');
    if (equals == std::string::npos) {
        return false;
    }
    pin = text.substr(0, equals);
    value = text.substr(equals + 1);
    return true;
}

// "RBn=0" or "RBn=1" for an output RB2..RB7, each pin once.
CLI::Validator stuckOutput(Options& o) {
    return CLI::Validator(
        [&o](std::string& text) -> std::string {
            std::string pin;
            std::string level;
            const auto bitNumber =
                splitAssignment(text, pin, level) ? link::parseOutputPin(pin) : std::nullopt;
            if (!bitNumber || (level != "0" && level != "1")) {
                return "expects RBn=0 or RBn=1 for an output RB2 to RB7, not '" + text + "'";
            }
            const auto bit = static_cast<std::uint8_t>(1u << *bitNumber);
            if ((o.stuckMask & bit) != 0) {
                return "names " + link::portBPinName(*bitNumber) + " twice";
            }
            o.stuckMask |= bit;
            if (level == "1") {
                o.stuckLevels |= bit;
            }
            return {};
        },
        "RBn=0|1");
}

// "RAx=VALUE" for an analogue pin and a result 0..65535, each pin once.
CLI::Validator fixedResult(Options& o) {
    const CLI::Validator result = cli::number(0, 65535);
    return CLI::Validator(
        [&o, result](std::string& text) -> std::string {
            std::string pin;
            std::string value;
            const link::Channel* channel =
                splitAssignment(text, pin, value) ? link::parseAnaloguePin(pin) : nullptr;
            if (channel == nullptr || !result(value).empty()) {
                return "expects RAx=VALUE for RA0, RA1, RA2, RA3 or RA5 and a value from 0 to "
                       "65535 (decimal or 0x hex), not '" +
                       text + "'";
            }
            auto& fixed = o.fixedResults[static_cast<std::size_t>(channel->number)];
            if (fixed) {
                return "names " + std::string(channel->pin) + " twice";
            }
            fixed = static_cast<std::uint16_t>(std::stoul(value));
            return {};
        },
        "RAx=VALUE");
}

std::optional<ReplayEnd> replayEnd(const std::string& name) {
    static const std::map<std::string, ReplayEnd, std::less<>> ends{
        {"repeat-last", ReplayEnd::RepeatLast},
        {"loop", ReplayEnd::Loop},
        {"silent", ReplayEnd::Silent}};
    const auto found = ends.find(name);
    return found == ends.end() ? std::nullopt : std::optional(found->second);
}

}  // namespace

ParsedCommandLine parseCommandLine(std::span<const std::string_view> args) {
    ParsedCommandLine parsed;
    Options& o = parsed.options;
    bool help = false;
    bool version = false;
    CLI::App app{std::string(kProgramName)};
    cli::setUp(app);

    app.add_option("--bind", o.bindAddress)->transform(cli::ipv4Address());
    addNumber(app, "--port", o.port, 65535);
    addNumber(app, "--initial-pb", o.initialPortB, 255);
    app.add_option_function<std::uint64_t>(
           "--seed", [&o](std::uint64_t value) { o.seed = static_cast<std::uint32_t>(value); })
        ->transform(cli::number(0, 4294967295));
    addNumber(app, "--drop-every", o.dropEvery, 4294967295);
    addNumber(app, "--delay-ms", o.delayMs, kMaxDelayMs);
    addNumber(app, "--reply-size", o.replySize, kMaxReplySize);
    addNumber(app, "--drift-ms", o.driftMs, kMaxDriftMs);
    app.add_option("--pcap", o.pcapPath)
        ->check(CLI::Validator(
            [](const std::string& path) { return path.empty() ? "needs a file name" : ""; },
            "FILE"));
    app.add_option("--control", o.controlPath)
        ->check(CLI::Validator(
            [](const std::string& path) {
                // What a Unix-domain socket's address holds, its terminating zero left out.
                return path.empty() || path.size() > kMaxControlPath
                           ? "needs a path of 1 to " + std::to_string(kMaxControlPath) + " bytes"
                           : std::string();
            },
            "PATH"));
    const auto* replay =
        app.add_option("--replay", o.replayPath)
            ->check(CLI::Validator(
                [](const std::string& path) { return path.empty() ? "needs a file name" : ""; },
                "FILE"));
    addNumber(app, "--replay-port", o.replayPort, 65535);
    app.add_flag("--replay-timing", o.replayTiming)->disable_flag_override();
    app.add_option_function<std::string>(
           "--replay-end", [&o](const std::string& end) { o.replayEnd = *replayEnd(end); })
        ->check(CLI::Validator(
            [](const std::string& end) {
                return replayEnd(end) ? std::string()
                                      : "expects repeat-last, loop or silent, not '" + end + "'";
            },
            "repeat-last|loop|silent"));
    // Repeatable, one pin each time.
    std::vector<std::string> faults;
    app.add_option("--stuck", faults)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->check(stuckOutput(o));
    app.add_option("--adc", faults)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->check(fixedResult(o));
    app.add_flag("-h,--help", help)->disable_flag_override();
    app.add_flag("--version", version)->disable_flag_override();

    parsed.error = cli::parse(app, args);
    if (parsed.error.empty() && o.replySize > link::kReplySize && !isLoopback(o.bindAddress)) {
        // A reply goes to whatever source address a request claims: a larger one would let
        // anyone on the network aim the simulator at a third host as an amplifier.
        parsed.error = "--reply-size " + std::to_string(o.replySize) + " is refused with --bind " +
                       o.bindAddress +
                       ": replies larger than 8 bytes are for a loopback address only";
    }
    const bool replayOnly =
        app.count("--replay-port") + app.count("--replay-timing") + app.count("--replay-end") != 0;
    if (parsed.error.empty() && replay->count() == 0 && replayOnly) {
        parsed.error = "--replay-port, --replay-timing and --replay-end need --replay FILE";
    }
    const bool modelFaults =
        o.stuckMask != 0 || o.dropEvery != 0 || o.replySize != link::kReplySize ||
        std::ranges::any_of(o.fixedResults, [](auto& r) { return r.has_value(); });
    if (parsed.error.empty() && replay->count() != 0 && modelFaults) {
        // A replayed board answers with the capture's own bytes, which these would change.
        parsed.error =
            "--replay answers as the capture did: --stuck, --adc, --drop-every and --reply-size "
            "do not apply to it";
    }
    parsed.conclude(help, version);
    return parsed;
}

std::string helpText() {
    return R"(Usage: vardek-board-sim [OPTION]...
Answers the VARDEK board's UDP requests as the board would, for trying out and testing
VARDEK_Control without a board. Every datagram in and out is logged on standard output, one
timestamped line each. SIGINT, SIGTERM, SIGHUP or SIGQUIT ends it with status 0.

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
  --replay FILE      answer as the board in the capture FILE did (pcap or pcapng, raw IPv4 as
                     --pcap writes it, Ethernet or Linux cooked as tcpdump and Wireshark do):
                     each request with the replies that followed the same request bytes
                     there, occurrence by occurrence. A request the capture never holds is
                     logged and not answered. --stuck, --adc, --drop-every and --reply-size do
                     not apply; --delay-ms does, on top of any captured delay.
  --replay-port N    the board's port in the capture (default 10001).
  --replay-timing    send each reply as long after its request as in the capture.
  --replay-end WHAT  once the replies to a request have all been played: repeat-last (the
                     default) answers with the last of them again, loop from the first again,
                     silent not at all. Logged once for each request.
  --control PATH     listen on a Unix-domain socket at PATH (mode 0600) for commands that
                     switch faults on and off while the simulator runs, one a line, each
                     answered "ok" or "error: " and the reason, and logged:
                       silent [SECONDS]  answer nothing (for SECONDS, or until resume)
                       resume            answer again
                       drop-every N      as --drop-every; 0 ends it
                       delay MS          as --delay-ms; 0 ends it
                       reply-size N      as --reply-size; 8 ends it
                       stuck RBn=0|1     as --stuck;  unstuck RBn  ends it
                       adc RAx=VALUE     as --adc;    adc RAx=off  ends it
                       faults            answer "ok: " and the faults in force
                       clear             end every fault
                     Lines longer than 256 bytes are refused. A socket file left at PATH by a
                     simulator that is gone is replaced.
  -h, --help         show this text and exit.
  --version          show the version and exit.

Fault injection:
  --drop-every N     carry out every Nth well-formed request but send no reply (default 0:
                     never). Malformed requests are not counted.
  --delay-ms N       send every reply N ms after its request arrived, up to 600000 (default 0).
                     Replies keep their order and other requests are still read meanwhile. At
                     most 1024 replies and 4 MiB wait at once; beyond that a reply is dropped
                     and logged.
  --reply-size N     reply with N bytes instead of 8, 0 to 65507: fewer are the first N bytes of
                     the reply, more are padded with zero bytes. Above 8 only with a --bind
                     address in 127.0.0.0/8.
  --stuck RBn=0|1    output RBn (2 to 7) ignores set and clear and reads as the given level, as
                     a shorted or open pin would. Repeatable, once per pin.
  --adc RAx=VALUE    channel RAx (RA0-RA3, RA5) always converts to VALUE, 0 to 65535: a dead
                     channel at 0, a shorted one at 1023, RA5 at 300 for 146.5 degrees Celsius.
                     Repeatable, once per pin.
The faults asked for are logged at start, one line each.

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

Exit status: 0 after a stop signal, 1 if a socket or the capture file cannot be opened, 2 for a
bad command line or a --replay file that is not a capture, is damaged or truncated, or holds no
board traffic.
)";
}

bool isLoopback(std::string_view address) {
    const auto parsed = link::parseIpv4(address);
    return parsed && link::isLoopback(*parsed);
}

BoardConfig boardConfig(const Options& options, std::uint32_t seed) {
    return {
        .seed = seed,
        .initialPortB = options.initialPortB,
        .driftPeriod = Millis(options.driftMs),
        .faults =
            {
                .dropEvery = options.dropEvery,
                .replySize = options.replySize,
                .stuckMask = options.stuckMask,
                .stuckLevels = options.stuckLevels,
                .fixedResults = options.fixedResults,
            },
    };
}

}  // namespace vardek::sim
