// vardek-station's operator rounds, in-process and offscreen: the real window and engine against
// simulators on 127.0.0.2 and up, driven by the keyboard alone, their records held to those of
// `vardek-probe check` for the same rack.
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <memory>

#include "check/check_files.h"
#include "limits/limits_file.h"
#include "tests/station_round.h"
#include "tools/station/rack_engine.h"
#include "tools/station/station_options.h"
#include "tools/station/station_window.h"

namespace {

using namespace vardek::station;

using vardek::test::kStationPortB;
using vardek::test::startRack;

// RA5 against the limits 15.1:35.2 and the marginal bounds 20:31.3: a raw 65 reads 31.7 ℃.
constexpr const char* kLimits = "[RA5]\nrange=15.1:35.2\nmarginal=20:31.3\n";

void write(const QString& path, const QByteArray& contents) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(contents), contents.size());
}

void scan(const QString& text) { QVERIFY(vardek::test::scan(text)); }

// The station on `config`, as an operator opens it: its engine, the count of its runs finished,
// and its window shown, active and given the operator's name.
struct OpenStation {
    std::unique_ptr<RackEngine> engine;
    std::unique_ptr<QSignalSpy> finished;
    std::unique_ptr<StationWindow> window;
};

void open(const StationConfig& config, OpenStation& station) {
    QString problem;
    station.engine = RackEngine::open(config, problem);
    QVERIFY2(station.engine, qPrintable(problem));
    station.finished = std::make_unique<QSignalSpy>(station.engine.get(), &Engine::finished);
    station.window = std::make_unique<StationWindow>(*station.engine);
    station.window->show();
    QVERIFY(QTest::qWaitForWindowActive(station.window.get()));
    scan("kim");
}

QString shownText(const QWidget& window) {
    QStringList texts;
    for (const QLabel* label : window.findChildren<QLabel*>()) {
        if (label->isVisible()) {
            texts << label->text();
        }
    }
    return texts.join('\n');
}

// A unit's JSON report as far as two runs of the same rack must agree: without its times, its
// host and program, and the round trips measured.
QJsonObject comparable(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QJsonObject report = QJsonDocument::fromJson(file.readAll()).object();
    for (const char* key : {"start_time_millis", "end_time_millis", "hostname", "version"}) {
        report.remove(key);
    }
    QJsonArray checks;
    for (const QJsonValue& value : report["checks"].toArray()) {
        QJsonObject check = value.toObject();
        check.remove("duration_s");
        if (check["name"] == "reachable") {
            check["reason"] =
                check["reason"].toString().remove(QRegularExpression(", round trip.*"));
        }
        checks.append(check);
    }
    report["checks"] = checks;
    QJsonArray measurements;
    for (const QJsonValue& value : report["measurements"].toArray()) {
        QJsonObject measurement = value.toObject();
        if (measurement["name"].toString().startsWith("rtt_")) {
            measurement.remove("value");
        }
        measurements.append(measurement);
    }
    report["measurements"] = measurements;
    return report;
}

// The one report of `serial` in `folder`, by its name's stem.
QString reportOf(const QString& folder, const QString& serial) {
    const QStringList found = QDir(folder).entryList({serial + ".*.json"}, QDir::Files, QDir::Name);
    return found.size() == 1 ? QDir(folder).filePath(found[0]) : QString();
}

// The store's units as `vardek-probe results` gives them: serial, outcome, station, operator
// and first failure, a line each.
QStringList unitsOf(const QString& store) {
    QProcess probe;
    probe.start(VARDEK_PROBE, {"results", "--results", store, "--csv", "units"});
    if (!probe.waitForFinished(vardek::test::kWaitMs) || probe.exitCode() != 0) {
        return {QString::fromUtf8(probe.readAllStandardError())};
    }
    QStringList lines = QString::fromUtf8(probe.readAllStandardOutput()).split("\r\n");
    const QStringList header = lines.takeFirst().split(',');
    QStringList units;
    for (const QString& line : lines) {
        if (line.isEmpty()) {
            continue;
        }
        const QStringList fields = line.split(',');
        QStringList kept;
        for (const char* name : {"serial", "outcome", "station", "operator", "first_failure"}) {
            kept << fields.value(header.indexOf(name));
        }
        units << kept.join(',');
    }
    units.sort();
    return units;
}

int portBOf(const QString& board, quint16 port) {
    QProcess probe;
    probe.start(VARDEK_PROBE,
                {"--board", board, "--port", QString::number(port), "--json", "status"});
    probe.waitForFinished(vardek::test::kWaitMs);
    return QJsonDocument::fromJson(probe.readAllStandardOutput()).object()["port_b"].toInt(-1);
}

}  // namespace

class TestStationRound : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir configHome_;

    static StationConfig configFor(const QString& boards, quint16 port, const QString& folder) {
        StationConfig config;
        [&] { QCOMPARE(vardek::check::readBoardsFile(boards.toStdString(), config.boards), ""); }();
        config.port = port;
        config.timeoutMs = 500;
        config.retries = 1;
        config.check.outputs = true;
        config.station = "EOL-1";
        config.reportDir = QDir(folder).filePath("station-reports").toStdString();
        QDir().mkpath(QString::fromStdString(config.reportDir));
        config.results = vardek::host::parseResultsLocation(
            QDir(folder).filePath("station.db").toStdString(), "");
        config.version = "vardek-station test";
        return config;
    }

  private slots:
    void initTestCase() {
        QVERIFY(configHome_.isValid());
        qputenv("XDG_CONFIG_HOME", configHome_.path().toLocal8Bit());
    }

    // Three units scanned (one serial refused first), Start: one with RB3 stuck, one marginal,
    // one absent, each verdict on its tile in the terminal's words, and the reports and store
    // records those `vardek-probe check` leaves for the same rack.
    void operatorRound() {
        std::array<vardek::test::SimulatorRun, 3> simulators;
        const quint16 port = startRack<3>(
            simulators, {QStringList{"--stuck", "RB3=1"}, QStringList{"--adc", "RA5=65"}, {}},
            {true, true, false});
        QVERIFY(port != 0);
        QTemporaryDir dir;
        const QString boards = dir.filePath("rack.txt");
        write(boards, "127.0.0.2\n127.0.0.3\n127.0.0.4  # an empty slot\n");
        const QString limitsPath = dir.filePath("limits.ini");
        write(limitsPath, kLimits);
        StationConfig config = configFor(boards, port, dir.path());
        QCOMPARE(vardek::limits::readLimitsFile(limitsPath.toStdString(), config.check.limits), "");
        OpenStation station;
        open(config, station);
        if (QTest::currentTestFailed()) {
            return;
        }
        auto& [engine, finished, window] = station;
        QWidget* first = QApplication::focusWidget();
        scan("SN 1");  // a space: refused, the focus stays for the serial scanned again
        QCOMPARE(QApplication::focusWidget(), first);
        QTest::keyClick(first, Qt::Key_A, Qt::ControlModifier);
        scan("SN-1");
        QVERIFY(QApplication::focusWidget() != first);
        scan("SN-2");
        scan("SN-3");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QTRY_COMPARE_WITH_TIMEOUT(finished->count(), 1, 3 * vardek::test::kWaitMs);

        const QString shown = shownText(*window);
        for (const char* expected : {"FAIL", "RB3 stuck at 1", "MARGINAL",
                                     "RA5 31.7 ℃ marginal, outside 20:31.3", "NO ANSWER"}) {
            QVERIFY2(shown.contains(QString::fromUtf8(expected)), qPrintable(shown));
        }

        // The same rack through check, its serials in the rack file.
        const QString checked = dir.filePath("check-reports");
        QVERIFY(QDir().mkpath(checked));
        write(boards, "127.0.0.2 SN-1\n127.0.0.3 SN-2\n127.0.0.4 SN-3\n");
        QProcess probe;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", configHome_.path());
        probe.setProcessEnvironment(environment);
        probe.start(VARDEK_PROBE, {"--port",       QString::number(port),
                                   "--timeout",    "500",
                                   "--retries",    "1",
                                   "check",        "--outputs",
                                   "--boards",     boards,
                                   "--limits",     limitsPath,
                                   "--station",    "EOL-1",
                                   "--operator",   "kim",
                                   "--report-dir", checked,
                                   "--results",    dir.filePath("check.db")});
        QVERIFY(probe.waitForFinished(3 * vardek::test::kWaitMs));
        QCOMPARE(probe.exitCode(), 5);
        for (const QString serial : {"SN-1", "SN-2", "SN-3"}) {
            const QJsonObject own =
                comparable(reportOf(QString::fromStdString(config.reportDir), serial));
            QVERIFY2(!own.isEmpty(), qPrintable(serial));
            QCOMPARE(own, comparable(reportOf(checked, serial)));
        }
        const QStringList units = unitsOf(dir.filePath("station.db"));
        QCOMPARE(units.size(), 3);
        QCOMPARE(units, unitsOf(dir.filePath("check.db")));
    }

    // A station's own files named in the settings file, for a desktop entry that starts it
    // ready: paths from the file's folder, the command line before the file, an empty value
    // refused by name.
    void settingsNameTheFiles_data() {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("station");  // or the refusal
        const QString files = "boards=rack.txt\nlimits=limits.ini\nreport_dir=reports\n";
        QTest::newRow("from the file") << files + "station=EOL-9\n" << QStringList{} << "EOL-9";
        QTest::newRow("the command line first") << files + "station=EOL-9\n"
                                                << QStringList{"--station", "EOL-1"} << "EOL-1";
        QTest::newRow("an empty value")
            << files + "station=\n"
            << QStringList{} << "station= cannot name the station: an empty value names nothing";
    }
    void settingsNameTheFiles() {
        QFETCH(QString, settings);
        QFETCH(QStringList, args);
        QFETCH(QString, station);
        const QDir folder(configHome_.filePath("vardek-control"));
        QVERIFY(folder.mkpath("."));
        const auto cleanUp = qScopeGuard([&folder] { QDir(folder).removeRecursively(); });
        write(folder.filePath("vardek-control.conf"), settings.toUtf8());
        write(folder.filePath("rack.txt"), "127.0.0.2 SN-1\n127.0.0.3\n");
        write(folder.filePath("limits.ini"), kLimits);
        std::vector<std::string> held;
        for (const QString& arg : args) {
            held.push_back(arg.toStdString());
        }
        const std::vector<std::string_view> given(held.begin(), held.end());
        const ParsedOptions parsed = parseOptions(given);
        if (!station.startsWith("EOL")) {
            QCOMPARE(parsed.action, ParsedOptions::Action::Refuse);
            QVERIFY2(QString::fromStdString(parsed.error).contains(station), parsed.error.c_str());
            return;
        }
        QCOMPARE(QString::fromStdString(parsed.error), QString());
        QCOMPARE(QString::fromStdString(parsed.options.station), station);
        QCOMPARE(parsed.options.boards.size(), std::size_t(2));
        QCOMPARE(parsed.options.boards[0].dutId, "SN-1");
        QCOMPARE(QString::fromStdString(parsed.options.reportDir), folder.filePath("reports"));
        QCOMPARE(parsed.options.check.limits.at("RA5").low, std::optional<double>(15.1));
    }

    // --ask through the real engine: each output's question in the dialog, answered by Y or N,
    // reaches the check waiting for it; an N is the check's failure in its words.
    void askedOperator_data() {
        QTest::addColumn<QString>("answers");  // RB2..RB7, each set then cleared
        QTest::addColumn<QString>("verdict");
        QTest::newRow("every output on, then off") << "yyyyyyyyyyyy"
                                                   << "PASS";
        QTest::newRow("RB4 off") << "yyyynyyyyyyy"
                                 << "RB4 set but not on, says the operator";
    }
    void askedOperator() {
        QFETCH(QString, answers);
        QFETCH(QString, verdict);
        std::array<vardek::test::SimulatorRun, 1> simulators;
        const quint16 port = startRack<1>(simulators, {QStringList{}}, {true});
        QVERIFY(port != 0);
        QTemporaryDir dir;
        const QString boards = dir.filePath("rack.txt");
        write(boards, "127.0.0.2 SN-1\n");
        StationConfig config = configFor(boards, port, dir.path());
        config.ask = true;
        OpenStation station;
        open(config, station);
        if (QTest::currentTestFailed()) {
            return;
        }
        auto& [engine, finished, window] = station;
        QTest::keyClick(window->startButton(), Qt::Key_Space);
        for (const QChar answer : answers) {
            QTRY_VERIFY(window->questionDialog()->isVisible());
            QTRY_VERIFY(QApplication::focusWidget() != nullptr &&
                        window->questionDialog()->isAncestorOf(QApplication::focusWidget()));
            QTest::keyClick(QApplication::focusWidget(), answer == 'y' ? Qt::Key_Y : Qt::Key_N);
        }
        QTRY_COMPARE_WITH_TIMEOUT(finished->count(), 1, 3 * vardek::test::kWaitMs);
        QVERIFY2(shownText(*window).contains(verdict), qPrintable(shownText(*window)));
    }

    // The window closed while the outputs are switched: the test stops, every output is put
    // back as it was found, and only then does the window close. A stop signal closes the
    // window and ends Qt's loop at once: the program then finishes the run outside it.
    void closedMidRun_data() {
        QTest::addColumn<bool>("loopEnded");
        QTest::newRow("window closed") << false;
        QTest::newRow("stop signal") << true;
    }
    void closedMidRun() {
        QFETCH(bool, loopEnded);
        std::array<vardek::test::SimulatorRun, 2> simulators;
        const QStringList slow{"--delay-ms", "100"};
        const quint16 port = startRack<2>(simulators, {slow, slow}, {true, true});
        QVERIFY(port != 0);
        QTemporaryDir dir;
        const QString boards = dir.filePath("rack.txt");
        write(boards, "127.0.0.2\n127.0.0.3\n");
        StationConfig config = configFor(boards, port, dir.path());
        config.timeoutMs = 1000;
        OpenStation station;
        open(config, station);
        if (QTest::currentTestFailed()) {
            return;
        }
        auto& [engine, finished, window] = station;
        scan("SN-1");
        scan("SN-2");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        // Waited for with the event loop turning: the engine runs in it.
        for (auto& simulator : simulators) {
            QTRY_VERIFY_WITH_TIMEOUT(simulator.countLines("\\| set RB3") > 0,
                                     vardek::test::kWaitMs);
        }
        window->close();
        if (loopEnded) {
            engine->finishAfterLoop();
            QCOMPARE(finished->count(), 1);
        }
        QTRY_COMPARE_WITH_TIMEOUT(finished->count(), 1, 3 * vardek::test::kWaitMs);
        QTRY_VERIFY(!window->isVisible());
        for (const char* board : {"127.0.0.2", "127.0.0.3"}) {
            QCOMPARE(portBOf(board, port), kStationPortB);
        }
        // A unit cut short leaves no report, as check leaves none.
        QCOMPARE(QDir(QString::fromStdString(config.reportDir)).entryList(QDir::Files),
                 QStringList{});
    }
};

QTEST_MAIN(TestStationRound)
#include "test_station_round.moc"
