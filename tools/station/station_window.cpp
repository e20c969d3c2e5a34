#include "tools/station/station_window.h"

#include <QAction>
#include <QApplication>
#include <QAudioDevice>
#include <QCloseEvent>
#include <QDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMediaDevices>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QSoundEffect>
#include <QStackedWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

#include "desktop/kept_state.h"
#include "tools/station/station_tile.h"

namespace vardek::station {

namespace {

// The most tiles side by side: five columns of four rows hold a 20-slot rack on a 1280 x 800
// screen with the word still large.
constexpr int kMostColumns = 5;

QFont scaled(QFont font, double factor) {
    font.setPointSizeF(font.pointSizeF() * factor);
    font.setBold(true);
    return font;
}

// The yes/no question: answered with Y or N (or its buttons), never dismissed without an
// answer, since the run waits on it.
class QuestionDialog final : public QDialog {
  public:
    QuestionDialog(QWidget* parent, std::function<void(bool)> answered)
        : QDialog(parent), answered_(std::move(answered)) {}
    void reject() override {}

  protected:
    // A key held down answers once: its repeats would answer the next question unread.
    void keyPressEvent(QKeyEvent* event) override {
        const bool plain = !(event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier));
        if ((event->key() == Qt::Key_Y || event->key() == Qt::Key_N) && plain) {
            if (!event->isAutoRepeat()) {
                answered_(event->key() == Qt::Key_Y);
            }
            return;
        }
        QDialog::keyPressEvent(event);
    }

  private:
    std::function<void(bool)> answered_;
};

}  // namespace

StationWindow::StationWindow(Engine& engine, QWidget* parent)
    : QMainWindow(parent), engine_(engine) {
    setWindowTitle(tr("vardek-station"));
    buildMenus();
    pages_ = new QStackedWidget(this);
    operatorPage_ = buildOperatorPage();
    stationPage_ = buildStationPage();
    pages_->addWidget(operatorPage_);
    pages_->addWidget(stationPage_);
    setCentralWidget(pages_);
    buildQuestion();

    connect(&engine_, &Engine::progressed, this, [this](int slot, int done, int total) {
        if (slot >= 0 && slot < tileCount()) {
            tile(slot)->setProgress(done, total);
        }
    });
    connect(&engine_, &Engine::slotFinished, this, &StationWindow::showVerdict);
    connect(&engine_, &Engine::finished, this, &StationWindow::runFinished);
    connect(&engine_, &Engine::questionAsked, this, &StationWindow::ask);
    connect(&engine_, &Engine::problemFound, this, &StationWindow::showProblem);

    const QStringList serials = engine_.rackSerials();
    for (int slot = 0; slot < std::min(tileCount(), int(serials.size())); ++slot) {
        if (!serials[slot].isEmpty()) {
            tile(slot)->serialField()->setText(serials[slot]);
            scanInto(slot, serials[slot]);
        }
    }
    updateShift();
    askOperator();
    resize(1200, 740);
}

StationWindow::~StationWindow() = default;

void StationWindow::buildMenus() {
    QMenu* station = menuBar()->addMenu(tr("&Station"));
    changeOperator_ = station->addAction(tr("Change &operator (new shift)"));
    changeOperator_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    connect(changeOperator_, &QAction::triggered, this, &StationWindow::askOperator);

    startSomeAction_ = station->addAction(tr("&Test the slots with a serial"));
    startSomeAction_->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
    connect(startSomeAction_, &QAction::triggered, this, [this] { start(false); });

    sound_ = station->addAction(tr("&Sound on each verdict"));
    sound_->setCheckable(true);
    sound_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    desktop::keepChecked(
        *sound_, QStringLiteral("vardek-station"), QStringLiteral("sound"), [this] {
            showProblem(tr("The sound's setting could not be kept: it holds for this run only"));
        });
    station->addSeparator();
    QAction* quit = station->addAction(tr("&Quit"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, this, &QWidget::close);
    // Their shortcuts work wherever the focus is, the menu closed; Quit even while a question
    // waits for its answer, since closing is how a run is stopped.
    addActions(station->actions());
    quit_ = quit;

    operatorCorner_ = new QLabel(this);
    operatorCorner_->setFont(scaled(operatorCorner_->font(), 1.2));
    operatorCorner_->setContentsMargins(8, 0, 8, 0);
    operatorCorner_->setAccessibleName(tr("Operator"));
    menuBar()->setCornerWidget(operatorCorner_, Qt::TopRightCorner);
}

QWidget* StationWindow::buildOperatorPage() {
    auto* page = new QWidget(this);
    auto* title = new QLabel(tr("Who is at this station?"), page);
    title->setFont(scaled(title->font(), 2));
    auto* label = new QLabel(
        tr("Type your &name, then Enter. It goes into the record of every unit you test."), page);
    label->setWordWrap(true);
    operatorField_ = new QLineEdit(page);
    operatorField_->setFont(scaled(operatorField_->font(), 1.6));
    operatorField_->setAccessibleName(tr("Operator's name"));
    operatorField_->setAccessibleDescription(
        tr("The name that goes into the record of every unit tested from now on"));
    label->setBuddy(operatorField_);
    operatorHint_ = new QLabel(page);
    operatorHint_->setWordWrap(true);
    connect(operatorField_, &QLineEdit::returnPressed, this, &StationWindow::takeOperator);
    // Escape goes back to the slots with the name kept, once there is one.
    auto* back = new QShortcut(QKeySequence(Qt::Key_Escape), page);
    back->setContext(Qt::WidgetWithChildrenShortcut);
    connect(back, &QShortcut::activated, this, [this] {
        if (!operatorName_.isEmpty()) {
            pages_->setCurrentWidget(stationPage_);
            focusNextAwaiting(-1);
        }
    });

    auto* column = new QVBoxLayout;
    column->addStretch();
    column->addWidget(title);
    column->addWidget(label);
    column->addWidget(operatorField_);
    column->addWidget(operatorHint_);
    column->addStretch(2);
    auto* layout = new QHBoxLayout(page);
    layout->addStretch();
    layout->addLayout(column, 3);
    layout->addStretch();
    return page;
}

QWidget* StationWindow::buildStationPage() {
    auto* page = new QWidget(this);
    auto* grid = new QGridLayout;
    grid->setSpacing(6);
    const QStringList names = engine_.slotNames();
    const int columns = std::clamp(int(std::ceil(std::sqrt(names.size() * 1.6))), 1, kMostColumns);
    auto* tiles = new QWidget;
    for (int slot = 0; slot < names.size(); ++slot) {
        auto* tile = new StationTile(names[slot], tiles);
        connect(tile, &StationTile::serialEntered, this,
                [this, slot](const QString& text) { scanInto(slot, text); });
        grid->addWidget(tile, slot / columns, slot % columns);
        tiles_.push_back(tile);
    }
    // The tiles share the room evenly, each as large as it can be.
    for (int column = 0; column < columns; ++column) {
        grid->setColumnStretch(column, 1);
    }
    for (int row = 0; row * columns < names.size(); ++row) {
        grid->setRowStretch(row, 1);
    }
    grid->setContentsMargins(0, 0, 0, 0);
    tiles->setLayout(grid);
    // Where the screen is too small (a large scale factor) the tiles scroll, never cut.
    tileArea_ = new QScrollArea(page);
    tileArea_->setWidget(tiles);
    tileArea_->setWidgetResizable(true);
    tileArea_->setFrameShape(QFrame::NoFrame);

    problemArea_ = new QFrame(page);
    problemArea_->setFrameShape(QFrame::Box);
    problemArea_->setAccessibleName(tr("Problems"));
    problemText_ = new QLabel(problemArea_);
    problemText_->setWordWrap(true);
    problemText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    problemText_->setFont(scaled(problemText_->font(), 1.2));
    auto* dismiss = new QPushButton(tr("&Dismiss"), problemArea_);
    dismiss->setAccessibleDescription(tr("Takes the problems shown away"));
    connect(dismiss, &QPushButton::clicked, this, &StationWindow::dismissProblems);
    auto* problemLayout = new QHBoxLayout(problemArea_);
    problemLayout->addWidget(problemText_, 1);
    problemLayout->addWidget(dismiss, 0, Qt::AlignTop);
    problemArea_->hide();

    shift_ = new QLabel(page);
    shift_->setWordWrap(true);
    shift_->setFrameShape(QFrame::StyledPanel);
    shift_->setAccessibleName(tr("Shift"));
    startSome_ = new QPushButton(tr("Test the slots\nwith a serial (Ctrl+Enter)"), page);
    startSome_->setAccessibleName(tr("Test the slots with a serial"));
    startSome_->setAccessibleDescription(
        tr("Starts testing the slots that have a serial, leaving the others"));
    startSome_->setAutoDefault(true);
    connect(startSome_, &QPushButton::clicked, this, [this] { start(false); });
    start_ = new QPushButton(tr("START"), page);
    start_->setFont(scaled(start_->font(), 2.2));
    start_->setMinimumSize(start_->sizeHint().width() * 2, start_->sizeHint().height() * 3 / 2);
    start_->setAccessibleName(tr("Start"));
    start_->setAccessibleDescription(
        tr("Starts testing every slot, once each has a serial; Space or Enter presses it"));
    // Enter presses it as Space does: a scanner's or a keyboard's Enter.
    start_->setAutoDefault(true);
    connect(start_, &QPushButton::clicked, this, [this] { start(true); });
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(shift_, 1);
    bottom->addWidget(startSome_);
    bottom->addWidget(start_);

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(tileArea_, 1);
    layout->addWidget(problemArea_);
    layout->addLayout(bottom);
    return page;
}

void StationWindow::buildQuestion() {
    question_ = new QuestionDialog(this, [this](bool yes) { answer(yes); });
    question_->setWindowTitle(tr("Question"));
    questionText_ = new QLabel(question_);
    questionText_->setFont(scaled(questionText_->font(), 2));
    questionText_->setWordWrap(true);
    questionText_->setAlignment(Qt::AlignCenter);
    auto* yes = new QPushButton(tr("Yes (Y)"), question_);
    auto* no = new QPushButton(tr("No (N)"), question_);
    for (QPushButton* button : {yes, no}) {
        button->setFont(scaled(button->font(), 2));
        button->setMinimumHeight(button->sizeHint().height() * 3 / 2);
    }
    yes->setAccessibleDescription(tr("Answers yes; the Y key does too"));
    no->setAccessibleDescription(tr("Answers no; the N key does too"));
    connect(yes, &QPushButton::clicked, this, [this] { answer(true); });
    connect(no, &QPushButton::clicked, this, [this] { answer(false); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(yes);
    buttons->addWidget(no);
    auto* layout = new QVBoxLayout(question_);
    layout->addWidget(questionText_, 1);
    layout->addLayout(buttons);
    question_->setMinimumSize(640, 320);
    question_->addAction(quit_);
}

QString StationWindow::problems() const { return problems_.join(QLatin1Char('\n')); }

QString StationWindow::shiftText() const { return shift_->text(); }

void StationWindow::askOperator() {
    if (engine_.running()) {
        return;
    }
    operatorHint_->clear();
    operatorField_->setText(operatorName_);
    operatorField_->selectAll();
    pages_->setCurrentWidget(operatorPage_);
    operatorField_->setFocus();
}

void StationWindow::takeOperator() {
    const QString name = operatorField_->text().simplified();
    if (name.isEmpty()) {
        operatorHint_->setText(tr("A name is needed: every unit's record says who tested it."));
        return;
    }
    operatorName_ = name;
    engine_.setOperatorName(name);
    operatorCorner_->setText(tr("Operator: %1").arg(name));
    operatorCorner_->setAccessibleDescription(name);
    // The menu bar lays its corner out again only when the corner is shown.
    operatorCorner_->hide();
    operatorCorner_->show();
    pages_->setCurrentWidget(stationPage_);
    focusNextAwaiting(-1);
}

void StationWindow::scanInto(int slot, const QString& text) {
    if (engine_.running()) {
        return;
    }
    StationTile* into = tile(slot);
    const QString serial = text.trimmed();
    QString problem = serial.isEmpty() ? QString() : engine_.serialProblem(serial);
    if (!serial.isEmpty() && problem.isEmpty()) {
        // One unit, one serial: two slots tested under one serial would give two boards one
        // record's name.
        for (StationTile* other : tiles_) {
            if (other != into && other->serial() == serial && !other->awaitsSerial()) {
                problem = tr("already scanned into %1").arg(other->slotName());
            }
        }
    }
    if (serial.isEmpty() || !problem.isEmpty()) {
        into->refuse(problem);
        into->serialField()->setFocus();
        into->serialField()->selectAll();
        return;
    }
    // The unit moved here from a slot that shows its verdict: that slot no longer holds it.
    for (StationTile* other : tiles_) {
        if (other != into && other->serial() == serial) {
            other->forgetSerial();
        }
    }
    into->accept(serial, engine_.testedBefore(serial));
    focusNextAwaiting(slot);
}

void StationWindow::focusNextAwaiting(int slot) {
    const int count = tileCount();
    for (int step = 1; step <= count; ++step) {
        StationTile* next = tile((slot + step + count) % count);
        if (next->awaitsSerial()) {
            next->serialField()->setFocus();
            next->serialField()->selectAll();
            tileArea_->ensureWidgetVisible(next);
            return;
        }
    }
    start_->setFocus();
}

void StationWindow::start(bool everySlot) {
    if (engine_.running() || pages_->currentWidget() != stationPage_) {
        return;
    }
    // A slot that shows its last result waits for its next unit's serial, the same one again
    // to retest that unit: testing it under the serial still shown would give the next board
    // the last one's record.
    std::vector<Unit> units;
    QStringList missing;
    StationTile* firstMissing = nullptr;
    for (int slot = 0; slot < tileCount(); ++slot) {
        if (tile(slot)->awaitsSerial()) {
            missing << tile(slot)->slotName();
            firstMissing = firstMissing ? firstMissing : tile(slot);
        } else {
            units.push_back({slot, tile(slot)->serial()});
        }
    }
    if (units.empty() || (everySlot && !missing.isEmpty())) {
        showProblem(units.empty()
                        ? tr("No slot has a serial: scan the units' serials first (the same one "
                             "again to retest a unit).")
                        : tr("No serial in %1: scan one into each (the same one again to retest "
                             "a unit), or test only the slots that have one (Ctrl+Enter).")
                              .arg(missing.join(QStringLiteral(", "))));
        if (firstMissing) {
            firstMissing->serialField()->setFocus();
            tileArea_->ensureWidgetVisible(firstMissing);
        }
        return;
    }

    // The tiles show the run before it starts, since the engine may report on it at once; they
    // are put back as they were if it cannot start.
    std::vector<StationTile::View> before;
    for (const Unit& unit : units) {
        before.push_back(tile(unit.slot)->view());
        tile(unit.slot)->startTesting();
    }
    dismissProblems();
    setRunning(true);
    QString problem;
    if (!engine_.start(units, problem)) {
        for (std::size_t i = 0; i < units.size(); ++i) {
            tile(units[i].slot)->restore(before[i]);
        }
        setRunning(false);
        showProblem(tr("The run did not start: %1").arg(problem));
        start_->setFocus();
    }
}

void StationWindow::setRunning(bool running) {
    for (StationTile* tile : tiles_) {
        tile->serialField()->setEnabled(!running);
    }
    for (QWidget* button : {static_cast<QWidget*>(start_), static_cast<QWidget*>(startSome_)}) {
        button->setEnabled(!running);
    }
    startSomeAction_->setEnabled(!running);
    changeOperator_->setEnabled(!running);
}

void StationWindow::showVerdict(int slot, const SlotResult& result) {
    if (slot < 0 || slot >= tileCount()) {
        return;
    }
    tile(slot)->showResult(result);
    ring(result.verdict == Verdict::Pass || result.verdict == Verdict::Marginal);
}

void StationWindow::runFinished() {
    putQuestionAway();
    for (StationTile* tile : tiles_) {
        tile->stopShort();
    }
    setRunning(false);
    updateShift();
    if (closing_) {
        // Later, from the event loop: the close may have been asked from within the stop.
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    focusNextAwaiting(-1);
}

void StationWindow::ask(const QString& question) {
    questionText_->setText(question);
    question_->setAccessibleDescription(question);
    question_->open();
}

void StationWindow::answer(bool yes) {
    // One answer to each question, however many keys are pressed before the dialog goes.
    if (!question_->isVisible()) {
        return;
    }
    putQuestionAway();
    engine_.answer(yes);
}

void StationWindow::putQuestionAway() {
    if (question_->isVisible()) {
        question_->hide();
        // The keys come back here, for the next scan, wherever the desktop puts them.
        activateWindow();
    }
}

void StationWindow::showProblem(const QString& problem) {
    problems_ << problem;
    problemText_->setText(problems());
    problemArea_->setAccessibleDescription(problems());
    problemArea_->show();
}

void StationWindow::dismissProblems() {
    problems_.clear();
    problemText_->clear();
    problemArea_->hide();
}

void StationWindow::updateShift() {
    const ShiftFigures shift = engine_.shift();
    const QString yield = shift.firstPassYield
                              ? tr("%1 %", "a percentage")
                                    .arg(QLocale().toString(*shift.firstPassYield * 100, 'f', 1))
                              : QStringLiteral("—");
    QString text = tr("Shift (%1): %2 tested, %3 passed, first-pass yield %4")
                       .arg(shift.fromStore ? tr("today at this station, from the results store")
                                            : tr("since this window started"))
                       .arg(shift.tested)
                       .arg(shift.passed)
                       .arg(yield);
    text += QLatin1Char('\n');
    text += shift.lastFailures.isEmpty()
                ? tr("No failures")
                : tr("Last failures: %1").arg(shift.lastFailures.join(QStringLiteral("; ")));
    shift_->setText(text);
    shift_->setAccessibleDescription(text);
}

void StationWindow::ring(bool passed) {
    if (!sound_->isChecked()) {
        return;
    }
    // The system bell where there is no sound output to play on.
    if (QMediaDevices::audioOutputs().isEmpty()) {
        QApplication::beep();
        return;
    }
    QSoundEffect*& effect = passed ? passSound_ : failSound_;
    if (!effect) {
        effect = new QSoundEffect(this);
        effect->setSource(QUrl(passed ? QStringLiteral("qrc:/station/pass.wav")
                                      : QStringLiteral("qrc:/station/fail.wav")));
    }
    if (effect->status() == QSoundEffect::Error) {
        QApplication::beep();
        return;
    }
    effect->play();
}

void StationWindow::closeEvent(QCloseEvent* event) {
    if (!engine_.running()) {
        QMainWindow::closeEvent(event);
        return;
    }
    // Never left with outputs switched: the run puts them back first, and the window stays to
    // say so until it has.
    event->ignore();
    if (closing_) {
        return;
    }
    closing_ = true;
    putQuestionAway();
    showProblem(tr("Stopping: putting the outputs back. The window closes when that is done."));
    engine_.stop();
}

}  // namespace vardek::station
