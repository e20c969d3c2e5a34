#include "tools/station/rack_engine.h"

#include <QDateTime>
#include <QSysInfo>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

#include "board/board_exchange.h"
#include "check/board_check.h"
#include "check/measurement.h"
#include "desktop/program_start.h"
#include "host/board_settings.h"
#include "results/answers.h"

namespace vardek::station {

namespace {

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

// The first check of `outcome`, for what the tile says of it.
const check::CheckResult* firstOf(const check::CheckRun& run, check::Outcome outcome) {
    const auto found = std::ranges::find(run.results, outcome, &check::CheckResult::verdict);
    return found == run.results.end() ? nullptr : &*found;
}

// What the tile shows of a board's check: the verdict as the records have it, with the words a
// person at the terminal would read under it.
SlotResult resultOf(const check::BoardRecord& record) {
    const check::CheckRun& run = record.run;
    switch (run.end) {
        case check::CheckRun::End::NotSent:
            return {Verdict::NoAnswer,
                    RackEngine::tr("could not be sent to %1").arg(text(record.board))};
        case check::CheckRun::End::Stopped:
            return {Verdict::Fail, text(run.cutShort.empty() ? "cut short" : run.cutShort)};
        case check::CheckRun::End::Finished:
            break;
    }
    if (!run.answered) {
        const check::CheckResult* reachable = firstOf(run, check::Outcome::Fail);
        return {Verdict::NoAnswer, reachable != nullptr ? text(reachable->detail) : QString()};
    }
    switch (check::boardOutcome(run)) {
        case check::Outcome::Fail: {
            const check::CheckResult* failed = firstOf(run, check::Outcome::Fail);
            return {Verdict::Fail,
                    failed != nullptr ? text(failed->detail.empty() ? failed->name : failed->detail)
                                      : QString()};
        }
        case check::Outcome::Marginal:
            for (const check::CheckResult& result : run.results) {
                for (const check::Measurement& measurement : result.measurements) {
                    if (measurement.outcome == check::Outcome::Marginal) {
                        return {Verdict::Marginal, text(check::outcomeProblem(measurement))};
                    }
                }
            }
            return {Verdict::Marginal, {}};
        default:
            return {Verdict::Pass, {}};
    }
}

// Today's start in this station's time zone, as the store's milliseconds.
std::int64_t todayStartMs() {
    return QDateTime(QDate::currentDate(), QTime(0, 0)).toMSecsSinceEpoch();
}

// The requests a healthy board's check makes (its requests_sent): the status requests, the
// outputs' 18 (each set and cleared, and port B read around them) and a read of each analogue
// pin. A progress bar's length; a check that retries makes more, and the bar stays full.
int requestsOfACheck(const check::CheckSettings& settings) {
    return static_cast<int>(settings.count) + (settings.outputs ? 18 : 0) +
           static_cast<int>(std::size(link::kChannels));
}

}  // namespace

// A question that a board's check waits on, answered through a pipe that the board loop
// watches: the answer comes from the window, outside any turn of the loop.
struct RackEngine::Question {
    std::string text;
    int fds[2] = {-1, -1};
    std::optional<bool> yes;

    explicit Question(std::string question) : text(std::move(question)) {
        if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
            throw std::system_error(errno, std::generic_category(), "cannot make a pipe");
        }
    }
    ~Question() {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    Question(const Question&) = delete;
    Question& operator=(const Question&) = delete;
};

// One slot's questions, named by its slot so that the operator knows which unit to look at.
class RackEngine::SlotOperator final : public check::Operator {
  public:
    SlotOperator(RackEngine& engine, std::string slot) : engine_(engine), slot_(std::move(slot)) {}
    board::Task<check::OperatorAnswer> confirm(std::string question) override {
        return engine_.confirm(slot_ + ": " + question);
    }

  private:
    RackEngine& engine_;
    std::string slot_;
};

std::unique_ptr<RackEngine> RackEngine::open(StationConfig config, QString& problem) {
    std::unique_ptr<RackEngine> engine(new RackEngine(std::move(config)));
    if (const auto& location = engine->config_.results) {
        std::string why;
        engine->recorder_ = results::Recorder::open(
            *location, results::spoolPathBeside(host::Settings::read().file()),
            [raw = engine.get()](const std::string& said) { emit raw->problemFound(text(said)); },
            why);
        if (!engine->recorder_) {
            problem = text(why);
            return nullptr;
        }
        // A server out of reach now is tried again for each figure; the records meanwhile wait
        // in the spool.
        results::Store::Failure failure = results::Store::Failure::None;
        engine->queries_ = results::Store::open(*location, why, failure);
    }
    return engine;
}

RackEngine::RackEngine(StationConfig config) : config_(std::move(config)) {}

RackEngine::~RackEngine() = default;

QStringList RackEngine::slotNames() const {
    QStringList names;
    for (std::size_t slot = 0; slot < config_.boards.size(); ++slot) {
        names << QStringLiteral("%1: %2").arg(slot + 1).arg(text(config_.boards[slot].address));
    }
    return names;
}

QStringList RackEngine::rackSerials() const {
    QStringList serials;
    for (const check::RackBoard& board : config_.boards) {
        serials << text(board.dutId);
    }
    return serials;
}

QString RackEngine::serialProblem(const QString& serial) const {
    const std::string problem = check::serialProblem(serial.toStdString());
    return problem.empty() ? QString() : text(problem);
}

bool RackEngine::testedBefore(const QString& serial) const {
    if (serialsSeen_.contains(serial.toStdString())) {
        return true;
    }
    if (!queries_) {
        return false;
    }
    results::Filter filter;
    filter.serial = serial.toStdString();
    results::Table table;
    std::string problem;
    return results::answer(*queries_, results::Answer::Units, filter, results::Grouping::None,
                           table, problem) &&
           !table.rows.empty();
}

ShiftFigures RackEngine::shift() const {
    ShiftFigures figures;
    results::Filter filter;
    filter.sinceMs = todayStartMs();
    filter.station = config_.station;
    results::Table units;
    results::Table yield;
    std::string problem;
    if (queries_ &&
        results::answer(*queries_, results::Answer::Units, filter, results::Grouping::None, units,
                        problem) &&
        results::answer(*queries_, results::Answer::Yield, filter, results::Grouping::None, yield,
                        problem)) {
        figures.fromStore = true;
        figures.tested = static_cast<int>(units.rows.size());
        const auto column = [&units](std::string_view name) {
            return std::ranges::find(units.columns, name, &results::Column::name) -
                   units.columns.begin();
        };
        const auto outcome = column("outcome");
        const auto serial = column("serial");
        const auto failure = column("first_failure");
        for (const auto& row : units.rows) {
            const bool failed = row[outcome].text.value_or("") == "FAIL";
            figures.passed += failed ? 0 : 1;
            if (failed) {
                figures.lastFailures.prepend(
                    text(row[serial].text.value_or("") + ' ' + row[failure].text.value_or("")));
            }
        }
        const auto fpy =
            std::ranges::find(yield.columns, "first_pass_yield", &results::Column::name) -
            yield.columns.begin();
        if (!yield.rows.empty()) {
            figures.firstPassYield = yield.rows.front()[fpy].number;
        }
    } else {
        int first = 0;
        int firstPassed = 0;
        for (const Tested& unit : tested_) {
            figures.tested += 1;
            figures.passed += unit.passed ? 1 : 0;
            first += unit.first ? 1 : 0;
            firstPassed += unit.first && unit.passed ? 1 : 0;
            if (!unit.passed) {
                figures.lastFailures.prepend(text(unit.serial + ' ' + unit.failure));
            }
        }
        if (first > 0) {
            figures.firstPassYield = double(firstPassed) / first;
        }
    }
    while (figures.lastFailures.size() > 5) {
        figures.lastFailures.removeLast();
    }
    return figures;
}

void RackEngine::setOperatorName(const QString& name) {
    settings_.station.operatorName = name.toStdString();
}

bool RackEngine::start(const std::vector<Unit>& units, QString& problem) {
    if (rack_) {
        problem = tr("a test is still running");
        return false;
    }
    std::vector<check::RackBoard> boards;
    slots_.clear();
    for (const Unit& unit : units) {
        if (unit.slot < 0 || std::size_t(unit.slot) >= config_.boards.size()) {
            problem = tr("there is no slot %1").arg(unit.slot + 1);
            return false;
        }
        boards.push_back(
            {config_.boards[std::size_t(unit.slot)].address, unit.serial.toStdString()});
        slots_.push_back(unit.slot);
    }
    if (const std::string repeated = check::repeatedBoard(boards); !repeated.empty()) {
        problem = text(repeated);
        return false;
    }
    settings_.check = config_.check;
    settings_.port = config_.port;
    settings_.reportDir = config_.reportDir;
    settings_.station.station = config_.station;
    settings_.station.hostname = QSysInfo::machineHostName().toStdString();
    settings_.station.version = config_.version;
    // A loop of its own for each run: a stop ends this run's waits alone.
    driver_.reset();
    loop_.emplace();
    driver_.emplace(*loop_);
    connect(&*driver_, &desktop::BoardLoopDriver::turned, this, [this] {
        if (rack_ && rack_->done()) {
            wrapUp();
        }
    });
    operators_.clear();
    std::vector<check::Operator*> asked;
    const QStringList names = slotNames();
    for (const int slot : slots_) {
        if (config_.ask) {
            operators_.push_back(std::make_unique<SlotOperator>(*this, names[slot].toStdString()));
            asked.push_back(operators_.back().get());
        }
    }
    const auto exchangeFor = [this](const link::SocketAddress&) {
        board::ExchangeSettings exchange;
        exchange.timeoutMs = config_.timeoutMs;
        exchange.retries = config_.retries;
        exchange.receiveFailed = [this](const std::string& why) { emit problemFound(text(why)); };
        return exchange;
    };
    try {
        rack_.emplace(settings_, boards, *loop_, exchangeFor, std::move(asked),
                      [this](const std::string& said) { emit problemFound(text(said)); });
    } catch (const std::system_error& error) {
        problem = QString::fromLocal8Bit(error.what());
        return false;
    }
    if (const std::string refused = rack_->openReports(); !refused.empty()) {
        rack_.reset();
        problem = text(refused);
        return false;
    }
    const int total = requestsOfACheck(config_.check);
    rack_->requestMade = [this, total](std::size_t board, unsigned requests) {
        emit progressed(slots_[board], std::min(int(requests), total), total);
    };
    rack_->boardDone = [this](std::size_t board) { boardDone(board); };
    stopAsked_ = false;
    rack_->start();
    driver_->watch();
    return true;
}

void RackEngine::boardDone(std::size_t board) {
    const check::BoardRecord& record = rack_->record(board);
    const SlotResult result = resultOf(record);
    if (record.run.end == check::CheckRun::End::Finished) {
        tested_.push_back({record.dutId,
                           result.verdict == Verdict::Pass || result.verdict == Verdict::Marginal,
                           serialsSeen_.insert(record.dutId).second, result.detail.toStdString()});
    }
    emit slotFinished(slots_[board], result);
}

std::string RackEngine::stoppedBy() const {
    const std::string_view signal = desktop::stopSignalName();
    return signal.empty() ? "the operator" : std::string(signal);
}

void RackEngine::wrapUp() {
    rack_->settle(stoppedBy());
    rack_->keep(recorder_ ? &*recorder_ : nullptr);
    rack_.reset();
    questions_.clear();
    emit finished();
}

void RackEngine::stop() {
    if (!rack_ || stopAsked_) {
        return;
    }
    stopAsked_ = true;
    loop_->stopTasks();
    // The waits end at the loop's next turn; the stop may come from inside one (a slot of a
    // result), so the turn is queued.
    QMetaObject::invokeMethod(&*driver_, &desktop::BoardLoopDriver::turn, Qt::QueuedConnection);
}

void RackEngine::finishAfterLoop() {
    if (!rack_) {
        return;
    }
    if (!stopAsked_) {
        stopAsked_ = true;
        loop_->stopTasks();
    }
    while (!rack_->done()) {
        loop_->turn();
    }
    wrapUp();
}

board::Task<check::OperatorAnswer> RackEngine::confirm(std::string question) {
    Question asked(std::move(question));
    questions_.push_back(&asked);
    if (questions_.size() == 1) {
        askNext();
    }
    while (!asked.yes && !loop_->stopped()) {
        co_await loop_->readable(asked.fds[0],
                                 board::EventLoop::Clock::now() + std::chrono::hours(1));
    }
    std::erase(questions_, &asked);
    if (!asked.yes) {
        co_return check::OperatorAnswer::Stopped;
    }
    co_return *asked.yes ? check::OperatorAnswer::Yes : check::OperatorAnswer::No;
}

void RackEngine::askNext() {
    if (!questions_.empty()) {
        emit questionAsked(text(questions_.front()->text));
    }
}

void RackEngine::answer(bool yes) {
    if (questions_.empty()) {
        return;
    }
    Question* asked = questions_.front();
    questions_.pop_front();
    asked->yes = yes;
    // Wakes the check waiting on it at the board loop's next turn.
    [[maybe_unused]] const ssize_t written = ::write(asked->fds[1], "y", 1);
    askNext();
}

}  // namespace vardek::station
