#pragma once

#include "base/Limits.hpp"
#include "boxes/BoxTable.hpp"
#include "formulas/Formula.hpp"
#include "image/PngFile.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace spirell::image {

// The largest scale at which a single pixel still keeps within the pixel limit.
inline constexpr int kMaxScale = 46340;
static_assert(std::uint64_t{kMaxScale} * kMaxScale <= base::kMaxPixels &&
              std::uint64_t{kMaxScale + 1} * (kMaxScale + 1) > base::kMaxPixels);

// The size of an image in pixels, each side 1 to base::kMaxSide.
struct FrameSize {
    std::uint32_t width = 0;
    std::uint32_t height = 0;

    bool operator==(const FrameSize&) const = default;
};

// Everything an image depends on: the formula as the user named it, the five
// box texts exactly as typed, the scale, and the frame: the image's size when
// it is not the view's own picture (see planImage).
struct ImageSettings {
    std::string formula;
    boxes::BoxTexts boxes;
    int scale = 1;
    std::optional<FrameSize> frame = std::nullopt;
    // A formula written as text: when there is one, it is the formula, and
    // formula holds formulas::kTextFormulaRoutine.
    std::string formulaText = {};
};

// The settings of a view of the formula: its routine name, and its text
// for a formula written as text.
ImageSettings settingsOf(const formulas::Formula& formula, const boxes::BoxTexts& boxes,
                         int scale = 1, std::optional<FrameSize> frame = std::nullopt);

// The formula the settings name, or null for an unknown name. Throws
// formulas::FormulaError for a formula text that does not compile.
const formulas::Formula* formulaOf(const ImageSettings& settings);

// "WIDTHxHEIGHT", two whole numbers in plain decimal digits from 1 to
// base::kMaxSide; nothing for any other text. The pixel count is not checked.
std::optional<FrameSize> readFrameSize(std::string_view text);
std::string frameSizeText(const FrameSize& size);

// The keys under which an image keeps its settings; each box's own key is in
// kBoxTable.
namespace keys {
inline constexpr const char* formula = "spirell:formula";
// Only images of a formula written as text have it.
inline constexpr const char* formulaText = "spirell:formula-text";
inline constexpr const char* scale = "spirell:scale";
// Only images with a frame have it; older images never do.
inline constexpr const char* frame = "spirell:frame";
} // namespace keys

// Every key an image keeps its settings under: the formula, the boxes, the
// scale and the frame.
std::vector<std::string> storedKeys();

// The text chunks that let an image be painted again; the formula is stored by
// its routine name, which never changes with the button captions. Software
// names the program that made the image.
TextChunks storedTexts(const char* routine, const ImageSettings& settings,
                       const char* software = "spirell-render");

// Settings stored in an image. Throws InputError naming the first key missing
// (the frame may be missing) or a scale or frame that cannot be read.
ImageSettings settingsFromTexts(const std::map<std::string, std::string>& texts,
                                const std::string& fileName);

// The settings stored in the image file at path, as settingsFromTexts reads
// them; InputError also when the file cannot be read as a PNG.
ImageSettings readStoredSettings(const std::string& path);

} // namespace spirell::image
