// The exception classes every layer of the program raises and reports.
// Messages are Windows-1252 byte strings, shown to the user as they stand.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace atua {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const noexcept { return message_; }
    // The class name shown by the start-up failure box ("Exception EDatabaseError in module ...").
    virtual std::string_view ClassName() const noexcept { return "Exception"; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// A silent abort: the error report drops it without showing anything.
class EAbort : public Exception {
public:
    using Exception::Exception;
    EAbort() : Exception("Operation aborted") {}
    std::string_view ClassName() const noexcept override { return "EAbort"; }
};

// A failure found by the table component itself (unknown field, bad argument, ...).
class EDatabaseError : public Exception {
public:
    using Exception::Exception;
    std::string_view ClassName() const noexcept override { return "EDatabaseError"; }
};

// A refusal by the table engine (file busy, key violation, damaged file, ...).
class EDBEngineError : public EDatabaseError {
public:
    using EDatabaseError::EDatabaseError;
    std::string_view ClassName() const noexcept override { return "EDBEngineError"; }
};

}  // namespace atua
