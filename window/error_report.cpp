#include "window/error_report.h"

#include <cstdio>
#include <utility>

#include "link/exception_text.h"

namespace vardek {

namespace {

ErrorReporter& installedReporter() {
    static ErrorReporter reporter;
    return reporter;
}

}  // namespace

void setErrorReporter(ErrorReporter reporter) { installedReporter() = std::move(reporter); }

void reportError(const std::string& message) noexcept {
    try {
        // A copy, so a reporter that replaces itself while it runs stays alive until it returns.
        if (const ErrorReporter reporter = installedReporter()) {
            reporter(message);
            return;
        }
    } catch (...) {
        // The reporter itself failed: fall back to standard error below.
    }
    // stdio rather than iostream: the standard streams' set-up costs every start of the program.
    std::fprintf(stderr, "vardek-control: %s\n", message.c_str());
}

void reportCurrentException() noexcept {
    try {
        reportError(link::currentExceptionText());
    } catch (...) {
        reportError("unknown error");  // no memory for the message
    }
}

}  // namespace vardek
