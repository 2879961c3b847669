#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace spirell::image {

// The image data of a PNG is one zlib stream of filtered rows. It is made in
// pieces, each a run of whole rows compressed on its own by any thread: every
// piece but the last ends on a byte boundary without closing the stream, so
// the pieces joined in order are one valid stream. Where the pieces are cut
// depends on the image's width alone, so the file never depends on the
// number of threads.

// How the pieces are compressed, as zlib's level and strategy: fixed, so that
// every run writes the same file.
struct Compression {
    int level = 0;
    int strategy = 0;
};
Compression defaultCompression();

// A piece holds whole rows of about this many bytes, at least one row.
inline constexpr std::size_t kPieceBytes = std::size_t{256} << 10;

// The rows in each piece of an image whose rows have rowBytes bytes, for
// pieces of about pieceBytes.
std::size_t pieceRows(std::size_t rowBytes, std::size_t pieceBytes = kPieceBytes);

// PNG filter types, one byte before each filtered row.
enum class Filter : std::uint8_t { none = 0, sub = 1, up = 2, average = 3, paeth = 4 };

// The filter whose bytes are the least varied (of the lowest entropy), which
// is what run-length and Huffman coding gain most from; on a tie the lower
// type. The bytes counted are those of the first pixel, every fourth run of
// sixteen bytes after it and the bytes after the last whole run. Rows hold
// three bytes a pixel; above is the row before (zeros for the first). Without
// lookAbove only none and sub are tried, the filters a decoder undoes
// without the row before.
Filter chooseFilter(const std::uint8_t* row, const std::uint8_t* above, std::size_t rowBytes,
                    bool lookAbove = true);

// count x log2(count), the logarithm to 16 binary places, by integer
// arithmetic alone, so that the filter chosen is the same on every machine.
std::uint64_t entropyWeight(std::uint64_t count);

// Writes row filtered with the filter into out (rowBytes bytes, no type byte).
void filterRow(Filter filter, const std::uint8_t* row, const std::uint8_t* above,
               std::size_t rowBytes, std::uint8_t* out);

// One piece of the stream: raw deflate data and the Adler-32 checksum and
// length of the filtered bytes it holds, which join into the stream's checksum.
struct CompressedPiece {
    std::vector<std::uint8_t> bytes;
    std::uint32_t adler = 1;
    std::uint64_t length = 0;
    bool last = false; // ends the stream
};

// Filters and compresses rowCount rows that lie one after another. The
// piece's first row is filtered with none or sub alone, which a decoder
// undoes without the row above it: each piece then decodes the same whether
// the piece before it is there or not, so that a band of pieces is a
// picture of its own (PosterParts.hpp). The last piece of the
// image ends the stream. Throws std::bad_alloc, or RenderFailure for a
// compression zlib does not know.
void compressPiece(const std::uint8_t* rows, std::size_t rowCount, std::size_t rowBytes, bool last,
                   const Compression& compression, CompressedPiece& piece);

// The two bytes that begin the zlib stream for the compression.
std::vector<std::uint8_t> zlibHeader(const Compression& compression);

} // namespace spirell::image
