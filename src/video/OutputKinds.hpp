#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace spirell::video {

// What a flight can be written as: numbered PNG frames or one video file.
enum class OutputKind {
    Mp4H264,     // H.264 by x264 in MP4, which every player and site takes.
    WebmVp9,     // VP9 by libvpx in WebM, for web pages.
    MkvLossless, // FFV1 in Matroska: every frame decodes back to the exact RGB.
    PngFrames,   // One PNG picture a frame, each keeping its view.
};

// Everything the program says or decides about a kind of output, in one
// place: the command line's help and parsing, the window's animation dialog
// and the video writer all read it.
struct OutputKindRow {
    OutputKind kind;
    std::string_view extension; // of a video's file; of each frame for PNG frames
    std::string_view codec;     // what the help names it by: "H.264"
    std::string_view name;      // for messages: "H.264 in MP4"
    std::string_view choice;    // the animation dialog's entry
    std::string_view fileType;  // a file chooser's filter, without the pattern
    bool lossless;              // decodes to the frames' very colours
    bool evenSides;             // one colour for 2 x 2 pixels (4:2:0) needs even sides
    // The largest frame in blocks of 16 x 16 pixels, 0 for no limit: H.264's
    // highest level, 6.2, takes 8192 x 4352 pixels' worth, and a larger frame
    // would be tagged with a level it breaks, which strict players refuse.
    unsigned maxBlocks;
};

inline constexpr std::array kOutputKinds{
    OutputKindRow{OutputKind::Mp4H264, ".mp4", "H.264", "H.264 in MP4", "MP4 video (H.264)",
                  "MP4 video", false, true, 139264},
    OutputKindRow{OutputKind::WebmVp9, ".webm", "VP9", "VP9 in WebM", "WebM video (VP9)",
                  "WebM video", false, true, 0},
    OutputKindRow{OutputKind::MkvLossless, ".mkv", "lossless FFV1", "lossless FFV1 in Matroska",
                  "Lossless Matroska video (FFV1)", "Matroska video", true, false, 0},
    OutputKindRow{OutputKind::PngFrames, ".png", "PNG", "PNG frames", "PNG frames in a folder",
                  "PNG frames", true, false, 0},
};

const OutputKindRow& outputKindRow(OutputKind kind);

inline bool isVideo(OutputKind kind) {
    return kind != OutputKind::PngFrames;
}

// The video kind an output name asks for by its extension, in any letter
// case. Lossless video exists only as ".mkv", so asking for it under another
// extension gives nullopt, as does an extension that names no video.
std::optional<OutputKind> videoKindFor(std::string_view outputName, bool lossless);

// The video extensions, quoted and listed for a message: ".mp4", ".webm" or ".mkv".
std::string videoExtensionsText(std::string_view lastJoin = " or ");

// The one kind of lossless video.
const OutputKindRow& losslessVideo();

} // namespace spirell::video
