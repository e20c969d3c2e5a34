// A real PostgreSQL server for the tests and the benchmarks: its own cluster in a temporary
// folder, run as an unprivileged user (nobody, where the caller is root, since the server refuses
// to run as root), listening on a Unix socket in that folder only (no TCP), stopped by its PID.
#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include "tests/loopback_board.h"

namespace vardek::test {

class PostgresServer {
  public:
    // Debian's PostgreSQL 15; VARDEK_PG_BIN names another build's folder.
    static QString binaries() {
        const QByteArray given = qgetenv("VARDEK_PG_BIN");
        return given.isEmpty() ? QStringLiteral("/usr/lib/postgresql/15/bin")
                               : QString::fromLocal8Bit(given);
    }
    static bool installed() { return QFile::exists(binaries() + QStringLiteral("/postgres")); }

    ~PostgresServer() { stop(); }

    // initdb (once) and start; `durable` keeps fsync on, as a line's server has it. An empty
    // text when the server takes connections, else what went wrong.
    QString start(bool durable = false) {
        if (!folder_.isValid()) {
            return QStringLiteral("no temporary folder");
        }
        const QByteArray path = QFile::encodeName(folder_.path());
        if (::geteuid() == 0 && ::chown(path.constData(), kNobody, kNobody) != 0) {
            return QStringLiteral("cannot give %1 to nobody").arg(folder_.path());
        }
        // The one superuser has the caller's name, so libpq's default user is it.
        const passwd* user = ::getpwuid(::geteuid());
        if (!QFile::exists(folder_.filePath(QStringLiteral("data/PG_VERSION")))) {
            QProcess initdb;
            asServerUser(initdb);
            initdb.start(
                binaries() + QStringLiteral("/initdb"),
                {QStringLiteral("-D"), folder_.filePath(QStringLiteral("data")),
                 QStringLiteral("-U"), QString::fromLocal8Bit(user->pw_name),
                 QStringLiteral("--auth=trust"), QStringLiteral("--locale=C"), QStringLiteral("-E"),
                 QStringLiteral("UTF8"), QStringLiteral("--no-sync")});
            if (!initdb.waitForFinished(120000) || initdb.exitCode() != 0) {
                return QStringLiteral("initdb failed: ") +
                       QString::fromLocal8Bit(initdb.readAllStandardError());
            }
        }
        asServerUser(server_);
        server_.setProcessChannelMode(QProcess::MergedChannels);
        QStringList args{QStringLiteral("-D"), folder_.filePath(QStringLiteral("data")),
                         QStringLiteral("-k"), folder_.path(),
                         QStringLiteral("-c"), QStringLiteral("listen_addresses="),
                         QStringLiteral("-c"), QStringLiteral("max_connections=60")};
        if (!durable) {
            args << QStringLiteral("-F");
        }
        log_.clear();
        server_.start(binaries() + QStringLiteral("/postgres"), args);
        const bool ready = waitUntil(
            [&] {
                log_ += QString::fromLocal8Bit(server_.readAll());
                return log_.contains(QLatin1String("ready to accept connections")) ||
                       server_.state() == QProcess::NotRunning;
            },
            60000);
        if (!ready || server_.state() == QProcess::NotRunning) {
            return QStringLiteral("postgres did not start: ") + log_;
        }
        return {};
    }

    // A fast shutdown (SIGINT), waited for.
    void stop() {
        if (server_.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(server_.processId()), SIGINT);
            server_.waitForFinished(60000);
        }
    }

    // A new empty database; its URI, or an empty text with `problem`.
    QString createDatabase(const QString& name, QString& problem) const {
        QProcess createdb;
        createdb.start(binaries() + QStringLiteral("/createdb"),
                       {QStringLiteral("-h"), folder_.path(), name});
        if (!createdb.waitForFinished(60000) || createdb.exitCode() != 0) {
            problem = QString::fromLocal8Bit(createdb.readAllStandardError());
            return {};
        }
        return uri(name);
    }

    QString uri(const QString& database) const {
        return QStringLiteral("postgresql:///%1?host=%2").arg(database, folder_.path());
    }

  private:
    static constexpr uid_t kNobody = 65534;

    static void asServerUser(QProcess& process) {
        if (::geteuid() != 0) {
            return;
        }
        process.setChildProcessModifier([] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
                ::_exit(127);
            }
        });
    }

    QTemporaryDir folder_{QDir::tempPath() + QStringLiteral("/vardek-pg-XXXXXX")};
    QProcess server_;
    QString log_;
};

}  // namespace vardek::test
