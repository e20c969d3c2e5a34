// The board client's loop turned from Qt's event loop, for a program with a window: the client
// is a set of coroutines waiting on sockets and deadlines; here a QSocketNotifier on each socket
// waited on and a timer for the soonest deadline call one turn that does not sleep. So the
// answers reach the window on its own thread, one at a time, with nothing shared between threads
// to guard and no thread to stop.
#pragma once

#include <QObject>
#include <QTimer>

#include <map>
#include <memory>

#include "board/event_loop.h"

class QSocketNotifier;

namespace vardek::desktop {

class BoardLoopDriver final : public QObject {
    Q_OBJECT

  public:
    explicit BoardLoopDriver(board::EventLoop& loop, QObject* parent = nullptr);
    ~BoardLoopDriver() override;

    // Watches what the loop's tasks wait for: call once they are started, and again after
    // anything outside a turn (a stop, an answer) may have woken one. Each turn watches anew.
    void watch();
    // One turn now, then turned(), then the waits watched again.
    void turn();

  signals:
    // After each turn: the tasks may have ended.
    void turned();

  private:
    board::EventLoop& loop_;
    // Only the sockets waited on at the moment: one that its exchange closed is never watched.
    std::map<int, std::unique_ptr<QSocketNotifier>> readable_;
    QTimer deadline_;
    bool turning_ = false;
};

}  // namespace vardek::desktop
