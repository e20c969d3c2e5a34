// What a window keeps between runs (a sound turned off), in PROGRAM.ini beside the settings
// file: that one is the user's, written by hand, and refuses a key it does not know.
#pragma once

#include <QSettings>
#include <QString>

#include <functional>
#include <memory>

class QAction;

namespace vardek::desktop {

// The program's kept state; none where something other than a file stands at its name, since
// a FIFO would hold the window up.
std::unique_ptr<QSettings> keptState(const QString& program);

// Binds the checkable `action` to the yes-or-no `key` kept for `program`: checked as kept (yes
// when nothing is), kept anew at each toggle; `notKept` is told when it could not be, and the
// choice then holds for this run only.
void keepChecked(QAction& action, const QString& program, const QString& key,
                 std::function<void()> notKept);

}  // namespace vardek::desktop
