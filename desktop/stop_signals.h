// The stop signals (SIGTERM, SIGINT, SIGHUP, SIGQUIT: a session's logout, a terminal's Ctrl-C, a
// closed terminal, a script's clean-up) end the program as its close button would, instead of
// killing it in the middle of an event.
#pragma once

#include <QObject>

#include <string_view>

#include "host/signal_descriptor.h"

class QSocketNotifier;

namespace vardek::desktop {

class StopSignals final : public QObject {
    Q_OBJECT

  public:
    // Blocks the signals for this thread and every thread started after it, so they only
    // arrive through the event loop: construct before the application object.
    StopSignals() = default;
    ~StopSignals() override;

    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Starts watching; needs the application object.
    void watch();
    // The signal that ended the program ("SIGTERM"); empty until one did.
    std::string_view signalName() const;

  private:
    void onSignal();

    host::SignalDescriptor signals_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace vardek::desktop
