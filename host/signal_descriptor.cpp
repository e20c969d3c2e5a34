#include "signal_descriptor.h"

#include <cerrno>
#include <csignal>

#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace vardek::host {

namespace {

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
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

void SignalDescriptor::take() {
    signalfd_siginfo info{};
    while (fd_ >= 0 && ::read(fd_, &info, sizeof info) == sizeof info) {
        if (signal_ == 0) {
            signal_ = static_cast<int>(info.ssi_signo);
        }
    }
}

}  // namespace vardek::host
