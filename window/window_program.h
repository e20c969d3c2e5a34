// The program's run once its board is chosen: the shared start-up, then the control window until
// it is closed.
#pragma once

#include "host/board_settings.h"

namespace vardek::app {

// Runs the window for `board`, speaking `language`, through desktop::run: a refused board or
// language ends it with cli::kBadUsage.
int runWindow(int argc, char** argv, const host::ChosenBoard& board,
              const host::ChosenLanguage& language);

}  // namespace vardek::app
