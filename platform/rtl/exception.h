#pragma once
// The runtime's base error class. Every failure of the converter and its
// components is raised as an Exception (or a class derived from it) carrying
// its message text; any std::exception counts as a language exception.
#include <exception>
#include <string>
#include <utility>

namespace rtl {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }

    std::string Message;
};

// File-stream and I/O errors of the runtime ("Cannot open file ...").
class EFOpenError : public Exception {
public:
    using Exception::Exception;
};

class EReadError : public Exception {
public:
    using Exception::Exception;
};

class EOutOfMemory : public Exception {
public:
    using Exception::Exception;
};

} // namespace rtl
