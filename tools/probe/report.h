// How vardek-probe prints a reply: one line for a person, or one JSON object for a script.
#pragma once

#include <string>

#include "board/answer.h"
#include "check/measurement.h"
#include "link/board_protocol.h"
#include "readings/log_format.h"

namespace vardek::probe {

using board::Answer;

using check::decimals;
using readings::jsonString;

// The reply in `answer` to `request`: the dump as the window shows it, then port B and, for a
// read, the reading as the window shows it.
std::string humanLine(const link::Request& request, const Answer& answer);

// The same as one JSON object, without the newline; `board` is "127.0.0.1:10001".
std::string jsonLine(const std::string& board, const link::Request& request, const Answer& answer);

}  // namespace vardek::probe
