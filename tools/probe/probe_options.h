// vardek-probe's command line.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "check/board_check.h"
#include "check/check_files.h"
#include "cli/parsed_command_line.h"
#include "host/board_settings.h"
#include "link/board_protocol.h"
#include "readings/sample.h"

namespace vardek::probe {

// check's engine, named here as the probe has always named it.
using check::CheckSettings;
using check::Limits;
using check::RackBoard;

inline constexpr std::string_view kProgramName = "vardek-probe";

enum class Command { Status, Set, Clear, Read, Watch, Check, Results };

struct ProbeOptions {
    std::string board;  // a board's address, as link::boardAddressProblem accepts it
    std::uint16_t port = link::kBoardPort;
    std::uint32_t timeoutMs = 500;  // per try
    std::uint32_t retries = 2;      // tries after the first
    bool json = false;
    bool anySender = false;
    Command command = Command::Status;
    std::uint8_t bit = 0;                               // set and clear: RB2..RB7
    const link::Channel* channel = nullptr;             // read
    std::uint32_t intervalMs = 5000;                    // watch
    std::optional<std::uint32_t> count;                 // watch: none runs until Ctrl-C
    std::optional<std::chrono::milliseconds> duration;  // watch: none runs until Ctrl-C
    // watch's readings log: the pins read in each sample, CSV for JSON Lines, and the file it
    // is appended to (standard output without one).
    std::optional<readings::Pins> readPins;
    bool csv = false;
    std::string outputPath;
    CheckSettings check;                     // check, its limits as built in
    std::string limitsPath;                  // check: --limits FILE; empty for none
    std::optional<double> adcMax;            // check: --adc-max, over the limits file
    std::optional<Limits> temperatureRange;  // check: --temp-range, over the limits file
    std::string junitPath;                   // check: empty writes no JUnit report
    std::string reportDir;                   // check: empty writes no report per unit
    std::string dutId;                       // check: the unit's serial number
    std::string station;
    std::string operatorName;
    // check: the boards, in the order given (--board, repeatable, else `board`), before the
    // --boards file's, which readCheckFiles adds.
    std::vector<RackBoard> boards;
    std::string boardsPath;          // check: --boards FILE; empty for none
    bool ask = false;                // check: the operator confirms each output set
    std::uint32_t askTimeoutS = 30;  // check: how long each answer may take
    // check and results: --results, a file path or a postgresql:// URI; none takes the
    // settings file's `results`.
    std::optional<std::string> results;
    // results: the answer (yield, pareto, cpk or units) or import, empty for --sync alone; the
    // folder to import; the records asked about (--since and --until as given, checked to be
    // UTC times; --station and --operator above) and their grouping (--by).
    std::string resultsAnswer;
    std::string importDir;
    bool sync = false;
    std::string since;
    std::string until;
    std::string serial;
    std::string by;
};

using ParsedCommandLine = cli::ParsedCommandLine<ProbeOptions>;

// `args` leaves out the program name; `defaultBoard` is the board when --board names none.
ParsedCommandLine parseCommandLine(std::span<const std::string_view> args,
                                   const host::ChosenBoard& defaultBoard);

// Reads check's files: the --boards file's boards after those of the command line, and the
// limits (those built in, then the --limits file's, then --adc-max and --temp-range). Returns
// what is wrong with a file, naming it, or an empty text.
std::string readCheckFiles(ProbeOptions& options);

std::string usageText();
std::string helpText(const host::ChosenBoard& defaultBoard);

}  // namespace vardek::probe
