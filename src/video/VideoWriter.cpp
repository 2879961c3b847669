#include "video/VideoWriter.hpp"

#include "video/DescriptorIo.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

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

Recipe recipeFor(VideoKind kind) {
    switch (kind) {
    case VideoKind::Mp4H264:
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
    case VideoKind::WebmVp9:
        // CRF 24 comes as close to the frames as x264's CRF 18. The realtime
        // mode at speed 6 takes about 0.02 s a frame; the good mode would
        // make files 2.4 times smaller but take twice as long, past the time
        // a flight may take.
        return {"libvpx-vp9",
                "webm",
                AV_PIX_FMT_YUV420P,
                {{"crf", "24"}, {"deadline", "realtime"}, {"cpu-used", "6"}, {"row-mt", "1"}},
                {}};
    case VideoKind::MkvLossless:
        // 8-bit RGB keeps every byte; FFV1 version 3 codes slices on all cores
        // and checks each slice with a CRC.
        return {"ffv1", "matroska", AV_PIX_FMT_0RGB32, {{"slicecrc", "1"}}, {}};
    }
    throw std::logic_error("unknown video kind");
}

// FFmpeg logs from the encoders' own threads too, so the last error is kept
// under a lock for the process.
std::mutex logMutex;
std::string lastLoggedError;

void keepLoggedErrors(void* /*context*/, int level, const char* format, va_list arguments) {
    if (level > AV_LOG_ERROR)
        return;
    char line[512];
    std::vsnprintf(line, sizeof line, format, arguments);
    std::string text = line;
    // One line for the exception: FFmpeg's messages end in a line break.
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    if (text.empty())
        return;
    std::lock_guard lock(logMutex);
    lastLoggedError = std::move(text);
}

void silenceFfmpeg() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(&keepLoggedErrors); });
}

void forgetLoggedError() {
    std::lock_guard lock(logMutex);
    lastLoggedError.clear();
}

std::string errorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

// "cannot <what>: <FFmpeg's error> (<what FFmpeg logged>)".
std::string failureText(const std::string& what, int error) {
    std::string text = "cannot " + what + ": " + errorText(error);
    std::lock_guard lock(logMutex);
    if (!lastLoggedError.empty())
        text += " (" + lastLoggedError + ")";
    return text;
}

void check(int result, const std::string& what) {
    if (result < 0)
        throw VideoFailure(failureText(what, result));
}

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

// The writer writes through the descriptor alone, so it insists on a file it
// can seek in and read back, and says so before anything is encoded.
void checkDescriptor(int descriptor) {
    struct stat status {};
    if (::fstat(descriptor, &status) != 0)
        throw VideoFailure(failureText("write the video", AVERROR(errno)));
    if (!S_ISREG(status.st_mode))
        throw VideoFailure("cannot write the video: the output is not a regular file");
    const int flags = ::fcntl(descriptor, F_GETFL);
    if (flags < 0)
        throw VideoFailure(failureText("write the video", AVERROR(errno)));
    if ((flags & O_ACCMODE) != O_RDWR)
        throw VideoFailure(
            "cannot write the video: the output is not open for reading and writing");
    if ((flags & O_APPEND) != 0)
        throw VideoFailure("cannot write the video: the output is open for appending only");
    // The video is the whole file.
    if (::ftruncate(descriptor, 0) != 0)
        throw VideoFailure(failureText("write the video", AVERROR(errno)));
}

void checkShape(VideoKind kind, std::uint32_t width, std::uint32_t height, int framesPerSecond) {
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    if (width < kMinVideoSide || height < kMinVideoSide || width > kMaxVideoSide ||
        height > kMaxVideoSide)
        throw UnsupportedVideo("a video's sides must be " + std::to_string(kMinVideoSide) + " to " +
                               std::to_string(kMaxVideoSide) + " pixels, not " + size);
    if (needsEvenSides(kind) && (width % 2 != 0 || height % 2 != 0))
        throw UnsupportedVideo(std::string(videoKindName(kind)) +
                               " needs an even width and height, not " + size);
    if (framesPerSecond < kMinFramesPerSecond || framesPerSecond > kMaxFramesPerSecond)
        throw UnsupportedVideo("a video's frame rate must be " +
                               std::to_string(kMinFramesPerSecond) + " to " +
                               std::to_string(kMaxFramesPerSecond) + " frames a second, not " +
                               std::to_string(framesPerSecond));
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

} // namespace

std::optional<VideoKind> videoKindFor(std::string_view outputName, bool lossless) {
    const auto lastSlash = outputName.find_last_of('/');
    const std::string_view fileName =
        lastSlash == std::string_view::npos ? outputName : outputName.substr(lastSlash + 1);
    const auto dot = fileName.find_last_of('.');
    if (dot == std::string_view::npos)
        return std::nullopt;
    const std::string extension = lowerCase(fileName.substr(dot));
    if (extension == ".mkv")
        return VideoKind::MkvLossless;
    if (lossless)
        return std::nullopt;
    if (extension == ".mp4")
        return VideoKind::Mp4H264;
    if (extension == ".webm")
        return VideoKind::WebmVp9;
    return std::nullopt;
}

std::string_view videoKindName(VideoKind kind) {
    switch (kind) {
    case VideoKind::Mp4H264:
        return "H.264 in MP4";
    case VideoKind::WebmVp9:
        return "VP9 in WebM";
    case VideoKind::MkvLossless:
        return "lossless FFV1 in Matroska";
    }
    return "unknown video";
}

bool needsEvenSides(VideoKind kind) {
    return kind != VideoKind::MkvLossless;
}

struct VideoWriter::State {
    enum class Phase { Open, Finished, Failed };

    State(int descriptor, VideoKind kind, std::uint32_t width, std::uint32_t height,
          int framesPerSecond, const VideoMetadata& metadata);

    void openEncoder(const Recipe& recipe, int framesPerSecond);
    void openContainer(const Recipe& recipe, const VideoMetadata& metadata, int framesPerSecond);
    void fillFrame(const std::uint8_t* rgb);
    void sendToEncoder(const AVFrame* frameOrEnd);
    void writePacket();
    void checkOutput(int result);
    // Runs a step; a VideoFailure it throws is kept and thrown by every later call.
    template <typename Step> void guarded(Step&& step);

    VideoKind kind_;
    std::uint32_t width_;
    std::uint32_t height_;
    // Declared first so that it outlives the container writing through it.
    std::unique_ptr<DescriptorIo> output_;
    std::unique_ptr<AVFormatContext, FormatDeleter> format_;
    std::unique_ptr<AVCodecContext, CodecDeleter> codec_;
    AVStream* stream_ = nullptr;
    std::unique_ptr<SwsContext, ScalerDeleter> scaler_;
    std::unique_ptr<AVFrame, FrameDeleter> frame_;
    std::unique_ptr<AVPacket, PacketDeleter> packet_;
    std::uint64_t framesWritten_ = 0;
    Phase phase_ = Phase::Open;
    std::string failure_;
};

VideoWriter::State::State(int descriptor, VideoKind kind, std::uint32_t width, std::uint32_t height,
                          int framesPerSecond, const VideoMetadata& metadata)
    : kind_(kind), width_(width), height_(height) {
    silenceFfmpeg();
    forgetLoggedError();
    checkShape(kind, width, height, framesPerSecond);
    for (const auto& [key, text] : metadata)
        if (key.empty())
            throw UnsupportedVideo("a video's metadata keys must not be empty");
    const Recipe recipe = recipeFor(kind);
    if (avcodec_find_encoder_by_name(recipe.codecName) == nullptr)
        throw UnsupportedVideo(std::string("this FFmpeg has no ") + recipe.codecName +
                               " encoder for " + std::string(videoKindName(kind)));
    if (av_guess_format(recipe.muxerName, nullptr, nullptr) == nullptr)
        throw UnsupportedVideo(std::string("this FFmpeg cannot write ") + recipe.muxerName +
                               " files for " + std::string(videoKindName(kind)));
    checkDescriptor(descriptor);
    output_ = std::make_unique<DescriptorIo>(descriptor, DescriptorIo::Direction::Write);
    openEncoder(recipe, framesPerSecond);
    openContainer(recipe, metadata, framesPerSecond);
}

void VideoWriter::State::openEncoder(const Recipe& recipe, int framesPerSecond) {
    const AVCodec* encoder = avcodec_find_encoder_by_name(recipe.codecName);
    codec_.reset(avcodec_alloc_context3(encoder));
    if (!codec_)
        throw VideoFailure("cannot start the video encoder: out of memory");
    AVCodecContext& codec = *codec_;
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
    if (kind_ == VideoKind::WebmVp9)
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
    // Without this swscale uses the BT.601 matrix, and the colours shift
    // in players that follow the BT.709 tags.
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    if (sws_setColorspaceDetails(scaler_.get(), bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16) < 0)
        throw VideoFailure("cannot start the colour conversion: BT.709 is not supported");
}

void VideoWriter::State::openContainer(const Recipe& recipe, const VideoMetadata& metadata,
                                       int framesPerSecond) {
    AVFormatContext* format = nullptr;
    check(avformat_alloc_output_context2(&format, nullptr, recipe.muxerName, nullptr),
          "start the video container");
    format_.reset(format);
    format->pb = output_->context();
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    allowReadingBack(format, *output_);
    for (const auto& [key, text] : metadata)
        check(av_dict_set(&format->metadata, key.c_str(), text.c_str(), 0),
              "store the video's metadata");

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

void VideoWriter::State::fillFrame(const std::uint8_t* rgb) {
    // The encoder may still hold the previous frame's buffer.
    check(av_frame_make_writable(frame_.get()), "encode the video");
    const int rgbStride = static_cast<int>(width_) * 3;
    if (scaler_) {
        const std::uint8_t* const sourcePlanes[] = {rgb};
        const int sourceStrides[] = {rgbStride};
        sws_scale(scaler_.get(), sourcePlanes, sourceStrides, 0, static_cast<int>(height_),
                  frame_->data, frame_->linesize);
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

void VideoWriter::State::sendToEncoder(const AVFrame* frameOrEnd) {
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

void VideoWriter::State::writePacket() {
    // Each packet shows one frame for one tick of 1/fps. Set here rather than
    // left to FFmpeg's guess from the frame rate, so that the last frame's
    // time always counts in the video's length.
    if (packet_->duration <= 0)
        packet_->duration = 1;
    packet_->stream_index = stream_->index;
    av_packet_rescale_ts(packet_.get(), codec_->time_base, stream_->time_base);
    checkOutput(av_interleaved_write_frame(format_.get(), packet_.get()));
}

void VideoWriter::State::checkOutput(int result) {
    // The file's own error says more than what FFmpeg turned it into, and
    // FFmpeg drops some write errors on the way.
    if (output_->firstError() != 0)
        check(output_->firstError(), "write the video");
    if (format_ && format_->pb != nullptr && format_->pb->error < 0)
        check(format_->pb->error, "write the video");
    check(result, "write the video");
}

template <typename Step> void VideoWriter::State::guarded(Step&& step) {
    if (phase_ == Phase::Failed)
        throw VideoFailure(failure_);
    forgetLoggedError();
    try {
        step();
    } catch (const VideoFailure& failure) {
        phase_ = Phase::Failed;
        failure_ = failure.what();
        throw;
    }
}

VideoWriter::VideoWriter(int descriptor, VideoKind kind, std::uint32_t width, std::uint32_t height,
                         int framesPerSecond, const VideoMetadata& metadata)
    : state_(std::make_unique<State>(descriptor, kind, width, height, framesPerSecond, metadata)) {}

VideoWriter::~VideoWriter() = default;
VideoWriter::VideoWriter(VideoWriter&&) noexcept = default;
VideoWriter& VideoWriter::operator=(VideoWriter&&) noexcept = default;

void VideoWriter::writeFrame(std::span<const std::uint8_t> rgb) {
    State& state = *state_;
    if (state.phase_ == State::Phase::Finished)
        throw std::logic_error("a finished video takes no more frames");
    const std::size_t expected = static_cast<std::size_t>(state.width_) * state.height_ * 3;
    if (rgb.size() != expected)
        throw std::invalid_argument("a video frame of " + std::to_string(state.width_) + "x" +
                                    std::to_string(state.height_) + " takes " +
                                    std::to_string(expected) + " bytes, not " +
                                    std::to_string(rgb.size()));
    state.guarded([&] {
        state.fillFrame(rgb.data());
        state.frame_->pts = static_cast<std::int64_t>(state.framesWritten_);
        state.sendToEncoder(state.frame_.get());
        ++state.framesWritten_;
    });
}

void VideoWriter::finish() {
    State& state = *state_;
    if (state.phase_ == State::Phase::Finished)
        return;
    state.guarded([&] {
        if (state.framesWritten_ == 0)
            throw VideoFailure("cannot finish the video: it has no frames");
        // The encoder still holds the frames of its lookahead.
        state.sendToEncoder(nullptr);
        state.checkOutput(av_write_trailer(state.format_.get()));
        avio_flush(state.format_->pb);
        state.checkOutput(0);
        state.phase_ = State::Phase::Finished;
    });
}

std::uint64_t VideoWriter::framesWritten() const {
    return state_->framesWritten_;
}

} // namespace spirell::video
