#pragma once

#include "video/OutputKinds.hpp"

#include <cstdint>
#include <optional>
#include <string>

// Where a flight goes: numbered PNG frames, or one video.
namespace spirell::animation {

// The names of numbered frames: text, one whole number, text. The number is
// written in decimal digits, at least width of them, padded with zeros or
// with blanks.
struct FramePattern {
    std::string before;
    std::string after;
    int width = 0;
    bool zeroPadded = false;

    // The name of frame number frame.
    std::string nameOf(std::uint64_t frame) const;
    // The folder the frames go to, "." when the names have none.
    std::string folder() const;
};

// Frames written into a folder are named "frame-00000.png" and on: enough
// digits for kMaxFrames frames.
inline constexpr const char* kFolderFramePrefix = "frame-";
inline constexpr int kFolderFrameDigits = 5;

struct FlightTarget {
    video::OutputKind kind = video::OutputKind::PngFrames;
    std::optional<FramePattern> frames; // the names of PNG frames, for them alone
    std::string path;         // the video's file, or the frames' folder or pattern as given
    bool makesFolder = false; // the frames' folder does not exist yet and is to be made
};

// What an output name asks for:
// - a folder that exists, or a name ending in "/" (made when the first frame
//   is written): PNG frames named "frame-00000.png" and on in it;
// - a name holding one printf-style integer conversion, "%d" or "%05d" say
//   (flags "0" or none, a width up to 2 digits, then "d" or "i"), and no
//   other "%", ending in ".png": PNG frames named by it;
// - a video's extension (only a lossless one when lossless): a video, as
//   video::videoKindFor says.
// PNG frames are lossless anyway, so lossless changes nothing for them.
// Throws InputError for anything else, naming the name.
FlightTarget flightTargetFor(const std::string& output, bool lossless);

// A target of the kind chosen, as the window's dialog chooses it: PNG frames
// go into the folder named (made when the first frame is written), and a
// video's name ends in its kind's extension, which is added when missing.
FlightTarget flightTargetAs(video::OutputKind kind, const std::string& output);

// Reads a name with one integer conversion; nothing when it has none.
// Throws InputError for a "%" that is not one integer conversion, for a
// second conversion, and for a name that does not end in ".png".
std::optional<FramePattern> readFramePattern(const std::string& name);

} // namespace spirell::animation
