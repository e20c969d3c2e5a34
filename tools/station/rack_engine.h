// The station's engine: check's rack run (check/rack.h) over the slots that have a serial,
// turned from Qt's event loop, its reports and store records those of `vardek-probe check` for
// the same run; and the shift's figures, from the results store where one is set.
#pragma once

#include <QString>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "board/event_loop.h"
#include "check/check_files.h"
#include "check/operator.h"
#include "check/rack.h"
#include "desktop/board_loop_driver.h"
#include "host/results_location.h"
#include "results/recorder.h"
#include "results/store.h"
#include "tools/station/station_engine.h"

namespace vardek::station {

struct StationConfig {
    std::vector<check::RackBoard> boards;  // the rack file's slots, in its order
    std::uint16_t port = 0;
    std::uint32_t timeoutMs = 500;  // check's, per try
    std::uint32_t retries = 2;
    check::CheckSettings check;
    std::string station;
    std::string reportDir;  // empty for none
    std::optional<host::ResultsLocation> results;
    bool ask = false;
    std::string version;  // "vardek-station 0.2.0", as the records name what wrote them
};

class RackEngine final : public Engine {
    Q_OBJECT

  public:
    // Opens the store (and sends its spool) where one is set; none with `problem` when it is
    // refused, before any board is touched.
    static std::unique_ptr<RackEngine> open(StationConfig config, QString& problem);
    ~RackEngine() override;

    QStringList slotNames() const override;
    QStringList rackSerials() const override;
    QString serialProblem(const QString& serial) const override;
    bool testedBefore(const QString& serial) const override;
    ShiftFigures shift() const override;
    void setOperatorName(const QString& name) override;

    bool start(const std::vector<Unit>& units, QString& problem) override;
    bool running() const override { return rack_.has_value(); }
    void stop() override;
    void answer(bool yes) override;

    // After Qt's loop has ended (a stop signal): a run still going is stopped and turned here to
    // its end, its outputs put back and its records written.
    void finishAfterLoop();

  private:
    class SlotOperator;
    struct Question;
    // A unit this window tested, for the shift's figures without a store.
    struct Tested {
        std::string serial;
        bool passed = false;
        bool first = false;  // the serial's first test in this window
        std::string failure;
    };

    explicit RackEngine(StationConfig config);
    void boardDone(std::size_t board);
    // Once the rack is done: its records written, the run forgotten, finished() told.
    void wrapUp();
    board::Task<check::OperatorAnswer> confirm(std::string question);
    void askNext();
    std::string stoppedBy() const;

    StationConfig config_;
    check::RackSettings settings_;
    // A run's loop and its driver, kept until the next run: the run ends inside a turn of them.
    std::optional<board::EventLoop> loop_;
    std::optional<desktop::BoardLoopDriver> driver_;
    std::optional<results::Recorder> recorder_;
    // The store read for the shift and for retests: a connection of its own beside the
    // recorder's.
    mutable std::optional<results::Store> queries_;
    std::vector<std::unique_ptr<SlotOperator>> operators_;
    std::deque<Question*> questions_;
    std::vector<int> slots_;  // the slot of each board of the run
    std::vector<Tested> tested_;
    std::set<std::string> serialsSeen_;
    std::optional<check::Rack> rack_;
    bool stopAsked_ = false;
};

}  // namespace vardek::station
