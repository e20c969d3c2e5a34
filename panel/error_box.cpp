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
    if (open_) {
        return;
    }
    open_ = true;
    struct MarkClosed {
        bool& open;
        ~MarkClosed() { open = false; }
    } markClosedOnReturn{open_};
    QMessageBox box(QMessageBox::Critical, QGuiApplication::applicationDisplayName(),
                    QString::fromStdString(message), QMessageBox::Ok);
    runModal(box);
}

}  // namespace vardek::panel
