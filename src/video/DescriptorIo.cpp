#include "video/DescriptorIo.hpp"

#include "video/VideoErrors.hpp"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/mem.h>
}

namespace spirell::video {

namespace {

// Large enough that a 720p frame's packets take a few system calls.
constexpr int kBufferBytes = 256 * 1024;

// FFmpeg 7 (libavformat 61) hands over the bytes to write as const, FFmpeg 5.1
// and 6 do not; the bytes are only read either way.
#if LIBAVFORMAT_VERSION_MAJOR >= 61
int writeCallback(void* opaque, const std::uint8_t* bytes, int size) {
#else
int writeCallback(void* opaque, std::uint8_t* bytes, int size) {
#endif
    return DescriptorIo::writeBytes(opaque, bytes, size);
}

} // namespace

DescriptorIo::DescriptorIo(int descriptor, Direction direction, DescriptorIo* writer)
    : descriptor_(descriptor), writer_(writer) {
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
    if (buffer == nullptr)
        throw VideoFailure("cannot start the video: out of memory");
    const bool writing = direction == Direction::Write;
    context_ = avio_alloc_context(buffer, kBufferBytes, writing ? 1 : 0, this,
                                  writing ? nullptr : &DescriptorIo::readBytes,
                                  writing ? &writeCallback : nullptr, &DescriptorIo::seek);
    if (context_ == nullptr) {
        av_free(buffer);
        throw VideoFailure("cannot start the video: out of memory");
    }
}

DescriptorIo::~DescriptorIo() {
    // FFmpeg may have replaced the buffer given at the start, so the context's
    // own one is freed.
    av_freep(&context_->buffer);
    avio_context_free(&context_);
}

int DescriptorIo::fail(int errorNumber) {
    const int error = AVERROR(errorNumber);
    if (firstError_ == 0)
        firstError_ = error;
    if (writer_ != nullptr && writer_->firstError_ == 0)
        writer_->firstError_ = error;
    return error;
}

int DescriptorIo::writeBytes(void* opaque, const std::uint8_t* bytes, int size) {
    auto& io = *static_cast<DescriptorIo*>(opaque);
    int written = 0;
    while (written < size) {
        const ssize_t result = ::pwrite(io.descriptor_, bytes + written,
                                        static_cast<std::size_t>(size - written), io.position_);
        if (result < 0 && errno == EINTR)
            continue;
        if (result < 0)
            return io.fail(errno);
        // A regular file takes at least one byte or says why not; anything
        // else would loop forever.
        if (result == 0)
            return io.fail(EIO);
        written += static_cast<int>(result);
        io.position_ += result;
    }
    return written;
}

int DescriptorIo::readBytes(void* opaque, std::uint8_t* bytes, int size) {
    auto& io = *static_cast<DescriptorIo*>(opaque);
    for (;;) {
        const ssize_t result =
            ::pread(io.descriptor_, bytes, static_cast<std::size_t>(size), io.position_);
        if (result < 0 && errno == EINTR)
            continue;
        if (result < 0)
            return io.fail(errno);
        if (result == 0)
            return AVERROR_EOF;
        io.position_ += result;
        return static_cast<int>(result);
    }
}

std::int64_t DescriptorIo::seek(void* opaque, std::int64_t offset, int whence) {
    auto& io = *static_cast<DescriptorIo*>(opaque);
    struct stat status {};
    std::int64_t target = 0;
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
    case SEEK_END:
        if (::fstat(io.descriptor_, &status) != 0)
            return io.fail(errno);
        if ((whence & ~AVSEEK_FORCE) == AVSEEK_SIZE)
            return status.st_size;
        target = status.st_size + offset;
        break;
    case SEEK_SET:
        target = offset;
        break;
    case SEEK_CUR:
        target = io.position_ + offset;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (target < 0)
        return AVERROR(EINVAL);
    io.position_ = target;
    return target;
}

namespace {

int openForReadingBack(AVFormatContext* format, AVIOContext** context, const char* /*url*/,
                       int flags, AVDictionary** /*options*/) {
    if ((flags & AVIO_FLAG_WRITE) != 0)
        return AVERROR(EPERM);
    auto* output = static_cast<DescriptorIo*>(format->opaque);
    try {
        auto* reader =
            new DescriptorIo(output->descriptor(), DescriptorIo::Direction::Read, output);
        *context = reader->context();
        return 0;
    } catch (const std::exception&) {
        return AVERROR(ENOMEM);
    }
}

int closeReadingBack(AVFormatContext* /*format*/, AVIOContext* context) {
    delete static_cast<DescriptorIo*>(context->opaque);
    return 0;
}

} // namespace

void allowReadingBack(AVFormatContext* format, DescriptorIo& output) {
    format->opaque = &output;
    format->io_open = &openForReadingBack;
    format->io_close2 = &closeReadingBack;
}

} // namespace spirell::video
