#include "check/check_report.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <sys/stat.h>
#include <unistd.h>

#include "readings/log_format.h"

namespace vardek::check {

using readings::jsonString;

namespace {

using SystemClock = std::chrono::system_clock;

// Names tried for a --report-dir report whose name is taken, before giving up.
constexpr int kMaxSuffix = 1000;

// `format` for strftime, in UTC.
std::string utc(SystemClock::time_point when, const char* format) {
    const std::time_t seconds = SystemClock::to_time_t(when);
    std::tm parts{};
    ::gmtime_r(&seconds, &parts);
    char text[32];
    return std::string(text, std::strftime(text, sizeof text, format, &parts));
}

long long millis(SystemClock::time_point when) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
}

double seconds(const BoardRecord& board) {
    return std::chrono::duration<double>(board.end - board.start).count();
}

// What XML 1.0 allows in text and attributes, the markup characters escaped. Control
// characters other than tab and newline cannot appear in XML at all.
std::string xmlText(const std::string& text, bool attribute = true) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&apos;";
                break;
            case '\n':
                // An attribute's newline would be read back as a space.
                escaped += attribute ? "&#10;" : "\n";
                break;
            default:
                escaped += static_cast<unsigned char>(c) < 0x20 && c != '\t' ? '?' : c;
        }
    }
    return escaped;
}

std::string property(const std::string& name, const std::string& value) {
    return "<property name=\"" + xmlText(name) + "\" value=\"" + xmlText(value) + "\"/>";
}

std::string shownNumber(const Measurement& measurement) {
    return measurement.value ? decimals(*measurement.value, measurement.decimals) : "";
}

// "RA5 = 21.5 ℃ PASS (limits 0:60, marginal 18:32)"
std::string measurementText(const Measurement& measurement) {
    const Limits& limits = measurement.limits;
    std::string text =
        measurement.name + " = " + valueText(measurement) + ' ' + outcomeText(measurement.outcome);
    std::string bounds;
    if (limits.low || limits.high) {
        bounds = "limits " + rangeText(limits.low, limits.high);
    }
    if (limits.marginalLow || limits.marginalHigh) {
        bounds += bounds.empty() ? "marginal " : ", marginal ";
        bounds += rangeText(limits.marginalLow, limits.marginalHigh);
    }
    if (!measurement.note.empty()) {
        bounds += (bounds.empty() ? "" : ", ") + measurement.note;
    }
    return bounds.empty() ? text : text + " (" + bounds + ')';
}

// The unit a testcase is about, in its classname: CI servers tell cases apart by classname and
// name, and a rack's boards run the same checks. Dots would split it into packages.
std::string classname(const BoardRecord& board) {
    std::string unit = board.dutId.empty() ? board.board : board.dutId;
    std::ranges::replace(unit, '.', '_');
    return "vardek-probe.check." + unit;
}

std::string testcase(const BoardRecord& board, const CheckResult& check) {
    std::string xml = "    <testcase classname=\"" + xmlText(classname(board)) + "\" name=\"" +
                      xmlText(check.name) + "\" time=\"" + decimals(check.duration.count(), 3) +
                      "\">\n";
    // JUnit knows no MARGINAL: the output says it first, where a person reading the case looks.
    std::string out =
        check.verdict == Outcome::Marginal ? "MARGINAL: " + check.detail : check.detail;
    for (const Measurement& measurement : check.measurements) {
        out += '\n' + measurementText(measurement);
    }
    switch (check.verdict) {
        case Outcome::Fail: {
            // The message in the terminal's words; the type says whether a measurement crossed
            // its limits or the check found a fault of its own.
            const bool limit = std::ranges::any_of(check.measurements, [](const Measurement& m) {
                return m.outcome == Outcome::Fail;
            });
            xml += "      <failure message=\"" + xmlText(check.detail) + "\" type=\"" +
                   (limit ? "limit" : "fault") + "\">" + xmlText(check.detail, false) +
                   "</failure>\n";
            break;
        }
        case Outcome::Skip:
            xml += "      <skipped message=\"" + xmlText(check.detail) + "\"/>\n";
            break;
        case Outcome::Pass:
        case Outcome::Marginal:
            break;
    }
    return xml + "      <system-out>" + xmlText(out, false) + "</system-out>\n    </testcase>\n";
}

// A board whose check a signal cut short: one case in error, so that a rack's report never
// shows it as tested.
std::string cutShortCase(const BoardRecord& board, const std::string& why) {
    return "    <testcase classname=\"" + xmlText(classname(board)) +
           "\" name=\"check\" time=\"0.000\">\n      <error message=\"" + xmlText(why) +
           "\" type=\"cut short\"/>\n    </testcase>\n";
}

std::string jsonNumber(std::optional<double> value) { return value ? numberText(*value) : "null"; }

std::string jsonOrNull(const std::string& text) { return text.empty() ? "null" : jsonString(text); }

std::string jsonMeasurement(const Measurement& measurement) {
    const Limits& limits = measurement.limits;
    return "{\"name\":" + jsonString(measurement.name) +
           ",\"value\":" + (measurement.value ? shownNumber(measurement) : "null") +
           ",\"unit\":" + jsonString(measurement.unit) + ",\"low\":" + jsonNumber(limits.low) +
           ",\"high\":" + jsonNumber(limits.high) +
           ",\"marginal_low\":" + jsonNumber(limits.marginalLow) +
           ",\"marginal_high\":" + jsonNumber(limits.marginalHigh) +
           ",\"outcome\":" + jsonString(outcomeText(measurement.outcome)) +
           (measurement.note.empty() ? "" : ",\"note\":" + jsonString(measurement.note)) + '}';
}

// A name that a file system takes: letters, digits, '.', '-' and '_', not leading with a '.'.
std::string fileNamePart(const std::string& text) {
    std::string name;
    for (const char c : text) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        name += plain && !(name.empty() && c == '.') ? c : '_';
    }
    return name;
}

// The permissions a file created by this user has; QTemporaryFile makes its files private.
QFileDevice::Permissions createdPermissions() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const mode_t mode = 0666 & ~mask;
    QFileDevice::Permissions permissions;
    const std::pair<mode_t, QFileDevice::Permission> bits[] = {
        {S_IRUSR, QFileDevice::ReadOwner}, {S_IWUSR, QFileDevice::WriteOwner},
        {S_IRGRP, QFileDevice::ReadGroup}, {S_IWGRP, QFileDevice::WriteGroup},
        {S_IROTH, QFileDevice::ReadOther}, {S_IWOTH, QFileDevice::WriteOther}};
    for (const auto& [bit, permission] : bits) {
        if ((mode & bit) != 0) {
            permissions |= permission;
        }
    }
    return permissions;
}

// "name_2.json" for "name.json" and 2: '_' sorts after '.', so the second comes after the first.
QString numbered(const QString& path, int number) {
    if (number == 1) {
        return path;
    }
    const QFileInfo info(path);
    return info.dir().filePath(info.completeBaseName() + QLatin1Char('_') +
                               QString::number(number) + QLatin1Char('.') + info.suffix());
}

}  // namespace

std::string junitReport(std::span<const BoardRecord> boards, const Station& station) {
    int tests = 0;
    int failures = 0;
    int errors = 0;
    double total = 0;
    std::string suites;
    for (const BoardRecord& board : boards) {
        const CheckRun& run = board.run;
        const bool finished = run.end == CheckRun::End::Finished;
        const int boardFailures = countOf(run, Outcome::Fail);
        const int boardErrors = finished ? 0 : 1;
        const auto boardTests = finished ? run.results.size() : 1;
        tests += static_cast<int>(boardTests);
        failures += boardFailures;
        errors += boardErrors;
        total += seconds(board);
        suites += "  <testsuite name=\"" + xmlText(board.board) + "\" hostname=\"" +
                  xmlText(station.hostname) + "\" timestamp=\"" +
                  utc(board.start, "%Y-%m-%dT%H:%M:%S") + "\" time=\"" +
                  decimals(seconds(board), 3) + "\" tests=\"" + std::to_string(boardTests) +
                  "\" failures=\"" + std::to_string(boardFailures) + "\" errors=\"" +
                  std::to_string(boardErrors) + "\" skipped=\"" +
                  std::to_string(countOf(run, Outcome::Skip)) + "\">\n    <properties>\n";
        const std::string outcome = finished ? outcomeText(boardOutcome(run)) : "CUT SHORT";
        for (const auto& [name, value] : {std::pair{"board", board.board},
                                          {"dut-id", board.dutId},
                                          {"station", station.station},
                                          {"operator", station.operatorName},
                                          {"outcome", outcome},
                                          {"version", station.version}}) {
            suites += "      " + property(name, value) + '\n';
        }
        // The measurements as the suite's properties, "check.name": the schema CI servers
        // validate against has none in a testcase.
        for (const CheckResult& check : run.results) {
            for (const Measurement& measurement : check.measurements) {
                suites += "      " +
                          property(check.name + '.' + measurement.name, shownNumber(measurement)) +
                          '\n';
            }
        }
        suites += "    </properties>\n";
        if (!finished) {
            suites += cutShortCase(board, run.cutShort);
        }
        for (const CheckResult& check : run.results) {
            suites += testcase(board, check);
        }
        suites += "  </testsuite>\n";
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"vardek-probe check\" "
           "tests=\"" +
           std::to_string(tests) + "\" failures=\"" + std::to_string(failures) + "\" errors=\"" +
           std::to_string(errors) + "\" time=\"" + decimals(total, 3) + "\">\n" + suites +
           "</testsuites>\n";
}

std::string jsonMeasurementLine(const BoardRecord& board, const CheckResult& check,
                                const Measurement& measurement) {
    return "{\"board\":" + jsonString(board.board) + ",\"dut_id\":" + jsonOrNull(board.dutId) +
           ",\"check\":" + jsonString(check.name) +
           ",\"measurement\":" + jsonMeasurement(measurement) + '}';
}

std::string jsonSummaryLine(const BoardRecord& board, const Station& station) {
    const CheckRun& run = board.run;
    const std::string outcome = jsonString(outcomeText(boardOutcome(run)));
    std::string measurements;
    for (const CheckResult& check : run.results) {
        for (const Measurement& measurement : check.measurements) {
            // Two appends, not "," + text: GCC 12 at -O3 takes that for an overlapping copy.
            measurements += measurements.empty() ? "" : ",";
            measurements += jsonMeasurement(measurement);
        }
    }
    // Each check's outcome and its reason, in the terminal's words: PASS alone is no record.
    std::string checks;
    std::string reasons;
    for (const CheckResult& check : run.results) {
        checks += checks.empty() ? "" : ",";
        checks += "{\"name\":" + jsonString(check.name) +
                  ",\"outcome\":" + jsonString(outcomeText(check.verdict)) +
                  ",\"reason\":" + jsonString(check.detail) +
                  ",\"duration_s\":" + decimals(check.duration.count(), 3) + '}';
        if (check.verdict == Outcome::Fail || check.verdict == Outcome::Marginal) {
            reasons += reasons.empty() ? "" : "; ";
            reasons += check.name + ": " + check.detail;
        }
    }
    const auto count = [&](Outcome counted) { return std::to_string(countOf(run, counted)); };
    return "{\"summary\":" + outcome + ",\"board\":" + jsonString(board.board) +
           ",\"dut_id\":" + jsonOrNull(board.dutId) +
           ",\"station\":" + jsonOrNull(station.station) +
           ",\"operator\":" + jsonOrNull(station.operatorName) +
           ",\"hostname\":" + jsonString(station.hostname) +
           ",\"version\":" + jsonString(station.version) +
           ",\"start_time_millis\":" + std::to_string(millis(board.start)) +
           ",\"end_time_millis\":" + std::to_string(millis(board.end)) + ",\"outcome\":" + outcome +
           ",\"passed\":" + count(Outcome::Pass) + ",\"marginal\":" + count(Outcome::Marginal) +
           ",\"failed\":" + count(Outcome::Fail) + ",\"skipped\":" + count(Outcome::Skip) +
           ",\"reason\":" + jsonOrNull(reasons) + ",\"checks\":[" + checks +
           "],\"measurements\":[" + measurements + "]}";
}

std::string reportStem(const BoardRecord& board) {
    const std::string unit =
        board.dutId.empty() ? board.board.substr(0, board.board.find(':')) : board.dutId;
    // Milliseconds, so that a re-test's report sorts after the first's by name.
    const auto ms = millis(board.start) % 1000;
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03lld", ms);
    return fileNamePart(unit) + '.' + utc(board.start, "%Y%m%dT%H%M%S") + fraction + 'Z';
}

ReportFile::ReportFile(std::string path, Earlier earlier)
    : path_(std::move(path)), earlier_(earlier) {}
ReportFile::~ReportFile() = default;
ReportFile::ReportFile(ReportFile&&) noexcept = default;
ReportFile& ReportFile::operator=(ReportFile&&) noexcept = default;

std::string ReportFile::open() {
    const QString path = QString::fromStdString(path_);
    // The longest name the report may take, its temporary name or its last numbered one, must
    // fit the file system's names: found out now, not once the board has been switched.
    const QByteArray name = QFile::encodeName(QFileInfo(path).fileName());
    const auto longest = name.size() + std::max(sizeof ".XXXXXX", sizeof "_1000");
    if (longest > NAME_MAX) {
        return "the name is " + std::to_string(name.size()) + " bytes, too long for a file";
    }
    if (earlier_ == Earlier::Replace) {
        // QSaveFile writes beside the file and renames over it on commit, keeping the earlier
        // file's permissions.
        file_ = std::make_unique<QSaveFile>(path);
    } else {
        const QFileInfo info(path);
        auto temporary = std::make_unique<QTemporaryFile>(
            info.dir().filePath(QLatin1Char('.') + info.fileName() + QStringLiteral(".XXXXXX")));
        file_ = std::move(temporary);
    }
    if (!file_->open(QIODevice::WriteOnly)) {
        std::string problem = file_->errorString().toStdString();
        file_.reset();
        return problem;
    }
    return {};
}

std::string ReportFile::commit(const std::string& contents) {
    const auto size = static_cast<qint64>(contents.size());
    if (file_->write(contents.data(), size) != size || !file_->flush()) {
        return file_->errorString().toStdString();
    }
    if (auto* save = dynamic_cast<QSaveFile*>(file_.get())) {
        return save->commit() ? "" : save->errorString().toStdString();
    }
    auto& temporary = static_cast<QTemporaryFile&>(*file_);
    if (::fsync(temporary.handle()) != 0 || !temporary.setPermissions(createdPermissions())) {
        return "cannot write " + temporary.fileName().toStdString();
    }
    const QString wanted = QString::fromStdString(path_);
    const QByteArray from = QFile::encodeName(temporary.fileName());
    // A hard link is made only where no file has the name, so two runs can never take the same
    // one; the temporary name goes with the QTemporaryFile.
    for (int number = 1; number <= kMaxSuffix; ++number) {
        const QString name = numbered(wanted, number);
        if (::link(from.constData(), QFile::encodeName(name).constData()) == 0) {
            path_ = name.toStdString();
            return {};
        }
        if (errno != EEXIST) {
            return std::strerror(errno);
        }
    }
    return "every name up to " + numbered(wanted, kMaxSuffix).toStdString() + " is taken";
}

}  // namespace vardek::check
