// The program's own boxes (the wrong-size message and the error box): modal, one at a time, wide
// enough for their whole caption, and handing the activation back to their window once closed.
#pragma once

class QMessageBox;
class QWidget;

namespace vardek::panel {

// Runs `box` in a nested event loop, so timers and datagrams go on being handled, and returns
// true once the user has closed it. While another of the program's boxes is open it shows
// nothing and returns false at once: a stream of failed sends or bad datagrams must not stack
// boxes on top of each other.
bool runModal(QMessageBox& box);

bool modalBoxOpen();

// A box that closes hands the activation back to its owner window and marks that it did. The
// owner's next activation is that hand-back, whenever the platform delivers it, and not a new
// activation. True while such a mark is waiting for `window`.
bool handBackPending(const QWidget* window);
// Consumes the mark: true if `window` was handed the activation back.
bool takeHandBack(const QWidget* window);

}  // namespace vardek::panel
