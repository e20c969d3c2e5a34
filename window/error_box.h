// The program's default error reporting: an error that escapes an event handler is shown in a
// modal box with its text, and the event loop goes on.
#pragma once

#include <memory>
#include <string>

class QObject;

namespace vardek::panel {

// Installs itself as the error reporter for its lifetime. Errors raised while one of the
// program's boxes is open or about to open are dropped, since with the board unreachable every
// poll fails the same way every 5 s.
class ErrorBox {
  public:
    ErrorBox();
    ~ErrorBox();

    ErrorBox(const ErrorBox&) = delete;
    ErrorBox& operator=(const ErrorBox&) = delete;

    // Shows the box once the handler that failed has returned, from the event loop: a box
    // opened inside a timer's handler would hold that timer (Qt does not re-enter a handler
    // still running) and so stop the polls until the user closes it.
    void report(const std::string& message);

    // Shows the box at once and returns when the user has closed it: for a failure before the
    // event loop runs.
    void showNow(const std::string& message);

  private:
    // Owns the queued showing, so none outlives the reporter.
    std::unique_ptr<QObject> queue_;
    bool queued_ = false;
};

}  // namespace vardek::panel
