#include "error_box.h"

#include <QGuiApplication>
#include <QMessageBox>

#include "error_report.h"
#include "modal_box.h"

namespace vardek::panel {

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
