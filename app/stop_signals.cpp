#include "stop_signals.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>

#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace vardek::app {

namespace {

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

}  // namespace

StopSignals::StopSignals() {
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

StopSignals::~StopSignals() {
    delete notifier_;
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void StopSignals::watch() {
    if (fd_ < 0) {
        // Without the descriptor the signals stay blocked and would be lost: take them back.
        const sigset_t set = stopSignals();
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        return;
    }
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read);
    connect(notifier_, &QSocketNotifier::activated, this, &StopSignals::onSignal);
}

void StopSignals::onSignal() {
    signalfd_siginfo info{};
    while (::read(fd_, &info, sizeof info) == sizeof info) {
    }
    // Closing every window also closes an open message box, whose nested loop then returns;
    // exit() leaves every running event loop, so the program ends with status 0.
    QApplication::closeAllWindows();
    QCoreApplication::exit(0);
}

}  // namespace vardek::app
