// Measures vardek-station side by side in one run (scripts/bench-station): a 20-slot rack from
// the Start key to the last tile's verdict, in the window, against `vardek-probe check` of the
// same rack from its start to its end; the window's resident memory over a 500-unit shift (25
// rounds of the rack), after its first round and after each fifth; and, on an X display, the
// time from starting the program to its window being mapped, against the control window's.
// The boards are simulators on 127.0.0.2 to 127.0.0.21, on a port of the system's choosing.
// Usage: bench_station --program VARDEK_STATION --control VARDEK_CONTROL --probe VARDEK_PROBE
//                      --simulator VARDEK_BOARD_SIM --markdown FILE [--short]
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/figures.h"
#include "check/check_files.h"
#include "tools/station/rack_engine.h"
#include "tools/station/station_window.h"

// After every other header: Xlib's macros (None, Status, Success) clash with their names.
#include <X11/Xlib.h>

namespace {

using vardek::bench::row;
using vardek::bench::Spread;
using vardek::bench::spread;

using namespace vardek::station;

constexpr int kSlots = 20;
constexpr int kWaitMs = 60'000;

double residentMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stod(line.substr(6)) / 1024;
        }
    }
    throw std::runtime_error("no VmRSS in /proc/self/status");
}

// The rack's simulators, each on its own loopback address and all on the first one's port.
class Rack {
  public:
    Rack(const QString& simulator, const QString& folder) : boards_(folder + "/rack.txt") {
        QFile boards(boards_);
        if (!boards.open(QIODevice::WriteOnly)) {
            throw std::runtime_error("cannot write the rack file");
        }
        for (int slot = 0; slot < kSlots; ++slot) {
            const QString address = QStringLiteral("127.0.0.%1").arg(slot + 2);
            boards.write(address.toUtf8() + '\n');
            auto& process = simulators_.emplace_back(std::make_unique<QProcess>());
            process->start(simulator, {"--bind", address, "--drift-ms", "0", "--port",
                                       QString::number(port_)});
            QString log;
            const QRegularExpression listening(R"(listening on 127\.\d+\.\d+\.\d+:(\d+) )");
            QElapsedTimer waited;
            waited.start();
            while (!listening.match(log).hasMatch() && waited.elapsed() < kWaitMs &&
                   process->waitForReadyRead(kWaitMs)) {
                log += QString::fromUtf8(process->readAllStandardOutput());
            }
            const auto match = listening.match(log);
            if (!match.hasMatch()) {
                throw std::runtime_error("a simulator did not start: " + log.toStdString());
            }
            port_ = match.captured(1).toUShort();
            // Its log of every request is no figure of the station's: held unread, it would
            // grow this process by megabytes over a shift.
            process->closeReadChannel(QProcess::StandardOutput);
        }
    }
    ~Rack() {
        for (auto& process : simulators_) {
            process->terminate();
            process->waitForFinished(5000);
        }
    }
    const QString& boards() const { return boards_; }
    quint16 port() const { return port_; }

  private:
    QString boards_;
    quint16 port_ = 0;
    std::vector<std::unique_ptr<QProcess>> simulators_;
};

// check of the rack, recording into a store of its own as the station records into its own.
double checkSeconds(const QString& probe, const Rack& rack, const QString& store) {
    QProcess check;
    QElapsedTimer clock;
    clock.start();
    check.start(probe,
                {"--port", QString::number(rack.port()), "check", "--outputs", "--boards",
                 rack.boards(), "--station", "BENCH", "--operator", "bench", "--results", store});
    if (!check.waitForFinished(kWaitMs) || check.exitCode() != 0) {
        throw std::runtime_error("check of the rack failed: " +
                                 check.readAllStandardError().toStdString());
    }
    return clock.nsecsElapsed() / 1e9;
}

// One operator round in the window: a serial scanned into each slot, then Start; the seconds
// from the Start key to the last verdict drawn.
double stationRound(StationWindow& window, Engine& engine, int round) {
    QList<QLineEdit*> serials = window.findChildren<QLineEdit*>();
    serials.removeIf([](const QLineEdit* field) { return !field->isVisible(); });
    if (serials.size() != kSlots) {
        throw std::runtime_error("the window shows no serial field per slot");
    }
    for (int slot = 0; slot < kSlots; ++slot) {
        serials[slot]->setFocus();
        QTest::keyClicks(serials[slot], QStringLiteral("R%1-S%2").arg(round).arg(slot));
        QTest::keyClick(serials[slot], Qt::Key_Return);
    }
    QSignalSpy finished(&engine, &Engine::finished);
    QElapsedTimer clock;
    clock.start();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    if (!finished.wait(kWaitMs)) {
        throw std::runtime_error("the round did not finish");
    }
    QCoreApplication::processEvents();
    return clock.nsecsElapsed() / 1e9;
}

// From starting `program` to its first top-level window mapped on the X display.
double mappedSeconds(Display* display, const QString& program, const QStringList& arguments) {
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, True);
    QProcess started;
    QElapsedTimer clock;
    clock.start();
    started.start(program, arguments);
    double seconds = -1;
    while (seconds < 0 && clock.elapsed() < kWaitMs) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && !event.xmap.override_redirect) {
                seconds = clock.nsecsElapsed() / 1e9;
            }
        }
        QTest::qWait(1);
    }
    started.terminate();
    started.waitForFinished(kWaitMs);
    if (seconds < 0) {
        throw std::runtime_error(program.toStdString() + " mapped no window");
    }
    return seconds;
}

}  // namespace

int main(int argc, char* argv[]) {
    const QByteArray display = qgetenv("DISPLAY");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption program("program", "vardek-station", "PATH");
    const QCommandLineOption control("control", "VARDEK_Control", "PATH");
    const QCommandLineOption probe("probe", "vardek-probe", "PATH");
    const QCommandLineOption simulator("simulator", "vardek-board-sim", "PATH");
    const QCommandLineOption markdown("markdown", "Where the figures go", "FILE");
    const QCommandLineOption brief("short", "Briefly: checks that it works");
    parser.addOptions({program, control, probe, simulator, markdown, brief});
    parser.process(application);
    for (const auto& option : {program, control, probe, simulator, markdown}) {
        if (!parser.isSet(option)) {
            std::fprintf(stderr,
                         "bench_station: --program, --control, --probe, --simulator and "
                         "--markdown are needed\n");
            return 2;
        }
    }
    const bool quick = parser.isSet(brief);
    const int runs = quick ? 1 : 5;
    const int shift = quick ? 2 : 25;  // rounds of the rack: 500 units
    try {
        QFile out(parser.value(markdown));
        if (!out.open(QIODevice::WriteOnly | QIODevice::Text)) {
            throw std::runtime_error("cannot write the figures");
        }
        QTextStream text(&out);
        QTemporaryDir folder;
        qputenv("XDG_CONFIG_HOME", folder.filePath("config").toLocal8Bit());
        const Rack rack(parser.value(simulator), folder.path());

        StationConfig config;
        if (const std::string problem =
                vardek::check::readBoardsFile(rack.boards().toStdString(), config.boards);
            !problem.empty()) {
            throw std::runtime_error(problem);
        }
        config.port = rack.port();
        config.check.outputs = true;
        config.station = "BENCH";
        config.results =
            vardek::host::parseResultsLocation(folder.filePath("shift.db").toStdString(), "");
        config.version = "vardek-station bench";
        QString problem;
        const std::unique_ptr<RackEngine> engine = RackEngine::open(config, problem);
        if (!engine) {
            throw std::runtime_error(problem.toStdString());
        }
        StationWindow window(*engine);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window)) {
            throw std::runtime_error("the window was not shown");
        }
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("bench"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);

        // In turns, so that a busy moment of the machine falls on both alike.
        std::vector<double> station;
        std::vector<double> check;
        std::vector<double> memory;
        for (int round = 0; round < std::max(runs, shift); ++round) {
            station.push_back(stationRound(window, *engine, round));
            if (round < runs) {
                check.push_back(
                    checkSeconds(parser.value(probe), rack, folder.filePath("check.db")));
            }
            if (round == 0 || (round + 1) % 5 == 0) {
                memory.push_back(residentMiB());
            }
        }
        text << QStringLiteral(
                    "A rack of %1 simulated boards, `check --outputs`, each run recording into "
                    "an SQLite results store; %2 rounds each, interleaved; the shift %3 rounds "
                    "(%4 units).\n\n")
                    .arg(kSlots)
                    .arg(runs)
                    .arg(shift)
                    .arg(shift * kSlots);
        text << "| Figure | Unit | vardek-station | baseline | ratio |\n|---|---|---|---|---|\n";
        text << row("Start to the last verdict, against `vardek-probe check` of the rack", "s",
                    spread({station.begin(), station.begin() + runs}), spread(check));
        text << row(QStringLiteral("resident memory after %1 units, against after %2")
                        .arg(shift * kSlots)
                        .arg(kSlots),
                    "MiB", spread({memory.back()}), spread({memory.front()}));
        QStringList resident;
        for (const double value : memory) {
            resident << QString::number(value, 'f', 1);
        }
        text << "\nResident memory after round 1 and each fifth round (MiB): "
             << resident.join(", ") << ".\n";
        if (display.isEmpty()) {
            text << "\nStart-up not measured: no X display.\n";
            return 0;
        }
        Display* x = XOpenDisplay(display.constData());
        if (x == nullptr) {
            throw std::runtime_error("cannot open the X display " + display.toStdString());
        }
        std::vector<double> stationStart;
        std::vector<double> controlStart;
        // The programs started from here show their windows on the display.
        qputenv("QT_QPA_PLATFORM", "xcb");
        for (int run = 0; run < runs; ++run) {
            stationStart.push_back(
                mappedSeconds(x, parser.value(program), {"--boards", rack.boards()}));
            controlStart.push_back(mappedSeconds(x, parser.value(control), {}));
        }
        XCloseDisplay(x);
        text << "\n| Figure | Unit | vardek-station | VARDEK_Control | ratio |\n"
                "|---|---|---|---|---|\n";
        text << row("start to the window mapped", "s", spread(stationStart), spread(controlStart));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_station: %s\n", error.what());
        return 1;
    }
    return 0;
}
