// Loaded into a program with LD_PRELOAD, kills it with SIGKILL the moment it
// renames a file: the worst moment for a file that is named in two steps, a
// hidden name and then a rename, whose hidden name the kill strands. Built
// without a sanitizer runtime, like NoUnnamedFiles.
#include <csignal>
#include <cstdio>
#include <unistd.h>

extern "C" int rename(const char* /*from*/, const char* /*to*/) {
    ::kill(::getpid(), SIGKILL);
    return -1;
}
