#pragma once

#include <cstddef>
#include <cstdint>

// The boundary between the programs and the video module, the one piece that
// links FFmpeg's libraries. The programs load it only when they write a
// video, so that a picture or a PNG frame never pays for loading FFmpeg and
// the codec libraries it pulls in. Plain C, so that no exception, allocation
// or C++ type crosses it: each call reports its outcome in a SpirellVideoError.

extern "C" {

struct SpirellVideoEncoder; // one video being written

enum SpirellVideoStatus : int {
    kSpirellVideoDone = 0,
    kSpirellVideoUnsupported = 1, // as UnsupportedVideo: nothing written
    kSpirellVideoFailed = 2,      // as VideoFailure: the file is to be discarded
};

struct SpirellVideoError {
    int status;
    char text[1024]; // one line, ended by a zero byte
};

struct SpirellVideoModule {
    std::uint32_t abi; // kVideoModuleAbi of the build that made the module
    // Writes the container's header; null on failure. metadata holds pairs
    // of key and text, 2 * metadataPairs strings in all.
    SpirellVideoEncoder* (*open)(int descriptor, int kind, std::uint32_t width,
                                 std::uint32_t height, int framesPerSecond,
                                 const char* const* metadata, std::size_t metadataPairs,
                                 SpirellVideoError* error);
    // Takes width * height * 3 bytes of RGB.
    int (*writeFrame)(SpirellVideoEncoder* encoder, const std::uint8_t* rgb,
                      SpirellVideoError* error);
    int (*finish)(SpirellVideoEncoder* encoder, SpirellVideoError* error);
    void (*close)(SpirellVideoEncoder* encoder);
};

// The module's one entry point.
const SpirellVideoModule* spirell_video_module();
}

namespace spirell::video {

// Changes with any change of the boundary above or of the meaning of its
// numbers (the output kinds), so that a module from another build is refused.
inline constexpr std::uint32_t kVideoModuleAbi = 1;
inline constexpr const char* kVideoModuleEntry = "spirell_video_module";

} // namespace spirell::video
