#include "desktop/stop_signals.h"

#include <QApplication>
#include <QSocketNotifier>

namespace vardek::desktop {

StopSignals::~StopSignals() { delete notifier_; }

void StopSignals::watch() {
    // Without the descriptor the signals were left unblocked: their default action ends the
    // program.
    if (signals_.descriptor() < 0) {
        return;
    }
    notifier_ = new QSocketNotifier(signals_.descriptor(), QSocketNotifier::Read);
    connect(notifier_, &QSocketNotifier::activated, this, &StopSignals::onSignal);
}

std::string_view StopSignals::signalName() const {
    return signals_.signal() != 0 ? signals_.signalName() : std::string_view();
}

void StopSignals::onSignal() {
    signals_.take();
    // Closing every window also closes an open message box, whose nested loop then returns;
    // exit() leaves every running event loop, so the program ends with status 0.
    QApplication::closeAllWindows();
    QCoreApplication::exit(0);
}

}  // namespace vardek::desktop
