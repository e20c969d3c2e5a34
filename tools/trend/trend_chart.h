// The chart of vardek-trend: RA0-RA3 raw against the left axis, RA5 in degrees Celsius against
// the right one, and RB0 and RB1 as steps in a strip below, on one time axis. Qt Charts draws
// the axes, the grid and the legend; the series are drawn from the trace reduced to the chart's
// width (reducer.h), since a QLineSeries can neither leave a gap in its line nor take a day of
// samples on every redraw.
#pragma once

#include <QGraphicsView>

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include <QString>

#include "tools/trend/notes.h"
#include "tools/trend/reducer.h"
#include "tools/trend/statistics.h"
#include "tools/trend/trace.h"

QT_BEGIN_NAMESPACE
class QChart;
class QDateTimeAxis;
class QValueAxis;
class QLegendMarker;
class QLineSeries;
class QPaintDevice;
class QScatterSeries;
QT_END_NAMESPACE

namespace vardek::trend {

class PlotItem;

// A gridline of the time axis, at a round time of the local clock, and its label; `date` is
// set where the day is not plain from the tick before, with the zone on the first.
struct TimeTick {
    double timeMs = 0;
    QString label;
    QString date;
};

enum class Axis { Left, Right };
using Range = std::pair<double, double>;

class TrendChart final : public QGraphicsView {
    Q_OBJECT

  public:
    explicit TrendChart(const Trace& trace, QWidget* parent = nullptr);
    ~TrendChart() override;

    static QColor colour(Series series);
    static QColor faultColour(Fault fault);
    static QString faultName(Fault fault);
    static QString seriesName(Series series);
    // A length of time in hours, minutes and seconds: "19 h 11 min 6.999 s".
    static QString durationText(std::int64_t spanMs);
    // The local clock's offset from UTC at a time: "UTC+01:00".
    static QString zoneText(std::int64_t timeMs);
    // The time axis's ticks across a plot `width` pixels wide.
    std::vector<TimeTick> timeTicks(double width) const;

    // The span of the time window that follows the newest sample; 0 for all samples.
    void setWindow(std::int64_t windowMs);
    std::int64_t window() const { return windowMs_; }
    // Following the newest sample, or held where it is: paused, zoomed or dragged.
    void setFollowing(bool following);
    bool following() const { return following_; }
    // Narrows (factor below 1) or widens the time shown, keeping `aroundMs` where it is.
    void zoom(double factor, std::int64_t aroundMs);
    // Moves the time shown by a fraction of its span, later for a positive one.
    void pan(double fraction);
    // Back to the time window, following the newest sample.
    void resetView();
    View view() const;

    void setSeriesVisible(Series series, bool visible);
    bool seriesVisible(Series series) const;
    // The legend's entry of a series or a fault, which a screen reader is given as an item of
    // the chart; RB2-RB7's entries are kept out of sight, their lanes naming them.
    QLegendMarker* legendEntry(Series series) const;
    QLegendMarker* legendEntry(Fault fault) const;
    // What a series shows in the time shown, for a screen reader: "500 to 510", "hidden".
    QString shownValues(Series series) const;

    // A fixed range for the axis, or none to fit it to the samples shown.
    void setAxisRange(Axis axis, std::optional<Range> range);
    std::optional<Range> fixedRange(Axis axis) const;
    Range shownRange(Axis axis) const;

    // The time of the readout: where the pointer is, or where the keys moved it.
    std::optional<std::int64_t> readout() const { return cursorMs_; }
    void setReadout(std::optional<std::int64_t> timeMs);
    // Marker 0 is A, 1 is B; each stands on a sample.
    std::optional<std::int64_t> marker(int which) const;
    void setMarker(int which, std::optional<std::int64_t> timeMs);

    // Takes in the samples added to the trace since the last call.
    void samplesAdded();
    // An outage going on, from when a sample was due to now: drawn as a band growing at the
    // right edge, which the time shown follows. None once samples come again.
    void setOutage(std::optional<std::pair<std::int64_t, std::int64_t>> outage);
    std::optional<std::pair<std::int64_t, std::int64_t>> outage() const { return outage_; }

    // The limits drawn on the series' axes: each range's bounds as lines, the marginal band
    // between a bound and its marginal bound shaded, and every value outside the range or the
    // marginal bounds marked.
    void setLimits(const SeriesLimits& limits);
    const SeriesLimits& limits() const { return limits_; }
    static QColor limitColour(limits::Outcome outcome);

    // The notes, each a line at its time across the plot with its text at the top.
    void setNotes(std::vector<Note> notes);
    const std::vector<Note>& notes() const { return notes_; }
    static QColor noteColour();

    // Draws the chart as shown onto an image or an SVG generator, at `size`: the chart is laid
    // out at that size first.
    void renderTo(QPaintDevice& device, QSize size);

    // What the plot items draw.
    const Reduced& reduced(Series series) const;
    const std::vector<FaultRun>& faults() const { return reduced_.faults; }
    const std::vector<Hole>& holes() const { return reduced_.holes; }
    double xOf(double timeMs, const QRectF& plot) const;

  signals:
    void viewChanged();
    void cursorMoved();
    void markersChanged();
    void followingChanged(bool following);
    void seriesVisibilityChanged(vardek::trend::Series series, bool visible);

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void layoutScene(QSizeF size);
    void alignStrip();
    void scheduleRefresh();
    void refresh();
    void hold(View view);
    void updateTimeAxes(const View& view);
    void updateValueAxis(Axis axis);
    void updateLegendMarker(Series series);
    void describe();
    QRectF plotArea() const;
    // The time under a point of the view, kept within the time shown.
    std::int64_t timeAt(QPointF viewPoint) const;
    std::optional<std::int64_t> snapped(std::int64_t timeMs) const;
    void moveCursor(double fraction);

    const Trace& trace_;
    QChart* main_ = nullptr;
    QChart* strip_ = nullptr;
    QDateTimeAxis* mainTime_ = nullptr;
    QDateTimeAxis* stripTime_ = nullptr;
    std::array<QValueAxis*, 2> valueAxes_{};
    std::array<QLineSeries*, kSeriesCount> legendSeries_{};
    std::array<QScatterSeries*, kFaultCount> faultSeries_{};
    PlotItem* mainPlot_ = nullptr;
    PlotItem* stripPlot_ = nullptr;

    std::int64_t windowMs_ = 60'000;
    bool following_ = true;
    View held_;  // the time shown while not following
    std::array<bool, kSeriesCount> visible_{};
    std::array<std::optional<Range>, 2> fixed_{};
    ReducedView reduced_;
    View shown_;
    bool refreshScheduled_ = false;
    std::optional<std::pair<std::int64_t, std::int64_t>> outage_;
    SeriesLimits limits_{};
    std::vector<Note> notes_;
    QString keys_;  // how the keys work, for a screen reader

    std::optional<std::int64_t> cursorMs_;
    std::array<std::optional<std::int64_t>, 2> markers_{};
    std::optional<QPoint> pressedAt_;
    View pressedView_;
    bool dragged_ = false;
};

}  // namespace vardek::trend
