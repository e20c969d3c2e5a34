#include "tools/probe/operator_prompt.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include <termios.h>
#include <unistd.h>

namespace vardek::probe {

namespace {

void say(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

// "y", "Yes", " n " and the like; anything else is no answer yet.
std::optional<OperatorAnswer> meaning(std::string line) {
    std::erase_if(line, [](unsigned char c) { return std::isspace(c) != 0; });
    std::ranges::transform(line, line.begin(), [](unsigned char c) { return std::tolower(c); });
    if (line == "y" || line == "yes") {
        return OperatorAnswer::Yes;
    }
    if (line == "n" || line == "no") {
        return OperatorAnswer::No;
    }
    return std::nullopt;
}

}  // namespace

Task<OperatorAnswer> TerminalOperator::confirm(std::string question) {
    // What was typed before the question answers nothing.
    ::tcflush(input_, TCIFLUSH);
    say(question + ' ');
    const auto deadline = EventLoop::Clock::now() + timeout_;
    std::string line;
    while (true) {
        const bool readable = co_await loop_.readable(input_, deadline);
        if (loop_.stop().signal() != 0) {
            say("\n");
            co_return OperatorAnswer::Stopped;
        }
        if (!readable) {
            say("no answer\n");
            co_return OperatorAnswer::None;
        }
        char bytes[256];
        const ssize_t got = ::read(input_, bytes, sizeof bytes);
        if (got <= 0) {
            say("no answer\n");
            co_return OperatorAnswer::None;
        }
        line.append(bytes, static_cast<std::size_t>(got));
        for (auto end = line.find('\n'); end != std::string::npos; end = line.find('\n')) {
            const auto answer = meaning(line.substr(0, end));
            line.erase(0, end + 1);
            if (answer) {
                co_return *answer;
            }
            say("y or n? ");
        }
    }
}

}  // namespace vardek::probe
