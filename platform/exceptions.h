#pragma once
// The exception hierarchy shared by every layer. Messages are complete texts;
// the GUI and the command-line tool append a full stop when it is missing.
#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

#define PW_DECLARE_EXCEPTION(Name, Base)                                   \
    class Name : public Base {                                             \
    public:                                                                \
        explicit Name(const std::string& message) : Base(message) {}       \
    };

PW_DECLARE_EXCEPTION(EInvalidGraphic, Exception)
PW_DECLARE_EXCEPTION(EJPEG, EInvalidGraphic)
PW_DECLARE_EXCEPTION(EInvalidGraphicOperation, Exception)
PW_DECLARE_EXCEPTION(EColorConversionError, Exception)
PW_DECLARE_EXCEPTION(EGraphicCompression, Exception)
PW_DECLARE_EXCEPTION(EStreamError, Exception)
PW_DECLARE_EXCEPTION(EReadError, EStreamError)
PW_DECLARE_EXCEPTION(EWriteError, EStreamError)
PW_DECLARE_EXCEPTION(EFOpenError, EStreamError)
PW_DECLARE_EXCEPTION(EInOutError, Exception)
PW_DECLARE_EXCEPTION(EConvertError, Exception)
PW_DECLARE_EXCEPTION(EZeroDivide, Exception)
PW_DECLARE_EXCEPTION(EInvalidOp, Exception)
// The silent exception: a progress handler raises it to stop a load quietly.
PW_DECLARE_EXCEPTION(EAbort, Exception)

#undef PW_DECLARE_EXCEPTION

// Text as the error box shows it: a full stop appended when the message does
// not already end with one.
std::string WithFullStop(const std::string& message);

// Runtime I/O error texts for an errno value ("File not found", ...).
std::string IOErrorText(int errnoValue);
// Raises EInOutError with the text for errnoValue.
[[noreturn]] void RaiseIOError(int errnoValue);
