// vardek-probe's commands once the command line is read: one request, watch and check, each
// printing what it found and returning the program's exit status.
#pragma once

#include "board/board_exchange.h"
#include "cli/exit_status.h"
#include "link/board_protocol.h"
#include "tools/probe/probe_options.h"

namespace vardek::probe {

using board::BoardExchange;
using board::EventLoop;
using board::StopSignals;
using board::Task;

// The exit statuses a script tells apart; after a stop signal the shell's 128 + signal.
enum ExitStatus {
    kReplied = cli::kSucceeded,
    kNoReply = 1,
    kBadUsage = cli::kBadUsage,
    kWrongSize = 3,
    kNotSent = 4,
    kCheckFailed = 5,
    kNotWritten = 6,  // watch's log, one of check's reports or a unit's record could not be written
};

// The shell's convention: 130 after SIGINT (Ctrl-C), 143 after SIGTERM, 129 after SIGHUP, 131
// after SIGQUIT.
int exitStatus(const StopSignals& stop);

// One request, its reply printed as --json says, or why none came on standard error.
Task<int> exchange(BoardExchange& board, const ProbeOptions& options, link::Request request,
                   const StopSignals& stop);

// Samples every --interval until --count, --duration or a signal, printed as replies or logged
// as readings; the first failure's status.
Task<int> watch(BoardExchange& board, const ProbeOptions& options, const StopSignals& stop);

// The self-test of every board of `options` at once, each on a socket of its own in `loop`:
// each board's lines once it is done, in the order given, then a summary per board (and an
// overall line for several), and the reports.
int check(const ProbeOptions& options, EventLoop& loop);

// The command that `options` name, against their boards. Throws std::system_error when no socket
// or signal descriptor can be opened.
int run(const ProbeOptions& options);

}  // namespace vardek::probe
