#pragma once

#include "video/OutputKinds.hpp"
#include "video/VideoErrors.hpp"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace spirell::video {

// The sides and frame rates that a writer accepts. FFV1 as in Debian 12
// loses frames one pixel across, so the sides start at two for every kind.
inline constexpr std::uint32_t kMinVideoSide = 2;
inline constexpr std::uint32_t kMaxVideoSide = 16384;
inline constexpr int kMinFramesPerSecond = 1;
inline constexpr int kMaxFramesPerSecond = 240;

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
// The encoding is done by the video module, which links FFmpeg's libraries:
// loaded by the first writer, so that a program that writes no video never
// loads them, and kept for the rest of the process. FFmpeg's messages are kept
// from standard error; the last error it logged for a writer is added to the
// text of that writer's exceptions. One thread at a time uses a writer; a
// moved-from writer may only be destroyed or assigned to.
class VideoWriter {
public:
    // Writes the container's header. Throws UnsupportedVideo for a kind,
    // size, frame rate or metadata that cannot be, and VideoFailure when the
    // module cannot be loaded or the start fails.
    VideoWriter(int descriptor, OutputKind kind, std::uint32_t width, std::uint32_t height,
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
