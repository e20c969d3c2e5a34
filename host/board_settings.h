// The user's settings file, $XDG_CONFIG_HOME/vardek-control/vardek-control.conf (INI), read by
// every program of the project through this one code, so that all of them talk to the same
// board and refuse the same files.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "host/results_location.h"

namespace vardek::host {

// The board's IPv4 address, when the command line names none.
inline constexpr std::string_view kBoardKey = "board";

// The language the window speaks, when the command line names none (host/language.h).
inline constexpr std::string_view kLanguageKey = "language";

// The results store that check records every unit in, when the command line names none
// (host/results_location.h).
inline constexpr std::string_view kResultsKey = "results";

// What vardek-station tests, when its command line names none: the rack file, the limits file,
// the station's name and the report folder (a relative path from the settings file's folder).
inline constexpr std::string_view kBoardsKey = "boards";
inline constexpr std::string_view kLimitsKey = "limits";
inline constexpr std::string_view kStationKey = "station";
inline constexpr std::string_view kReportDirKey = "report_dir";

// Above this, a file is no settings file: a 10 MB value would hang the window laying it out.
inline constexpr std::size_t kMaxSettingsBytes = 64 * 1024;

// The file, read once and checked whole: a file that cannot be read, is not a regular file, is
// too large, is not UTF-8 text, or holds a line, a section, a key or a value that the programs do
// not take, is refused with the reason, never passed over for the built-in default.
class Settings {
  public:
    // Reads the user's file. A file that is not a regular file (a FIFO, a directory, a device) is
    // never opened for reading, so nothing in the file's place can hold the program up.
    static Settings read();

    // The settings file's path, whether or not it exists.
    const std::string& file() const { return file_; }
    // Why the file cannot be used, as a message naming it; empty when it is sound or absent.
    const std::string& problem() const { return problem_; }
    // A known key's value, as written; none when the file does not set it or has a problem.
    std::optional<std::string> value(std::string_view key) const;

  private:
    std::string file_;
    std::string problem_;
    std::map<std::string, std::string, std::less<>> values_;
};

// What QSettings passes over without a word in an INI file's text: a NUL, and everything after
// it on the line; bytes that are not UTF-8, read as U+FFFD; a control character; a line that is
// neither key=value, [section], a comment nor blank, dropped; a section or a key given twice, the
// last taking the first's place. Each is refused, naming the line, so that the value checked is
// the value written and a line of junk is never taken for nothing. Empty when there is none.
std::string iniTextProblem(std::string_view text);

// The board a program talks to, and where its address came from.
struct ChosenBoard {
    std::string address;
    std::string file;  // the settings file that gave the address, or was refused; else empty
    // Empty when the address may name a board. Otherwise the reason for refusing to start: for
    // --board its problem, for the settings file a message naming the file and, for a bad
    // value, the key and the value.
    std::string problem;
};

// The board when the command line names none: the settings file's, else `builtIn`.
ChosenBoard defaultBoard(std::string_view builtIn);

// The board a run talks to, chosen and checked as the window does: --board's address when the
// command line gives one (`commandLine`; the settings file is then not read), else
// defaultBoard's.
ChosenBoard chooseBoard(const std::optional<std::string>& commandLine, std::string_view builtIn);

// The language asked for, and where the name came from.
struct ChosenLanguage {
    std::optional<std::string> name;  // none: the program's own choice
    std::string file;                 // the settings file that named it, or was refused; else empty
    // Empty unless the settings file was refused: then a message naming it.
    std::string problem;
};

// The language a run is asked to speak: --language's name when the command line gives one
// (`commandLine`; the settings file is then not read), else the settings file's `language`.
ChosenLanguage chooseLanguage(const std::optional<std::string>& commandLine);

// The results store asked for, and where its name came from.
struct ChosenResults {
    std::optional<std::string> location;  // none: no store
    // The settings file that named it, or was refused; else empty. A relative path in it is
    // taken from the file's folder.
    std::string file;
    // Empty unless the settings file was refused: then a message naming it.
    std::string problem;
};

// The store a run records into: --results' location when the command line gives one (the
// settings file is then not read), else the settings file's `results`.
ChosenResults chooseResults(const std::optional<std::string>& commandLine);

// The settings file's `key`, for a program whose command line left it out: a path (`isPath`)
// taken from the file's folder where it is relative; none when the file does not set it.
// `problem` names a settings file refused.
std::optional<std::string> settingsValue(std::string_view key, bool isPath, std::string& problem);

// The store that chooseResults() names, its location read; none when nothing names one.
// `problem` names what is wrong with either; the store is not opened.
std::optional<ResultsLocation> chooseResultsLocation(const std::optional<std::string>& commandLine,
                                                     std::string& problem);

}  // namespace vardek::host
