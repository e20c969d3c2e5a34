// vardek-probe's commands once the command line is read: one request, watch and check, each
// printing what it found and returning the program's exit status.
#pragma once

#include "board_exchange.h"
#include "board_protocol.h"
#include "probe_options.h"

namespace vardek::probe {

// The exit statuses a script tells apart; after SIGINT or SIGTERM the shell's 128 + signal.
enum ExitStatus {
    kReplied = 0,
    kNoReply = 1,
    kBadUsage = 2,
    kWrongSize = 3,
    kNotSent = 4,
    kCheckFailed = 5,
};

// The shell's convention: 130 after SIGINT (Ctrl-C), 143 after SIGTERM.
int exitStatus(const StopSignals& stop);

// One request, its reply printed as --json says, or why none came on standard error.
int exchange(BoardExchange& board, const link::Request& request, const StopSignals& stop);

// Status requests every --interval until --count or a signal; the first failure's status.
int watch(BoardExchange& board, const StopSignals& stop);

// The board's self-test: one verdict per check, a summary, and the --junit report.
int check(BoardExchange& board, const StopSignals& stop);

// The command that `options` name, against their board. Throws std::system_error when no socket
// or signal descriptor can be opened.
int run(const ProbeOptions& options);

}  // namespace vardek::probe
