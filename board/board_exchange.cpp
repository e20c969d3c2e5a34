#include "board/board_exchange.h"

#include <algorithm>
#include <span>
#include <utility>

namespace vardek::board {

namespace {

using Clock = BoardExchange::Clock;
using std::chrono::milliseconds;

// An answer that carries no datagram.
Answer outcome(Answer::Kind kind) {
    Answer answer;
    answer.kind = kind;
    return answer;
}

}  // namespace

BoardExchange::BoardExchange(const link::SocketAddress& board, ExchangeSettings settings,
                             EventLoop& loop)
    : settings_(std::move(settings)), loop_(loop), board_(board), buffer_(loop.buffer()) {}

Task<Answer> BoardExchange::ask(link::Request request, bool evenIfStopped) {
    if (unanswered_) {
        const bool answeredOrOver =
            co_await awaitLateReply(deadline_ ? std::min(*unanswered_, *deadline_) : *unanswered_);
        if (!answeredOrOver) {
            // The deadline came first: nothing may be sent while that reply may still come.
            co_return outcome(Answer::Kind::NoReply);
        }
        unanswered_.reset();
    }
    ignored_ = 0;
    // A late answer ends the tries as a reply does: the board is there, only slower than the
    // timeout, and every further try would be as late.
    Answer answer;
    unsigned tries = 0;
    for (std::uint32_t attempt = 0;
         attempt <= settings_.retries && answer.kind == Answer::Kind::NoReply; ++attempt) {
        if (deadline_ && Clock::now() >= *deadline_) {
            break;
        }
        answer = co_await tryOnce(request, evenIfStopped);
        // A stopped or refused try is left uncounted: the board's record ends with it.
        tries +=
            answer.kind == Answer::Kind::NotSent || answer.kind == Answer::Kind::Stopped ? 0 : 1;
    }
    answer.tries = tries;
    answer.lateReplies = answer.kind == Answer::Kind::Late ? 1 : 0;
    if (ignored_ > 0 && settings_.ignoredSenders) {
        settings_.ignoredSenders(ignored_);
    }
    co_return answer;
}

Task<bool> BoardExchange::idle(Clock::time_point until) {
    while (!loop_.stopped() && Clock::now() < until) {
        const bool readable = co_await waitReadable(until);
        if (readable) {
            discardWaiting();
        }
    }
    co_return !loop_.stopped();
}

Task<Answer> BoardExchange::tryOnce(link::Request request, bool evenIfStopped) {
    const auto stopped = [&] { return loop_.stopped() && !evenIfStopped; };
    if (stopped()) {
        co_return outcome(Answer::Kind::Stopped);
    }
    discardWaiting();
    const auto sent = Clock::now();
    if (const std::error_code error = socket_.sendTo(request.bytes(), board_)) {
        notSent_ = error;
        co_return outcome(Answer::Kind::NotSent);
    }
    // Replies name no request, so one that comes after its try gave up would be taken for the
    // answer to the next request, and every answer after it for the one before. A try that
    // times out therefore waits one more timeout for its late answer, which is told apart as
    // late, before anything else is sent; a reply later still is dropped before the next send.
    const auto deadline = sent + milliseconds(settings_.timeoutMs);
    const auto lateDeadline = deadline + milliseconds(settings_.timeoutMs);
    const auto waitUntil = deadline_ ? std::min(lateDeadline, *deadline_) : lateDeadline;
    while (Clock::now() < waitUntil) {
        const bool readable = co_await waitReadable(waitUntil);
        if (stopped()) {
            unanswered_ = lateDeadline;
            co_return outcome(Answer::Kind::Stopped);
        }
        if (!readable) {
            continue;
        }
        const auto received = takeFromBoard();
        if (!received) {
            continue;
        }
        const auto arrived = Clock::now();
        const auto bytes = buffer_.first(std::min(received->size, buffer_.size()));
        const auto reply = link::decodeReply(bytes);
        const auto kind = arrived > deadline ? Answer::Kind::Late
                          : reply            ? Answer::Kind::Reply
                                             : Answer::Kind::WrongSize;
        co_return Answer{.kind = kind,
                         .reply = reply.value_or(link::Reply{}),
                         .size = received->size,
                         .roundTrip = arrived - sent,
                         .from = received->from,
                         .bytes = {bytes.begin(), bytes.end()}};
    }
    if (Clock::now() < lateDeadline) {
        // Cut short by the deadline: its answer may still come, and must not be taken for the
        // next request's.
        unanswered_ = lateDeadline;
    }
    co_return outcome(stopped() ? Answer::Kind::Stopped : Answer::Kind::NoReply);
}

std::optional<link::UdpSocket::Received> BoardExchange::take() {
    try {
        return socket_.receive(buffer_);
    } catch (const std::system_error& error) {
        if (settings_.receiveFailed) {
            settings_.receiveFailed(error.what());
        }
        return std::nullopt;
    }
}

// The next datagram from the board, counted by size; those from other addresses are counted as
// ignored and dropped.
std::optional<link::UdpSocket::Received> BoardExchange::takeFromBoard() {
    while (const auto received = take()) {
        if (settings_.anySender || received->from.address == board_.address) {
            ++sizes_[received->size];
            return received;
        }
        ++ignored_;
    }
    return std::nullopt;
}

// A request cut short by a signal or a deadline may still be answered: that reply, taken for the
// answer to the next request, would put a wrong port B in its place. Its time runs out first.
Task<bool> BoardExchange::awaitLateReply(Clock::time_point until) {
    while (Clock::now() < until) {
        const bool readable = co_await waitReadable(until);
        if (readable && takeFromBoard()) {
            co_return true;
        }
    }
    co_return Clock::now() >= *unanswered_;
}

Task<bool> BoardExchange::awaitCutShort() {
    if (!unanswered_ || loop_.stopped()) {
        co_return false;
    }
    const auto until = *unanswered_;
    while (!loop_.stopped() && Clock::now() < until) {
        const bool readable = co_await waitReadable(until);
        if (readable && takeFromBoard()) {
            unanswered_.reset();
            co_return true;
        }
    }
    if (!loop_.stopped()) {
        unanswered_.reset();
    }
    co_return false;
}

// A reply that comes after its try stopped waiting for it would be taken for the next one's
// answer: dropped before each send.
void BoardExchange::discardWaiting() {
    while (takeFromBoard()) {
    }
}

}  // namespace vardek::board
