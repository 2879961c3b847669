#pragma once

#include <cstdio>
#include <string>
#include <sys/stat.h>

namespace spirell::files {

struct PendingFile;

// Removes the temporary files of the OutputFiles being written when SIGINT,
// SIGTERM, SIGHUP or SIGQUIT ends the program, which then dies of that signal
// all the same; a signal ignored at the start stays ignored. SIGXFSZ is
// ignored, so that writing past a file size limit fails as a write instead of
// ending the program. The signals' handling belongs to the whole process, so
// each program's main() calls this itself, at the start, before any thread
// starts.
void installSignalCleanup();

// Where the image goes. A file appears under its name only when complete: it
// is written as a temporary file beside it and renamed over it at commit();
// anything else removes the temporary file, and so do the signals above once
// installSignalCleanup() has been called. A symbolic link is followed and its target replaced. A
// character device or a FIFO, and standard output ("-"), are written directly:
// they cannot be replaced, and what reads them sees the image as it is written.
// Up to eight OutputFiles may be written at once, from any threads.
class OutputFile {
public:
    // Throws InputError for a folder, a socket or a block device, or a path
    // where no file can be made; RenderFailure when the system fails.
    explicit OutputFile(const std::string& target);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::FILE* stream() const { return stream_; }
    // Makes sure everything was written and gives a file its name. Throws RenderFailure.
    void commit();

private:
    void openDirect(const std::string& path);
    void createTemporary(const std::string& path, const struct stat* existing);
    void discard();
    void releasePending();

    std::string target_;      // as the user named it, for messages
    std::string destination_; // the path the temporary file is renamed to
    std::string temporary_;
    std::FILE* stream_ = nullptr;
    bool ownsStream_ = true;         // false for standard output
    PendingFile* pending_ = nullptr; // the signal handler's record of the temporary file
};

} // namespace spirell::files
