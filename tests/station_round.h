// An operator round of vardek-station driven from inside its process, as the round test and the
// README's pictures take it: simulators on 127.0.0.2 and up for the rack's slots, the real engine
// and window, and the keyboard alone.
#pragma once

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTest>

#include <array>
#include <cstddef>

#include "tests/simulator_run.h"
#include "tools/station/rack_engine.h"

namespace vardek::test {

// The simulators' port B at start: RB7, RB4 and RB2 set, so that putting the outputs back is
// seen apart from clearing them.
inline constexpr int kStationPortB = 0x95;

// The rack's simulators, on 127.0.0.2 and up and on one port of the system's choosing: `args`
// for each, none started for a slot left empty. The port, or 0 when one did not start.
template <std::size_t N>
quint16 startRack(std::array<SimulatorRun, N>& simulators, const std::array<QStringList, N>& args,
                  const std::array<bool, N>& present) {
    quint16 port = 0;
    for (std::size_t slot = 0; slot < N; ++slot) {
        if (!present[slot]) {
            continue;
        }
        const QStringList common{"--bind",       QString("127.0.0.%1").arg(slot + 2),
                                 "--drift-ms",   "0",
                                 "--initial-pb", QString::number(kStationPortB)};
        if (!startSimulator(simulators[slot], VARDEK_BOARD_SIM, common + args[slot], kWaitMs,
                            port)) {
            return 0;
        }
        port = simulators[slot].port;
    }
    return port;
}

// What the operator types into the widget that has the focus, ended by Enter as a scanner ends
// it. False when nothing has the focus.
inline bool scan(const QString& text) {
    QWidget* focused = QApplication::focusWidget();
    if (focused == nullptr) {
        return false;
    }
    QTest::keyClicks(focused, text);
    QTest::keyClick(focused, Qt::Key_Return);
    return true;
}

}  // namespace vardek::test
