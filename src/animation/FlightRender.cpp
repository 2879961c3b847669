#include "animation/FlightRender.hpp"

#include "base/Errors.hpp"
#include "base/UserText.hpp"
#include "base/WorkerPool.hpp"
#include "files/OutputFile.hpp"
#include "image/BandRenderer.hpp"
#include "image/ImagePlan.hpp"
#include "image/PngFile.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <sys/stat.h>
#include <vector>

namespace spirell::animation {

static_assert(kMaxFrames - 1 <= 99999, "folder frame names have room for every frame number");

namespace {

void checkCancel(const FlightOptions& options) {
    if (options.cancel && options.cancel->load(std::memory_order_relaxed))
        throw base::Cancelled();
}

void report(const FlightOptions& options, const FlightProgress& progress) {
    if (options.progress)
        options.progress(progress);
}

void makeFolder(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0777) == 0)
        return;
    const int error = errno;
    struct stat status = {};
    if (error == EEXIST && ::stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        return; // made meanwhile, by another run say
    base::throwFileError(
        "cannot make the folder " + base::shown(folder) + ": " + std::strerror(error), error);
}

// Whether the file's pixels are those of the frame: every row decodes, and
// the first, the middle and the last are the very rows the frame has. A
// frame whose data was lost or overwritten is painted again.
bool holdsFramePixels(const image::ImageSettings& settings, const drawing::Computing& computing,
                      const std::string& path) {
    const image::ImagePlan picture = image::planImage(settings, computing);
    const std::uint32_t height = picture.height();
    std::map<std::uint32_t, std::vector<std::uint8_t>> samples;
    for (const std::uint32_t row : {std::uint32_t{0}, height / 2, height - 1})
        samples.emplace(row, std::vector<std::uint8_t>(picture.rowBytes()));
    std::uint32_t row = 0;
    picture.rows.forEach([&](double Y) {
        if (const auto sample = samples.find(row++); sample != samples.end())
            image::computeRow(picture, Y, sample->second.data());
    });
    return image::decodePngRows(
        path, picture.width(), height, [&](std::uint32_t y, const std::uint8_t* rgb) {
            const auto sample = samples.find(y);
            return sample == samples.end() ||
                   std::memcmp(rgb, sample->second.data(), sample->second.size()) == 0;
        });
}

// Marks, for as long as it lives, a write that may wait on a reader.
class DirectWrite {
public:
    DirectWrite(std::atomic<bool>* flag, bool direct) : flag_(direct ? flag : nullptr) {
        if (flag_)
            *flag_ = true;
    }
    ~DirectWrite() {
        if (flag_)
            *flag_ = false;
    }
    DirectWrite(const DirectWrite&) = delete;
    DirectWrite& operator=(const DirectWrite&) = delete;

private:
    std::atomic<bool>* flag_;
};

// Whether the file holds the frame with these settings, complete: its view
// as stored and its pixels.
bool holdsFrame(const FlightPlan& plan, const image::ImageSettings& settings,
                const drawing::Computing& computing, const std::string& path) {
    if (!image::isCompletePng(path, plan.frame.width, plan.frame.height))
        return false;
    const std::vector<std::string> keys = image::storedKeys();
    std::map<std::string, std::string> stored;
    try {
        stored = image::readPngTexts(path, keys);
    } catch (const base::InputError&) {
        return false;
    }
    // Every stored setting as the frame would store it; which program wrote
    // the file does not matter.
    std::map<std::string, std::string> expected;
    for (const auto& [key, text] : image::storedTexts(plan.formula->routine, settings))
        if (std::find(keys.begin(), keys.end(), key) != keys.end())
            expected.emplace(key, text);
    return stored == expected && holdsFramePixels(settings, computing, path);
}

// Takes the frame from the PNG frames the options name, when the file there
// holds it, into rgb; false when it must be computed. A video that adds
// pixels to the frames computes them all.
bool takeFrame(const FlightPlan& plan, std::uint64_t frame, const drawing::Computing& computing,
               const FlightOptions& options, const image::ExtraPixels& extra, std::uint8_t* rgb) {
    if (!options.framesFrom || extra.columns != 0 || extra.rows != 0)
        return false;
    const std::string path = options.framesFrom->nameOf(frame);
    if (!holdsFrame(plan, plan.frameSettings(frame), computing, path))
        return false;
    const std::size_t rowBytes = std::size_t{3} * plan.frame.width;
    return image::decodePngRows(path, plan.frame.width, plan.frame.height,
                                [&](std::uint32_t row, const std::uint8_t* pixels) {
                                    std::memcpy(rgb + row * rowBytes, pixels, rowBytes);
                                    return true;
                                });
}

} // namespace

FrameRange partOfFlight(std::uint64_t frames, std::uint64_t index, std::uint64_t parts) {
    if (parts == 0 || index >= parts)
        throw base::InputError("part " + std::to_string(index) + " of " + std::to_string(parts) +
                               " does not exist: parts are counted from 0 to " +
                               (parts == 0 ? std::string("N - 1") : std::to_string(parts - 1)));
    if (parts > frames)
        throw base::InputError("a flight of " + std::to_string(frames) +
                               " frames cannot be cut into " + std::to_string(parts) + " parts");
    // frames * index fits: both stay below 2^32 (kMaxFrames).
    return {frames * index / parts, frames * (index + 1) / parts};
}

void renderFrameFiles(const FlightPlan& plan, const FramePattern& names, bool makeFolderFirst,
                      const drawing::Computing& computing, const FlightOptions& options) {
    checkCancel(options);
    if (makeFolderFirst)
        makeFolder(names.folder());
    const FrameRange range = options.range.value_or(FrameRange{0, plan.frames});
    FlightProgress progress{0, 0, range.end - range.first};
    report(options, progress);
    for (std::uint64_t frame = range.first; frame < range.end; ++frame) {
        checkCancel(options);
        const std::string path = names.nameOf(frame);
        const image::ImageSettings settings = plan.frameSettings(frame);
        if (holdsFrame(plan, settings, computing, path)) {
            ++progress.framesKept;
        } else {
            const image::ImagePlan picture = image::planImage(settings, computing);
            files::OutputFile output(path);
            const DirectWrite direct(options.writingDirect, !output.isFile());
            image::BandOptions bands;
            bands.threads = picture.threads;
            bands.cancel = options.cancel;
            image::renderPng(picture,
                             image::storedTexts(plan.formula->routine, settings, options.software),
                             output.stream(), bands);
            output.commit();
        }
        ++progress.framesDone;
        report(options, progress);
    }
    // Frames of an earlier, longer flight are not this flight's: said, and
    // left for the user to remove; the last part of a flight looks.
    if (range.end < plan.frames)
        return;
    struct stat status = {};
    while (::stat(names.nameOf(plan.frames + progress.framesBeyond).c_str(), &status) == 0)
        ++progress.framesBeyond;
    if (progress.framesBeyond > 0)
        report(options, progress);
}

image::FrameSize writtenFrameSize(image::FrameSize frame, video::OutputKind kind) {
    image::FrameSize size = frame;
    if (video::outputKindRow(kind).evenSides) {
        size.width += size.width % 2;
        size.height += size.height % 2;
    }
    // Every kind of video grows a side of one pixel alike.
    if (video::isVideo(kind)) {
        size.width = std::max(size.width, video::kMinVideoSide);
        size.height = std::max(size.height, video::kMinVideoSide);
    }
    return size;
}

void renderVideoFile(const FlightPlan& plan, const std::string& path, video::OutputKind kind,
                     const drawing::Computing& computing, const FlightOptions& options) {
    // The encoder reads back what it wrote, so only a file will do.
    const auto notAFile = [&] {
        return base::InputError("cannot write a video to " + base::shown(path) +
                                ": a video is written to a file, which the encoder reads back");
    };
    if (path == "-" || files::isFifoOrDevice(path))
        throw notAFile();
    const image::FrameSize size = writtenFrameSize(plan.frame, kind);
    const image::ExtraPixels extra{size.width - plan.frame.width, size.height - plan.frame.height};
    checkCancel(options);

    files::OutputFile output(path);
    // A file is open for reading and writing, as the encoder needs it.
    if (!output.isFile())
        throw notAFile();
    video::VideoWriter writer(output.descriptor(), kind, size.width, size.height,
                              plan.timing.framesPerSecond, flightMetadata(plan));
    const std::size_t frameBytes = std::size_t{3} * size.width * size.height;
    // The workers fill one buffer while the encoder takes the other.
    std::vector<std::uint8_t> buffers[2] = {std::vector<std::uint8_t>(frameBytes),
                                            std::vector<std::uint8_t>(frameBytes)};
    FlightProgress progress{0, 0, plan.frames};
    report(options, progress);
    {
        // Declared after all it uses, so that its end, which waits for the
        // frame being encoded, finds them still there.
        base::WorkerPool encoder(1);
        for (std::uint64_t frame = 0; frame < plan.frames; ++frame) {
            checkCancel(options);
            std::vector<std::uint8_t>& buffer = buffers[frame % 2];
            if (takeFrame(plan, frame, computing, options, extra, buffer.data()))
                ++progress.framesKept;
            else
                computeFrame(plan, frame, computing, extra, options.cancel, buffer.data());
            // The frame before is encoded by now, or its failure is thrown here.
            encoder.wait();
            if (frame > 0) {
                ++progress.framesDone;
                report(options, progress);
            }
            encoder.start(1, [&writer, &buffer](std::size_t) { writer.writeFrame(buffer); });
        }
        encoder.wait();
    }
    checkCancel(options);
    writer.finish();
    output.commit();
    progress.framesDone = plan.frames;
    report(options, progress);
}

void renderFlight(const FlightPlan& plan, const FlightTarget& target,
                  const drawing::Computing& computing, const FlightOptions& options) {
    if (target.frames)
        renderFrameFiles(plan, *target.frames, target.makesFolder, computing, options);
    else
        renderVideoFile(plan, target.path, target.kind, computing, options);
}

void computeFrame(const FlightPlan& plan, std::uint64_t frame, const drawing::Computing& computing,
                  const image::ExtraPixels& extra, const std::atomic<bool>* cancel,
                  std::uint8_t* rgb) {
    const image::ImagePlan picture = image::planImage(plan.frameSettings(frame), computing, extra);
    image::BandOptions bands;
    bands.threads = picture.threads;
    bands.cancel = cancel;
    image::renderRows(picture, bands, [&](const std::uint8_t* row) {
        std::memcpy(rgb, row, picture.rowBytes());
        rgb += picture.rowBytes();
    });
}

} // namespace spirell::animation
