#include "tools/trend/trend_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QSaveFile>
#include <QSplitter>
#include <QStatusBar>
#include <QSvgGenerator>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <cmath>
#include <memory>

#include "desktop/kept_state.h"
#include "readings/log_format.h"
#include "tools/trend/log_samples.h"
#include "tools/trend/statistics.h"

namespace vardek::trend {

namespace {

// The readout's rows; its columns are the time, then one per series.
enum ReadoutRow { kAtReadout, kMarkerA, kMarkerB, kDelta, kReadoutRows };
constexpr int kTimeColumn = 0;
// The statistics' columns, for the time shown and then between the markers; its rows are the
// series, then the missed samples.
enum Figure { kCount, kMin, kMax, kMean, kDeviation, kExcursions, kFigures };
constexpr int kMissedRow = kSeriesCount;

QString seriesName(Series series) { return TrendChart::seriesName(series); }

// How often an outage is looked for, and so how often its band grows.
constexpr int kOutageCheckMs = 1000;

QString windowText(std::int64_t windowMs) {
    switch (windowMs) {
        case 60'000:
            return TrendWindow::tr("1 min");
        case 600'000:
            return TrendWindow::tr("10 min");
        case 3'600'000:
            return TrendWindow::tr("1 h");
        case 86'400'000:
            return TrendWindow::tr("24 h");
        default:
            return TrendWindow::tr("All");
    }
}

QString timeText(std::int64_t timeMs) {
    return QDateTime::fromMSecsSinceEpoch(timeMs).toString(
        QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

QString spanText(std::int64_t spanMs) { return TrendChart::durationText(spanMs); }

// A value as its series shows it: raw in decimal, degrees to the tenth, inputs as 0 or 1.
QString valueText(Series series, double value) {
    if (std::isnan(value)) {
        return TrendWindow::tr("missed");
    }
    return QString::number(value, 'f', scaleOf(series) == Scale::Temperature ? 1 : 0);
}

}  // namespace

TrendWindow::TrendWindow(QWidget* parent) : QMainWindow(parent) {
    chart_ = new TrendChart(trace_, this);
    readout_ = new QTableWidget(kReadoutRows, kSeriesCount + 1, this);
    statistics_ = new QTableWidget(kSeriesCount + 1, 2 * kFigures, this);
    auto* tables = new QTabWidget(this);
    tables->addTab(readout_, tr("Rea&dout"));
    tables->addTab(statistics_, tr("S&tatistics"));
    // Figured only while shown: a week of samples costs a pass over all of them.
    connect(tables, &QTabWidget::currentChanged, this, &TrendWindow::updateStatistics);
    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(chart_);
    splitter->addWidget(tables);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    setCentralWidget(splitter);
    outageCheck_ = new QTimer(this);
    outageCheck_->setInterval(kOutageCheckMs);
    connect(outageCheck_, &QTimer::timeout, this, &TrendWindow::checkOutage);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    statusBar()->addPermanentWidget(status_);

    buildReadout();
    buildStatistics();
    buildMenus();

    connect(chart_, &TrendChart::cursorMoved, this, &TrendWindow::updateReadout);
    connect(chart_, &TrendChart::markersChanged, this, &TrendWindow::updateReadout);
    connect(chart_, &TrendChart::markersChanged, this, &TrendWindow::updateStatistics);
    connect(chart_, &TrendChart::viewChanged, this, &TrendWindow::updateStatistics);
    connect(chart_, &TrendChart::followingChanged, this, [this](bool following) {
        pause_->setChecked(!following);
        pause_->setText(following ? tr("&Pause") : tr("&Run"));
    });
    connect(chart_, &TrendChart::seriesVisibilityChanged, this, [this](Series series, bool shown) {
        seriesActions_[static_cast<std::size_t>(series)]->setChecked(shown);
    });
    setWindowIcon(QIcon(QStringLiteral(":/vardek-trend.png")));
    resize(1000, 720);
    updateStatus();
    updateReadout();
}

TrendWindow::~TrendWindow() = default;

QString TrendWindow::setNotesFile(const QString& path) {
    notesFile_ = path;
    addNote_->setEnabled(true);
    std::vector<Note> notes;
    const QString problem = readNotes(path, notes);
    chart_->setNotes(std::move(notes));
    return problem;
}

QString TrendWindow::addNote(std::int64_t timeMs, const QString& text) {
    const Note note{timeMs, text};
    if (const QString problem = appendNote(notesFile_, note); !problem.isEmpty()) {
        return problem;
    }
    std::vector<Note> notes = chart_->notes();
    notes.push_back(note);
    chart_->setNotes(std::move(notes));
    return {};
}

void TrendWindow::setLimits(const SeriesLimits& limits) {
    chart_->setLimits(limits);
    updateStatistics();
}

void TrendWindow::checkLimits(const std::vector<Sample>& samples) {
    // A file read whole is looked over in the chart and the table: only samples that come
    // while the window is shown, live or from a followed log, can be acted on.
    const bool live = isVisible();
    bool left = false;
    for (const Sample& sample : samples) {
        for (int index = 0; index < kAnalogueCount; ++index) {
            const auto& bounds = chart_->limits()[static_cast<std::size_t>(index)];
            const float value = sample.value(static_cast<Series>(index));
            if (!bounds || std::isnan(value)) {
                continue;
            }
            bool& alarmed = alarmed_[static_cast<std::size_t>(index)];
            const bool outside = limits::judged(value, *bounds) == limits::Outcome::Fail;
            left = left || (live && outside && !alarmed);
            alarmed = outside;
        }
    }
    updateTitle();
    if (left) {
        QApplication::alert(this);
        if (alarmSound_->isChecked()) {
            QApplication::beep();
        }
    }
}

void TrendWindow::updateTitle() {
    QStringList outside;
    for (int index = 0; index < kAnalogueCount; ++index) {
        if (alarmed_[static_cast<std::size_t>(index)]) {
            outside << seriesName(static_cast<Series>(index));
        }
    }
    const QString title = tr("%1 — vardek-trend").arg(source_);
    setWindowTitle(
        outside.isEmpty()
            ? title
            : tr("%1 outside its limits — %2").arg(outside.join(QStringLiteral(", ")), title));
}

void TrendWindow::setSource(const QString& source) {
    source_ = source;
    updateTitle();
    updateStatus();
}

void TrendWindow::setWindow(std::int64_t windowMs) {
    chart_->setWindow(windowMs);
    syncWindowChoice();
}

void TrendWindow::addSamples(std::vector<Sample> samples) {
    if (samples.empty()) {
        return;
    }
    for (const Sample& sample : samples) {
        missed_ += sample.missed() ? 1 : 0;
    }
    checkLimits(samples);
    trace_.append(std::move(samples));
    chart_->samplesAdded();
    // Samples that come once the window is shown come live or from a followed log: from then
    // on, their stopping is an outage to show while it lasts. A file read whole comes before.
    if (isVisible() && !outageCheck_->isActive()) {
        outageCheck_->start();
    }
    checkOutage();
    updateReadout();
    updateStatistics();
}

void TrendWindow::checkOutage() {
    const std::int64_t intervalMs = trace_.intervalMs();
    std::uint64_t overdue = 0;
    std::optional<std::pair<std::int64_t, std::int64_t>> outage;
    if (outageCheck_->isActive() && intervalMs > 0 && !trace_.empty()) {
        const std::int64_t newest = trace_.newest().timeMs;
        const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
        // With the slack the trace allows between two samples before it breaks their line.
        if (2 * (now - newest) > 3 * intervalMs) {
            overdue = static_cast<std::uint64_t>((now - newest) / intervalMs);
            outage = std::pair(newest + intervalMs, now);
        }
    }
    overdue_ = overdue;
    chart_->setOutage(outage);
    updateStatus();
}

void TrendWindow::showProblem(const QString& problem) { statusBar()->showMessage(problem); }

QString TrendWindow::saveShownSamples(const QString& path) const {
    const View shown = chart_->view();
    // Written whole or not at all: a half-written log would read as a shorter run.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return tr("%1: %2").arg(path, file.errorString());
    }
    QByteArray bytes = QByteArray::fromStdString(readings::csvHeader(pins_));
    for (std::size_t index = trace_.lowerBound(shown.firstMs);
         index < trace_.size() && trace_[index].timeMs <= shown.lastMs; ++index) {
        bytes += QByteArray::fromStdString(readings::csvRow(toReadings(trace_[index]), pins_));
    }
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        return tr("%1: %2").arg(path, file.errorString());
    }
    return {};
}

QString TrendWindow::saveChart(const QString& path) {
    const QSize size = chart_->viewport()->size();
    if (QFileInfo(path).suffix().compare(QStringLiteral("svg"), Qt::CaseInsensitive) == 0) {
        QSvgGenerator svg;
        svg.setFileName(path);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(windowTitle());
        chart_->renderTo(svg, size);
        // QSvgGenerator reports no failure of its own: look for what it wrote.
        return QFileInfo(path).size() > 0 ? QString() : tr("%1 could not be written").arg(path);
    }
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    chart_->renderTo(image, size);
    return image.save(path) ? QString() : tr("%1 could not be written").arg(path);
}

void TrendWindow::buildMenus() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    QAction* png = file->addAction(tr("Save chart as &PNG…"));
    png->setShortcut(QKeySequence::Save);
    connect(png, &QAction::triggered, this, [this] {
        askForFile(tr("Save chart as PNG"), tr("PNG images (*.png)"), QStringLiteral("png"), true);
    });
    QAction* svg = file->addAction(tr("Save chart as &SVG…"));
    svg->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    connect(svg, &QAction::triggered, this, [this] {
        askForFile(tr("Save chart as SVG"), tr("SVG drawings (*.svg)"), QStringLiteral("svg"),
                   true);
    });
    QAction* csv = file->addAction(tr("Save shown samples as &CSV…"));
    csv->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    connect(csv, &QAction::triggered, this, [this] {
        askForFile(tr("Save shown samples as CSV"), tr("CSV logs (*.csv)"), QStringLiteral("csv"),
                   false);
    });
    file->addSeparator();
    QAction* quit = file->addAction(tr("&Quit"));
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, this, &QWidget::close);

    QMenu* view = menuBar()->addMenu(tr("&View"));
    QToolBar* tools = addToolBar(tr("Controls"));
    tools->setObjectName(QStringLiteral("controls"));
    pause_ = view->addAction(tr("&Pause"));
    pause_->setCheckable(true);
    pause_->setShortcut(QKeySequence(Qt::Key_P));
    pause_->setToolTip(tr("Hold the chart where it is; sampling and logging go on (P)"));
    connect(pause_, &QAction::triggered, this,
            [this](bool paused) { chart_->setFollowing(!paused); });
    tools->addAction(pause_);
    QAction* follow = view->addAction(tr("&Follow the newest sample"));
    follow->setShortcut(QKeySequence(Qt::Key_Home));
    follow->setToolTip(tr("Undo zoom and drag, and follow the newest sample (Home, double click)"));
    connect(follow, &QAction::triggered, chart_, &TrendChart::resetView);
    tools->addAction(follow);
    QAction* zoomIn = view->addAction(tr("Zoom &in"));
    zoomIn->setShortcut(QKeySequence::ZoomIn);
    QAction* zoomOut = view->addAction(tr("Zoom &out"));
    zoomOut->setShortcut(QKeySequence::ZoomOut);
    for (QAction* action : {zoomIn, zoomOut}) {
        connect(action, &QAction::triggered, this, [this, in = action == zoomIn] {
            const View shown = chart_->view();
            chart_->zoom(in ? 0.8 : 1.25, chart_->readout().value_or(
                                              shown.firstMs + (shown.lastMs - shown.firstMs) / 2));
        });
    }

    QAction* copy = view->addAction(tr("&Copy statistics"));
    copy->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    copy->setToolTip(tr("Copy the statistics of the time shown and between the markers as text"));
    connect(copy, &QAction::triggered, this,
            [this] { QGuiApplication::clipboard()->setText(statisticsText()); });

    addNote_ = view->addAction(tr("Add a &note…"));
    addNote_->setShortcut(QKeySequence(Qt::Key_N));
    addNote_->setToolTip(tr("Adds a note at the readout's time, or now, kept beside the log"));
    // Notes are kept beside a log: without one there is nowhere to keep them.
    addNote_->setEnabled(false);
    connect(addNote_, &QAction::triggered, this, [this] {
        bool given = false;
        const QString text = QInputDialog::getText(this, tr("Add a note"), tr("Note:"),
                                                   QLineEdit::Normal, QString(), &given);
        if (!given || text.trimmed().isEmpty()) {
            return;
        }
        const std::int64_t timeMs = chart_->readout().value_or(QDateTime::currentMSecsSinceEpoch());
        if (const QString problem = addNote(timeMs, text.trimmed()); !problem.isEmpty()) {
            QMessageBox::warning(this, tr("Add a note"),
                                 tr("The note could not be kept: %1").arg(problem));
        }
    });
    alarmSound_ = view->addAction(tr("Sound on a reading outside its &limits"));
    alarmSound_->setCheckable(true);
    // Kept between runs in vardek-trend.ini (desktop/kept_state.h).
    desktop::keepChecked(*alarmSound_, QStringLiteral("vardek-trend"),
                         QStringLiteral("alarm_sound"), [this] {
                             showProblem(
                                 tr("The sound's setting could not be kept: it holds "
                                    "for this run only"));
                         });
    alarmSound_->setToolTip(tr("Rings the bell when a reading leaves the range of its limits"));
    QMenu* windows = view->addMenu(tr("Time &window"));
    windowActions_ = new QActionGroup(this);
    auto* windowLabel = new QLabel(tr("Time &window:"), this);
    windowChoice_ = new QComboBox(this);
    windowChoice_->setAccessibleName(tr("Time window"));
    windowLabel->setBuddy(windowChoice_);
    for (std::size_t index = 0; index < kWindows.size(); ++index) {
        const std::int64_t windowMs = kWindows[index];
        QAction* action = windows->addAction(windowText(windowMs));
        action->setCheckable(true);
        action->setData(QVariant::fromValue(windowMs));
        action->setShortcut(QKeySequence(Qt::CTRL | (Qt::Key_1 + int(index))));
        windowActions_->addAction(action);
        connect(action, &QAction::triggered, this, [this, windowMs] { setWindow(windowMs); });
        windowChoice_->addItem(windowText(windowMs), QVariant::fromValue(windowMs));
    }
    connect(windowChoice_, &QComboBox::activated, this,
            [this](int index) { setWindow(kWindows[static_cast<std::size_t>(index)]); });
    tools->addSeparator();
    tools->addWidget(windowLabel);
    tools->addWidget(windowChoice_);
    // The button that opens what the tool bar has no room for.
    for (QToolButton* button : tools->findChildren<QToolButton*>()) {
        if (button->accessibleName().isEmpty() && button->defaultAction() == nullptr) {
            button->setAccessibleName(tr("More controls"));
        }
    }

    QMenu* series = menuBar()->addMenu(tr("&Series"));
    for (int index = 0; index < kSeriesCount; ++index) {
        const auto which = static_cast<Series>(index);
        QAction* action = series->addAction(seriesName(which));
        action->setCheckable(true);
        action->setChecked(true);
        if (index < 9) {
            action->setShortcut(QKeySequence(Qt::ALT | (Qt::Key_1 + index)));
        }
        connect(action, &QAction::triggered, this,
                [this, which](bool shown) { chart_->setSeriesVisible(which, shown); });
        seriesActions_[static_cast<std::size_t>(index)] = action;
    }

    QMenu* axes = menuBar()->addMenu(tr("&Axes"));
    for (const Axis axis : {Axis::Left, Axis::Right}) {
        const bool left = axis == Axis::Left;
        QAction* automatic =
            axes->addAction(left ? tr("&Left axis automatic") : tr("&Right axis automatic"));
        automatic->setCheckable(true);
        automatic->setChecked(true);
        connect(automatic, &QAction::triggered, this, [this, axis, automatic](bool on) {
            if (on) {
                chart_->setAxisRange(axis, std::nullopt);
            } else {
                // Held at what it shows now, until a range is given.
                chart_->setAxisRange(axis, chart_->shownRange(axis));
            }
            automatic->setChecked(on);
        });
        QAction* fixed =
            axes->addAction(left ? tr("Left axis &fixed range…") : tr("Right axis fi&xed range…"));
        connect(fixed, &QAction::triggered, this, [this, axis] { askAxisRange(axis); });
        automaticAxes_[left ? 0 : 1] = automatic;
        if (left) {
            axes->addSeparator();
        }
    }

    QMenu* markers = menuBar()->addMenu(tr("&Markers"));
    for (int which = 0; which < 2; ++which) {
        QAction* action = markers->addAction(which == 0 ? tr("Set marker &A at the readout")
                                                        : tr("Set marker &B at the readout"));
        action->setShortcut(QKeySequence(which == 0 ? Qt::Key_A : Qt::Key_B));
        connect(action, &QAction::triggered, this, [this, which] {
            const std::optional<std::int64_t> at = chart_->readout() ? chart_->readout()
                                                   : trace_.empty()
                                                       ? std::nullopt
                                                       : std::optional(trace_.newest().timeMs);
            if (at) {
                chart_->setMarker(which, trace_[trace_.nearest(*at)].timeMs);
            }
        });
    }
    QAction* clear = markers->addAction(tr("&Clear markers"));
    clear->setShortcut(QKeySequence::Delete);
    connect(clear, &QAction::triggered, this, [this] {
        chart_->setMarker(0, std::nullopt);
        chart_->setMarker(1, std::nullopt);
    });
    syncWindowChoice();
}

void TrendWindow::buildReadout() {
    readout_->setObjectName(QStringLiteral("readout"));
    readout_->setAccessibleName(tr("Readout"));
    readout_->setAccessibleDescription(
        tr("Every series at the readout's time and at the markers A and B, and B minus A"));
    readout_->setVerticalHeaderLabels({tr("Readout"), tr("Marker A"), tr("Marker B"), tr("B − A")});
    QStringList columns{tr("Time")};
    for (int index = 0; index < kSeriesCount; ++index) {
        const auto series = static_cast<Series>(index);
        columns << (scaleOf(series) == Scale::Temperature ? tr("%1 (℃)").arg(seriesName(series))
                                                          : seriesName(series));
    }
    readout_->setHorizontalHeaderLabels(columns);
    readout_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    readout_->setSelectionMode(QAbstractItemView::SingleSelection);
    readout_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    readout_->horizontalHeader()->setMinimumSectionSize(64);
    for (int row = 0; row < kReadoutRows; ++row) {
        for (int column = 0; column < readout_->columnCount(); ++column) {
            auto* item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            readout_->setItem(row, column, item);
        }
    }
    readout_->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    readout_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    readout_->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
}

void TrendWindow::updateReadout() {
    // The sample at each of the readout's columns, or none.
    std::array<const Sample*, 3> at{};
    const std::optional<std::int64_t> times[3] = {chart_->readout() ? chart_->readout()
                                                  : trace_.empty()
                                                      ? std::nullopt
                                                      : std::optional(trace_.newest().timeMs),
                                                  chart_->marker(0), chart_->marker(1)};
    for (std::size_t column = 0; column < at.size(); ++column) {
        if (times[column] && !trace_.empty()) {
            at[column] = &trace_[trace_.nearest(*times[column])];
        }
    }
    for (int row = kAtReadout; row <= kMarkerB; ++row) {
        const Sample* sample = at[static_cast<std::size_t>(row)];
        readout_->item(row, kTimeColumn)->setText(sample ? timeText(sample->timeMs) : QString());
        for (int index = 0; index < kSeriesCount; ++index) {
            const auto series = static_cast<Series>(index);
            readout_->item(row, index + 1)
                ->setText(sample ? valueText(series, sample->value(series)) : QString());
        }
    }
    const Sample* a = at[kMarkerA];
    const Sample* b = at[kMarkerB];
    readout_->item(kDelta, kTimeColumn)
        ->setText(a && b ? spanText(b->timeMs - a->timeMs) : QString());
    for (int index = 0; index < kSeriesCount; ++index) {
        const auto series = static_cast<Series>(index);
        QString delta;
        if (a && b) {
            const double difference = double(b->value(series)) - double(a->value(series));
            delta = std::isnan(difference)
                        ? tr("missed")
                        : QString::number(difference, 'f',
                                          scaleOf(series) == Scale::Temperature ? 1 : 0);
        }
        readout_->item(kDelta, index + 1)->setText(delta);
    }
}

void TrendWindow::buildStatistics() {
    statistics_->setObjectName(QStringLiteral("statistics"));
    statistics_->setAccessibleName(tr("Statistics"));
    statistics_->setAccessibleDescription(
        tr("Per series, of the time shown and between the markers A and B: the number of "
           "values, the minimum, the maximum, the mean, the standard deviation and the times "
           "the series left the range of its limits; last, the "
           "samples missed and their share"));
    statistics_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QStringList columns;
    for (const QString& span : {tr("shown"), tr("A–B")}) {
        columns << tr("n (%1)").arg(span) << tr("min (%1)").arg(span) << tr("max (%1)").arg(span)
                << tr("mean (%1)").arg(span) << tr("s.d. (%1)").arg(span)
                << tr("excursions (%1)").arg(span);
    }
    statistics_->setHorizontalHeaderLabels(columns);
    QStringList rows;
    for (int index = 0; index < kSeriesCount; ++index) {
        rows << seriesName(static_cast<Series>(index));
    }
    rows << tr("missed");
    statistics_->setVerticalHeaderLabels(rows);
    for (int row = 0; row < statistics_->rowCount(); ++row) {
        for (int column = 0; column < statistics_->columnCount(); ++column) {
            statistics_->setItem(row, column, new QTableWidgetItem);
        }
    }
}

std::pair<std::size_t, std::size_t> TrendWindow::shownSamples() const {
    const View shown = chart_->view();
    return {trace_.lowerBound(shown.firstMs), trace_.lowerBound(shown.lastMs + 1)};
}

std::pair<std::size_t, std::size_t> TrendWindow::markedSamples() const {
    const auto a = chart_->marker(0);
    const auto b = chart_->marker(1);
    if (!a || !b) {
        return {0, 0};
    }
    // Both markers' samples included, whichever stands first.
    return {trace_.lowerBound(std::min(*a, *b)), trace_.lowerBound(std::max(*a, *b) + 1)};
}

void TrendWindow::updateStatistics() {
    if (statistics_->isVisible()) {
        fillStatistics();
    }
}

void TrendWindow::fillStatistics() {
    const std::array<std::pair<std::size_t, std::size_t>, 2> spans{shownSamples(), markedSamples()};
    for (std::size_t span = 0; span < spans.size(); ++span) {
        const int offset = static_cast<int>(span) * kFigures;
        const bool empty = spans[span].first >= spans[span].second;
        const Statistics figures =
            statistics(trace_, spans[span].first, spans[span].second, chart_->limits());
        for (int index = 0; index < kSeriesCount; ++index) {
            const auto series = static_cast<Series>(index);
            const SeriesStatistics& of = figures.series[static_cast<std::size_t>(index)];
            const int decimals = scaleOf(series) == Scale::Temperature ? 2 : 1;
            const bool has = !empty && of.count > 0;
            statistics_->item(index, offset + kCount)
                ->setText(empty ? QString() : QString::number(of.count));
            statistics_->item(index, offset + kMin)
                ->setText(has ? valueText(series, of.min) : QString());
            statistics_->item(index, offset + kMax)
                ->setText(has ? valueText(series, of.max) : QString());
            statistics_->item(index, offset + kMean)
                ->setText(has ? QString::number(of.mean, 'f', decimals) : QString());
            statistics_->item(index, offset + kDeviation)
                ->setText(has ? QString::number(of.deviation, 'f', decimals) : QString());
            statistics_->item(index, offset + kExcursions)
                ->setText(has && chart_->limits()[static_cast<std::size_t>(index)]
                              ? QString::number(of.excursions)
                              : QString());
        }
        statistics_->item(kMissedRow, offset + kCount)
            ->setText(empty ? QString() : QString::number(figures.missed));
        statistics_->item(kMissedRow, offset + kMean)
            ->setText(empty ? QString() : tr("%1 %").arg(figures.missedShare() * 100, 0, 'f', 2));
    }
}

QString TrendWindow::statisticsText() {
    fillStatistics();
    const View shown = chart_->view();
    QString text = tr("shown: %1 to %2").arg(timeText(shown.firstMs), timeText(shown.lastMs));
    if (chart_->marker(0) && chart_->marker(1)) {
        text += QLatin1Char('\t') +
                tr("A–B: %1 to %2")
                    .arg(timeText(std::min(*chart_->marker(0), *chart_->marker(1))),
                         timeText(std::max(*chart_->marker(0), *chart_->marker(1))));
    }
    text += QLatin1Char('\n');
    QStringList header{QString()};
    for (int column = 0; column < statistics_->columnCount(); ++column) {
        header << statistics_->horizontalHeaderItem(column)->text();
    }
    text += header.join(QLatin1Char('\t')) + QLatin1Char('\n');
    for (int row = 0; row < statistics_->rowCount(); ++row) {
        QStringList cells{statistics_->verticalHeaderItem(row)->text()};
        for (int column = 0; column < statistics_->columnCount(); ++column) {
            cells << statistics_->item(row, column)->text();
        }
        text += cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return text;
}

void TrendWindow::updateStatus() {
    const auto samples = static_cast<qulonglong>(trace_.size());
    // Slots gone by without a sample count as missed while they are overdue.
    const auto missed = static_cast<qulonglong>(missed_ + overdue_);
    QString text = tr("%1 — samples: %2, missed: %3").arg(source_).arg(samples).arg(missed);
    if (const auto outage = chart_->outage()) {
        text += tr(", no sample for %1")
                    .arg(TrendChart::durationText((outage->second - outage->first) / 1000 * 1000));
    }
    status_->setText(text);
    // Its whole text is its name, so that a screen reader says the missed count too.
    status_->setAccessibleName(text);
}

void TrendWindow::askForFile(const QString& caption, const QString& filter, const QString& suffix,
                             bool chart) {
    QFileDialog dialog(this, caption, folder_, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(suffix);
    dialog.selectFile(proposedFileName(suffix));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    const QString path = dialog.selectedFiles().constFirst();
    folder_ = QFileInfo(path).absolutePath();
    const QString problem = chart ? saveChart(path) : saveShownSamples(path);
    if (problem.isEmpty()) {
        statusBar()->showMessage(tr("Saved %1").arg(path), 5000);
    } else {
        QMessageBox::warning(this, caption, problem);
    }
}

QString TrendWindow::proposedFileName(const QString& suffix) const {
    // The source's name and the start of the time shown, in characters any file system takes.
    QString stem = source_.isEmpty() ? QStringLiteral("vardek-trend") : source_;
    if (stem.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive)) {
        stem.chop(4);
    }
    for (QChar& character : stem) {
        if (!character.isLetterOrNumber() && character != QLatin1Char('-') &&
            character != QLatin1Char('.')) {
            character = QLatin1Char('_');
        }
    }
    const QString start = QDateTime::fromMSecsSinceEpoch(chart_->view().firstMs)
                              .toString(QStringLiteral("yyyyMMdd-HHmmss"));
    return QStringLiteral("%1-%2.%3").arg(stem, start, suffix);
}

void TrendWindow::askAxisRange(Axis axis) {
    const bool left = axis == Axis::Left;
    QDialog dialog(this);
    dialog.setWindowTitle(left ? tr("Left axis range") : tr("Right axis range"));
    auto* layout = new QFormLayout(&dialog);
    auto* from = new QDoubleSpinBox(&dialog);
    auto* to = new QDoubleSpinBox(&dialog);
    const auto [low, high] = chart_->fixedRange(axis).value_or(chart_->shownRange(axis));
    for (QDoubleSpinBox* box : {from, to}) {
        box->setRange(left ? -1 : -1000, left ? 65536 : 1000);
        box->setDecimals(left ? 0 : 1);
    }
    from->setValue(low);
    to->setValue(high);
    from->setAccessibleName(tr("From"));
    to->setAccessibleName(tr("To"));
    layout->addRow(tr("&From:"), from);
    layout->addRow(tr("&To:"), to);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted || from->value() == to->value()) {
        return;
    }
    chart_->setAxisRange(axis, Range{from->value(), to->value()});
    automaticAxes_[left ? 0 : 1]->setChecked(false);
}

void TrendWindow::syncWindowChoice() {
    for (std::size_t index = 0; index < kWindows.size(); ++index) {
        if (kWindows[index] == chart_->window()) {
            windowChoice_->setCurrentIndex(int(index));
            windowActions_->actions().at(qsizetype(index))->setChecked(true);
        }
    }
}

}  // namespace vardek::trend
