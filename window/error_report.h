// The application's error reporting: where an error that escapes an event handler ends up.
// Until the application installs a reporter, errors go to standard error.
#pragma once

#include <functional>
#include <string>

namespace vardek {

using ErrorReporter = std::function<void(const std::string& message)>;

// Installs `reporter`; an empty one restores the standard-error default.
void setErrorReporter(ErrorReporter reporter);

void reportError(const std::string& message) noexcept;

// For use inside a catch block: reports the exception being handled.
void reportCurrentException() noexcept;

// Runs `handler`, reporting anything it throws instead of letting it reach the event loop.
template <typename Handler>
void runReported(Handler&& handler) noexcept {
    try {
        handler();
    } catch (...) {
        reportCurrentException();
    }
}

}  // namespace vardek
