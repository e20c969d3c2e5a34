#include "tools/board-sim/replay.h"

#include <algorithm>

#include "link/reply_text.h"

namespace vardek::sim {

namespace {

std::string plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + ' ' + (n == 1 ? one : many);
}

}  // namespace

std::variant<Replay, std::string> Replay::fromCapture(
    const std::vector<CapturedDatagram>& datagrams, std::uint16_t port, ReplayEnd end) {
    Replay replay;
    replay.end_ = end;
    struct Latest {
        Script* script;
        std::size_t occurrence;
        std::chrono::microseconds time;
        std::uint32_t board;  // the address the request went to
    };
    // Replies name no request: the board answers the last one it got from that address and
    // port, from port `port` or another of its own.
    std::map<std::pair<std::uint32_t, std::uint16_t>, Latest> latest;
    for (const CapturedDatagram& datagram : datagrams) {
        if (datagram.to.port == port) {
            Script& script = replay.scripts_[datagram.payload];
            script.occurrences.emplace_back();
            latest[{datagram.from.address, datagram.from.port}] = {
                &script, script.occurrences.size() - 1, datagram.time, datagram.to.address};
            ++replay.requests_;
            continue;
        }
        const auto found = latest.find({datagram.to.address, datagram.to.port});
        if (found == latest.end() || found->second.board != datagram.from.address) {
            ++replay.unpaired_;
            continue;
        }
        const Latest& request = found->second;
        request.script->occurrences[request.occurrence].push_back(
            {datagram.payload, std::clamp(datagram.time - request.time,
                                          std::chrono::microseconds::zero(), kMaxReplayedDelay)});
        ++replay.replies_;
        replay.largestReply_ = std::max(replay.largestReply_, datagram.payload.size());
    }
    if (replay.requests_ == 0) {
        return "no requests to port " + std::to_string(port) + ", only " +
               plural(replay.unpaired_, "datagram", "datagrams") + " from it";
    }
    return replay;
}

ReplayAnswer Replay::answer(std::span<const std::uint8_t> request) {
    const auto found = scripts_.find(Bytes(request.begin(), request.end()));
    if (found == scripts_.end()) {
        return {};
    }
    Script& script = found->second;
    ReplayAnswer answer{.known = true, .occurrences = script.occurrences.size()};
    if (script.next < script.occurrences.size()) {
        answer.occurrence = ++script.next;
        answer.replies = script.occurrences[script.next - 1];
        return answer;
    }
    if (!script.ranOut) {
        script.ranOut = true;
        answer.ranOut = "replies to " + link::describeRequest(request) + " ran out after " +
                        std::to_string(script.occurrences.size()) +
                        (end_ == ReplayEnd::RepeatLast ? ", repeating the last"
                         : end_ == ReplayEnd::Loop     ? ", from the first again"
                                                       : ", no more replies");
    }
    switch (end_) {
        case ReplayEnd::RepeatLast:
            // The last one the board did answer: a lost reply at the end of the capture would
            // otherwise silence the request for good.
            for (auto each = script.occurrences.rbegin(); each != script.occurrences.rend();
                 ++each) {
                if (!each->empty()) {
                    answer.replies = *each;
                    break;
                }
            }
            break;
        case ReplayEnd::Loop:
            script.next = 1;
            answer.occurrence = 1;
            answer.replies = script.occurrences.front();
            break;
        case ReplayEnd::Silent:
            break;
    }
    return answer;
}

std::string Replay::summary() const {
    std::string text = plural(requests_, "request", "requests") + " of " +
                       plural(scripts_.size(), "kind", "kinds") + ", " +
                       plural(replies_, "reply", "replies");
    if (unpaired_ != 0) {
        text += " (" + plural(unpaired_, "reply", "replies") + " to no request left out)";
    }
    return text;
}

}  // namespace vardek::sim
