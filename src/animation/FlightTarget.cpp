#include "animation/FlightTarget.hpp"

#include "base/Errors.hpp"
#include "base/UserText.hpp"
#include "files/OutputFile.hpp"

#include <algorithm>
#include <cctype>
#include <sys/stat.h>

namespace spirell::animation {

std::string FramePattern::nameOf(std::uint64_t frame) const {
    std::string digits = std::to_string(frame);
    if (digits.size() < static_cast<std::size_t>(width))
        digits.insert(0, static_cast<std::size_t>(width) - digits.size(), zeroPadded ? '0' : ' ');
    return before + digits + after;
}

std::string FramePattern::folder() const {
    return files::folderOf(before);
}

namespace {

bool endsWithPng(const std::string& name) {
    if (name.size() < 4)
        return false;
    std::string ending = name.substr(name.size() - 4);
    std::transform(ending.begin(), ending.end(), ending.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ending == ".png";
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

std::optional<FramePattern> readFramePattern(const std::string& name) {
    std::optional<FramePattern> pattern;
    const auto refuse = [&](const char* why) {
        return base::InputError("cannot number frames by " + base::quoted(name) + ": " + why);
    };
    for (std::size_t at = 0; at < name.size(); ++at) {
        if (name[at] != '%')
            continue;
        if (pattern)
            throw refuse("it has a \"%\" after its number; frames take one \"%d\" or \"%05d\"");
        FramePattern found;
        found.before = name.substr(0, at);
        std::size_t end = at + 1;
        if (end < name.size() && name[end] == '0') {
            found.zeroPadded = true;
            ++end;
        }
        const std::size_t digits = end;
        while (end < name.size() && isDigit(name[end]) && end - digits < 2)
            found.width = found.width * 10 + (name[end++] - '0');
        if (end >= name.size() || (name[end] != 'd' && name[end] != 'i'))
            throw refuse("only \"%d\", or \"%05d\" and the like, may stand for the frame number");
        found.after = name.substr(end + 1);
        pattern = std::move(found);
        at = end;
    }
    if (pattern && !endsWithPng(name))
        throw refuse("numbered frames are PNG images, so the name ends in \".png\"");
    return pattern;
}

namespace {

FlightTarget framesInFolder(const std::string& output, bool exists) {
    std::string folder = output;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    // Built rather than read, so that a "%" in the folder's name is its own.
    FramePattern names;
    names.before = (folder == "/" ? "" : folder) + "/" + kFolderFramePrefix;
    names.after = outputKindRow(video::OutputKind::PngFrames).extension;
    names.width = kFolderFrameDigits;
    names.zeroPadded = true;
    FlightTarget target;
    target.path = output;
    target.frames = names;
    target.makesFolder = !exists;
    return target;
}

bool isFolder(const std::string& path) {
    struct stat status = {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

} // namespace

FlightTarget flightTargetFor(const std::string& output, bool lossless) {
    const bool exists = isFolder(output);
    if (exists || (!output.empty() && output.back() == '/'))
        return framesInFolder(output, exists);
    FlightTarget target;
    target.path = output;
    target.frames = readFramePattern(output);
    if (target.frames)
        return target;
    if (const auto kind = video::videoKindFor(output, lossless)) {
        target.kind = *kind;
        return target;
    }
    if (lossless && video::videoKindFor(output, false))
        throw base::InputError(
            "lossless video is written as " + std::string(video::losslessVideo().name) +
            ", so its name ends in \"" + std::string(video::losslessVideo().extension) +
            "\", not as " + base::quoted(output));
    throw base::InputError("cannot tell what to write as " + base::quoted(output) +
                           ": give a folder, frame names with \"%05d\" ending in \".png\", or a "
                           "video ending in " +
                           video::videoExtensionsText());
}

FlightTarget flightTargetAs(video::OutputKind kind, const std::string& output) {
    if (!video::isVideo(kind))
        return framesInFolder(output, isFolder(output));
    FlightTarget target;
    target.kind = kind;
    target.path = output;
    const std::string_view extension = outputKindRow(kind).extension;
    if (video::videoKindFor(output, false) != kind)
        target.path += extension;
    return target;
}

} // namespace spirell::animation
