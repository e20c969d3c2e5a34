// What the station's window sees of the boards: a run of the slots that have a serial, started
// by the Start button, and each slot's progress and verdict as the run goes. The window never
// reaches a socket, a report or the store; the engine behind this (check's own, turned from
// Qt's loop) does, and the tests put a fake in its place.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace vardek::station {

// A tile's verdict, in the words every record uses. NoAnswer is a unit that never answered
// (unplugged, unpowered, wrong slot), told apart from a board that answered and failed.
enum class Verdict { Pass, Marginal, Fail, NoAnswer };

struct SlotResult {
    Verdict verdict = Verdict::Fail;
    // What the operator reads under the word: for FAIL the failing check in the terminal's words
    // ("RB3 stuck at 1"), for MARGINAL the measurement and its value ("RA5 33.0 ℃ marginal,
    // outside 18:32"), for NO ANSWER what was tried; empty for PASS.
    QString detail;
};

// A unit to test: its slot (0-based, in the rack file's order) and the serial scanned into it.
struct Unit {
    int slot = 0;
    QString serial;
};

// The shift at this station: from the results store where one is set, else what this window has
// tested since it started.
struct ShiftFigures {
    int tested = 0;  // units, retests included
    int passed = 0;  // PASS or MARGINAL
    // Units that passed at their first test today, of those first tested today; none before any.
    std::optional<double> firstPassYield;
    QStringList lastFailures;  // "SN0042 RB3 stuck at 1", the newest first, at most five
    bool fromStore = false;
};

class Engine : public QObject {
    Q_OBJECT

  public:
    using QObject::QObject;

    // The slots of the rack, in its order: "1: 127.0.0.2" or its comment's name.
    virtual QStringList slotNames() const = 0;
    // The serials the rack file names, slot by slot, "" where it names none: each taken as if
    // scanned into its slot when the window opens.
    virtual QStringList rackSerials() const { return {}; }
    // Why `serial` cannot be a unit's serial, as a phrase; empty when it will do.
    virtual QString serialProblem(const QString& serial) const = 0;
    // Whether a unit with `serial` was tested before (in the store, or in this window's runs).
    virtual bool testedBefore(const QString& serial) const = 0;
    virtual ShiftFigures shift() const = 0;
    // The operator's name, asked at start; it goes into every record of the runs after it.
    virtual void setOperatorName(const QString& name) = 0;

    // Starts testing `units` at once, each in its slot. False, with why, when the run cannot
    // start (a report folder that refuses, a store that cannot be opened): nothing is touched.
    virtual bool start(const std::vector<Unit>& units, QString& problem) = 0;
    virtual bool running() const = 0;
    // Ends a run early: every output the run switched is put back, then finished() comes.
    virtual void stop() = 0;
    // The operator's answer to the question last asked.
    virtual void answer(bool yes) = 0;

  signals:
    // `done` of about `total` requests made for the unit in `slot`.
    void progressed(int slot, int done, int total);
    void slotFinished(int slot, const vardek::station::SlotResult& result);
    // The run is over: every slot has its result (or was cut short) and its records are written.
    void finished();
    // --ask: a yes/no question about what only the operator can see ("slot 2: RB5 set: is it
    // on?"); one at a time, answered through answer().
    void questionAsked(const QString& question);
    // Something the operator must know that is not a unit's verdict: a report or a record that
    // could not be written, a board that cannot be sent to.
    void problemFound(const QString& problem);
};

}  // namespace vardek::station
