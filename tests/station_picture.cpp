// Takes the README's pictures of vardek-station (scripts/screenshot): a rack of four after one
// round, offscreen, in the language asked for: one unit passed, one with RB3 stuck at 1, one
// marginal and one slot where no board answered. The real window and engine, with simulators on
// 127.0.0.2 to 127.0.0.4.
// Usage: vardek_station_picture OUTPUT.png en|ja
#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <string>

#include "check/check_files.h"
#include "host/language.h"
#include "limits/limits_file.h"
#include "tests/station_round.h"
#include "tools/station/station_window.h"

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fputs("usage: vardek_station_picture OUTPUT.png en|ja\n", stderr);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir folder;
    qputenv("XDG_CONFIG_HOME", folder.path().toLocal8Bit());
    QApplication application(argc, argv);
    const auto fail = [](const std::string& why) {
        std::fprintf(stderr, "vardek_station_picture: %s\n", why.c_str());
        return 1;
    };
    const vardek::host::Translation translation =
        vardek::host::translationInto("vardek-station", "en", argv[2]);
    if (!translation.problem.empty()) {
        return fail(translation.problem);
    }
    if (translation.translator) {
        QCoreApplication::installTranslator(translation.translator.get());
    }

    std::array<vardek::test::SimulatorRun, 4> simulators;
    const quint16 port = vardek::test::startRack<4>(
        simulators, {QStringList{}, {"--stuck", "RB3=1"}, {"--adc", "RA5=65"}, {}},
        {true, true, true, false});
    if (port == 0) {
        return fail("a simulator did not start");
    }
    QFile rack(folder.filePath("rack.txt"));
    QFile limits(folder.filePath("limits.ini"));
    if (!rack.open(QIODevice::WriteOnly) || !limits.open(QIODevice::WriteOnly)) {
        return fail("cannot write the rack and limits files");
    }
    rack.write("127.0.0.2 SN-0001\n127.0.0.3 SN-0002\n127.0.0.4 SN-0003\n127.0.0.5 SN-0004\n");
    limits.write("[RA5]\nrange=15.1:35.2\nmarginal=20:31.3\n");
    rack.close();
    limits.close();

    vardek::station::StationConfig config;
    std::string problem =
        vardek::check::readBoardsFile(rack.fileName().toStdString(), config.boards);
    if (problem.empty()) {
        problem =
            vardek::limits::readLimitsFile(limits.fileName().toStdString(), config.check.limits);
    }
    if (!problem.empty()) {
        return fail(problem);
    }
    config.port = port;
    // The empty slot answers nothing: a short wait keeps the picture quick.
    config.timeoutMs = 200;
    config.retries = 0;
    config.check.outputs = true;
    config.station = "EOL-3";
    config.version = "vardek-station picture";
    QString refused;
    const auto engine = vardek::station::RackEngine::open(config, refused);
    if (!engine) {
        return fail(refused.toStdString());
    }
    QSignalSpy finished(engine.get(), &vardek::station::Engine::finished);
    vardek::station::StationWindow window(*engine);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window) || !vardek::test::scan("kim")) {
        return fail("the window took no operator's name");
    }
    // The rack file's serials stand as scanned: Start tests them all.
    QTest::keyClick(window.startButton(), Qt::Key_Space);
    if (!finished.wait(vardek::test::kWaitMs)) {
        return fail("the round did not finish");
    }
    QCoreApplication::processEvents();
    return window.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : fail("cannot save");
}
