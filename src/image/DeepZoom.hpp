#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace spirell::image {

// A Deep Zoom pyramid, as OpenSeadragon and `vips dzsave` lay it out. Level 0
// is 1 x 1 pixel; each level above doubles it, and the last level is the
// image itself. A level is cut into square tiles of tileSize pixels, each
// reaching overlap pixels further into its neighbours where it has them.

// 254 + 1 makes tiles of 256 pixels inside the image, as Deep Zoom's own
// tools and OpenSeadragon's examples do.
inline constexpr std::uint32_t kDefaultTileSize = 254;
inline constexpr std::uint32_t kDefaultTileOverlap = 1;
// Smaller tiles would be more files than pixels worth; larger ones more than
// a browser decodes at once. An overlap is at most half a tile.
inline constexpr std::uint32_t kMinTileSize = 16;
inline constexpr std::uint32_t kMaxTileSize = 8192;

struct TileRect {
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

struct DeepZoomLayout {
    std::uint32_t width = 1; // of the image, the deepest level
    std::uint32_t height = 1;
    std::uint32_t tileSize = kDefaultTileSize;
    std::uint32_t overlap = kDefaultTileOverlap;

    // The deepest level's number: the first at which a side of 2^level
    // pixels holds the image.
    int deepestLevel() const;
    // Each side halved (deepestLevel - level) times, rounding up.
    std::uint32_t levelWidth(int level) const;
    std::uint32_t levelHeight(int level) const;
    std::uint32_t columns(int level) const;
    std::uint32_t rows(int level) const;
    // The pixels of a level that tile (column, row) holds.
    TileRect tile(int level, std::uint32_t column, std::uint32_t row) const;
};

// The .dzi file's text: its XML with PNG tiles.
std::string deepZoomXml(const DeepZoomLayout& layout);

// "LEVEL/COLUMN_ROW.png", the tile's path in the NAME_files folder.
std::string tilePath(int level, std::uint32_t column, std::uint32_t row);

// One row of a level from two rows of the level below, each of width pixels
// (three bytes a pixel): every pixel is the mean of 2 x 2, each channel
// rounded half up, (a + b + c + d + 2) / 4. An odd last column is averaged
// with a copy of itself, as `vips dzsave` repeats the edge; an odd last row
// comes with itself as below.
void halveRows(const std::uint8_t* above, const std::uint8_t* below, std::uint32_t width,
               std::uint8_t* out);

// A tile's pixels, rows of three bytes a pixel one after another.
struct Tile {
    int level = 0;
    std::uint32_t column = 0;
    std::uint32_t row = 0;
    TileRect rect;
    const std::uint8_t* rgb = nullptr;
};
using TileSink = std::function<void(const Tile&)>;

// Builds every level of the pyramid from the image's rows as they come, top
// to bottom, and hands each tile over as soon as its last row is there: a
// row of tiles of the deepest level, then those of the levels above that it
// completes. Each level keeps only the rows of its row of tiles under way
// (tileSize + 2 x overlap rows of its width) and one row waiting for its
// pair, so the whole holds about 2 x (tileSize + 2 x overlap) rows of the
// image, whatever its height.
class DeepZoomPyramid {
public:
    DeepZoomPyramid(const DeepZoomLayout& layout, TileSink sink);
    // The next row of the image, width x 3 bytes.
    void addRow(const std::uint8_t* rgb);
    // Whether every row came, and so every tile was handed over.
    bool complete() const;
    // Bytes of pixels this pyramid holds at most.
    std::size_t heldBytes() const;

private:
    struct Level {
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        std::uint32_t rowsIn = 0;    // rows received so far
        std::uint32_t firstHeld = 0; // the level row held at strip's start
        std::uint32_t tileRow = 0;   // the row of tiles under way
        std::vector<std::uint8_t> strip;
        std::vector<std::uint8_t> waiting; // a row waiting for its pair below
        bool hasWaiting = false;
        std::vector<std::uint8_t> halved;
    };
    void addRow(int level, const std::uint8_t* rgb);
    void emitTileRow(int level);

    DeepZoomLayout layout_;
    TileSink sink_;
    std::vector<Level> levels_;
    std::vector<std::uint8_t> tilePixels_;
};

} // namespace spirell::image
