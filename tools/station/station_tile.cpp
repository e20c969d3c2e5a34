#include "tools/station/station_tile.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QVBoxLayout>

#include <algorithm>

namespace vardek::station {

namespace {

// Backgrounds with their text colour, each at a contrast of 4.5:1 or more so that the word reads
// from a metre away under a line's lights: white on green, red and grey, black on amber.
struct Colours {
    QColor background;
    QColor text;
};
Colours verdictColours(Verdict verdict) {
    switch (verdict) {
        case Verdict::Pass:
            return {QColor(0x1b, 0x6e, 0x2e), Qt::white};
        case Verdict::Marginal:
            return {QColor(0xf2, 0xb1, 0x00), Qt::black};
        case Verdict::Fail:
            return {QColor(0xb0, 0x1c, 0x1c), Qt::white};
        case Verdict::NoAnswer:
            return {QColor(0x5a, 0x5e, 0x63), Qt::white};
    }
    return {};
}

// The state's word as large as its tile's width lets it be, the same size in every tile of a
// width whatever word each shows, and never smaller than its font: a rack of few slots on a
// large screen reads from further away.
class WordLabel final : public QLabel {
  public:
    WordLabel(QStringList words, QWidget* parent) : QLabel(parent), words_(std::move(words)) {
        QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override {
        return QFontMetrics(fontFor(width)).height() + 2 * margin() + 2 * frameWidth();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QFont drawn = fontFor(contentsRect().width());
        // Where the layout gives less height than the width would fill, the height rules.
        drawn.setPixelSize(std::max(QFontInfo(font()).pixelSize(),
                                    std::min(drawn.pixelSize(), contentsRect().height() * 4 / 5)));
        QPainter painter(this);
        painter.setFont(drawn);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(contentsRect(), Qt::AlignCenter, text());
    }

  private:
    QFont fontFor(int width) const {
        QFont fitted = font();
        constexpr int kMeasuredPx = 100;
        fitted.setPixelSize(kMeasuredPx);
        const QFontMetricsF measured(fitted);
        qreal widest = measured.horizontalAdvance(text());
        for (const QString& word : words_) {
            widest = std::max(widest, measured.horizontalAdvance(word));
        }
        fitted.setPixelSize(
            std::max(QFontInfo(font()).pixelSize(), int(width * 0.92 * kMeasuredPx / widest)));
        return fitted;
    }

    QStringList words_;
};

}  // namespace

QString verdictWord(Verdict verdict) {
    switch (verdict) {
        case Verdict::Pass:
            return QStringLiteral("PASS");
        case Verdict::Marginal:
            return QStringLiteral("MARGINAL");
        case Verdict::Fail:
            return QStringLiteral("FAIL");
        case Verdict::NoAnswer:
            return QStringLiteral("NO ANSWER");
    }
    return {};
}

StationTile::StationTile(const QString& slotName, QWidget* parent)
    : QFrame(parent), slotName_(slotName) {
    progressHeld_.setSingleShot(true);
    progressHeld_.setInterval(100);
    connect(&progressHeld_, &QTimer::timeout, this, &StationTile::showProgress);
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);

    name_ = new QLabel(slotName, this);
    QFont bold = name_->font();
    bold.setBold(true);
    name_->setFont(bold);
    name_->setWordWrap(true);
    // A framed word beside the name, not only a colour, says the unit was tested before.
    retest_ = new QLabel(tr("RETEST"), this);
    retest_->setFont(bold);
    retest_->setFrameShape(QFrame::Box);
    retest_->setMargin(1);
    retest_->hide();
    auto* top = new QHBoxLayout;
    top->addWidget(name_, 1);
    top->addWidget(retest_);

    serialField_ = new QLineEdit(this);
    serialField_->setPlaceholderText(tr("Serial"));
    serialField_->setAccessibleName(tr("Serial in %1").arg(slotName));
    serialField_->setAccessibleDescription(tr("Scan or type the unit's serial, then Enter"));
    connect(serialField_, &QLineEdit::returnPressed, this,
            [this] { emit serialEntered(serialField_->text()); });

    word_ = new WordLabel(
        {verdictWord(Verdict::Pass), verdictWord(Verdict::Marginal), verdictWord(Verdict::Fail),
         verdictWord(Verdict::NoAnswer), tr("WAITING"), tr("TESTING"), tr("STOPPED")},
        this);
    QFont large = word_->font();
    large.setPointSizeF(large.pointSizeF() * 2.4);
    large.setBold(true);
    word_->setFont(large);

    progress_ = new QProgressBar(this);
    progress_->setAccessibleName(tr("Progress in %1").arg(slotName));
    progress_->hide();

    detail_ = new QLabel(this);
    QFont detailFont = detail_->font();
    detailFont.setPointSizeF(detailFont.pointSizeF() * 1.25);
    detail_->setFont(detailFont);
    detail_->setAlignment(Qt::AlignCenter);
    detail_->setWordWrap(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(2);
    layout->addLayout(top);
    layout->addWidget(serialField_);
    // The word and its detail together in the middle of what the name and serial leave.
    layout->addStretch(1);
    layout->addWidget(word_);
    layout->addWidget(progress_);
    layout->addWidget(detail_);
    layout->addStretch(1);

    setAccessibleName(slotName);
    showState();
}

QString StationTile::word() const { return word_->text(); }
QString StationTile::detail() const { return detail_->text(); }
bool StationTile::retestShown() const { return !retest_->isHidden(); }

void StationTile::accept(const QString& serial, bool retest) {
    serial_ = serial;
    serialField_->setText(serial);
    state_ = State::Waiting;
    refusal_.clear();
    retest_->setVisible(retest);
    showState();
}

void StationTile::refuse(const QString& reason) {
    serial_.clear();
    state_ = State::Waiting;
    refusal_ = reason;
    retest_->hide();
    showState();
}

void StationTile::forgetSerial() {
    serial_.clear();
    serialField_->clear();
    retest_->hide();
    showState();
}

void StationTile::startTesting() {
    state_ = State::Testing;
    progress_->setRange(0, 0);  // busy until the first progress tells how far it has to go
    showState();
}

void StationTile::setProgress(int done, int total) {
    if (state_ != State::Testing || total <= 0) {
        return;
    }
    progressDone_ = std::min(done, total);
    progressTotal_ = total;
    // A rack's checks move every bar hundreds of times a round: the first move is drawn at once,
    // the rest at most ten times a second. Drawn at every request, the bars made a round of 20
    // boards three times as long as check's.
    if (!progressHeld_.isActive()) {
        showProgress();
        progressHeld_.start();
    }
}

void StationTile::showProgress() {
    if (state_ != State::Testing ||
        (progress_->maximum() == progressTotal_ && progress_->value() == progressDone_)) {
        return;
    }
    progress_->setRange(0, progressTotal_);
    progress_->setValue(progressDone_);
    describe({});
}

void StationTile::showResult(const SlotResult& result) {
    state_ = State::Result;
    result_ = result;
    showState();
}

void StationTile::stopShort() {
    if (state_ == State::Testing) {
        state_ = State::Stopped;
        showState();
    }
}

void StationTile::restore(const View& view) {
    state_ = view.state;
    serial_ = view.serial;
    result_ = view.result;
    refusal_ = view.refusal;
    showState();
}

void StationTile::showState() {
    QString detail;
    // Only a verdict's colours are the tile's own; otherwise it follows the desktop's.
    QPalette colours;
    switch (state_) {
        case State::Waiting:
            word_->setText(tr("WAITING"));
            detail = !refusal_.isEmpty() ? tr("Refused: %1").arg(refusal_)
                     : serial_.isEmpty() ? tr("Scan the unit's serial")
                                         : tr("Ready to test");
            break;
        case State::Testing:
            word_->setText(tr("TESTING"));
            break;
        case State::Stopped:
            word_->setText(tr("STOPPED"));
            detail = tr("The run was stopped before this unit's verdict");
            break;
        case State::Result: {
            word_->setText(verdictWord(result_.verdict));
            detail = result_.detail;
            const Colours verdict = verdictColours(result_.verdict);
            colours.setColor(QPalette::Window, verdict.background);
            colours.setColor(QPalette::WindowText, verdict.text);
            break;
        }
    }
    setPalette(colours);
    const bool testing = state_ == State::Testing;
    progress_->setVisible(testing);
    detail_->setVisible(!testing);
    detail_->setText(detail);
    describe(detail);
}

// What a screen reader says of the tile: its state and detail, as the eye reads them.
void StationTile::describe(const QString& detail) {
    const bool testing = state_ == State::Testing;
    QString description = word_->text();
    if (testing && progress_->maximum() > 0) {
        description = tr("%1, %2 of %3 requests")
                          .arg(description)
                          .arg(progress_->value())
                          .arg(progress_->maximum());
    } else if (!detail.isEmpty()) {
        description = tr("%1: %2").arg(description, detail);
    }
    if (!retest_->isHidden()) {
        description = tr("%1 (retest)").arg(description);
    }
    setAccessibleDescription(description);
}

}  // namespace vardek::station
