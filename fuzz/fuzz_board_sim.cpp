// The simulator's request handling: its board model under any configuration the command line
// allows, given any datagrams at any times, with the replies waiting in a bounded reply queue
// as --delay-ms makes them.
//
// Input: the configuration, then datagrams.
//   seed, initial port B, drop every (% 5), reply size (below 0xC0: 8, else b - 0xC0),
//   drift period (b * 10 ms, 0 freezes), queue's reply bound (1 + b % 8), byte bound (u16)
//   then per datagram: time passed (u16 ms, top bit set: seconds), size (b % 8), its bytes
#include <deque>

#include "fuzz/fuzz_input.h"
#include "tools/board-sim/board_model.h"
#include "tools/board-sim/reply_queue.h"

namespace {

using vardek::fuzz::Input;
namespace link = vardek::link;
namespace sim = vardek::sim;

constexpr std::chrono::milliseconds kDelay{1000};

void requireValid(const sim::BoardState& state) {
    FUZZ_REQUIRE((state.outputs & link::kInputMask) == 0 &&
                 (state.inputs & link::kOutputMask) == 0);
    for (const link::Channel& channel : link::kChannels) {
        const std::uint16_t reading = state.readings[static_cast<std::size_t>(channel.number)];
        if (channel.reading == link::Reading::Temperature) {
            FUZZ_REQUIRE(reading >= sim::kTemperatureMin && reading <= sim::kTemperatureMax);
        } else {
            FUZZ_REQUIRE(reading <= sim::kRawMax);
        }
    }
}

// The queue as the simulator drives it, beside a plain list of what it should hold.
class Queue {
  public:
    Queue(std::size_t maxReplies, std::size_t maxBytes)
        : queue_(maxReplies, maxBytes), maxReplies_(maxReplies), maxBytes_(maxBytes) {}

    void sendDue(sim::Clock::time_point now) {
        while (!queue_.empty() && queue_.front().due <= now) {
            FUZZ_REQUIRE(queue_.front().bytes.size() == shadow_.front());
            queue_.pop();
            bytes_ -= shadow_.front();
            shadow_.pop_front();
        }
    }

    void push(sim::Clock::time_point due, sim::Bytes reply) {
        const std::size_t size = reply.size();
        const bool fits = shadow_.size() < maxReplies_ && bytes_ + size <= maxBytes_;
        FUZZ_REQUIRE(queue_.push({due, {link::kLoopbackAddress, 40000}, std::move(reply)}) == fits);
        if (fits) {
            shadow_.push_back(size);
            bytes_ += size;
        }
        FUZZ_REQUIRE(queue_.size() == shadow_.size() && queue_.bytes() == bytes_);
    }

  private:
    sim::ReplyQueue queue_;
    std::size_t maxReplies_;
    std::size_t maxBytes_;
    std::deque<std::size_t> shadow_;
    std::size_t bytes_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input input(data, size);
    sim::BoardConfig config;
    config.seed = input.byte();
    config.initialPortB = input.byte();
    config.faults.dropEvery = input.byte() % 5;
    const std::uint8_t replySize = input.byte();
    config.faults.replySize = replySize < 0xC0 ? link::kReplySize : replySize - 0xC0u;
    config.driftPeriod = sim::Millis(input.byte() * 10);
    const std::size_t maxReplies = 1 + input.byte() % 8;
    Queue queue(maxReplies, input.u16());

    sim::BoardModel model(config);
    requireValid(model.state());
    sim::Millis now{0};
    const sim::Clock::time_point start{};
    while (!input.done()) {
        const std::uint16_t passed = input.u16();
        now += (passed & 0x8000) != 0 ? sim::Millis((passed & 0x7FFF) * 1000) : sim::Millis(passed);
        const sim::Bytes datagram = input.bytes(input.byte() % 8);

        const sim::BoardState before = model.state();
        const sim::Outcome outcome = model.handle(datagram, now);
        const sim::BoardState& after = model.state();
        requireValid(after);
        const auto request = link::decodeRequest(datagram);
        FUZZ_REQUIRE(outcome.request == request);
        if (!request) {
            // Unanswered, and not even the time's passing shows.
            FUZZ_REQUIRE(outcome.disposition == sim::Disposition::Malformed);
            FUZZ_REQUIRE(outcome.reply.empty() && after == before);
            continue;
        }
        FUZZ_REQUIRE(after.requests == before.requests + 1);
        const bool setOrClear =
            request->command == link::kSetBitCommand || request->command == link::kClearBitCommand;
        if (setOrClear) {
            const unsigned bit = 1u << request->argument;
            const unsigned others = before.outputs & ~bit;
            const bool set = request->command == link::kSetBitCommand;
            FUZZ_REQUIRE(after.outputs == (set ? others | bit : others));
        } else {
            FUZZ_REQUIRE(after.outputs == before.outputs);
        }
        if (request->command == link::kReadChannelCommand) {
            const int channel = link::findChannel(request->argument)->number;
            FUZZ_REQUIRE(after.lastConversion == after.readings[static_cast<std::size_t>(channel)]);
        }
        const bool dropped =
            config.faults.dropEvery != 0 && after.requests % config.faults.dropEvery == 0;
        if (dropped) {
            FUZZ_REQUIRE(outcome.disposition == sim::Disposition::Dropped && outcome.reply.empty());
            continue;
        }
        FUZZ_REQUIRE(outcome.disposition == sim::Disposition::Answered);
        // The 8-byte layout, cut to or padded with zeros to the configured size.
        const sim::Bytes& reply = outcome.reply;
        FUZZ_REQUIRE(reply.size() == config.faults.replySize);
        const link::ReplyBytes expected{request->command,
                                        after.portB(),
                                        request->argument,
                                        static_cast<std::uint8_t>(after.requests),
                                        static_cast<std::uint8_t>(after.lastConversion >> 8),
                                        static_cast<std::uint8_t>(after.lastConversion),
                                        0,
                                        0};
        for (std::size_t i = 0; i < reply.size(); ++i) {
            FUZZ_REQUIRE(reply[i] == (i < expected.size() ? expected[i] : 0));
        }
        queue.sendDue(start + now);
        queue.push(start + now + kDelay, reply);
    }
    return 0;
}
