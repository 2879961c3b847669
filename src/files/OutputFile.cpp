#include "files/OutputFile.hpp"

#include "base/Errors.hpp"
#include "base/UserText.hpp"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/random.h>
#include <unistd.h>

namespace spirell::files {

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool isFifoOrDevice(mode_t mode) {
    return S_ISFIFO(mode) || S_ISCHR(mode);
}

bool isFifoOrDevice(const std::string& path) {
    struct stat status = {};
    return ::stat(path.c_str(), &status) == 0 && isFifoOrDevice(status.st_mode);
}

// What the signal handler may touch: fixed buffers and flags, nothing that
// allocates or locks. Each file being written holds one slot, so that a
// window can save an image while a poster is under way.
struct PendingFile {
    std::atomic<int> state{0}; // a PendingState
    char path[4096];
};

// Only a lock-free atomic may be read in a signal handler.
static_assert(std::atomic<int>::is_always_lock_free);

namespace {

enum PendingState : int {
    kFree,
    kReserved, // held by an OutputFile; the path means nothing
    kCreating, // the path is complete, and a file of that name is being made
    kArmed,    // the path names the hidden file, which a signal removes
};

PendingFile pendingFiles[8];

// Every signal whose default action ends the program but SIGKILL and SIGSTOP,
// which cannot be caught, SIGXFSZ, which is ignored (see below), and the
// signals of faults in the program itself (SIGSEGV, SIGBUS, SIGFPE, SIGILL,
// SIGABRT, SIGTRAP, SIGSYS), which debuggers and sanitizers report. The
// real-time signals come on top.
constexpr int kCleanupSignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGPIPE,   SIGALRM, SIGTERM,
    SIGUSR1,   SIGUSR2, SIGXCPU, SIGVTALRM, SIGPROF, SIGIO,
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

template <typename Action> void forEachCleanupSignal(Action&& action) {
    for (const int signal : kCleanupSignals)
        action(signal);
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal)
        action(signal);
}

extern "C" void removePendingAndDie(int signal) {
    for (PendingFile& pending : pendingFiles) {
        // A file being made on another thread, which holds these signals
        // back meanwhile, is waited for, a second at most: it gets its name
        // or fails within a system call.
        for (int waits = 0; pending.state.load() == kCreating && waits < 1000; ++waits) {
            const timespec millisecond = {0, 1000000};
            ::nanosleep(&millisecond, nullptr);
        }
        if (pending.state.load() == kArmed)
            ::unlink(pending.path);
    }
    // Die of the same signal, so the parent sees what happened.
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    ::raise(signal);
}

// Holds the clean-up signals back on this thread while it lives.
class CleanupSignalsHeld {
public:
    CleanupSignalsHeld() {
        sigset_t signals;
        sigemptyset(&signals);
        forEachCleanupSignal([&](int signal) { sigaddset(&signals, signal); });
        pthread_sigmask(SIG_BLOCK, &signals, &previous_);
    }
    ~CleanupSignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    CleanupSignalsHeld(const CleanupSignalsHeld&) = delete;
    CleanupSignalsHeld& operator=(const CleanupSignalsHeld&) = delete;

private:
    sigset_t previous_;
};

} // namespace

void installSignalCleanup() {
    struct sigaction action = {};
    action.sa_handler = removePendingAndDie;
    sigemptyset(&action.sa_mask);
    forEachCleanupSignal([&](int signal) {
        // A signal ignored or handled at the start is left so: nohup,
        // background jobs and profilers rely on that.
        struct sigaction current = {};
        if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL)
            return;
        sigaction(signal, &action, nullptr);
    });
    // Past a file size limit, report the failed write instead of dying with
    // the temporary file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
}

namespace {

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
    if (!S_ISREG(mode) && !isFifoOrDevice(mode))
        return "it is not a regular file";
    return nullptr;
}

// The hidden temporary name's random part, as mkstemp makes it.
constexpr std::size_t kSuffixLength = 6;

// Hidden and beside the file it replaces, so that the rename stays within one
// file system: ".NAME." before the random part.
std::string hiddenPrefix(const std::string& path) {
    return folderOf(path) + "/." + shortName(nameOf(path)) + ".";
}

// Letters and digits, from the kernel's random numbers or, failing those,
// from the clock and a counter, which differ from one try to the next.
void randomSuffix(char* out) {
    static constexpr char kCharacters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char random[kSuffixLength] = {};
    if (::getrandom(random, sizeof random, GRND_NONBLOCK) != ssize_t{sizeof random}) {
        static std::atomic<std::uint64_t> tries{0};
        timespec now = {};
        ::clock_gettime(CLOCK_REALTIME, &now);
        std::uint64_t mixed = static_cast<std::uint64_t>(now.tv_nsec) ^
                              static_cast<std::uint64_t>(now.tv_sec) << 30 ^
                              static_cast<std::uint64_t>(::getpid()) << 40;
        mixed += ++tries * 0x9e3779b97f4a7c15;
        for (unsigned char& byte : random) {
            mixed = mixed * 6364136223846793005 + 1442695040888963407;
            byte = static_cast<unsigned char>(mixed >> 56);
        }
    }
    for (std::size_t i = 0; i < kSuffixLength; ++i)
        out[i] = kCharacters[random[i] % (sizeof kCharacters - 1)];
}

// Gives the pending slot a fresh hidden name ".NAME.XXXXXX" and makes a file
// of that name: make(path) returns 0 or the error number, EEXIST for a name
// already taken, whereupon another is tried. The clean-up signals are held
// back on this thread meanwhile, and the handler on any other thread waits
// for the outcome, so no moment leaves a file it does not know of. Returns 0
// with the slot armed, or the error number.
template <typename Make>
int makeHiddenFile(PendingFile& pending, const std::string& prefix, Make&& make) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        int error = 0;
        {
            const CleanupSignalsHeld held;
            std::memcpy(pending.path, prefix.data(), prefix.size());
            randomSuffix(pending.path + prefix.size());
            pending.path[prefix.size() + kSuffixLength] = '\0';
            pending.state = kCreating;
            error = make(pending.path);
            pending.state = error ? kReserved : kArmed;
        }
        if (error != EEXIST)
            return error;
    }
    return EEXIST;
}

// Whether making a file without a name failed only because the file system
// or the kernel cannot: EISDIR comes from kernels older than O_TMPFILE.
bool lacksUnnamedFiles(int error) {
    return error == EOPNOTSUPP || error == ENOTSUP || error == EISDIR || error == EINVAL;
}

// The path through which a file without a name can be linked into a folder.
std::string descriptorPath(int descriptor) {
    return "/proc/self/fd/" + std::to_string(descriptor);
}

} // namespace

OutputFile::OutputFile(const std::string& target) : target_(target) {
    if (target == "-") {
        stream_ = stdout;
        descriptor_ = ::fileno(stdout);
        ownsStream_ = false;
        return;
    }
    if (target.empty() || target.back() == '/')
        throw base::InputError(cannotWrite(target, "it is a folder"));

    struct stat existing = {};
    if (::stat(target.c_str(), &existing) == 0) {
        if (const char* reason = unsuitable(existing.st_mode))
            throw base::InputError(cannotWrite(target, reason));
        if (isFifoOrDevice(existing.st_mode))
            openDirect(target, S_ISFIFO(existing.st_mode));
        else
            createTemporary(followLinks(target), &existing);
    } else if (errno == ENOENT) {
        createTemporary(followLinks(target), nullptr); // a new file, or a link to one
    } else {
        const int error = errno;
        base::throwFileError(cannotWrite(target, std::strerror(error)), error);
    }
}

void OutputFile::openDirect(const std::string& path, bool fifo) {
    // Opened without waiting: a FIFO would wait here for a reader, maybe for
    // ever, and a terminal line for its carrier.
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        const int error = errno;
        if (fifo && error == ENXIO)
            throw base::InputError(cannotWrite(target_, "no program is reading the FIFO"));
        base::throwFileError(cannotWrite(target_, std::strerror(error)), error);
    }
    // Whatever took the name meanwhile is written only if it is a device or a FIFO.
    struct stat opened = {};
    if (::fstat(descriptor, &opened) != 0 || !isFifoOrDevice(opened.st_mode)) {
        ::close(descriptor);
        throw base::InputError(cannotWrite(target_, "it changed while it was opened"));
    }
    // Writes wait as usual once it is open: a full pipe is no error.
    const int flags = ::fcntl(descriptor, F_GETFL);
    if (flags < 0 || ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int error = errno;
        ::close(descriptor);
        throw base::RenderFailure(cannotWrite(target_, std::strerror(error)));
    }
    stream_ = ::fdopen(descriptor, "wb");
    if (!stream_) {
        const int error = errno;
        ::close(descriptor);
        throw base::RenderFailure(cannotWrite(target_, std::strerror(error)));
    }
    descriptor_ = descriptor;
}

void OutputFile::reservePending() {
    for (PendingFile& slot : pendingFiles) {
        int free = kFree;
        if (slot.state.compare_exchange_strong(free, kReserved)) {
            pending_ = &slot;
            return;
        }
    }
    throw base::RenderFailure(cannotWrite(target_, "too many files are being written at once"));
}

void OutputFile::createTemporary(const std::string& path, const struct stat* existing) {
    destination_ = path;
    const std::string folder = folderOf(path);
    const std::string prefix = hiddenPrefix(path);
    if (prefix.size() + kSuffixLength >= sizeof PendingFile::path)
        throw base::InputError(cannotWrite(target_, "the path is too long"));
    reservePending();

    // The kernel gives a new file the permissions any new file gets, from
    // the umask or the folder's default ACL; a file that replaces another
    // stays private until it has that one's permissions below.
    const mode_t mode = existing ? 0600 : 0666;
    int descriptor = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    if (descriptor >= 0) {
        // It can be named at the end only through /proc.
        struct stat linkable = {};
        if (::stat(descriptorPath(descriptor).c_str(), &linkable) == 0) {
            unnamed_ = true;
        } else {
            ::close(descriptor);
            descriptor = -1;
        }
    } else if (!lacksUnnamedFiles(errno)) {
        const int error = errno;
        releasePending();
        base::throwFileError(cannotWrite(target_, std::strerror(error)), error);
    }
    if (descriptor < 0) {
        const int error = makeHiddenFile(*pending_, prefix, [&](const char* name) {
            descriptor = ::open(name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            return descriptor < 0 ? errno : 0;
        });
        if (error) {
            releasePending();
            base::throwFileError(cannotWrite(target_, std::strerror(error)), error);
        }
        temporary_ = pending_->path;
    }
    descriptor_ = descriptor;

    // A replaced file keeps its owner where the system allows it, and its
    // permissions. Set-user-ID and the like are not carried over, as a write
    // in place would clear them too.
    if (existing) {
        if (existing->st_uid != ::geteuid() || existing->st_gid != ::getegid())
            if (::fchown(descriptor, existing->st_uid, existing->st_gid) != 0)
                (void)::fchown(descriptor, static_cast<uid_t>(-1), existing->st_gid);
        // A file system without permissions (FAT, say) has nothing to keep.
        if (::fchmod(descriptor, existing->st_mode & 0777) != 0 && errno != EPERM &&
            errno != ENOTSUP) {
            const int error = errno;
            discard();
            throw base::RenderFailure(cannotWrite(target_, std::strerror(error)));
        }
    }

    stream_ = ::fdopen(descriptor, "w+b");
    if (!stream_) {
        const int error = errno;
        discard();
        throw base::RenderFailure(cannotWrite(target_, std::strerror(error)));
    }
}

OutputFile::~OutputFile() {
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
    if (!error && isFile() && ::fsync(descriptor_) != 0)
        error = errno;
    // A file without a name gets its name while it is still open, as only its
    // descriptor leads to it: the target's own when nothing has that name,
    // so that no moment leaves a hidden name for SIGKILL to strand, or else
    // a hidden one, renamed over the file it replaces below.
    bool named = false;
    if (!error && unnamed_) {
        const std::string source = descriptorPath(descriptor_);
        const auto linkTo = [&](const char* name) {
            return ::linkat(AT_FDCWD, source.c_str(), AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0
                       ? 0
                       : errno;
        };
        error = linkTo(destination_.c_str());
        named = error == 0;
        if (error == EEXIST) {
            error = makeHiddenFile(*pending_, hiddenPrefix(destination_), linkTo);
            if (!error)
                temporary_ = pending_->path;
        }
    }
    if (ownsStream_) {
        errno = 0;
        if (std::fclose(stream_) != 0 && !error)
            error = errno ? errno : EIO;
    }
    stream_ = nullptr;
    descriptor_ = -1;
    if (error) {
        if (named) // nothing else can have made the name since
            ::unlink(destination_.c_str());
        discard();
        throw base::RenderFailure(cannotWrite(target_, std::strerror(error)));
    }
    if (!isFile())
        return;
    if (!named && ::rename(temporary_.c_str(), destination_.c_str()) != 0) {
        const int renameError = errno;
        discard();
        throw base::RenderFailure(cannotWrite(target_, std::strerror(renameError)));
    }
    // Disarmed only after the rename: a signal in between unlinks a name that is gone.
    temporary_.clear();
    releasePending();
    // The new name reaches the disk with the folder; the image is in place
    // either way, so a failure here changes nothing for the user.
    const int folder = ::open(folderOf(destination_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)::fsync(folder);
        ::close(folder);
    }
}

void OutputFile::discard() {
    // Closing a file without a name removes it.
    if (stream_ && ownsStream_)
        std::fclose(stream_);
    else if (!stream_ && descriptor_ >= 0)
        ::close(descriptor_); // a stream was never made on it
    stream_ = nullptr;
    descriptor_ = -1;
    // Unlinked before the handler is disarmed, so no moment leaves it behind.
    if (!temporary_.empty())
        ::unlink(temporary_.c_str());
    temporary_.clear();
    releasePending();
}

void OutputFile::releasePending() {
    if (!pending_)
        return;
    pending_->state = kFree;
    pending_ = nullptr;
}

} // namespace spirell::files
