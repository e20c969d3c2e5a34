#include "tools/trend/trend_options.h"

#include <charconv>

#include "cli/command_line.h"
#include "readings/sample.h"

namespace vardek::trend {

namespace {

// The options that only one of the two runs takes.
constexpr std::string_view kLiveOnly[] = {"--board", "--interval", "--timeout", "--read", "--log"};
constexpr std::string_view kFileOnly[] = {"--follow", "--export", "--size"};

CLI::Validator pins(std::vector<std::size_t>& chosen) {
    return CLI::Validator(
        [&chosen](const std::string& text) -> std::string {
            const auto given = readings::parsePins(text);
            if (!given) {
                return "expects " + std::string(readings::kPinsForm) + ", not '" + text + "'";
            }
            chosen.clear();
            for (std::size_t pin = 0; pin < given->size(); ++pin) {
                if (given->test(pin)) {
                    chosen.push_back(pin);
                }
            }
            return {};
        },
        "PINS");
}

CLI::Validator span(std::optional<std::int64_t>& windowMs) {
    return CLI::Validator(
        [&windowMs](const std::string& text) -> std::string {
            if (text == "all") {
                windowMs = 0;
            } else if (const auto given = readings::parseDuration(text)) {
                windowMs = given->count();
            } else {
                return "expects " + std::string(readings::kDurationForm) + ", or all, not '" +
                       text + "'";
            }
            return {};
        },
        "SPAN");
}

// WIDTHxHEIGHT, each in decimal, from 200x150 to 16384x16384.
CLI::Validator imageSize(QSize& size) {
    return CLI::Validator(
        [&size](const std::string& text) -> std::string {
            const char* const end = text.data() + text.size();
            int width = 0;
            int height = 0;
            const auto [x, widthError] = std::from_chars(text.data(), end, width);
            const bool sound = widthError == std::errc{} && x != end && *x == 'x' &&
                               std::from_chars(x + 1, end, height).ptr == end && x + 1 != end &&
                               text.front() != '-' && x[1] != '-';
            if (!sound || width < 200 || height < 150 || width > 16384 || height > 16384) {
                return "expects WIDTHxHEIGHT in pixels, from 200x150 to 16384x16384, not '" + text +
                       "'";
            }
            size = QSize(width, height);
            return {};
        },
        "WxH");
}

QString local(const std::string& text) { return QString::fromLocal8Bit(text); }

// What the options say of each other, once each is sound alone.
std::string conflict(const CLI::App& app, bool live) {
    const auto given = [&app](std::string_view name) {
        return app.get_option(std::string(name))->count() > 0;
    };
    for (const std::string_view name : kLiveOnly) {
        if (!live && given(name)) {
            return std::string(name) + " is for sampling a board live, not for a log file";
        }
    }
    for (const std::string_view name : kFileOnly) {
        if (live && given(name)) {
            return std::string(name) + " needs a log file";
        }
    }
    if (given("--follow") && given("--export")) {
        return "--follow and --export do not go together: an export draws the file as it stands";
    }
    if (given("--size") && !given("--export")) {
        return "--size is for --export";
    }
    return {};
}

}  // namespace

ParsedOptions parseOptions(std::span<const std::string_view> args) {
    ParsedOptions parsed;
    TrendOptions& o = parsed.options;
    CLI::App app{"vardek-trend"};
    cli::setUp(app);
    bool help = false;
    bool version = false;
    app.add_flag("-h,--help", help)->disable_flag_override();
    app.add_flag("-v,--version", version)->disable_flag_override();
    app.add_option_function<std::string>("--board",
                                         [&o](const std::string& address) { o.board = address; });
    app.add_option_function<std::uint32_t>(
           "--interval", [&o](std::uint32_t ms) { o.interval = std::chrono::milliseconds(ms); })
        ->transform(cli::number(10, 86'400'000));
    app.add_option_function<std::uint32_t>(
           "--timeout", [&o](std::uint32_t ms) { o.timeout = std::chrono::milliseconds(ms); })
        ->transform(cli::number(1, 86'400'000));
    app.add_option_function<std::string>("--read", [](const std::string&) {})->check(pins(o.pins));
    app.add_option_function<std::string>("--log",
                                         [&o](const std::string& path) { o.log = local(path); });
    app.add_flag("--follow", o.follow)->disable_flag_override();
    app.add_option_function<std::string>(
        "--export", [&o](const std::string& path) { o.exportPath = local(path); });
    app.add_option_function<std::string>("--size", [](const std::string&) {})
        ->check(imageSize(o.size));
    app.add_option_function<std::string>("--window", [](const std::string&) {})
        ->check(span(o.windowMs));
    app.add_option_function<std::string>("--language",
                                         [&o](const std::string& name) { o.language = name; });
    app.add_option_function<std::string>("FILE.csv",
                                         [&o](const std::string& path) { o.file = local(path); });

    // All pins unless --read names some.
    o.pins = {0, 1, 2, 3, 4};
    parsed.error = cli::parse(app, args);
    if (parsed.error.empty()) {
        parsed.error = conflict(app, o.file.isEmpty());
    }
    parsed.conclude(help, version);
    return parsed;
}

std::string helpText() {
    return R"(Usage: vardek-trend [OPTION]... [FILE.csv]
Charts a VARDEK board's readings over time: sampled live (the board's address from
--board, else from the key board= of
$XDG_CONFIG_HOME/vardek-control/vardek-control.conf, else the built-in one),
or read from a CSV log FILE.csv written by `vardek-probe watch --csv` or by vardek-trend.

Options (numbers are decimal or 0x-prefixed hex):
  --board ADDR       the board's IPv4 address, such as 192.168.1.50
  --interval MS      milliseconds from one sample to the next (default 1000)
  --timeout MS       milliseconds each request waits for its reply (default 500)
  --read PINS        the analogue pins read in each sample: )" +
           std::string(readings::kPinsForm) + R"(
                     (default all)
  --log FILE.csv     appends every sample to FILE.csv, as `vardek-probe watch --csv` writes it
  --follow           keeps reading the log file as it grows
  --export IMAGE     draws the log file's chart to IMAGE (PNG, or SVG by its name) and ends,
                     without a window or a display
  --size WxH         the exported image's size in pixels (default 1200x700)
  --window SPAN      the time shown, up to the newest sample: )" +
           std::string(readings::kDurationForm) + R"(,
                     or all (default 10min live, all of a file)
  --language LANGUAGE  the window's language, en (its own) or ja; else the key language= of
                     the same file, else the locale's
  -h, --help         show this text and exit
  -v, --version      show the version and exit
)";
}

}  // namespace vardek::trend
