// The exit statuses that mean the same in every program of the project. A program's statuses of
// its own (the probe's, which a script tells apart) are numbered after these.
#pragma once

namespace vardek::cli {

inline constexpr int kSucceeded = 0;
// The program ran and did not do what was asked: a file that cannot be read or written, a socket
// that cannot be opened.
inline constexpr int kFailed = 1;
// The command line, the settings file or the language it names cannot be used; nothing was done.
inline constexpr int kBadUsage = 2;

}  // namespace vardek::cli
