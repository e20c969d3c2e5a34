#include "limits/limits_file.h"

#include <QSettings>
#include <QStringDecoder>
#include <QStringList>

#include <array>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/board_settings.h"

namespace vardek::limits {

namespace {

constexpr qsizetype kShownValue = 40;

// A limits file is a few lines; anything larger is not one.
constexpr off_t kMaxFileSize = 64 * 1024;

constexpr std::array<const char*, 2> kKeys{"range", "marginal"};

std::string text(const QString& string) { return string.toStdString(); }

std::string knownGroups(const LimitsTable& limits) {
    std::string names;
    for (const auto& entry : limits) {
        names += (names.empty() ? "" : ", ") + entry.first;
    }
    return names;
}

// The file's bytes, or why they cannot be taken. Opened without blocking and looked at before
// any reading, so a FIFO or a device in the file's place cannot hang the program.
std::string readBytes(const std::string& path, QByteArray& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return std::strerror(errno);
    }
    std::string problem;
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        problem = std::strerror(errno);
    } else if (!S_ISREG(status.st_mode)) {
        problem = "not a regular file";
    } else if (status.st_size > kMaxFileSize) {
        problem = "larger than 64 KiB, too large for a limits file";
    } else {
        bytes.resize(qsizetype(status.st_size));
        const ssize_t got = ::read(fd, bytes.data(), std::size_t(bytes.size()));
        if (got < 0) {
            problem = std::strerror(errno);
        } else {
            bytes.truncate(got);
        }
    }
    ::close(fd);
    return problem;
}

// Bytes that are not UTF-8 or hold what no line of text does. Decoded whole, so that the
// decoder's verdict is had: a byte the decoder took for U+FFFD would otherwise pass.
std::string checkedText(const QByteArray& bytes) {
    if (bytes.contains('\0')) {
        return "holds a NUL byte, so it is no text";
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    const QString decoded = utf8.decode(bytes);
    return utf8.hasError() ? "is not UTF-8 text" : "";
}

// A value as written: INI reads one with commas as a list.
QString written(const QVariant& value) {
    return value.typeId() == QMetaType::QStringList ? value.toStringList().join(QLatin1Char(','))
                                                    : value.toString();
}

}  // namespace

std::string shownValue(const QString& value) {
    return value.size() <= kShownValue ? text(value) : text(value.left(kShownValue)) + "...";
}

std::string readOptionText(const char* option, const std::string& path, QByteArray& bytes) {
    if (std::string problem = readBytes(path, bytes); !problem.empty()) {
        return std::string("cannot read ") + option + ' ' + path + ": " + problem;
    }
    if (std::string problem = checkedText(bytes); !problem.empty()) {
        return std::string(option) + ' ' + path + ' ' + problem;
    }
    return {};
}

std::string readLimitsFile(const std::string& path, LimitsTable& limits) {
    QByteArray bytes;
    if (std::string problem = readOptionText("--limits", path, bytes); !problem.empty()) {
        return problem;
    }
    // The same lines as the settings file: a line QSettings would drop leaves a built-in limit
    // in its place, and a unit passes on a limit nobody gave.
    if (std::string problem = host::iniTextProblem(bytes.toStdString()); !problem.empty()) {
        return "--limits " + path + ' ' + problem;
    }
    QSettings settings(QString::fromStdString(path), QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        return "--limits " + path + " is not an INI file";
    }
    const std::string file = path + ": ";
    // Keys before the first group land in [General], which names no measurement.
    if (const QStringList loose = settings.childKeys(); !loose.isEmpty()) {
        return file + text(loose.front()) + "=" +
               shownValue(written(settings.value(loose.front()))) +
               " is outside a group: each measurement's limits go under its [name]";
    }
    LimitsTable read = limits;
    for (const QString& group : settings.childGroups()) {
        const auto found = read.find(text(group));
        if (found == read.end()) {
            return file + "[" + shownValue(group) + "] names no measurement (" + knownGroups(read) +
                   ")";
        }
        Limits& bounds = found->second;
        settings.beginGroup(group);
        const QStringList keys = settings.childKeys();
        const QStringList nested = settings.childGroups();
        if (!nested.isEmpty()) {
            return file + "[" + text(group) + "] " + shownValue(nested.front()) +
                   "/...: unknown key (range or marginal)";
        }
        for (const QString& key : keys) {
            const QString value = written(settings.value(key));
            const std::string where =
                file + "[" + text(group) + "] " + text(key) + "=" + shownValue(value);
            const bool isRange = key == QLatin1String(kKeys[0]);
            if (!isRange && key != QLatin1String(kKeys[1])) {
                return where + ": unknown key (range or marginal)";
            }
            auto& low = isRange ? bounds.low : bounds.marginalLow;
            auto& high = isRange ? bounds.high : bounds.marginalHigh;
            if (!parseRange(text(value), low, high)) {
                return where +
                       ": expects LO:HI, each a number or left out for no bound, LO not above HI";
            }
        }
        settings.endGroup();
        // Marginal bounds outside the limits would never warn of anything.
        const bool lowOutside =
            bounds.marginalLow && bounds.low && *bounds.marginalLow < *bounds.low;
        const bool highOutside =
            bounds.marginalHigh && bounds.high && *bounds.marginalHigh > *bounds.high;
        if (lowOutside || highOutside) {
            return file + "[" + text(group) +
                   "] marginal=" + rangeText(bounds.marginalLow, bounds.marginalHigh) +
                   " is not within range=" + rangeText(bounds.low, bounds.high);
        }
    }
    limits = std::move(read);
    return {};
}

}  // namespace vardek::limits
