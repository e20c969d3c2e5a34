#include "modal_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

namespace vardek::panel {

void runModal(QMessageBox& box) {
    const QPointer<QWidget> previous = QApplication::activeWindow();
    box.exec();
    if (previous && previous->isVisible()) {
        previous->activateWindow();
    }
}

}  // namespace vardek::panel
