#include "host/board_settings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/language.h"
#include "host/regular_file.h"
#include "host/results_location.h"
#include "link/board_address.h"

namespace vardek::host {

namespace {

// A key the file may set, and the check of its value.
struct Key {
    std::string_view name;
    std::string_view role;  // what the value does, for the message on a bad one
    // Empty when the value will do; otherwise why not, as a phrase that names the value.
    std::string (*problem)(std::string_view value);
};

// A path or a name: empty is the one value that names nothing.
std::string nothingProblem(std::string_view value) {
    return value.empty() ? "an empty value names nothing" : "";
}

// Every key the file may set, outside any section (or under [General], which is the same to
// QSettings). A key or a section not listed is refused by name: a misspelt `Board=` would
// otherwise leave the built-in board in place without a word.
constexpr std::array kKeys{
    Key{kBoardKey, "name the board", &link::boardAddressProblem},
    Key{kLanguageKey, "name a language", &languageNameProblem},
    Key{kResultsKey, "name the results store", &resultsLocationProblem},
    Key{kBoardsKey, "name the rack file", &nothingProblem},
    Key{kLimitsKey, "name the limits file", &nothingProblem},
    Key{kStationKey, "name the station", &nothingProblem},
    Key{kReportDirKey, "name the report folder", &nothingProblem},
};

const Key* knownKey(std::string_view name) {
    const auto found = std::ranges::find(kKeys, name, &Key::name);
    return found == kKeys.end() ? nullptr : &*found;
}

std::string knownKeyNames() {
    std::string names;
    for (const Key& key : kKeys) {
        names += names.empty() ? "" : ", ";
        names += key.name;
    }
    return names;
}

std::string tooLarge(off_t size) {
    return "is " + std::to_string(size) + " bytes, more than the " +
           std::to_string(kMaxSettingsBytes) + " a settings file may hold";
}

// The file's bytes; `problem` says why they cannot be had, and neither is set when there is no
// file at all.
struct Contents {
    bool exists = true;
    std::string bytes;
    std::string problem;
};

Contents readContents(const std::string& path) {
    OpenedFile opened = openRegularFile(path, O_RDONLY);
    if (opened.missing) {
        return {false, {}, {}};
    }
    if (!opened.problem.empty()) {
        return {true, {}, opened.problem};
    }
    const int fd = opened.fd.get();
    Contents contents;
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        contents.problem = "cannot be read: " + std::string(std::strerror(errno));
    } else if (static_cast<std::size_t>(status.st_size) > kMaxSettingsBytes) {
        contents.problem = tooLarge(status.st_size);
    }
    // One byte beyond the limit tells a file that grew since fstat.
    std::array<char, 4096> chunk{};
    while (contents.problem.empty()) {
        const ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            contents.problem = "cannot be read: " + std::string(std::strerror(errno));
        } else if (got == 0) {
            break;
        } else if (contents.bytes.size() + std::size_t(got) > kMaxSettingsBytes) {
            contents.problem = tooLarge(off_t(contents.bytes.size()) + got);
        } else {
            contents.bytes.append(chunk.data(), std::size_t(got));
        }
    }
    return contents;
}

// key=value as the user wrote it, a long value cut short.
std::string assignment(std::string_view key, std::string_view value) {
    return std::string(key) + "=" +
           (value.size() <= link::kShownBytes ? std::string(value) : link::quotedForMessage(value));
}

}  // namespace

std::string iniTextProblem(std::string_view text) {
    std::size_t number = 0;
    // Where each section and each key of a section was first given: QSettings keeps the last
    // of two silently, so a second is refused instead of one of them going unread.
    std::map<std::string, std::size_t> sections;
    std::map<std::string, std::size_t> keys;
    std::string section;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        const std::string at = " on line " + std::to_string(++number);
        for (const char c : line) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte == 0) {
                return "holds a NUL byte" + at;
            }
            if ((byte < 0x20 && c != '\t' && c != '\r') || byte == 0x7F) {
                return "holds binary data: the control character " +
                       link::quotedForMessage({&c, 1}) + at;
            }
        }
        // Stateless: a sequence cut off at the line's end is an error, not a wait for more.
        QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
        const QString decoded = utf8(QByteArrayView(line.data(), qsizetype(line.size())));
        if (utf8.hasError()) {
            return "is not UTF-8 text (line " + std::to_string(number) + ")";
        }
        const QString trimmed = decoded.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(u';') || trimmed.startsWith(u'#')) {
            continue;
        }
        if (trimmed.startsWith(u'[') ? !trimmed.endsWith(u']') : !trimmed.contains(u'=')) {
            return "line " + std::to_string(number) + " is neither key=value nor [section]: " +
                   link::quotedForMessage(trimmed.toStdString());
        }
        if (trimmed.startsWith(u'[')) {
            section = trimmed.mid(1, trimmed.size() - 2).trimmed().toStdString();
            if (const auto [first, fresh] = sections.emplace(section, number); !fresh) {
                return "line " + std::to_string(number) + " repeats " +
                       link::quotedForMessage("[" + section + "]") + " of line " +
                       std::to_string(first->second) + ": each section is given once";
            }
            continue;
        }
        const std::string key = trimmed.left(trimmed.indexOf(u'=')).trimmed().toStdString();
        const std::string where = section.empty() ? key : "[" + section + "] " + key;
        if (const auto [first, fresh] = keys.emplace(where, number); !fresh) {
            return "line " + std::to_string(number) + " sets " + link::quotedForMessage(where) +
                   " again, as line " + std::to_string(first->second) +
                   " did: each key is given once";
        }
    }
    return {};
}

Settings Settings::read() {
    // GenericConfigLocation follows $XDG_CONFIG_HOME, and ~/.config without it.
    const QString file =
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
            .filePath(QStringLiteral("vardek-control/vardek-control.conf"));
    Settings sound;
    sound.file_ = file.toStdString();
    const auto refuse = [&sound](const std::string& problem) {
        Settings refused;
        refused.file_ = sound.file_;
        refused.problem_ = sound.file_ + ": " + problem;
        return refused;
    };

    const Contents contents = readContents(sound.file_);
    if (!contents.exists) {
        return sound;
    }
    if (!contents.problem.empty()) {
        return refuse(contents.problem);
    }
    if (const std::string problem = iniTextProblem(contents.bytes); !problem.empty()) {
        return refuse(problem);
    }
    const QSettings settings(file, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        return refuse(settings.status() == QSettings::AccessError ? "cannot be read"
                                                                  : "is not in INI form");
    }
    for (const QString& name : settings.allKeys()) {
        const std::string key = name.toStdString();
        const Key* known = knownKey(key);
        if (known == nullptr) {
            const auto slash = key.rfind('/');
            return refuse(slash == std::string::npos
                              ? "unknown key " + link::quotedForMessage(key) +
                                    " (the file may set " + knownKeyNames() + ")"
                              : "unknown section " +
                                    link::quotedForMessage(
                                        std::string("[").append(key, 0, slash).append("]")) +
                                    " (the file's keys, " + knownKeyNames() +
                                    ", stand before any section)");
        }
        const QVariant value = settings.value(name);
        // INI reads a value with commas as a list; shown as written, it is refused below.
        std::string text =
            (value.typeId() == QMetaType::QStringList ? value.toStringList().join(QLatin1Char(','))
                                                      : value.toString())
                .toStdString();
        if (const std::string problem = known->problem(text); !problem.empty()) {
            return refuse(assignment(key, text) + " cannot " + std::string(known->role) + ": " +
                          problem);
        }
        sound.values_.emplace(key, std::move(text));
    }
    return sound;
}

std::optional<std::string> Settings::value(std::string_view key) const {
    const auto found = values_.find(key);
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

ChosenBoard defaultBoard(std::string_view builtIn) {
    const Settings settings = Settings::read();
    if (!settings.problem().empty()) {
        return {std::string(builtIn), settings.file(), settings.problem()};
    }
    if (std::optional<std::string> address = settings.value(kBoardKey)) {
        return {std::move(*address), settings.file(), {}};
    }
    return {std::string(builtIn), {}, {}};
}

ChosenBoard chooseBoard(const std::optional<std::string>& commandLine, std::string_view builtIn) {
    if (!commandLine) {
        return defaultBoard(builtIn);
    }
    const std::string problem = link::boardAddressProblem(*commandLine);
    return {*commandLine, {}, problem.empty() ? problem : "--board " + problem};
}

ChosenLanguage chooseLanguage(const std::optional<std::string>& commandLine) {
    if (commandLine) {
        return {*commandLine, {}, {}};
    }
    const Settings settings = Settings::read();
    if (!settings.problem().empty()) {
        return {std::nullopt, settings.file(), settings.problem()};
    }
    std::optional<std::string> name = settings.value(kLanguageKey);
    return {name, name ? settings.file() : std::string(), {}};
}

ChosenResults chooseResults(const std::optional<std::string>& commandLine) {
    if (commandLine) {
        return {*commandLine, {}, {}};
    }
    const Settings settings = Settings::read();
    if (!settings.problem().empty()) {
        return {std::nullopt, settings.file(), settings.problem()};
    }
    std::optional<std::string> location = settings.value(kResultsKey);
    return {location, location ? settings.file() : std::string(), {}};
}

std::optional<std::string> settingsValue(std::string_view key, bool isPath, std::string& problem) {
    const Settings settings = Settings::read();
    if (!settings.problem().empty()) {
        problem = settings.problem();
        return std::nullopt;
    }
    std::optional<std::string> value = settings.value(key);
    if (value && isPath) {
        value = QDir(QFileInfo(QString::fromStdString(settings.file())).path())
                    .filePath(QString::fromStdString(*value))
                    .toStdString();
    }
    return value;
}

std::optional<ResultsLocation> chooseResultsLocation(const std::optional<std::string>& commandLine,
                                                     std::string& problem) {
    const ChosenResults chosen = chooseResults(commandLine);
    if (!chosen.problem.empty()) {
        problem = chosen.problem;
        return std::nullopt;
    }
    if (!chosen.location) {
        return std::nullopt;
    }
    // A relative path in the settings file is the file's folder's; --results' is the working
    // folder's.
    const std::string base =
        chosen.file.empty() ? ""
                            : QFileInfo(QString::fromStdString(chosen.file)).path().toStdString();
    auto location = parseResultsLocation(*chosen.location, base);
    if (!location) {
        problem = "--results " + resultsLocationProblem(*chosen.location);
    }
    return location;
}

}  // namespace vardek::host
