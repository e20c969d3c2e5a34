// What a tool's command line comes to, in the one shape every tool's parser returns.
#pragma once

#include <string>

namespace vardek::cli {

template <typename Options>
struct ParsedCommandLine {
    enum class Action { Run, Help, Version, Refuse };

    Action action = Action::Run;
    Options options;
    std::string error;  // the reason for Refuse
};

}  // namespace vardek::cli
