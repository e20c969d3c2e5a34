// How fast a reply becomes display text, as ratios against printf-style formatting measured in
// the same run, so the numbers compare across machines.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <iostream>
#include <map>
#include <string>

#include "link/board_protocol.h"
#include "link/reply_text.h"
#include "window/panel_controller.h"

namespace {

using vardek::link::ReplyBytes;

const ReplyBytes kReply = vardek::link::encodeReply(0xA5, 300).bytes;

void BaselineSnprintfDump(benchmark::State& state) {
    for (auto _ : state) {
        std::array<char, 33> text{};
        for (std::size_t i = 0; i < kReply.size(); ++i) {
            std::snprintf(text.data() + 4 * i, 5, "%03X ", unsigned{kReply[i]});
        }
        std::string dump(text.data(), 32);
        benchmark::DoNotOptimize(dump);
    }
}

void DumpText(benchmark::State& state) {
    for (auto _ : state) {
        std::string dump = vardek::link::dumpText(kReply);
        benchmark::DoNotOptimize(dump);
    }
}

void BaselineSnprintfTemperature(benchmark::State& state) {
    std::uint16_t value = 0;
    for (auto _ : state) {
        std::array<char, 32> text{};
        const int length =
            std::snprintf(text.data(), text.size(), "%4.1f \u2103", value++ / 1024.0 * 500.0);
        std::string reading(text.data(), static_cast<std::size_t>(length));
        benchmark::DoNotOptimize(reading);
    }
}

void TemperatureText(benchmark::State& state) {
    std::uint16_t value = 0;
    for (auto _ : state) {
        std::string reading = vardek::link::temperatureText(value++);
        benchmark::DoNotOptimize(reading);
    }
}

// A window that keeps nothing, so only the controller's own work is measured.
class NullView : public vardek::panel::PanelView {
  public:
    bool isChecked(int) const override { return false; }
    void setChecked(int, bool) override {}
    void setResultText(vardek::panel::ResultField, const std::string& text) override {
        benchmark::DoNotOptimize(text.data());
    }
    void setDumpText(const std::string& text) override { benchmark::DoNotOptimize(text.data()); }
    void showNoResponse(bool, const std::string&) override {}
    void showMessage(const std::string&, const std::string&) override {}
};

class ReplayLink : public vardek::link::DatagramLink {
  public:
    void SendBuffer(std::span<const std::uint8_t>, int) override {}
    void ReadBuffer(std::span<std::uint8_t> buffer, int& count) override {
        std::copy(kReply.begin(), kReply.end(), buffer.begin());
        count = static_cast<int>(kReply.size());
    }
};

// One temperature reply handled in full: read, dump, reading and input bits.
void HandleTemperatureReply(benchmark::State& state) {
    NullView view;
    ReplayLink link;
    vardek::panel::PanelController panel(view, link);
    for (auto _ : state) {
        panel.BtnRA5Click();
        panel.NMUDP1DataReceived(8, "127.0.0.1", 10001);
    }
}

BENCHMARK(BaselineSnprintfDump);
BENCHMARK(DumpText);
BENCHMARK(BaselineSnprintfTemperature);
BENCHMARK(TemperatureText);
BENCHMARK(HandleTemperatureReply);

// Prints the usual table, then each measurement over its baseline.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            nanoseconds_[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
    }

    void printRatios() const {
        const auto ratio = [&](const char* name, const char* baseline) {
            const auto measured = nanoseconds_.find(name);
            const auto base = nanoseconds_.find(baseline);
            if (measured != nanoseconds_.end() && base != nanoseconds_.end() && base->second > 0) {
                std::cout << name << " / " << baseline << " = " << measured->second / base->second
                          << '\n';
            }
        };
        ratio("DumpText", "BaselineSnprintfDump");
        ratio("TemperatureText", "BaselineSnprintfTemperature");
        ratio("HandleTemperatureReply", "BaselineSnprintfDump");
    }

  private:
    std::map<std::string, double> nanoseconds_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
