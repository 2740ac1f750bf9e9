#pragma once
// The client's own exceptions. Every one is a std::runtime_error whose what() is the text to show.
#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>

namespace vexkit {

// The base of the client's own exceptions: `what()` is the message. A failed check also names its source
// unit and line; other errors leave them empty.
class Exception : public std::runtime_error {
public:
    Exception(const char* message, const char* file, int line)
        : std::runtime_error(message), file(file), line(line) {}
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    const char* file = "";
    int line = 0;
};

// A failed assertion: `what()` is the expression text.
class AssertionFailure : public Exception {
public:
    using Exception::Exception;
};

// A file that could not be read: "Cannot read PATH: REASON", the reason being the reader's own text.
class FileError : public Exception {
public:
    FileError(std::filesystem::path path, const std::string& reason)
        : Exception("Cannot read " + path.u8string() + ": " + reason), path(std::move(path)) {}
    std::filesystem::path path;
};

}  // namespace vexkit
