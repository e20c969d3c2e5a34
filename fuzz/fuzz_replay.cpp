// A capture given to --replay, the simulator's other outside input: any bytes are read as a
// capture file through libpcap, and whatever it holds is either refused with a reason that
// names the file or played back. A replayed request gets only replies captured for the same
// bytes, and a request the capture never holds gets none.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <set>

#include "fuzz/fuzz_input.h"
#include "tools/board-sim/capture_reader.h"
#include "tools/board-sim/replay.h"

namespace sim = vardek::sim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vardek::fuzz::Input input(data, size);
    const std::uint16_t port = input.u16();
    const auto end = static_cast<sim::ReplayEnd>(input.byte() % 3);
    const std::vector<std::uint8_t> file = input.bytes(size);
    std::FILE* stream = fmemopen(const_cast<std::uint8_t*>(file.data()), file.size(), "rb");
    if (stream == nullptr) {
        return 0;  // an empty file, which fmemopen refuses before libpcap could
    }
    auto read = sim::readCapture(stream, "input.pcap", port);
    if (const auto* error = std::get_if<std::string>(&read)) {
        FUZZ_REQUIRE(error->starts_with("input.pcap: "));
        return 0;
    }
    const auto& datagrams = std::get<std::vector<sim::CapturedDatagram>>(read);
    FUZZ_REQUIRE(!datagrams.empty());
    // Only the board's traffic: to or from its port, or to where a request to it came from.
    std::set<std::pair<std::uint32_t, std::uint16_t>> requesters;
    for (const sim::CapturedDatagram& datagram : datagrams) {
        FUZZ_REQUIRE(datagram.from.port == port || datagram.to.port == port ||
                     requesters.contains({datagram.to.address, datagram.to.port}));
        if (datagram.to.port == port) {
            requesters.insert({datagram.from.address, datagram.from.port});
        }
        FUZZ_REQUIRE(datagram.payload.size() <= 65535);
    }
    auto replay = sim::Replay::fromCapture(datagrams, port, end);
    if (std::holds_alternative<std::string>(replay)) {
        return 0;
    }
    sim::Replay& board = std::get<sim::Replay>(replay);
    // Each captured request played three times over, and one that no capture of a
    // datagram this size can hold.
    for (int round = 0; round < 3; ++round) {
        for (const sim::CapturedDatagram& datagram : datagrams) {
            if (datagram.to.port != port) {
                continue;
            }
            const sim::ReplayAnswer answer = board.answer(datagram.payload);
            FUZZ_REQUIRE(answer.known && answer.occurrence <= answer.occurrences);
            FUZZ_REQUIRE(end != sim::ReplayEnd::Silent || answer.occurrence != 0 ||
                         answer.replies.empty());
        }
    }
    FUZZ_REQUIRE(!board.answer(std::vector<std::uint8_t>(65536, 0)).known);
    return 0;
}
