#include "files/OutputFolder.hpp"

#include "base/Errors.hpp"
#include "base/UserText.hpp"
#include "files/OutputFile.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace spirell::files {

namespace {

std::string cannotMake(const std::string& path, int error) {
    return "cannot write " + base::shown(path) + ": " + std::strerror(error);
}

std::string lastName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void removeTree(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

void syncFolder(const std::string& path) {
    const int folder = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)::fsync(folder);
        ::close(folder);
    }
}

} // namespace

void makeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
        base::throwFileError(cannotMake(path, errno), errno);
}

OutputFolder::OutputFolder(const std::string& target) : target_(target) {
    while (target_.size() > 1 && target_.back() == '/')
        target_.pop_back();
    const std::string folder = folderOf(target_);
    std::string pattern =
        (folder == "/" ? "/" : folder + "/") + "." + lastName(target_) + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data()))
        base::throwFileError(cannotMake(target, errno), errno);
    temporary_ = buffer.data();
    // mkdtemp makes it 0700; the finished folder is as open as any new one.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(temporary_.c_str(), 0777 & ~mask);
}

OutputFolder::~OutputFolder() {
    if (!temporary_.empty())
        removeTree(temporary_);
}

void OutputFolder::commit() {
    // Every tile reaches the disk before the name does, or a crash could
    // leave a named folder of empty files.
    const int folder = ::open(temporary_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0 || ::syncfs(folder) != 0) {
        const int error = errno;
        if (folder >= 0)
            ::close(folder);
        throw base::RenderFailure(cannotMake(target_, error));
    }
    ::close(folder);

    std::string old;
    if (::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE) !=
        0) {
        if (errno != EEXIST)
            throw base::RenderFailure(cannotMake(target_, errno));
        // The swap leaves the old folder under the hidden name, to be removed.
        if (::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, target_.c_str(), RENAME_EXCHANGE) !=
            0)
            throw base::RenderFailure(cannotMake(target_, errno));
        old = temporary_;
    }
    temporary_.clear();
    syncFolder(folderOf(target_));
    if (!old.empty())
        removeTree(old);
}

} // namespace spirell::files
