// What a program's command line comes to, in the one shape every program's parser returns.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "cli/command_line.h"
#include "cli/exit_status.h"

namespace vardek::cli {

template <typename Options>
struct ParsedCommandLine {
    enum class Action { Run, Help, Version, Refuse };

    Action action = Action::Run;
    Options options;
    std::string error;  // the reason for Refuse

    // The action once the line is read, `error` set if it is wrong: --help, then --version,
    // answer whatever else the line holds, so that help is there for a line the user cannot
    // get right; otherwise a wrong line is refused.
    void conclude(bool help, bool version) {
        if (help || version) {
            action = help ? Action::Help : Action::Version;
            error.clear();
        } else {
            action = error.empty() ? Action::Run : Action::Refuse;
        }
    }

    // For a program's main(): the help's text or the version line on standard output, or the
    // refusal on standard error, and the exit status that follows; none when the program runs.
    std::optional<int> answered(std::string_view program, std::string_view version,
                                const std::string& help) const {
        switch (action) {
            case Action::Help:
                std::fputs(help.c_str(), stdout);
                return kSucceeded;
            case Action::Version:
                std::printf("%.*s %.*s\n", int(program.size()), program.data(), int(version.size()),
                            version.data());
                return kSucceeded;
            case Action::Refuse:
                refuse(program, error);
                return kBadUsage;
            case Action::Run:
                break;
        }
        return std::nullopt;
    }
};

}  // namespace vardek::cli
