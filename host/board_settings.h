// The user's choice of board, shared by the window and the probe so that both talk to the same
// one: the key `board` of $XDG_CONFIG_HOME/vardek-control/vardek-control.conf (INI).
#pragma once

#include <string>
#include <string_view>

namespace vardek::host {

inline constexpr std::string_view kBoardKey = "board";

// Where the board's address comes from when the command line names none: the settings file,
// else the address the program was built with.
struct DefaultBoard {
    std::string address;
    std::string file;  // the settings file that gave it; empty for the built-in address
    // Empty when the address may name a board; otherwise a message naming the file, the key
    // and the value, and saying what is wrong with it.
    std::string problem;
};

DefaultBoard defaultBoard(std::string_view builtIn);

}  // namespace vardek::host
