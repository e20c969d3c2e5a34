// The files that check reads. --limits FILE is the shared limits file (limits/limits_file.h);
// --boards FILE: a rack of boards, one address a line, optionally the unit's serial after it,
// '#' starting a comment:
//
//   127.0.0.2  SN0042   # slot 1
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "check/measurement.h"
#include "limits/limits_file.h"

namespace vardek::check {

using limits::LimitsTable;
using limits::readLimitsFile;

// One board of a rack that check tests at once.
struct RackBoard {
    std::string address;  // as link::boardAddressProblem accepts it
    std::string dutId;    // empty when not given
};

// A unit's serial, from --dut-id or a --boards file: 1 to 64 bytes of UTF-8 without control
// characters, spaces or noncharacters, as every report, file name and terminal takes it. Empty
// when it will do; otherwise why not, as a phrase that follows the serial.
inline constexpr std::size_t kMaxSerialBytes = 64;
std::string serialProblem(std::string_view serial);

// A board named twice, by --board or the --boards file: two checks of one board would switch its
// outputs at once and report each other's changes as faults; or a serial given twice. Empty
// when each is named once.
std::string repeatedBoard(const std::vector<RackBoard>& boards);

// Adds the boards that `path` lists to `boards`. Returns what is wrong, naming the file, the
// line and its text, or an empty text; on a problem `boards` is left as it was.
std::string readBoardsFile(const std::string& path, std::vector<RackBoard>& boards);

}  // namespace vardek::check
