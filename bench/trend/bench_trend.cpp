// Measures vardek-trend side by side in one run (scripts/bench-trend): a redraw after a zoom with
// a day of samples at 1 s in memory against a minute of them, the program's resident memory with
// a day's log loaded against the same program with a log of one sample, and its CPU while it
// samples a board live at 1 s against `vardek-probe watch` taking the same samples; and a week's
// log against a day's: its export by the program (time and peak memory) and the window's first
// paint. Everything on the offscreen platform and loopback: the board is the simulator on
// 127.0.0.2:10001. Usage:
// bench_trend --program VARDEK_TREND --probe VARDEK_PROBE --simulator VARDEK_BOARD_SIM
//                    --markdown FILE [--short] [--logs]
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "bench/figures.h"
#include "link/udp_socket.h"
#include "readings/log_format.h"
#include "tools/trend/log_samples.h"
#include "tools/trend/trend_chart.h"
#include "tools/trend/trend_window.h"

namespace {

using vardek::bench::row;
using vardek::bench::Spread;
using vardek::bench::spread;

using namespace vardek::trend;
namespace readings = vardek::readings;
namespace link = vardek::link;

constexpr std::int64_t kStartMs = 1'765'000'000'000;
constexpr int kDay = 86'400;
const QSize kChartSize(1200, 700);
// The simulator's address: a loopback one of its own, beside any board on 127.0.0.1:10001.
constexpr const char* kBoard = "127.0.0.2";

// A soak test's samples at 1 s: slow drifts, noise, the inputs toggling, and one sample in 500
// missed.
std::vector<Sample> soak(int count) {
    std::vector<Sample> samples(static_cast<std::size_t>(count));
    for (int index = 0; index < count; ++index) {
        Sample& sample = samples[static_cast<std::size_t>(index)];
        sample.timeMs = kStartMs + index * 1000LL;
        sample.elapsedS = index;
        if (index % 500 == 499) {
            continue;
        }
        sample.result = Sample::Result::Ok;
        sample.rttMs = 0.4F;
        sample.portB = static_cast<std::int16_t>((index / 700 % 2) | (index / 1900 % 2) << 1);
        for (std::size_t pin = 0; pin < 4; ++pin) {
            sample.analogue[pin] = std::round(300 + 200 * std::sin(index / 3000.0 + double(pin)) +
                                              (index % 13 * 7919 % 13));
        }
        sample.analogue[4] = std::round(220 + 30 * std::sin(index / 10000.0)) / 10.0F;
    }
    return samples;
}

void writeLog(const QString& path, const std::vector<Sample>& samples) {
    const readings::Pins pins = pinsOf({0, 1, 2, 3, 4});
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        throw std::runtime_error("cannot write " + path.toStdString());
    }
    file.write(QByteArray::fromStdString(readings::csvHeader(pins)));
    for (const Sample& sample : samples) {
        file.write(QByteArray::fromStdString(readings::csvRow(toReadings(sample), pins)));
    }
}

// Runs the event loop for `ms`, so that the children's output is taken in meanwhile.
void pause(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// This thread's time on a CPU: unlike the wall clock's, it does not count the moments that the
// other programs of a busy machine take from it.
double threadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The CPU time of a zoom by one wheel step and the redraw that follows it, from the whole trace.
std::vector<double> redraws(const Trace& trace, int count) {
    TrendChart chart(trace);
    chart.setWindow(0);
    QImage image(kChartSize, QImage::Format_ARGB32_Premultiplied);
    chart.renderTo(image, kChartSize);
    std::vector<double> times;
    for (int round = 0; round < count; ++round) {
        chart.resetView();
        chart.renderTo(image, kChartSize);
        const View shown = chart.view();
        const double from = threadCpuMs();
        chart.zoom(0.8, shown.firstMs + (shown.lastMs - shown.firstMs) / 2);
        image.fill(Qt::white);
        chart.renderTo(image, kChartSize);
        times.push_back(threadCpuMs() - from);
    }
    return times;
}

// The wall time and the peak resident memory of one run of a program to its end, its output
// dropped. The memory is GNU time's figure: the child's own, where a child started from this
// process itself would count this process's memory too, which it holds until its exec.
struct Run {
    double seconds = 0;
    double peakMiB = 0;
};

Run runToEnd(const QString& program, const QStringList& arguments, const QString& scratch) {
    QProcess process;
    process.setProgram(QStringLiteral("/usr/bin/time"));
    process.setArguments(
        QStringList{QStringLiteral("--format=%M"), QStringLiteral("--output"), scratch, program} +
        arguments);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start();
    if (!process.waitForFinished(600'000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        throw std::runtime_error(
            (program + QLatin1Char(' ') + arguments.join(QLatin1Char(' '))).toStdString() +
            " failed (is GNU time at /usr/bin/time?)");
    }
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    QFile peak(scratch);
    bool read = peak.open(QIODevice::ReadOnly);
    const double kib = read ? peak.readAll().trimmed().toDouble(&read) : 0;
    if (!read) {
        throw std::runtime_error("no peak memory from GNU time");
    }
    return {seconds, kib / 1024.0};
}

// From the log's reading to the end of the window's first paint, in this process: what a user
// waits for once the program has started.
double firstPaintSeconds(const QString& log) {
    QElapsedTimer clock;
    clock.start();
    TrendWindow window;
    LogSource source(log);
    QObject::connect(&source, &LogSource::samplesRead, &window,
                     [&window](const std::vector<Sample>& samples) { window.addSamples(samples); });
    window.setWindow(0);
    if (const QString problem = source.read(false); !problem.isEmpty()) {
        throw std::runtime_error(problem.toStdString());
    }
    window.setPins(source.pins());
    window.resize(kChartSize);
    window.show();
    // The paint ends before the next turn of the event loop takes the timer.
    struct Painted final : QObject {
        bool seen = false;
        bool eventFilter(QObject* watched, QEvent* event) override {
            seen = seen || event->type() == QEvent::Paint;
            return QObject::eventFilter(watched, event);
        }
    } painted;
    window.chart().viewport()->installEventFilter(&painted);
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (painted.seen) {
            loop.quit();
        }
    });
    check.start(0);
    loop.exec();
    return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

class Child {
  public:
    Child(const QString& program, const QStringList& arguments) {
        process_.setProgram(program);
        process_.setArguments(arguments);
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setStandardErrorFile(QProcess::nullDevice());
        process_.start();
        if (!process_.waitForStarted()) {
            throw std::runtime_error("cannot start " + program.toStdString());
        }
    }
    ~Child() {
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished();
        }
    }

    double residentMiB() const {
        std::ifstream status("/proc/" + std::to_string(process_.processId()) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("VmRSS:", 0) == 0) {
                return std::stod(line.substr(6)) / 1024.0;
            }
        }
        throw std::runtime_error("no VmRSS: the program ended");
    }

    // All its threads' time on a CPU.
    double cpuSeconds() const {
        long long total = 0;
        const std::filesystem::path tasks =
            "/proc/" + std::to_string(process_.processId()) + "/task";
        std::error_code error;
        for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
            std::ifstream schedstat(task.path() / "schedstat");
            long long onCpu = 0;
            if (schedstat >> onCpu) {
                total += onCpu;
            }
        }
        return static_cast<double>(total) / 1e9;
    }

    // Once the memory has stood still for a second: the program has read its log and drawn.
    double settledResidentMiB() const {
        double last = residentMiB();
        int still = 0;
        for (int tries = 0; tries < 300 && still < 5; ++tries) {
            pause(200);
            const double now = residentMiB();
            still = std::abs(now - last) < 0.0625 ? still + 1 : 0;
            last = now;
        }
        return last;
    }

  private:
    QProcess process_;
};

bool boardAnswers() {
    link::UdpSocket socket;
    socket.bind({link::kLoopbackAddress, 0});
    const std::uint8_t status = 0;
    if (socket.sendTo({&status, 1}, {*link::parseIpv4(kBoard), link::kBoardPort})) {
        return false;
    }
    std::vector<std::uint8_t> reply(link::kReceiveCapacity);
    return socket.waitReadable(std::chrono::milliseconds(200)) && socket.receive(reply);
}

}  // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption program(QStringLiteral("program"), QStringLiteral("vardek-trend"),
                                     QStringLiteral("PATH"));
    const QCommandLineOption probe(QStringLiteral("probe"), QStringLiteral("vardek-probe"),
                                   QStringLiteral("PATH"));
    const QCommandLineOption simulator(QStringLiteral("simulator"),
                                       QStringLiteral("vardek-board-sim"), QStringLiteral("PATH"));
    const QCommandLineOption markdown(
        QStringLiteral("markdown"), QStringLiteral("Where the figures go"), QStringLiteral("FILE"));
    const QCommandLineOption brief(QStringLiteral("short"),
                                   QStringLiteral("One of each, briefly: checks that it works"));
    const QCommandLineOption logsOnly(
        QStringLiteral("logs"), QStringLiteral("Only the week's log against the day's, quickly"));
    parser.addOptions({program, probe, simulator, markdown, brief, logsOnly});
    parser.process(application);
    if (!parser.isSet(program) || !parser.isSet(probe) || !parser.isSet(simulator) ||
        !parser.isSet(markdown)) {
        std::fprintf(stderr,
                     "bench_trend: --program, --probe, --simulator and --markdown are needed\n");
        return 2;
    }
    const bool quick = parser.isSet(brief);
    const int rounds = quick ? 3 : 31;
    const int runs = quick ? 1 : 3;
    const int cpuSeconds = quick ? 3 : 30;
    const bool onlyLogs = parser.isSet(logsOnly);
    // Briefly, an hour stands for a day in the logs: a week's log takes minutes to write and
    // read under the sanitizers, where the brief run only checks that everything is measured.
    const int logDay = quick ? 3600 : kDay;

    try {
        QFile out(parser.value(markdown));
        if (!out.open(QIODevice::WriteOnly | QIODevice::Text)) {
            throw std::runtime_error("cannot write the figures");
        }
        QTextStream text(&out);
        const QString trend = parser.value(program);
        QTemporaryDir folder;
        const QString dayLog = folder.filePath(QStringLiteral("day.csv"));
        const QString weekLog = folder.filePath(QStringLiteral("week.csv"));
        const QString picture = folder.filePath(QStringLiteral("chart.png"));
        {
            const std::vector<Sample> week = soak(7 * logDay);
            writeLog(weekLog, week);
            writeLog(dayLog, std::vector<Sample>(week.begin(), week.begin() + logDay));
        }
        std::vector<double> weekExport;
        std::vector<double> dayExport;
        std::vector<double> weekExportMemory;
        std::vector<double> dayExportMemory;
        std::vector<double> weekPaint;
        std::vector<double> dayPaint;
        const QString size =
            QStringLiteral("%1x%2").arg(kChartSize.width()).arg(kChartSize.height());
        for (int run = 0; run < runs; ++run) {
            for (const auto& [log, times, memory] :
                 {std::tuple(weekLog, &weekExport, &weekExportMemory),
                  std::tuple(dayLog, &dayExport, &dayExportMemory)}) {
                const Run exported = runToEnd(
                    trend,
                    {log, QStringLiteral("--export"), picture, QStringLiteral("--size"), size},
                    folder.filePath(QStringLiteral("peak")));
                times->push_back(exported.seconds);
                memory->push_back(exported.peakMiB);
            }
            weekPaint.push_back(firstPaintSeconds(weekLog));
            dayPaint.push_back(firstPaintSeconds(dayLog));
        }
        text << QStringLiteral(
                    "A week's log at 1 s (%1 rows, one in 500 missed) against the first day "
                    "of it; %2 runs, interleaved.\n\n")
                    .arg(QLocale(QLocale::English).toString(7 * logDay))
                    .arg(runs);
        text << "| Figure | Unit | 7 days | 24 h | ratio |\n|---|---|---|---|---|\n";
        text << row(QStringLiteral("`--export` to a %1 PNG: time to the end").arg(size),
                    QStringLiteral("s"), spread(weekExport), spread(dayExport));
        text << row(QStringLiteral("the same, peak resident memory"), QStringLiteral("MiB"),
                    spread(weekExportMemory), spread(dayExportMemory));
        text << row(QStringLiteral("the window's first paint, from the log's reading on"),
                    QStringLiteral("s"), spread(weekPaint), spread(dayPaint));
        if (onlyLogs) {
            return 0;
        }
        text << "\n";

        const std::vector<Sample> day = soak(kDay);
        Trace dayTrace;
        dayTrace.append(day);
        Trace minuteTrace;
        minuteTrace.append(std::vector<Sample>(day.end() - 60, day.end()));
        std::vector<double> dayRedraws;
        std::vector<double> minuteRedraws;
        // In turns, so that a busy moment of the machine falls on both alike.
        for (int run = 0; run < runs; ++run) {
            const auto dayTimes = redraws(dayTrace, rounds);
            const auto minuteTimes = redraws(minuteTrace, rounds);
            dayRedraws.insert(dayRedraws.end(), dayTimes.begin(), dayTimes.end());
            minuteRedraws.insert(minuteRedraws.end(), minuteTimes.begin(), minuteTimes.end());
        }

        const QString emptyLog = folder.filePath(QStringLiteral("empty.csv"));
        // A log without rows is refused: one sample stands for an empty log.
        writeLog(emptyLog, {day.front()});
        std::vector<double> dayMemory;
        std::vector<double> emptyMemory;
        for (int run = 0; run < runs; ++run) {
            dayMemory.push_back(Child(trend, {dayLog}).settledResidentMiB());
            emptyMemory.push_back(Child(trend, {emptyLog}).settledResidentMiB());
        }

        const Child board(parser.value(simulator),
                          {QStringLiteral("--bind"), QString::fromLatin1(kBoard)});
        for (int tries = 0; !boardAnswers(); ++tries) {
            if (tries == 50) {
                throw std::runtime_error("the simulator does not answer on 127.0.0.2:10001");
            }
            pause(100);
        }
        std::vector<double> liveCpu;
        std::vector<double> watchCpu;
        const auto cpuShare = [&](const QString& measuredProgram, const QStringList& arguments) {
            const Child measured(measuredProgram, arguments);
            measured.settledResidentMiB();
            const double from = measured.cpuSeconds();
            pause(cpuSeconds * 1000);
            return (measured.cpuSeconds() - from) / cpuSeconds * 100;
        };
        for (int run = 0; run < runs; ++run) {
            const QString board = QString::fromLatin1(kBoard);
            liveCpu.push_back(
                cpuShare(trend, {QStringLiteral("--board"), board, QStringLiteral("--interval"),
                                 QStringLiteral("1000")}));
            watchCpu.push_back(
                cpuShare(parser.value(probe),
                         {QStringLiteral("--board"), board, QStringLiteral("watch"),
                          QStringLiteral("--read"), QStringLiteral("all"), QStringLiteral("--csv"),
                          QStringLiteral("--interval"), QStringLiteral("1000")}));
        }

        text << QStringLiteral(
                    "Runs: %1, interleaved; %2 redraws of a %3x%4 chart per run and trace. CPU "
                    "over %5 s per run.\n\n")
                    .arg(runs)
                    .arg(rounds)
                    .arg(kChartSize.width())
                    .arg(kChartSize.height())
                    .arg(cpuSeconds);
        text << "| Figure | Unit | vardek-trend | baseline | ratio |\n|---|---|---|---|---|\n";
        text << row(QStringLiteral("redraw after a zoom: 24 h at 1 s in memory, against 1 min"),
                    QStringLiteral("ms"), spread(dayRedraws), spread(minuteRedraws));
        text << row(QStringLiteral("resident memory: 24 h log loaded, against a log of one sample"),
                    QStringLiteral("MiB"), spread(dayMemory), spread(emptyMemory));
        std::vector<double> growth;
        for (std::size_t run = 0; run < dayMemory.size(); ++run) {
            growth.push_back(dayMemory[run] - emptyMemory[run]);
        }
        const Spread grown = spread(growth);
        text << QStringLiteral("| the same, difference | MiB | %1 (%2–%3) | | |\n")
                    .arg(grown.median, 0, 'f', 1)
                    .arg(grown.min, 0, 'f', 1)
                    .arg(grown.max, 0, 'f', 1);
        text << row(QStringLiteral("CPU sampling every pin live at 1 s, against `vardek-probe "
                                   "watch --read all` doing the same"),
                    QStringLiteral("% of a core"), spread(liveCpu), spread(watchCpu));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_trend: %s\n", error.what());
        return 1;
    }
    return 0;
}
