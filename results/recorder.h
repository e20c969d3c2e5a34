// Recording a run's units into the store, so that a station never loses one to the network: when
// a PostgreSQL server cannot be reached, each record waits in a spool (an SQLite store of its
// own, beside the settings file) until a later run, or `results --sync`, sends it. Every record
// carries its own id, so one sent twice (the answer to a send lost with the server) is stored
// once.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "host/results_location.h"
#include "results/store.h"

namespace vardek::results {

// The spool's file, beside the settings file `settingsFile`.
std::string spoolPathBeside(const std::string& settingsFile);

struct SyncOutcome {
    int sent = 0;     // records the store holds now that waited in the spool
    int waiting = 0;  // records left in the spool
    std::string problem;
};

// Sends every record of the spool at `spoolPath` into `store`, taking each out of the spool once
// the store holds it. A spool that does not exist has nothing to send.
SyncOutcome sendSpool(Store& store, const std::string& spoolPath);

class Recorder {
  public:
    using Say = std::function<void(const std::string&)>;

    // Opens the store at `location`, first sending what waits in the spool. A server that
    // cannot be reached is no problem (its records go to the spool, and `say` tells the
    // person); a store refused, or a spool that cannot be opened, is: none, with `problem`.
    static std::optional<Recorder> open(const host::ResultsLocation& location,
                                        std::string spoolPath, Say say, std::string& problem);

    // The unit in the store, else in the spool. False only when it is in neither, with
    // `problem` naming why.
    bool record(const UnitRecord& unit, std::string& problem);

    // After the run: how many of its records wait in the spool (`say` has told where).
    int spooled() const { return spooled_; }
    const std::string& spoolPath() const { return spoolPath_; }

  private:
    Recorder(std::optional<Store> store, std::string spoolPath, Say say);
    bool toSpool(const UnitRecord& unit, std::string& problem);

    std::optional<Store> store_;
    std::optional<Store> spool_;
    std::string spoolPath_;
    Say say_;
    int spooled_ = 0;
};

}  // namespace vardek::results
