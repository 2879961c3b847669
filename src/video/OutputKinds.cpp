#include "video/OutputKinds.hpp"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <vector>

namespace spirell::video {

namespace {

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

} // namespace

const OutputKindRow& outputKindRow(OutputKind kind) {
    for (const OutputKindRow& row : kOutputKinds)
        if (row.kind == kind)
            return row;
    throw std::logic_error("an output kind missing from the table");
}

std::optional<OutputKind> videoKindFor(std::string_view outputName, bool lossless) {
    const auto lastSlash = outputName.find_last_of('/');
    const std::string_view fileName =
        lastSlash == std::string_view::npos ? outputName : outputName.substr(lastSlash + 1);
    const auto dot = fileName.find_last_of('.');
    if (dot == std::string_view::npos)
        return std::nullopt;
    for (const OutputKindRow& row : kOutputKinds)
        if (isVideo(row.kind) && sameIgnoringCase(fileName.substr(dot), row.extension))
            return !lossless || row.lossless ? std::optional(row.kind) : std::nullopt;
    return std::nullopt;
}

std::string videoExtensionsText(std::string_view lastJoin) {
    std::vector<std::string> quoted;
    for (const OutputKindRow& row : kOutputKinds)
        if (isVideo(row.kind))
            quoted.push_back("\"" + std::string(row.extension) + "\"");
    std::string text = quoted.front();
    for (std::size_t i = 1; i < quoted.size(); ++i)
        text += (i + 1 == quoted.size() ? std::string(lastJoin) : ", ") + quoted[i];
    return text;
}

const OutputKindRow& losslessVideo() {
    for (const OutputKindRow& row : kOutputKinds)
        if (isVideo(row.kind) && row.lossless)
            return row;
    throw std::logic_error("no lossless video in the table");
}

} // namespace spirell::video
