#include "base/SystemMemory.hpp"

#include <algorithm>
#include <charconv>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <string_view>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <unistd.h>

namespace spirell::base {

namespace {

constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();

// The files read here are small; a megabyte is far more than any of them holds.
std::optional<std::string> readSmallFile(const std::string& path) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return std::nullopt;
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t length = ::read(descriptor, buffer, sizeof buffer);
        if (length <= 0 || text.size() > (std::size_t{1} << 20)) {
            ::close(descriptor);
            if (length < 0)
                return std::nullopt;
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(length));
    }
}

std::optional<std::uint64_t> numberAt(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data())
        return std::nullopt;
    return value;
}

// The number after a line's leading key ("MemAvailable:", "inactive_file "):
// the key is matched at the start of a line only.
std::optional<std::uint64_t> valueOf(std::string_view text, std::string_view key) {
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line = text.substr(start, end - start);
        if (line.starts_with(key))
            return numberAt(line.substr(key.size()));
        start = end + 1;
    }
    return std::nullopt;
}

std::uint64_t headroom(std::uint64_t limit, std::uint64_t used) {
    return limit > used ? limit - used : 0;
}

// A path in /proc/self/mountinfo has its blanks and backslashes as octal escapes.
std::string unescapedMountPath(std::string_view field) {
    std::string path;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            int value = 0;
            bool octal = true;
            for (std::size_t j = 1; j <= 3; ++j) {
                const char digit = field[i + j];
                octal = octal && digit >= '0' && digit <= '7';
                value = value * 8 + (digit - '0');
            }
            if (octal) {
                path += static_cast<char>(value);
                i += 3;
                continue;
            }
        }
        path += field[i];
    }
    return path;
}

// The folder of the process's cgroup in the version 2 hierarchy and that
// hierarchy's mount point, if the cgroup is visible there.
std::optional<std::pair<std::string, std::string>> cgroupFolder() {
    const auto groups = readSmallFile("/proc/self/cgroup");
    const auto mounts = readSmallFile("/proc/self/mountinfo");
    if (!groups || !mounts)
        return std::nullopt;
    std::string group;
    const std::string_view groupLines = *groups;
    if (groupLines.starts_with("0::"))
        group = groupLines.substr(3, groupLines.find('\n') - 3);
    else if (const std::size_t at = groupLines.find("\n0::"); at != std::string_view::npos)
        group = groupLines.substr(at + 4, groupLines.find('\n', at + 4) - (at + 4));
    if (!group.starts_with('/'))
        return std::nullopt;

    const std::string_view mountLines = *mounts;
    for (std::size_t start = 0; start < mountLines.size();) {
        const std::size_t end = std::min(mountLines.find('\n', start), mountLines.size());
        const std::string_view line = mountLines.substr(start, end - start);
        start = end + 1;
        // The fields: id, parent, device, root, mount point, options, optional
        // fields, "-", file system type, source, options.
        const std::size_t separator = line.find(" - ");
        if (separator == std::string_view::npos ||
            !line.substr(separator + 3).starts_with("cgroup2 "))
            continue;
        std::string_view fields[5];
        std::string_view rest = line.substr(0, separator);
        for (std::string_view& field : fields) {
            const std::size_t blank = std::min(rest.find(' '), rest.size());
            field = rest.substr(0, blank);
            rest.remove_prefix(std::min(blank + 1, rest.size()));
        }
        const std::string root = unescapedMountPath(fields[3]);
        const std::string mountPoint = unescapedMountPath(fields[4]);
        if (root == "/")
            return std::pair{mountPoint + (group == "/" ? "" : group), mountPoint};
        if (group == root || group.starts_with(root + "/"))
            return std::pair{mountPoint + group.substr(root.size()), mountPoint};
    }
    return std::nullopt;
}

// What the memory.max of the process's cgroup and of those above it leave.
// The page cache on the file lists is counted as free, since the kernel
// reclaims it before it runs out.
std::uint64_t cgroupHeadroom() {
    const auto found = cgroupFolder();
    if (!found)
        return kUnlimited;
    auto [folder, mountPoint] = *found;
    std::uint64_t least = kUnlimited;
    while (folder.size() > mountPoint.size()) {
        const auto limit = readSmallFile(folder + "/memory.max");
        const auto current = readSmallFile(folder + "/memory.current");
        if (limit && current && !limit->starts_with("max")) {
            const auto limitBytes = numberAt(*limit);
            const auto usedBytes = numberAt(*current);
            if (limitBytes && usedBytes) {
                std::uint64_t cache = 0;
                if (const auto stat = readSmallFile(folder + "/memory.stat"))
                    cache = valueOf(*stat, "active_file ").value_or(0) +
                            valueOf(*stat, "inactive_file ").value_or(0);
                least = std::min(least,
                                 headroom(*limitBytes, *usedBytes - std::min(*usedBytes, cache)));
            }
        }
        folder.resize(folder.rfind('/'));
    }
    return least;
}

// What a resource limit leaves, given the status line that counts its use.
std::uint64_t limitHeadroom(int resource, const std::optional<std::string>& status,
                            std::string_view usedKey) {
    rlimit limit = {};
    if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return kUnlimited;
    const std::uint64_t usedKiB = status ? valueOf(*status, usedKey).value_or(0) : 0;
    return headroom(limit.rlim_cur, usedKiB * 1024);
}

std::uint64_t availableForNewWork() {
    if (const auto meminfo = readSmallFile("/proc/meminfo"))
        if (const auto kiB = valueOf(*meminfo, "MemAvailable:"))
            return *kiB * 1024;
    struct sysinfo system = {};
    if (::sysinfo(&system) != 0)
        return kUnlimited;
    return (std::uint64_t{system.freeram} + system.bufferram) * system.mem_unit;
}

} // namespace

std::uint64_t availableMemory() {
    const auto status = readSmallFile("/proc/self/status");
    return std::min({availableForNewWork(), cgroupHeadroom(),
                     limitHeadroom(RLIMIT_AS, status, "VmSize:"),
                     limitHeadroom(RLIMIT_DATA, status, "VmData:")});
}

std::string bytesText(std::uint64_t bytes) {
    static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024)
        return std::to_string(bytes) + " bytes";
    std::uint64_t unit = 1024;
    std::size_t index = 0;
    while (index + 1 < std::size(kUnits) && bytes / unit >= 1024) {
        unit *= 1024;
        ++index;
    }
    // Integer arithmetic, so that no locale's decimal comma gets in.
    const std::uint64_t whole = bytes / unit;
    const std::uint64_t tenths = (bytes % unit) * 10 / unit;
    std::string text = std::to_string(whole);
    if (whole < 10 && tenths > 0)
        text += "." + std::to_string(tenths);
    return text + " " + kUnits[index];
}

} // namespace spirell::base
