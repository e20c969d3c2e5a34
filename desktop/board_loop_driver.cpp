#include "desktop/board_loop_driver.h"

#include <QSocketNotifier>

#include <algorithm>
#include <chrono>
#include <vector>

namespace vardek::desktop {

BoardLoopDriver::BoardLoopDriver(board::EventLoop& loop, QObject* parent)
    : QObject(parent), loop_(loop) {
    deadline_.setSingleShot(true);
    deadline_.setTimerType(Qt::PreciseTimer);
    connect(&deadline_, &QTimer::timeout, this, &BoardLoopDriver::turn);
}

BoardLoopDriver::~BoardLoopDriver() = default;

void BoardLoopDriver::turn() {
    // A slot of turned() that runs a nested event loop (a message box) would otherwise resume
    // the tasks from inside a turn.
    if (turning_) {
        return;
    }
    turning_ = true;
    for (auto& [fd, notifier] : readable_) {
        notifier->setEnabled(false);
    }
    deadline_.stop();
    loop_.turn(board::EventLoop::Turn::Now);
    emit turned();
    turning_ = false;
    watch();
}

void BoardLoopDriver::watch() {
    const std::vector<int> waited = loop_.descriptors();
    std::erase_if(readable_, [&](const auto& entry) {
        return std::ranges::find(waited, entry.first) == waited.end();
    });
    for (const int fd : waited) {
        auto& notifier = readable_[fd];
        if (!notifier) {
            notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
            connect(notifier.get(), &QSocketNotifier::activated, this, &BoardLoopDriver::turn);
        }
        notifier->setEnabled(true);
    }
    const auto next = loop_.nextDeadline();
    if (!next) {
        deadline_.stop();
        return;
    }
    const auto wait =
        std::chrono::ceil<std::chrono::milliseconds>(*next - board::EventLoop::Clock::now());
    deadline_.start(std::max(wait, std::chrono::milliseconds(0)));
}

}  // namespace vardek::desktop
