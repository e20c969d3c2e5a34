// Measures the control window from outside, side by side with a baseline program, as a user
// feels it: how fast it comes up, how much it holds, how fast a click reaches the wire and
// whether it stays responsive while a flood of datagrams hits its port. It plays the board on
// 127.0.0.1:10001, clicks through the X server with XTest and runs the two programs in turn.
// Before Xlib, whose macros (Success, None, Status) clash with CLI11's names.
#include <CLI/CLI.hpp>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "link/board_protocol.h"
#include "link/udp_socket.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The indicator of the RB5 box: the window's designed place (192, 107) plus the box's place in
// the window (32, 72) plus half the indicator. The baseline puts its box at the same place.
constexpr int kClickX = 192 + 32 + 7;
constexpr int kClickY = 107 + 72 + 8;
// Longer than Qt's double-click interval, so every click is a click of its own.
constexpr auto kClickSpacing = 500ms;
constexpr auto kReplyWait = 3s;

double milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

std::system_error systemError(const std::string& what) {
    return std::system_error(errno, std::generic_category(), what);
}

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A datagram that the played board took, and when.
struct Arrival {
    Clock::time_point at;
    std::vector<std::uint8_t> bytes;
    std::uint16_t port = 0;
};

// The command a datagram carries, taken by the board or not.
std::optional<std::uint8_t> commandOf(const Arrival& arrival) {
    const auto fields = vardek::link::readRequest(arrival.bytes);
    return fields ? std::optional(fields->command) : std::nullopt;
}
bool isStatusRequest(const Arrival& arrival) {
    return commandOf(arrival) == vardek::link::kStatusCommand;
}
// The set and clear commands; the baseline sends their first byte alone.
bool isOutputCommand(const Arrival& arrival) {
    const auto command = commandOf(arrival);
    return command == vardek::link::kSetBitCommand || command == vardek::link::kClearBitCommand;
}

// The board: notes when each datagram arrives and answers status requests with the port B bits
// that the commands have set, as the real board does.
class Board {
  public:
    Board() { socket_.bind({vardek::link::kLoopbackAddress, vardek::link::kBoardPort}); }

    void reset() {
        portB_ = 0;
        statusRequests_.clear();
    }
    const std::vector<Clock::time_point>& statusRequests() const { return statusRequests_; }

    // Takes datagrams until one satisfies `wanted` (and returns it) or the deadline passes.
    std::optional<Arrival> takeUntil(Clock::time_point deadline,
                                     const std::function<bool(const Arrival&)>& wanted) {
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left <= 0ms) {
                return std::nullopt;
            }
            std::array<std::uint8_t, 64> buffer{};
            const auto received =
                socket_.waitReadable(left) ? socket_.receive(buffer) : std::nullopt;
            if (!received) {
                continue;
            }
            const auto size = std::min(received->size, buffer.size());
            Arrival arrival{
                Clock::now(), {buffer.begin(), buffer.begin() + size}, received->from.port};
            answer(arrival, received->from);
            if (wanted && wanted(arrival)) {
                return arrival;
            }
        }
    }
    void idleUntil(Clock::time_point deadline) { takeUntil(deadline, nullptr); }

  private:
    void answer(const Arrival& arrival, const vardek::link::SocketAddress& from) {
        using namespace vardek::link;
        if (isStatusRequest(arrival)) {
            statusRequests_.push_back(arrival.at);
            (void)socket_.sendTo(encodeReply(portB_, 300).bytes, from);
        } else if (const auto request = decodeRequest(arrival.bytes);
                   request &&
                   (request->command == kSetBitCommand || request->command == kClearBitCommand)) {
            const auto bit = static_cast<std::uint8_t>(1U << request->argument);
            portB_ = request->command == kSetBitCommand ? (portB_ | bit) : (portB_ & ~bit);
        }
    }

    vardek::link::UdpSocket socket_;
    std::uint8_t portB_ = 0;
    std::vector<Clock::time_point> statusRequests_;
};

// A program under measurement, started as a process of its own.
class Program {
  public:
    explicit Program(const std::string& path) {
        char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
        started_ = Clock::now();
        const int error = ::posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv, environ);
        if (error != 0) {
            errno = error;
            throw systemError("cannot start " + path);
        }
    }
    ~Program() { stop(); }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    Clock::time_point started() const { return started_; }

    // Resident memory in MiB.
    double residentMiB() const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("VmRSS:", 0) == 0) {
                return std::stod(line.substr(6)) / 1024.0;
            }
        }
        throw std::runtime_error("no VmRSS for process " + std::to_string(pid_));
    }

    // CPU time of all its threads, to the nanosecond.
    std::chrono::nanoseconds cpuTime() const {
        std::chrono::nanoseconds total{0};
        const std::filesystem::path tasks = "/proc/" + std::to_string(pid_) + "/task";
        std::error_code error;
        for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
            std::ifstream schedstat(task.path() / "schedstat");
            long long onCpu = 0;
            if (schedstat >> onCpu) {
                total += std::chrono::nanoseconds(onCpu);
            }
        }
        return total;
    }

    void stop() {
        if (pid_ <= 0) {
            return;
        }
        ::kill(pid_, SIGTERM);
        const auto deadline = Clock::now() + 5s;
        while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        pid_ = 0;
    }

  private:
    pid_t pid_ = 0;
    Clock::time_point started_;
};

// A second process that sends 8-byte datagrams from 127.0.0.1 to a port at a steady rate,
// in batches of one millisecond's worth.
class Flood {
  public:
    Flood(std::uint16_t port, int perSecond) {
        int control[2];
        int result[2];
        if (::pipe2(control, O_CLOEXEC) != 0 || ::pipe2(result, O_CLOEXEC) != 0) {
            throw systemError("cannot make the flood's pipes");
        }
        started_ = Clock::now();
        pid_ = ::fork();
        if (pid_ < 0) {
            throw systemError("cannot start the flood");
        }
        if (pid_ == 0) {
            ::close(control[1]);
            ::close(result[0]);
            run(port, perSecond, control[0], result[1]);
        }
        ::close(control[0]);
        ::close(result[1]);
        stop_ = control[1];
        result_ = result[0];
    }
    ~Flood() { stop(); }
    Flood(const Flood&) = delete;
    Flood& operator=(const Flood&) = delete;

    // Stops the flood; returns the datagrams per second that it sent.
    double stop() {
        if (pid_ <= 0) {
            return 0;
        }
        ::close(stop_);
        std::uint64_t sent = 0;
        if (::read(result_, &sent, sizeof sent) != sizeof sent) {
            sent = 0;
        }
        ::close(result_);
        ::waitpid(pid_, nullptr, 0);
        pid_ = 0;
        return static_cast<double>(sent) /
               std::chrono::duration<double>(Clock::now() - started_).count();
    }

  private:
    [[noreturn]] static void run(std::uint16_t port, int perSecond, int stopFd, int resultFd) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in from = loopback(0);
        const sockaddr_in to = loopback(port);
        if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0 ||
            ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
            ::_exit(1);
        }
        const int batch = std::max(1, perSecond / 1000);
        std::vector<std::array<std::uint8_t, 8>> datagrams(static_cast<std::size_t>(batch));
        std::vector<iovec> vectors(datagrams.size());
        std::vector<mmsghdr> messages(datagrams.size());
        for (std::size_t i = 0; i < datagrams.size(); ++i) {
            vectors[i] = {datagrams[i].data(), datagrams[i].size()};
            messages[i] = {};
            messages[i].msg_hdr.msg_iov = &vectors[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        std::uint64_t sent = 0;
        std::uint16_t counter = 0;
        auto next = Clock::now();
        for (;;) {
            pollfd stop{stopFd, POLLIN, 0};
            if (::poll(&stop, 1, 0) != 0) {
                break;
            }
            for (auto& datagram : datagrams) {
                // A counter in bytes 2 and 3, so that every reply's dump differs.
                ++counter;
                datagram = {0x00,
                            0x00,
                            static_cast<std::uint8_t>(counter >> 8),
                            static_cast<std::uint8_t>(counter),
                            0,
                            0,
                            0,
                            0};
            }
            // A refused or full socket drops the rest of the batch.
            const int taken = ::sendmmsg(fd, messages.data(), static_cast<unsigned>(batch), 0);
            sent += static_cast<std::uint64_t>(std::max(taken, 0));
            next += 1ms;
            const auto now = Clock::now();
            if (now > next + 10ms) {
                next = now;  // fallen behind: keep the rate, do not burst to catch up
            }
            std::this_thread::sleep_until(next);
        }
        (void)!::write(resultFd, &sent, sizeof sent);
        ::_exit(0);
    }

    pid_t pid_ = 0;
    int stop_ = -1;
    int result_ = -1;
    Clock::time_point started_;
};

// Clicks through the X server, as a user's mouse does.
class Clicker {
  public:
    Clicker() {
        display_ = XOpenDisplay(nullptr);
        if (display_ == nullptr) {
            throw std::runtime_error("cannot open the X display (is DISPLAY set?)");
        }
        int event = 0;
        int error = 0;
        int major = 0;
        int minor = 0;
        if (!XTestQueryExtension(display_, &event, &error, &major, &minor)) {
            throw std::runtime_error("the X server has no XTest extension");
        }
    }
    ~Clicker() { XCloseDisplay(display_); }
    Clicker(const Clicker&) = delete;
    Clicker& operator=(const Clicker&) = delete;

    void pointAt(int x, int y) {
        XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
        XSync(display_, False);
    }
    // Presses and releases the first button; returns when the events left for the server.
    Clock::time_point click() {
        XTestFakeButtonEvent(display_, 1, True, CurrentTime);
        XTestFakeButtonEvent(display_, 1, False, CurrentTime);
        const auto sent = Clock::now();
        XFlush(display_);
        return sent;
    }

  private:
    Display* display_ = nullptr;
};

enum Figure {
    kStartUp,
    kResident,
    kClick,
    kFloodClick,
    kFloodPoll,
    kFloodCpu,
    kResidentBeforeFlood,
    kResidentAfterFlood,
    kIdleCpu,
    kFigureCount
};

struct FigureInfo {
    const char* name;
    const char* unit;
};

constexpr std::array<FigureInfo, kFigureCount> kFigures{{
    {"start-up to the first status request", "ms"},
    {"resident memory 2 s after start", "MiB"},
    {"click on RB5 to its command on the wire", "ms"},
    {"the same click during the flood", "ms"},
    {"poll period during the flood", "ms"},
    {"CPU during the flood", "% of a core"},
    {"resident memory before the flood", "MiB"},
    {"resident memory after the flood", "MiB"},
    {"idle CPU while polling", "% of a core"},
}};

using Samples = std::array<std::vector<double>, kFigureCount>;

struct Options {
    std::string program;
    std::string baseline;
    int runs = 5;
    int starts = 10;
    int clicks = 5;
    int floodRate = 100000;
    double floodSeconds = 11;
    double idleSeconds = 30;
    std::string markdown;
};

struct Bench {
    const Options& options;
    Board board;
    Clicker clicker;
    std::vector<double> floodRates;

    std::optional<double> clickLatency() {
        board.idleUntil(Clock::now() + kClickSpacing);
        const auto clicked = clicker.click();
        const auto command = board.takeUntil(clicked + kReplyWait, isOutputCommand);
        if (!command) {
            return std::nullopt;
        }
        return milliseconds(command->at - clicked);
    }

    void clickSeveral(std::vector<double>& into) {
        for (int i = 0; i < options.clicks; ++i) {
            if (const auto latency = clickLatency()) {
                into.push_back(*latency);
            }
        }
    }

    static double cpuShare(std::chrono::nanoseconds cpu, Clock::duration wall) {
        return 100.0 * std::chrono::duration<double>(cpu).count() /
               std::chrono::duration<double>(wall).count();
    }

    static Arrival firstStatusRequest(Board& board, const Program& program,
                                      const std::string& path) {
        auto first = board.takeUntil(program.started() + 10s, isStatusRequest);
        if (!first) {
            throw std::runtime_error(path + " sent no status request within 10 s");
        }
        return *first;
    }

    // From starting the program to its first status request, in ms.
    double startUp(const std::string& path) {
        board.reset();
        const Program program(path);
        const Arrival first = firstStatusRequest(board, program, path);
        return milliseconds(first.at - program.started());
    }

    // Start-up spreads widely on a busy machine, and the load of other programs comes and goes
    // over seconds: the two programs start in turn, one start each at a time, the order swapped
    // every pair, so that both meet the same load. A first start of each is not counted: it
    // finds the libraries and fonts still to be read for whichever goes first.
    void startUps(Samples& program, Samples& baseline) {
        startUp(options.program);
        startUp(options.baseline);
        for (int pair = 0; pair < options.runs * options.starts; ++pair) {
            const bool programFirst = pair % 2 == 0;
            const double first = startUp(programFirst ? options.program : options.baseline);
            const double second = startUp(programFirst ? options.baseline : options.program);
            program[kStartUp].push_back(programFirst ? first : second);
            baseline[kStartUp].push_back(programFirst ? second : first);
        }
    }

    void measure(const std::string& path, Samples& samples) {
        board.reset();
        Program program(path);
        const std::uint16_t programPort = firstStatusRequest(board, program, path).port;

        board.idleUntil(program.started() + 2s);
        samples[kResident].push_back(program.residentMiB());

        clicker.pointAt(kClickX, kClickY);
        clickSeveral(samples[kClick]);
        samples[kResidentBeforeFlood].push_back(program.residentMiB());

        // From right after a poll, so that the flood spans whole poll periods.
        if (!board.takeUntil(Clock::now() + 6s, isStatusRequest)) {
            throw std::runtime_error(path + " stopped polling");
        }
        const std::size_t pollsBefore = board.statusRequests().size();
        const auto cpuBefore = program.cpuTime();
        const auto floodStart = Clock::now();
        Flood flood(programPort, options.floodRate);
        board.idleUntil(floodStart + 200ms);
        clickSeveral(samples[kFloodClick]);
        const auto floodEnd = floodStart + std::chrono::duration_cast<Clock::duration>(
                                               std::chrono::duration<double>(options.floodSeconds));
        board.idleUntil(floodEnd);
        // At least one whole poll period under the flood.
        if (board.statusRequests().size() == pollsBefore) {
            board.takeUntil(Clock::now() + 12s, isStatusRequest);
        }
        const auto cpuAfter = program.cpuTime();
        const auto floodStop = Clock::now();
        floodRates.push_back(flood.stop());
        samples[kFloodCpu].push_back(cpuShare(cpuAfter - cpuBefore, floodStop - floodStart));
        samples[kResidentAfterFlood].push_back(program.residentMiB());
        const auto& polls = board.statusRequests();
        for (std::size_t i = pollsBefore; i < polls.size(); ++i) {
            samples[kFloodPoll].push_back(milliseconds(polls[i] - polls[i - 1]));
        }

        // Let it work off what is left of the flood first.
        board.idleUntil(Clock::now() + 1s);
        const auto idleCpuBefore = program.cpuTime();
        const auto idleStart = Clock::now();
        board.idleUntil(idleStart + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(options.idleSeconds)));
        samples[kIdleCpu].push_back(
            cpuShare(program.cpuTime() - idleCpuBefore, Clock::now() - idleStart));
    }
};

struct Summary {
    double median = 0;
    double min = 0;
    double max = 0;
};

std::optional<Summary> summarise(std::vector<double> values) {
    if (values.empty()) {
        return std::nullopt;
    }
    std::sort(values.begin(), values.end());
    const std::size_t half = values.size() / 2;
    const double median =
        values.size() % 2 == 1 ? values[half] : (values[half - 1] + values[half]) / 2;
    return Summary{median, values.front(), values.back()};
}

std::string format(double value) {
    char text[32];
    const double size = std::fabs(value);
    std::snprintf(text, sizeof text, size < 1 ? "%.3f" : size < 10 ? "%.2f" : "%.1f", value);
    return text;
}

std::string cell(const std::optional<Summary>& summary) {
    if (!summary) {
        return "not measured";
    }
    return format(summary->median) + " (" + format(summary->min) + "–" + format(summary->max) + ")";
}

std::string ratio(const std::optional<Summary>& program, const std::optional<Summary>& baseline) {
    if (!program || !baseline || baseline->median <= 0) {
        return "–";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.2f×", program->median / baseline->median);
    return text;
}

// The Markdown table of every figure; returns false if any figure went unmeasured.
bool table(const Samples& program, const Samples& baseline, std::ostream& out) {
    bool complete = true;
    out << "| Figure | Unit | VARDEK_Control | baseline | ratio |\n"
        << "|---|---|---|---|---|\n";
    for (std::size_t figure = 0; figure < kFigureCount; ++figure) {
        const auto ours = summarise(program[figure]);
        const auto theirs = summarise(baseline[figure]);
        complete = complete && ours && theirs;
        out << "| " << kFigures[figure].name << " | " << kFigures[figure].unit << " | "
            << cell(ours) << " | " << cell(theirs) << " | " << ratio(ours, theirs) << " |\n";
    }
    return complete;
}

}  // namespace

int main(int argc, char* argv[]) {
    Options options;
    CLI::App app{
        "Measures VARDEK_Control against a baseline program; needs an X display and "
        "127.0.0.1:10001 free."};
    app.add_option("--program", options.program, "the control window's executable")->required();
    app.add_option("--baseline", options.baseline, "the baseline program's executable")->required();
    app.add_option("--runs", options.runs, "runs of each program")->check(CLI::PositiveNumber);
    app.add_option("--starts", options.starts, "start-ups measured of each program per run")
        ->check(CLI::PositiveNumber);
    app.add_option("--clicks", options.clicks, "clicks per run, before and during the flood")
        ->check(CLI::PositiveNumber);
    app.add_option("--flood-rate", options.floodRate, "datagrams per second")
        ->check(CLI::Range(1000, 1000000));
    app.add_option("--flood-seconds", options.floodSeconds,
                   "least length of the flood (it spans at least one poll period)")
        ->check(CLI::PositiveNumber);
    app.add_option("--idle-seconds", options.idleSeconds, "length of the idle measurement")
        ->check(CLI::PositiveNumber);
    app.add_option("--markdown", options.markdown, "also write the table to this file");
    CLI11_PARSE(app, argc, argv);

    // The flood's pipe reads the end of the flood; nothing here wants SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
    try {
        Bench bench{options, {}, {}, {}};
        Samples program;
        Samples baseline;
        std::cerr << "bench: start-ups\n";
        bench.startUps(program, baseline);
        for (int run = 0; run < options.runs; ++run) {
            // Alternate which goes first, so neither always finds the machine warmer.
            const bool programFirst = run % 2 == 0;
            std::cerr << "bench: run " << run + 1 << " of " << options.runs << '\n';
            bench.measure(programFirst ? options.program : options.baseline,
                          programFirst ? program : baseline);
            bench.measure(programFirst ? options.baseline : options.program,
                          programFirst ? baseline : program);
        }
        const auto rate = summarise(bench.floodRates);
        std::ostringstream out;
        out << "Runs: " << options.runs << " of each program, interleaved; "
            << options.runs * options.starts
            << " start-ups of each, alternating start by start after one of each not counted; "
            << options.clicks << " clicks per run and phase. Flood: 8-byte datagrams at "
            << options.floodRate << " per second asked, " << (rate ? format(rate->median) : "none")
            << " per second sent (median), for at least " << format(options.floodSeconds)
            << " s and one poll period. Idle: " << format(options.idleSeconds) << " s.\n\n";
        const bool complete = table(program, baseline, out);
        std::cout << out.str();
        if (!options.markdown.empty()) {
            std::ofstream(options.markdown) << out.str();
        }
        if (!complete) {
            std::cerr << "bench: some figures were not measured\n";
            return 1;
        }
    } catch (const std::exception& error) {
        std::cerr << "bench: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
