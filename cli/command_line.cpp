#include "cli/command_line.h"

#include <charconv>
#include <cstdio>

#include "link/board_address.h"
#include "link/udp_socket.h"

namespace vardek::cli {

namespace {

bool parseNumber(std::string_view text, std::uint64_t& value) {
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    // from_chars on an unsigned type takes no sign, so "-1" and "+1" fail here too.
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return !text.empty() && error == std::errc{} && end == text.data() + text.size();
}

// The first option of `app` or its chosen subcommands that was given more than once, leaving
// out those meant to be repeated.
const CLI::Option* repeated(const CLI::App& app) {
    for (const CLI::Option* option : app.get_options()) {
        if (option->count() > 1 &&
            option->get_multi_option_policy() != CLI::MultiOptionPolicy::TakeAll) {
            return option;
        }
    }
    for (const CLI::App* sub : app.get_subcommands()) {
        if (const CLI::Option* option = repeated(*sub)) {
            return option;
        }
    }
    return nullptr;
}

// What CLI11 would take badly or report in its own terms: a flag given "=value" (it would read
// "--json=yes" as a value for the flag) and an option left without its value.
std::string misuse(const CLI::App& app, std::span<const std::string_view> args, std::size_t at) {
    const std::string_view arg = args[at];
    for (const CLI::Option* option : app.get_options()) {
        const bool flag = option->get_items_expected_max() == 0;
        for (const std::string& name : option->get_lnames()) {
            const std::string dashed = "--" + name;
            if (flag && arg.starts_with(dashed + "=")) {
                return dashed + " takes no value";
            }
            if (!flag && (arg == dashed + "=" || (arg == dashed && at + 1 == args.size()))) {
                return dashed + " needs a value";
            }
        }
    }
    for (const CLI::App* sub : app.get_subcommands({})) {
        if (std::string error = misuse(*sub, args, at); !error.empty()) {
            return error;
        }
    }
    return {};
}

}  // namespace

CLI::Validator number(std::uint64_t min, std::uint64_t max) {
    const std::string range = "a number from " + std::to_string(min) + " to " + std::to_string(max);
    return CLI::Validator(
        [min, max, range](std::string& text) -> std::string {
            std::uint64_t value = 0;
            if (!parseNumber(text, value) || value < min || value > max) {
                return "expects " + range + " (decimal or 0x hex), not '" + text + "'";
            }
            text = std::to_string(value);
            return {};
        },
        "N");
}

CLI::Validator ipv4Address() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            if (!link::parseIpv4(text)) {
                return "expects a dotted-decimal IPv4 address, not '" + text + "'";
            }
            return {};
        },
        "ADDR");
}

CLI::Validator boardAddress() {
    return CLI::Validator([](std::string& text) { return link::boardAddressProblem(text); },
                          "ADDR");
}

void setUp(CLI::App& app) {
    app.set_help_flag();
    app.allow_extras();
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

std::string parse(CLI::App& app, std::span<const std::string_view> args) {
    for (std::size_t at = 0; at < args.size(); ++at) {
        if (std::string error = misuse(app, args, at); !error.empty()) {
            return error;
        }
    }
    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        throw;
    } catch (const CLI::CallForVersion&) {
        throw;
    } catch (const CLI::ValidationError& error) {
        // "--port: expects ..." reads as "--port expects ...".
        std::string message = error.what();
        if (const auto colon = message.find(": "); colon != std::string::npos) {
            message.erase(colon, 1);
        }
        return message;
    } catch (const CLI::ParseError& error) {
        return error.what();
    }
    for (const CLI::App* sub = &app; sub != nullptr;) {
        if (const auto left = sub->remaining(); !left.empty()) {
            const std::string& first = left.front();
            if (first.starts_with('-') && first.size() > 1) {
                return "unknown option '" + first.substr(0, first.find('=')) + "'";
            }
            return "unexpected argument '" + first + "'";
        }
        const auto chosen = sub->get_subcommands();
        sub = chosen.empty() ? nullptr : chosen.front();
    }
    if (const CLI::Option* option = repeated(app)) {
        return option->get_name() + " is given more than once";
    }
    return {};
}

std::vector<std::string_view> arguments(int argc, char** argv) {
    return std::vector<std::string_view>(argv + std::min(argc, 1), argv + argc);
}

void complain(std::string_view program, const std::string& message) {
    std::fprintf(stderr, "%.*s: %s\n", static_cast<int>(program.size()), program.data(),
                 message.c_str());
}

void refuse(std::string_view program, const std::string& message) {
    complain(program, message);
    std::fprintf(stderr, "Try '%.*s --help'.\n", static_cast<int>(program.size()), program.data());
}

}  // namespace vardek::cli
