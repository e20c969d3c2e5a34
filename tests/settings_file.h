// The user's settings file as a test leaves it in a private XDG_CONFIG_HOME: text in a regular
// file, or what else a user may find in its place.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vardek::test {

enum class SettingsKind {
    Text,
    Fifo,  // which a reader opening it waits on for a writer
    Directory,
    Unreadable,  // text, mode 000
};

// Puts the file of `kind` under `configHome`, holding `text` where it is a file; false when it
// could not.
inline bool putSettings(const QString& configHome, SettingsKind kind, const QByteArray& text) {
    const QDir home(configHome);
    const QString path = home.filePath(QStringLiteral("vardek-control/vardek-control.conf"));
    if (!home.mkpath(QStringLiteral("vardek-control"))) {
        return false;
    }
    switch (kind) {
        case SettingsKind::Fifo:
            return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
        case SettingsKind::Directory:
            return home.mkpath(path);
        case SettingsKind::Text:
        case SettingsKind::Unreadable:
            break;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
        return false;
    }
    file.close();
    // Others may pass through the folders: a process of root's may read the file only as
    // another user (asUnprivileged).
    return kind == SettingsKind::Text ||
           (QFile::setPermissions(configHome, QFile::ReadOwner | QFile::WriteOwner |
                                                  QFile::ExeOwner | QFile::ExeOther) &&
            QFile::setPermissions(
                home.filePath(QStringLiteral("vardek-control")),
                QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeOther) &&
            file.setPermissions({}));
}

// Root reads a file of mode 000 all the same (as CI runs the tests): its child runs as nobody.
// Nobody may not reach the build tree (a clone in root's home, mode 0700), so the child runs a
// copy of `program` in `folder`, which anyone may enter; the path to start is returned.
inline QString asUnprivileged(QProcess& process, const QString& program,
                              const QTemporaryDir& folder) {
    if (::geteuid() != 0) {
        return program;
    }
    process.setChildProcessModifier([] {
        constexpr uid_t kNobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
            ::_exit(127);
        }
    });
    const QString copy = folder.filePath(QFileInfo(program).fileName());
    constexpr auto kAnyone =
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther;
    if (!QFile::exists(copy) && !QFile::copy(program, copy)) {
        return program;
    }
    QFile::setPermissions(folder.path(), kAnyone);
    QFile::setPermissions(copy, kAnyone);
    return copy;
}

}  // namespace vardek::test
