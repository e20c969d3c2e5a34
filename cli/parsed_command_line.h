// What a program's command line comes to, in the one shape every program's parser returns.
#pragma once

#include <string>

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
};

}  // namespace vardek::cli
