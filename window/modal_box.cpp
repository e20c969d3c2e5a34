#include "window/modal_box.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QPointer>
#include <QSpacerItem>

#include "window/wayland.h"

namespace vardek::panel {

namespace {

bool boxOpen = false;
QPointer<QWidget> handedBackTo;

// Qt sizes a message box by its text; its caption is as long again as its text. Title bars
// draw the caption (often in bold) beside the window's icon and its three buttons, each about
// as wide as the title bar is high.
void fitCaption(QMessageBox& box) {
    QFont titleFont = box.font();
    titleFont.setBold(true);
    const QFontMetrics metrics(titleFont);
    const int width = metrics.horizontalAdvance(box.windowTitle()) + 4 * 2 * metrics.height();
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid) {
        return;
    }
    const QMargins margins = grid->contentsMargins();
    grid->addItem(new QSpacerItem(width - margins.left() - margins.right(), 0, QSizePolicy::Minimum,
                                  QSizePolicy::Minimum),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

}  // namespace

bool runModal(QMessageBox& box) {
    if (boxOpen) {
        return false;
    }
    boxOpen = true;
    struct MarkClosed {
        ~MarkClosed() { boxOpen = false; }
    } markClosedOnReturn;

    const QPointer<QWidget> owner =
        box.parentWidget() ? box.parentWidget()->window() : QApplication::activeWindow();
    fitCaption(box);
    box.exec();
    if (owner && owner->isVisible()) {
        // Marked before asking for it: the platform may deliver the activation at any time
        // from here, or may already have queued it.
        handedBackTo = owner;
        // Without a window manager nothing else would reactivate the owner. A Wayland
        // compositor does it itself and refuses the request.
        if (!onWayland()) {
            owner->activateWindow();
        }
    }
    return true;
}

bool modalBoxOpen() { return boxOpen; }

bool handBackPending(const QWidget* window) { return window && handedBackTo == window; }

bool takeHandBack(const QWidget* window) {
    if (!handBackPending(window)) {
        return false;
    }
    handedBackTo.clear();
    return true;
}

}  // namespace vardek::panel
