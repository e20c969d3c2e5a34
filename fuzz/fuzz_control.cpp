// The control socket's commands, the simulator's outside input beside its datagrams. The input is
// one byte of limits (bit 0: large replies allowed, bit 1: replaying a capture), then lines, a
// second passing between two. Every answer is one line, "ok" or a printable "error: ..."; a
// refused command changes nothing; the faults in force stay inside the options' bounds, and the
// board takes them.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_input.h"
#include "tools/board-sim/control.h"
#include "tools/board-sim/options.h"

namespace {

namespace sim = vardek::sim;
// Inside the file's own namespace: unistd.h's link() is global.
namespace link = vardek::link;

void requireWithinBounds(const sim::RunningFaults& faults, sim::Millis now,
                         const sim::ControlLimits& limits) {
    const sim::Faults& board = faults.board;
    FUZZ_REQUIRE(board.replySize <= sim::kMaxReplySize);
    FUZZ_REQUIRE(board.replySize <= link::kReplySize || limits.largeReplies);
    FUZZ_REQUIRE((board.stuckMask & link::kInputMask) == 0);
    FUZZ_REQUIRE((board.stuckLevels & ~board.stuckMask) == 0);
    FUZZ_REQUIRE(faults.delay <= sim::Millis(sim::kMaxDelayMs));
    FUZZ_REQUIRE(!faults.silentUntil || faults.silent);
    FUZZ_REQUIRE(!faults.silentUntil ||
                 *faults.silentUntil <= now + std::chrono::seconds(sim::kMaxSilentSeconds));
    if (limits.replaying) {
        FUZZ_REQUIRE(board == sim::Faults{});
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vardek::fuzz::Input input(data, size);
    const std::uint8_t flags = input.byte();
    const sim::ControlLimits limits{.largeReplies = (flags & 1) != 0,
                                    .replaying = (flags & 2) != 0};
    const std::vector<std::uint8_t> rest = input.bytes(size);
    const std::string_view text(reinterpret_cast<const char*>(rest.data()), rest.size());

    sim::RunningFaults faults;
    sim::BoardModel model({.seed = 1, .initialPortB = 0, .driftPeriod = sim::Millis::zero()});
    sim::Millis now{0};
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string_view line = text.substr(at, std::min(end - at, sim::kMaxControlLine));
        at = end + 1;
        now += sim::Millis(1000);
        sim::silenceAt(faults, now);

        const sim::RunningFaults before = faults;
        const sim::ControlAnswer answer = sim::runControlLine(line, faults, now, limits);
        FUZZ_REQUIRE(answer.text.find('\n') == std::string::npos);
        FUZZ_REQUIRE(answer.changed == (faults != before));
        if (answer.text.starts_with("error: ")) {
            FUZZ_REQUIRE(faults == before);
            for (const char c : answer.text) {
                FUZZ_REQUIRE(c >= 0x20 && c < 0x7F);
            }
        } else {
            FUZZ_REQUIRE(answer.text == "ok" || answer.text.starts_with("ok: "));
        }
        requireWithinBounds(faults, now, limits);

        // The board answers with the faults in force.
        model.setFaults(faults.board);
        const sim::Outcome outcome = model.handle(std::vector<std::uint8_t>{0x00}, now);
        if (outcome.disposition == sim::Disposition::Answered) {
            FUZZ_REQUIRE(outcome.reply.size() == faults.board.replySize);
            const std::uint8_t stuck = faults.board.stuckMask;
            FUZZ_REQUIRE(outcome.reply.size() < 2 ||
                         (outcome.reply[1] & stuck) == faults.board.stuckLevels);
        }
    }
    return 0;
}
