// What a window keeps between runs (a sound turned off), in PROGRAM.ini beside the settings
// file: that one is the user's, written by hand, and refuses a key it does not know.
#pragma once

#include <QSettings>
#include <QString>

#include <memory>

namespace vardek::desktop {

// The program's kept state; none where something other than a file stands at its name, since
// a FIFO would hold the window up.
std::unique_ptr<QSettings> keptState(const QString& program);

}  // namespace vardek::desktop
