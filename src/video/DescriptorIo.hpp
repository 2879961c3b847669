#pragma once

#include <cstdint>

extern "C" {
struct AVFormatContext;
struct AVIOContext;
}

namespace spirell::video {

// FFmpeg's input and output over a file descriptor that the caller owns. Each
// context keeps a position of its own and reads and writes at it with pread and
// pwrite, so that a context reading the file back does not move the writer's
// place, and the descriptor's own offset is left alone. The descriptor is
// never closed here.
class DescriptorIo {
public:
    enum class Direction { Write, Read };

    // Throws VideoFailure when FFmpeg cannot allocate the context. A reader
    // that reads back what `writer` wrote passes its failures on to it: a
    // failed read spoils the file, and FFmpeg does not always say so.
    DescriptorIo(int descriptor, Direction direction, DescriptorIo* writer = nullptr);
    ~DescriptorIo();
    DescriptorIo(const DescriptorIo&) = delete;
    DescriptorIo& operator=(const DescriptorIo&) = delete;

    AVIOContext* context() const { return context_; }
    int descriptor() const { return descriptor_; }
    // The AVERROR code of the first system call that failed, 0 while none has.
    // FFmpeg does not pass every failed write on, so the writer checks this too.
    int firstError() const { return firstError_; }

    // What FFmpeg calls back; opaque is the DescriptorIo.
    static int writeBytes(void* opaque, const std::uint8_t* bytes, int size);
    static int readBytes(void* opaque, std::uint8_t* bytes, int size);
    static std::int64_t seek(void* opaque, std::int64_t offset, int whence);

private:
    int fail(int errorNumber);

    int descriptor_;
    std::int64_t position_ = 0;
    int firstError_ = 0;
    DescriptorIo* writer_;
    AVIOContext* context_ = nullptr;
};

// Lets a muxer that writes through `output` open the same file again for
// reading, as the MP4 muxer does to move its index to the front. FFmpeg would
// otherwise open the output's name itself, which a descriptor does not have.
// Opening for writing is refused: everything goes through `output`.
void allowReadingBack(AVFormatContext* format, DescriptorIo& output);

} // namespace spirell::video
