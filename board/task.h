// A coroutine that a caller awaits: the check and the exchange with a board are written as plain
// sequences of requests and answers, and each wait for a reply suspends them instead of
// blocking, so that one thread keeps a whole rack of boards going (see event_loop.h).
//
// Each co_await stands as a statement of its own (`x = co_await ...;`), never inside a condition
// or a conditional expression: GCC 12 miscompiles those (temporaries destroyed twice, a trap).
#pragma once

#include <coroutine>
#include <exception>
#include <optional>
#include <utility>

namespace vardek::board {

template <typename T>
class Task;

namespace detail {

template <typename T>
struct TaskPromiseBase {
    std::coroutine_handle<> continuation = std::noop_coroutine();
    std::exception_ptr error;

    std::suspend_always initial_suspend() noexcept { return {}; }
    // Hands control back to whoever awaited the task; the loop's own tasks have no one.
    auto final_suspend() noexcept {
        struct Resume {
            std::coroutine_handle<> next;
            bool await_ready() noexcept { return false; }
            std::coroutine_handle<> await_suspend(std::coroutine_handle<>) noexcept { return next; }
            void await_resume() noexcept {}
        };
        return Resume{continuation};
    }
    void unhandled_exception() { error = std::current_exception(); }
};

template <typename T>
struct TaskPromise : TaskPromiseBase<T> {
    std::optional<T> value;
    Task<T> get_return_object();
    void return_value(T result) { value = std::move(result); }
    T take() { return std::move(*value); }
};

template <>
struct TaskPromise<void> : TaskPromiseBase<void> {
    Task<void> get_return_object();
    void return_void() {}
    void take() {}
};

}  // namespace detail

// Lazy: it runs when awaited, or when started by the loop, and is awaited once.
template <typename T>
class [[nodiscard]] Task {
  public:
    using promise_type = detail::TaskPromise<T>;
    using Handle = std::coroutine_handle<promise_type>;

    explicit Task(Handle handle) : handle_(handle) {}
    Task(Task&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
    Task& operator=(Task&& other) noexcept {
        if (this != &other) {
            destroy();
            handle_ = std::exchange(other.handle_, {});
        }
        return *this;
    }
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;
    ~Task() { destroy(); }

    bool await_ready() const noexcept { return false; }
    std::coroutine_handle<> await_suspend(std::coroutine_handle<> caller) noexcept {
        handle_.promise().continuation = caller;
        return handle_;
    }
    T await_resume() { return result(); }

    // For the loop: runs the task up to its first wait.
    void start() { handle_.resume(); }
    bool done() const { return handle_.done(); }
    // Once done: its value, or the exception that ended it.
    T result() {
        if (handle_.promise().error) {
            std::rethrow_exception(handle_.promise().error);
        }
        return handle_.promise().take();
    }

  private:
    void destroy() {
        if (handle_) {
            handle_.destroy();
        }
    }

    Handle handle_;
};

namespace detail {

template <typename T>
Task<T> TaskPromise<T>::get_return_object() {
    return Task<T>(Task<T>::Handle::from_promise(*this));
}

inline Task<void> TaskPromise<void>::get_return_object() {
    return Task<void>(Task<void>::Handle::from_promise(*this));
}

}  // namespace detail

}  // namespace vardek::board
