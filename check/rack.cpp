#include "check/rack.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <span>
#include <utility>

#include "check/store_record.h"
#include "results/recorder.h"

namespace vardek::check {

namespace {

// The board as the checks see it, counting its requests as they go out: a window shows how far
// each board's check has come.
class CountedBoard : public board::CheckedBoard {
  public:
    CountedBoard(board::CheckedBoard& board, std::function<void(unsigned)> made)
        : board_(board), made_(std::move(made)) {}

    board::Task<board::Answer> ask(link::Request request, bool evenIfStopped) override {
        if (made_) {
            made_(++requests_);
        }
        return board_.ask(request, evenIfStopped);
    }
    const std::map<std::size_t, unsigned>& datagramSizes() const override {
        return board_.datagramSizes();
    }
    std::uint32_t timeoutMs() const override { return board_.timeoutMs(); }

  private:
    board::CheckedBoard& board_;
    std::function<void(unsigned)> made_;
    unsigned requests_ = 0;
};

std::string opened(ReportFile& report) {
    const std::string problem = report.open();
    return problem.empty() ? "" : "cannot write " + report.path() + ": " + problem;
}

}  // namespace

struct Rack::Unit {
    board::BoardExchange exchange;
    BoardRecord record;
    std::vector<ReportFile> reports;  // the report folder's .json and .xml
    bool done = false;
};

std::string unitLabel(const BoardRecord& record, const Station& station) {
    std::string label = record.board;
    for (const auto& [name, value] : {std::pair{"dut-id", record.dutId},
                                      {"station", station.station},
                                      {"operator", station.operatorName}}) {
        if (!value.empty()) {
            label += std::string(", ") + name + ' ' + value;
        }
    }
    return label;
}

Rack::Rack(const RackSettings& settings, const std::vector<RackBoard>& boards,
           board::EventLoop& loop, const ExchangeFor& exchangeFor, std::vector<Operator*> asked,
           Complain complain)
    : settings_(settings), loop_(loop), asked_(std::move(asked)), complain_(std::move(complain)) {
    const auto start = std::chrono::system_clock::now();
    for (const RackBoard& board : boards) {
        const link::SocketAddress address{*link::parseIpv4(board.address), settings.port};
        units_.push_back(
            std::make_unique<Unit>(Unit{board::BoardExchange(address, exchangeFor(address), loop),
                                        BoardRecord{address.text(), board.dutId, start, start, {}},
                                        {},
                                        false}));
    }
}

Rack::~Rack() = default;

std::string Rack::openReports() {
    if (!settings_.junitPath.empty()) {
        junit_.emplace(settings_.junitPath, ReportFile::Earlier::Replace);
        if (std::string problem = opened(*junit_); !problem.empty()) {
            return problem;
        }
    }
    for (auto& unit : units_) {
        if (settings_.reportDir.empty()) {
            break;
        }
        const std::string stem = settings_.reportDir + '/' + reportStem(unit->record);
        for (const char* extension : {".json", ".xml"}) {
            unit->reports.emplace_back(stem + extension, ReportFile::Earlier::Keep);
            if (std::string problem = opened(unit->reports.back()); !problem.empty()) {
                return problem;
            }
        }
    }
    return {};
}

void Rack::start() {
    for (std::size_t index = 0; index < units_.size(); ++index) {
        tasks_.push_back(checkBoard(*units_[index], index));
        tasks_.back().start();
    }
}

bool Rack::done() const { return std::ranges::all_of(tasks_, &board::Task<void>::done); }

bool Rack::done(std::size_t board) const { return units_[board]->done; }

const BoardRecord& Rack::record(std::size_t board) const { return units_[board]->record; }

void Rack::run() {
    start();
    while (!done()) {
        loop_.turn();
    }
    for (board::Task<void>& task : tasks_) {
        task.result();
    }
}

board::Task<void> Rack::checkBoard(Unit& unit, std::size_t index) {
    CountedBoard counted(unit.exchange, [this, index](unsigned requests) {
        if (requestMade) {
            requestMade(index, requests);
        }
    });
    unit.record.start = std::chrono::system_clock::now();
    unit.record.run = co_await runChecks(counted, settings_.check,
                                         index < asked_.size() ? asked_[index] : nullptr);
    unit.record.end = std::chrono::system_clock::now();
    unit.done = true;
    if (boardDone) {
        boardDone(index);
    }
    // Written the moment the board is done: a stop that cuts the rest of the rack short leaves
    // this one's record.
    if (unit.record.run.end == CheckRun::End::Finished && !unit.reports.empty()) {
        commit(unit.reports[0], jsonSummaryLine(unit.record, settings_.station) + '\n');
        commit(unit.reports[1], junitReport(std::span(&unit.record, 1), settings_.station));
    }
}

void Rack::settle(const std::string& stoppedBy) {
    for (const auto& unit : units_) {
        CheckRun& run = unit->record.run;
        const std::string restored = run.restored.empty() ? "" : "; " + run.restored;
        const std::string board = units_.size() > 1 ? unit->record.board + ": " : "";
        if (run.end == CheckRun::End::Stopped) {
            run.cutShort = "cut short by " + stoppedBy;
            complain_(board + "stopped by " + stoppedBy + restored);
        } else if (run.end == CheckRun::End::NotSent) {
            complain_("cannot send to " + unit->record.board + ": " +
                      unit->exchange.notSentReason() + restored);
        }
    }
}

void Rack::keep(results::Recorder* recorder) {
    // A rack's report keeps the boards that finished, those cut short in error; of a run that
    // finished no board, the earlier report stays as it was.
    std::vector<BoardRecord> records;
    std::vector<BoardRecord> finished;
    for (const auto& unit : units_) {
        const CheckRun::End end = unit->record.run.end;
        if (end == CheckRun::End::Finished || end == CheckRun::End::Stopped) {
            records.push_back(unit->record);
        }
        if (end == CheckRun::End::Finished) {
            finished.push_back(unit->record);
        }
    }
    if (junit_ && !finished.empty()) {
        commit(*junit_, junitReport(records, settings_.station));
    }
    // Each board that finished, also before a stop, as its report is.
    if (recorder != nullptr) {
        notWritten_ = !record(*recorder, finished) || notWritten_;
    }
}

// False when a unit is in neither the store nor the spool.
bool Rack::record(results::Recorder& recorder, const std::vector<BoardRecord>& finished) {
    bool kept = true;
    for (const BoardRecord& board : finished) {
        std::string problem;
        if (!recorder.record(storeRecord(board, settings_.station), problem)) {
            complain_("the record of " + unitLabel(board, settings_.station) +
                      " is lost: " + problem);
            kept = false;
        }
    }
    if (recorder.spooled() > 0) {
        complain_(std::to_string(recorder.spooled()) + " record(s) of this run wait in " +
                  recorder.spoolPath() + " until the next run or vardek-probe results --sync");
    }
    return kept;
}

// A report that cannot be written whole fails the run, by its own exit status.
void Rack::commit(ReportFile& report, const std::string& contents) {
    if (const std::string problem = report.commit(contents); !problem.empty()) {
        complain_("cannot write the report " + report.path() + ": " + problem);
        notWritten_ = true;
    }
}

}  // namespace vardek::check
