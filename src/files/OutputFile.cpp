#include "files/OutputFile.hpp"

#include "base/Errors.hpp"
#include "base/UserText.hpp"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace spirell::files {

// What the signal handler may touch: fixed buffers and flags, nothing that
// allocates or locks. Each output being written holds one slot, so that a
// window can save an image while a poster is under way.
struct PendingFile {
    std::atomic<bool> taken{false};
    std::atomic<bool> armed{false}; // the path is complete and names a file to remove
    char path[4096];
};

// Only a lock-free atomic may be read in a signal handler.
static_assert(std::atomic<bool>::is_always_lock_free);

namespace {

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
PendingFile pendingFiles[8];

extern "C" void removePendingAndDie(int signal) {
    for (PendingFile& pending : pendingFiles)
        if (pending.armed)
            ::unlink(pending.path);
    // Die of the same signal, so the parent sees what happened.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

void installSignalCleanup() {
    struct sigaction action = {};
    action.sa_handler = removePendingAndDie;
    sigemptyset(&action.sa_mask);
    for (const int signal : kCleanupSignals) {
        // A signal ignored at the start stays ignored: nohup and background
        // jobs rely on that.
        struct sigaction current = {};
        if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
            continue;
        sigaction(signal, &action, nullptr);
    }
    // Past a file size limit, report the failed write instead of dying with
    // the temporary file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
}

namespace {

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// At most this many bytes of the name go into the temporary file's name, so
// that ".NAME.XXXXXX" stays within the 255 bytes a file name may have.
constexpr std::size_t kTemporaryNameBytes = 40;

std::string shortName(std::string name) {
    if (name.size() <= kTemporaryNameBytes)
        return name;
    std::size_t cut = kTemporaryNameBytes;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xc0) == 0x80)
        --cut; // never half a UTF-8 character
    name.resize(cut);
    return name;
}

std::string cannotWrite(const std::string& path, const char* reason) {
    return "cannot write " + base::shown(path) + ": " + reason;
}

// The path that a rename must replace for the target to show the new image:
// symbolic links are followed one by one, and a link to nothing leads to the
// file it names, which is then created.
std::string followLinks(const std::string& target) {
    std::string path = target;
    for (int hops = 0; hops < 40; ++hops) {
        char link[PATH_MAX];
        const ssize_t length = ::readlink(path.c_str(), link, sizeof link);
        if (length < 0) {
            if (errno == EINVAL || errno == ENOENT)
                return path; // not a link, or nothing there yet
            const int error = errno;
            base::throwFileError(cannotWrite(target, std::strerror(error)), error);
        }
        if (static_cast<std::size_t>(length) == sizeof link)
            throw base::InputError(cannotWrite(target, std::strerror(ENAMETOOLONG)));
        const std::string next(link, static_cast<std::size_t>(length));
        path = next.starts_with('/') ? next : folderOf(path) + "/" + next;
    }
    throw base::InputError(cannotWrite(target, std::strerror(ELOOP)));
}

// Why a file that exists cannot be replaced by the image, or null.
const char* unsuitable(mode_t mode) {
    if (S_ISDIR(mode))
        return "it is a folder";
    if (S_ISSOCK(mode))
        return "it is a socket";
    if (S_ISBLK(mode))
        return "it is a block device";
    if (!S_ISREG(mode) && !S_ISCHR(mode) && !S_ISFIFO(mode))
        return "it is not a regular file";
    return nullptr;
}

} // namespace

OutputFile::OutputFile(const std::string& target) : target_(target) {
    if (target == "-") {
        stream_ = stdout;
        ownsStream_ = false;
        return;
    }
    if (target.empty() || target.back() == '/')
        throw base::InputError(cannotWrite(target, "it is a folder"));

    struct stat existing = {};
    if (::stat(target.c_str(), &existing) == 0) {
        if (const char* reason = unsuitable(existing.st_mode))
            throw base::InputError(cannotWrite(target, reason));
        if (S_ISCHR(existing.st_mode) || S_ISFIFO(existing.st_mode))
            openDirect(target);
        else
            createTemporary(followLinks(target), &existing);
    } else if (errno == ENOENT) {
        createTemporary(followLinks(target), nullptr); // a new file, or a link to one
    } else {
        const int error = errno;
        base::throwFileError(cannotWrite(target, std::strerror(error)), error);
    }
}

void OutputFile::openDirect(const std::string& path) {
    // A FIFO waits here for its reader.
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) {
        const int error = errno;
        base::throwFileError(cannotWrite(target_, std::strerror(error)), error);
    }
    // Whatever took the name meanwhile is written only if it is a device or a FIFO.
    struct stat opened = {};
    if (::fstat(descriptor, &opened) != 0 ||
        (!S_ISCHR(opened.st_mode) && !S_ISFIFO(opened.st_mode))) {
        ::close(descriptor);
        throw base::InputError(cannotWrite(target_, "it changed while it was opened"));
    }
    stream_ = ::fdopen(descriptor, "wb");
    if (!stream_) {
        const int error = errno;
        ::close(descriptor);
        throw base::RenderFailure(cannotWrite(target_, std::strerror(error)));
    }
}

void OutputFile::createTemporary(const std::string& path, const struct stat* existing) {
    destination_ = path;
    // Hidden and beside the file it replaces, so that the rename stays within one file system.
    const std::string pattern = folderOf(path) + "/." + shortName(nameOf(path)) + ".XXXXXX";
    if (pattern.size() >= sizeof PendingFile::path)
        throw base::InputError(cannotWrite(target_, "the path is too long"));
    for (PendingFile& slot : pendingFiles) {
        bool free = false;
        if (slot.taken.compare_exchange_strong(free, true)) {
            pending_ = &slot;
            break;
        }
    }
    if (!pending_)
        throw base::RenderFailure(cannotWrite(target_, "too many files are being written at once"));
    PendingFile& pending = *pending_;

    // No signal may come between creating the file and arming the handler, and
    // the handler must never see a half-copied path.
    sigset_t cleanupSignals, previous;
    sigemptyset(&cleanupSignals);
    for (const int signal : kCleanupSignals)
        sigaddset(&cleanupSignals, signal);
    pthread_sigmask(SIG_BLOCK, &cleanupSignals, &previous);
    std::memcpy(pending.path, pattern.c_str(), pattern.size() + 1);
    const int descriptor = ::mkstemp(pending.path);
    const int createError = errno;
    pending.armed = descriptor >= 0;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (descriptor < 0) {
        releasePending();
        base::throwFileError(cannotWrite(target_, std::strerror(createError)), createError);
    }
    temporary_ = pending.path;

    // mkstemp makes the file private. A replaced file keeps its owner where
    // the system allows it, and its permissions; a new one gets what any new
    // file would. Set-user-ID and the like are not carried over, as a write
    // in place would clear them too.
    mode_t mode = 0;
    if (existing) {
        if (existing->st_uid != ::geteuid() || existing->st_gid != ::getegid())
            if (::fchown(descriptor, existing->st_uid, existing->st_gid) != 0)
                (void)::fchown(descriptor, static_cast<uid_t>(-1), existing->st_gid);
        mode = existing->st_mode & 0777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    // A file system without permissions (FAT, say) has nothing to keep.
    if (::fchmod(descriptor, mode) != 0 && errno != EPERM && errno != ENOTSUP) {
        const int error = errno;
        ::close(descriptor);
        discard();
        throw base::RenderFailure(cannotWrite(target_, std::strerror(error)));
    }

    stream_ = ::fdopen(descriptor, "wb");
    if (!stream_) {
        const int error = errno;
        ::close(descriptor);
        discard();
        throw base::RenderFailure(cannotWrite(target_, std::strerror(error)));
    }
}

OutputFile::~OutputFile() {
    if (stream_ || !temporary_.empty())
        discard();
}

void OutputFile::commit() {
    // A full disk may only show when the last buffer is flushed, the data
    // reaches the disk or the file is closed. errno is read only right after
    // the call that failed.
    int error = 0;
    errno = 0;
    if (std::fflush(stream_) != 0)
        error = errno ? errno : EIO;
    else if (std::ferror(stream_))
        error = EIO; // an earlier write failed; its errno is long gone
    if (!error && !temporary_.empty() && ::fsync(::fileno(stream_)) != 0)
        error = errno;
    if (ownsStream_) {
        errno = 0;
        if (std::fclose(stream_) != 0 && !error)
            error = errno ? errno : EIO;
    }
    stream_ = nullptr;
    if (error) {
        discard();
        throw base::RenderFailure(cannotWrite(target_, std::strerror(error)));
    }
    if (temporary_.empty())
        return;
    if (::rename(temporary_.c_str(), destination_.c_str()) != 0) {
        const int renameError = errno;
        discard();
        throw base::RenderFailure(cannotWrite(target_, std::strerror(renameError)));
    }
    // Disarmed only after the rename: a signal in between unlinks a name that is gone.
    releasePending();
    temporary_.clear();
    // The new name reaches the disk with the folder; the image is in place
    // either way, so a failure here changes nothing for the user.
    const int folder = ::open(folderOf(destination_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)::fsync(folder);
        ::close(folder);
    }
}

void OutputFile::discard() {
    if (stream_ && ownsStream_)
        std::fclose(stream_);
    stream_ = nullptr;
    if (temporary_.empty())
        return;
    // Unlinked before the handler is disarmed, so no moment leaves it behind.
    ::unlink(temporary_.c_str());
    releasePending();
    temporary_.clear();
}

void OutputFile::releasePending() {
    if (!pending_)
        return;
    pending_->armed = false;
    pending_->taken = false;
    pending_ = nullptr;
}

} // namespace spirell::files
