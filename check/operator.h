// --ask: a question to the person at the jig, for what only they can see (an LED or a relay on
// an output), answered while every other wait goes on: on a terminal for vardek-probe, in a
// dialog for vardek-station.
#pragma once

#include <string>

#include "board/task.h"

namespace vardek::check {

enum class OperatorAnswer { Yes, No, None, Stopped };

class Operator {
  public:
    virtual ~Operator() = default;
    // "RB5 set: is it on? [y/n]": Yes or No, None when no answer came in time, Stopped when a
    // stop came first.
    virtual board::Task<OperatorAnswer> confirm(std::string question) = 0;
};

}  // namespace vardek::check
