#include "error_box.h"

#include <QGuiApplication>
#include <QMessageBox>

#include "error_report.h"
#include "modal_box.h"

namespace vardek::panel {

ErrorBox::ErrorBox() {
    setErrorReporter([this](const std::string& message) { report(message); });
}

ErrorBox::~ErrorBox() { setErrorReporter({}); }

void ErrorBox::report(const std::string& message) {
    QMessageBox box(QMessageBox::Critical, QGuiApplication::applicationDisplayName(),
                    QString::fromStdString(message), QMessageBox::Ok, ownerWindow());
    runModal(box);
}

}  // namespace vardek::panel
