// The limits file that vardek-probe check and vardek-trend read (--limits FILE): the limits
// and marginal bounds of its measurements, one INI group each, read with QSettings as the
// settings file is:
//
//   [RA5]
//   range=15:35
//   marginal=18:32
#pragma once

#include <QByteArray>

#include <string>

#include "limits/limits.h"

namespace vardek::limits {

// Sets the limits that `path` gives over those in `limits`, whose names are the only groups it
// may hold. Returns what is wrong, naming the file, the group, the key and the value, or an
// empty text; on a problem `limits` is left as it was.
std::string readLimitsFile(const std::string& path, LimitsTable& limits);

// A small text file given by an option: its bytes, or what is wrong, naming the option and the
// file. Refused unless it is a regular file of UTF-8 text no larger than 64 KiB; a FIFO or a
// device in its place cannot hang the reader.
std::string readOptionText(const char* option, const std::string& path, QByteArray& bytes);

// Of a bad value, a message shows no more than its first 40 characters.
std::string shownValue(const QString& value);

}  // namespace vardek::limits
