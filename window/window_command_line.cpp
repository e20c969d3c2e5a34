#include "window/window_command_line.h"

#include "cli/command_line.h"
#include "window/application_info.h"

namespace vardek::app {

ParsedCommandLine parseCommandLine(std::span<const std::string_view> args) {
    ParsedCommandLine parsed;
    CLI::App app{kApplicationName};
    cli::setUp(app);
    bool help = false;
    bool version = false;
    app.add_flag("-h,--help", help)->disable_flag_override();
    app.add_flag("-v,--version", version)->disable_flag_override();
    app.add_option_function<std::string>(
        "--board", [&parsed](const std::string& address) { parsed.options.board = address; });
    app.add_option_function<std::string>(
        "--language", [&parsed](const std::string& name) { parsed.options.language = name; });
    parsed.error = cli::parse(app, args);
    parsed.conclude(help, version);
    return parsed;
}

std::string helpText() {
    return std::string("Usage: ") + kApplicationName + R"( [OPTION]...
Checks a VARDEK board over UDP port 10001. The board's address comes from --board,
else from the key board= of $XDG_CONFIG_HOME/vardek-control/vardek-control.conf
(~/.config/... without XDG_CONFIG_HOME), else it is the built-in )" VARDEK_BOARD_ADDRESS R"(.

Options:
  --board ADDRESS      the board's IPv4 address, such as 192.168.1.50
  --language LANGUAGE  the window's language, ja (its own) or en; else the key language= of
                       the same file gives it
  -h, --help           show this text and exit
  -v, --version        show the version and exit
)";
}

}  // namespace vardek::app
