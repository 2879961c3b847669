#include "image/DeepZoom.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

namespace spirell::image {

namespace {

std::uint32_t halvedTimes(std::uint32_t side, int times) {
    // Halving with rounding up n times is rounding up side / 2^n.
    const std::uint64_t divisor = std::uint64_t{1} << times;
    return static_cast<std::uint32_t>((side + divisor - 1) / divisor);
}

std::uint32_t tileStart(std::uint32_t index, const DeepZoomLayout& layout) {
    const std::uint64_t start = std::uint64_t{index} * layout.tileSize;
    return static_cast<std::uint32_t>(
        index == 0 ? 0 : start - std::min<std::uint64_t>(start, layout.overlap));
}

std::uint32_t tileEnd(std::uint32_t index, std::uint32_t side, const DeepZoomLayout& layout) {
    const std::uint64_t end = (std::uint64_t{index} + 1) * layout.tileSize + layout.overlap;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(end, side));
}

} // namespace

int DeepZoomLayout::deepestLevel() const {
    const std::uint32_t side = std::max(width, height);
    int level = 0;
    while ((std::uint64_t{1} << level) < side)
        ++level;
    return level;
}

std::uint32_t DeepZoomLayout::levelWidth(int level) const {
    return halvedTimes(width, deepestLevel() - level);
}

std::uint32_t DeepZoomLayout::levelHeight(int level) const {
    return halvedTimes(height, deepestLevel() - level);
}

std::uint32_t DeepZoomLayout::columns(int level) const {
    return (levelWidth(level) + tileSize - 1) / tileSize;
}

std::uint32_t DeepZoomLayout::rows(int level) const {
    return (levelHeight(level) + tileSize - 1) / tileSize;
}

TileRect DeepZoomLayout::tile(int level, std::uint32_t column, std::uint32_t row) const {
    TileRect rect;
    rect.x = tileStart(column, *this);
    rect.y = tileStart(row, *this);
    rect.width = tileEnd(column, levelWidth(level), *this) - rect.x;
    rect.height = tileEnd(row, levelHeight(level), *this) - rect.y;
    return rect;
}

std::string deepZoomXml(const DeepZoomLayout& layout) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<Image xmlns=\"http://schemas.microsoft.com/deepzoom/2008\" Format=\"png\" Overlap=\"" +
           std::to_string(layout.overlap) + "\" TileSize=\"" + std::to_string(layout.tileSize) +
           "\">\n  <Size Width=\"" + std::to_string(layout.width) + "\" Height=\"" +
           std::to_string(layout.height) + "\"/>\n</Image>\n";
}

std::string tilePath(int level, std::uint32_t column, std::uint32_t row) {
    return std::to_string(level) + "/" + std::to_string(column) + "_" + std::to_string(row) +
           ".png";
}

void halveRows(const std::uint8_t* above, const std::uint8_t* below, std::uint32_t width,
               std::uint8_t* out) {
    const std::uint32_t halfWidth = (width + 1) / 2;
    for (std::uint32_t x = 0; x < halfWidth; ++x) {
        const std::size_t left = std::size_t{6} * x;
        const std::size_t right = 2 * x + 1 < width ? left + 3 : left;
        for (std::size_t c = 0; c < 3; ++c) {
            const unsigned sum =
                above[left + c] + above[right + c] + below[left + c] + below[right + c];
            out[std::size_t{3} * x + c] = static_cast<std::uint8_t>((sum + 2) >> 2);
        }
    }
}

DeepZoomPyramid::DeepZoomPyramid(const DeepZoomLayout& layout, TileSink sink)
    : layout_(layout), sink_(std::move(sink)) {
    levels_.resize(static_cast<std::size_t>(layout.deepestLevel()) + 1);
    // The largest tile at once, rather than growing by doubling past it.
    const std::uint64_t side = std::uint64_t{layout.tileSize} + 2 * layout.overlap;
    tilePixels_.reserve(static_cast<std::size_t>(3 * std::min<std::uint64_t>(side, layout.width) *
                                                 std::min<std::uint64_t>(side, layout.height)));
    for (int level = 0; level < static_cast<int>(levels_.size()); ++level) {
        Level& each = levels_[static_cast<std::size_t>(level)];
        each.width = layout.levelWidth(level);
        each.height = layout.levelHeight(level);
    }
}

void DeepZoomPyramid::addRow(const std::uint8_t* rgb) {
    addRow(static_cast<int>(levels_.size()) - 1, rgb);
}

bool DeepZoomPyramid::complete() const {
    return std::all_of(levels_.begin(), levels_.end(),
                       [](const Level& level) { return level.rowsIn == level.height; });
}

std::size_t DeepZoomPyramid::heldBytes() const {
    std::size_t bytes = tilePixels_.capacity();
    for (const Level& level : levels_)
        bytes += level.strip.capacity() + level.waiting.capacity() + level.halved.capacity();
    return bytes;
}

void DeepZoomPyramid::addRow(int level, const std::uint8_t* rgb) {
    Level& at = levels_[static_cast<std::size_t>(level)];
    const std::size_t rowBytes = std::size_t{3} * at.width;
    if (at.strip.empty()) {
        const std::uint32_t stripRows =
            std::min<std::uint32_t>(layout_.tileSize + 2 * layout_.overlap, at.height);
        at.strip.resize(stripRows * rowBytes);
    }
    std::memcpy(&at.strip[(at.rowsIn - at.firstHeld) * rowBytes], rgb, rowBytes);
    ++at.rowsIn;
    const bool lastRow = at.rowsIn == at.height;

    // The row of tiles under way is complete once its overlap below is there;
    // at the bottom the last two rows of tiles may end on the same row.
    while (at.tileRow < layout_.rows(level) && at.rowsIn == tileEnd(at.tileRow, at.height, layout_))
        emitTileRow(level);

    if (level == 0)
        return;
    if (!at.hasWaiting && !lastRow) {
        at.waiting.assign(rgb, rgb + rowBytes);
        at.hasWaiting = true;
        return;
    }
    at.halved.resize(std::size_t{3} * ((at.width + 1) / 2));
    halveRows(at.hasWaiting ? at.waiting.data() : rgb, rgb, at.width, at.halved.data());
    at.hasWaiting = false;
    if (lastRow) {
        // Finished levels give their memory back for the levels still filling.
        std::vector<std::uint8_t>().swap(at.waiting);
    }
    addRow(level - 1, at.halved.data());
}

void DeepZoomPyramid::emitTileRow(int level) {
    Level& at = levels_[static_cast<std::size_t>(level)];
    const std::size_t rowBytes = std::size_t{3} * at.width;
    for (std::uint32_t column = 0; column < layout_.columns(level); ++column) {
        Tile tile;
        tile.level = level;
        tile.column = column;
        tile.row = at.tileRow;
        tile.rect = layout_.tile(level, column, at.tileRow);
        const std::size_t tileRowBytes = std::size_t{3} * tile.rect.width;
        tilePixels_.resize(tile.rect.height * tileRowBytes);
        for (std::uint32_t y = 0; y < tile.rect.height; ++y)
            std::memcpy(&tilePixels_[y * tileRowBytes],
                        &at.strip[(tile.rect.y + y - at.firstHeld) * rowBytes +
                                  std::size_t{3} * tile.rect.x],
                        tileRowBytes);
        tile.rgb = tilePixels_.data();
        sink_(tile);
    }
    ++at.tileRow;
    if (at.tileRow == layout_.rows(level)) {
        std::vector<std::uint8_t>().swap(at.strip);
        return;
    }
    // The next row of tiles starts overlap rows above its first own row.
    const std::uint32_t nextFirst = tileStart(at.tileRow, layout_);
    const std::size_t kept = at.rowsIn - nextFirst;
    std::memmove(at.strip.data(), &at.strip[(nextFirst - at.firstHeld) * rowBytes],
                 kept * rowBytes);
    at.firstHeld = nextFirst;
}

} // namespace spirell::image
