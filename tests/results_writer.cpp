// A station writing units into a results store as fast as it can, for the tests that kill it
// mid-write or run two at once and for the benchmark of 20 stations: "ready" once the store is
// open, then each record's id once its transaction committed.
// Usage: vardek_results_writer STORE UNITS [MEASUREMENTS]
#include <QCoreApplication>

#include <cstdio>
#include <string>

#include "host/results_location.h"
#include "results/store.h"

using namespace vardek;

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc < 3) {
        std::fputs("usage: vardek_results_writer STORE UNITS [MEASUREMENTS]\n", stderr);
        return 2;
    }
    const auto location = host::parseResultsLocation(argv[1]);
    const int units = std::stoi(argv[2]);
    const int measurements = argc > 3 ? std::stoi(argv[3]) : 20;
    std::string problem;
    results::Store::Failure failure{};
    auto store = location ? results::Store::open(*location, problem, failure) : std::nullopt;
    if (!store) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 1;
    }
    std::puts("ready");
    std::fflush(stdout);
    const std::string station = "W" + std::to_string(QCoreApplication::applicationPid());
    for (int i = 0; i < units; ++i) {
        results::UnitRecord unit;
        unit.id = results::newRecordId();
        unit.serial = station + '-' + std::to_string(i);
        unit.station = station;
        unit.version = "vardek_results_writer";
        unit.board = "127.0.0.1:10001";
        unit.startMs = 1796000000000 + i * 1000LL;
        unit.endMs = unit.startMs + 900;
        unit.outcome = i % 10 == 0 ? "FAIL" : "PASS";
        for (const char* check : {"reachable", "reply-size", "outputs", "analogue", "inputs"}) {
            unit.checks.push_back({check, "PASS", "fine"});
        }
        for (int m = 0; m < measurements; ++m) {
            const double value = 20 + (i * 7 + m * 3) % 11;
            // Appended, not "M" + text: GCC 12 at -O3 takes that for an overlapping copy.
            std::string name = "M";
            name += std::to_string(m);
            unit.measurements.push_back({"analogue", name, value, "℃", 0.0, 35.0, 18.0, 28.0,
                                         value > 28 ? "MARGINAL" : "PASS"});
        }
        if (!store->insert(unit, problem)) {
            std::fprintf(stderr, "%s\n", problem.c_str());
            return 1;
        }
        std::printf("%s\n", unit.id.c_str());
        std::fflush(stdout);
    }
    return 0;
}
