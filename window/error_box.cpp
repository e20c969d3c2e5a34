#include "window/error_box.h"

#include <QApplication>
#include <QMessageBox>

#include "window/error_report.h"
#include "window/modal_box.h"

namespace vardek::panel {

namespace {

// The window a box reporting an error belongs to: the active one, or else the program's window.
QWidget* ownerWindow() {
    if (QWidget* active = QApplication::activeWindow()) {
        return active;
    }
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && !qobject_cast<QMessageBox*>(widget)) {
            return widget;
        }
    }
    return nullptr;
}

}  // namespace

ErrorBox::ErrorBox() : queue_(std::make_unique<QObject>()) {
    setErrorReporter([this](const std::string& message) { report(message); });
}

ErrorBox::~ErrorBox() { setErrorReporter({}); }

void ErrorBox::report(const std::string& message) {
    if (queued_ || modalBoxOpen()) {
        return;
    }
    queued_ = true;
    QMetaObject::invokeMethod(
        queue_.get(),
        [this, message] {
            queued_ = false;
            showNow(message);
        },
        Qt::QueuedConnection);
}

void ErrorBox::showNow(const std::string& message) {
    QMessageBox box(QMessageBox::Critical, QGuiApplication::applicationDisplayName(),
                    QString::fromStdString(message), QMessageBox::Ok, ownerWindow());
    runModal(box);
}

}  // namespace vardek::panel
