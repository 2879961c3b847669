#pragma once

#include <cstdio>
#include <string>
#include <sys/stat.h>

namespace spirell::files {

struct PendingFile;

// Removes the named temporary files of the OutputFiles being written when a
// signal whose default action ends the program comes: SIGHUP, SIGINT,
// SIGQUIT, SIGTERM, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU, SIGVTALRM,
// SIGPROF, SIGIO, SIGPWR, SIGSTKFLT and the real-time signals. The program
// then dies of that signal all the same: SIGPIPE, say, still ends it when the
// reader of a FIFO or of standard output goes away. A signal that is ignored
// or handled when this is called is left so: nohup, background jobs and
// profilers rely on that. SIGXFSZ is ignored, so that writing past a file
// size limit fails as a write instead of ending the program. The signals'
// handling belongs to the whole process, so each program's main() calls this
// itself, at the start, before any thread starts.
void installSignalCleanup();

// A FIFO or a character device: written in place rather than replaced, and
// opening or writing it may wait for a reader as long as that one likes.
bool isFifoOrDevice(mode_t mode);
// Whether path names one now, following links; false when nothing is there.
bool isFifoOrDevice(const std::string& path);

// The folder path's last name lies in: "." for a bare name, "/" for one at
// the root.
std::string folderOf(const std::string& path);

// Where the image goes. A file appears under its name only when complete. On
// Linux it is made without a name (O_TMPFILE) in the target's folder and
// named only at commit(), so that whatever ends the program before, SIGKILL
// and the out-of-memory kill included, leaves nothing behind. On a file
// system that cannot make such files it is a hidden temporary file beside the
// target (".NAME.XXXXXX") renamed over it at commit(); anything else removes
// that file, and so do the signals above once installSignalCleanup() has
// been called. A new file gets the permissions any new file would (0666 less
// the umask, or the folder's default ACL); a replaced one keeps its
// permissions and, where the system allows it, its owner. A symbolic link is
// followed and its target replaced. A character device or a FIFO, and
// standard output ("-"), are written directly: they cannot be replaced, and
// what reads them sees the image as it is written. They are opened without
// waiting, so a FIFO that no program reads is refused at once. Up to eight
// OutputFiles may be written at once, from any threads.
class OutputFile {
public:
    // Throws InputError for a folder, a socket, a block device, a FIFO
    // without a reader, or a path where no file can be made; RenderFailure
    // when the system fails.
    explicit OutputFile(const std::string& target);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::FILE* stream() const { return stream_; }
    // The descriptor under stream(). For a file it is open for reading and
    // writing, so that a writer may seek and read back what it wrote (after
    // flushing the stream); for a FIFO, a device or standard output it is
    // open for writing only.
    int descriptor() const { return descriptor_; }
    // Whether the output is a file, rather than a FIFO, a device or standard output.
    bool isFile() const { return !destination_.empty(); }
    // Makes sure everything was written and gives a file its name. Throws RenderFailure.
    void commit();

private:
    void openDirect(const std::string& path, bool fifo);
    void createTemporary(const std::string& path, const struct stat* existing);
    void reservePending();
    void discard();
    void releasePending();

    std::string target_;      // as the user named it, for messages
    std::string destination_; // the path the file gets at commit(); empty unless a file
    std::string temporary_;   // the hidden name the file has, while it has one
    std::FILE* stream_ = nullptr;
    int descriptor_ = -1;
    bool ownsStream_ = true;         // false for standard output
    bool unnamed_ = false;           // made without a name, named at commit()
    PendingFile* pending_ = nullptr; // the signal handler's record of the hidden name
};

} // namespace spirell::files
