#include "tools/probe/results_command.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

#include <cstdio>

#include "cli/command_line.h"
#include "host/board_settings.h"
#include "results/answers.h"
#include "results/recorder.h"
#include "tools/probe/probe_commands.h"

namespace vardek::probe {

namespace {

using cli::complain;

// Records imported from a report get an id made from the report's contents, so a folder
// imported twice is stored once.
const QUuid kImportNamespace = QUuid::fromString(u"6c1f3a52-0d4e-4d0b-9a57-4f3c2be0a1d7");

std::optional<double> optionalNumber(const QJsonValue& value) {
    return value.isDouble() ? std::optional(value.toDouble()) : std::nullopt;
}

std::string text(const QJsonObject& object, const char* key) {
    return object.value(QLatin1String(key)).toString().toStdString();
}

// The record in a --report-dir .json report; none, with `problem`, for a file that is not one.
std::optional<results::UnitRecord> readReport(const QString& path, std::string& problem) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        problem = file.errorString().toStdString();
        return std::nullopt;
    }
    const QByteArray contents = file.readAll();
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(contents, &error);
    const QJsonObject report = document.object();
    if (error.error != QJsonParseError::NoError || !report.contains(QLatin1String("summary")) ||
        !report.value(QLatin1String("start_time_millis")).isDouble() ||
        !report.value(QLatin1String("measurements")).isArray()) {
        problem = error.error != QJsonParseError::NoError
                      ? error.errorString().toStdString()
                      : "not a check report (no summary, start_time_millis or measurements)";
        return std::nullopt;
    }
    results::UnitRecord unit;
    unit.id = QUuid::createUuidV5(kImportNamespace, contents)
                  .toString(QUuid::WithoutBraces)
                  .toStdString();
    unit.serial = text(report, "dut_id");
    unit.station = text(report, "station");
    unit.operatorName = text(report, "operator");
    unit.version = text(report, "version");
    unit.board = text(report, "board");
    unit.startMs =
        static_cast<std::int64_t>(report.value(QLatin1String("start_time_millis")).toDouble());
    unit.endMs =
        static_cast<std::int64_t>(report.value(QLatin1String("end_time_millis")).toDouble());
    unit.outcome = text(report, "outcome");
    // Each check's outcome and reason, where the report has them (a report of an older program
    // has none, and its record has its measurements only).
    const QJsonValue checks = report.value(QLatin1String("checks"));
    if (!checks.isUndefined() && !checks.isArray()) {
        problem = "its checks are not a list";
        return std::nullopt;
    }
    for (const QJsonValue& entry : checks.toArray()) {
        const QJsonObject check = entry.toObject();
        if (!check.value(QLatin1String("name")).isString() ||
            !check.value(QLatin1String("outcome")).isString()) {
            problem = "a check without its name or outcome";
            return std::nullopt;
        }
        unit.checks.push_back({text(check, "name"), text(check, "outcome"), text(check, "reason")});
    }
    for (const QJsonValue& entry : report.value(QLatin1String("measurements")).toArray()) {
        const QJsonObject m = entry.toObject();
        const auto number = [&](const char* key) {
            return optionalNumber(m.value(QLatin1String(key)));
        };
        unit.measurements.push_back({{},
                                     text(m, "name"),
                                     number("value"),
                                     text(m, "unit"),
                                     number("low"),
                                     number("high"),
                                     number("marginal_low"),
                                     number("marginal_high"),
                                     text(m, "outcome")});
    }
    return unit;
}

int import(results::Store& store, const std::string& folder) {
    const QDir dir(QString::fromStdString(folder));
    if (!dir.exists()) {
        complain(kProgramName, "cannot import " + folder + ": no such folder");
        return kBadUsage;
    }
    std::vector<results::UnitRecord> units;
    int unreadable = 0;
    for (const QString& name : dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
        std::string problem;
        if (auto unit = readReport(dir.filePath(name), problem)) {
            units.push_back(std::move(*unit));
        } else {
            complain(kProgramName,
                     "cannot import " + dir.filePath(name).toStdString() + ": " + problem);
            ++unreadable;
        }
    }
    std::string problem;
    if (!store.insert(units, problem)) {
        complain(kProgramName, problem);
        return kNotWritten;
    }
    std::printf("imported %zu report(s) from %s into %s (one imported before is kept once)\n",
                units.size(), folder.c_str(), store.shownLocation().c_str());
    return unreadable > 0 ? kNotWritten : kReplied;
}

int sync(results::Store& store) {
    const std::string spool = spoolPath();
    const results::SyncOutcome outcome = results::sendSpool(store, spool);
    if (!outcome.problem.empty()) {
        complain(kProgramName, outcome.problem + "; " + std::to_string(outcome.waiting) +
                                   " record(s) still wait in " + spool);
        return kNotWritten;
    }
    std::printf("sent %d record(s) from %s to %s\n", outcome.sent, spool.c_str(),
                store.shownLocation().c_str());
    return kReplied;
}

results::Grouping grouping(const std::string& by) {
    return by == "station"    ? results::Grouping::Station
           : by == "operator" ? results::Grouping::Operator
           : by == "day"      ? results::Grouping::Day
           : by == "shift"    ? results::Grouping::Shift
                              : results::Grouping::None;
}

results::Answer asked(const std::string& name) {
    return name == "yield"    ? results::Answer::Yield
           : name == "pareto" ? results::Answer::Pareto
           : name == "cpk"    ? results::Answer::Cpk
                              : results::Answer::Units;
}

}  // namespace

std::string spoolPath() { return results::spoolPathBeside(host::Settings::read().file()); }

int results(const ProbeOptions& options) {
    std::string problem;
    const std::optional<host::ResultsLocation> location =
        host::chooseResultsLocation(options.results, problem);
    if (!location) {
        complain(kProgramName, problem.empty()
                                   ? "results needs a store: give --results DB, or results=DB "
                                     "in " +
                                         host::Settings::read().file()
                                   : problem);
        return kBadUsage;
    }
    results::Store::Failure failure = results::Store::Failure::None;
    // Only what brings records in makes a store; an answer of none would be an empty table.
    const bool bringsRecords = options.sync || options.resultsAnswer == "import";
    std::optional<results::Store> store = results::Store::open(
        *location, problem, failure,
        bringsRecords ? results::Store::Creating::Allowed : results::Store::Creating::Refused);
    if (!store) {
        complain(kProgramName, problem);
        return failure == results::Store::Failure::Unreachable ? kNotWritten : kBadUsage;
    }
    if (options.sync) {
        if (const int status = sync(*store); status != kReplied || options.resultsAnswer.empty()) {
            return status;
        }
    }
    if (options.resultsAnswer == "import") {
        return import(*store, options.importDir);
    }
    results::Filter filter;
    filter.sinceMs = options.since.empty() ? std::nullopt : results::parseUtc(options.since);
    filter.untilMs = options.until.empty() ? std::nullopt : results::parseUtc(options.until);
    filter.station = options.station;
    filter.operatorName = options.operatorName;
    filter.serial = options.serial;
    results::Table table;
    if (!results::answer(*store, asked(options.resultsAnswer), filter, grouping(options.by), table,
                         problem)) {
        complain(kProgramName, problem);
        return kNotWritten;
    }
    const std::string shown = options.json  ? results::jsonTable(table)
                              : options.csv ? results::csvTable(table)
                                            : results::textTable(table);
    std::fputs(shown.c_str(), stdout);
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? kReplied : kNotWritten;
}

}  // namespace vardek::probe
