#include "board_settings.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

#include <optional>

#include "board_address.h"

namespace vardek::host {

namespace {

struct BoardSetting {
    std::string file;                  // the settings file's path, whether or not it exists
    std::optional<std::string> value;  // the key's value, when the file sets it
};

BoardSetting readBoardSetting() {
    // GenericConfigLocation follows $XDG_CONFIG_HOME, and ~/.config without it.
    const QString file =
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
            .filePath(QStringLiteral("vardek-control/vardek-control.conf"));
    BoardSetting setting{file.toStdString(), std::nullopt};
    const QSettings settings(file, QSettings::IniFormat);
    const QString key = QString::fromLatin1(kBoardKey.data(), qsizetype(kBoardKey.size()));
    if (settings.contains(key)) {
        const QVariant value = settings.value(key);
        // INI reads a value with commas as a list; shown as written, it is refused below.
        setting.value =
            (value.typeId() == QMetaType::QStringList ? value.toStringList().join(QLatin1Char(','))
                                                      : value.toString())
                .toStdString();
    }
    return setting;
}

}  // namespace

DefaultBoard defaultBoard(std::string_view builtIn) {
    BoardSetting setting = readBoardSetting();
    if (!setting.value) {
        return {std::string(builtIn), {}, {}};
    }
    DefaultBoard board{*setting.value, setting.file, {}};
    if (const std::string problem = link::boardAddressProblem(board.address); !problem.empty()) {
        board.problem = setting.file + ": " + std::string(kBoardKey) + "=" + board.address +
                        " cannot name the board: " + problem;
    }
    return board;
}

}  // namespace vardek::host
