#pragma once

#include "animation/FlightPlan.hpp"
#include "animation/FlightTarget.hpp"
#include "drawing/Computing.hpp"
#include "image/ImagePlan.hpp"
#include "video/VideoWriter.hpp"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// Painting a flight's frames on all cores, into numbered PNG files or into a
// video, with progress and cancellation, for spirell-render and the window
// alike.
namespace spirell::animation {

struct FlightProgress {
    std::uint64_t framesDone = 0; // written or encoded, kept ones included
    // Frames already there from an earlier run, or taken from the frames a
    // video is made from.
    std::uint64_t framesKept = 0;
    std::uint64_t frames = 0; // in all
    // Frame files numbered past the end, from an earlier, longer flight;
    // known once the last frame is done.
    std::uint64_t framesBeyond = 0;
};

// Frames first to end - 1 of a flight.
struct FrameRange {
    std::uint64_t first = 0;
    std::uint64_t end = 0;
    bool operator==(const FrameRange&) const = default;
};

// Part index (from 0) of parts contiguous ranges of a flight's frames, as
// even as whole frames allow: the first frames * index / parts on. Throws
// InputError for an index that is not below parts, or more parts than frames.
FrameRange partOfFlight(std::uint64_t frames, std::uint64_t index, std::uint64_t parts);

struct FlightOptions {
    // Set from any thread to stop: the render throws base::Cancelled within
    // about a band of rows. Frames already written stay; a video is left
    // unfinished, for its OutputFile to remove.
    const std::atomic<bool>* cancel = nullptr;
    // Called on the calling thread after each frame, and once at the start.
    std::function<void(const FlightProgress&)> progress;
    // The program named in each PNG frame.
    const char* software = "spirell-render";
    // Set, when given, while a frame is written to a FIFO or a device, whose
    // reader may keep the write waiting as long as it likes: whoever waits
    // for the render may let it go then.
    std::atomic<bool>* writingDirect = nullptr;
    // PNG frames: only these frames are written (one part of a flight
    // painted on several machines); all when not given.
    std::optional<FrameRange> range;
    // A video: frames taken from these PNG frames where each holds its
    // frame, complete and with the very view the flight gives it; the others
    // are computed.
    std::optional<FramePattern> framesFrom;
};

// Writes the frames as PNG files named by the pattern, each through an
// OutputFile, so that a frame file appears only when complete. A frame file
// that is already there and complete, of the frame's size and with the
// frame's settings stored in it, is kept, so that a render that was stopped
// goes on where it stopped; any other file of that name is replaced. The
// pattern's folder is made first when makeFolder says so. Throws InputError
// when a frame file cannot be made there, RenderFailure when writing fails,
// base::Cancelled when asked to stop.
void renderFrameFiles(const FlightPlan& plan, const FramePattern& names, bool makeFolder,
                      const drawing::Computing& computing, const FlightOptions& options = {});

// The size the frames of a flight planned with that frame are written at in
// that kind of output: kinds that keep one colour sample for 2 x 2 pixels take
// one more column (row) where the frame's width (height) is odd, as a larger
// frame would show it.
image::FrameSize writtenFrameSize(image::FrameSize frame, video::OutputKind kind);

// Encodes the flight as a video of that kind, with its recipe as metadata,
// into the file at path, which appears only when complete (an OutputFile).
// The frames are computed on the computing's threads while the encoder takes
// the frame before on a thread of its own; two frames are held at a time.
// Throws InputError for a path where no video can be written (standard
// output, a device or a FIFO among them), video::UnsupportedVideo when the
// video cannot be made as asked, RenderFailure or video::VideoFailure when
// writing fails, base::Cancelled when asked to stop.
void renderVideoFile(const FlightPlan& plan, const std::string& path, video::OutputKind kind,
                     const drawing::Computing& computing, const FlightOptions& options = {});

// Renders the flight to where the target says: PNG frames or a video.
void renderFlight(const FlightPlan& plan, const FlightTarget& target,
                  const drawing::Computing& computing, const FlightOptions& options = {});

// Frame number frame of the flight, with the extra columns and rows a video
// takes, computed on the computing's threads into rgb: 3 bytes a pixel, rows
// top to bottom. Throws base::Cancelled when cancel is set.
void computeFrame(const FlightPlan& plan, std::uint64_t frame, const drawing::Computing& computing,
                  const image::ExtraPixels& extra, const std::atomic<bool>* cancel,
                  std::uint8_t* rgb);

} // namespace spirell::animation
