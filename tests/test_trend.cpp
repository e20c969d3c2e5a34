// vardek-trend: what its chart draws of many samples, its export with no display at all, and
// its live sampling of the real simulator.
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <array>
#include <cmath>
#include <csignal>
#include <functional>
#include <memory>
#include <numeric>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>

#include "host/language.h"
#include "readings/log_format.h"
#include "tests/simulator_run.h"
#include "tools/trend/live_sampler.h"
#include "tools/trend/log_samples.h"
#include "tools/trend/notes.h"
#include "tools/trend/reducer.h"
#include "tools/trend/statistics.h"
#include "tools/trend/trend_chart.h"
#include "tools/trend/trend_options.h"
#include "tools/trend/trend_window.h"

#include <csignal>

using namespace vardek::trend;
namespace readings = vardek::readings;
using vardek::test::LoopbackBoard;
using vardek::test::SimulatorRun;
using vardek::test::waitUntil;

namespace {

constexpr std::int64_t kStartMs = 1'765'000'000'000;  // a December 2025 morning, UTC

// `count` samples one `intervalMs` apart, every series at a level of its own; those at
// `missed` unanswered, and RA0 at `spike` reading 1023; those at `cut` left out, as rows cut out
// of a log.
Trace steadyTrace(int count, std::int64_t intervalMs, const std::vector<int>& missed, int spike,
                  const std::vector<int>& cut = {}) {
    std::vector<Sample> samples(static_cast<std::size_t>(count));
    for (int index = 0; index < count; ++index) {
        Sample& sample = samples[static_cast<std::size_t>(index)];
        sample.timeMs = kStartMs + index * intervalMs;
        sample.elapsedS = static_cast<double>(index * intervalMs) / 1000.0;
        if (std::find(missed.begin(), missed.end(), index) != missed.end()) {
            continue;
        }
        sample.result = Sample::Result::Ok;
        sample.portB = static_cast<std::int16_t>(index / 60 % 4);
        sample.analogue = {500, 400, 300, 200, 25.0F};
        if (index == spike) {
            sample.analogue[0] = 1023;
        }
    }
    for (auto index = cut.rbegin(); index != cut.rend(); ++index) {
        samples.erase(samples.begin() + *index);
    }
    Trace trace;
    trace.append(std::move(samples));
    return trace;
}

std::vector<int> run(int first, int count) {
    std::vector<int> indices(static_cast<std::size_t>(count));
    std::iota(indices.begin(), indices.end(), first);
    return indices;
}

// Whether a drawn line runs across the time of a missed sample, or across unmeasured time.
bool lineAcrossMissed(const Trace& trace, const Reduced& reduced) {
    std::vector<double> missed;
    for (std::size_t index = 0; index < trace.size(); ++index) {
        if (trace[index].missed()) {
            missed.push_back(static_cast<double>(trace[index].timeMs));
        }
        if (index > 0 && trace[index].timeMs - trace[index - 1].timeMs > 2 * trace.intervalMs()) {
            missed.push_back(static_cast<double>(trace[index].timeMs - trace.intervalMs()));
        }
    }
    for (std::size_t line = 0; line < reduced.lines.size(); ++line) {
        const std::size_t end =
            line + 1 < reduced.lines.size() ? reduced.lines[line + 1] : reduced.points.size();
        for (std::size_t point = reduced.lines[line] + 1; point < end; ++point) {
            const double from = reduced.points[point - 1].timeMs;
            const auto next = std::upper_bound(missed.begin(), missed.end(), from);
            if (next != missed.end() && *next < reduced.points[point].timeMs) {
                return true;
            }
        }
    }
    return false;
}

bool near(QRgb pixel, const QColor& wanted, int within) {
    return std::abs(qRed(pixel) - wanted.red()) + std::abs(qGreen(pixel) - wanted.green()) +
               std::abs(qBlue(pixel) - wanted.blue()) <=
           within;
}

// The samples as a log, exported at 800x500 by vardek-trend run without a display.
QImage exportedLog(const QTemporaryDir& folder, const std::vector<Sample>& samples,
                   const QStringList& options = {}) {
    const readings::Pins pins = pinsOf({0, 1, 2, 3, 4});
    QByteArray log = QByteArray::fromStdString(readings::csvHeader(pins));
    for (const Sample& sample : samples) {
        log += QByteArray::fromStdString(readings::csvRow(toReadings(sample), pins));
    }
    const QString csv = folder.filePath(QStringLiteral("known.csv"));
    QFile file(csv);
    if (!file.open(QIODevice::WriteOnly) || file.write(log) != log.size()) {
        return {};
    }
    file.close();
    const QString image = folder.filePath(QStringLiteral("plot.png"));
    QProcess trend;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        environment.remove(QString::fromLatin1(name));
    }
    trend.setProcessEnvironment(environment);
    trend.start(QStringLiteral(VARDEK_TREND),
                QStringList{csv, QStringLiteral("--export"), image, QStringLiteral("--size"),
                            QStringLiteral("800x500")} +
                    options);
    if (!trend.waitForFinished(vardek::test::kWaitMs) || trend.exitCode() != 0) {
        qWarning("%s", trend.readAllStandardError().constData());
        return {};
    }
    return QImage(image).convertToFormat(QImage::Format_RGB32);
}

// The columns of `drawn` with at least `least` pixels of `colour` in rows [top, bottom).
std::vector<int> columnsOf(const QImage& drawn, const QColor& colour, int top, int bottom,
                           int least) {
    std::vector<int> columns;
    for (int x = 0; x < drawn.width(); ++x) {
        int count = 0;
        for (int y = std::max(top, 0); y < std::min(bottom, drawn.height()); ++y) {
            count += near(drawn.pixel(x, y), colour, 12) ? 1 : 0;
        }
        if (count >= least) {
            columns.push_back(x);
        }
    }
    return columns;
}

// The row of `drawn` with the most pixels of `colour`: where a flat line of that colour runs.
int rowOf(const QImage& drawn, const QColor& colour) {
    std::vector<int> counts(static_cast<std::size_t>(drawn.height()));
    for (int y = 0; y < drawn.height(); ++y) {
        for (int x = 0; x < drawn.width(); ++x) {
            counts[std::size_t(y)] += near(drawn.pixel(x, y), colour, 12) ? 1 : 0;
        }
    }
    return int(std::max_element(counts.begin(), counts.end()) - counts.begin());
}

}  // namespace

class TestTrend : public QObject {
    Q_OBJECT

  private slots:
    // The window keeps settings between runs: here, in a folder of the test's own, never the
    // user's.
    void initTestCase() {
        QVERIFY(config_.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
    }

    // What the chart draws of a series: the extremes of every pixel column, so no sample's
    // value is lost however many share a column, no line drawn across a missed sample, and
    // never more points than the width allows.
    void reducedView_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("intervalMs");
        QTest::addColumn<std::vector<int>>("missed");
        QTest::addColumn<int>("spike");
        QTest::addColumn<int>("viewFirst");  // the first sample shown; all to the last
        QTest::addColumn<std::vector<int>>("cut");
        const std::vector<int> none;
        QTest::newRow("a one-sample spike in 24 h at 1 s")
            << 86'400 << 1000 << none << 50'001 << 0 << none;
        QTest::newRow("a one-sample gap in 24 h at 1 s")
            << 86'400 << 1000 << std::vector<int>{43'210} << -1 << 0 << none;
        std::vector<int> gaps = run(20'000, 1500);
        gaps.insert(gaps.end(), {7, 9, 10});
        QTest::newRow("gaps of 1, 2 and 1500 samples in 24 h")
            << 86'400 << 1000 << gaps << 21'500 << 0 << none;
        QTest::newRow("a gap and a spike zoomed in to 1 min")
            << 86'400 << 1000 << std::vector<int>{86'370} << 86'371 << 86'340 << none;
        QTest::newRow("every fourth sample missed")
            << 4000 << 200 << std::vector<int>{3, 7, 11, 15, 19, 3999} << 1 << 0 << none;
        QTest::newRow("60 rows cut out of 24 h")
            << 86'400 << 1000 << none << -1 << 0 << run(40'000, 60);
        QTest::newRow("2 rows cut out, zoomed in to 1 min")
            << 3600 << 1000 << none << -1 << 3540 << std::vector<int>{3570, 3571};
    }
    void reducedView() {
        QFETCH(int, count);
        QFETCH(int, intervalMs);
        QFETCH(std::vector<int>, missed);
        QFETCH(int, spike);
        QFETCH(int, viewFirst);
        QFETCH(std::vector<int>, cut);
        const Trace trace = steadyTrace(count, intervalMs, missed, spike, cut);
        constexpr int kColumns = 997;
        const View view{trace[std::size_t(viewFirst)].timeMs, trace.samples().back().timeMs,
                        kColumns};
        const ReducedView all = reduce(trace, view);
        const Reduced& reduced = all.series[std::size_t(Series::RA0)];

        QVERIFY(!reduced.points.empty());
        QVERIFY2(reduced.points.size() <= 2 * kColumns + 2, "the points grow with the samples");
        const auto highest = std::max_element(
            reduced.points.begin(), reduced.points.end(),
            [](const Reduced::Point& a, const Reduced::Point& b) { return a.value < b.value; });
        QCOMPARE(highest->value, spike >= 0 ? 1023.0F : 500.0F);
        QVERIFY2(!lineAcrossMissed(trace, reduced), "a line is drawn across a missed sample");
        QCOMPARE(reduced.extent.max, spike >= 0 ? 1023.0F : 500.0F);

        // Each missed sample in view is within a mark of its fault, and the time of rows cut
        // out is a hole.
        const auto& marks = all.faults;
        for (const int index : missed) {
            const auto timeMs = static_cast<double>(kStartMs + index * intervalMs);
            if (timeMs < static_cast<double>(view.firstMs)) {
                continue;
            }
            QVERIFY2(std::any_of(marks.begin(), marks.end(),
                                 [timeMs](const FaultRun& run) {
                                     return run.fault == Fault::NoReply && run.firstMs <= timeMs &&
                                            timeMs <= run.lastMs;
                                 }),
                     qPrintable(QStringLiteral("sample %1 is missed unmarked").arg(index)));
        }
        if (!cut.empty()) {
            const auto fromMs = static_cast<double>(kStartMs + (cut.front() - 1) * intervalMs);
            const auto toMs = static_cast<double>(kStartMs + (cut.back() + 1) * intervalMs);
            QVERIFY2(std::any_of(all.holes.begin(), all.holes.end(),
                                 [&](const Hole& hole) {
                                     return hole.fromMs == fromMs && hole.toMs == toMs;
                                 }),
                     "rows cut out leave no hole");
        }
    }

    // Drawn to an image of the size asked for, with each series in its colour, by a process
    // that has no display to open: no DISPLAY, no WAYLAND_DISPLAY, no platform chosen.
    void exportWithoutADisplay() {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QImage drawn =
            exportedLog(folder, steadyTrace(600, 1000, {100, 101, 300}, 400).samples(),
                        {QStringLiteral("--window"), QStringLiteral("10min")});

        QCOMPARE(drawn.size(), QSize(800, 500));
        std::array<int, kSeriesCount> found{};
        for (int y = 0; y < drawn.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(drawn.constScanLine(y));
            for (int x = 0; x < drawn.width(); ++x) {
                for (int index = 0; index < kSeriesCount; ++index) {
                    const QColor wanted = TrendChart::colour(static_cast<Series>(index));
                    const int distance = std::abs(qRed(line[x]) - wanted.red()) +
                                         std::abs(qGreen(line[x]) - wanted.green()) +
                                         std::abs(qBlue(line[x]) - wanted.blue());
                    found[std::size_t(index)] += distance <= 24 ? 1 : 0;
                }
            }
        }
        for (int index = 0; index < kSeriesCount; ++index) {
            // The legend's swatch alone is about 50 pixels: a drawn series has hundreds.
            QVERIFY2(
                found[std::size_t(index)] > 300,
                qPrintable(QStringLiteral("%1: %2 pixels of its colour")
                               .arg(QString::fromLatin1(kSeriesNames[std::size_t(index)].data()))
                               .arg(found[std::size_t(index)])));
        }
    }

    // An exported chart tells when samples were missed and when none were taken: each fault's
    // mark stands at its sample's place on the lines' time scale, and no line crosses time
    // without samples, whether rows were cut out or a second run was appended after a pause.
    void exportShowsGapsAndMarks_data() {
        QTest::addColumn<std::vector<int>>("missed");  // of 600 samples 1 s apart
        QTest::addColumn<std::vector<int>>("cut");
        QTest::addColumn<int>("pauseAfter");  // a second run begins 36 s later; -1: none
        const std::vector<int> none;
        QTest::newRow("missed at a quarter, a half, three quarters and the end")
            << std::vector<int>{150, 300, 450, 599} << none << -1;
        QTest::newRow("60 rows cut out") << std::vector<int>{100} << run(300, 60) << -1;
        QTest::newRow("a second run 36 s after the first") << none << none << 400;
    }
    void exportShowsGapsAndMarks() {
        QFETCH(std::vector<int>, missed);
        QFETCH(std::vector<int>, cut);
        QFETCH(int, pauseAfter);
        std::vector<Sample> samples = steadyTrace(600, 1000, missed, -1, cut).samples();
        for (Sample& sample : samples) {
            const auto index = (sample.timeMs - kStartMs) / 1000;
            if (pauseAfter >= 0 && index > pauseAfter) {
                sample.timeMs += 36'000;
                sample.elapsedS = static_cast<double>(index - pauseAfter - 1);
            }
        }
        const auto timeOf = [pauseAfter](int index) {
            return kStartMs + index * 1000 + (pauseAfter >= 0 && index > pauseAfter ? 36'000 : 0);
        };
        QTemporaryDir folder;
        const QImage drawn = exportedLog(folder, samples);
        QVERIFY(!drawn.isNull());

        // RA0 reads 500 from the first sample to the last: its line is the row with most of
        // its colour.
        const QColor ra0 = TrendChart::colour(Series::RA0);
        const int lineY = rowOf(drawn, ra0);
        const std::vector<int> line = columnsOf(drawn, ra0, lineY - 2, lineY + 3, 1);
        QVERIFY(line.size() > 300);
        // The plot's time scale, as drawn: RB0's steps rise and fall at samples 60 and 540,
        // each a vertical line centred on its sample's time.
        const std::vector<int> steps =
            columnsOf(drawn, TrendChart::colour(Series::RB0), lineY + 10, drawn.height() - 32, 6);
        QVERIFY(steps.size() >= 2);
        const auto centre = [&](int near) {
            double sum = 0;
            int count = 0;
            for (const int x : steps) {
                if (std::abs(x - near) <= 3) {
                    sum += x;
                    ++count;
                }
            }
            return sum / count + 0.5;
        };
        const double left = centre(steps.front());
        const double right = centre(steps.back());
        const auto leftMs = static_cast<double>(timeOf(60));
        const auto rightMs = static_cast<double>(timeOf(540));
        const auto xOf = [&](std::int64_t timeMs) {
            return left +
                   (right - left) * (static_cast<double>(timeMs) - leftMs) / (rightMs - leftMs);
        };

        // Each missed sample's mark within 2 pixels of its place, and no mark elsewhere.
        const std::vector<int> marks = columnsOf(drawn, TrendChart::faultColour(Fault::NoReply),
                                                 lineY + 10, drawn.height() - 32, 3);
        for (const int index : missed) {
            const double at = xOf(timeOf(index));
            QVERIFY2(
                std::any_of(marks.begin(), marks.end(),
                            [at](int x) { return std::abs(x - at) <= 2; }),
                qPrintable(QStringLiteral("no mark at x = %1 for sample %2").arg(at).arg(index)));
        }
        for (const int x : marks) {
            // Left of the plot, the lanes are named.
            if (x < line.front()) {
                continue;
            }
            QVERIFY2(std::any_of(missed.begin(), missed.end(),
                                 [&](int index) { return std::abs(x - xOf(timeOf(index))) <= 3; }),
                     qPrintable(QStringLiteral("a mark at x = %1 with no missed sample").arg(x)));
        }

        // No line across the time without samples.
        std::vector<std::pair<std::int64_t, std::int64_t>> holes;
        if (!cut.empty()) {
            holes.emplace_back(timeOf(cut.front() - 1), timeOf(cut.back() + 1));
        }
        if (pauseAfter >= 0) {
            holes.emplace_back(timeOf(pauseAfter), timeOf(pauseAfter + 1));
        }
        for (const auto& [fromMs, toMs] : holes) {
            for (const int x : line) {
                QVERIFY2(x <= xOf(fromMs) + 2 || x >= xOf(toMs) - 2,
                         qPrintable(QStringLiteral("RA0 drawn at x = %1, between %2 and %3")
                                        .arg(x)
                                        .arg(xOf(fromMs))
                                        .arg(xOf(toMs))));
            }
        }
    }

    // An exported chart with --limits: each bound of the range a dashed line at its value on the
    // series' axis, the marginal band shaded between a bound and its marginal bound.
    void exportDrawsTheLimits_data() {
        QTest::addColumn<QString>("ra0");  // the limits file's [RA0] group
        QTest::addColumn<std::vector<double>>("lines");
        QTest::addColumn<double>("inBand");  // a value in the marginal band; NaN: no band
        const double none = std::nan("");
        QTest::newRow("a range") << QStringLiteral("range=250:750") << std::vector<double>{250, 750}
                                 << none;
        QTest::newRow("a range and its marginal bounds")
            << QStringLiteral("range=250:750\nmarginal=350:650") << std::vector<double>{250, 750}
            << 700.0;
        QTest::newRow("a high bound alone")
            << QStringLiteral("range=:750") << std::vector<double>{750} << none;
        // The readings fit an axis from 0 to 1000: it widens to show the bound.
        QTest::newRow("a bound beyond the readings")
            << QStringLiteral("range=:1015") << std::vector<double>{1015} << none;
    }
    void exportDrawsTheLimits() {
        QFETCH(QString, ra0);
        QFETCH(std::vector<double>, lines);
        QFETCH(double, inBand);
        // RA0 reads 500, once 100 and once 900: its extremes give the axis's scale as drawn.
        std::vector<Sample> samples = steadyTrace(600, 1000, {}, -1).samples();
        samples[200].analogue[0] = 100;
        samples[400].analogue[0] = 900;
        QTemporaryDir folder;
        const QString limitsPath = folder.filePath(QStringLiteral("limits.ini"));
        QFile limitsFile(limitsPath);
        QVERIFY(limitsFile.open(QIODevice::WriteOnly));
        limitsFile.write(QStringLiteral("[RA0]\n%1\n").arg(ra0).toUtf8());
        limitsFile.close();
        const QImage drawn = exportedLog(folder, samples, {QStringLiteral("--limits"), limitsPath});
        QVERIFY(!drawn.isNull());

        // RA0's spikes to 900 and to 100 are its highest and lowest pixels in the plot (the
        // legend's swatch stands left of it, the strip's lanes below).
        const QColor ra0Colour = TrendChart::colour(Series::RA0);
        int high = drawn.height();
        int low = -1;
        for (int y = 0; y < drawn.height() * 6 / 10; ++y) {
            for (int x = drawn.width() / 10; x < drawn.width(); ++x) {
                if (near(drawn.pixel(x, y), ra0Colour, 12)) {
                    high = std::min(high, y);
                    low = y;
                }
            }
        }
        QVERIFY(low > high + 100);
        const auto yOf = [&](double value) { return low - (value - 100) * (low - high) / 800; };
        const auto share = [&](int y, const QColor& colour) {
            int count = 0;
            for (int x = 0; x < drawn.width(); ++x) {
                count += near(drawn.pixel(x, y), colour, 12) ? 1 : 0;
            }
            return double(count) / drawn.width();
        };
        const QColor limit = TrendChart::limitColour(vardek::limits::Outcome::Fail);
        std::vector<int> limitRows;
        for (int y = 0; y < low - 6; ++y) {
            if (share(y, limit) > 0.3) {
                limitRows.push_back(y);
            }
        }
        for (const double value : lines) {
            QVERIFY2(std::any_of(limitRows.begin(), limitRows.end(),
                                 [&](int y) { return std::abs(y - yOf(value)) <= 2; }),
                     qPrintable(QStringLiteral("no limit line at y = %1").arg(yOf(value))));
        }
        for (const int y : limitRows) {
            QVERIFY2(std::any_of(lines.begin(), lines.end(),
                                 [&](double value) { return std::abs(y - yOf(value)) <= 2; }),
                     qPrintable(QStringLiteral("a limit line at y = %1").arg(y)));
        }
        // The band: the marginal colour over white.
        const QColor band(255, 235, 191);
        const int bandY = int(std::lround(yOf(std::isnan(inBand) ? 700 : inBand)));
        QCOMPARE(share(bandY, band) > 0.5, !std::isnan(inBand));
    }

    // A note written beside a log reads back as it was given, one line whatever it holds, and
    // an export of the log draws it at its time.
    void noteRoundTrip_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("readBack");
        QTest::newRow("plain") << QStringLiteral("door opened") << QStringLiteral("door opened");
        QTest::newRow("Japanese") << QStringLiteral("ファン停止") << QStringLiteral("ファン停止");
        QTest::newRow("a tab and a line break kept to one line")
            << QStringLiteral("fan\toff\nagain") << QStringLiteral("fan off again");
    }
    void noteRoundTrip() {
        QFETCH(QString, text);
        QFETCH(QString, readBack);
        QTemporaryDir folder;
        const QString notes = notesPath(folder.filePath(QStringLiteral("known.csv")));
        QCOMPARE(QFileInfo(notes).fileName(), QStringLiteral("known.csv.notes"));
        // Half-way through 600 samples, and a second one so that the file holds more than one.
        const Note note{kStartMs + 300'000, text};
        QCOMPARE(appendNote(notes, note), QString());
        QCOMPARE(appendNote(notes, {kStartMs + 10'000, QStringLiteral("start")}), QString());
        std::vector<Note> read;
        QCOMPARE(readNotes(notes, read), QString());
        QCOMPARE(read.size(), std::size_t(2));
        QCOMPARE(read[0].timeMs, note.timeMs);
        QCOMPARE(read[0].text, readBack);

        // RA0's line runs from the first sample to the last: the note stands at its middle.
        const QImage drawn = exportedLog(folder, steadyTrace(600, 1000, {}, -1).samples());
        QVERIFY(!drawn.isNull());
        const QColor ra0 = TrendChart::colour(Series::RA0);
        const int lineY = rowOf(drawn, ra0);
        const std::vector<int> line = columnsOf(drawn, ra0, lineY - 2, lineY + 3, 1);
        QVERIFY(line.size() > 300);
        const double middle = line.front() + (line.back() - line.front()) * 300.0 / 599;
        const std::vector<int> noted =
            columnsOf(drawn, TrendChart::noteColour(), lineY - 40, lineY + 40, 60);
        QVERIFY2(std::any_of(noted.begin(), noted.end(),
                             [middle](int x) { return std::abs(x - middle) <= 2; }),
                 qPrintable(QStringLiteral("no note at x = %1").arg(middle)));
    }

    // A FIFO where the notes belong is refused at once, read or written, never waited on.
    void notesInAFifoAreRefused() {
        QTemporaryDir folder;
        const QString notes = notesPath(folder.filePath(QStringLiteral("known.csv")));
        QVERIFY(::mkfifo(QFile::encodeName(notes).constData(), 0600) == 0);
        std::vector<Note> read;
        const QString reading = readNotes(notes, read);
        QVERIFY2(reading.contains(QStringLiteral("not a regular file")), qPrintable(reading));
        const QString writing = appendNote(notes, {kStartMs, QStringLiteral("fan off")});
        QVERIFY2(writing.contains(QStringLiteral("not a regular file")), qPrintable(writing));
    }

    // The bell's setting is kept between runs: a window opened after it was turned off starts
    // with it off, and on again once it was turned back on.
    void alarmSoundKept() {
        for (const bool sound : {false, true}) {
            {
                TrendWindow window;
                QAction* bell = nullptr;
                for (QAction* action : window.findChildren<QAction*>()) {
                    bell = action->text().contains(QStringLiteral("outside its &limits")) ? action
                                                                                          : bell;
                }
                QVERIFY(bell);
                bell->setChecked(!sound);
                bell->setChecked(sound);
            }
            TrendWindow again;
            QAction* bell = nullptr;
            for (QAction* action : again.findChildren<QAction*>()) {
                bell =
                    action->text().contains(QStringLiteral("outside its &limits")) ? action : bell;
            }
            QVERIFY(bell);
            QCOMPARE(bell->isChecked(), sound);
        }
    }

    // Live, a reading outside its range names its series in the title until one comes back
    // inside; a missed sample does not end the alarm.
    void alarmInTheTitle_data() {
        QTest::addColumn<std::vector<float>>("ra0");  // in turn; RA0's range is 2:600
        QTest::addColumn<bool>("alarmed");
        const float missed = kNoValue;
        QTest::newRow("inside") << std::vector<float>{500, 600} << false;
        QTest::newRow("left its range") << std::vector<float>{500, 601} << true;
        QTest::newRow("left, then missed") << std::vector<float>{500, 0, missed} << true;
        QTest::newRow("left and came back") << std::vector<float>{700, 2} << false;
    }
    void alarmInTheTitle() {
        QFETCH(std::vector<float>, ra0);
        QFETCH(bool, alarmed);
        vardek::limits::LimitsTable table = vardek::limits::defaultLimits();
        table["RA0"] = {2, 600, {}, {}};
        TrendWindow window;
        window.setLimits(seriesLimits(table));
        window.setSource(QStringLiteral("soak.csv"));
        window.show();
        std::vector<Sample> samples = steadyTrace(int(ra0.size()), 1000, {}, -1).samples();
        for (std::size_t index = 0; index < ra0.size(); ++index) {
            samples[index].analogue[0] = ra0[index];
            window.addSamples({samples[index]});
        }
        QCOMPARE(window.alarmed()[std::size_t(Series::RA0)], alarmed);
        QCOMPARE(window.windowTitle().startsWith(QStringLiteral("RA0 outside its limits")),
                 alarmed);
        QVERIFY(window.windowTitle().contains(QStringLiteral("soak.csv — vardek-trend")));
    }

    // A value axis fitted to the samples never shows what no reading can be: a raw reading is
    // 0 to 1023.
    void rawAxisKeepsToTheConversion_data() {
        QTest::addColumn<float>("low");
        QTest::addColumn<float>("high");
        QTest::newRow("near 0") << 0.0F << 3.0F;
        QTest::newRow("near 1023") << 1020.0F << 1023.0F;
        QTest::newRow("the whole range") << 0.0F << 1023.0F;
    }
    void rawAxisKeepsToTheConversion() {
        QFETCH(float, low);
        QFETCH(float, high);
        Trace trace = steadyTrace(100, 1000, {}, -1);
        std::vector<Sample> samples = trace.samples();
        for (std::size_t index = 0; index < samples.size(); ++index) {
            samples[index].analogue = {low, high, low, high, 20.0F};
        }
        trace.clear();
        trace.append(std::move(samples));
        TrendChart chart(trace);
        chart.setWindow(0);
        QImage image(QSize(800, 500), QImage::Format_ARGB32_Premultiplied);
        chart.renderTo(image, image.size());
        const Range shown = chart.shownRange(Axis::Left);
        QVERIFY2(shown.first >= 0 && shown.second <= 1023,
                 qPrintable(QStringLiteral("%1 to %2").arg(shown.first).arg(shown.second)));
        QVERIFY(shown.first <= low && shown.second >= high);
    }

    // The statistics of a stretch: a missed sample counts in the missed share and in no series.
    void statisticsOfAFixture_data() {
        QTest::addColumn<std::vector<float>>("ra0");  // NaN: a missed sample
        QTest::addColumn<int>("count");
        QTest::addColumn<double>("min");
        QTest::addColumn<double>("max");
        QTest::addColumn<double>("mean");
        QTest::addColumn<double>("deviation");
        QTest::addColumn<double>("missedShare");
        QTest::addColumn<int>("excursions");  // out of RA0's range 2:600
        const float missed = kNoValue;
        QTest::newRow("steady, one missed in ten")
            << std::vector<float>{500, 500, 500, missed, 500, 500, 500, 500, 500, 500} << 9 << 500.0
            << 500.0 << 500.0 << 0.0 << 0.1 << 0;
        QTest::newRow("a ramp 0 to 9") << std::vector<float>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9} << 10
                                       << 0.0 << 9.0 << 4.5 << std::sqrt(82.5 / 9) << 0.0 << 1;
        QTest::newRow("the ends of the conversion, half missed")
            << std::vector<float>{0, missed, 1023, missed} << 2 << 0.0 << 1023.0 << 511.5
            << std::sqrt(2 * 511.5 * 511.5) << 0.5 << 1;
        QTest::newRow("out of range twice, a missed sample within the second")
            << std::vector<float>{700, 500, 700, missed, 700, 500} << 5 << 500.0 << 700.0 << 620.0
            << std::sqrt(48000.0 / 4) << 1.0 / 6 << 2;
        QTest::newRow("one value")
            << std::vector<float>{7} << 1 << 7.0 << 7.0 << 7.0 << 0.0 << 0.0 << 0;
    }
    void statisticsOfAFixture() {
        QFETCH(std::vector<float>, ra0);
        QFETCH(int, count);
        QFETCH(double, min);
        QFETCH(double, max);
        QFETCH(double, mean);
        QFETCH(double, deviation);
        QFETCH(double, missedShare);
        QFETCH(int, excursions);
        std::vector<int> missed;
        for (std::size_t index = 0; index < ra0.size(); ++index) {
            if (std::isnan(ra0[index])) {
                missed.push_back(int(index));
            }
        }
        std::vector<Sample> samples = steadyTrace(int(ra0.size()), 1000, missed, -1).samples();
        for (std::size_t index = 0; index < samples.size(); ++index) {
            samples[index].analogue[0] = ra0[index];
        }
        Trace trace;
        trace.append(samples);
        vardek::limits::LimitsTable table = vardek::limits::defaultLimits();
        table["RA0"] = {2, 600, {}, {}};
        const SeriesLimits limits = seriesLimits(table);
        const Statistics figures = statistics(trace, 0, trace.size(), limits);
        const SeriesStatistics& of = figures.series[std::size_t(Series::RA0)];
        QCOMPARE(int(of.count), count);
        QCOMPARE(of.min, min);
        QCOMPARE(of.max, max);
        QVERIFY(std::abs(of.mean - mean) < 1e-9);
        QVERIFY2(std::abs(of.deviation - deviation) < 1e-9,
                 qPrintable(QString::number(of.deviation)));
        QCOMPARE(figures.missedShare(), missedShare);
        QCOMPARE(int(of.excursions), excursions);

        // In the window, between the markers: the same figures, as copied text.
        TrendWindow window;
        window.setLimits(limits);
        window.addSamples(samples);
        window.setWindow(0);
        window.chart().setMarker(0, samples.front().timeMs);
        window.chart().setMarker(1, samples.back().timeMs);
        const QStringList lines = window.statisticsText().split(QLatin1Char('\n'));
        const auto row = std::find_if(lines.begin(), lines.end(), [](const QString& line) {
            return line.startsWith(QStringLiteral("RA0\t"));
        });
        QVERIFY(row != lines.end());
        const QStringList cells = row->split(QLatin1Char('\t'));
        QCOMPARE(cells.size(), 13);
        QCOMPARE(cells[7], QString::number(count));
        QCOMPARE(cells[10], QString::number(mean, 'f', 1));
        QCOMPARE(cells[12], QString::number(excursions));
    }

    // A followed log: rows appended after the start come in, and a row half written waits for
    // the rest instead of coming in broken.
    void followedLogGrows() {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("growing.csv"));
        const readings::Pins pins = pinsOf({0, 4});
        const Trace written = steadyTrace(3, 1000, {}, -1);
        std::vector<QByteArray> rows;
        for (const Sample& sample : written.samples()) {
            rows.push_back(QByteArray::fromStdString(readings::csvRow(toReadings(sample), pins)));
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        file.write(QByteArray::fromStdString(readings::csvHeader(pins)) + rows[0]);

        std::vector<Sample> taken;
        QStringList problems;
        LogSource source(path);
        connect(&source, &LogSource::samplesRead, [&](const std::vector<Sample>& samples) {
            taken.insert(taken.end(), samples.begin(), samples.end());
        });
        connect(&source, &LogSource::problemFound,
                [&](const QString& problem) { problems << problem; });
        QCOMPARE(source.read(true), QString());
        QCOMPARE(taken.size(), std::size_t{1});

        file.write(rows[1] + rows[2].left(rows[2].size() / 2));
        QVERIFY(waitUntil([&] { return taken.size() == 2; }));
        file.write(rows[2].mid(rows[2].size() / 2));
        QVERIFY(waitUntil([&] { return taken.size() == 3; }));
        QCOMPARE(taken[2].timeMs, written[2].timeMs);
        QCOMPARE(taken[2].analogue[4], 25.0F);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    }

    // A followed log that its writer or logrotate moves, replaces, truncates or deletes: said in
    // the window, and the file at the name followed on, its rows taken once each. Each step is
    // done between two looks at the file; a row's second step waits for the first's message.
    void followedLogIsRotated_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("told");  // what each step makes the source say, if anything
        QTest::addColumn<int>("samples");
        QTest::newRow("moved away, then made anew")
            << QStringList{"move", "create"}
            << QStringList{"was moved away: waiting for a new file at its name",
                           "was replaced: following the new file"}
            << 4;
        QTest::newRow("deleted, then made anew")
            << QStringList{"delete", "create"}
            << QStringList{"was deleted: waiting for a new file at its name",
                           "was replaced: following the new file"}
            << 4;
        QTest::newRow("renamed over") << QStringList{"rename over"}
                                      << QStringList{"was replaced: following the new file"} << 4;
        QTest::newRow("truncated, then written again")
            << QStringList{"truncate", "rewrite"}
            << QStringList{"was truncated: read again from its start", ""} << 4;
        QTest::newRow("truncated and written longer between two looks")
            << QStringList{"rewrite"} << QStringList{"was rewritten: read again from its start"}
            << 4;
    }
    void followedLogIsRotated() {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, told);
        QFETCH(int, samples);
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("soak.csv"));
        const readings::Pins pins = pinsOf({4});
        const Trace written = steadyTrace(4, 1000, {}, -1);
        QByteArray header = QByteArray::fromStdString(readings::csvHeader(pins));
        std::vector<QByteArray> rows;
        for (const Sample& sample : written.samples()) {
            rows.push_back(QByteArray::fromStdString(readings::csvRow(toReadings(sample), pins)));
        }
        const auto write = [](const QString& name, const QByteArray& bytes) {
            QFile file(name);
            return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
        };
        QVERIFY(write(path, header + rows[0] + rows[1]));

        std::vector<Sample> taken;
        QStringList problems;
        LogSource source(path);
        connect(&source, &LogSource::samplesRead, [&](const std::vector<Sample>& more) {
            taken.insert(taken.end(), more.begin(), more.end());
        });
        connect(&source, &LogSource::problemFound,
                [&](const QString& problem) { problems << problem; });
        QCOMPARE(source.read(true), QString());
        QCOMPARE(taken.size(), std::size_t{2});

        // The file at the name after the step: a new run's log.
        const QByteArray next = header + rows[2] + rows[3];
        for (qsizetype i = 0; i < steps.size(); ++i) {
            const QString& step = steps[i];
            if (step == "move") {
                QVERIFY(QFile::rename(path, path + ".1"));
            } else if (step == "delete") {
                QVERIFY(QFile::remove(path));
            } else if (step == "create") {
                QVERIFY(write(path, next));
            } else if (step == "rename over") {
                QVERIFY(write(path + ".new", next));
                QVERIFY(::rename(QFile::encodeName(path + ".new").constData(),
                                 QFile::encodeName(path).constData()) == 0);
            } else if (step == "truncate") {
                QVERIFY(QFile::resize(path, 0));
            } else if (step == "rewrite") {
                QFile file(path);
                QVERIFY(file.open(QIODevice::ReadWrite | QIODevice::Truncate));
                // Rewritten at once, it is longer than what was read: its size alone tells
                // nothing.
                QVERIFY(file.write(i == 0 ? next + "\r\n" : next) > 0);
            }
            if (!told[i].isEmpty()) {
                QVERIFY2(waitUntil([&] { return problems.join('\n').contains(told[i]); }),
                         qPrintable(step + ": " + problems.join('\n')));
            }
        }
        QVERIFY2(waitUntil([&] { return int(taken.size()) == samples; }),
                 qPrintable(QString::number(taken.size()) + " samples; " + problems.join('\n')));
        QCOMPARE(taken.back().timeMs, written.samples().back().timeMs);
    }

    // A file that is no log is refused with the reason: a FIFO, a device or a directory with
    // status 2 before anything is read from it (a FIFO would hang, /dev/zero spin), a log with
    // nothing to chart with status 1.
    void exportRefusesWhatIsNoLog_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("problem");
        QTest::newRow("a FIFO") << "fifo" << QByteArray() << 2
                                << "is a named pipe (FIFO), not a regular file";
        QTest::newRow("a device") << "/dev/zero" << QByteArray() << 2
                                  << "is a device, not a regular file";
        QTest::newRow("a directory")
            << "directory" << QByteArray() << 2 << "is a directory, not a regular file";
        QTest::newRow("empty") << "file" << QByteArray() << 1
                               << ":1: not a readings log: it holds no header";
        QTest::newRow("line ends only") << "file" << QByteArray("\r\r\n\r") << 1
                                        << ":2: not a readings log: it holds no header";
        QTest::newRow("the header alone")
            << "file" << QByteArray("time_utc,elapsed_s,result,rtt_ms,port_b\r\n") << 1
            << ":1: holds no rows, only the header";
    }
    void exportRefusesWhatIsNoLog() {
        QFETCH(QString, kind);
        QFETCH(QByteArray, contents);
        QFETCH(int, status);
        QFETCH(QString, problem);
        QTemporaryDir folder;
        QString path = folder.filePath(QStringLiteral("soak.csv"));
        if (kind == "fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind == "directory") {
            QVERIFY(QDir().mkdir(path));
        } else if (kind == "file") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(contents);
        } else {
            path = kind;
        }
        QProcess trend;
        trend.start(QStringLiteral(VARDEK_TREND),
                    {path, QStringLiteral("--export"), folder.filePath(QStringLiteral("a.png"))});
        QVERIFY(trend.waitForFinished(vardek::test::kWaitMs));
        const QString error = QString::fromUtf8(trend.readAllStandardError());
        QVERIFY2(error.contains(path + (problem.startsWith(':') ? "" : ": ") + problem),
                 qPrintable(error));
        QCOMPARE(trend.exitCode(), status);
        QVERIFY(!QFileInfo::exists(folder.filePath(QStringLiteral("a.png"))));
    }

    // Samples that a full disk kept out of a --log become rows of their own time, missed as
    // not-written, once the file takes lines again, and the run is known to have failed.
    void loggedThroughAFullDisk() {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("live.csv"));
        const Trace taken = steadyTrace(4, 1000, {}, -1);
        LogSink log;
        QCOMPARE(log.open(path, {4}), QString());
        QString notice;
        QCOMPARE(log.append(toReadings(taken[0]), notice), QString());
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        rlimit full = saved;
        full.rlim_cur = rlim_t(QFileInfo(path).size());
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &full) == 0);
        const QString first = log.append(toReadings(taken[1]), notice);
        const QString second = log.append(toReadings(taken[2]), notice);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        QVERIFY2(first.contains(QStringLiteral("File too large")), qPrintable(first));
        QCOMPARE(second, first);
        QCOMPARE(log.append(toReadings(taken[3]), notice), QString());
        QVERIFY(log.failed());
        QVERIFY(notice.isEmpty());

        const readings::Pins pins = pinsOf({4});
        const auto row = [&](const Sample& sample, bool written) {
            readings::Sample kept = toReadings(sample);
            if (!written) {
                readings::Sample missed;
                missed.time = kept.time;
                missed.elapsed = kept.elapsed;
                missed.result = readings::Result::NotWritten;
                kept = missed;
            }
            return readings::csvRow(kept, pins);
        };
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().toStdString(), readings::csvHeader(pins) + row(taken[0], true) +
                                                   row(taken[1], false) + row(taken[2], false) +
                                                   row(taken[3], true));
    }

    // Each control of the window, by its key and by the mouse, has its effect on the chart.
    void everyControlByKeyAndMouse() {
        TrendWindow window;
        window.addSamples(steadyTrace(3600, 1000, {1800}, 2000).samples());
        window.setWindow(0);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        TrendChart& chart = window.chart();
        chart.setFocus();
        QVERIFY(waitUntil([&] { return !chart.reduced(Series::RA0).points.empty(); }));
        QWidget* plot = chart.viewport();
        const QPoint middle = plot->rect().center() - QPoint(0, plot->height() / 6);
        const auto span = [&] { return chart.view().lastMs - chart.view().firstMs; };
        const auto key = [&](int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
            return [&window, key, modifiers] {
                QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget()
                                                            : static_cast<QWidget*>(&window),
                                Qt::Key(key), modifiers);
            };
        };
        std::int64_t before = 0;
        const auto remember = [&](auto action) {
            return [&, action] {
                before = span();
                action();
            };
        };
        const auto wheel = [&](int steps) {
            return [&, steps] {
                before = span();
                QWheelEvent event(middle, plot->mapToGlobal(middle), QPoint(),
                                  QPoint(0, 120 * steps), Qt::NoButton, Qt::NoModifier,
                                  Qt::NoScrollPhase, false);
                QApplication::sendEvent(plot, &event);
            };
        };
        struct Control {
            const char* name;
            std::function<void()> act;
            std::function<bool()> holds;
        };
        const std::vector<Control> controls{
            {"Ctrl+1: a time window of 1 min", key(Qt::Key_1, Qt::ControlModifier),
             [&] { return chart.window() == 60'000 && span() == 59'999; }},
            {"Ctrl+5: all samples", key(Qt::Key_5, Qt::ControlModifier),
             [&] { return chart.window() == 0 && chart.following(); }},
            {"P: paused", key(Qt::Key_P), [&] { return !chart.following(); }},
            {"P again: running", key(Qt::Key_P), [&] { return chart.following(); }},
            {"Ctrl++: zoomed in", remember(key(Qt::Key_Plus, Qt::ControlModifier)),
             [&] { return span() < before && !chart.following(); }},
            {"Ctrl+-: zoomed out", remember(key(Qt::Key_Minus, Qt::ControlModifier)),
             [&] { return span() > before; }},
            {"Ctrl+Left: moved earlier", remember(key(Qt::Key_Left, Qt::ControlModifier)),
             [&] { return chart.view().lastMs < window.trace().samples().back().timeMs; }},
            {"Home: following the newest sample", key(Qt::Key_Home),
             [&] { return chart.following() && chart.view().lastMs == kStartMs + 3599'000; }},
            {"Left: the readout moves", key(Qt::Key_Left),
             [&] { return chart.readout().has_value(); }},
            {"A: marker A at the readout", key(Qt::Key_A),
             [&] { return chart.marker(0).has_value(); }},
            {"Shift+Left, B: marker B a tenth earlier",
             [&] {
                 key(Qt::Key_Left, Qt::ShiftModifier)();
                 key(Qt::Key_B)();
             },
             [&] { return chart.marker(1) && *chart.marker(1) < *chart.marker(0); }},
            {"Delete: no markers", key(Qt::Key_Delete),
             [&] { return !chart.marker(0) && !chart.marker(1); }},
            {"Alt+1: RA0 hidden", key(Qt::Key_1, Qt::AltModifier),
             [&] { return !chart.seriesVisible(Series::RA0); }},
            {"Alt+1 again: RA0 shown", key(Qt::Key_1, Qt::AltModifier),
             [&] { return chart.seriesVisible(Series::RA0); }},
            {"the wheel: zoomed in", wheel(1), [&] { return span() < before; }},
            {"a double click: following again",
             [&] { QTest::mouseDClick(plot, Qt::LeftButton, Qt::NoModifier, middle); },
             [&] { return chart.following(); }},
            {"a drag to the right: moved earlier",
             [&] {
                 QTest::mousePress(plot, Qt::LeftButton, Qt::NoModifier, middle);
                 QMouseEvent move(QEvent::MouseMove, middle + QPoint(120, 0),
                                  plot->mapToGlobal(middle + QPoint(120, 0)), Qt::NoButton,
                                  Qt::LeftButton, Qt::NoModifier);
                 QApplication::sendEvent(plot, &move);
                 QTest::mouseRelease(plot, Qt::LeftButton, Qt::NoModifier, middle + QPoint(120, 0));
             },
             [&] {
                 return !chart.following() &&
                        chart.view().lastMs < window.trace().samples().back().timeMs;
             }},
            {"a click: marker A, a Shift+click: marker B",
             [&] {
                 QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, middle);
                 QTest::mouseClick(plot, Qt::LeftButton, Qt::ShiftModifier, middle + QPoint(60, 0));
             },
             [&] {
                 return chart.marker(0) && chart.marker(1) && *chart.marker(1) > *chart.marker(0);
             }},
        };
        for (const Control& control : controls) {
            control.act();
            QVERIFY2(waitUntil(control.holds), control.name);
        }
        // The readout reads out both markers and their difference.
        auto* readout = window.findChild<QTableWidget*>(QStringLiteral("readout"));
        QVERIFY(readout);
        QVERIFY(readout->item(3, 0)->text().endsWith(QStringLiteral(" s")));
        QCOMPARE(readout->item(3, 1)->text(), QStringLiteral("0"));

        // Saved: the chart as PNG and SVG, and the samples shown, and no others, as a log that
        // reads back.
        QTemporaryDir folder;
        for (const char* name : {"chart.png", "chart.svg"}) {
            const QString path = folder.filePath(QString::fromLatin1(name));
            QCOMPARE(window.saveChart(path), QString());
            QVERIFY2(QFileInfo(path).size() > 1000, name);
        }
        QCOMPARE(QImage(folder.filePath(QStringLiteral("chart.png"))).size(), plot->size());
        const QString csv = folder.filePath(QStringLiteral("shown.csv"));
        QCOMPARE(window.saveShownSamples(csv), QString());
        std::vector<Sample> saved;
        LogSource source(csv);
        connect(&source, &LogSource::samplesRead,
                [&](const std::vector<Sample>& samples) { saved = samples; });
        QCOMPARE(source.read(false), QString());
        const View shown = chart.view();
        QVERIFY(!saved.empty() && saved.size() < window.trace().size());
        QVERIFY(saved.front().timeMs >= shown.firstMs && saved.back().timeMs <= shown.lastMs);
        QCOMPARE(saved.size(), window.trace().lowerBound(shown.lastMs + 1) -
                                   window.trace().lowerBound(shown.firstMs));
    }

    // What a screen reader is told: the status line whole, the chart as a chart with what it
    // shows, and no control without a name.
    void namedForAScreenReader() {
        TrendWindow window;
        window.setSource(QStringLiteral("soak.csv"));
        window.addSamples(steadyTrace(100, 1000, {95, 96}, -1).samples());
        window.show();
        QAccessible::setActive(true);
        QAccessibleInterface* chart = QAccessible::queryAccessibleInterface(&window.chart());
        QCOMPARE(chart->role(), QAccessible::Chart);
        QVERIFY(waitUntil([&] {
            return chart->text(QAccessible::Description).contains(QStringLiteral("RA0: 500"));
        }));
        QVERIFY(chart->text(QAccessible::Description).contains(QStringLiteral("no reply")));
        const QLabel* status = window.findChild<QLabel*>(QStringLiteral("status"));
        QVERIFY(status);
        QCOMPARE(QAccessible::queryAccessibleInterface(const_cast<QLabel*>(status))
                     ->text(QAccessible::Name),
                 QStringLiteral("soak.csv — samples: 100, missed: 2"));
        std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
            if (node->role() == QAccessible::CheckBox || node->role() == QAccessible::Button) {
                QVERIFY2(!node->text(QAccessible::Name).isEmpty(),
                         node->object() ? node->object()->metaObject()->className() : "?");
            }
            for (int child = 0; child < node->childCount(); ++child) {
                walk(node->child(child));
            }
        };
        walk(QAccessible::queryAccessibleInterface(&window));

        // The legend's entries are the chart's items: a series' a check box that says what it
        // shows and hides it, a fault's what it marks.
        QStringList names;
        QAccessibleInterface* ra0 = nullptr;
        QAccessibleInterface* noReply = nullptr;
        for (int child = 0; child < chart->childCount(); ++child) {
            QAccessibleInterface* item = chart->child(child);
            QCOMPARE(item->parent()->object(), &window.chart());
            QCOMPARE(chart->indexOfChild(item), child);
            names << item->text(QAccessible::Name);
            ra0 = item->text(QAccessible::Name) == QStringLiteral("RA0") ? item : ra0;
            noReply = item->text(QAccessible::Name) == QStringLiteral("no reply") ? item : noReply;
        }
        for (const char* name : {"RA0", "RA1", "RA2", "RA3", "RA5", "RB0", "RB1", "RB7"}) {
            QVERIFY2(names.contains(QLatin1String(name)), qPrintable(names.join(u',')));
        }
        QVERIFY(ra0 && noReply);
        QCOMPARE(ra0->role(), QAccessible::CheckBox);
        QVERIFY(ra0->state().checkable && ra0->state().checked);
        QCOMPARE(ra0->text(QAccessible::Description), QStringLiteral("500"));
        QCOMPARE(noReply->text(QAccessible::Description),
                 QStringLiteral("2 span(s) marked in the time shown"));
        ra0->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QVERIFY(!window.chart().seriesVisible(Series::RA0));
        QVERIFY(!ra0->state().checked);
        QCOMPARE(ra0->text(QAccessible::Description), QStringLiteral("hidden"));
    }

    // English, and Japanese on request: the menus and what a screen reader announces. A
    // language without a translation is refused.
    void languages_data() {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QStringList>("menus");
        QTest::addColumn<QString>("timeWindow");  // the accessible name of its choice
        QTest::newRow("en") << "en" << QStringList{"&File", "&View", "&Series", "&Axes", "&Markers"}
                            << "Time window";
        QTest::newRow("ja") << "ja"
                            << QStringList{"ファイル(&F)", "表示(&V)", "系列(&S)", "軸(&A)",
                                           "マーカー(&M)"}
                            << QStringLiteral("表示時間");
    }
    void languages() {
        QFETCH(QString, language);
        QFETCH(QStringList, menus);
        QFETCH(QString, timeWindow);
        const auto translation =
            vardek::host::translationInto("vardek-trend", "en", language.toStdString());
        QVERIFY(translation.problem.empty());
        if (translation.translator) {
            QCoreApplication::installTranslator(translation.translator.get());
        }
        TrendWindow window;
        QStringList shown;
        for (const QAction* menu : window.menuBar()->actions()) {
            shown << menu->text();
        }
        QCOMPARE(shown, menus);
        QVERIFY(window.findChild<QComboBox*>());
        QCOMPARE(window.findChild<QComboBox*>()->accessibleName(), timeWindow);
        if (translation.translator) {
            QCoreApplication::removeTranslator(translation.translator.get());
        }
        QCOMPARE(vardek::host::translationInto("vardek-trend", "en", "de").problem,
                 std::string("'de' has no translation (there are en, ja)"));
    }

    // The command line by the rules of every program's: numbers in decimal or 0x hex, an option
    // given twice refused rather than the last one taken, the same words for the same mistake.
    void commandLine_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("error");  // the start of the refusal; empty when taken
        QTest::addColumn<int>("intervalMs");
        QTest::newRow("hex") << QStringList{"--interval", "0x64", "--timeout", "0X1f4"} << ""
                             << 100;
        QTest::newRow("leading zero is decimal") << QStringList{"--interval", "0100"} << "" << 100;
        QTest::newRow("an option given twice")
            << QStringList{"--size", "300x300", "--size", "400x400", "--export", "a.png", "a.csv"}
            << "--size is given more than once" << 0;
        QTest::newRow("unknown option")
            << QStringList{"--bogus"} << "unknown option '--bogus'" << 0;
        QTest::newRow("out of range")
            << QStringList{"--interval", "9"}
            << "--interval expects a number from 10 to 86400000 (decimal or 0x hex), not '9'" << 0;
        QTest::newRow("missing value") << QStringList{"--log"} << "--log needs a value" << 0;
        QTest::newRow("flag with a value")
            << QStringList{"--follow=1", "a.csv"} << "--follow takes no value" << 0;
        QTest::newRow("two files")
            << QStringList{"a.csv", "b.csv"} << "unexpected argument 'b.csv'" << 0;
        QTest::newRow("size with a sign")
            << QStringList{"--size", "-300x300", "--export", "a.png", "a.csv"}
            << "--size expects WIDTHxHEIGHT in pixels" << 0;
        QTest::newRow("live option on a file")
            << QStringList{"--timeout", "0x10", "a.csv"}
            << "--timeout is for sampling a board live, not for a log file" << 0;
        QTest::newRow("help beside a mistake") << QStringList{"--bogus", "-h"} << "" << 1000;
    }
    void commandLine() {
        QFETCH(QStringList, args);
        QFETCH(QString, error);
        QFETCH(int, intervalMs);
        std::vector<std::string> text;
        for (const QString& arg : args) {
            text.push_back(arg.toStdString());
        }
        const std::vector<std::string_view> views(text.begin(), text.end());
        const ParsedOptions parsed = parseOptions(views);
        const QString refusal = QString::fromStdString(parsed.error);
        QCOMPARE(parsed.action == ParsedOptions::Action::Refuse, !error.isEmpty());
        QVERIFY2(refusal.startsWith(error), qPrintable(refusal));
        if (error.isEmpty()) {
            QCOMPARE(parsed.options.interval.count(), intervalMs);
        }
    }

    // Ended by a stop signal while it samples live into a log, vardek-trend leaves its event loop
    // between two samples: status 0, and the log holds whole rows only. Nothing answers on the
    // board's address: missed samples are rows too.
    void stopSignalsKeepTheLogWhole_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
        QTest::newRow("SIGQUIT") << SIGQUIT;
    }
    void stopSignalsKeepTheLogWhole() {
        QFETCH(int, signal);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString log = folder.filePath(QStringLiteral("live.csv"));
        QProcess trend;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), folder.path());
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        trend.setProcessEnvironment(environment);
        trend.start(
            QStringLiteral(VARDEK_TREND),
            {QStringLiteral("--board"), QStringLiteral("127.0.0.5"), QStringLiteral("--interval"),
             QStringLiteral("10"), QStringLiteral("--timeout"), QStringLiteral("1"),
             QStringLiteral("--log"), log});
        QVERIFY(trend.waitForStarted());
        const auto rows = [&log] {
            QFile file(log);
            return file.open(QIODevice::ReadOnly) ? file.readAll().count('\n') : 0;
        };
        QVERIFY(waitUntil([&] { return rows() >= 4; }));
        QCOMPARE(::kill(pid_t(trend.processId()), signal), 0);
        QVERIFY(trend.waitForFinished(vardek::test::kWaitMs));
        QCOMPARE(trend.exitStatus(), QProcess::NormalExit);
        QVERIFY2(trend.exitCode() == 0, trend.readAllStandardError().constData());
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray written = file.readAll();
        QVERIFY(written.endsWith("\r\n"));
        const QList<QByteArray> lines = written.chopped(2).split('\n');
        for (const QByteArray& line : lines) {
            QCOMPARE(line.count(','), lines.front().count(','));
        }
    }

    // Japanese under a Japanese locale, which test_trend_ja gives it; English under any other.
    void localesLanguage() {
        const bool japanese = QLocale::system().language() == QLocale::Japanese;
        if (qEnvironmentVariable("LC_ALL").startsWith("ja")) {
            QVERIFY(japanese);
        }
        QCOMPARE(vardek::host::translationForLocale("vardek-trend", "en") != nullptr, japanese);
    }

    // Live against the real simulator, on a socket of its own: the samples arrive and are
    // drawn, and a stranger's 8-byte datagrams in the middle of them are never taken as replies.
    // A reply that comes after its timeout is counted late, as watch logs it, not as none.
    void liveSamplesArrive_data() {
        QTest::addColumn<int>("delayMs");  // the simulator's --delay-ms
        QTest::addColumn<int>("intervalMs");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<bool>("reads");  // every pin read after the status request
        QTest::addColumn<int>("result");
        QTest::newRow("answered") << 0 << 100 << 2000 << true << int(Sample::Result::Ok);
        QTest::newRow("answered late") << 300 << 400 << 200 << false << int(Sample::Result::Late);
    }
    void liveSamplesArrive() {
        QFETCH(int, delayMs);
        QFETCH(int, intervalMs);
        QFETCH(int, timeoutMs);
        QFETCH(bool, reads);
        QFETCH(int, result);
        SimulatorRun simulator;
        QVERIFY(
            vardek::test::startSimulator(simulator, QStringLiteral(VARDEK_BOARD_SIM),
                                         {QStringLiteral("--drift-ms"), QStringLiteral("0"),
                                          QStringLiteral("--delay-ms"), QString::number(delayMs)}));
        TrendWindow window;
        // Field by field, as vardek-trend's main fills it: GCC 12 at -O3 warns on the
        // designated initializer.
        SamplerConfig config;
        config.address = "127.0.0.1";
        config.port = simulator.port;
        config.interval = std::chrono::milliseconds(intervalMs);
        config.timeout = std::chrono::milliseconds(timeoutMs);
        config.pins = reads ? readings::Pins().set() : readings::Pins();
        LiveSampler sampler(std::move(config));
        connect(&sampler, &LiveSampler::sampleTaken, [&window](const readings::Sample& sample) {
            window.addSamples({fromReadings(sample)});
        });
        window.setWindow(60'000);
        window.show();
        sampler.start();

        LoopbackBoard stranger("127.0.0.2");
        const auto flood = [&] {
            stranger.sendTo(sampler.localPort(), vardek::test::Bytes(8, 0xFF));
            return window.trace().size() >= 3;
        };
        QVERIFY(waitUntil(flood));
        const bool answered = result == int(Sample::Result::Ok);
        for (const Sample& sample : window.trace().samples()) {
            QCOMPARE(int(sample.result), result);
            QVERIFY(sample.portB != 0xFF && (sample.portB >= 0) == answered);
            for (const float value : sample.analogue) {
                QVERIFY2(answered ? value >= 0 && value < 1024 : std::isnan(value),
                         "a stranger's or a late reply's value was taken");
            }
        }
        if (answered) {
            QVERIFY(waitUntil([&] { return !window.chart().reduced(Series::RA5).points.empty(); }));
            QVERIFY(window.chart().following());
        }
    }

  private:
    QTemporaryDir config_;
};

QTEST_MAIN(TestTrend)
#include "test_trend.moc"
