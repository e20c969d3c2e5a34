#include "tools/probe/check_files.h"

#include <QByteArray>
#include <QSettings>
#include <QStringDecoder>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/board_settings.h"
#include "link/board_address.h"
#include "link/udp_socket.h"

namespace vardek::probe {

namespace {

// A limits file is a few lines; anything larger is not one.
constexpr off_t kMaxFileSize = 64 * 1024;
// Of a bad value, a message shows no more than this.
constexpr qsizetype kShownValue = 40;

constexpr std::array<const char*, 2> kKeys{"range", "marginal"};

std::string text(const QString& string) { return string.toStdString(); }

std::string shown(const QString& value) {
    return value.size() <= kShownValue ? text(value) : text(value.left(kShownValue)) + "...";
}

std::string knownGroups(const LimitsTable& limits) {
    std::string names;
    for (const auto& entry : limits) {
        names += (names.empty() ? "" : ", ") + entry.first;
    }
    return names;
}

// The file's bytes, or why they cannot be taken. Opened without blocking and looked at before
// any reading, so a FIFO or a device in the file's place cannot hang the probe.
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

// The file's text, or what is wrong with it, naming the option and the file.
std::string readText(const char* option, const std::string& path, QByteArray& bytes) {
    if (std::string problem = readBytes(path, bytes); !problem.empty()) {
        return std::string("cannot read ") + option + ' ' + path + ": " + problem;
    }
    if (std::string problem = checkedText(bytes); !problem.empty()) {
        return std::string(option) + ' ' + path + ' ' + problem;
    }
    return {};
}

// A value as written: INI reads one with commas as a list.
QString written(const QVariant& value) {
    return value.typeId() == QMetaType::QStringList ? value.toStringList().join(QLatin1Char(','))
                                                    : value.toString();
}

}  // namespace

std::string readLimitsFile(const std::string& path, LimitsTable& limits) {
    QByteArray bytes;
    if (std::string problem = readText("--limits", path, bytes); !problem.empty()) {
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
        return file + text(loose.front()) + "=" + shown(written(settings.value(loose.front()))) +
               " is outside a group: each measurement's limits go under its [name]";
    }
    LimitsTable read = limits;
    for (const QString& group : settings.childGroups()) {
        const auto found = read.find(text(group));
        if (found == read.end()) {
            return file + "[" + shown(group) + "] names no measurement (" + knownGroups(read) + ")";
        }
        Limits& bounds = found->second;
        settings.beginGroup(group);
        const QStringList keys = settings.childKeys();
        const QStringList nested = settings.childGroups();
        if (!nested.isEmpty()) {
            return file + "[" + text(group) + "] " + shown(nested.front()) +
                   "/...: unknown key (range or marginal)";
        }
        for (const QString& key : keys) {
            const QString value = written(settings.value(key));
            const std::string where =
                file + "[" + text(group) + "] " + text(key) + "=" + shown(value);
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

std::string readBoardsFile(const std::string& path, std::vector<RackBoard>& boards) {
    QByteArray bytes;
    if (std::string problem = readText("--boards", path, bytes); !problem.empty()) {
        return problem;
    }
    std::vector<RackBoard> read = boards;
    const std::size_t given = read.size();
    const QList<QByteArray> lines = bytes.split('\n');
    for (qsizetype number = 0; number < lines.size(); ++number) {
        const QByteArray line = lines[number];
        const std::string where = path + ':' + std::to_string(number + 1) + ": ";
        // A control character would reach the terminal and the reports as it is.
        const auto control = std::ranges::find_if(line, [](char c) {
            const auto byte = static_cast<unsigned char>(c);
            return (byte < 0x20 && c != '\t' && c != '\r') || byte == 0x7F;
        });
        if (control != line.end()) {
            return where + "holds the control character " + link::quotedForMessage({&*control, 1});
        }
        const qsizetype comment = line.indexOf('#');
        const QList<QByteArray> fields =
            (comment < 0 ? line : line.left(comment)).simplified().split(' ');
        if (fields.front().isEmpty()) {
            continue;
        }
        const std::string address = fields.front().toStdString();
        if (fields.size() > 2) {
            return where + shown(QString::fromUtf8(line.trimmed())) +
                   ": expects an address and, optionally, the unit's serial after it";
        }
        if (std::string problem = link::boardAddressProblem(address); !problem.empty()) {
            return where + problem;
        }
        const std::string serial = fields.size() == 2 ? fields.back().toStdString() : "";
        if (std::string problem = serialProblem(serial); fields.size() == 2 && !problem.empty()) {
            return where + "the serial " + link::quotedForMessage(serial) + ' ' + problem;
        }
        read.push_back({address, serial});
    }
    if (read.size() == given) {
        return "--boards " + path + " names no board";
    }
    if (std::string problem = repeatedBoard(read); !problem.empty()) {
        return "--boards " + path + ": " + problem;
    }
    boards = std::move(read);
    return {};
}

std::string serialProblem(std::string_view serial) {
    if (serial.empty()) {
        return "is empty";
    }
    if (serial.size() > kMaxSerialBytes) {
        return "is " + std::to_string(serial.size()) + " bytes, more than the " +
               std::to_string(kMaxSerialBytes) + " a serial may hold";
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    const QString decoded = utf8.decode(QByteArrayView(serial.data(), qsizetype(serial.size())));
    if (utf8.hasError()) {
        return "is not UTF-8 text";
    }
    // What no JSON or XML reader takes, what a terminal acts on, and what would split the
    // serial in a --boards line.
    for (const char32_t c : decoded.toUcs4()) {
        const bool control = c < 0x20 || (c >= 0x7F && c < 0xA0);
        const bool space = QChar::isSpace(c);
        if (control || space || QChar::isNonCharacter(c)) {
            return "holds " +
                   std::string(control ? "a control character"
                               : space ? "a space"
                                       : "a noncharacter") +
                   " (U+" + QString::number(c, 16).toUpper().rightJustified(4, u'0').toStdString() +
                   ")";
        }
    }
    return {};
}

std::string repeatedBoard(const std::vector<RackBoard>& boards) {
    std::map<std::uint32_t, const RackBoard*> seen;
    std::map<std::string_view, const RackBoard*> serials;
    for (const RackBoard& board : boards) {
        // One unit in two slots would leave two records under one serial, one of them false.
        if (!board.dutId.empty()) {
            if (const auto [first, fresh] = serials.emplace(board.dutId, &board); !fresh) {
                return "the serial " + board.dutId + " is given twice, to " +
                       first->second->address + " and " + board.address;
            }
        }
        const auto address = link::parseIpv4(board.address);
        if (!address) {
            continue;
        }
        if (const auto [first, fresh] = seen.emplace(*address, &board); !fresh) {
            const auto named = [](const RackBoard& b) {
                return b.dutId.empty() ? b.address : b.address + " (" + b.dutId + ")";
            };
            return "the board " + named(board) + " is named twice, also as " +
                   named(*first->second) + ": one board is checked once";
        }
    }
    return {};
}

}  // namespace vardek::probe
