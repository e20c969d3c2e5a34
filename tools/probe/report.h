// How vardek-probe prints a reply: one line for a person, or one JSON object for a script.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "board_protocol.h"

namespace vardek::probe {

struct Exchange {
    std::string board;  // "127.0.0.1:10001"
    link::Request request;
    link::Reply reply;
    std::chrono::duration<double, std::milli> roundTrip{};
};

// A JSON string holding `text`. Our own texts hold no quote, backslash or control character;
// they are escaped all the same, so the output stays valid JSON whatever a later text holds.
std::string jsonString(const std::string& text);

// The dump as the window shows it, then port B and, for a read, the reading as the window
// shows it.
std::string humanLine(const Exchange& exchange);

// One JSON object, without the newline.
std::string jsonLine(const Exchange& exchange);

}  // namespace vardek::probe
