#pragma once

#include "image/PngEncoding.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace spirell::image {

// tEXt chunks in the order they are written: key, text.
using TextChunks = std::vector<std::pair<std::string, std::string>>;

// Where an image's pieces lie in the zlib stream of a larger picture: a
// band of a poster made in parts (PosterParts.hpp) may begin it, end it,
// both or neither.
struct StreamPlace {
    bool begins = true;
    bool ends = true;
};

// Image data goes into chunks of at most this many bytes.
inline constexpr std::size_t kLargestDataChunk = std::size_t{1} << 20;

// Writes an 8-bit RGB PNG whose image data comes as compressed pieces, in
// order, so the image never has to be held whole. The text chunks go before
// the image data, where a reader finds them without decoding any pixels.
// Each piece's data is cut into chunks of its own, the zlib header in the
// first piece's and the checksum in the last piece's.
//
// A band that does not begin the picture's stream has a zlib header all the
// same, in a chunk of its own before the first piece's; one that does not end
// it is ended by an empty final block and the band's own checksum, in a
// chunk of its own after the last piece's. Every other chunk is the very
// chunk the whole picture has, but for the checksum at the end of the last.
// Failures throw RenderFailure.
class PngWriter {
public:
    // Writes everything before the image data.
    PngWriter(std::FILE* file, std::uint32_t width, std::uint32_t height, const TextChunks& texts,
              const Compression& compression, const StreamPlace& place = {});
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;

    // Pieces come top to bottom; the one that ends the stream comes last.
    void writePiece(const CompressedPiece& piece);
    // Image data already cut into chunks, copied as it is; the chunk that
    // holds the stream's last byte ends it. A CRC already checked by the
    // reader of the data is written as it is, else worked out.
    void writeDataChunk(std::span<const std::uint8_t> data, bool endsStream,
                        std::optional<std::uint32_t> crc = std::nullopt);
    // Ends the file once the stream has ended, or ends a band's stream.
    void finish();

private:
    void writeChunk(const char* type, const std::vector<std::span<const std::uint8_t>>& parts,
                    std::optional<std::uint32_t> knownCrc = std::nullopt);
    void write(const void* bytes, std::size_t size);

    std::FILE* file_;
    Compression compression_;
    StreamPlace place_;
    bool started_ = false; // the zlib header is written
    bool ended_ = false;   // the last piece is written
    std::uint32_t adler_ = 1;
};

// Writes a whole image held in memory, rows of three bytes a pixel one after
// another, on the calling thread. Throws RenderFailure.
void writePng(std::FILE* file, std::uint32_t width, std::uint32_t height, const std::uint8_t* rgb,
              const TextChunks& texts, const Compression& compression = defaultCompression());

// What a PNG file may hold before its image data for readPngTexts to accept it.
inline constexpr std::size_t kMaxTextBytes = std::size_t{64} << 10;     // one text
inline constexpr std::size_t kMaxAllTextBytes = std::size_t{256} << 10; // all texts read
inline constexpr std::size_t kMaxChunkBytes = std::size_t{1} << 20;     // any chunk

// A file open for reading, closed when it goes.
using ReadFile = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// Opens a regular file to read, without waiting for a FIFO's writer. Throws
// InputError (through base::throwFileError) when it cannot be opened or is a
// folder or anything else but a regular file, RenderFailure when the system
// fails.
ReadFile openForReading(const std::string& path);

// The texts under the given keys in front of the image data of a PNG file;
// texts under other keys are skipped without being decompressed. Throws
// InputError when the file is not a regular file, cannot be read, is not a
// PNG or holds more than the limits above.
std::map<std::string, std::string> readPngTexts(const std::string& path,
                                                const std::vector<std::string>& keys);

// Whether path is a regular file holding a whole 8-bit RGB PNG of the given
// size, as PngWriter writes them: every chunk whole with its CRC right, image
// data, and the end chunk last. A file cut short, damaged, of another size or
// kind, or missing is not; nothing is thrown.
bool isCompletePng(const std::string& path, std::uint32_t width, std::uint32_t height);

// Decodes the image data of such a file row by row, top to bottom, handing
// each row (3 bytes a pixel) to visit, which may stop the decoding by giving
// false. False when the file is not complete as above, its data does not
// decode into every row, or visit stopped it; nothing is thrown. Holds one
// row at a time, whatever the image's size.
bool decodePngRows(const std::string& path, std::uint32_t width, std::uint32_t height,
                   const std::function<bool(std::uint32_t row, const std::uint8_t* rgb)>& visit);

} // namespace spirell::image
