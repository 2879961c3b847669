#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace spirell::video {

// The videos this program writes: a codec in its container.
enum class VideoKind {
    Mp4H264,     // H.264 by x264 in MP4, which every player and site takes.
    WebmVp9,     // VP9 by libvpx in WebM, for web pages.
    MkvLossless, // FFV1 in Matroska: every frame decodes back to the exact RGB.
};

// The kind an output name asks for by its extension, in any letter case:
// ".mp4" and ".webm" for the lossy kinds, ".mkv" for the lossless one. Lossless
// video exists only as ".mkv", so asking for it under another extension gives
// nullopt, as does an extension that names no kind.
std::optional<VideoKind> videoKindFor(std::string_view outputName, bool lossless);

// A short name for messages, such as "H.264 in MP4".
std::string_view videoKindName(VideoKind kind);

// Kinds that keep one colour sample for each 2x2 block of pixels (4:2:0) need
// an even width and height.
bool needsEvenSides(VideoKind kind);

// The sides and frame rates that a writer accepts. FFV1 as in Debian 12
// loses frames one pixel across, so the sides start at two for every kind.
inline constexpr std::uint32_t kMinVideoSide = 2;
inline constexpr std::uint32_t kMaxVideoSide = 16384;
inline constexpr int kMinFramesPerSecond = 1;
inline constexpr int kMaxFramesPerSecond = 240;

// The video cannot be made as asked: a codec or container missing from this
// FFmpeg, an odd side for a 4:2:0 kind, or a size, frame rate or metadata key
// out of range. Nothing has been written.
class UnsupportedVideo : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Making the video failed: the encoder, the container or the file. The file
// is incomplete and to be discarded.
class VideoFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Container metadata, key and text, in the order written.
using VideoMetadata = std::vector<std::pair<std::string, std::string>>;

// Encodes frames of 8-bit RGB, 3 bytes a pixel, rows top to bottom without
// padding, in order, into a video written through a descriptor that the caller
// owns and closes. The descriptor must be a regular file open for reading and
// writing (MP4 reads its data back to put the index in front); the video
// replaces whatever the file held. Frame i is shown from i / framesPerSecond
// seconds for one frame's time.
//
// Only finish() makes a complete video: a writer destroyed without it leaves a
// file to discard. Once a call has thrown VideoFailure, every later call
// throws it again, so a failure can never end in apparent success.
//
// FFmpeg's messages are kept from standard error for the whole process; the
// last error it logged is added to the text of the exceptions. One thread at a
// time uses a writer; a moved-from writer may only be destroyed or assigned to.
class VideoWriter {
public:
    // Writes the container's header. Throws UnsupportedVideo or VideoFailure.
    VideoWriter(int descriptor, VideoKind kind, std::uint32_t width, std::uint32_t height,
                int framesPerSecond, const VideoMetadata& metadata = {});
    ~VideoWriter();
    VideoWriter(VideoWriter&&) noexcept;
    VideoWriter& operator=(VideoWriter&&) noexcept;

    // Takes width * height * 3 bytes; throws std::invalid_argument for any
    // other size, std::logic_error after finish() and VideoFailure when
    // encoding or writing fails. The encoder keeps only a bounded number of
    // frames, whatever the length of the video.
    void writeFrame(std::span<const std::uint8_t> rgb);

    // Encodes the frames still held by the encoder and completes the file.
    // Throws VideoFailure when that fails or no frame was written; does
    // nothing when called again after success.
    void finish();

    std::uint64_t framesWritten() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace spirell::video
