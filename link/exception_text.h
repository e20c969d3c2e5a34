// What an exception says, for the places that report one instead of letting it unwind.
#pragma once

#include <exception>
#include <string>

namespace vardek::link {

// For use inside a catch block: the message of the exception being handled.
inline std::string currentExceptionText() {
    try {
        throw;
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "unknown error";
    }
}

}  // namespace vardek::link
