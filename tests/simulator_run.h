// The real vardek-board-sim as a child process, on a loopback port of the system's choosing.
#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include "loopback_board.h"

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

// Starts `simulator` with `args` on an ephemeral port, read back from its first log line.
inline bool startSimulator(SimulatorRun& run, const QString& simulator, QStringList args,
                           int timeoutMs = kWaitMs) {
    args << "--port"
         << "0";
    run.process.start(simulator, args);
    const auto match =
        waitForLog(run, QRegularExpression(R"(listening on 127\.0\.0\.1:(\d+) )"), timeoutMs);
    run.port = match.hasMatch() ? match.captured(1).toUShort() : 0;
    return run.port != 0;
}

}  // namespace vardek::test
