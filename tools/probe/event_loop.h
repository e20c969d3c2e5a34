// The probe's one thread: every board's exchange waits here for its socket, its deadline or a
// stop signal, all in one poll(), so that a rack of boards is checked at the same time, each
// with its own socket, and a signal reaches every one of them.
#pragma once

#include <chrono>
#include <coroutine>
#include <cstdint>
#include <span>
#include <vector>

#include "host/signal_descriptor.h"
#include "tools/probe/task.h"

namespace vardek::probe {

// The probe's waits watch the signals beside the sockets: a signal only ever ends a wait, and the
// outputs can be put back after it.
using StopSignals = host::SignalDescriptor;

class EventLoop {
  public:
    using Clock = std::chrono::steady_clock;

    explicit EventLoop(StopSignals& stop) : stop_(stop) {}
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    StopSignals& stop() { return stop_; }
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

  private:
    // One poll over every waiting socket and the signals; resumes those whose wait is over.
    void turn();

    StopSignals& stop_;
    std::vector<Readable*> waiters_;
    std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(65536);
};

}  // namespace vardek::probe
