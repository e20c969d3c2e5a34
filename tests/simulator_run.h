// The real vardek-board-sim as a child process, on a loopback port of the system's choosing.
#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "tests/loopback_board.h"

namespace vardek::test {

struct SimulatorRun {
    QProcess process;
    QString log;
    quint16 port = 0;

    ~SimulatorRun() {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            process.waitForFinished(5000);
        }
    }

    // Takes in what the simulator has logged so far.
    void readLog() { log += QString::fromUtf8(process.readAllStandardOutput()); }

    int countLines(const QString& pattern) {
        readLog();
        return int(log.count(QRegularExpression(pattern)));
    }
};

// Reads the simulator's log until a line matches or the process has ended, and returns the
// match.
inline QRegularExpressionMatch waitForLog(SimulatorRun& run, const QRegularExpression& pattern,
                                          int timeoutMs = kWaitMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (true) {
        run.readLog();
        const auto match = pattern.match(run.log);
        if (match.hasMatch() || deadline.hasExpired() ||
            run.process.state() == QProcess::NotRunning) {
            return match;
        }
        run.process.waitForReadyRead(int(deadline.remainingTime()));
    }
}

// Starts `simulator` with `args` on `port` (0: an ephemeral one), read back from its first log
// line. With `--bind` in `args` it listens on that loopback address instead of 127.0.0.1.
inline bool startSimulator(SimulatorRun& run, const QString& simulator, QStringList args,
                           int timeoutMs = kWaitMs, quint16 port = 0) {
    args << "--port" << QString::number(port);
    run.process.start(simulator, args);
    const auto match =
        waitForLog(run, QRegularExpression(R"(listening on 127\.\d+\.\d+\.\d+:(\d+) )"), timeoutMs);
    run.port = match.hasMatch() ? match.captured(1).toUShort() : 0;
    return run.port != 0;
}

// A connection to the simulator's control socket (--control): one command, then its answer.
class ControlClient {
  public:
    explicit ControlClient(const QString& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = path.toLocal8Bit();
        if (std::size_t(name.size()) >= sizeof address.sun_path) {
            return;
        }
        std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ >= 0 &&
            ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~ControlClient() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    ControlClient(const ControlClient&) = delete;
    ControlClient& operator=(const ControlClient&) = delete;

    bool isConnected() const { return fd_ >= 0; }

    // Sends `line` and a newline; the answer line without its newline, or a null string when
    // none came in time or the simulator closed the connection.
    QString command(const QByteArray& line) { return send(line) ? answer() : QString(); }

    // Sends `line` and a newline, without waiting for the answer.
    bool send(const QByteArray& line) {
        const QByteArray sent = line + '\n';
        return fd_ >= 0 &&
               ::send(fd_, sent.constData(), std::size_t(sent.size()), MSG_NOSIGNAL) == sent.size();
    }

    // The next answer line, also one that came unasked.
    QString answer() {
        const QDeadlineTimer deadline(kWaitMs);
        while (!received_.contains('\n')) {
            pollfd fd{fd_, POLLIN, 0};
            char chunk[512];
            if (::poll(&fd, 1, int(deadline.remainingTime())) <= 0) {
                return {};
            }
            const ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
            if (got <= 0) {
                return {};
            }
            received_.append(chunk, got);
        }
        const qsizetype end = received_.indexOf('\n');
        const QString line = QString::fromUtf8(received_.left(end));
        received_.remove(0, end + 1);
        return line;
    }

  private:
    int fd_ = -1;
    QByteArray received_;
};

}  // namespace vardek::test
