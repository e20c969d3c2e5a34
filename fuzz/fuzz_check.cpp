// vardek-probe's check fed any sequence of answers: 8-byte replies of any bytes, datagrams of
// other sizes, answers that come only after the timeout, none, a stop. A board slower than the
// timeout must be reported as slow, never read as stuck pins or a wrong port B.
//
// Input: the first byte picks --outputs (bit 0) and the count of status requests (the rest, 1 to
// 8); then each answer takes a byte for its kind and, where it carries a datagram, its bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "check/board_check.h"
#include "fuzz/fuzz_input.h"

namespace {

namespace link = vardek::link;
namespace check = vardek::check;
using Kind = check::Answer::Kind;

constexpr std::uint32_t kTimeoutMs = 500;

struct Asked {
    std::vector<std::uint8_t> request;
    Kind kind;
};

class ScriptedBoard : public check::CheckedBoard {
  public:
    explicit ScriptedBoard(vardek::fuzz::Input& input) : input_(input) {}

    // Answers at once: the check's coroutines never wait on this board.
    check::Task<check::Answer> ask(link::Request request, bool evenIfStopped) override {
        check::Answer answer;
        const std::uint8_t pick = input_.byte();
        // Mostly replies, so that runs reach the outputs and the readings.
        answer.kind = pick < 0x90   ? Kind::Reply
                      : pick < 0xB0 ? Kind::Late
                      : pick < 0xD0 ? Kind::NoReply
                      : pick < 0xF0 ? Kind::WrongSize
                      : pick < 0xF8 ? Kind::Stopped
                                    : Kind::NotSent;
        if (answer.kind == Kind::Stopped && evenIfStopped) {
            answer.kind = Kind::Reply;
        }
        if (answer.kind == Kind::Reply || answer.kind == Kind::Late ||
            answer.kind == Kind::WrongSize) {
            std::size_t size = link::kReplySize;
            if (answer.kind == Kind::WrongSize && (size = input_.byte() % 17) == link::kReplySize) {
                size = link::kReplySize + 1;
            }
            answer.bytes = input_.bytes(size);
            answer.bytes.resize(size);
            answer.size = size;
            if (const auto reply = link::decodeReply(answer.bytes)) {
                answer.reply = *reply;
            }
            answer.roundTrip = check::Milliseconds(
                answer.kind == Kind::Late ? kTimeoutMs + 1 + input_.byte() : input_.byte() % 50);
            ++sizes_[answer.size];
        }
        asked_.push_back({{request.bytes().begin(), request.bytes().end()}, answer.kind});
        co_return answer;
    }

    const std::map<std::size_t, unsigned>& datagramSizes() const override { return sizes_; }
    std::uint32_t timeoutMs() const override { return kTimeoutMs; }

    const std::vector<Asked>& asked() const { return asked_; }

  private:
    vardek::fuzz::Input& input_;
    std::map<std::size_t, unsigned> sizes_;
    std::vector<Asked> asked_;
};

// The kind of the first answer to `request`, which comes before any putting back.
std::optional<Kind> firstAnswer(const std::vector<Asked>& asked, const link::Request& request) {
    for (const Asked& one : asked) {
        if (std::ranges::equal(one.request, request.bytes())) {
            return one.kind;
        }
    }
    return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vardek::fuzz::Input input(data, size);
    const std::uint8_t setup = input.byte();
    check::CheckSettings settings;
    settings.outputs = (setup & 1) != 0;
    settings.count = 1 + (setup >> 1) % 8;
    ScriptedBoard board(input);
    check::Task<check::CheckRun> checks = check::runChecks(board, settings);
    checks.start();
    FUZZ_REQUIRE(checks.done());
    const check::CheckRun run = checks.result();
    if (run.end != check::CheckRun::End::Finished) {
        return 0;
    }
    FUZZ_REQUIRE(run.results.size() == 5);
    const std::vector<Asked>& asked = board.asked();
    FUZZ_REQUIRE(!asked.empty());
    // A board whose first status request goes unanswered after every try is given up at once:
    // nothing more is asked of it, and it never passes.
    if (asked[0].kind == Kind::NoReply) {
        FUZZ_REQUIRE(asked.size() == 1);
        FUZZ_REQUIRE(run.results[0].verdict == check::Outcome::Fail);
        return 0;
    }
    FUZZ_REQUIRE(asked.size() >= settings.count);

    // Reachable passes only when every status request was answered in time, and names the
    // late answers whenever one came.
    const check::CheckResult& reachable = run.results[0];
    bool late = false;
    bool allInTime = true;
    for (std::uint32_t i = 0; i < settings.count; ++i) {
        late = late || asked[i].kind == Kind::Late;
        allInTime = allInTime && (asked[i].kind == Kind::Reply || asked[i].kind == Kind::WrongSize);
    }
    FUZZ_REQUIRE(reachable.verdict != check::Outcome::Pass || allInTime);
    FUZZ_REQUIRE(late == (reachable.detail.find("beyond --timeout 500") != std::string::npos));

    // A pin is stuck only by the 8-byte replies to its set and its clear, both in time.
    const std::string& outputs = run.results[2].detail;
    for (int bit = link::kFirstOutputBit; bit <= link::kLastOutputBit; ++bit) {
        if (outputs.find(link::portBPinName(bit) + " stuck at") == std::string::npos) {
            continue;
        }
        const auto number = static_cast<std::uint8_t>(bit);
        FUZZ_REQUIRE(firstAnswer(asked, link::setBitRequest(number)) == Kind::Reply);
        FUZZ_REQUIRE(firstAnswer(asked, link::clearBitRequest(number)) == Kind::Reply);
    }
    for (const check::CheckResult& result : run.results) {
        FUZZ_REQUIRE(!check::humanLine(result).empty() &&
                     !check::jsonLine(result, "127.0.0.1:10001").empty());
    }
    FUZZ_REQUIRE(!check::summaryLine(run, "127.0.0.1:10001").empty());
    return 0;
}
