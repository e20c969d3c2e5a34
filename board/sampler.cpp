#include "board/sampler.h"

#include <algorithm>

namespace vardek::board {

namespace {

using Clock = SampleSchedule::Clock;
using std::chrono::milliseconds;

readings::Result resultOf(Answer::Kind kind) {
    switch (kind) {
        case Answer::Kind::WrongSize:
            return readings::Result::WrongSize;
        // Its bytes answer a request given up on: logged apart from none at all, as a board
        // that is slow is another fault than one that is silent.
        case Answer::Kind::Late:
            return readings::Result::Late;
        case Answer::Kind::NoReply:
            return readings::Result::NoReply;
        case Answer::Kind::NotSent:
            return readings::Result::NotSent;
        case Answer::Kind::Reply:
        case Answer::Kind::Stopped:
            break;
    }
    return readings::Result::Ok;
}

// One sample as takeSample leaves it, before its slot's end is known.
struct TakenSample {
    readings::Sample sample;
    // No request of it could be sent: the exchange was still waiting for a late answer to the
    // sample before when this one's time ran out.
    bool heldUp = false;
    // Its first unanswered request was cut short by the sample's time and may still be
    // answered: if it is, the sample was late, not unanswered.
    bool cutShortFirst = false;
};

// The status request, then one read of each pin asked for, in the log's column order, each
// matched by order. The tries of every request are counted. Nothing when a signal cut it short.
Task<std::optional<TakenSample>> takeSample(CheckedBoard& board, readings::Pins pins,
                                            readings::UtcTime time, milliseconds elapsed) {
    TakenSample taken;
    readings::Sample& sample = taken.sample;
    sample.time = time;
    sample.elapsed = elapsed;
    taken.heldUp = true;
    bool failedYet = false;
    // Every answer counts its tries; the first that went wrong gives the sample its result.
    const auto answered = [&](const Answer& answer) {
        sample.retries += answer.tries > 1 ? answer.tries - 1 : 0;
        sample.lateReplies += answer.lateReplies;
        const bool heldUp = answer.kind == Answer::Kind::NoReply && answer.tries == 0;
        taken.heldUp = taken.heldUp && heldUp;
        if (answer.kind != Answer::Kind::Reply && !failedYet) {
            failedYet = true;
            sample.result = resultOf(answer.kind);
            sample.replySize = answer.size;
            taken.cutShortFirst = answer.kind == Answer::Kind::NoReply && answer.tries > 0;
        } else if (answer.tries > 0) {
            // A later request went out, so the first that went wrong was not cut short.
            taken.cutShortFirst = false;
        }
    };
    const Answer status = co_await board.ask(link::statusRequest());
    if (status.kind == Answer::Kind::Stopped) {
        co_return std::nullopt;
    }
    answered(status);
    if (status.kind == Answer::Kind::Reply) {
        sample.rttMs = status.roundTrip.count();
        sample.portB = status.reply.portB();
    }
    for (std::size_t i = 0; i < link::kChannels.size(); ++i) {
        if (!pins.test(i)) {
            continue;
        }
        const link::Channel& channel = link::kChannels[i];
        const Answer read = co_await board.ask(link::readChannelRequest(channel.selector));
        if (read.kind == Answer::Kind::Stopped) {
            co_return std::nullopt;
        }
        answered(read);
        if (read.kind == Answer::Kind::Reply) {
            sample.values[i] = readings::channelValue(channel, read.reply.conversion());
        }
    }
    co_return taken;
}

}  // namespace

SampleSchedule::SampleSchedule(milliseconds interval, std::optional<std::uint64_t> count,
                               std::optional<milliseconds> duration)
    : start_(Clock::now()), interval_(interval), count_(count), duration_(duration) {}

bool SampleSchedule::another() const {
    if (count_ && taken_ >= *count_) {
        return false;
    }
    return !duration_ || (taken_ * interval_ < *duration_ && Clock::now() - start_ < *duration_);
}

void SampleSchedule::taken() {
    ++taken_;
    if (Clock::now() > due()) {
        ++late_;
    }
}

Task<SamplingEnd> sampleOnSchedule(BoardExchange& board, SampleSchedule& schedule,
                                   readings::Pins pins, const SampleTaken& taken) {
    const auto wallStart = std::chrono::floor<milliseconds>(std::chrono::system_clock::now() -
                                                            (Clock::now() - schedule.start()));
    const auto allowed =
        std::max<Clock::duration>(schedule.interval(), milliseconds(board.timeoutMs()));
    readings::Sample previous;
    while (schedule.another()) {
        const bool going = co_await board.idle(schedule.due());
        if (!going) {
            co_return SamplingEnd::Stopped;
        }
        const auto slot = std::chrono::floor<milliseconds>(schedule.due() - schedule.start());
        board.setDeadline(schedule.due() + allowed);
        auto sample = co_await takeSample(board, pins, wallStart + slot, slot);
        board.setDeadline(std::nullopt);
        if (!sample) {
            co_return SamplingEnd::Stopped;
        }
        const bool answeredLate = co_await board.awaitCutShort();
        if (answeredLate) {
            sample->sample.lateReplies += 1;
            if (sample->cutShortFirst) {
                sample->sample.result = readings::Result::Late;
            }
        }
        if (board.stopped()) {
            co_return SamplingEnd::Stopped;
        }
        if (sample->heldUp) {
            // Its slot passed while the board still held up the one before: missed for the
            // same reason, or as late where that one was answered in the end.
            const bool slow = previous.result == readings::Result::Ok;
            sample->sample.result = slow ? readings::Result::Late : previous.result;
            sample->sample.replySize = slow ? 0 : previous.replySize;
        }
        previous = sample->sample;
        schedule.taken();
        if (!taken(sample->sample)) {
            co_return SamplingEnd::Refused;
        }
    }
    co_return SamplingEnd::Done;
}

}  // namespace vardek::board
