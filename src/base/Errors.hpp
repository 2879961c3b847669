#pragma once

#include <cerrno>
#include <stdexcept>
#include <string>

namespace spirell::base {

// Something wrong with what the user asked for, which another request mends.
// Every message is one line, user text in it shortened and escaped.
class InputError : public std::runtime_error {
public:
    explicit InputError(const std::string& message) : std::runtime_error(message) {}
};

// The request was fine but the work failed (a write error, say).
class RenderFailure : public std::runtime_error {
public:
    explicit RenderFailure(const std::string& message) : std::runtime_error(message) {}
};

// The render stopped because it was asked to: neither the request nor the
// run was at fault.
class Cancelled : public std::runtime_error {
public:
    Cancelled() : std::runtime_error("the render was cancelled") {}
};

// Whether opening or creating a file failed because of the path the user gave
// (missing folder, no permission, read-only file system, name too long), which
// another path mends; anything else, a full disk or too many open files, is a
// failure of the run.
inline bool isPathError(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case EISDIR:
    case EACCES:
    case EPERM:
    case EROFS:
    case ENAMETOOLONG:
    case ELOOP:
    case ENXIO:
    case ENODEV:
    case ETXTBSY:
        return true;
    default:
        return false;
    }
}

// InputError or RenderFailure, as the error number says.
[[noreturn]] inline void throwFileError(const std::string& message, int error) {
    if (isPathError(error))
        throw InputError(message);
    throw RenderFailure(message);
}

} // namespace spirell::base
