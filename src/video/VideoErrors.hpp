#pragma once

#include <stdexcept>

namespace spirell::video {

// The video cannot be made as asked: a codec or container missing from this
// FFmpeg, an odd side for a 4:2:0 kind, or a size, frame rate or metadata key
// out of range. Nothing has been written.
class UnsupportedVideo : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Making the video failed: the video module, the encoder, the container or
// the file. The file is incomplete and to be discarded.
class VideoFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace spirell::video
