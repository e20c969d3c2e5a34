// The records that `check` leaves for a production line: a JUnit XML report for a CI server or
// a jig's dashboard, and JSON Lines in the names a hardware-test record uses, one board or a
// rack of them. Each report file appears whole or not at all.
#pragma once

#include <chrono>
#include <memory>
#include <span>
#include <string>

#include "check/board_check.h"

class QFileDevice;

namespace vardek::check {

// Who checked, where, and with what: the same for every board of one run.
struct Station {
    std::string station;       // --station; empty when not given
    std::string operatorName;  // --operator
    std::string hostname;
    std::string version;  // "vardek-probe 0.2.0"
};

// One board's check, with the unit it was.
struct BoardRecord {
    std::string board;  // "127.0.0.1:10001"
    std::string dutId;  // the unit's serial number; empty when not given
    std::chrono::system_clock::time_point start;
    std::chrono::system_clock::time_point end;
    CheckRun run;
};

// <testsuites>, one <testsuite> per board, one <testcase> per check named by the unit in its
// classname, the measurements as the suite's properties, a failure in the terminal's words; a
// board that a signal cut short, one case in error. Valid against Jenkins xUnit's junit-10.xsd.
std::string junitReport(std::span<const BoardRecord> boards, const Station& station);

// One JSON object per line, without the newline: a measurement of a check, and a board's
// summary holding all of its measurements (also the board's .json report).
std::string jsonMeasurementLine(const BoardRecord& board, const CheckResult& check,
                                const Measurement& measurement);
std::string jsonSummaryLine(const BoardRecord& board, const Station& station);

// "<dut-id or address>.<UTC start, yyyymmddThhmmss.mmmZ>", with what a file name cannot hold
// replaced by '_': names that sort in the order the checks started.
std::string reportStem(const BoardRecord& board);

// A report written beside its place and renamed into it once complete: a run that stops or dies
// half-way leaves no empty or partial file, and an earlier report as it was.
class ReportFile {
  public:
    enum class Earlier {
        Replace,  // --junit FILE: the new report takes an earlier one's place
        Keep,     // --report-dir: never overwritten; a name taken gets "_2", "_3"... before
                  // its extension
    };

    ReportFile(std::string path, Earlier earlier);
    ~ReportFile();  // without commit(), the temporary file goes
    ReportFile(ReportFile&&) noexcept;
    ReportFile& operator=(ReportFile&&) noexcept;

    // Opens the temporary file, so that a place that cannot take a report is known before the
    // board is touched. Returns what is wrong, or an empty text.
    std::string open();
    // Writes `contents` and moves them into place; returns what is wrong, or an empty text.
    std::string commit(const std::string& contents);
    // Where the report is, once committed.
    const std::string& path() const { return path_; }

  private:
    std::string path_;
    Earlier earlier_;
    std::unique_ptr<QFileDevice> file_;
};

}  // namespace vardek::check
