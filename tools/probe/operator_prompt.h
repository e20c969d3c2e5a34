// --ask on a terminal: the question on standard error, the answer read from standard input while
// every other wait goes on.
#pragma once

#include <chrono>
#include <string>

#include "board/event_loop.h"
#include "board/task.h"
#include "check/operator.h"

namespace vardek::probe {

using board::EventLoop;
using board::Task;
using check::Operator;
using check::OperatorAnswer;

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
