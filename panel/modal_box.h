// Message boxes shown the way a desktop shows them: modal, and handing the activation back to
// the window that had it once closed.
#pragma once

class QMessageBox;

namespace vardek::panel {

// Runs `box` in a nested event loop, so timers and datagrams go on being handled, and returns
// when the user has closed it. Without a window manager nothing else would reactivate the
// window underneath.
void runModal(QMessageBox& box);

}  // namespace vardek::panel
