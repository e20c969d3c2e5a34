// --ask: a question to the person at the jig, for what only they can see (an LED or a relay on
// an output), answered on the terminal while every other wait goes on.
#pragma once

#include <chrono>
#include <string>

#include "board/event_loop.h"
#include "board/task.h"

namespace vardek::probe {

using board::EventLoop;
using board::Task;

enum class OperatorAnswer { Yes, No, None, Stopped };

class Operator {
  public:
    virtual ~Operator() = default;
    // "RB5 set: is it on? [y/n]": Yes or No, None when no answer came in time, Stopped when a
    // stop signal came first.
    virtual Task<OperatorAnswer> confirm(std::string question) = 0;
};

// Asks on standard error and reads the answer from `input`, a terminal, within `timeout`.
class TerminalOperator : public Operator {
  public:
    TerminalOperator(EventLoop& loop, std::chrono::seconds timeout, int input = 0)
        : loop_(loop), timeout_(timeout), input_(input) {}

    Task<OperatorAnswer> confirm(std::string question) override;

  private:
    EventLoop& loop_;
    std::chrono::seconds timeout_;
    int input_;
};

}  // namespace vardek::probe
