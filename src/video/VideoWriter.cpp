#include "video/VideoWriter.hpp"

#include "video/VideoModule.hpp"

#include <dlfcn.h>
#include <filesystem>
#include <mutex>
#include <stdexcept>

namespace spirell::video {

namespace {

// The module, loaded at the first video and kept for the rest of the process:
// unloading FFmpeg's libraries is not safe while their threads may linger.
// It lies where the installation puts it, SPIRELL_VIDEO_MODULE from the
// program's own folder.
const SpirellVideoModule& videoModule() {
    static std::once_flag once;
    static const SpirellVideoModule* module = nullptr;
    static std::string problem;
    std::call_once(once, [] {
        std::error_code error;
        const std::filesystem::path program =
            std::filesystem::read_symlink("/proc/self/exe", error);
        if (error) {
            problem = "cannot find the program's own folder: " + error.message();
            return;
        }
        const std::string path = (program.parent_path() / SPIRELL_VIDEO_MODULE).lexically_normal();
        void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            problem = ::dlerror();
            return;
        }
        using Entry = const SpirellVideoModule* (*)();
        const auto entry = reinterpret_cast<Entry>(::dlsym(library, kVideoModuleEntry));
        const SpirellVideoModule* found = entry != nullptr ? entry() : nullptr;
        if (found == nullptr || found->abi != kVideoModuleAbi) {
            problem = path + " is from another build of this program";
            return;
        }
        module = found;
    });
    if (module == nullptr)
        throw VideoFailure("cannot write videos: the video module cannot be loaded (" + problem +
                           "); PNG frames need no module");
    return *module;
}

void checkShape(OutputKind kind, std::uint32_t width, std::uint32_t height, int framesPerSecond) {
    if (!isVideo(kind))
        throw UnsupportedVideo(std::string(outputKindRow(kind).name) + " are not a video");
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    if (width < kMinVideoSide || height < kMinVideoSide || width > kMaxVideoSide ||
        height > kMaxVideoSide)
        throw UnsupportedVideo("a video's sides must be " + std::to_string(kMinVideoSide) + " to " +
                               std::to_string(kMaxVideoSide) + " pixels, not " + size);
    if (outputKindRow(kind).evenSides && (width % 2 != 0 || height % 2 != 0))
        throw UnsupportedVideo(std::string(outputKindRow(kind).name) +
                               " needs an even width and height, not " + size);
    const std::uint64_t blocks = std::uint64_t{(width + 15) / 16} * ((height + 15) / 16);
    if (outputKindRow(kind).maxBlocks != 0 && blocks > outputKindRow(kind).maxBlocks)
        throw UnsupportedVideo(std::string(outputKindRow(kind).name) + " takes frames of at most " +
                               std::to_string(outputKindRow(kind).maxBlocks) +
                               " blocks of 16 x 16 pixels (8192 x 4352), not " + size);
    if (framesPerSecond < kMinFramesPerSecond || framesPerSecond > kMaxFramesPerSecond)
        throw UnsupportedVideo("a video's frame rate must be " +
                               std::to_string(kMinFramesPerSecond) + " to " +
                               std::to_string(kMaxFramesPerSecond) + " frames a second, not " +
                               std::to_string(framesPerSecond));
}

// Throws what the module reported, if anything went wrong.
void throwIfFailed(const SpirellVideoError& error) {
    switch (error.status) {
    case kSpirellVideoDone:
        return;
    case kSpirellVideoUnsupported:
        throw UnsupportedVideo(error.text);
    default:
        throw VideoFailure(error.text);
    }
}

} // namespace

struct VideoWriter::State {
    struct Closer {
        void (*close)(SpirellVideoEncoder*);
        void operator()(SpirellVideoEncoder* opened) const { close(opened); }
    };

    const SpirellVideoModule* module;
    std::unique_ptr<SpirellVideoEncoder, Closer> encoder;
    std::uint32_t width;
    std::uint32_t height;
    std::uint64_t framesWritten = 0;
    bool finished = false;
};

VideoWriter::VideoWriter(int descriptor, OutputKind kind, std::uint32_t width, std::uint32_t height,
                         int framesPerSecond, const VideoMetadata& metadata) {
    checkShape(kind, width, height, framesPerSecond);
    std::vector<const char*> pairs;
    for (const auto& [key, text] : metadata) {
        if (key.empty())
            throw UnsupportedVideo("a video's metadata keys must not be empty");
        pairs.push_back(key.c_str());
        pairs.push_back(text.c_str());
    }
    const SpirellVideoModule& module = videoModule();
    SpirellVideoError error{};
    SpirellVideoEncoder* encoder =
        module.open(descriptor, static_cast<int>(kind), width, height, framesPerSecond,
                    pairs.data(), metadata.size(), &error);
    throwIfFailed(error);
    if (encoder == nullptr)
        throw VideoFailure("cannot start the video");
    state_ = std::make_unique<State>(
        State{&module, {encoder, State::Closer{module.close}}, width, height});
}

VideoWriter::~VideoWriter() = default;
VideoWriter::VideoWriter(VideoWriter&&) noexcept = default;
VideoWriter& VideoWriter::operator=(VideoWriter&&) noexcept = default;

void VideoWriter::writeFrame(std::span<const std::uint8_t> rgb) {
    State& state = *state_;
    if (state.finished)
        throw std::logic_error("a finished video takes no more frames");
    const std::size_t expected = static_cast<std::size_t>(state.width) * state.height * 3;
    if (rgb.size() != expected)
        throw std::invalid_argument(
            "a video frame of " + std::to_string(state.width) + "x" + std::to_string(state.height) +
            " takes " + std::to_string(expected) + " bytes, not " + std::to_string(rgb.size()));
    SpirellVideoError error{};
    state.module->writeFrame(state.encoder.get(), rgb.data(), &error);
    throwIfFailed(error);
    ++state.framesWritten;
}

void VideoWriter::finish() {
    State& state = *state_;
    if (state.finished)
        return;
    SpirellVideoError error{};
    state.module->finish(state.encoder.get(), &error);
    throwIfFailed(error);
    state.finished = true;
}

std::uint64_t VideoWriter::framesWritten() const {
    return state_->framesWritten;
}

} // namespace spirell::video
