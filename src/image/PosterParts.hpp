#pragma once

#include "image/BandRenderer.hpp"
#include "image/ImagePlan.hpp"
#include "image/PngEncoding.hpp"
#include "image/PngFile.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace spirell::image {

// A poster made in parts, on several machines say: part I of N is a band of
// whole pieces of the picture's rows (PngEncoding.hpp), a PNG of its own whose
// image data are the very bytes the whole picture has for those pieces
// (PngWriter). Joining the parts copies those bytes into the whole picture's
// file without decoding them, byte for byte the file one machine would write.

struct PartNumber {
    std::uint32_t index = 0; // from 0
    std::uint32_t count = 1;

    bool operator==(const PartNumber&) const = default;
};

// "I/N", two whole numbers in plain decimal digits with I below N; nothing
// for any other text.
std::optional<PartNumber> readPartNumber(std::string_view text);
std::string partNumberText(const PartNumber& part);

// A run of an image's rows.
struct RowBand {
    std::uint64_t first = 0;
    std::uint64_t count = 0;

    bool operator==(const RowBand&) const = default;
};

// The pieces an image of so many rows falls into.
std::uint64_t pieceCount(std::uint64_t height, std::size_t rowBytes,
                         std::size_t pieceBytes = kPieceBytes);

// The rows of a part: piece I x P / N up to piece (I + 1) x P / N of the P
// pieces, rounded down, so that the bands differ by one piece at most. Each
// part has one piece at least when N is at most P.
RowBand partRows(std::uint64_t height, std::size_t rowBytes, const PartNumber& part,
                 std::size_t pieceBytes = kPieceBytes);

// The keys a part keeps beside the whole picture's texts, after them.
namespace keys {
// "I/N".
inline constexpr const char* part = "spirell:part";
// "FIRST-LAST of HEIGHT": the part's rows, counted from 0 in the whole picture.
inline constexpr const char* partRows = "spirell:part-rows";
} // namespace keys

// The rows of the part of the picture the plan makes. Throws InputError for
// more parts than the picture has pieces.
RowBand partRowsOf(const ImagePlan& plan, const PartNumber& part,
                   std::size_t pieceBytes = kPieceBytes);

// Writes part of the picture the plan makes, with the picture's own texts
// and the part's. Throws InputError for more parts than the picture has
// pieces, else as renderPng.
void renderPart(const ImagePlan& plan, const TextChunks& texts, const PartNumber& part,
                std::FILE* file, const BandOptions& options, const ProgressSink& progress = {},
                const PngEncoding& encoding = {});

// What the parts given say about themselves, checked to belong together.
struct PartFile {
    std::string path;
    PartNumber number;
    RowBand rows;
    std::uint64_t dataOffset = 0; // where its first image data chunk begins
};
struct JoinPlan {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    TextChunks texts;            // the whole picture's
    std::vector<PartFile> parts; // in order
};

// Reads what stands before the image data of every part and checks that
// they are parts of one picture, cut as the picture's pieces are: the same
// texts, size and count of parts, every part once. Throws InputError naming
// the first file that is no part, is damaged, belongs to another picture or
// comes twice, or the first part missing.
JoinPlan planJoin(const std::vector<std::string>& paths, std::size_t pieceBytes = kPieceBytes);

// Writes the whole picture, copying each part's image data chunk by chunk
// after checking it: a chunk at a time in memory, nothing decompressed.
// Throws InputError for a part that is damaged or cut short, and RenderFailure
// when writing fails; either way what was written is incomplete.
void writeJoin(const JoinPlan& plan, std::FILE* file);

} // namespace spirell::image
