// What a board said to one request, and the board as the sequences of requests see it: the
// check's and the sampler's steps are written against CheckedBoard, so that the socket, the
// retries and the signals stay with the exchange and the steps can be driven by a fake.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "board/task.h"
#include "link/board_protocol.h"
#include "link/udp_socket.h"

namespace vardek::board {

using Milliseconds = std::chrono::duration<double, std::milli>;

// What came back for one request, after its retries.
struct Answer {
    enum class Kind {
        Reply,      // an 8-byte reply
        WrongSize,  // the board answered with a datagram of another size
        Late,       // the board answered after the try's timeout, too late to be taken for it
        NoReply,    // nothing after every try
        NotSent,    // the system refused the send
        Stopped,    // a stop signal arrived
    };
    Kind kind = Kind::NoReply;
    link::Reply reply;
    std::size_t size = 0;  // the answer's size, for Reply, WrongSize and Late
    // From sending the try that was answered to its answer.
    Milliseconds roundTrip{};
    // Requests sent for this answer (1 when the first try was answered), and how many replies
    // came after their try's timeout and were waited out.
    unsigned tries = 0;
    unsigned lateReplies = 0;
    link::SocketAddress from;         // who sent it, for Reply, WrongSize and Late
    std::vector<std::uint8_t> bytes;  // as far as they came, for Reply, WrongSize and Late
};

class CheckedBoard {
  public:
    virtual ~CheckedBoard() = default;
    // One request, tried as the exchange's timeout and retries say. With `evenIfStopped` a
    // signal does not cut the exchange short: putting the outputs back must still happen.
    virtual Task<Answer> ask(link::Request request, bool evenIfStopped = false) = 0;
    // Every datagram that came from the board so far, by size, those that came too late for
    // their request included.
    virtual const std::map<std::size_t, unsigned>& datagramSizes() const = 0;
    // How long a try waits for its answer.
    virtual std::uint32_t timeoutMs() const = 0;
};

}  // namespace vardek::board
