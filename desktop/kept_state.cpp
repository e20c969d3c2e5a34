#include "desktop/kept_state.h"

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

}  // namespace vardek::desktop
