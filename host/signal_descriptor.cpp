#include "host/signal_descriptor.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>

#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace vardek::host {

namespace {

struct StopSignal {
    int number;
    std::string_view name;
};

// A program stopped by any of them puts things back (the probe its outputs) before it ends.
// SIGKILL cannot be caught, and a power loss sends nothing.
constexpr std::array kStopSignals{
    StopSignal{SIGINT, "SIGINT"},
    StopSignal{SIGTERM, "SIGTERM"},
    StopSignal{SIGHUP, "SIGHUP"},
    StopSignal{SIGQUIT, "SIGQUIT"},
};

bool ignoredAtStart(int signal) {
    struct sigaction action {};
    return ::sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_IGN;
}

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const StopSignal& each : kStopSignals) {
        // nohup ignores SIGHUP so that a program outlives its terminal; blocked, the signal
        // would reach the descriptor all the same (Linux queues a blocked signal even when it is
        // ignored), so it is left out.
        if (each.number != SIGHUP || !ignoredAtStart(each.number)) {
            sigaddset(&set, each.number);
        }
    }
    return set;
}

}  // namespace

SignalDescriptor::SignalDescriptor() {
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ < 0) {
        error_ = std::error_code(errno, std::generic_category());
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    }
}

SignalDescriptor::~SignalDescriptor() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::string_view SignalDescriptor::signalName() const {
    const auto found = std::ranges::find(kStopSignals, signal_, &StopSignal::number);
    return found == kStopSignals.end() ? "no signal" : found->name;
}

void SignalDescriptor::take() {
    signalfd_siginfo info{};
    while (fd_ >= 0 && ::read(fd_, &info, sizeof info) == sizeof info) {
        if (signal_ == 0) {
            signal_ = static_cast<int>(info.ssi_signo);
        }
    }
}

}  // namespace vardek::host
