// One sample of a board's readings over time, as `vardek-probe watch` and `vardek-trend` log
// it: when it was taken, what came back, port B and the analogue pins asked for.
#pragma once

#include <array>
#include <bitset>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "link/board_protocol.h"

namespace vardek::readings {

// The analogue pins a log holds, by their index in link::kChannels (RA0..RA3, RA5).
using Pins = std::bitset<link::kChannels.size()>;

// "all" or a comma list of RA0, RA1, RA2, RA3 and RA5 in either case, in any order; a pin
// named twice counts once. Nothing for an empty list, an empty item or any other name.
std::optional<Pins> parsePins(std::string_view text);
// What parsePins takes, for messages and help texts.
inline constexpr std::string_view kPinsForm = "RA0,RA1,RA2,RA3,RA5 (any of them) or all";

// A length of time as a whole number and its unit: "500ms", "90s", "30min", "2h". Nothing for
// zero, a missing or unknown unit, a fraction, or more than a year.
std::optional<std::chrono::milliseconds> parseDuration(std::string_view text);
inline constexpr std::string_view kDurationForm = "a whole number with ms, s, min or h (90s, 2h)";

// How a sample went: every request answered, or the first request that was not.
enum class Result {
    Ok,         // every request got its 8-byte reply
    NoReply,    // a request got no reply after all its tries
    Late,       // a request was answered only after its timeout, too late to be taken
    WrongSize,  // the board answered a request with a datagram that is not 8 bytes
    NotSent,    // the system refused to send a request
    // Taken, but the log could not hold it when it was due (a full disk, a file lost): written
    // later in its place, without its values.
    NotWritten,
};

using UtcTime = std::chrono::sys_time<std::chrono::milliseconds>;

struct Sample {
    UtcTime time{};                       // when the sample was started, by the system clock
    std::chrono::milliseconds elapsed{};  // since the first sample, by the monotonic clock
    Result result = Result::Ok;
    std::size_t replySize = 0;  // for WrongSize: the size of the datagram that came
    // Requests sent again after a try went unanswered, and replies that came after their try's
    // timeout, over all of the sample's requests: what a lossy or slow board costs even where
    // every request was answered in the end.
    unsigned retries = 0;
    unsigned lateReplies = 0;
    // The status request's round trip and the port B it reported; nothing when it went
    // unanswered.
    std::optional<double> rttMs;
    std::optional<std::uint8_t> portB;
    // Per pin of link::kChannels, in its column's unit: the raw conversion result for RA0..RA3,
    // degrees Celsius for RA5. Nothing where the pin was not asked for or its read went
    // unanswered: a log never repeats an old value in place of a missing one.
    std::array<std::optional<double>, link::kChannels.size()> values{};

    bool operator==(const Sample&) const = default;
};

// A channel's conversion result in its column's unit: the raw value, or for RA5 degrees
// Celsius rounded to the tenth as the panel shows it.
double channelValue(const link::Channel& channel, std::uint16_t conversion);

// "ok", "no-reply", "late", "wrong-size:9", "not-sent", "not-written".
std::string resultText(const Sample& sample);

// The column of a channel's readings: "RA0".."RA3", "RA5_degC".
std::string_view columnName(const link::Channel& channel);

// ISO 8601 in UTC with milliseconds: "2026-12-09T13:20:05.123Z".
std::string utcText(UtcTime time);
// The same time as spreadsheets take a date and time, the zone left to the column's name:
// "2026-12-09 13:20:05.123".
std::string spreadsheetTime(UtcTime time);

}  // namespace vardek::readings
