// A board played back from a capture: each request answered with the replies that the board
// sent after the same request bytes in the capture, occurrence by occurrence, so that byte 3's
// counter, the readings and any odd reply come back exactly as captured.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "tools/board-sim/board_model.h"
#include "tools/board-sim/capture_reader.h"

namespace vardek::sim {

// The longest delay a reply keeps from its capture, as long as --delay-ms may make it.
inline constexpr std::chrono::microseconds kMaxReplayedDelay = std::chrono::minutes(10);

// What happens once the replies to a request have all been played.
enum class ReplayEnd { RepeatLast, Loop, Silent };

struct ReplayedReply {
    Bytes bytes;
    std::chrono::microseconds after{
        0};  // since the request, as captured, at most kMaxReplayedDelay
};

struct ReplayAnswer {
    bool known = false;                    // whether the capture holds the request at all
    std::vector<ReplayedReply> replies{};  // none when the board did not answer it there either
    std::size_t occurrence = 0;            // which of the captured ones, from 1; 0 when ran out
    std::size_t occurrences = 0;           // how many the capture holds
    std::optional<std::string> ranOut{};   // said the first time the replies run out
};

class Replay {
  public:
    // Pairs each reply (any other datagram) with the last request (a datagram to `port`) from
    // the address and port it went to, if it came from the address that request went to.
    // Refused when the capture holds no request at all.
    static std::variant<Replay, std::string> fromCapture(
        const std::vector<CapturedDatagram>& datagrams, std::uint16_t port, ReplayEnd end);

    ReplayAnswer answer(std::span<const std::uint8_t> request);

    // "5 requests of 3 kinds, 5 replies", for the log.
    std::string summary() const;
    // The size of the longest reply the capture holds, 0 without any.
    std::size_t largestReply() const { return largestReply_; }

  private:
    struct Script {
        std::vector<std::vector<ReplayedReply>> occurrences;
        std::size_t next = 0;
        bool ranOut = false;
    };

    // Request bytes in byte order, compared as text: GCC 12 at -O3 warns of an out-of-range
    // memcmp inside std::vector's own comparison.
    struct BytesOrder {
        bool operator()(const Bytes& a, const Bytes& b) const {
            return std::string_view(reinterpret_cast<const char*>(a.data()), a.size()) <
                   std::string_view(reinterpret_cast<const char*>(b.data()), b.size());
        }
    };

    ReplayEnd end_ = ReplayEnd::RepeatLast;
    std::map<Bytes, Script, BytesOrder> scripts_;
    std::size_t requests_ = 0;
    std::size_t replies_ = 0;
    std::size_t largestReply_ = 0;
    std::size_t unpaired_ = 0;  // replies to an address and port that sent no request before
};

}  // namespace vardek::sim
