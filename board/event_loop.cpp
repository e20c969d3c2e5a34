#include "board/event_loop.h"

#include <algorithm>
#include <utility>

#include <poll.h>

namespace vardek::board {

void EventLoop::run(std::span<Task<void>> tasks) {
    for (Task<void>& task : tasks) {
        task.start();
    }
    while (!std::ranges::all_of(tasks, &Task<void>::done)) {
        turn();
    }
    for (Task<void>& task : tasks) {
        task.result();
    }
}

std::vector<int> EventLoop::descriptors() const {
    std::vector<int> fds;
    for (const Readable* waiter : waiters_) {
        if (waiter->fd_ >= 0) {
            fds.push_back(waiter->fd_);
        }
    }
    return fds;
}

std::optional<EventLoop::Clock::time_point> EventLoop::nextDeadline() const {
    if (waiters_.empty()) {
        return std::nullopt;
    }
    return std::ranges::min(waiters_, {}, [](const Readable* waiter) { return waiter->until_; })
        ->until_;
}

void EventLoop::turn(Turn how) {
    if (waiters_.empty()) {
        return;
    }
    std::vector<pollfd> fds;
    fds.reserve(waiters_.size() + 1);
    for (const Readable* waiter : waiters_) {
        fds.push_back({waiter->fd_, POLLIN, 0});
    }
    const bool signals = stop_ != nullptr;
    if (signals) {
        fds.push_back({stop_->descriptor(), POLLIN, 0});
    }
    const auto timeout =
        how == Turn::Now || wakeForStop_
            ? std::chrono::milliseconds(0)
            : std::chrono::ceil<std::chrono::milliseconds>(*nextDeadline() - Clock::now());
    const int ready =
        ::poll(fds.data(), fds.size(),
               static_cast<int>(std::max<std::chrono::milliseconds::rep>(timeout.count(), 0)));
    // A stop ends the waits under way when it comes, not those begun after it.
    bool stopped = std::exchange(wakeForStop_, false);
    if (signals && ready > 0 && (fds.back().revents & POLLIN) != 0) {
        stop_->take();
        stopped = true;
    }
    const auto now = Clock::now();
    // Those done waiting leave the list before any is resumed: a resumed exchange may wait again
    // at once.
    std::vector<Readable*> done;
    std::vector<Readable*> still;
    for (std::size_t i = 0; i < waiters_.size(); ++i) {
        Readable* waiter = waiters_[i];
        waiter->readable_ = ready > 0 && (fds[i].revents & (POLLIN | POLLERR)) != 0;
        (waiter->readable_ || stopped || now >= waiter->until_ ? done : still).push_back(waiter);
    }
    waiters_ = std::move(still);
    for (Readable* waiter : done) {
        waiter->waiting_.resume();
    }
}

}  // namespace vardek::board
