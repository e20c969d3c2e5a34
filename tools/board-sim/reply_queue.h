// The replies that wait out --delay-ms. Bounded in number and in bytes: requests are one byte
// and replies may be large, so an unbounded queue would let a flood of requests take the
// machine's memory.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>

#include "link/udp_socket.h"
#include "tools/board-sim/board_model.h"

namespace vardek::sim {

using Clock = std::chrono::steady_clock;

inline constexpr std::size_t kMaxQueuedReplies = 1024;
inline constexpr std::size_t kMaxQueuedBytes = 4 * 1024 * 1024;

struct PendingReply {
    Clock::time_point due;
    link::SocketAddress peer;
    Bytes bytes;
};

class ReplyQueue {
  public:
    explicit ReplyQueue(std::size_t maxReplies = kMaxQueuedReplies,
                        std::size_t maxBytes = kMaxQueuedBytes)
        : maxReplies_(maxReplies), maxBytes_(maxBytes) {}

    // Queues `reply` unless that would pass either bound; false, with nothing changed, if so.
    // Replies must come in order of their deadlines.
    bool push(PendingReply reply);
    void pop();

    const PendingReply& front() const { return replies_.front(); }
    const PendingReply& back() const { return replies_.back(); }
    bool empty() const { return replies_.empty(); }
    std::size_t size() const { return replies_.size(); }
    std::size_t bytes() const { return bytes_; }

  private:
    std::size_t maxReplies_;
    std::size_t maxBytes_;
    std::size_t bytes_ = 0;
    std::deque<PendingReply> replies_;
};

}  // namespace vardek::sim
