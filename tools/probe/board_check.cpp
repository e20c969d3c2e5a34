#include "board_check.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>

#include "reply_text.h"
#include "report.h"

namespace vardek::probe {

namespace {

using Clock = std::chrono::steady_clock;

std::string decimals(double value, int places) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", places, value);
    return text;
}

// The outputs as bits RB7..RB2, the way a person reads the board's header.
std::string outputBits(std::uint8_t portB) {
    std::string text;
    for (int bit = link::kLastOutputBit; bit >= link::kFirstOutputBit; --bit) {
        text += (portB >> bit & 1) != 0 ? '1' : '0';
    }
    return text;
}

std::string joined(const std::vector<std::string>& parts, const char* separator) {
    std::string text;
    for (const std::string& part : parts) {
        text += (text.empty() ? "" : separator) + part;
    }
    return text;
}

std::string jsonList(const std::vector<std::string>& items) {
    return '[' + joined(items, ",") + ']';
}

class Checks {
  public:
    Checks(CheckedBoard& board, const CheckSettings& settings)
        : board_(board), settings_(settings) {}

    CheckRun run() {
        CheckResult reachable = timed([this] { return this->reachable(); });
        if (run_.end != CheckRun::End::Finished) {
            return run_;
        }
        const bool silent = board_.datagramSizes().empty();
        CheckResult outputs = silent ? skip("outputs", "the board did not answer")
                                     : timed([this] { return this->outputs(); });
        if (run_.end != CheckRun::End::Finished) {
            return run_;
        }
        CheckResult analogue = !lastReply_ ? skip("analogue", "no 8-byte reply came")
                                           : timed([this] { return this->analogue(); });
        if (run_.end != CheckRun::End::Finished) {
            return run_;
        }
        // Judged last, so it covers every datagram of the check, but shown second.
        run_.answered = !silent;
        run_.results = {reachable, replySize(), outputs, analogue, inputs()};
        return run_;
    }

  private:
    template <typename Check>
    CheckResult timed(Check check) {
        const auto started = Clock::now();
        CheckResult result = check();
        result.duration = Clock::now() - started;
        return result;
    }

    static CheckResult skip(const char* name, std::string why) {
        return {name, Verdict::Skip, std::move(why), {}, {}};
    }

    // The answer to one request, remembered when it is a reply; false when the check must end
    // (the send was refused or a signal came).
    bool ask(const link::Request& request, Answer& answer, bool evenIfStopped = false) {
        answer = board_.ask(request, evenIfStopped);
        switch (answer.kind) {
            case Answer::Kind::Reply:
                lastReply_ = answer.reply;
                return true;
            case Answer::Kind::NotSent:
                run_.end = CheckRun::End::NotSent;
                return false;
            case Answer::Kind::Stopped:
                run_.end = CheckRun::End::Stopped;
                return false;
            case Answer::Kind::WrongSize:
            case Answer::Kind::NoReply:
                return true;
        }
        return true;
    }

    CheckResult reachable() {
        CheckResult result{"reachable", Verdict::Pass, {}, {}, {}};
        std::vector<double> trips;
        for (std::uint32_t sent = 0; sent < settings_.count; ++sent) {
            Answer answer;
            if (!ask(link::statusRequest(), answer)) {
                return result;
            }
            if (answer.kind == Answer::Kind::Reply && !firstStatus_) {
                firstStatus_ = answer.reply;
            }
            if (answer.kind == Answer::Kind::Reply || answer.kind == Answer::Kind::WrongSize) {
                trips.push_back(answer.roundTrip.count());
            }
        }
        const auto answered = trips.size();
        result.detail =
            std::to_string(answered) + '/' + std::to_string(settings_.count) + " answered";
        result.values = {{"sent", std::to_string(settings_.count)},
                         {"answered", std::to_string(answered)}};
        if (answered < settings_.count) {
            result.verdict = Verdict::Fail;
        }
        if (!trips.empty()) {
            std::ranges::sort(trips);
            const double median = answered % 2 == 1
                                      ? trips[answered / 2]
                                      : (trips[answered / 2 - 1] + trips[answered / 2]) / 2;
            result.detail += ", round trip min " + decimals(trips.front(), 3) + " / median " +
                             decimals(median, 3) + " / max " + decimals(trips.back(), 3) + " ms";
            result.values.insert(result.values.end(), {{"rtt_min_ms", decimals(trips.front(), 3)},
                                                       {"rtt_median_ms", decimals(median, 3)},
                                                       {"rtt_max_ms", decimals(trips.back(), 3)}});
        }
        return result;
    }

    CheckResult replySize() const {
        const auto& sizes = board_.datagramSizes();
        if (sizes.empty()) {
            return skip("reply-size", "no datagram came from the board");
        }
        unsigned total = 0;
        std::vector<std::string> wrong;
        std::vector<std::string> wrongSizes;
        for (const auto& [size, count] : sizes) {
            total += count;
            if (size != link::kReplySize) {
                wrong.push_back(std::to_string(size) +
                                " bytes instead of 8: " + std::to_string(count));
                wrongSizes.push_back(std::to_string(size));
            }
        }
        CheckResult result{"reply-size", Verdict::Pass, {}, {}, {}};
        result.values = {{"datagrams", std::to_string(total)},
                         {"wrong_sizes", jsonList(wrongSizes)}};
        if (wrong.empty()) {
            result.detail = "all " + std::to_string(total) + " datagrams 8 bytes";
        } else {
            result.verdict = Verdict::Fail;
            result.detail = joined(wrong, ", ") + " of " + std::to_string(total) + " datagrams";
        }
        return result;
    }

    // Each output set, then cleared, its own bit read back and the others watched; then every
    // touched output goes back to its level in the first status reply.
    CheckResult outputs() {
        if (!settings_.outputs) {
            return skip("outputs",
                        "not switched without --outputs: they drive what is wired to them");
        }
        if (!firstStatus_) {
            return skip("outputs", "no 8-byte status reply to learn their levels from");
        }
        const std::uint8_t original = firstStatus_->portB();
        std::uint8_t last = original;
        std::uint8_t touched = 0;
        std::vector<std::string> faults;
        std::vector<std::string> stuck;
        bool answering = true;
        for (int bit = link::kFirstOutputBit; bit <= link::kLastOutputBit && answering; ++bit) {
            const auto mask = static_cast<std::uint8_t>(1u << bit);
            std::array<int, 2> levelAfter{-1, -1};  // after set, after clear
            for (const bool set : {true, false}) {
                const auto bitNumber = static_cast<std::uint8_t>(bit);
                Answer answer;
                touched |= mask;
                if (!ask(set ? link::setBitRequest(bitNumber) : link::clearBitRequest(bitNumber),
                         answer)) {
                    run_.restored = restore(original, touched);
                    return {};
                }
                const std::string what = (set ? "set " : "clear ") + link::portBPinName(bit);
                if (answer.kind != Answer::Kind::Reply) {
                    faults.push_back("no 8-byte reply to " + what);
                    answering = false;
                    break;
                }
                const std::uint8_t portB = answer.reply.portB();
                levelAfter[set ? 0 : 1] = portB >> bit & 1;
                const auto others =
                    static_cast<std::uint8_t>((portB ^ last) & link::kOutputMask & ~mask);
                for (int other = link::kFirstOutputBit; other <= link::kLastOutputBit; ++other) {
                    if ((others >> other & 1) != 0) {
                        faults.push_back(what + " also changed " + link::portBPinName(other));
                    }
                }
                last = portB;
            }
            if (levelAfter[0] >= 0 && levelAfter[0] == levelAfter[1]) {
                faults.push_back(link::portBPinName(bit) + " stuck at " +
                                 std::to_string(levelAfter[0]));
                stuck.push_back("{\"pin\":\"" + link::portBPinName(bit) +
                                "\",\"level\":" + std::to_string(levelAfter[0]) + '}');
            } else if (levelAfter[0] == 0 && levelAfter[1] == 1) {
                faults.push_back(link::portBPinName(bit) + " reads 0 when set and 1 when cleared");
            }
        }
        const std::string restored = restore(original, touched);
        if (run_.end != CheckRun::End::Finished) {
            run_.restored = restored;
            return {};
        }
        if (!restored.starts_with("restored")) {
            faults.push_back(restored);
        }
        CheckResult result{"outputs", faults.empty() ? Verdict::Pass : Verdict::Fail, {}, {}, {}};
        result.detail =
            faults.empty() ? "RB2..RB7 each set and cleared; " + restored : joined(faults, "; ");
        result.values = {{"port_b_before", std::to_string(original)},
                         {"port_b_after", std::to_string(lastReply_ ? lastReply_->portB() : 0)},
                         {"stuck", jsonList(stuck)}};
        return result;
    }

    // Puts each touched output back at its original level, a signal notwithstanding, and says
    // how that went. A board that stops answering ends it: every further try would only wait.
    std::string restore(std::uint8_t original, std::uint8_t touched) {
        std::optional<std::uint8_t> portB;
        for (int bit = link::kFirstOutputBit; bit <= link::kLastOutputBit; ++bit) {
            if ((touched >> bit & 1) == 0) {
                continue;
            }
            const auto bitNumber = static_cast<std::uint8_t>(bit);
            const Answer answer =
                board_.ask((original >> bit & 1) != 0 ? link::setBitRequest(bitNumber)
                                                      : link::clearBitRequest(bitNumber),
                           true);
            if (answer.kind != Answer::Kind::Reply) {
                return "outputs not restored: no 8-byte reply to putting " +
                       link::portBPinName(bit) + " back";
            }
            lastReply_ = answer.reply;
            portB = answer.reply.portB();
        }
        if (!portB) {
            return "restored RB7..RB2=" + outputBits(original);
        }
        const auto differ = static_cast<std::uint8_t>((*portB ^ original) & link::kOutputMask);
        if (differ != 0) {
            return "outputs not restored: RB7..RB2=" + outputBits(*portB) + ", found " +
                   outputBits(original);
        }
        return "restored RB7..RB2=" + outputBits(original);
    }

    CheckResult analogue() {
        CheckResult result{"analogue", Verdict::Pass, {}, {}, {}};
        std::vector<std::string> shown;
        std::vector<std::string> faults;
        for (const link::Channel& channel : link::kChannels) {
            Answer answer;
            if (!ask(link::readChannelRequest(channel.selector), answer)) {
                return {};
            }
            const std::string pin(channel.pin);
            if (answer.kind != Answer::Kind::Reply) {
                faults.push_back("no 8-byte reply to read " + pin);
                break;
            }
            const std::uint16_t value = answer.reply.conversion();
            result.values.emplace_back(pin, std::to_string(value));
            if (value > settings_.adcMax) {
                faults.push_back(pin + " " + std::to_string(value) + " above " +
                                 std::to_string(settings_.adcMax));
            }
            const std::string text = link::readingText(channel, value);
            shown.push_back(pin + '=' + text);
            if (channel.reading != link::Reading::Temperature) {
                continue;
            }
            const double celsius = static_cast<double>(link::temperatureTenths(value)) / 10;
            result.values.emplace_back(pin + "_celsius", decimals(celsius, 1));
            if (celsius < settings_.lowestCelsius || celsius > settings_.highestCelsius) {
                faults.push_back(pin + ' ' + text + " outside " + settings_.temperatureRange);
            }
        }
        result.detail = joined(shown, " ");
        if (!faults.empty()) {
            result.verdict = Verdict::Fail;
            result.detail += (result.detail.empty() ? "" : "; ") + joined(faults, "; ");
        }
        return result;
    }

    CheckResult inputs() const {
        if (!lastReply_) {
            return skip("inputs", "no 8-byte reply came");
        }
        const std::uint8_t portB = lastReply_->portB();
        const std::string rb0 = std::to_string(portB & 1);
        const std::string rb1 = std::to_string(portB >> 1 & 1);
        return {"inputs",
                Verdict::Pass,
                "RB0=" + rb0 + " RB1=" + rb1,
                {{"RB0", rb0}, {"RB1", rb1}},
                {}};
    }

    CheckedBoard& board_;
    const CheckSettings& settings_;
    CheckRun run_;
    std::optional<link::Reply> firstStatus_;
    std::optional<link::Reply> lastReply_;
};

bool parseCelsius(std::string_view text, double& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && error == std::errc{} && end == text.data() + text.size();
}

// What XML 1.0 allows in text and attributes, the markup characters escaped. Control
// characters other than tab and newline cannot appear in XML at all.
std::string xmlText(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&apos;";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') {
                    escaped += '?';
                } else {
                    escaped += c;
                }
        }
    }
    return escaped;
}

int countOf(const CheckRun& run, Verdict verdict) {
    return static_cast<int>(std::ranges::count(run.results, verdict, &CheckResult::verdict));
}

}  // namespace

CheckRun runChecks(CheckedBoard& board, const CheckSettings& settings) {
    return Checks(board, settings).run();
}

bool parseTemperatureRange(std::string_view text, double& low, double& high) {
    // A colon after the first character, so "-5:40" splits after "-5".
    const auto colon = text.find(':', 1);
    return colon != std::string_view::npos && parseCelsius(text.substr(0, colon), low) &&
           parseCelsius(text.substr(colon + 1), high) && low <= high;
}

const char* verdictText(Verdict verdict) {
    switch (verdict) {
        case Verdict::Pass:
            return "PASS";
        case Verdict::Fail:
            return "FAIL";
        case Verdict::Skip:
            break;
    }
    return "SKIP";
}

std::string humanLine(const CheckResult& result) {
    char head[32];
    std::snprintf(head, sizeof head, "%-12s%s  ", result.name.c_str(), verdictText(result.verdict));
    return head + result.detail;
}

std::string jsonLine(const CheckResult& result) {
    std::string line = "{\"check\":" + jsonString(result.name) +
                       ",\"result\":" + jsonString(verdictText(result.verdict)) +
                       ",\"detail\":" + jsonString(result.detail);
    for (const auto& [name, json] : result.values) {
        line += ',' + jsonString(name) + ':' + json;
    }
    return line + '}';
}

std::string summaryLine(const CheckRun& run, const std::string& board, bool json) {
    const char* verdict = countOf(run, Verdict::Fail) == 0 && run.answered ? "PASS" : "FAIL";
    const std::string passed = std::to_string(countOf(run, Verdict::Pass));
    const std::string failed = std::to_string(countOf(run, Verdict::Fail));
    const std::string skipped = std::to_string(countOf(run, Verdict::Skip));
    if (json) {
        return "{\"summary\":" + jsonString(verdict) + ",\"board\":" + jsonString(board) +
               ",\"passed\":" + passed + ",\"failed\":" + failed + ",\"skipped\":" + skipped + '}';
    }
    return "check " + board + ": " + verdict + " (" + passed + " passed, " + failed + " failed, " +
           skipped + " skipped)";
}

std::string junitReport(const CheckRun& run, const std::string& board) {
    std::chrono::duration<double> total{};
    for (const CheckResult& result : run.results) {
        total += result.duration;
    }
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml += "<testsuite name=\"" + xmlText(board) + "\" tests=\"" +
           std::to_string(run.results.size()) + "\" failures=\"" +
           std::to_string(countOf(run, Verdict::Fail)) + "\" errors=\"0\" skipped=\"" +
           std::to_string(countOf(run, Verdict::Skip)) + "\" time=\"" + decimals(total.count(), 3) +
           "\">\n";
    for (const CheckResult& result : run.results) {
        const std::string detail = xmlText(result.detail);
        xml += "  <testcase classname=\"vardek-probe.check\" name=\"" + xmlText(result.name) +
               "\" time=\"" + decimals(result.duration.count(), 3) + "\">";
        switch (result.verdict) {
            case Verdict::Fail:
                xml += "<failure message=\"" + detail + "\">" + detail + "</failure>";
                break;
            case Verdict::Skip:
                xml += "<skipped message=\"" + detail + "\"/>";
                break;
            case Verdict::Pass:
                xml += "<system-out>" + detail + "</system-out>";
                break;
        }
        xml += "</testcase>\n";
    }
    return xml + "</testsuite>\n";
}

}  // namespace vardek::probe
