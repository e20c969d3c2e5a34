// Every board of one check, checked at once: each with its own exchange, record and reports,
// the rack's JUnit report and the store's records once all are done. vardek-probe runs it from
// a terminal, vardek-station from its window; both leave the same records for the same run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "board/board_exchange.h"
#include "board/event_loop.h"
#include "board/task.h"
#include "check/board_check.h"
#include "check/check_files.h"
#include "check/check_report.h"
#include "check/operator.h"

namespace vardek::results {
class Recorder;
}

namespace vardek::check {

struct RackSettings {
    CheckSettings check;
    std::uint16_t port = 0;
    std::string junitPath;  // one report of the whole rack; empty for none
    std::string reportDir;  // a .json and a .xml report per board; empty for none
    Station station;
};

class Rack {
  public:
    // The exchange's settings for the board at an address.
    using ExchangeFor = std::function<board::ExchangeSettings(const link::SocketAddress&)>;
    // What the program tells its user of a report, a record or a board that went wrong.
    using Complain = std::function<void(const std::string&)>;

    // `asked`, where given, holds for each board who confirms each output once it is set (one
    // for all on a terminal, one per slot in a window). `loop`, the operators and the settings
    // must outlive the rack. Throws std::system_error when a board's socket cannot be opened.
    Rack(const RackSettings& settings, const std::vector<RackBoard>& boards, board::EventLoop& loop,
         const ExchangeFor& exchangeFor, std::vector<Operator*> asked, Complain complain);
    ~Rack();
    Rack(const Rack&) = delete;
    Rack& operator=(const Rack&) = delete;

    // Opened before anything is sent: a report that cannot be written stops nothing half-way.
    // Each is written in full beside its place and moved into it once its board is done (a
    // rack's JUnit report once all are), so a run cut short leaves an earlier report as it was.
    // Returns what is wrong, or an empty text.
    std::string openReports();

    // Told as each board is done, before its reports are written: its index in the rack.
    std::function<void(std::size_t board)> boardDone;
    // Told as each board's requests go out: its index, and how many it has made so far.
    std::function<void(std::size_t board, unsigned requests)> requestMade;

    // Starts every board's check; the loop turns them on (run() or a loop outside).
    void start();
    bool done() const;
    // The check of the board at `board` is over.
    bool done(std::size_t board) const;
    // Starts every check and turns the loop until all are done.
    void run();

    // Once done: a check that a stop cut short says what stopped it ("SIGTERM", "the
    // operator"), and each board that ended early is complained about, with what became of its
    // outputs.
    void settle(const std::string& stoppedBy);
    // Then the rack's JUnit report (of a run that finished a board) and, in `recorder` where one
    // is given, every board whose check finished.
    void keep(results::Recorder* recorder);

    std::size_t size() const { return units_.size(); }
    const BoardRecord& record(std::size_t board) const;
    const Station& station() const { return settings_.station; }
    // A report or a record could not be written.
    bool notWritten() const { return notWritten_; }

  private:
    struct Unit;

    board::Task<void> checkBoard(Unit& unit, std::size_t index);
    void commit(ReportFile& report, const std::string& contents);
    bool record(results::Recorder& recorder, const std::vector<BoardRecord>& finished);

    const RackSettings& settings_;
    board::EventLoop& loop_;
    std::vector<Operator*> asked_;
    Complain complain_;
    std::vector<std::unique_ptr<Unit>> units_;
    std::vector<board::Task<void>> tasks_;
    std::optional<ReportFile> junit_;
    bool notWritten_ = false;
};

// "127.0.0.1:10001, dut-id SN0042, station EOL-3, operator kim": what a person's summary names
// the board by.
std::string unitLabel(const BoardRecord& record, const Station& station);

}  // namespace vardek::check
