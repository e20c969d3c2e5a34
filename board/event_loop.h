// One thread's waits for its boards: every exchange waits here for its socket, its deadline or a
// stop signal, all in one poll(), so that a rack of boards is checked at the same time, each
// with its own socket, and a signal reaches every one of them.
//
// A program with an event loop of its own (vardek-trend's Qt loop) turns this one from it instead
// of calling run(): it watches descriptors() and nextDeadline() and calls turn(Turn::Now) when
// either is due.
#pragma once

#include <chrono>
#include <coroutine>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "board/task.h"
#include "host/signal_descriptor.h"

namespace vardek::board {

// The waits watch the stop signals beside the sockets: a signal only ever ends a wait, and the
// outputs can be put back after it.
using StopSignals = host::SignalDescriptor;

class EventLoop {
  public:
    using Clock = std::chrono::steady_clock;

    explicit EventLoop(StopSignals& stop) : stop_(&stop) {}
    // Without stop signals: a program whose stop comes another way ends its tasks by destroying
    // them between two turns.
    EventLoop() = default;
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // Only for a loop made with stop signals.
    StopSignals& stop() { return *stop_; }
    // The first stop signal that came; 0 until one did, and always without stop signals.
    int stopSignal() const { return stop_ != nullptr ? stop_->signal() : 0; }
    // Stops every task as a stop signal would, for a program whose stop comes another way (a
    // window closed mid-run): the waits under way end at the next turn, and what a task does
    // after a stop (putting outputs back) is done.
    void stopTasks() { stopAsked_ = wakeForStop_ = true; }
    // A stop signal came, or stopTasks() was called.
    bool stopped() const { return stopAsked_ || stopSignal() != 0; }
    // One receive buffer for every board: a datagram is copied out of it before the next wait.
    std::span<std::uint8_t> buffer() { return buffer_; }

    // co_await readable(fd, until): true once `fd` has a datagram waiting, false when `until`
    // passed or a stop signal came first. A descriptor of -1 waits for the time alone.
    class Readable {
      public:
        Readable(EventLoop& loop, int fd, Clock::time_point until)
            : loop_(loop), fd_(fd), until_(until) {}
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> waiting) {
            waiting_ = waiting;
            loop_.waiters_.push_back(this);
        }
        bool await_resume() const noexcept { return readable_; }

      private:
        friend class EventLoop;
        EventLoop& loop_;
        int fd_;
        Clock::time_point until_;
        std::coroutine_handle<> waiting_;
        bool readable_ = false;
    };
    Readable readable(int fd, Clock::time_point until) { return {*this, fd, until}; }

    // Runs every task until all of them are done.
    void run(std::span<Task<void>> tasks);
    // Runs one task to its end and gives its result.
    template <typename T>
    T run(Task<T> task) {
        task.start();
        while (!task.done()) {
            turn();
        }
        return task.result();
    }

    enum class Turn {
        Wait,  // sleeps until a wait is over
        Now,   // looks without sleeping
    };
    // One poll over every waiting socket and the signals; resumes those whose wait is over.
    void turn(Turn how = Turn::Wait);
    // What the waits wait for: the descriptors, and the soonest of their deadlines; nothing when
    // no task waits.
    std::vector<int> descriptors() const;
    std::optional<Clock::time_point> nextDeadline() const;

  private:
    StopSignals* stop_ = nullptr;
    bool stopAsked_ = false;
    bool wakeForStop_ = false;  // stopTasks() was called and its turn has not come yet
    std::vector<Readable*> waiters_;
    std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(65536);
};

}  // namespace vardek::board
