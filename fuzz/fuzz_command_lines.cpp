// Both command lines, the simulator's and the probe's: any argument vector gives a parsed result
// inside the documented bounds or a usage error. A crash or an escaping exception is a finding.
//
// Input: the first byte picks the program (even: simulator, odd: probe); the rest is the
// arguments, separated by zero bytes.
#include <algorithm>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "link/board_address.h"
#include "link/udp_socket.h"
#include "tools/board-sim/options.h"
#include "tools/probe/probe_options.h"

namespace {

namespace link = vardek::link;
namespace host = vardek::host;
namespace probe = vardek::probe;
namespace sim = vardek::sim;

constexpr std::size_t kMaxArguments = 32;

void simulator(std::span<const std::string_view> args) {
    using Action = sim::ParsedCommandLine::Action;
    const sim::ParsedCommandLine parsed = sim::parseCommandLine(args);
    FUZZ_REQUIRE((parsed.action == Action::Refuse) == !parsed.error.empty());
    if (parsed.action != Action::Run) {
        return;
    }
    const sim::Options& o = parsed.options;
    FUZZ_REQUIRE(link::parseIpv4(o.bindAddress).has_value());
    FUZZ_REQUIRE(o.delayMs <= sim::kMaxDelayMs && o.driftMs <= sim::kMaxDriftMs);
    FUZZ_REQUIRE(o.replySize <= sim::kMaxReplySize);
    // Large replies would make an amplifier of a simulator that the network can reach.
    FUZZ_REQUIRE(o.replySize <= link::kReplySize || sim::isLoopback(o.bindAddress));
    FUZZ_REQUIRE(sim::boardConfig(o, 0).faults.replySize == o.replySize);
}

void prober(std::span<const std::string_view> args) {
    using Action = probe::ParsedCommandLine::Action;
    const probe::ParsedCommandLine parsed =
        probe::parseCommandLine(args, host::ChosenBoard{"127.0.0.1", {}, {}});
    FUZZ_REQUIRE((parsed.action == Action::Refuse) == !parsed.error.empty());
    if (parsed.action != Action::Run) {
        return;
    }
    const probe::ProbeOptions& o = parsed.options;
    // One board: whatever the command line, an address that the one check accepts.
    FUZZ_REQUIRE(link::boardAddressProblem(o.board).empty());
    FUZZ_REQUIRE(o.timeoutMs >= 1 && o.timeoutMs <= 600000 && o.retries <= 100);
    switch (o.command) {
        case probe::Command::Set:
        case probe::Command::Clear:
            FUZZ_REQUIRE(link::isOutputBit(o.bit));
            break;
        case probe::Command::Read:
            FUZZ_REQUIRE(o.channel != nullptr);
            break;
        case probe::Command::Watch:
            FUZZ_REQUIRE(o.intervalMs >= 1 && (!o.count || *o.count >= 1));
            break;
        case probe::Command::Results:
            // An answer, a folder to import or --sync alone: never a run with nothing to do.
            FUZZ_REQUIRE(!o.resultsAnswer.empty() || o.sync);
            FUZZ_REQUIRE((o.resultsAnswer == "import") == !o.importDir.empty());
            break;
        case probe::Command::Status:
        case probe::Command::Check:
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::vector<std::string_view> args;
    for (std::size_t start = 0; start <= text.size() && args.size() < kMaxArguments;) {
        const std::size_t end = std::min(text.find('\0', start), text.size());
        args.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (text.empty()) {
        args.clear();
    }
    if (data[0] % 2 == 0) {
        simulator(args);
    } else {
        prober(args);
    }
    return 0;
}
