#pragma once

#include <cstdint>
#include <string>

namespace spirell::base {

// What this process may still take of the system's memory: the smallest of
// the memory the kernel counts as available for new work (MemAvailable in
// /proc/meminfo), what the memory.max of the process's cgroup (version 2) and
// of the cgroups above it leave, the page cache counted as free, and what
// RLIMIT_AS and RLIMIT_DATA leave of the address space and data. None of them
// promises the memory, but a need beyond it cannot be met: without this check
// it ends in the kernel's out-of-memory kill rather than a message.
// UINT64_MAX when nothing limits it.
std::uint64_t availableMemory();

// A number of bytes as people read it: "812 KiB", "3.5 MiB", "64 GiB".
std::string bytesText(std::uint64_t bytes);

} // namespace spirell::base
