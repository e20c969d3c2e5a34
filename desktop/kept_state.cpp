#include "desktop/kept_state.h"

#include <QAction>
#include <QFileInfo>
#include <QStandardPaths>

namespace vardek::desktop {

std::unique_ptr<QSettings> keptState(const QString& program) {
    const QString path = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                         QStringLiteral("/vardek-control/") + program + QStringLiteral(".ini");
    const QFileInfo file(path);
    if (file.exists() && !file.isFile()) {
        return nullptr;
    }
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}

void keepChecked(QAction& action, const QString& program, const QString& key,
                 std::function<void()> notKept) {
    const auto kept = keptState(program);
    action.setChecked(!kept || kept->value(key, true).toBool());
    QObject::connect(&action, &QAction::toggled, &action,
                     [program, key, notKept = std::move(notKept)](bool on) {
                         const auto state = keptState(program);
                         if (state) {
                             state->setValue(key, on);
                             state->sync();
                         }
                         if (!state || state->status() != QSettings::NoError) {
                             notKept();
                         }
                     });
}

}  // namespace vardek::desktop
