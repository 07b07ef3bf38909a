#include "platform/exceptions.h"

#include <cerrno>
#include <cstdio>

std::string WithFullStop(const std::string& message)
{
    if (!message.empty() && message.back() == '.')
        return message;
    return message + ".";
}

std::string IOErrorText(int errnoValue)
{
    switch (errnoValue) {
    case ENOENT:
        return "File not found";
    case EACCES:
    case EPERM:
    case EROFS:
        return "File access denied";
    case ENOSPC:
        return "Disk full";
    default: {
        char text[32];
        std::snprintf(text, sizeof text, "I/O error %d", errnoValue);
        return text;
    }
    }
}

void RaiseIOError(int errnoValue)
{
    throw EInOutError(IOErrorText(errnoValue));
}
