#include "tools/board-sim/reply_queue.h"

#include <utility>

namespace vardek::sim {

bool ReplyQueue::push(PendingReply reply) {
    if (replies_.size() >= maxReplies_ || reply.bytes.size() > maxBytes_ - bytes_) {
        return false;
    }
    bytes_ += reply.bytes.size();
    replies_.push_back(std::move(reply));
    return true;
}

void ReplyQueue::pop() {
    bytes_ -= replies_.front().bytes.size();
    replies_.pop_front();
}

}  // namespace vardek::sim
