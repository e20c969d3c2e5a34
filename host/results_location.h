// Where the results store is: a file path (SQLite, the station's own) or a postgresql:// URI (a
// server that a line of stations shares). Read from --results and from the settings file's
// `results` key alike, so both refuse the same values with the same words.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vardek::host {

struct ResultsLocation {
    enum class Kind { File, Server };
    Kind kind = Kind::File;
    std::string text;  // as given, for messages (a password in a URI is left out)
    std::string path;  // File
    // Server: libpq's own names. `host` is a folder for a Unix socket ("/run/postgresql").
    std::string host;
    std::optional<int> port;
    std::string database;
    std::string user;
    std::string password;
};

// Empty when `text` names a store; otherwise why not, as a phrase naming the value.
std::string resultsLocationProblem(std::string_view text);

// The location `text` names; none where resultsLocationProblem finds a problem. A relative
// file path is taken from `base` (the settings file's folder for its key; the working folder for
// --results, where `base` is empty).
std::optional<ResultsLocation> parseResultsLocation(std::string_view text,
                                                    std::string_view base = {});

}  // namespace vardek::host
