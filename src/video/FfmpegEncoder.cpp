// The video module: the encoders and containers of Debian's FFmpeg libraries
// behind the plain C boundary of VideoModule.hpp. Built as a library of its
// own that the programs load when they first write a video.
#include "video/DescriptorIo.hpp"
#include "video/OutputKinds.hpp"
#include "video/VideoErrors.hpp"
#include "video/VideoModule.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace spirell::video {

namespace {

// How each kind is made. A flight of 300 frames of 1280x720 should take no
// more than 25 s on two cores, of which computing the frames takes 12 to 18 s;
// the speeds below were chosen by measuring encoders on such frames.
struct Recipe {
    const char* codecName;
    const char* muxerName;
    AVPixelFormat pixelFormat;
    std::vector<std::pair<const char*, const char*>> encoderOptions;
    std::vector<std::pair<const char*, const char*>> muxerOptions;
};

Recipe recipeFor(OutputKind kind) {
    switch (kind) {
    case OutputKind::Mp4H264:
        // CRF 18 looks the same as the frames to the eye. Detailed patterns
        // at that quality come to about 90 Mbit/s, where "superfast" takes
        // about 44 ms of processor time a 1280 x 720 frame against 64 for
        // "veryfast", for a file 5 % smaller; on smooth patterns its files are
        // about twice as large, but small either way (1.6 Mbit/s).
        return {"libx264",
                "mp4",
                AV_PIX_FMT_YUV420P,
                {{"preset", "superfast"}, {"crf", "18"}},
                // The index goes to the front so that players start before the
                // whole file has arrived; metadata tags keep keys of our own,
                // which MP4 would otherwise drop.
                {{"movflags", "+faststart+use_metadata_tags"}}};
    case OutputKind::WebmVp9:
        // CRF 24 comes as close to the frames as x264's CRF 18. The realtime
        // mode at speed 6 takes about 0.02 s a frame; the good mode would
        // make files 2.4 times smaller but take twice as long, past the time
        // a flight may take.
        return {"libvpx-vp9",
                "webm",
                AV_PIX_FMT_YUV420P,
                {{"crf", "24"}, {"deadline", "realtime"}, {"cpu-used", "6"}, {"row-mt", "1"}},
                {}};
    case OutputKind::MkvLossless:
        // 8-bit RGB keeps every byte; FFV1 version 3 codes slices on all cores
        // and checks each slice with a CRC.
        return {"ffv1", "matroska", AV_PIX_FMT_0RGB32, {{"slicecrc", "1"}}, {}};
    case OutputKind::PngFrames:
        break;
    }
    throw UnsupportedVideo(std::string(outputKindRow(kind).name) + " are not a video");
}

// FFmpeg has one log callback for the whole process. The module sets it so
// that FFmpeg's messages stay off standard error, where they would mix with
// the programs' own, and so that an error FFmpeg logged can explain the
// failure it goes with. Each message goes to the writer whose context logged
// it: the encoders log from threads of their own, so a context is known by
// its address, and a message without a known context goes to the writer the
// logging thread is working for.
struct LoggedError {
    std::string text;
};

std::mutex logMutex;
std::unordered_map<const void*, LoggedError*> logRoutes;
thread_local LoggedError* workingFor = nullptr;

void keepLoggedErrors(void* context, int level, const char* format, va_list arguments) {
    if (level > AV_LOG_ERROR)
        return;
    char line[512];
    std::vsnprintf(line, sizeof line, format, arguments);
    std::string text = line;
    // One line for the message: FFmpeg's end in a line break.
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    if (text.empty())
        return;
    std::lock_guard lock(logMutex);
    const auto route = logRoutes.find(context);
    LoggedError* error = route != logRoutes.end() ? route->second : workingFor;
    if (error != nullptr)
        error->text = std::move(text);
}

// The contexts of one writer, whose messages go to its LoggedError while they live.
class LogRoutes {
public:
    explicit LogRoutes(LoggedError& error) : error_(error) {}
    ~LogRoutes() {
        std::lock_guard lock(logMutex);
        for (const void* context : contexts_)
            logRoutes.erase(context);
    }
    LogRoutes(const LogRoutes&) = delete;
    LogRoutes& operator=(const LogRoutes&) = delete;

    void add(const void* context) {
        if (context == nullptr)
            return;
        std::lock_guard lock(logMutex);
        logRoutes[context] = &error_;
        contexts_.push_back(context);
    }

private:
    LoggedError& error_;
    std::vector<const void*> contexts_;
};

// While it lives, messages without a known context logged by this thread go
// to error.
class WorkingFor {
public:
    explicit WorkingFor(LoggedError& error) : before_(workingFor) { workingFor = &error; }
    ~WorkingFor() { workingFor = before_; }
    WorkingFor(const WorkingFor&) = delete;
    WorkingFor& operator=(const WorkingFor&) = delete;

private:
    LoggedError* before_;
};

std::string errorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

struct FormatDeleter {
    void operator()(AVFormatContext* format) const { avformat_free_context(format); }
};
struct CodecDeleter {
    void operator()(AVCodecContext* codec) const { avcodec_free_context(&codec); }
};
struct ScalerDeleter {
    void operator()(SwsContext* scaler) const { sws_freeContext(scaler); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct DictionaryDeleter {
    void operator()(AVDictionary* dictionary) const { av_dict_free(&dictionary); }
};

// One video being written. The programs have checked its size, frame rate,
// metadata keys and frames' sizes before anything reaches here.
class Encoder {
public:
    Encoder(int descriptor, OutputKind kind, std::uint32_t width, std::uint32_t height,
            int framesPerSecond, const std::vector<std::pair<const char*, const char*>>& metadata);

    void writeFrame(const std::uint8_t* rgb);
    void finish();

    // Runs a step, with FFmpeg's messages going to this writer; a
    // VideoFailure it throws is kept and thrown by every later call, so that
    // a failure can never end in apparent success.
    template <typename Step> void guarded(Step&& step);

private:
    void openEncoder(const Recipe& recipe, int framesPerSecond);
    void openContainer(const Recipe& recipe,
                       const std::vector<std::pair<const char*, const char*>>& metadata,
                       int framesPerSecond);
    void fillFrame(const std::uint8_t* rgb);
    void sendToEncoder(const AVFrame* frameOrEnd);
    void writePacket();
    void checkOutput(int result);
    // "cannot <what>: <FFmpeg's error> (<what FFmpeg logged for this writer>)".
    [[noreturn]] void fail(const std::string& what, int error);
    void check(int result, const std::string& what) {
        if (result < 0)
            fail(what, result);
    }

    OutputKind kind_;
    std::uint32_t width_;
    std::uint32_t height_;
    LoggedError loggedError_;
    // Declared first so that it outlives the container writing through it.
    std::unique_ptr<DescriptorIo> output_;
    std::unique_ptr<AVFormatContext, FormatDeleter> format_;
    std::unique_ptr<AVCodecContext, CodecDeleter> codec_;
    AVStream* stream_ = nullptr;
    std::unique_ptr<SwsContext, ScalerDeleter> scaler_;
    std::unique_ptr<AVFrame, FrameDeleter> frame_;
    std::unique_ptr<AVPacket, PacketDeleter> packet_;
    // Declared after the contexts, so that their routes go before they do.
    LogRoutes routes_{loggedError_};
    std::int64_t framesWritten_ = 0;
    bool failed_ = false;
    std::string failure_;
};

// The writer writes through the descriptor alone, so it insists on a file it
// can seek in and read back, and says so before anything is encoded; then it
// empties the file, which the video replaces whole.
void takeWholeFile(int descriptor) {
    const auto systemFailure = [] {
        return VideoFailure("cannot write the video: " + errorText(AVERROR(errno)));
    };
    struct stat status {};
    if (::fstat(descriptor, &status) != 0)
        throw systemFailure();
    if (!S_ISREG(status.st_mode))
        throw VideoFailure("cannot write the video: the output is not a regular file");
    const int flags = ::fcntl(descriptor, F_GETFL);
    if (flags < 0)
        throw systemFailure();
    if ((flags & O_ACCMODE) != O_RDWR)
        throw VideoFailure(
            "cannot write the video: the output is not open for reading and writing");
    if ((flags & O_APPEND) != 0)
        throw VideoFailure("cannot write the video: the output is open for appending only");
    if (::ftruncate(descriptor, 0) != 0)
        throw systemFailure();
}

Encoder::Encoder(int descriptor, OutputKind kind, std::uint32_t width, std::uint32_t height,
                 int framesPerSecond,
                 const std::vector<std::pair<const char*, const char*>>& metadata)
    : kind_(kind), width_(width), height_(height) {
    const WorkingFor working(loggedError_);
    const Recipe recipe = recipeFor(kind);
    const std::string name(outputKindRow(kind).name);
    if (avcodec_find_encoder_by_name(recipe.codecName) == nullptr)
        throw UnsupportedVideo(std::string("this FFmpeg has no ") + recipe.codecName +
                               " encoder for " + name);
    if (av_guess_format(recipe.muxerName, nullptr, nullptr) == nullptr)
        throw UnsupportedVideo(std::string("this FFmpeg cannot write ") + recipe.muxerName +
                               " files for " + name);
    takeWholeFile(descriptor);
    output_ = std::make_unique<DescriptorIo>(descriptor, DescriptorIo::Direction::Write);
    routes_.add(output_->context());
    openEncoder(recipe, framesPerSecond);
    openContainer(recipe, metadata, framesPerSecond);
}

void Encoder::fail(const std::string& what, int error) {
    std::string text = "cannot " + what + ": " + errorText(error);
    std::lock_guard lock(logMutex);
    if (!loggedError_.text.empty())
        text += " (" + loggedError_.text + ")";
    throw VideoFailure(text);
}

void Encoder::openEncoder(const Recipe& recipe, int framesPerSecond) {
    const AVCodec* encoder = avcodec_find_encoder_by_name(recipe.codecName);
    codec_.reset(avcodec_alloc_context3(encoder));
    if (!codec_)
        throw VideoFailure("cannot start the video encoder: out of memory");
    AVCodecContext& codec = *codec_;
    routes_.add(&codec);
    routes_.add(codec.priv_data);
    codec.width = static_cast<int>(width_);
    codec.height = static_cast<int>(height_);
    codec.pix_fmt = recipe.pixelFormat;
    codec.time_base = AVRational{1, framesPerSecond};
    codec.framerate = AVRational{framesPerSecond, 1};
    codec.sample_aspect_ratio = AVRational{1, 1};
    // The encoders pick their thread counts from the cores; the frames are
    // computed on the same cores, which the chosen speed settings allow for.
    codec.thread_count = 0;
    if (recipe.pixelFormat == AV_PIX_FMT_0RGB32) {
        // The frames are sRGB, stored as they are.
        codec.color_primaries = AVCOL_PRI_BT709;
        codec.color_trc = AVCOL_TRC_IEC61966_2_1;
        codec.colorspace = AVCOL_SPC_RGB;
        codec.color_range = AVCOL_RANGE_JPEG;
        // FFV1 version 3 codes slices in parallel. Its own choice of slices
        // fails for frames a few pixels across, which get one slice.
        codec.level = 3;
        codec.slices = width_ >= 64 && height_ >= 64 ? 4 : 1;
    } else {
        // The same BT.709 matrix and limited range as the conversion in
        // fillFrame, so that players turn the samples back into the same colours.
        codec.color_primaries = AVCOL_PRI_BT709;
        codec.color_trc = AVCOL_TRC_BT709;
        codec.colorspace = AVCOL_SPC_BT709;
        codec.color_range = AVCOL_RANGE_MPEG;
    }
    if (kind_ == OutputKind::WebmVp9)
        codec.bit_rate = 0; // Quality alone decides, as CRF asks.
    if ((av_guess_format(recipe.muxerName, nullptr, nullptr)->flags & AVFMT_GLOBALHEADER) != 0)
        codec.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    for (const auto& [name, value] : recipe.encoderOptions)
        check(av_opt_set(codec.priv_data, name, value, 0),
              std::string("set the encoder's ") + name);
    check(avcodec_open2(&codec, encoder, nullptr), "start the video encoder");

    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (!frame_ || !packet_)
        throw VideoFailure("cannot start the video encoder: out of memory");
    frame_->format = recipe.pixelFormat;
    frame_->width = codec.width;
    frame_->height = codec.height;
    frame_->color_primaries = codec.color_primaries;
    frame_->color_trc = codec.color_trc;
    frame_->colorspace = codec.colorspace;
    frame_->color_range = codec.color_range;
    check(av_frame_get_buffer(frame_.get(), 0), "start the video encoder");

    if (recipe.pixelFormat == AV_PIX_FMT_0RGB32)
        return; // fillFrame reorders the bytes itself, exactly.
    // Bit-exact so that a video's samples do not depend on the processor.
    scaler_.reset(sws_getContext(
        codec.width, codec.height, AV_PIX_FMT_RGB24, codec.width, codec.height, recipe.pixelFormat,
        SWS_BICUBIC | SWS_ACCURATE_RND | SWS_BITEXACT, nullptr, nullptr, nullptr));
    if (!scaler_)
        throw VideoFailure("cannot start the colour conversion");
    routes_.add(scaler_.get());
    // Without this swscale uses the BT.601 matrix, and the colours shift
    // in players that follow the BT.709 tags.
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    if (sws_setColorspaceDetails(scaler_.get(), bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16) < 0)
        throw VideoFailure("cannot start the colour conversion: BT.709 is not supported");
}

void Encoder::openContainer(const Recipe& recipe,
                            const std::vector<std::pair<const char*, const char*>>& metadata,
                            int framesPerSecond) {
    AVFormatContext* format = nullptr;
    check(avformat_alloc_output_context2(&format, nullptr, recipe.muxerName, nullptr),
          "start the video container");
    format_.reset(format);
    routes_.add(format);
    routes_.add(format->priv_data);
    format->pb = output_->context();
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    allowReadingBack(format, *output_);
    for (const auto& [key, text] : metadata)
        check(av_dict_set(&format->metadata, key, text, 0), "store the video's metadata");

    stream_ = avformat_new_stream(format, nullptr);
    if (stream_ == nullptr)
        throw VideoFailure("cannot start the video container: out of memory");
    check(avcodec_parameters_from_context(stream_->codecpar, codec_.get()),
          "start the video container");
    stream_->time_base = codec_->time_base;
    stream_->avg_frame_rate = AVRational{framesPerSecond, 1};
    stream_->r_frame_rate = AVRational{framesPerSecond, 1};

    AVDictionary* options = nullptr;
    for (const auto& [name, value] : recipe.muxerOptions)
        av_dict_set(&options, name, value, 0);
    const int result = avformat_write_header(format, &options);
    const std::unique_ptr<AVDictionary, DictionaryDeleter> unused(options);
    checkOutput(result);
    if (av_dict_count(unused.get()) > 0)
        throw VideoFailure(std::string("cannot start the video container: ") + recipe.muxerName +
                           " ignores option " +
                           av_dict_get(unused.get(), "", nullptr, AV_DICT_IGNORE_SUFFIX)->key);
}

void Encoder::fillFrame(const std::uint8_t* rgb) {
    // The encoder may still hold the previous frame's buffer.
    check(av_frame_make_writable(frame_.get()), "encode the video");
    const int rgbStride = static_cast<int>(width_) * 3;
    if (scaler_) {
        const std::uint8_t* const sourcePlanes[] = {rgb};
        const int sourceStrides[] = {rgbStride};
        // The number of rows it wrote: all of them, or the conversion failed.
        const int rows = sws_scale(scaler_.get(), sourcePlanes, sourceStrides, 0,
                                   static_cast<int>(height_), frame_->data, frame_->linesize);
        if (rows != static_cast<int>(height_))
            fail("convert the frame's colours", rows < 0 ? rows : AVERROR_BUG);
        return;
    }
    // Each pixel is one native 32-bit word 0x00RRGGBB. Packed here so that it
    // stays exact whatever path swscale would take.
    for (std::uint32_t y = 0; y < height_; ++y) {
        const std::uint8_t* source = rgb + static_cast<std::size_t>(y) * rgbStride;
        std::uint8_t* row = frame_->data[0] + static_cast<std::ptrdiff_t>(y) * frame_->linesize[0];
        for (std::uint32_t x = 0; x < width_; ++x) {
            const std::uint32_t word = std::uint32_t{source[3 * x]} << 16 |
                                       std::uint32_t{source[3 * x + 1]} << 8 | source[3 * x + 2];
            std::memcpy(row + 4 * x, &word, sizeof word);
        }
    }
}

void Encoder::sendToEncoder(const AVFrame* frameOrEnd) {
    // Every packet is taken out after each frame, so the encoder never
    // refuses a frame for being full.
    check(avcodec_send_frame(codec_.get(), frameOrEnd), "encode the video");
    for (;;) {
        const int result = avcodec_receive_packet(codec_.get(), packet_.get());
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return;
        check(result, "encode the video");
        writePacket();
    }
}

void Encoder::writePacket() {
    // Each packet shows one frame for one tick of 1/fps. Set here rather than
    // left to FFmpeg's guess from the frame rate, so that the last frame's
    // time always counts in the video's length.
    if (packet_->duration <= 0)
        packet_->duration = 1;
    packet_->stream_index = stream_->index;
    av_packet_rescale_ts(packet_.get(), codec_->time_base, stream_->time_base);
    checkOutput(av_interleaved_write_frame(format_.get(), packet_.get()));
}

void Encoder::checkOutput(int result) {
    // The file's own error says more than what FFmpeg turned it into, and
    // FFmpeg drops some write errors on the way.
    if (output_->firstError() != 0)
        check(output_->firstError(), "write the video");
    if (format_ && format_->pb != nullptr && format_->pb->error < 0)
        check(format_->pb->error, "write the video");
    check(result, "write the video");
}

template <typename Step> void Encoder::guarded(Step&& step) {
    if (failed_)
        throw VideoFailure(failure_);
    const WorkingFor working(loggedError_);
    {
        std::lock_guard lock(logMutex);
        loggedError_.text.clear();
    }
    try {
        step();
    } catch (const VideoFailure& failure) {
        failed_ = true;
        failure_ = failure.what();
        throw;
    }
}

void Encoder::writeFrame(const std::uint8_t* rgb) {
    guarded([&] {
        fillFrame(rgb);
        frame_->pts = framesWritten_;
        sendToEncoder(frame_.get());
        ++framesWritten_;
    });
}

void Encoder::finish() {
    guarded([&] {
        if (framesWritten_ == 0)
            throw VideoFailure("cannot finish the video: it has no frames");
        // The encoder still holds the frames of its lookahead.
        sendToEncoder(nullptr);
        checkOutput(av_write_trailer(format_.get()));
        avio_flush(format_->pb);
        checkOutput(0);
    });
}

// Runs a call of the boundary: its outcome, with the message of what it threw.
template <typename Call> int reported(SpirellVideoError* error, Call&& call) {
    const auto report = [&](int status, const char* text) {
        error->status = status;
        std::snprintf(error->text, sizeof error->text, "%s", text);
        return status;
    };
    try {
        call();
        return report(kSpirellVideoDone, "");
    } catch (const UnsupportedVideo& unsupported) {
        return report(kSpirellVideoUnsupported, unsupported.what());
    } catch (const std::bad_alloc&) {
        return report(kSpirellVideoFailed, "cannot write the video: out of memory");
    } catch (const std::exception& failure) {
        return report(kSpirellVideoFailed, failure.what());
    }
}

SpirellVideoEncoder* openVideo(int descriptor, int kind, std::uint32_t width, std::uint32_t height,
                               int framesPerSecond, const char* const* metadata,
                               std::size_t metadataPairs, SpirellVideoError* error) {
    Encoder* encoder = nullptr;
    reported(error, [&] {
        static std::once_flag silenced;
        std::call_once(silenced, [] { av_log_set_callback(&keepLoggedErrors); });
        std::vector<std::pair<const char*, const char*>> pairs;
        for (std::size_t i = 0; i < metadataPairs; ++i)
            pairs.emplace_back(metadata[2 * i], metadata[2 * i + 1]);
        encoder = new Encoder(descriptor, static_cast<OutputKind>(kind), width, height,
                              framesPerSecond, pairs);
    });
    return reinterpret_cast<SpirellVideoEncoder*>(encoder);
}

int writeVideoFrame(SpirellVideoEncoder* encoder, const std::uint8_t* rgb,
                    SpirellVideoError* error) {
    return reported(error, [&] { reinterpret_cast<Encoder*>(encoder)->writeFrame(rgb); });
}

int finishVideo(SpirellVideoEncoder* encoder, SpirellVideoError* error) {
    return reported(error, [&] { reinterpret_cast<Encoder*>(encoder)->finish(); });
}

void closeVideo(SpirellVideoEncoder* encoder) {
    delete reinterpret_cast<Encoder*>(encoder);
}

} // namespace

} // namespace spirell::video

extern "C" __attribute__((visibility("default"))) const SpirellVideoModule* spirell_video_module() {
    static const SpirellVideoModule module{
        spirell::video::kVideoModuleAbi, &spirell::video::openVideo,
        &spirell::video::writeVideoFrame, &spirell::video::finishVideo,
        &spirell::video::closeVideo};
    return &module;
}
