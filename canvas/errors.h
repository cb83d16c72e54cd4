#pragma once

#include <stdexcept>
#include <string>

// Every failure in the program is an exception carrying a message text. The
// shell catches it where an event is dispatched and shows the error box.
// kindName() is what the start-up failure box names as the error's kind.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string &message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
    virtual const char *kindName() const { return "Exception"; }
};

// A silent abort: reported by nobody.
class EAbort : public Exception {
public:
    EAbort() : Exception("Operation aborted") {}
    const char *kindName() const override { return "EAbort"; }
};

// No memory or other resources for a bitmap, a context or a conversion.
class EOutOfResources : public Exception {
public:
    explicit EOutOfResources(const std::string &message = "Out of system resources") : Exception(message) {}
    const char *kindName() const override { return "EOutOfResources"; }
};

class EInvalidGraphic : public Exception {
public:
    explicit EInvalidGraphic(const std::string &message) : Exception(message) {}
    const char *kindName() const override { return "EInvalidGraphic"; }
};

// A file that cannot be created: "Cannot create file <full name>".
class EFCreateError : public Exception {
public:
    explicit EFCreateError(const std::string &message) : Exception(message) {}
    const char *kindName() const override { return "EFCreateError"; }
};

// A write that stored fewer bytes than asked: "Stream write error".
class EWriteError : public Exception {
public:
    explicit EWriteError(const std::string &message = "Stream write error") : Exception(message) {}
    const char *kindName() const override { return "EWriteError"; }
};
