// --limits FILE: the limits and marginal bounds of check's measurements, one INI group each,
// read with QSettings as the settings file is:
//
//   [RA5]
//   range=15:35
//   marginal=18:32
#pragma once

#include <functional>
#include <map>
#include <string>

#include "measurement.h"

namespace vardek::probe {

// The measurements whose limits a person may set, by name, each with its limits so far.
using LimitsTable = std::map<std::string, Limits, std::less<>>;

// Sets the limits that `path` gives over those in `limits`, whose names are the only groups it
// may hold. Returns what is wrong, naming the file, the group, the key and the value, or an
// empty text; on a problem `limits` is left as it was.
std::string readLimitsFile(const std::string& path, LimitsTable& limits);

}  // namespace vardek::probe
