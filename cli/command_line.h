// What every program's command line shares on top of CLI11, so that all four read numbers,
// refuse a repeated option and word the same mistake alike: number and address checks whose
// messages say what is wrong, and the checks that CLI11 leaves to its caller.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vardek::cli {

// Decimal or 0x-prefixed hex from `min` to `max`, rewritten to decimal so that CLI11 never reads
// a leading zero as octal. The message names the range and the text given.
CLI::Validator number(std::uint64_t min, std::uint64_t max);

// Dotted-decimal IPv4 only: no host names, which would need a resolver.
CLI::Validator ipv4Address();

// An address that can name one board (link::boardAddressProblem).
CLI::Validator boardAddress();

// Sets up a program's `app`, before its options are added, for parse(): no help flag of CLI11's
// (each program writes its own help), every leftover argument kept for parse() to name, and an
// option given twice left for parse() to refuse in its own words.
void setUp(CLI::App& app);

// Runs `app` on `args` (without the program name). Returns the reason the command line is
// wrong, or an empty string. The app must allow extras: a leftover argument is reported here as
// an unknown option or an unexpected argument, by name. An option given twice is refused,
// unless its multi-option policy is TakeAll (a repeatable one). CLI11 offers neither check as
// wanted: Debian 12's CLI11 (2.1) takes a flag given twice without a word, even -h with
// --help, and calls every leftover "not expected", an option as an argument.
// CLI::CallForHelp and CLI::CallForVersion pass through to the caller.
std::string parse(CLI::App& app, std::span<const std::string_view> args);

// For a program's main(): argv without the program name.
std::vector<std::string_view> arguments(int argc, char** argv);

// A message on standard error, named by the program: "vardek-probe: no reply from ...".
void complain(std::string_view program, const std::string& message);

// A refused command line on standard error: the reason, named by the program, then where its
// help is.
void refuse(std::string_view program, const std::string& message);

}  // namespace vardek::cli
