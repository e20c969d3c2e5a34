// `vardek-probe check`: a board's self-test, one verdict per check, for a bench or a test jig.
//
// The checks speak to the board only through CheckedBoard, so their sequence and verdicts live
// here and the socket, the retries and the signals stay with the probe.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "board_protocol.h"
#include "udp_socket.h"

namespace vardek::probe {

using Milliseconds = std::chrono::duration<double, std::milli>;

// What came back for one request, after its retries.
struct Answer {
    enum class Kind {
        Reply,      // an 8-byte reply
        WrongSize,  // the board answered with a datagram of another size
        NoReply,    // nothing after every try
        NotSent,    // the system refused the send
        Stopped,    // SIGINT or SIGTERM arrived
    };
    Kind kind = Kind::NoReply;
    link::Reply reply;
    std::size_t size = 0;  // the answer's size, for Reply and WrongSize
    Milliseconds roundTrip{};
    link::SocketAddress from;         // who sent it, for Reply and WrongSize
    std::vector<std::uint8_t> bytes;  // as far as they came, for Reply and WrongSize
};

class CheckedBoard {
  public:
    virtual ~CheckedBoard() = default;
    // One request, tried as the probe's --timeout and --retries say. With `evenIfStopped` a
    // signal does not cut the exchange short: putting the outputs back must still happen.
    virtual Answer ask(const link::Request& request, bool evenIfStopped = false) = 0;
    // Every datagram that came from the board so far, by size, those that came too late for
    // their request included.
    virtual const std::map<std::size_t, unsigned>& datagramSizes() const = 0;
};

struct CheckSettings {
    std::uint32_t count = 5;  // status requests of the reachable check
    bool outputs = false;     // switch RB2..RB7; they drive whatever is wired to them
    std::uint16_t adcMax = 1023;
    double lowestCelsius = 0;
    double highestCelsius = 60;
    std::string temperatureRange = "0:60";  // as given, for the messages
};

enum class Verdict { Pass, Fail, Skip };

struct CheckResult {
    std::string name;
    Verdict verdict = Verdict::Skip;
    std::string detail;
    // The measured values for --json: a field name and its JSON text each.
    std::vector<std::pair<std::string, std::string>> values;
    std::chrono::duration<double> duration{};
};

struct CheckRun {
    enum class End { Finished, NotSent, Stopped };

    End end = End::Finished;
    bool answered = false;             // any datagram at all came from the board
    std::vector<CheckResult> results;  // in order, once finished
    std::string restored;  // after a stop in the outputs check: what became of the outputs
};

// Runs reachable, reply-size, outputs, analogue and inputs, in that order.
CheckRun runChecks(CheckedBoard& board, const CheckSettings& settings);

// "LO:HI" in degrees Celsius, each with an optional sign and decimals, LO not above HI.
bool parseTemperatureRange(std::string_view text, double& low, double& high);

const char* verdictText(Verdict verdict);  // "PASS", "FAIL" or "SKIP"

// A person's line: the name, the verdict and the detail in columns.
std::string humanLine(const CheckResult& result);
std::string jsonLine(const CheckResult& result);
std::string summaryLine(const CheckRun& run, const std::string& board, bool json);

// One testsuite named after the board, one testcase per check.
std::string junitReport(const CheckRun& run, const std::string& board);

}  // namespace vardek::probe
