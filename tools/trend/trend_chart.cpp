#include "tools/trend/trend_chart.h"

#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCategoryAxis>
#include <QChart>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QGraphicsItem>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QKeyEvent>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPainter>
#include <QScatterSeries>
#include <QValueAxis>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace vardek::trend {

namespace {

// The strip of port B below the chart: its share of the height, and what it never goes under.
constexpr double kStripShare = 0.36;
constexpr double kStripMinimum = 200;
// Room under the strip's plot area for the time axis's labels.
constexpr double kTimeLabels = 38;
// Each bit's lane in the strip: RB0 from 0 to 0.8, RB1 from 1.2 to 2.0, and so on up to RB7;
// above them the lane of the faults, a row for each.
constexpr double kLaneHeight = 0.8;
constexpr double kLaneStep = 1.2;
constexpr double kFaultRow = 0.5;
constexpr double kFaultsLow = kPortBits * kLaneStep;
constexpr double kStripLow = -0.3;
constexpr double kStripHigh = kFaultsLow + kFaultCount * kFaultRow + 0.2;
// The room left of the strip's plot area for its lanes' names.
constexpr double kLaneNames = 60;

// The narrowest and widest time shown.
constexpr double kShortestSpanMs = 100;
constexpr double kLongestSpanMs = 400.0 * 24 * 3600 * 1000;

// Ticks on a value axis, about.
constexpr int kTicks = 5;

const QColor kMarkerLine(0x20, 0x20, 0x20);
const QColor kGrid(0xdd, 0xdd, 0xdd);
// Time without samples, and an outage going on: hatched over the whole height.
const QColor kHole(0x60, 0x60, 0x60, 0x60);
const QColor kOutage(0xc0, 0x30, 0x30, 0x70);
const QColor kCursorLine(0x80, 0x80, 0x80);
const QColor kLimitLine(0xd0, 0x00, 0x00);
const QColor kMarginalBand(0xff, 0xb0, 0x00, 0x40);
const QColor kMarginalMark(0xe0, 0x80, 0x00);
const QColor kNote(0x00, 0x80, 0x60);

int axisIndex(Axis axis) { return axis == Axis::Left ? 0 : 1; }

// The chart's legend entries, to a screen reader: a series' entry a check box that shows or
// hides the series, as a click on it does, and says what the series shows; a fault's entry
// says how many spans the time shown marks with it.
class LegendEntryAccessible final : public QAccessibleObject, public QAccessibleActionInterface {
  public:
    LegendEntryAccessible(QLegendMarker* marker, TrendChart* chart, std::optional<Series> series,
                          std::optional<Fault> fault)
        : QAccessibleObject(marker), chart_(chart), series_(series), fault_(fault) {}

    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(chart_);
    }
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessible::Role role() const override {
        return series_ ? QAccessible::CheckBox : QAccessible::StaticText;
    }
    QAccessible::State state() const override {
        QAccessible::State state;
        if (series_) {
            state.checkable = true;
            state.checked = chart_->seriesVisible(*series_);
        }
        return state;
    }
    QString text(QAccessible::Text which) const override {
        if (which == QAccessible::Name) {
            return series_ ? TrendChart::seriesName(*series_) : TrendChart::faultName(*fault_);
        }
        if (which != QAccessible::Description) {
            return {};
        }
        if (series_) {
            return chart_->shownValues(*series_);
        }
        const auto marked =
            std::count_if(chart_->faults().begin(), chart_->faults().end(),
                          [this](const FaultRun& run) { return run.fault == fault_; });
        return TrendChart::tr("%n span(s) marked in the time shown", nullptr,
                              static_cast<int>(marked));
    }
    // Where the legend is drawn: Qt Charts places no entry of its own.
    QRect rect() const override {
        auto* marker = static_cast<QLegendMarker*>(object());
        const QRectF legend = marker->series()->chart()->legend()->sceneBoundingRect();
        const QPolygon shown = chart_->mapFromScene(legend);
        return QRect(chart_->mapToGlobal(shown.boundingRect().topLeft()),
                     shown.boundingRect().size());
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface && series_
                   ? static_cast<QAccessibleActionInterface*>(this)
                   : nullptr;
    }

    QStringList actionNames() const override { return {toggleAction()}; }
    void doAction(const QString& name) override {
        if (name == toggleAction() || name == pressAction()) {
            chart_->setSeriesVisible(*series_, !chart_->seriesVisible(*series_));
        }
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

  private:
    TrendChart* chart_;
    std::optional<Series> series_;
    std::optional<Fault> fault_;
};

// The chart is a chart to a screen reader, not a scroll area, and its legend's entries are its
// items: every series, whether the legend shows its entry or its lane names it, and the faults
// the legend shows.
class ChartAccessible final : public QAccessibleWidget {
  public:
    explicit ChartAccessible(TrendChart* chart)
        : QAccessibleWidget(chart, QAccessible::Chart), chart_(chart) {}

    int childCount() const override {
        return QAccessibleWidget::childCount() + static_cast<int>(entries().size());
    }
    QAccessibleInterface* child(int index) const override {
        const int widgets = QAccessibleWidget::childCount();
        if (index < widgets) {
            return QAccessibleWidget::child(index);
        }
        const auto shown = entries();
        const auto entry = static_cast<std::size_t>(index - widgets);
        return entry < shown.size() ? QAccessible::queryAccessibleInterface(shown[entry]) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const auto shown = entries();
        const auto found = std::find(shown.begin(), shown.end(), child->object());
        return found == shown.end()
                   ? QAccessibleWidget::indexOfChild(child)
                   : QAccessibleWidget::childCount() + static_cast<int>(found - shown.begin());
    }

  private:
    std::vector<QObject*> entries() const {
        std::vector<QObject*> shown;
        for (int index = 0; index < kSeriesCount; ++index) {
            shown.push_back(chart_->legendEntry(static_cast<Series>(index)));
        }
        for (int index = 0; index < kFaultCount; ++index) {
            QLegendMarker* marker = chart_->legendEntry(static_cast<Fault>(index));
            if (marker->isVisible()) {
                shown.push_back(marker);
            }
        }
        return shown;
    }

    TrendChart* chart_;
};

QAccessibleInterface* chartAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("vardek::trend::TrendChart") && object->isWidgetType()) {
        return new ChartAccessible(static_cast<TrendChart*>(object));
    }
    if (className != QLatin1String("QLegendMarker")) {
        return nullptr;
    }
    // A legend entry of a TrendChart's: found through the chart its series is in.
    auto* marker = static_cast<QLegendMarker*>(object);
    QChart* chart = marker->series() != nullptr ? marker->series()->chart() : nullptr;
    if (chart == nullptr || chart->scene() == nullptr) {
        return nullptr;
    }
    for (QGraphicsView* view : chart->scene()->views()) {
        auto* trend = qobject_cast<TrendChart*>(view);
        if (trend == nullptr) {
            continue;
        }
        for (int index = 0; index < kSeriesCount; ++index) {
            if (trend->legendEntry(static_cast<Series>(index)) == marker) {
                return new LegendEntryAccessible(marker, trend, static_cast<Series>(index),
                                                 std::nullopt);
            }
        }
        for (int index = 0; index < kFaultCount; ++index) {
            if (trend->legendEntry(static_cast<Fault>(index)) == marker) {
                return new LegendEntryAccessible(marker, trend, std::nullopt,
                                                 static_cast<Fault>(index));
            }
        }
    }
    return nullptr;
}

}  // namespace

// Draws the reduced series of one chart in its plot area, with the markers and the cursor
// across it and the unmeasured time hatched; the strip's also marks the faults in their lane.
class PlotItem final : public QGraphicsItem {
  public:
    enum class Kind { Main, Strip };

    PlotItem(const TrendChart& owner, QChart& chart, Kind kind)
        : QGraphicsItem(&chart), owner_(owner), chart_(chart), kind_(kind) {
        setZValue(10);
        setAcceptedMouseButtons(Qt::NoButton);
    }

    void areaChanged() { prepareGeometryChange(); }

    QRectF boundingRect() const override {
        // The strip's lanes are named to the left of its plot area, the times under it.
        return kind_ == Kind::Strip ? chart_.plotArea().adjusted(-kLaneNames, -2, 2, kTimeLabels)
                                    : chart_.plotArea().adjusted(-2, -2, 2, 2);
    }

    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override {
        const QRectF plot = chart_.plotArea();
        if (plot.width() <= 0 || plot.height() <= 0) {
            return;
        }
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const std::vector<TimeTick> ticks = owner_.timeTicks(plot.width());
        if (kind_ == Kind::Strip) {
            paintLaneNames(*painter, plot);
            paintTimeLabels(*painter, plot, ticks);
        }
        painter->setClipRect(plot);
        painter->setPen(QPen(kGrid, 1));
        for (const TimeTick& tick : ticks) {
            const double x = std::round(owner_.xOf(tick.timeMs, plot)) + 0.5;
            painter->drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        }
        paintHoles(*painter, plot);
        if (kind_ == Kind::Main) {
            paintLimits(*painter, plot);
        }
        if (kind_ == Kind::Strip) {
            paintFaults(*painter, plot);
        }
        for (int index = 0; index < kSeriesCount; ++index) {
            const auto series = static_cast<Series>(index);
            if ((scaleOf(series) == Scale::Input) == (kind_ == Kind::Strip) &&
                owner_.seriesVisible(series)) {
                paintSeries(*painter, plot, series);
            }
        }
        if (kind_ == Kind::Main) {
            paintExcursions(*painter, plot);
            paintNotes(*painter, plot);
        }
        paintLines(*painter, plot);
        painter->restore();
    }

  private:
    // Where a value is drawn; in the strip, `stripValue` places a point of it directly.
    double y(Series series, float value, const QRectF& plot,
             std::optional<double> stripValue = std::nullopt) const {
        double low = 0;
        double high = 1;
        double shown = value;
        if (kind_ == Kind::Strip) {
            low = kStripLow;
            high = kStripHigh;
            shown = stripValue.value_or((static_cast<int>(series) - static_cast<int>(Series::RB0)) *
                                            kLaneStep +
                                        value * kLaneHeight);
        } else {
            std::tie(low, high) =
                owner_.shownRange(scaleOf(series) == Scale::Temperature ? Axis::Right : Axis::Left);
        }
        if (high <= low) {
            return plot.center().y();
        }
        return plot.bottom() - (shown - low) / (high - low) * plot.height();
    }

    void paintSeries(QPainter& painter, const QRectF& plot, Series series) const {
        const Reduced& reduced = owner_.reduced(series);
        // Where the samples are denser than the pixels, the line is a band of the columns'
        // extremes: drawn crisp and thin, since smoothing would only blur it at many times the
        // cost. Fewer samples are drawn as a smooth line that shows each of them.
        const bool dense = static_cast<double>(reduced.points.size()) > plot.width();
        QPen pen(TrendChart::colour(series), dense ? 1 : 2);
        pen.setCapStyle(Qt::RoundCap);
        pen.setJoinStyle(Qt::RoundJoin);
        painter.setPen(pen);
        painter.setRenderHint(QPainter::Antialiasing, !dense);
        const bool steps = kind_ == Kind::Strip;
        QPolygonF line;
        for (std::size_t index = 0; index < reduced.lines.size(); ++index) {
            const std::size_t first = reduced.lines[index];
            const std::size_t last =
                index + 1 < reduced.lines.size() ? reduced.lines[index + 1] : reduced.points.size();
            line.clear();
            for (std::size_t point = first; point < last; ++point) {
                const QPointF at(owner_.xOf(reduced.points[point].timeMs, plot),
                                 y(series, reduced.points[point].value, plot));
                if (steps && !line.isEmpty()) {
                    line << QPointF(at.x(), line.constLast().y());
                }
                line << at;
            }
            if (line.size() == 1) {
                // A value with gaps on both sides: a dot, since a line needs two points.
                painter.drawPoint(line.constFirst());
            } else {
                painter.drawPolyline(line);
            }
        }
    }

    bool limited(Series series) const {
        return owner_.seriesVisible(series) &&
               owner_.limits()[static_cast<std::size_t>(series)].has_value();
    }

    // The range's bounds as lines across the plot, the band between each bound and its
    // marginal bound shaded: a value in the band passes, marginally.
    void paintLimits(QPainter& painter, const QRectF& plot) const {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing, false);
        for (int index = 0; index < kAnalogueCount; ++index) {
            const auto series = static_cast<Series>(index);
            if (!limited(series)) {
                continue;
            }
            const limits::Limits& bounds = *owner_.limits()[static_cast<std::size_t>(index)];
            const auto at = [&](double value) {
                return std::round(y(series, static_cast<float>(value), plot)) + 0.5;
            };
            const auto band = [&](std::optional<double> bound, std::optional<double> marginal,
                                  double beyond) {
                if (marginal) {
                    const double from = at(bound.value_or(beyond));
                    const double to = at(*marginal);
                    painter.fillRect(
                        QRectF(plot.left(), std::min(from, to), plot.width(), std::abs(to - from)),
                        kMarginalBand);
                }
            };
            const auto [low, high] =
                owner_.shownRange(scaleOf(series) == Scale::Temperature ? Axis::Right : Axis::Left);
            band(bounds.low, bounds.marginalLow, low);
            band(bounds.high, bounds.marginalHigh, high);
            QPen pen(kLimitLine, 1, Qt::DashLine);
            painter.setPen(pen);
            for (const auto bound : {bounds.low, bounds.high}) {
                if (bound) {
                    painter.drawLine(QPointF(plot.left(), at(*bound)),
                                     QPointF(plot.right(), at(*bound)));
                }
            }
        }
        painter.restore();
    }

    // A ring on each value outside its range, and on each in its marginal band: the reduced
    // points keep every column's extremes, so no such value in a day is lost to the width.
    void paintExcursions(QPainter& painter, const QRectF& plot) const {
        painter.save();
        painter.setBrush(Qt::NoBrush);
        for (int index = 0; index < kAnalogueCount; ++index) {
            const auto series = static_cast<Series>(index);
            if (!limited(series)) {
                continue;
            }
            const limits::Limits& bounds = *owner_.limits()[static_cast<std::size_t>(index)];
            for (const Reduced::Point& point : owner_.reduced(series).points) {
                const limits::Outcome outcome = limits::judged(point.value, bounds);
                if (outcome == limits::Outcome::Pass || std::isnan(point.value)) {
                    continue;
                }
                painter.setPen(QPen(TrendChart::limitColour(outcome), 1.5));
                painter.drawEllipse(
                    QPointF(owner_.xOf(point.timeMs, plot), y(series, point.value, plot)), 3.5,
                    3.5);
            }
        }
        painter.restore();
    }

    void paintNotes(QPainter& painter, const QRectF& plot) const {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(kNote, 1));
        const View shown = owner_.view();
        for (const Note& note : owner_.notes()) {
            if (note.timeMs < shown.firstMs || note.timeMs > shown.lastMs) {
                continue;
            }
            const double x = std::round(owner_.xOf(static_cast<double>(note.timeMs), plot)) + 0.5;
            painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
            painter.drawText(QRectF(x + 3, plot.top() + 2, 240, 40),
                             Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, note.text);
        }
        painter.restore();
    }

    // A span of time across the plot, at least a pixel wide.
    QRectF span(double fromMs, double toMs, const QRectF& plot) const {
        const double left = owner_.xOf(fromMs, plot);
        const double right = owner_.xOf(toMs, plot);
        return QRectF(left, plot.top(), std::max(right - left, 0.0), plot.height());
    }

    void paintHoles(QPainter& painter, const QRectF& plot) const {
        for (const Hole& hole : owner_.holes()) {
            painter.fillRect(span(hole.fromMs, hole.toMs, plot), QBrush(kHole, Qt::BDiagPattern));
        }
        if (const auto outage = owner_.outage()) {
            const QRectF band =
                span(static_cast<double>(outage->first), static_cast<double>(outage->second), plot);
            painter.fillRect(band, QBrush(kOutage, Qt::FDiagPattern));
            if (kind_ == Kind::Main) {
                painter.setPen(kOutage.darker(200));
                painter.drawText(
                    band.adjusted(-200, 4, -4, 0), Qt::AlignRight | Qt::AlignTop,
                    TrendChart::tr("no sample for %1")
                        .arg(TrendChart::durationText(outage->second - outage->first)));
            }
        }
    }

    void paintTimeLabels(QPainter& painter, const QRectF& plot,
                         const std::vector<TimeTick>& ticks) const {
        painter.save();
        // In the face of the value axes' labels.
        const QFont font = chart_.axes(Qt::Vertical).constFirst()->labelsFont();
        painter.setFont(font);
        painter.setPen(chart_.palette().color(QPalette::WindowText));
        const double line = QFontMetricsF(font).height();
        for (const TimeTick& tick : ticks) {
            const double x = owner_.xOf(tick.timeMs, plot);
            painter.drawText(QRectF(x - 60, plot.bottom() + 3, 120, line), Qt::AlignHCenter,
                             tick.label);
            if (!tick.date.isEmpty()) {
                painter.drawText(QRectF(x - 90, plot.bottom() + 3 + line, 180, line),
                                 Qt::AlignHCenter, tick.date);
            }
        }
        painter.restore();
    }

    void paintLaneNames(QPainter& painter, const QRectF& plot) const {
        QFont font = chart_.axes(Qt::Vertical).constFirst()->labelsFont();
        font.setPointSizeF(font.pointSizeF() * 0.85);
        painter.save();
        painter.setFont(font);
        painter.setPen(chart_.palette().color(QPalette::WindowText));
        const auto name = [&](const QString& text, double low, double high) {
            const double top = y(Series::RB0, 0, plot, high);
            const double bottom = y(Series::RB0, 0, plot, low);
            painter.drawText(QRectF(plot.left() - kLaneNames, top, kLaneNames - 4, bottom - top),
                             Qt::AlignRight | Qt::AlignVCenter, text);
        };
        for (int bit = 0; bit < kPortBits; ++bit) {
            name(TrendChart::seriesName(static_cast<Series>(static_cast<int>(Series::RB0) + bit)),
                 bit * kLaneStep - 0.1, bit * kLaneStep + kLaneHeight + 0.1);
        }
        name(TrendChart::tr("faults"), kFaultsLow, kFaultsLow + kFaultCount * kFaultRow);
        painter.restore();
    }

    void paintFaults(QPainter& painter, const QRectF& plot) const {
        for (const FaultRun& run : owner_.faults()) {
            const auto row = static_cast<int>(run.fault);
            const double top = y(Series::RB0, 0, plot, kFaultsLow + (row + 0.9) * kFaultRow);
            const double bottom = y(Series::RB0, 0, plot, kFaultsLow + (row + 0.1) * kFaultRow);
            QRectF mark = span(run.firstMs, run.lastMs, plot);
            mark.setTop(top);
            mark.setBottom(bottom);
            // Seen however short, and centred on its time: a single sample in a day is a pixel
            // wide at most.
            if (mark.width() < 2) {
                mark = QRectF(mark.center().x() - 1, mark.top(), 2, mark.height());
            }
            // One at an edge stays inside the plot, where the clip would halve it.
            mark.moveLeft(std::clamp(mark.left(), plot.left(), plot.right() - mark.width()));
            painter.fillRect(mark, TrendChart::faultColour(run.fault));
        }
    }

    void paintLines(QPainter& painter, const QRectF& plot) const {
        if (const auto cursor = owner_.readout()) {
            painter.setPen(QPen(kCursorLine, 1, Qt::DashLine));
            const double at = owner_.xOf(static_cast<double>(*cursor), plot);
            painter.drawLine(QPointF(at, plot.top()), QPointF(at, plot.bottom()));
        }
        painter.setPen(QPen(kMarkerLine, 1));
        for (int which = 0; which < 2; ++which) {
            if (const auto marker = owner_.marker(which)) {
                const double at = owner_.xOf(static_cast<double>(*marker), plot);
                painter.drawLine(QPointF(at, plot.top()), QPointF(at, plot.bottom()));
                if (kind_ == Kind::Main) {
                    painter.drawText(QPointF(at + 3, plot.top() + 12),
                                     which == 0 ? QStringLiteral("A") : QStringLiteral("B"));
                }
            }
        }
    }

    const TrendChart& owner_;
    QChart& chart_;
    Kind kind_;
};

TrendChart::TrendChart(const Trace& trace, QWidget* parent) : QGraphicsView(parent), trace_(trace) {
    visible_.fill(true);
    setScene(new QGraphicsScene(this));
    setRenderHint(QPainter::Antialiasing);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(480, 320);
    static const bool accessible = [] {
        QAccessible::installFactory(chartAccessible);
        return true;
    }();
    Q_UNUSED(accessible);
    setAccessibleName(tr("Readings chart"));
    keys_ =
        tr("Left and Right move the readout, Ctrl+Left and Ctrl+Right move the time shown, "
           "plus and minus zoom, Home follows the newest sample again, A and B set the "
           "markers at the readout, Delete clears them.");
    setAccessibleDescription(keys_);

    main_ = new QChart;
    main_->setBackgroundRoundness(0);
    main_->setMargins(QMargins(4, 4, 4, 0));
    main_->legend()->setAlignment(Qt::AlignTop);
    scene()->addItem(main_);
    // The time axes keep the charts' frames; their ticks, grid and labels are the plot items',
    // at round times, which Qt Charts cannot place.
    mainTime_ = new QDateTimeAxis;
    mainTime_->setLabelsVisible(false);
    mainTime_->setGridLineVisible(false);
    mainTime_->setTickCount(2);
    main_->addAxis(mainTime_, Qt::AlignBottom);
    valueAxes_[0] = new QValueAxis;
    valueAxes_[0]->setTitleText(tr("RA0–RA3 (raw)"));
    valueAxes_[0]->setLabelFormat(QStringLiteral("%.0f"));
    main_->addAxis(valueAxes_[0], Qt::AlignLeft);
    valueAxes_[1] = new QValueAxis;
    valueAxes_[1]->setTitleText(tr("RA5 (℃)"));
    valueAxes_[1]->setLabelFormat(QStringLiteral("%.1f"));
    main_->addAxis(valueAxes_[1], Qt::AlignRight);
    // Empty series, for the legend alone: the plot items draw the samples.
    for (int index = 0; index < kSeriesCount; ++index) {
        const auto series = static_cast<Series>(index);
        auto* legend = new QLineSeries;
        legend->setName(seriesName(series));
        legend->setPen(QPen(colour(series), 2));
        main_->addSeries(legend);
        legendSeries_[static_cast<std::size_t>(index)] = legend;
        // The outputs are named by their lanes in the strip: the legend keeps to one line.
        if (series > Series::RB1) {
            for (QLegendMarker* marker : main_->legend()->markers(legend)) {
                marker->setVisible(false);
            }
        }
    }
    // The faults' marks, in the legend only for a trace that has them.
    for (int index = 0; index < kFaultCount; ++index) {
        const auto fault = static_cast<Fault>(index);
        auto* legend = new QScatterSeries;
        legend->setName(faultName(fault));
        legend->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
        legend->setMarkerSize(10);
        legend->setColor(faultColour(fault));
        legend->setBorderColor(faultColour(fault));
        main_->addSeries(legend);
        faultSeries_[static_cast<std::size_t>(index)] = legend;
    }
    const auto markers = main_->legend()->markers();
    for (QLegendMarker* marker : markers) {
        connect(marker, &QLegendMarker::clicked, this, [this, marker] {
            const auto found = std::find(legendSeries_.begin(), legendSeries_.end(),
                                         qobject_cast<QLineSeries*>(marker->series()));
            if (found != legendSeries_.end()) {
                const auto series = static_cast<Series>(found - legendSeries_.begin());
                setSeriesVisible(series, !seriesVisible(series));
            }
        });
    }

    strip_ = new QChart;
    strip_->setBackgroundRoundness(0);
    strip_->setMargins(QMargins(4, 0, 4, 4));
    strip_->legend()->hide();
    scene()->addItem(strip_);
    stripTime_ = new QDateTimeAxis;
    stripTime_->setLabelsVisible(false);
    stripTime_->setGridLineVisible(false);
    stripTime_->setTickCount(2);
    strip_->addAxis(stripTime_, Qt::AlignBottom);
    auto* inputs = new QCategoryAxis;
    inputs->setStartValue(kStripLow);
    for (int bit = 0; bit < kPortBits; ++bit) {
        inputs->append(seriesName(static_cast<Series>(static_cast<int>(Series::RB0) + bit)),
                       bit * kLaneStep + (kLaneHeight + kLaneStep) / 2);
    }
    inputs->append(QStringLiteral("faults"), kStripHigh);
    inputs->setRange(kStripLow, kStripHigh);
    inputs->setLabelsPosition(QCategoryAxis::AxisLabelsPositionCenter);
    // The lanes' names are drawn by the strip's plot item: Qt Charts cuts a category's label
    // to the width it had before the strip's plot area was aligned under the chart's.
    inputs->setLabelsVisible(false);
    inputs->setLineVisible(false);
    inputs->setGridLineVisible(false);
    strip_->addAxis(inputs, Qt::AlignLeft);

    mainPlot_ = new PlotItem(*this, *main_, PlotItem::Kind::Main);
    stripPlot_ = new PlotItem(*this, *strip_, PlotItem::Kind::Strip);
    connect(main_, &QChart::plotAreaChanged, this, [this] {
        alignStrip();
        mainPlot_->areaChanged();
        // Only a new width has other columns to reduce to; a redraw for every change of the
        // area would go round with the axes' labels, whose widths the redraw sets.
        if (static_cast<int>(plotArea().width()) != shown_.columns) {
            scheduleRefresh();
        }
    });
    connect(strip_, &QChart::plotAreaChanged, this, [this] { stripPlot_->areaChanged(); });
}

TrendChart::~TrendChart() = default;

QColor TrendChart::noteColour() { return kNote; }

void TrendChart::setNotes(std::vector<Note> notes) {
    notes_ = std::move(notes);
    scheduleRefresh();
}

QColor TrendChart::limitColour(limits::Outcome outcome) {
    return outcome == limits::Outcome::Fail ? kLimitLine : kMarginalMark;
}

void TrendChart::setLimits(const SeriesLimits& limits) {
    limits_ = limits;
    scheduleRefresh();
}

QColor TrendChart::colour(Series series) {
    // Told apart on screen, on paper and by most colour-blind eyes; port B's outputs, each in a
    // lane of its own and named there, need it less.
    static const std::array<QColor, kSeriesCount> colours{
        QColor(0x1f, 0x77, 0xb4), QColor(0xff, 0x7f, 0x0e), QColor(0x2c, 0xa0, 0x2c),
        QColor(0xd6, 0x27, 0x28), QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
        QColor(0xe3, 0x77, 0xc2), QColor(0x7f, 0x7f, 0x7f), QColor(0xbc, 0xbd, 0x22),
        QColor(0x17, 0xbe, 0xcf), QColor(0x39, 0x3b, 0x79), QColor(0x63, 0x79, 0x39),
        QColor(0x8c, 0x6d, 0x31)};
    return colours[static_cast<std::size_t>(series)];
}

QColor TrendChart::faultColour(Fault fault) {
    static const std::array<QColor, kFaultCount> colours{
        QColor(0x30, 0x30, 0x30), QColor(0x00, 0x00, 0x00), QColor(0xc0, 0x00, 0x60),
        QColor(0xe0, 0xa0, 0x00), QColor(0x00, 0x80, 0x80), QColor(0x60, 0x00, 0xa0)};
    return colours[static_cast<std::size_t>(fault)];
}

QString TrendChart::faultName(Fault fault) {
    switch (fault) {
        case Fault::NoReply:
            return tr("no reply");
        case Fault::NotSent:
            return tr("not sent");
        case Fault::WrongSize:
            return tr("wrong size");
        case Fault::Late:
            return tr("late");
        case Fault::Retried:
            return tr("retried");
        case Fault::NotWritten:
            return tr("not written");
    }
    return {};
}

QString TrendChart::seriesName(Series series) {
    const std::string_view name = kSeriesNames[static_cast<std::size_t>(series)];
    return QString::fromLatin1(name.data(), qsizetype(name.size()));
}

QString TrendChart::durationText(std::int64_t spanMs) {
    const bool negative = spanMs < 0;
    std::int64_t left = negative ? -spanMs : spanMs;
    const std::int64_t hours = left / 3'600'000;
    left %= 3'600'000;
    const std::int64_t minutes = left / 60'000;
    left %= 60'000;
    const QString seconds = left % 1000 == 0
                                ? QString::number(left / 1000)
                                : QString::number(static_cast<double>(left) / 1000.0, 'f', 3);
    QString text;
    if (hours > 0) {
        text = tr("%1 h %2 min %3 s").arg(hours).arg(minutes).arg(seconds);
    } else if (minutes > 0) {
        text = tr("%1 min %2 s").arg(minutes).arg(seconds);
    } else {
        text = tr("%1 s").arg(seconds);
    }
    return negative ? QStringLiteral("−") + text : text;
}

QString TrendChart::zoneText(std::int64_t timeMs) {
    const int offset = QDateTime::fromMSecsSinceEpoch(timeMs).offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return QStringLiteral("UTC%1%2:%3")
        .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

std::vector<TimeTick> TrendChart::timeTicks(double width) const {
    std::vector<TimeTick> ticks;
    const std::int64_t span = shown_.lastMs + 1 - shown_.firstMs;
    if (span <= 0 || width <= 0) {
        return ticks;
    }
    // Round steps, the smallest that leaves each label about 90 pixels.
    static constexpr std::array<std::int64_t, 22> kSteps{
        100,       200,        500,        1'000,      2'000,      5'000,      10'000,    15'000,
        30'000,    60'000,     120'000,    300'000,    600'000,    900'000,    1'800'000, 3'600'000,
        7'200'000, 10'800'000, 21'600'000, 43'200'000, 86'400'000, 604'800'000};
    const double most = std::max(width / 90.0, 1.0);
    std::int64_t step = kSteps.back();
    for (const std::int64_t candidate : kSteps) {
        if (static_cast<double>(span) / static_cast<double>(candidate) <= most) {
            step = candidate;
            break;
        }
    }
    const QString format = step < 1'000    ? QStringLiteral("HH:mm:ss.zzz")
                           : step < 60'000 ? QStringLiteral("HH:mm:ss")
                                           : QStringLiteral("HH:mm");
    // At round times of the local clock: its offset from UTC taken at the start of the view.
    const std::int64_t offset =
        std::int64_t{QDateTime::fromMSecsSinceEpoch(shown_.firstMs).offsetFromUtc()} * 1000;
    const std::int64_t unit = std::min<std::int64_t>(step, 86'400'000);
    std::int64_t at = (shown_.firstMs + offset + unit - 1) / unit * unit - offset;
    if (shown_.firstMs + offset < 0) {
        at = shown_.firstMs;
    }
    QDate lastDate;
    for (; at <= shown_.lastMs; at += step) {
        const QDateTime time = QDateTime::fromMSecsSinceEpoch(at);
        TimeTick tick;
        tick.timeMs = static_cast<double>(at);
        tick.label = step >= 86'400'000 ? time.toString(QStringLiteral("yyyy-MM-dd"))
                                        : time.toString(format);
        // The date where the day is not plain from the tick before, and the zone once.
        if (step < 86'400'000 && time.date() != lastDate) {
            tick.date = time.toString(QStringLiteral("yyyy-MM-dd"));
        }
        if (ticks.empty()) {
            tick.date += (tick.date.isEmpty() ? QString() : QStringLiteral(" ")) + zoneText(at);
        }
        lastDate = time.date();
        ticks.push_back(tick);
    }
    return ticks;
}

void TrendChart::setOutage(std::optional<std::pair<std::int64_t, std::int64_t>> outage) {
    if (outage_ == outage) {
        return;
    }
    outage_ = outage;
    scheduleRefresh();
}

void TrendChart::setWindow(std::int64_t windowMs) {
    windowMs_ = std::max<std::int64_t>(windowMs, 0);
    resetView();
}

void TrendChart::setFollowing(bool following) {
    if (following) {
        resetView();
    } else {
        hold(view());
    }
}

void TrendChart::zoom(double factor, std::int64_t aroundMs) {
    View shown = view();
    const double span = static_cast<double>(shown.lastMs + 1 - shown.firstMs);
    const double narrowed = std::clamp(span * factor, kShortestSpanMs, kLongestSpanMs);
    const double first = static_cast<double>(aroundMs) -
                         static_cast<double>(aroundMs - shown.firstMs) * (narrowed / span);
    shown.firstMs = std::llround(first);
    shown.lastMs = shown.firstMs + std::llround(narrowed) - 1;
    hold(shown);
}

void TrendChart::pan(double fraction) {
    View shown = view();
    const auto shift =
        std::llround(static_cast<double>(shown.lastMs + 1 - shown.firstMs) * fraction);
    shown.firstMs += shift;
    shown.lastMs += shift;
    hold(shown);
}

void TrendChart::resetView() {
    const bool changed = !following_;
    following_ = true;
    scheduleRefresh();
    emit viewChanged();
    if (changed) {
        emit followingChanged(true);
    }
}

View TrendChart::view() const {
    View shown;
    shown.columns = static_cast<int>(plotArea().width());
    if (!following_) {
        shown.firstMs = held_.firstMs;
        shown.lastMs = held_.lastMs;
        return shown;
    }
    std::int64_t newest =
        trace_.empty() ? QDateTime::currentMSecsSinceEpoch() : trace_.newest().timeMs;
    // An outage going on runs on to the right edge.
    if (outage_) {
        newest = std::max(newest, outage_->second);
    }
    shown.lastMs = newest;
    if (windowMs_ > 0) {
        shown.firstMs = newest - windowMs_ + 1;
    } else {
        // All samples, and at least a second, so that a single one has room.
        const std::int64_t oldest = trace_.empty() ? newest : trace_.oldest().timeMs;
        shown.firstMs = std::min(oldest, newest - 999);
    }
    return shown;
}

void TrendChart::hold(View shown) {
    const bool changed = following_;
    following_ = false;
    held_ = shown;
    scheduleRefresh();
    emit viewChanged();
    if (changed) {
        emit followingChanged(false);
    }
}

void TrendChart::setSeriesVisible(Series series, bool visible) {
    auto& shown = visible_[static_cast<std::size_t>(series)];
    if (shown == visible) {
        return;
    }
    shown = visible;
    updateLegendMarker(series);
    scheduleRefresh();
    if (QAccessible::isActive()) {
        QAccessible::State changed;
        changed.checked = true;
        QAccessibleStateChangeEvent event(legendEntry(series), changed);
        QAccessible::updateAccessibility(&event);
    }
    emit seriesVisibilityChanged(series, visible);
}

bool TrendChart::seriesVisible(Series series) const {
    return visible_[static_cast<std::size_t>(series)];
}

QLegendMarker* TrendChart::legendEntry(Series series) const {
    return main_->legend()->markers(legendSeries_[static_cast<std::size_t>(series)]).value(0);
}

QLegendMarker* TrendChart::legendEntry(Fault fault) const {
    return main_->legend()->markers(faultSeries_[static_cast<std::size_t>(fault)]).value(0);
}

QString TrendChart::shownValues(Series series) const {
    if (!seriesVisible(series)) {
        return tr("hidden");
    }
    const Extent& extent = reduced(series).extent;
    if (!extent.hasValue) {
        return tr("no values shown");
    }
    const int decimals = scaleOf(series) == Scale::Temperature ? 1 : 0;
    return extent.min == extent.max ? QString::number(extent.min, 'f', decimals)
                                    : tr("%1 to %2")
                                          .arg(QString::number(extent.min, 'f', decimals),
                                               QString::number(extent.max, 'f', decimals));
}

void TrendChart::setAxisRange(Axis axis, std::optional<Range> range) {
    if (range && range->second <= range->first) {
        std::swap(range->first, range->second);
    }
    fixed_[static_cast<std::size_t>(axisIndex(axis))] = range;
    scheduleRefresh();
}

std::optional<Range> TrendChart::fixedRange(Axis axis) const {
    return fixed_[static_cast<std::size_t>(axisIndex(axis))];
}

Range TrendChart::shownRange(Axis axis) const {
    const QValueAxis* shown = valueAxes_[static_cast<std::size_t>(axisIndex(axis))];
    return {shown->min(), shown->max()};
}

void TrendChart::setReadout(std::optional<std::int64_t> timeMs) {
    if (cursorMs_ == timeMs) {
        return;
    }
    cursorMs_ = timeMs;
    mainPlot_->update();
    stripPlot_->update();
    emit cursorMoved();
}

std::optional<std::int64_t> TrendChart::marker(int which) const {
    return markers_[static_cast<std::size_t>(which & 1)];
}

void TrendChart::setMarker(int which, std::optional<std::int64_t> timeMs) {
    markers_[static_cast<std::size_t>(which & 1)] = timeMs;
    mainPlot_->update();
    stripPlot_->update();
    emit markersChanged();
}

void TrendChart::samplesAdded() {
    if (following_ || (!trace_.empty() && trace_.newest().timeMs <= held_.lastMs)) {
        scheduleRefresh();
    }
}

void TrendChart::renderTo(QPaintDevice& device, QSize size) {
    if (size != viewport()->size()) {
        resize(size);
    }
    layoutScene(size);
    // Qt Charts lays out its axes when the event loop next turns: done here, before drawing,
    // and again after the axes took their ranges, whose labels' widths move the plot area.
    // Everything is then reduced to and drawn on the plot area as it finally stands.
    for (int round = 0; round < 3; ++round) {
        for (QChart* chart : {main_, strip_}) {
            chart->layout()->activate();
        }
        if (round > 0 && static_cast<int>(plotArea().width()) == shown_.columns) {
            break;
        }
        refresh();
    }
    QPainter painter(&device);
    painter.setRenderHint(QPainter::Antialiasing);
    scene()->render(&painter, QRectF(QPointF(0, 0), size), scene()->sceneRect());
}

const Reduced& TrendChart::reduced(Series series) const {
    return reduced_.series[static_cast<std::size_t>(series)];
}

double TrendChart::xOf(double timeMs, const QRectF& plot) const {
    const double span = static_cast<double>(shown_.lastMs + 1 - shown_.firstMs);
    return plot.left() + (timeMs - static_cast<double>(shown_.firstMs)) / span * plot.width();
}

void TrendChart::resizeEvent(QResizeEvent* event) {
    QGraphicsView::resizeEvent(event);
    layoutScene(viewport()->size());
}

void TrendChart::wheelEvent(QWheelEvent* event) {
    const double steps = event->angleDelta().y() / 120.0;
    if (steps != 0) {
        zoom(std::pow(0.8, steps), timeAt(event->position()));
    }
    event->accept();
}

void TrendChart::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QGraphicsView::mousePressEvent(event);
        return;
    }
    pressedAt_ = event->position().toPoint();
    pressedView_ = view();
    dragged_ = false;
    event->accept();
}

void TrendChart::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (pressedAt_ && (event->buttons() & Qt::LeftButton)) {
        const int moved = at.x() - pressedAt_->x();
        dragged_ = dragged_ || std::abs(moved) >= QApplication::startDragDistance();
        if (dragged_ && plotArea().width() > 0) {
            View shown = pressedView_;
            const auto shift = std::llround(-moved / plotArea().width() *
                                            static_cast<double>(shown.lastMs + 1 - shown.firstMs));
            shown.firstMs += shift;
            shown.lastMs += shift;
            hold(shown);
        }
    }
    const QRectF plot = plotArea();
    if (at.x() >= plot.left() && at.x() <= plot.right()) {
        setReadout(timeAt(at));
    }
    QGraphicsView::mouseMoveEvent(event);
}

void TrendChart::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressedAt_) {
        QGraphicsView::mouseReleaseEvent(event);
        return;
    }
    const bool clicked = !dragged_;
    pressedAt_.reset();
    dragged_ = false;
    // A click on the legend is the legend's; one on the chart places a marker, B with Shift.
    if (clicked && plotArea().contains(mapToScene(event->position().toPoint()))) {
        setMarker(event->modifiers() & Qt::ShiftModifier ? 1 : 0,
                  snapped(timeAt(event->position())));
    } else if (clicked) {
        QGraphicsView::mousePressEvent(event);
        QGraphicsView::mouseReleaseEvent(event);
    }
    event->accept();
}

void TrendChart::mouseDoubleClickEvent(QMouseEvent* event) {
    resetView();
    event->accept();
}

void TrendChart::keyPressEvent(QKeyEvent* event) {
    const bool control = event->modifiers() & Qt::ControlModifier;
    const double step = event->modifiers() & Qt::ShiftModifier ? 0.1 : 0.01;
    const View shown = view();
    const std::int64_t middle = shown.firstMs + (shown.lastMs - shown.firstMs) / 2;
    switch (event->key()) {
        case Qt::Key_Left:
            control ? pan(-0.1) : moveCursor(-step);
            break;
        case Qt::Key_Right:
            control ? pan(0.1) : moveCursor(step);
            break;
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            zoom(0.8, cursorMs_.value_or(middle));
            break;
        case Qt::Key_Minus:
            zoom(1.25, cursorMs_.value_or(middle));
            break;
        case Qt::Key_Home:
            resetView();
            break;
        case Qt::Key_A:
        case Qt::Key_B:
            setMarker(event->key() == Qt::Key_A ? 0 : 1, snapped(cursorMs_.value_or(shown.lastMs)));
            break;
        case Qt::Key_Delete:
        case Qt::Key_Backspace:
            setMarker(0, std::nullopt);
            setMarker(1, std::nullopt);
            break;
        default:
            QGraphicsView::keyPressEvent(event);
            return;
    }
    event->accept();
}

void TrendChart::layoutScene(QSizeF size) {
    scene()->setSceneRect(QRectF(QPointF(0, 0), size));
    const double strip = std::max(kStripMinimum, size.height() * kStripShare);
    main_->setGeometry(QRectF(0, 0, size.width(), size.height() - strip));
    strip_->setGeometry(QRectF(0, size.height() - strip, size.width(), strip));
    alignStrip();
}

void TrendChart::alignStrip() {
    // The strip's time axis lies under the chart's, whatever the width of the chart's labels.
    const QRectF plot = main_->plotArea();
    const double height = strip_->size().height() - kTimeLabels - 6;
    if (plot.width() > 0 && height > 0) {
        strip_->setPlotArea(QRectF(plot.left(), 6, plot.width(), height));
    }
}

void TrendChart::scheduleRefresh() {
    if (refreshScheduled_) {
        return;
    }
    refreshScheduled_ = true;
    // Coalesced: many samples or events in one turn of the event loop cost one redraw.
    QMetaObject::invokeMethod(this, &TrendChart::refresh, Qt::QueuedConnection);
}

void TrendChart::refresh() {
    refreshScheduled_ = false;
    const View shown = view();
    shown_ = shown;
    updateTimeAxes(shown);
    reduced_ = reduce(trace_, shown);
    // A hidden series is left out of its axis's range as well as of the drawing.
    for (int index = 0; index < kSeriesCount; ++index) {
        if (!seriesVisible(static_cast<Series>(index))) {
            reduced_.series[static_cast<std::size_t>(index)] = Reduced{};
        }
    }
    // The legend names the faults the samples have: those of the whole trace, so that it does
    // not change as the view moves.
    const Faults faults = trace_.faults(0, trace_.size());
    for (int index = 0; index < kFaultCount; ++index) {
        const bool has = (faults & bitOf(static_cast<Fault>(index))) != 0;
        for (QLegendMarker* marker :
             main_->legend()->markers(faultSeries_[static_cast<std::size_t>(index)])) {
            if (marker->isVisible() != has) {
                marker->setVisible(has);
            }
        }
    }
    updateValueAxis(Axis::Left);
    updateValueAxis(Axis::Right);
    describe();
    mainPlot_->update();
    stripPlot_->update();
}

void TrendChart::updateTimeAxes(const View& shown) {
    const QDateTime from = QDateTime::fromMSecsSinceEpoch(shown.firstMs);
    const QDateTime to = QDateTime::fromMSecsSinceEpoch(shown.lastMs + 1);
    for (QDateTimeAxis* axis : {mainTime_, stripTime_}) {
        axis->setRange(from, to);
    }
}

void TrendChart::updateValueAxis(Axis axis) {
    QValueAxis* shown = valueAxes_[static_cast<std::size_t>(axisIndex(axis))];
    // Set only when it changes: every change lays the chart out anew.
    const auto show = [shown](double low, double high, int ticks) {
        if (shown->min() != low || shown->max() != high) {
            shown->setRange(low, high);
        }
        if (shown->tickCount() != ticks) {
            shown->setTickCount(ticks);
        }
    };
    const Scale scale = axis == Axis::Left ? Scale::Raw : Scale::Temperature;
    // An axis with none of its series shown is dropped.
    bool any = false;
    for (int index = 0; index < kSeriesCount; ++index) {
        any = any || (scaleOf(static_cast<Series>(index)) == scale &&
                      seriesVisible(static_cast<Series>(index)));
    }
    if (shown->isVisible() != any) {
        shown->setVisible(any);
    }
    if (const auto range = fixedRange(axis)) {
        if (shown->tickType() != QValueAxis::TicksFixed) {
            shown->setTickType(QValueAxis::TicksFixed);
        }
        show(range->first, range->second, kTicks);
        return;
    }
    // Ticks at the multiples of the step, also where the range is cut to what readings can be.
    if (shown->tickType() != QValueAxis::TicksDynamic) {
        shown->setTickType(QValueAxis::TicksDynamic);
        shown->setTickAnchor(0);
    }
    Extent extent;
    for (int index = 0; index < kSeriesCount; ++index) {
        if (scaleOf(static_cast<Series>(index)) == scale) {
            extent.add(reduced_.series[static_cast<std::size_t>(index)].extent);
        }
    }
    // With nothing to fit: the range of a 10-bit conversion, or a room's temperatures.
    double low = 0;
    double high = scale == Scale::Raw ? 1023 : 50;
    if (extent.hasValue) {
        low = extent.min;
        high = extent.max;
        // The bounds of a limits file are kept in view beside the readings: how far a reading
        // lies from its limit is what the limit is drawn for. Not those a series has without
        // one (the converter's full scale, a room's temperatures), which would flatten the fit.
        static const SeriesLimits kWithoutFile = seriesLimits(limits::defaultLimits());
        for (int index = 0; index < kSeriesCount; ++index) {
            const auto series = static_cast<Series>(index);
            const auto& bounds = limits_[static_cast<std::size_t>(index)];
            if (scaleOf(series) != scale || !seriesVisible(series) || !bounds ||
                bounds == kWithoutFile[static_cast<std::size_t>(index)]) {
                continue;
            }
            for (const auto bound :
                 {bounds->low, bounds->high, bounds->marginalLow, bounds->marginalHigh}) {
                if (bound) {
                    low = std::min(low, *bound);
                    high = std::max(high, *bound);
                }
            }
        }
        const double least = scale == Scale::Raw ? 2 : 1;
        if (high - low < least) {
            low -= least / 2;
            high += least / 2;
        }
        const double margin = (high - low) * 0.05;
        low -= margin;
        high += margin;
    }
    // Ticks 1, 2 or 5 times a power of ten apart, at about kTicks of them.
    const double rough = (high - low) / (kTicks - 1);
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    const double fraction = rough / power;
    const double step = power * (fraction <= 1 ? 1 : fraction <= 2 ? 2 : fraction <= 5 ? 5 : 10);
    double niceLow = std::floor(low / step) * step;
    double niceHigh = std::ceil(high / step) * step;
    // A raw reading is a 10-bit conversion: the axis never shows what none can be.
    if (scale == Scale::Raw) {
        niceLow = std::max(niceLow, 0.0);
        niceHigh = std::min(niceHigh, 1023.0);
    }
    if (shown->tickInterval() != step) {
        shown->setTickInterval(step);
    }
    show(niceLow, niceHigh, static_cast<int>(std::lround((niceHigh - niceLow) / step)) + 1);
}

void TrendChart::updateLegendMarker(Series series) {
    const bool shown = seriesVisible(series);
    const auto markers = main_->legend()->markers(legendSeries_[static_cast<std::size_t>(series)]);
    for (QLegendMarker* marker : markers) {
        QColor colour = TrendChart::colour(series);
        colour.setAlphaF(shown ? 1.0F : 0.2F);
        marker->setBrush(colour);
        marker->setPen(QPen(colour));
        QColor label = marker->labelBrush().color();
        label.setAlphaF(shown ? 1.0F : 0.4F);
        marker->setLabelBrush(label);
    }
}

void TrendChart::describe() {
    // What a screen reader says of the chart: its series and legend as the eye reads them,
    // then its keys.
    QStringList series;
    for (int index = 0; index < kSeriesCount; ++index) {
        const auto which = static_cast<Series>(index);
        const Extent& extent = reduced_.series[static_cast<std::size_t>(index)].extent;
        if (!seriesVisible(which) || !extent.hasValue) {
            continue;
        }
        const int decimals = scaleOf(which) == Scale::Temperature ? 1 : 0;
        series << (extent.min == extent.max
                       ? tr("%1: %2").arg(seriesName(which)).arg(extent.min, 0, 'f', decimals)
                       : tr("%1: %2 to %3")
                             .arg(seriesName(which))
                             .arg(extent.min, 0, 'f', decimals)
                             .arg(extent.max, 0, 'f', decimals));
    }
    QStringList faults;
    for (const FaultRun& run : reduced_.faults) {
        if (!faults.contains(faultName(run.fault))) {
            faults << faultName(run.fault);
        }
    }
    QString text = series.isEmpty() ? tr("No samples shown.")
                                    : tr("Shown: %1.").arg(series.join(QStringLiteral("; ")));
    if (!faults.isEmpty()) {
        text += QLatin1Char(' ') + tr("Marked: %1.").arg(faults.join(QStringLiteral(", ")));
    }
    if (!reduced_.holes.empty()) {
        text += QLatin1Char(' ') + tr("Time without samples: %n span(s).", nullptr,
                                      static_cast<int>(reduced_.holes.size()));
    }
    text += QLatin1Char(' ') + keys_;
    if (text != accessibleDescription()) {
        setAccessibleDescription(text);
    }
}

QRectF TrendChart::plotArea() const { return main_->plotArea(); }

std::int64_t TrendChart::timeAt(QPointF viewPoint) const {
    const QRectF plot = plotArea();
    const View shown = view();
    if (plot.width() <= 0) {
        return shown.lastMs;
    }
    const double fraction =
        std::clamp((mapToScene(viewPoint.toPoint()).x() - plot.left()) / plot.width(), 0.0, 1.0);
    return shown.firstMs +
           std::llround(fraction * static_cast<double>(shown.lastMs - shown.firstMs));
}

std::optional<std::int64_t> TrendChart::snapped(std::int64_t timeMs) const {
    const std::size_t index = trace_.nearest(timeMs);
    if (index >= trace_.size()) {
        return std::nullopt;
    }
    return trace_[index].timeMs;
}

void TrendChart::moveCursor(double fraction) {
    const View shown = view();
    const std::int64_t span = shown.lastMs + 1 - shown.firstMs;
    const std::int64_t from = cursorMs_.value_or(shown.lastMs);
    const std::int64_t moved = from + std::llround(static_cast<double>(span) * fraction);
    setReadout(std::clamp(moved, shown.firstMs, shown.lastMs));
}

}  // namespace vardek::trend
