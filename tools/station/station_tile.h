// One slot of the rack as the operator sees it from a metre away: the slot's name, the serial
// scanned into it and its state in large type, with the detail under it. The word is always
// there; the background's colour only repeats it.
#pragma once

#include <QFrame>
#include <QString>
#include <QTimer>

#include "tools/station/station_engine.h"

QT_BEGIN_NAMESPACE
class QLabel;
class QLineEdit;
class QProgressBar;
QT_END_NAMESPACE

namespace vardek::station {

class StationTile final : public QFrame {
    Q_OBJECT

  public:
    enum class State { Waiting, Testing, Stopped, Result };

    StationTile(const QString& slotName, QWidget* parent = nullptr);

    const QString& slotName() const { return slotName_; }
    QLineEdit* serialField() const { return serialField_; }
    // The serial accepted in this slot; empty while none is.
    const QString& serial() const { return serial_; }
    State state() const { return state_; }
    // Whether the slot waits for its next unit's serial: none yet, or the unit in it has its
    // verdict (or was stopped short), so a scan replaces it.
    bool awaitsSerial() const {
        return serial_.isEmpty() || state_ == State::Stopped || state_ == State::Result;
    }

    // What the tile shows, as the operator reads it.
    QString word() const;
    QString detail() const;
    bool retestShown() const;

    // A serial scanned into the slot, accepted: the result shown before goes.
    void accept(const QString& serial, bool retest);
    // A scanned serial refused, with why: the slot has no serial, and its result goes.
    void refuse(const QString& reason);
    // The serial taken away (scanned into another slot); the result stays on screen.
    void forgetSerial();

    void startTesting();
    void setProgress(int done, int total);
    void showResult(const SlotResult& result);
    // The run ended before this unit had its verdict.
    void stopShort();

    // What the tile shows, to put back when a run that was to test it does not start.
    struct View {
        State state = State::Waiting;
        QString serial;
        SlotResult result;
        QString refusal;
    };
    View view() const { return {state_, serial_, result_, refusal_}; }
    void restore(const View& view);

  signals:
    // Enter in the serial field, with what it holds.
    void serialEntered(const QString& text);

  private:
    void showState();
    void showProgress();
    void describe(const QString& detail);

    QString slotName_;
    QString serial_;
    State state_ = State::Waiting;
    SlotResult result_;
    QString refusal_;  // why the last serial scanned was refused, while no other is accepted

    QLabel* name_ = nullptr;
    QLabel* retest_ = nullptr;
    QLineEdit* serialField_ = nullptr;
    QLabel* word_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* detail_ = nullptr;
    // The progress last told, and the hold after a bar was drawn (setProgress).
    int progressDone_ = 0;
    int progressTotal_ = 0;
    QTimer progressHeld_;
};

// The word every record uses for a verdict: kept in English in every language, since it is the
// word the reports, the store and the line's people search for.
QString verdictWord(Verdict verdict);

}  // namespace vardek::station
