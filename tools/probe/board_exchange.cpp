#include "board_exchange.h"

#include <algorithm>
#include <array>
#include <span>

#include <poll.h>

#include "command_line.h"

namespace vardek::probe {

namespace {

using cli::complain;
using Clock = BoardExchange::Clock;
using std::chrono::milliseconds;

// An answer that carries no datagram.
Answer outcome(Answer::Kind kind) {
    Answer answer;
    answer.kind = kind;
    return answer;
}

milliseconds remaining(Clock::time_point until) {
    return std::chrono::ceil<milliseconds>(until - Clock::now());
}

}  // namespace

BoardExchange::BoardExchange(const link::SocketAddress& board, const ProbeOptions& options,
                             StopSignals& stop)
    : options_(options), stop_(stop), board_(board), buffer_(link::kReceiveCapacity) {}

Answer BoardExchange::ask(const link::Request& request, bool evenIfStopped) {
    if (unanswered_) {
        awaitLateReply(*unanswered_);
        unanswered_.reset();
    }
    ignored_ = 0;
    // A late answer ends the tries as a reply does: the board is there, only slower than the
    // timeout, and every further try would be as late.
    Answer answer;
    for (std::uint32_t attempt = 0;
         attempt <= options_.retries && answer.kind == Answer::Kind::NoReply; ++attempt) {
        answer = tryOnce(request, evenIfStopped);
    }
    if (ignored_ > 0) {
        complain(kProgramName, "ignored " + std::to_string(ignored_) +
                                   " datagram(s) from addresses other " + "than " +
                                   board_.addressText() + " (--any-sender takes them)");
    }
    return answer;
}

bool BoardExchange::idle(Clock::time_point until) {
    while (!stop_.signal() && Clock::now() < until) {
        if (waitReadable(until)) {
            discardWaiting();
        }
    }
    return !stop_.signal();
}

// Waits until a datagram is waiting, `until` passes or a signal comes.
bool BoardExchange::waitReadable(Clock::time_point until) {
    std::array<pollfd, 2> fds{{{socket_.descriptor(), POLLIN, 0}, {stop_.descriptor(), POLLIN, 0}}};
    const auto timeout = std::max<milliseconds::rep>(remaining(until).count(), 0);
    if (::poll(fds.data(), fds.size(), static_cast<int>(timeout)) <= 0) {
        return false;
    }
    if ((fds[1].revents & POLLIN) != 0) {
        stop_.take();
    }
    return (fds[0].revents & POLLIN) != 0;
}

Answer BoardExchange::tryOnce(const link::Request& request, bool evenIfStopped) {
    const auto stopped = [&] { return stop_.signal() != 0 && !evenIfStopped; };
    if (stopped()) {
        return outcome(Answer::Kind::Stopped);
    }
    discardWaiting();
    const auto sent = Clock::now();
    if (const std::error_code error = socket_.sendTo(request.bytes(), board_)) {
        notSent_ = error;
        return outcome(Answer::Kind::NotSent);
    }
    // Replies name no request, so one that comes after its try gave up would be taken for the
    // answer to the next request, and every answer after it for the one before. A try that
    // times out therefore waits one more timeout for its late answer, which is told apart as
    // late, before anything else is sent; a reply later still is dropped before the next send.
    const auto deadline = sent + milliseconds(options_.timeoutMs);
    const auto lateDeadline = deadline + milliseconds(options_.timeoutMs);
    while (Clock::now() < lateDeadline) {
        const bool readable = waitReadable(lateDeadline);
        if (stopped()) {
            unanswered_ = lateDeadline;
            return outcome(Answer::Kind::Stopped);
        }
        if (!readable) {
            continue;
        }
        const auto received = takeFromBoard();
        if (!received) {
            continue;
        }
        const auto arrived = Clock::now();
        const auto bytes = std::span(buffer_).first(std::min(received->size, buffer_.size()));
        const auto reply = link::decodeReply(bytes);
        const auto kind = arrived > deadline ? Answer::Kind::Late
                          : reply            ? Answer::Kind::Reply
                                             : Answer::Kind::WrongSize;
        return {kind,           reply.value_or(link::Reply{}), received->size, arrived - sent,
                received->from, {bytes.begin(), bytes.end()}};
    }
    return outcome(stopped() ? Answer::Kind::Stopped : Answer::Kind::NoReply);
}

std::optional<link::UdpSocket::Received> BoardExchange::take() {
    try {
        return socket_.receive(buffer_);
    } catch (const std::system_error& error) {
        complain(kProgramName, error.what());
        return std::nullopt;
    }
}

// The next datagram from the board, counted by size; those from other addresses are counted as
// ignored and dropped.
std::optional<link::UdpSocket::Received> BoardExchange::takeFromBoard() {
    while (const auto received = take()) {
        if (options_.anySender || received->from.address == board_.address) {
            ++sizes_[received->size];
            return received;
        }
        ++ignored_;
    }
    return std::nullopt;
}

// A request cut short by a signal may still be answered: that reply, taken for the answer to the
// next request, would put a wrong port B in its place. Its time runs out first.
void BoardExchange::awaitLateReply(Clock::time_point deadline) {
    while (Clock::now() < deadline) {
        if (waitReadable(deadline) && takeFromBoard()) {
            return;
        }
    }
}

// A reply that comes after its try stopped waiting for it would be taken for the next one's
// answer: dropped before each send.
void BoardExchange::discardWaiting() {
    while (takeFromBoard()) {
    }
}

}  // namespace vardek::probe
