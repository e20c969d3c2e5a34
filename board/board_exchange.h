// The conversation with one board: one request at a time, sent, retried as the settings say, and
// matched with the board's reply or with none. The socket and the stop signals live here; the
// probe's commands, its check and the samplers see only the answers.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <system_error>

#include "board/answer.h"
#include "board/event_loop.h"
#include "link/board_protocol.h"
#include "link/udp_socket.h"

namespace vardek::board {

struct ExchangeSettings {
    std::uint32_t timeoutMs = 500;  // how long each try waits for its answer
    std::uint32_t retries = 0;      // tries after the first, for a request left unanswered
    // Takes datagrams from any address as the board's, not only from the board's own.
    bool anySender = false;
    // Told after a request how many datagrams from other addresses it dropped, when it dropped
    // any; nothing is told without it.
    std::function<void(int ignored)> ignoredSenders;
    // Told why the system failed to hand over a datagram; the wait goes on as if none had
    // come.
    std::function<void(const std::string& problem)> receiveFailed;
};

class BoardExchange : public CheckedBoard {
  public:
    using Clock = std::chrono::steady_clock;

    // Talks to `board` with the tries, the timeout and the senders that `settings` allow, its
    // waits in `loop`. Throws std::system_error when no socket can be opened.
    BoardExchange(const link::SocketAddress& board, ExchangeSettings settings, EventLoop& loop);

    const link::SocketAddress& board() const { return board_; }
    const ExchangeSettings& settings() const { return settings_; }
    // The socket the exchange waits on, for a loop that watches it from outside.
    int descriptor() const { return socket_.descriptor(); }
    std::uint16_t localPort() const { return socket_.localAddress().port; }
    // A stop signal came.
    bool stopped() const { return loop_.stopped(); }
    // Why the last send was refused.
    std::string notSentReason() const { return notSent_.message(); }

    // One request and the board's answer to it: an 8-byte reply, a datagram of another size, a
    // late one, or none after every try, with the round trip of the try that was answered.
    Task<Answer> ask(link::Request request, bool evenIfStopped = false) override;

    const std::map<std::size_t, unsigned>& datagramSizes() const override { return sizes_; }
    std::uint32_t timeoutMs() const override { return settings_.timeoutMs; }

    // Waits out `until`, discarding whatever arrives meanwhile; false after a signal.
    Task<bool> idle(Clock::time_point until);

    // Until when requests may be sent and their answers waited for, nothing for no limit:
    // `watch` gives each sample the time up to its slot's end. A wait cut short by it ends as
    // no reply, and nothing more is sent until that request's late answer has come or its time
    // has run out.
    void setDeadline(std::optional<Clock::time_point> deadline) { deadline_ = deadline; }
    // Waits for the answer to a request that the deadline cut short, until its time runs out:
    // true when it came, late. Nothing to wait for, or a signal: false at once.
    Task<bool> awaitCutShort();

  private:
    EventLoop::Readable waitReadable(Clock::time_point until) {
        return loop_.readable(socket_.descriptor(), until);
    }
    Task<Answer> tryOnce(link::Request request, bool evenIfStopped);
    std::optional<link::UdpSocket::Received> take();
    std::optional<link::UdpSocket::Received> takeFromBoard();
    // Waits until `until` for the unanswered request's reply: true once it came or its time ran
    // out.
    Task<bool> awaitLateReply(Clock::time_point until);
    void discardWaiting();

    ExchangeSettings settings_;
    EventLoop& loop_;
    link::SocketAddress board_;
    link::UdpSocket socket_;
    std::span<std::uint8_t> buffer_;
    int ignored_ = 0;
    std::error_code notSent_;
    std::map<std::size_t, unsigned> sizes_;
    std::optional<Clock::time_point> unanswered_;  // until when a cut-short request may be answered
    std::optional<Clock::time_point> deadline_;
};

}  // namespace vardek::board
