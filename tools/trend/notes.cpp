#include "tools/trend/notes.h"

#include <QDateTime>
#include <QFile>
#include <QTimeZone>

#include <fcntl.h>

#include "host/regular_file.h"

namespace vardek::trend {

QString notesPath(const QString& logPath) { return logPath + QStringLiteral(".notes"); }

namespace {

// The notes file at `path`, opened only when it is a regular file: a FIFO or a device in its
// place would hold the window up or feed it without end. Empty `problem` when open.
QString openNotes(QFile& file, const QString& path, int flags, QIODevice::OpenMode mode) {
    host::OpenedFile opened =
        host::openRegularFile(QFile::encodeName(path).toStdString(), flags, 0644);
    if (!opened.fd.isOpen()) {
        return opened.missing ? QString()
                              : path + QStringLiteral(" ") + QString::fromStdString(opened.problem);
    }
    if (!file.open(opened.fd.get(), mode, QFileDevice::AutoCloseHandle)) {
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    }
    opened.fd.release();
    return {};
}

}  // namespace

QString readNotes(const QString& path, std::vector<Note>& notes) {
    QFile file;
    if (const QString problem =
            openNotes(file, path, O_RDONLY, QIODevice::ReadOnly | QIODevice::Text);
        !problem.isEmpty() || !file.isOpen()) {
        return problem;
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
    QFile file;
    if (const QString problem = openNotes(file, path, O_WRONLY | O_CREAT | O_APPEND,
                                          QIODevice::WriteOnly | QIODevice::Append);
        !problem.isEmpty()) {
        return problem;
    }
    if (file.write(line) != line.size() || !file.flush()) {
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    }
    file.close();
    return file.error() == QFileDevice::NoError
               ? QString()
               : QStringLiteral("%1: %2").arg(path, file.errorString());
}

}  // namespace vardek::trend
