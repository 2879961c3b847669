#pragma once

#include <cstdio>
#include <string>

namespace spirell::tool {

// A file that appears under its name only when complete. It is written as a
// temporary file in the same folder and renamed over the target at commit();
// anything else, including SIGINT, SIGTERM and SIGHUP, removes the temporary file.
// One OutputFile at a time: the signal handler knows a single path.
class OutputFile {
public:
    // Throws InputError when the folder cannot take a new file.
    explicit OutputFile(const std::string& target);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::FILE* stream() const { return stream_; }
    const std::string& temporaryPath() const { return temporary_; }

    // Closes the file and gives it its name. Throws RenderFailure.
    void commit();

private:
    void discard();

    std::string target_;
    std::string temporary_;
    std::FILE* stream_ = nullptr;
};

} // namespace spirell::tool
