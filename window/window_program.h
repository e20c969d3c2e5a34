// The program's run once its board is chosen: the application object, the stop signals and the
// control window, until the window is closed.
#pragma once

#include <string>

#include "host/board_settings.h"

namespace vardek::app {

// Bad usage: an unknown option, a board address that cannot name a board, or a language that
// the window has no translation into.
inline constexpr int kBadUsage = 2;

// Runs the window for `board`, speaking `language`, or, when either was refused, says why and
// returns kBadUsage: on standard error, and for the settings file also in a box, since a program
// started from a desktop menu has no terminal to say it on. Qt is given the program's name only.
int runWindow(int argc, char** argv, const host::ChosenBoard& board,
              const host::ChosenLanguage& language);

// A message on standard error, named by the program.
void complain(const std::string& message);

}  // namespace vardek::app
