#include "results/recorder.h"

#include <QDir>
#include <QFileInfo>

namespace vardek::results {

namespace {

std::optional<Store> openSpool(const std::string& path, std::string& problem) {
    QDir().mkpath(QFileInfo(QString::fromStdString(path)).path());
    host::ResultsLocation location;
    location.kind = host::ResultsLocation::Kind::File;
    location.text = location.path = path;
    Store::Failure failure = Store::Failure::None;
    return Store::open(location, problem, failure);
}

}  // namespace

std::string spoolPathBeside(const std::string& settingsFile) {
    return QFileInfo(QString::fromStdString(settingsFile))
        .dir()
        .filePath(QStringLiteral("results-spool.sqlite"))
        .toStdString();
}

SyncOutcome sendSpool(Store& store, const std::string& spoolPath) {
    SyncOutcome outcome;
    if (!QFileInfo::exists(QString::fromStdString(spoolPath))) {
        return outcome;
    }
    std::optional<Store> spool = openSpool(spoolPath, outcome.problem);
    if (!spool) {
        return outcome;
    }
    const std::vector<UnitRecord> waiting = spool->records(outcome.problem);
    outcome.waiting = static_cast<int>(waiting.size());
    for (const UnitRecord& record : waiting) {
        // Taken out of the spool only once the store has it: a run cut short between the two
        // sends it again, and the store keeps the one it has.
        if (!store.insert(record, outcome.problem) || !spool->remove(record.id, outcome.problem)) {
            break;
        }
        ++outcome.sent;
        --outcome.waiting;
    }
    return outcome;
}

Recorder::Recorder(std::optional<Store> store, std::string spoolPath, Say say)
    : store_(std::move(store)), spoolPath_(std::move(spoolPath)), say_(std::move(say)) {}

std::optional<Recorder> Recorder::open(const host::ResultsLocation& location, std::string spoolPath,
                                       Say say, std::string& problem) {
    Store::Failure failure = Store::Failure::None;
    std::string why;
    std::optional<Store> store = Store::open(location, why, failure);
    if (!store && failure != Store::Failure::Unreachable) {
        problem = why;
        return std::nullopt;
    }
    Recorder recorder(std::move(store), std::move(spoolPath), std::move(say));
    if (!recorder.store_) {
        recorder.say_(why + "; this run's records wait in " + recorder.spoolPath_);
        recorder.spool_ = openSpool(recorder.spoolPath_, problem);
        if (!recorder.spool_) {
            return std::nullopt;
        }
        return recorder;
    }
    const SyncOutcome sent = sendSpool(*recorder.store_, recorder.spoolPath_);
    if (sent.sent > 0) {
        recorder.say_("sent " + std::to_string(sent.sent) + " record(s) that waited in " +
                      recorder.spoolPath_ + " to " + recorder.store_->shownLocation());
    }
    if (!sent.problem.empty()) {
        recorder.say_(sent.problem + "; " + std::to_string(sent.waiting) +
                      " record(s) still wait in " + recorder.spoolPath_);
    }
    return recorder;
}

bool Recorder::record(const UnitRecord& unit, std::string& problem) {
    if (store_) {
        std::string why;
        if (store_->insert(unit, why)) {
            return true;
        }
        if (store_->failure() != Store::Failure::Unreachable) {
            problem = why;
            return false;
        }
        // The server went away during the run: this record and the rest wait.
        say_(why + "; this run's records from here on wait in " + spoolPath_);
        store_.reset();
    }
    return toSpool(unit, problem);
}

bool Recorder::toSpool(const UnitRecord& unit, std::string& problem) {
    if (!spool_) {
        spool_ = openSpool(spoolPath_, problem);
        if (!spool_) {
            return false;
        }
    }
    if (!spool_->insert(unit, problem)) {
        return false;
    }
    ++spooled_;
    return true;
}

}  // namespace vardek::results
