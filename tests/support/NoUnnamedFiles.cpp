// Loaded into a program with LD_PRELOAD, makes every attempt to create a file
// without a name (O_TMPFILE) fail as it does on a file system that cannot make
// one, so that tests can take spirell-render down its other way of writing a
// file, a hidden temporary file that is renamed. Every other open goes
// through to the C library. Built without _FORTIFY_SOURCE, whose inline
// versions of open would clash with these.
#include <cerrno>
#include <cstdarg>
#include <dlfcn.h>
#include <fcntl.h>

namespace {

bool makesUnnamedFile(int flags) {
    return (flags & O_TMPFILE) == O_TMPFILE;
}

// The mode argument is there only when the call creates a file.
mode_t modeArgument(int flags, va_list arguments) {
    return (flags & O_CREAT) || makesUnnamedFile(flags) ? va_arg(arguments, mode_t) : 0;
}

template <typename Function> Function next(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

using Open = int (*)(const char*, int, ...);
using OpenAt = int (*)(int, const char*, int, ...);

int refused() {
    errno = EOPNOTSUPP;
    return -1;
}

} // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    static const Open real = next<Open>("open");
    return makesUnnamedFile(flags) ? refused() : real(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    static const Open real = next<Open>("open64");
    return makesUnnamedFile(flags) ? refused() : real(path, flags, mode);
}

int openat(int folder, const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    static const OpenAt real = next<OpenAt>("openat");
    return makesUnnamedFile(flags) ? refused() : real(folder, path, flags, mode);
}

int openat64(int folder, const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    static const OpenAt real = next<OpenAt>("openat64");
    return makesUnnamedFile(flags) ? refused() : real(folder, path, flags, mode);
}

} // extern "C"
