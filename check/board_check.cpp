#include "check/board_check.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>

#include "link/reply_text.h"
#include "readings/log_format.h"

namespace vardek::check {

using readings::jsonString;

namespace {

using Clock = std::chrono::steady_clock;

// The converter's full scale: 10 bits.

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

// What a check says of a request that got no 8-byte reply in time.
std::string unanswered(const Answer& answer, const std::string& what, std::uint32_t timeoutMs) {
    if (answer.kind == Answer::Kind::Late) {
        return "the reply to " + what + " came " + lateText(answer.roundTrip, timeoutMs);
    }
    return "no 8-byte reply to " + what;
}

class Checks {
  public:
    Checks(CheckedBoard& board, const CheckSettings& settings, Operator* asked)
        : board_(board), settings_(settings), asked_(asked) {}

    Task<CheckRun> run() {
        CheckResult reachable = co_await timed(this->reachable());
        if (run_.end != CheckRun::End::Finished) {
            co_return run_;
        }
        const bool silent = board_.datagramSizes().empty();
        CheckResult outputs = skip("outputs", "the board did not answer");
        if (!silent) {
            outputs = co_await timed(this->outputs());
        }
        if (run_.end != CheckRun::End::Finished) {
            co_return run_;
        }
        CheckResult analogue = skip("analogue", "no 8-byte reply came in time");
        if (lastReply_) {
            analogue = co_await timed(this->analogue());
        }
        if (run_.end != CheckRun::End::Finished) {
            co_return run_;
        }
        // The board's requests, counted over every check, are judged with the reachable check:
        // a board that needed retries loses requests, which the retries would otherwise hide.
        const auto count = [&](const char* name, unsigned value) {
            reachable.measurements.push_back(measured(name, value, "", limit(name), 0));
        };
        count("requests_sent", traffic_.sent);
        count("requests_answered", traffic_.answered);
        count("retries", traffic_.retried);
        count("late_replies", traffic_.late);
        // A board that never answered is that, whatever its counts say.
        judge(reachable, reachableFaulty_, !neverAnswered_);
        // Judged last, so it covers every datagram of the check, but shown second.
        run_.answered = !silent;
        run_.results = {reachable, replySize(), outputs, analogue, inputs()};
        co_return run_;
    }

  private:
    // The check, timed from its start to its end.
    static Task<CheckResult> timed(Task<CheckResult> check) {
        const auto started = Clock::now();
        CheckResult result = co_await check;
        result.duration = Clock::now() - started;
        co_return result;
    }

    static CheckResult skip(const char* name, std::string why) {
        return {name, Outcome::Skip, std::move(why), {}, {}, {}};
    }

    Limits limit(std::string_view name) const {
        const auto found = settings_.limits.find(name);
        return found == settings_.limits.end() ? Limits{} : found->second;
    }

    // The check's verdict from a fault of its own and from its measurements, whose failures and
    // margins the detail names when `describe` (the outputs' read-backs say it as stuck pins).
    static void judge(CheckResult& result, bool faulty, bool describe = true) {
        const auto any = [&](Outcome outcome) {
            return std::ranges::any_of(result.measurements,
                                       [&](const Measurement& m) { return m.outcome == outcome; });
        };
        result.verdict = faulty || any(Outcome::Fail) ? Outcome::Fail
                         : any(Outcome::Marginal)     ? Outcome::Marginal
                                                      : Outcome::Pass;
        if (!describe) {
            return;
        }
        for (const Measurement& measurement : result.measurements) {
            if (const std::string problem = outcomeProblem(measurement); !problem.empty()) {
                result.detail += (result.detail.empty() ? "" : "; ") + problem;
            }
        }
    }

    // The answer to one request, remembered when it is a reply; false when the check must end
    // (the send was refused or a signal came).
    Task<bool> ask(link::Request request, Answer& answer, bool evenIfStopped = false) {
        answer = co_await board_.ask(request, evenIfStopped);
        counted(answer);
        switch (answer.kind) {
            case Answer::Kind::Reply:
                lastReply_ = answer.reply;
                co_return true;
            case Answer::Kind::NotSent:
                run_.end = CheckRun::End::NotSent;
                co_return false;
            case Answer::Kind::Stopped:
                run_.end = CheckRun::End::Stopped;
                co_return false;
            case Answer::Kind::WrongSize:
            case Answer::Kind::Late:
            case Answer::Kind::NoReply:
                co_return true;
        }
        co_return true;
    }

    void counted(const Answer& answer) {
        traffic_.sent += answer.tries;
        traffic_.retried += answer.tries > 0 ? answer.tries - 1 : 0;
        traffic_.late += answer.lateReplies;
        const bool answered =
            answer.kind == Answer::Kind::Reply || answer.kind == Answer::Kind::WrongSize;
        traffic_.answered += answered ? 1 : 0;
    }

    // Judged once the whole check is done, when the board's requests are all counted.
    Task<CheckResult> reachable() {
        CheckResult result{"reachable", Outcome::Pass, {}, {}, {}, {}};
        std::vector<double> trips;
        std::vector<double> late;
        for (std::uint32_t sent = 0; sent < settings_.count; ++sent) {
            Answer answer;
            const bool going = co_await ask(link::statusRequest(), answer);
            if (!going) {
                co_return result;
            }
            if (answer.kind == Answer::Kind::Late) {
                late.push_back(answer.roundTrip.count());
            }
            // A board that answers nothing to its first request, after every try, is not
            // there: a further request would only wait as long again, for each of them.
            if (sent == 0 && answer.kind == Answer::Kind::NoReply &&
                board_.datagramSizes().empty()) {
                result.measurements = {measured("rtt_median", {}, "ms", limit("rtt_median"), 3),
                                       measured("rtt_max", {}, "ms", limit("rtt_max"), 3)};
                result.detail = "never answered: no reply to a status request after " +
                                std::to_string(answer.tries) +
                                (answer.tries == 1 ? " try" : " tries") + " of " +
                                std::to_string(board_.timeoutMs()) + " ms";
                result.values = {{"sent", "1"}, {"answered", "0"}};
                reachableFaulty_ = true;
                neverAnswered_ = true;
                co_return result;
            }
            if (answer.kind == Answer::Kind::Reply && !firstStatus_) {
                firstStatus_ = answer.reply;
            }
            if (answer.kind == Answer::Kind::Reply || answer.kind == Answer::Kind::WrongSize) {
                trips.push_back(answer.roundTrip.count());
            }
        }
        const auto answered = trips.size();
        std::optional<double> median;
        if (!trips.empty()) {
            std::ranges::sort(trips);
            median = answered % 2 == 1 ? trips[answered / 2]
                                       : (trips[answered / 2 - 1] + trips[answered / 2]) / 2;
        }
        const auto roundTrip = [&](const char* name, std::optional<double> value) {
            return measured(name, value, "ms", limit(name), 3);
        };
        result.measurements = {
            roundTrip("rtt_median", median),
            roundTrip("rtt_max", trips.empty() ? std::nullopt : std::optional(trips.back()))};
        result.detail =
            std::to_string(answered) + '/' + std::to_string(settings_.count) + " answered";
        // A board slower than the timeout answers every request, only too late: it is named
        // as slow, by its fastest late answer, not as silent.
        if (!late.empty()) {
            result.detail += ", " + std::to_string(late.size()) +
                             (late.size() == 1 ? " reply " : " replies ") +
                             lateText(Milliseconds(std::ranges::min(late)), board_.timeoutMs());
        }
        result.values = {{"sent", std::to_string(settings_.count)},
                         {"answered", std::to_string(answered)}};
        if (median) {
            result.detail += ", round trip min " + decimals(trips.front(), 3) + " / median " +
                             decimals(*median, 3) + " / max " + decimals(trips.back(), 3) + " ms";
            result.values.insert(result.values.end(), {{"rtt_min_ms", decimals(trips.front(), 3)},
                                                       {"rtt_median_ms", decimals(*median, 3)},
                                                       {"rtt_max_ms", decimals(trips.back(), 3)}});
        }
        reachableFaulty_ = answered < settings_.count;
        co_return result;
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
        CheckResult result{"reply-size", Outcome::Pass, {}, {}, {}, {}};
        result.values = {{"datagrams", std::to_string(total)},
                         {"wrong_sizes", jsonList(wrongSizes)}};
        if (wrong.empty()) {
            result.detail = "all " + std::to_string(total) + " datagrams 8 bytes";
        } else {
            result.verdict = Outcome::Fail;
            result.detail = joined(wrong, ", ") + " of " + std::to_string(total) + " datagrams";
        }
        return result;
    }

    // Each output set, then cleared, its own bit read back and the others watched; then every
    // touched output goes back to its level in the first status reply.
    Task<CheckResult> outputs() {
        if (!settings_.outputs) {
            co_return skip("outputs",
                           "not switched without --outputs: they drive what is wired to them");
        }
        if (!firstStatus_) {
            co_return skip("outputs", "no 8-byte status reply in time to learn their levels from");
        }
        const std::uint8_t original = firstStatus_->portB();
        std::uint8_t last = original;
        std::uint8_t touched = 0;
        std::vector<std::string> faults;
        std::vector<std::string> stuck;
        std::vector<Measurement> readBacks;
        bool answering = true;
        for (int bit = link::kFirstOutputBit; bit <= link::kLastOutputBit && answering; ++bit) {
            const auto mask = static_cast<std::uint8_t>(1u << bit);
            std::array<int, 2> levelAfter{-1, -1};  // after set, after clear
            for (const bool set : {true, false}) {
                const auto bitNumber = static_cast<std::uint8_t>(bit);
                Answer answer;
                touched |= mask;
                const auto request =
                    set ? link::setBitRequest(bitNumber) : link::clearBitRequest(bitNumber);
                const bool going = co_await ask(request, answer);
                if (!going) {
                    run_.restored = co_await restore(original, touched);
                    co_return CheckResult{};
                }
                const std::string what = (set ? "set " : "clear ") + link::portBPinName(bit);
                if (answer.kind != Answer::Kind::Reply) {
                    faults.push_back(unanswered(answer, what, board_.timeoutMs()));
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
                if (asked_ != nullptr) {
                    const bool going = co_await confirm(bit, set, readBacks, faults);
                    if (!going) {
                        run_.restored = co_await restore(original, touched);
                        co_return CheckResult{};
                    }
                }
            }
            for (const bool set : {true, false}) {
                const int level = levelAfter[set ? 0 : 1];
                if (level >= 0) {
                    const double wanted = set ? 1 : 0;
                    readBacks.push_back(
                        measured(link::portBPinName(bit) + (set ? "_set" : "_clear"), level, "",
                                 {wanted, wanted, {}, {}}, 0));
                }
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
        const std::string restored = co_await restore(original, touched);
        if (run_.end != CheckRun::End::Finished) {
            run_.restored = restored;
            co_return CheckResult{};
        }
        if (!restored.starts_with("restored")) {
            faults.push_back(restored);
        }
        CheckResult result{"outputs", Outcome::Pass, {}, {}, std::move(readBacks), {}};
        result.detail =
            faults.empty() ? "RB2..RB7 each set and cleared; " + restored : joined(faults, "; ");
        result.values = {{"port_b_before", std::to_string(original)},
                         {"port_b_after", std::to_string(lastReply_ ? lastReply_->portB() : 0)},
                         {"stuck", jsonList(stuck)}};
        judge(result, !faults.empty(), false);
        co_return result;
    }

    // The operator's word on an output just set or cleared, a measurement: 1 for what it
    // should be (on after set, off after clear), 0 for not, none and a failure without an
    // answer. False when a signal came instead.
    Task<bool> confirm(int bit, bool set, std::vector<Measurement>& measurements,
                       std::vector<std::string>& faults) {
        const std::string pin = link::portBPinName(bit);
        const std::string done = pin + (set ? " set" : " cleared");
        const OperatorAnswer said =
            co_await asked_->confirm(done + (set ? ": is it on? [y/n]" : ": is it off? [y/n]"));
        if (said == OperatorAnswer::Stopped) {
            run_.end = CheckRun::End::Stopped;
            co_return false;
        }
        std::optional<double> value;
        if (said != OperatorAnswer::None) {
            value = said == OperatorAnswer::Yes ? 1 : 0;
        }
        Measurement seen = measured(pin + (set ? "_on" : "_off"), value, "", {1, 1, {}, {}}, 0);
        if (said == OperatorAnswer::None) {
            seen.outcome = Outcome::Fail;
            seen.note = "no answer";
            faults.push_back(done + ": no answer");
        } else if (said == OperatorAnswer::No) {
            faults.push_back(done + (set ? " but not on" : " but not off") + ", says the operator");
        }
        measurements.push_back(std::move(seen));
        co_return true;
    }

    // Puts each touched output back at its original level, a signal notwithstanding, and says
    // how that went. A board that stops answering ends it: every further try would only wait.
    Task<std::string> restore(std::uint8_t original, std::uint8_t touched) {
        std::optional<std::uint8_t> portB;
        for (int bit = link::kFirstOutputBit; bit <= link::kLastOutputBit; ++bit) {
            if ((touched >> bit & 1) == 0) {
                continue;
            }
            const auto bitNumber = static_cast<std::uint8_t>(bit);
            const auto request = (original >> bit & 1) != 0 ? link::setBitRequest(bitNumber)
                                                            : link::clearBitRequest(bitNumber);
            const Answer answer = co_await board_.ask(request, true);
            counted(answer);
            // A late 8-byte reply still answers this request, the one before it having been
            // waited out: it tells where the output went.
            const bool replied =
                answer.kind == Answer::Kind::Reply ||
                (answer.kind == Answer::Kind::Late && answer.size == link::kReplySize);
            if (!replied) {
                co_return "outputs not restored: no 8-byte reply to putting " +
                    link::portBPinName(bit) + " back";
            }
            lastReply_ = answer.reply;
            portB = answer.reply.portB();
        }
        if (!portB) {
            co_return "restored RB7..RB2=" + outputBits(original);
        }
        const auto differ = static_cast<std::uint8_t>((*portB ^ original) & link::kOutputMask);
        if (differ != 0) {
            co_return "outputs not restored: RB7..RB2=" + outputBits(*portB) + ", found " +
                outputBits(original);
        }
        co_return "restored RB7..RB2=" + outputBits(original);
    }

    Task<CheckResult> analogue() {
        CheckResult result{"analogue", Outcome::Pass, {}, {}, {}, {}};
        std::vector<std::string> shown;
        bool answering = true;
        for (const link::Channel& channel : link::kChannels) {
            Answer answer;
            const bool going = co_await ask(link::readChannelRequest(channel.selector), answer);
            if (!going) {
                co_return CheckResult{};
            }
            const std::string pin(channel.pin);
            if (answer.kind != Answer::Kind::Reply) {
                shown.push_back(unanswered(answer, "read " + pin, board_.timeoutMs()));
                answering = false;
                break;
            }
            const std::uint16_t value = answer.reply.conversion();
            result.values.emplace_back(pin, std::to_string(value));
            shown.push_back(pin + '=' + link::readingText(channel, value));
            if (channel.reading == link::Reading::Raw) {
                result.measurements.push_back(measured(pin, value, "", limit(pin), 0));
                continue;
            }
            const double celsius = link::temperatureCelsius(value);
            result.values.emplace_back(pin + "_celsius", decimals(celsius, 1));
            result.measurements.push_back(
                measured(pin, celsius, std::string(link::kCelsiusSign), limit(pin), 1));
        }
        result.detail = joined(shown, " ");
        judge(result, !answering);
        co_return result;
    }

    CheckResult inputs() const {
        if (!lastReply_) {
            return skip("inputs", "no 8-byte reply came in time");
        }
        const std::uint8_t portB = lastReply_->portB();
        CheckResult result{"inputs", Outcome::Pass, {}, {}, {}, {}};
        for (const int bit : {0, 1}) {
            const std::string pin = link::portBPinName(bit);
            const int level = portB >> bit & 1;
            result.detail += (bit == 0 ? "" : " ") + pin + '=' + std::to_string(level);
            result.values.emplace_back(pin, std::to_string(level));
            result.measurements.push_back(measured(pin, level, "", limit(pin), 0));
        }
        judge(result, false);
        return result;
    }

    CheckedBoard& board_;
    const CheckSettings& settings_;
    Operator* asked_;
    CheckRun run_;
    // Every request of the check and what became of it, tries and late replies included.
    struct {
        unsigned sent = 0;
        unsigned answered = 0;
        unsigned retried = 0;
        unsigned late = 0;
    } traffic_;
    bool reachableFaulty_ = false;
    bool neverAnswered_ = false;
    std::optional<link::Reply> firstStatus_;
    std::optional<link::Reply> lastReply_;
};

}  // namespace

std::string lateText(Milliseconds roundTrip, std::uint32_t timeoutMs) {
    return "after " + std::to_string(static_cast<long long>(roundTrip.count())) +
           " ms, beyond --timeout " + std::to_string(timeoutMs);
}

Task<CheckRun> runChecks(CheckedBoard& board, const CheckSettings& settings, Operator* asked) {
    Checks checks(board, settings, asked);
    co_return co_await checks.run();
}

Outcome boardOutcome(const CheckRun& run) {
    if (!run.answered || countOf(run, Outcome::Fail) > 0) {
        return Outcome::Fail;
    }
    return countOf(run, Outcome::Marginal) > 0 ? Outcome::Marginal : Outcome::Pass;
}

int countOf(const CheckRun& run, Outcome outcome) {
    return static_cast<int>(std::ranges::count(run.results, outcome, &CheckResult::verdict));
}

std::string humanLine(const CheckResult& result) {
    char head[32];
    std::snprintf(head, sizeof head, "%-12s%s  ", result.name.c_str(), outcomeText(result.verdict));
    return head + result.detail;
}

std::string jsonLine(const CheckResult& result, const std::string& board) {
    std::string line = "{\"check\":" + jsonString(result.name) + ",\"board\":" + jsonString(board) +
                       ",\"result\":" + jsonString(outcomeText(result.verdict)) +
                       ",\"detail\":" + jsonString(result.detail);
    for (const auto& [name, json] : result.values) {
        line += ',' + jsonString(name) + ':' + json;
    }
    return line + '}';
}

std::string summaryLine(const CheckRun& run, const std::string& board) {
    const auto counted = [&](Outcome outcome, const char* word) {
        return std::to_string(countOf(run, outcome)) + ' ' + word;
    };
    return "check " + board + ": " + outcomeText(boardOutcome(run)) + " (" +
           counted(Outcome::Pass, "passed") + ", " + counted(Outcome::Marginal, "marginal") + ", " +
           counted(Outcome::Fail, "failed") + ", " + counted(Outcome::Skip, "skipped") + ')';
}

}  // namespace vardek::check
