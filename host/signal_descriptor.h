// The signals that ask a program to stop: SIGINT (a terminal's Ctrl-C), SIGTERM (a session's
// logout, a script's clean-up), SIGHUP (a closed terminal, a dropped SSH session) and SIGQUIT
// (Ctrl-\), blocked and read from a descriptor that a program's wait watches beside its socket: the
// program stops where it chooses, never in the middle of whatever a handler interrupted.
// SIGHUP ignored from the start (nohup) stays ignored.
#pragma once

#include <string_view>
#include <system_error>

namespace vardek::host {

class SignalDescriptor {
  public:
    // Blocks the signals for this thread and every thread started after it, so construct it
    // before any other thread. Without a descriptor (error() says why) the signals are unblocked
    // again, so that they still end the program instead of being lost.
    SignalDescriptor();
    ~SignalDescriptor();
    SignalDescriptor(const SignalDescriptor&) = delete;
    SignalDescriptor& operator=(const SignalDescriptor&) = delete;

    // Non-blocking; -1 when none could be opened.
    int descriptor() const { return fd_; }
    const std::error_code& error() const { return error_; }

    // Takes in the signals that arrived; the first one is kept.
    void take();
    // The first of the signals that came; 0 until one did.
    int signal() const { return signal_; }
    // Its name, "SIGHUP"; "no signal" until one came.
    std::string_view signalName() const;

  private:
    int fd_ = -1;
    std::error_code error_;
    int signal_ = 0;
};

}  // namespace vardek::host
