// The station's window: the operator's name, one tile per slot of the rack, the Start button and
// the shift's figures. It drives a run through Engine alone and never waits in a loop of its
// own: the engine's work goes on in Qt's event loop, so every question and problem is shown
// without blocking it.
#pragma once

#include <QMainWindow>
#include <QStringList>

#include <vector>

#include "tools/station/station_engine.h"

QT_BEGIN_NAMESPACE
class QAction;
class QDialog;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QSoundEffect;
class QStackedWidget;
QT_END_NAMESPACE

namespace vardek::station {

class StationTile;

class StationWindow final : public QMainWindow {
    Q_OBJECT

  public:
    explicit StationWindow(Engine& engine, QWidget* parent = nullptr);
    ~StationWindow() override;

    StationTile* tile(int slot) const { return tiles_.at(std::size_t(slot)); }
    int tileCount() const { return int(tiles_.size()); }
    QLineEdit* operatorField() const { return operatorField_; }
    QString operatorName() const { return operatorName_; }
    QPushButton* startButton() const { return start_; }
    QPushButton* startSomeButton() const { return startSome_; }
    // The question asked, while it waits for its answer; hidden otherwise.
    QDialog* questionDialog() const { return question_; }
    QAction* soundAction() const { return sound_; }
    // The problems shown, one a line, until dismissed or the next run.
    QString problems() const;
    QString shiftText() const;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildMenus();
    QWidget* buildOperatorPage();
    QWidget* buildStationPage();
    void buildQuestion();

    void askOperator();
    void takeOperator();
    void scanInto(int slot, const QString& text);
    // Puts the focus on the next slot after `slot`, wrapping, that waits for a serial, or on
    // Start when none does.
    void focusNextAwaiting(int slot);
    void start(bool everySlot);
    void setRunning(bool running);
    void showVerdict(int slot, const SlotResult& result);
    void runFinished();
    void ask(const QString& question);
    void answer(bool yes);
    void putQuestionAway();
    void showProblem(const QString& problem);
    void dismissProblems();
    void updateShift();
    void ring(bool passed);

    Engine& engine_;
    std::vector<StationTile*> tiles_;
    QString operatorName_;
    QStringList problems_;
    // Closing was asked for during a run: the window closes when the run has put things back.
    bool closing_ = false;

    QStackedWidget* pages_ = nullptr;
    QWidget* operatorPage_ = nullptr;
    QWidget* stationPage_ = nullptr;
    QLineEdit* operatorField_ = nullptr;
    QLabel* operatorHint_ = nullptr;
    QLabel* operatorCorner_ = nullptr;
    QScrollArea* tileArea_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* startSome_ = nullptr;
    QFrame* problemArea_ = nullptr;
    QLabel* problemText_ = nullptr;
    QLabel* shift_ = nullptr;
    QDialog* question_ = nullptr;
    QLabel* questionText_ = nullptr;
    QAction* changeOperator_ = nullptr;
    QAction* startSomeAction_ = nullptr;
    QAction* sound_ = nullptr;
    QAction* quit_ = nullptr;
    QSoundEffect* passSound_ = nullptr;
    QSoundEffect* failSound_ = nullptr;
};

}  // namespace vardek::station
