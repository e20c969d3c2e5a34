// The program's default error reporting: an error that escapes an event handler is shown in a
// modal box with its text, and the event loop goes on.
#pragma once

#include <string>

namespace vardek::panel {

// Installs itself as the error reporter for its lifetime. Errors raised while one of the
// program's boxes is open are dropped, since with the board unreachable every poll fails the
// same way every 5 s.
class ErrorBox {
  public:
    ErrorBox();
    ~ErrorBox();

    ErrorBox(const ErrorBox&) = delete;
    ErrorBox& operator=(const ErrorBox&) = delete;

    // Returns when the user has closed the box; the event loop keeps running meanwhile.
    void report(const std::string& message);
};

}  // namespace vardek::panel
