#include "renderer/OutputFile.hpp"

#include "renderer/InputError.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace spirell::tool {

namespace {

// What the signal handler may touch: a fixed buffer and a flag, nothing that
// allocates or locks.
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};
char pendingPath[4096];
volatile std::sig_atomic_t pendingArmed = 0;

extern "C" void removePendingAndDie(int signal) {
    if (pendingArmed)
        ::unlink(pendingPath);
    // Die of the same signal, so the parent sees what happened.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void installHandlers() {
    static const bool installed = [] {
        struct sigaction action = {};
        action.sa_handler = removePendingAndDie;
        sigemptyset(&action.sa_mask);
        for (const int signal : kCleanupSignals)
            sigaction(signal, &action, nullptr);
        // Past a file size limit, report the failed write instead of dying with
        // the temporary file left behind.
        std::signal(SIGXFSZ, SIG_IGN);
        return true;
    }();
    (void)installed;
}

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

std::string cannotWrite(const std::string& path, const char* reason) {
    return "cannot write " + path + ": " + reason;
}

} // namespace

OutputFile::OutputFile(const std::string& target) : target_(target) {
    struct stat existing = {};
    if (target.empty() || target.back() == '/' ||
        (::stat(target.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)))
        throw InputError(cannotWrite(target, "it is a folder"));

    // Hidden and beside the target, so that the rename stays within one file system.
    std::string pattern = folderOf(target) + "/." + nameOf(target) + ".XXXXXX";
    if (pattern.size() >= sizeof pendingPath)
        throw InputError(cannotWrite(target, "the path is too long"));
    installHandlers();

    // No signal may come between creating the file and arming the handler, and
    // the handler must never see a half-copied path.
    sigset_t cleanupSignals, previous;
    sigemptyset(&cleanupSignals);
    for (const int signal : kCleanupSignals)
        sigaddset(&cleanupSignals, signal);
    pthread_sigmask(SIG_BLOCK, &cleanupSignals, &previous);
    std::memcpy(pendingPath, pattern.c_str(), pattern.size() + 1);
    const int descriptor = ::mkstemp(pendingPath);
    const int createError = errno;
    pendingArmed = descriptor >= 0;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (descriptor < 0)
        throw InputError(cannotWrite(target, std::strerror(createError)));
    temporary_ = pendingPath;

    // mkstemp makes the file private; the image gets what any new file would.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(descriptor, 0666 & ~mask);

    stream_ = ::fdopen(descriptor, "wb");
    if (!stream_) {
        const int error = errno;
        ::close(descriptor);
        discard();
        throw RenderFailure(cannotWrite(target, std::strerror(error)));
    }
}

OutputFile::~OutputFile() {
    if (!temporary_.empty())
        discard();
}

void OutputFile::commit() {
    // A full disk may only show when the last buffer is flushed or the file closed.
    int error = 0;
    if (std::fflush(stream_) != 0 || std::ferror(stream_))
        error = errno ? errno : EIO;
    if (std::fclose(stream_) != 0 && !error)
        error = errno;
    stream_ = nullptr;
    if (error) {
        discard();
        throw RenderFailure(cannotWrite(target_, std::strerror(error)));
    }
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        const int renameError = errno;
        discard();
        throw RenderFailure(cannotWrite(target_, std::strerror(renameError)));
    }
    // Disarmed only after the rename: a signal in between unlinks a name that is gone.
    pendingArmed = 0;
    temporary_.clear();
}

void OutputFile::discard() {
    if (stream_)
        std::fclose(stream_);
    stream_ = nullptr;
    // Unlinked before the handler is disarmed, so no moment leaves it behind.
    ::unlink(temporary_.c_str());
    pendingArmed = 0;
    temporary_.clear();
}

} // namespace spirell::tool
