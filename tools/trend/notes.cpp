#include "tools/trend/notes.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>

namespace vardek::trend {

QString notesPath(const QString& logPath) { return logPath + QStringLiteral(".notes"); }

QString readNotes(const QString& path, std::vector<Note>& notes) {
    QFile file(path);
    if (!file.exists()) {
        return {};
    }
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    }
    int number = 0;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        ++number;
        if (line.isEmpty()) {
            continue;
        }
        const qsizetype tab = line.indexOf(QLatin1Char('\t'));
        const QDateTime time =
            QDateTime::fromString(line.left(tab < 0 ? line.size() : tab), Qt::ISODateWithMs);
        if (tab < 0 || !time.isValid()) {
            return QStringLiteral("%1:%2: expects a UTC time, a tab and the note")
                .arg(path)
                .arg(number);
        }
        notes.push_back({time.toMSecsSinceEpoch(), line.mid(tab + 1)});
    }
    return {};
}

QString appendNote(const QString& path, const Note& note) {
    QString text = note.text;
    for (QChar& c : text) {
        if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            c = QLatin1Char(' ');
        }
    }
    const QByteArray line =
        (QDateTime::fromMSecsSinceEpoch(note.timeMs, QTimeZone::utc()).toString(Qt::ISODateWithMs) +
         QLatin1Char('\t') + text + QLatin1Char('\n'))
            .toUtf8();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(line) != line.size() ||
        !file.flush()) {
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    }
    file.close();
    return file.error() == QFileDevice::NoError
               ? QString()
               : QStringLiteral("%1: %2").arg(path, file.errorString());
}

}  // namespace vardek::trend
