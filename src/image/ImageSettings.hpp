#pragma once

#include "base/Limits.hpp"
#include "boxes/BoxTable.hpp"
#include "image/PngFile.hpp"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace spirell::image {

// The largest scale at which a single pixel still keeps within the pixel limit.
inline constexpr int kMaxScale = 46340;
static_assert(std::uint64_t{kMaxScale} * kMaxScale <= base::kMaxPixels &&
              std::uint64_t{kMaxScale + 1} * (kMaxScale + 1) > base::kMaxPixels);

// Everything an image depends on: the formula as the user named it, the five
// box texts exactly as typed, and the scale.
struct ImageSettings {
    std::string formula;
    boxes::BoxTexts boxes;
    int scale = 1;
};

// The keys under which an image keeps its settings; each box's own key is in
// kBoxTable.
namespace keys {
inline constexpr const char* formula = "spirell:formula";
inline constexpr const char* scale = "spirell:scale";
} // namespace keys

// Every key an image keeps its settings under: the formula, the boxes, the scale.
std::vector<std::string> storedKeys();

// The text chunks that let an image be painted again; the formula is stored by
// its routine name, which never changes with the button captions. Software
// names the program that made the image.
TextChunks storedTexts(const char* routine, const ImageSettings& settings,
                       const char* software = "spirell-render");

// Settings stored in an image. Throws InputError naming the first key missing.
ImageSettings settingsFromTexts(const std::map<std::string, std::string>& texts,
                                const std::string& fileName);

} // namespace spirell::image
