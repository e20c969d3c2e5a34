#include "tools/board-sim/control.h"

#include <cstdio>

#include "cli/command_line.h"
#include "link/reply_text.h"
#include "tools/board-sim/options.h"

namespace vardek::sim {

namespace {

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t start = line.find_first_not_of(" \t", at);
        if (start == std::string_view::npos) {
            break;
        }
        const std::size_t end = std::min(line.find_first_of(" \t", start), line.size());
        out.push_back(line.substr(start, end - start));
        at = end;
    }
    return out;
}

// A number in the range, as the command line takes it; the error names the command.
std::optional<std::uint64_t> number(std::string_view command, std::string_view text,
                                    std::uint64_t max, std::string& error) {
    std::string value(text);
    if (std::string problem = cli::number(0, max)(value); !problem.empty()) {
        error = std::string(command) + ' ' + problem;
        return std::nullopt;
    }
    return std::stoull(value);
}

std::string ordinal(std::uint32_t n) {
    const std::uint32_t tens = n % 100;
    const char* suffix = tens >= 11 && tens <= 13 ? "th"
                         : n % 10 == 1            ? "st"
                         : n % 10 == 2            ? "nd"
                         : n % 10 == 3            ? "rd"
                                                  : "th";
    return std::to_string(n) + suffix;
}

class Command {
  public:
    Command(std::vector<std::string_view> words, RunningFaults& faults, Millis now,
            const ControlLimits& limits)
        : words_(std::move(words)), faults_(faults), now_(now), limits_(limits) {}

    ControlAnswer run() {
        if (words_.empty()) {
            return fail("no command; the commands are " + std::string(kCommands));
        }
        const std::string_view name = words_[0];
        const RunningFaults before = faults_;
        std::string error = carryOut(name);
        if (!error.empty()) {
            faults_ = before;
            return fail(error);
        }
        if (name == "faults") {
            const auto texts = faultTexts(faults_, now_);
            std::string text = "ok: ";
            for (std::size_t i = 0; i < texts.size(); ++i) {
                text += (i == 0 ? "" : "; ") + texts[i];
            }
            return {texts.empty() ? text + "none" : text, false};
        }
        return {"ok", faults_ != before};
    }

  private:
    static constexpr std::string_view kCommands =
        "silent [SECONDS], resume, drop-every N, delay MS, reply-size N, stuck RBn=0|1, "
        "unstuck RBn, adc RAx=VALUE, adc RAx=off, faults, clear";

    static ControlAnswer fail(const std::string& why) {
        return {"error: " + printable(why), false};
    }

    // The error, or empty when carried out.
    std::string carryOut(std::string_view name) {
        Faults& board = faults_.board;
        if (name == "silent") {
            if (!arguments(0, 1)) {
                return usage("silent [SECONDS]");
            }
            faults_.silent = true;
            faults_.silentUntil.reset();
            if (words_.size() == 2) {
                std::string error;
                const auto seconds = number(name, words_[1], kMaxSilentSeconds, error);
                if (!seconds) {
                    return error;
                }
                faults_.silentUntil = now_ + std::chrono::seconds(*seconds);
            }
            return {};
        }
        if (name == "resume" || name == "clear" || name == "faults") {
            if (!arguments(0, 0)) {
                return std::string(name) + " takes nothing after it";
            }
            if (name == "resume") {
                faults_.silent = false;
                faults_.silentUntil.reset();
            } else if (name == "clear") {
                faults_ = {};
            }
            return {};
        }
        if (name == "delay") {
            std::string error;
            const auto ms = arguments(1, 1) ? number(name, words_[1], kMaxDelayMs, error)
                                            : (error = usage("delay MS"), std::nullopt);
            if (ms) {
                faults_.delay = Millis(*ms);
            }
            return error;
        }
        static constexpr std::string_view kBoardCommands[] = {"drop-every", "reply-size", "stuck",
                                                              "unstuck", "adc"};
        if (std::ranges::find(kBoardCommands, name) == std::end(kBoardCommands)) {
            return "unknown command '" + std::string(name) + "'; the commands are " +
                   std::string(kCommands);
        }
        if (limits_.replaying) {
            return std::string(name) + " does not apply while a capture is replayed";
        }
        std::string error;
        if (name == "drop-every") {
            const auto n = arguments(1, 1) ? number(name, words_[1], 4294967295u, error)
                                           : (error = usage("drop-every N"), std::nullopt);
            if (n) {
                board.dropEvery = static_cast<std::uint32_t>(*n);
            }
        } else if (name == "reply-size") {
            const auto n = arguments(1, 1) ? number(name, words_[1], kMaxReplySize, error)
                                           : (error = usage("reply-size N"), std::nullopt);
            if (n && *n > link::kReplySize && !limits_.largeReplies) {
                error = "reply-size above 8 is for a simulator bound to a loopback address only";
            } else if (n) {
                board.replySize = static_cast<std::size_t>(*n);
            }
        } else if (name == "stuck" || name == "unstuck") {
            error = stuck(name == "stuck");
        } else {
            error = adc();
        }
        return error;
    }

    std::string stuck(bool on) {
        Faults& board = faults_.board;
        if (!arguments(1, 1)) {
            return usage(on ? "stuck RBn=0|1" : "unstuck RBn");
        }
        const std::string_view text = words_[1];
        const std::size_t equals = text.find('=');
        const std::string_view level =
            on && equals != std::string_view::npos ? text.substr(equals + 1) : std::string_view{};
        const auto pin = link::parseOutputPin(text.substr(0, on ? equals : text.size()));
        if (!pin || (on && level != "0" && level != "1")) {
            return on ? "stuck expects RBn=0 or RBn=1 for an output RB2 to RB7, not '" +
                            std::string(text) + "'"
                      : "unstuck expects an output RB2 to RB7, not '" + std::string(text) + "'";
        }
        const auto bit = static_cast<std::uint8_t>(1u << *pin);
        board.stuckMask =
            static_cast<std::uint8_t>(on ? board.stuckMask | bit : board.stuckMask & ~bit);
        board.stuckLevels = static_cast<std::uint8_t>(
            on && level == "1" ? board.stuckLevels | bit : board.stuckLevels & ~bit);
        return {};
    }

    std::string adc() {
        if (!arguments(1, 1)) {
            return usage("adc RAx=VALUE or adc RAx=off");
        }
        const std::string_view text = words_[1];
        const std::size_t equals = text.find('=');
        const link::Channel* channel = equals == std::string_view::npos
                                           ? nullptr
                                           : link::parseAnaloguePin(text.substr(0, equals));
        if (channel == nullptr) {
            return "adc expects RAx=VALUE or RAx=off for RA0, RA1, RA2, RA3 or RA5, not '" +
                   std::string(text) + "'";
        }
        auto& fixed = faults_.board.fixedResults[static_cast<std::size_t>(channel->number)];
        const std::string_view value = text.substr(equals + 1);
        if (value == "off") {
            fixed.reset();
            return {};
        }
        std::string error;
        if (const auto result = number("adc", value, 65535, error)) {
            fixed = static_cast<std::uint16_t>(*result);
        }
        return error;
    }

    bool arguments(std::size_t min, std::size_t max) const {
        return words_.size() - 1 >= min && words_.size() - 1 <= max;
    }

    static std::string usage(std::string_view form) { return "usage: " + std::string(form); }

    std::vector<std::string_view> words_;
    RunningFaults& faults_;
    Millis now_;
    const ControlLimits& limits_;
};

}  // namespace

ControlAnswer runControlLine(std::string_view line, RunningFaults& faults, Millis now,
                             const ControlLimits& limits) {
    if (line.ends_with('\r')) {  // from a client that ends its lines the network's way
        line.remove_suffix(1);
    }
    return Command(words(line), faults, now, limits).run();
}

Silence silenceAt(RunningFaults& faults, Millis now) {
    if (!faults.silent) {
        return Silence::Off;
    }
    if (faults.silentUntil && now >= *faults.silentUntil) {
        faults.silent = false;
        faults.silentUntil.reset();
        return Silence::Ended;
    }
    return Silence::On;
}

std::vector<std::string> faultTexts(const RunningFaults& faults, Millis now) {
    std::vector<std::string> texts;
    if (faults.silent) {
        if (faults.silentUntil) {
            const auto left = std::chrono::ceil<std::chrono::seconds>(
                std::max(*faults.silentUntil - now, Millis::zero()));
            texts.push_back("silent for " + std::to_string(left.count()) + " s more");
        } else {
            texts.push_back("silent until resume");
        }
    }
    const Faults& board = faults.board;
    if (board.dropEvery != 0) {
        texts.push_back(board.dropEvery == 1
                            ? "no reply to any request"
                            : "no reply to every " + ordinal(board.dropEvery) + " request");
    }
    if (faults.delay != Millis::zero()) {
        texts.push_back("replies " + std::to_string(faults.delay.count()) + " ms late");
    }
    if (board.replySize != link::kReplySize) {
        texts.push_back("replies of " + std::to_string(board.replySize) + " bytes");
    }
    for (int bit = link::kFirstOutputBit; bit <= link::kLastOutputBit; ++bit) {
        if ((board.stuckMask >> bit & 1) != 0) {
            texts.push_back(link::portBPinName(bit) + " stuck at " +
                            std::to_string(board.stuckLevels >> bit & 1));
        }
    }
    for (const link::Channel& channel : link::kChannels) {
        if (const auto fixed = board.fixedResults[static_cast<std::size_t>(channel.number)]) {
            // A temperature hides the value given, so that stands beside it.
            const std::string reading = link::readingText(channel, *fixed);
            const std::string shown = channel.reading == link::Reading::Temperature
                                          ? std::to_string(*fixed) + " (" + reading + ")"
                                          : reading;
            texts.push_back(std::string(channel.pin) + " converts to " + shown);
        }
    }
    return texts;
}

std::string printable(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            out += c;
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        }
    }
    return out;
}

}  // namespace vardek::sim
