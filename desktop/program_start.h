// One start-up for the project's Qt programs, once their command line is read: the board and the
// language checked, the refusal said on standard error and in a box, the application object made
// with the stop signals watched, the translation installed; then the program's own run.
#pragma once

#include <QString>
#include <QTranslator>

#include <functional>
#include <memory>
#include <string_view>

#include "host/board_settings.h"
#include "host/language.h"

namespace vardek::desktop {

struct Program {
    std::string_view name;  // in its messages, and the box's title
    std::string_view version;
    std::string_view desktopFileName;
    // Its texts in `language` (host::translationInto with the program's embedded name).
    host::Translation (*translationInto)(std::string_view language) = nullptr;
    // With no language asked for: the locale's translation, or null for the source texts. None
    // for a program that keeps its own language whatever the locale.
    std::unique_ptr<QTranslator> (*translationForLocale)() = nullptr;
};

// Checks `board` (none for a run that talks to no board) and `language`, then runs `body` in the
// application object, its translation installed, and returns its status. A refused board or
// language ends the program with cli::kBadUsage before `body`: said on standard error, and for
// the settings file also in a box, since a program started from a desktop menu has no terminal
// to say it on. A stop signal (SIGINT, SIGTERM, SIGHUP, SIGQUIT) closes every window and leaves
// the event loop, so that `body` returns and what it holds is closed whole; the status is then
// `body`'s. Qt is given the program's name only.
int run(int argc, char** argv, const Program& program, const host::ChosenBoard* board,
        const host::ChosenLanguage& language, const std::function<int()>& body);

// The stop signal that closed the windows ("SIGTERM"), for a window that records why its work
// was cut short; empty until one came.
std::string_view stopSignalName();

// A failure in a box titled with the program's name, shown at once and closed by the user; none
// where nobody could see it (the offscreen platform of an export or a test).
void showBox(const QString& message);

}  // namespace vardek::desktop
