// The window of vardek-trend: the chart, a readout of every series at the readout's time and at
// the two markers, and the controls of the time shown, the series and the axes, each in a menu
// with its keyboard shortcut.
#pragma once

#include <QMainWindow>

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "readings/sample.h"
#include "tools/trend/trace.h"
#include "tools/trend/trend_chart.h"

QT_BEGIN_NAMESPACE
class QAction;
class QActionGroup;
class QComboBox;
class QLabel;
class QTableWidget;
class QTimer;
QT_END_NAMESPACE

namespace vardek::trend {

class TrendWindow final : public QMainWindow {
    Q_OBJECT

  public:
    // The time windows offered, in milliseconds; 0 shows every sample.
    static constexpr std::array<std::int64_t, 5> kWindows{60'000, 600'000, 3'600'000, 86'400'000,
                                                          0};

    explicit TrendWindow(QWidget* parent = nullptr);
    ~TrendWindow() override;

    TrendChart& chart() { return *chart_; }
    const Trace& trace() const { return trace_; }

    // Where the samples come from, for the title and the status bar: a file's name or a board.
    void setSource(const QString& source);
    // The analogue pins the samples hold, for the columns of a saved log.
    void setPins(readings::Pins pins) { pins_ = pins; }
    void setWindow(std::int64_t windowMs);
    // Takes in samples as they come.
    void addSamples(std::vector<Sample> samples);
    // A problem with the source (a request not sent, a line of a log not read), shown in the
    // status bar until the next one.
    void showProblem(const QString& problem);

    // The samples shown, as a CSV log of their own; returns why it could not be written, or
    // an empty string.
    QString saveShownSamples(const QString& path) const;
    QString saveChart(const QString& path);
    // What a save dialog proposes: "soak-20261209-131500.png".
    QString proposedFileName(const QString& suffix) const;
    // The statistics of the time shown and between the markers, as tab-separated text with a
    // header line, as the Copy statistics action puts it on the clipboard.
    QString statisticsText();

  private:
    void buildMenus();
    void buildReadout();
    void updateReadout();
    void updateStatus();
    void buildStatistics();
    // Only while the table is shown; fillStatistics always.
    void updateStatistics();
    void fillStatistics();
    // The samples [first, last) of the time shown, and between the markers (empty without both).
    std::pair<std::size_t, std::size_t> shownSamples() const;
    std::pair<std::size_t, std::size_t> markedSamples() const;
    void askForFile(const QString& caption, const QString& filter, const QString& suffix,
                    bool chart);
    void askAxisRange(Axis axis);
    void syncWindowChoice();
    // Live or following a log: whether a sample is overdue, and since when.
    void checkOutage();

    Trace trace_;
    TrendChart* chart_ = nullptr;
    QTableWidget* readout_ = nullptr;
    QTableWidget* statistics_ = nullptr;
    QComboBox* windowChoice_ = nullptr;
    QActionGroup* windowActions_ = nullptr;
    QAction* pause_ = nullptr;
    std::array<QAction*, kSeriesCount> seriesActions_{};
    std::array<QAction*, 2> automaticAxes_{};
    QLabel* status_ = nullptr;
    QString source_;
    readings::Pins pins_;
    QString folder_;
    std::uint64_t missed_ = 0;
    // Samples come on after the window opened: their absence is an outage.
    QTimer* outageCheck_ = nullptr;
    std::uint64_t overdue_ = 0;  // slots passed since the newest sample without one
};

}  // namespace vardek::trend
