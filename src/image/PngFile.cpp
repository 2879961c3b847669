#include "image/PngFile.hpp"

#include "base/Errors.hpp"
#include "base/Limits.hpp"
#include "base/UserText.hpp"

#include <png.h>

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace spirell::image {

namespace {

// libpng reports errors through a callback that must not return. It keeps the
// message here and jumps back to the setjmp of the call that failed; every such
// call sits in a function of its own with nothing to destroy on the way.
struct ErrorSink {
    char message[256] = "";
};

[[noreturn]] void onPngError(png_structp png, png_const_charp message) {
    auto* sink = static_cast<ErrorSink*>(png_get_error_ptr(png));
    std::snprintf(sink->message, sizeof sink->message, "%s", message);
    png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {} // nothing a user could act on

// Every side the format allows: libpng refuses images over a million pixels
// wide or high unless told otherwise.
static_assert(base::kMaxSide == PNG_UINT_31_MAX);

void putBigEndian(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value >> 24);
    out[1] = static_cast<std::uint8_t>(value >> 16);
    out[2] = static_cast<std::uint8_t>(value >> 8);
    out[3] = static_cast<std::uint8_t>(value);
}

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

} // namespace

PngWriter::PngWriter(std::FILE* file, std::uint32_t width, std::uint32_t height,
                     const TextChunks& texts, const Compression& compression,
                     const StreamPlace& place)
    : file_(file), compression_(compression), place_(place) {
    static const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    write(signature, sizeof signature);

    std::uint8_t header[13] = {};
    putBigEndian(header, width);
    putBigEndian(header + 4, height);
    header[8] = 8; // bits per channel
    header[9] = 2; // RGB; compression, filter method and interlacing stay 0
    writeChunk("IHDR", {header});

    for (const auto& [key, text] : texts) {
        // A keyword has 1 to 79 bytes and ends at the zero byte that follows it.
        if (key.empty() || key.size() > 79 || key.find('\0') != std::string::npos)
            throw base::RenderFailure("cannot write the text \"" + base::escaped(key) +
                                      "\": a bad key");
        static const std::uint8_t separator[1] = {0};
        writeChunk("tEXt", {bytesOf(key), separator, bytesOf(text)});
    }
}

void PngWriter::writePiece(const CompressedPiece& piece) {
    if (ended_ || (piece.last && !place_.ends))
        throw base::RenderFailure("cannot write the image: its data has already ended");
    std::vector<std::uint8_t> header;
    if (!started_) {
        header = zlibHeader(compression_);
        if (!place_.begins) {
            writeChunk("IDAT", {header});
            header.clear();
        }
    }
    started_ = true;
    adler_ = static_cast<std::uint32_t>(
        adler32_combine(adler_, piece.adler, static_cast<z_off_t>(piece.length)));
    std::uint8_t checksum[4] = {};
    std::span<const std::uint8_t> trailer;
    if (piece.last) {
        putBigEndian(checksum, adler_);
        trailer = checksum;
        ended_ = true;
    }

    // The stream's bytes, cut into chunks of a fixed largest size.
    std::span<const std::uint8_t> parts[] = {header, piece.bytes, trailer};
    std::size_t left = header.size() + piece.bytes.size() + trailer.size();
    std::size_t part = 0;
    while (left > 0) {
        const std::size_t chunkSize = std::min(left, kLargestDataChunk);
        std::vector<std::span<const std::uint8_t>> inChunk; // what of the parts this chunk holds
        for (std::size_t wanted = chunkSize; wanted > 0;) {
            while (parts[part].empty())
                ++part;
            const std::size_t take = std::min(wanted, parts[part].size());
            inChunk.push_back(parts[part].first(take));
            parts[part] = parts[part].subspan(take);
            wanted -= take;
        }
        writeChunk("IDAT", inChunk);
        left -= chunkSize;
    }
}

void PngWriter::writeDataChunk(std::span<const std::uint8_t> data, bool endsStream,
                               std::optional<std::uint32_t> crc) {
    if (ended_)
        throw base::RenderFailure("cannot write the image: its data has already ended");
    writeChunk("IDAT", {data}, crc);
    started_ = true;
    ended_ = endsStream;
}

void PngWriter::finish() {
    if (!place_.ends && started_ && !ended_) {
        // An empty final block of fixed codes, after the last piece's flush
        // left the stream on a byte boundary, and the band's checksum.
        std::uint8_t end[6] = {0x03, 0x00};
        putBigEndian(end + 2, adler_);
        writeChunk("IDAT", {end});
        ended_ = true;
    }
    if (!ended_)
        throw base::RenderFailure("cannot finish the image: its data has not ended");
    writeChunk("IEND", {});
}

void writePng(std::FILE* file, std::uint32_t width, std::uint32_t height, const std::uint8_t* rgb,
              const TextChunks& texts, const Compression& compression) {
    PngWriter png(file, width, height, texts, compression);
    const std::size_t rowBytes = std::size_t{3} * width;
    const std::size_t rowsPerPiece = pieceRows(rowBytes);
    CompressedPiece piece;
    for (std::size_t first = 0; first < height; first += rowsPerPiece) {
        const std::size_t rows = std::min<std::size_t>(rowsPerPiece, height - first);
        compressPiece(rgb + first * rowBytes, rows, rowBytes, first + rows == height, compression,
                      piece);
        png.writePiece(piece);
    }
    png.finish();
}

void PngWriter::writeChunk(const char* type,
                           const std::vector<std::span<const std::uint8_t>>& parts,
                           std::optional<std::uint32_t> knownCrc) {
    std::size_t size = 0;
    for (const auto& part : parts)
        size += part.size();
    std::uint8_t lengthAndType[8] = {};
    putBigEndian(lengthAndType, static_cast<std::uint32_t>(size));
    std::memcpy(lengthAndType + 4, type, 4);
    write(lengthAndType, sizeof lengthAndType);
    uLong crc = crc32(0, lengthAndType + 4, 4);
    for (const auto& part : parts) {
        if (part.empty())
            continue; // crc32 of a null pointer would start afresh
        write(part.data(), part.size());
        if (!knownCrc) // the costliest step of copying a chunk
            crc = crc32(crc, part.data(), static_cast<uInt>(part.size()));
    }
    std::uint8_t crcBytes[4] = {};
    putBigEndian(crcBytes, knownCrc.value_or(static_cast<std::uint32_t>(crc)));
    write(crcBytes, sizeof crcBytes);
}

void PngWriter::write(const void* bytes, std::size_t size) {
    errno = 0;
    if (size > 0 && std::fwrite(bytes, 1, size, file_) != size)
        throw base::RenderFailure(std::string("cannot write the image: ") +
                                  std::strerror(errno ? errno : EIO));
}

namespace {

// libpng's reading structures, reporting to errors; info is null when
// memory ran out.
struct ReadStructs {
    explicit ReadStructs(ErrorSink& errors) {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &errors, onPngError, onPngWarning);
        if (png)
            info = png_create_info_struct(png);
    }
    ~ReadStructs() { png_destroy_read_struct(&png, &info, nullptr); }
    ReadStructs(const ReadStructs&) = delete;
    ReadStructs& operator=(const ReadStructs&) = delete;

    png_structp png = nullptr;
    png_infop info = nullptr;
};

enum class Inflated { complete, tooLong, damaged };

// An inflate stream that ends with its owner, whichever way the owner leaves.
class InflateStream {
public:
    InflateStream() {
        if (inflateInit(&stream_) != Z_OK)
            throw std::bad_alloc();
    }
    ~InflateStream() { inflateEnd(&stream_); }
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;

    z_stream& operator*() { return stream_; }

private:
    z_stream stream_ = {};
};

// Inflates a zlib stream into text, giving up as soon as it would pass limit
// bytes: a few kilobytes of a compressed chunk can hold gigabytes of text.
Inflated inflateText(std::string_view compressed, std::size_t limit, std::string& text) {
    InflateStream inflating;
    z_stream& stream = *inflating;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = static_cast<uInt>(compressed.size()); // a chunk is far below 4 GiB here
    Inflated result = Inflated::damaged;
    for (;;) {
        char buffer[16384];
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        const int status = inflate(&stream, Z_NO_FLUSH);
        const std::size_t produced = sizeof buffer - stream.avail_out;
        if (produced > limit - text.size()) {
            result = Inflated::tooLong;
            break;
        }
        text.append(buffer, produced);
        if (status == Z_STREAM_END)
            result = Inflated::complete;
        if (status != Z_OK)
            break;
    }
    return result;
}

// Takes the text chunks that libpng hands over as unknown chunks, keeping only
// the texts under the wanted keys. Everything else is dropped unread, so a
// file cannot make the reader inflate or keep more than the caps allow.
struct TextReader {
    std::FILE* file = nullptr;
    const std::vector<std::string>* keys = nullptr;
    std::map<std::string, std::string> texts;
    std::size_t total = 0;
    std::string refusal; // why the file is refused, when a chunk fails
    bool outOfMemory = false;

    // False when the file is to be refused.
    bool take(const png_unknown_chunk& chunk) {
        const std::string_view type(reinterpret_cast<const char*>(chunk.name), 4);
        const bool compressedType = type == "zTXt";
        const bool international = type == "iTXt";
        if (type != "tEXt" && !compressedType && !international)
            return true;
        std::string_view data(reinterpret_cast<const char*>(chunk.data), chunk.size);
        const auto keyEnd = data.find('\0');
        if (keyEnd == std::string_view::npos) {
            // No zero byte after the keyword: a damaged chunk. One that is all
            // one of the keys is refused like any damaged text under them,
            // not passed over for an earlier text (libpng reads an empty one).
            const std::string key(data);
            if (std::find(keys->begin(), keys->end(), key) != keys->end())
                return refuse("a damaged \"" + key + "\" text");
            return true;
        }
        const std::string key(data.substr(0, keyEnd));
        if (std::find(keys->begin(), keys->end(), key) == keys->end())
            return true;
        data.remove_prefix(keyEnd + 1);

        // zTXt: method, data. iTXt: flag, method, language, translated key, data.
        // The flag is 0 (plain) or 1 (compressed); any other marks a damaged
        // chunk, which libpng drops too.
        bool compressed = compressedType;
        if (international) {
            if (data.size() < 2 || (data[0] != 0 && data[0] != 1))
                return refuse("a damaged \"" + key + "\" text");
            compressed = data[0] == 1;
            data.remove_prefix(1);
        }
        if (compressedType || compressed) {
            if (data.empty() || data[0] != 0)
                return refuse("a \"" + key + "\" text compressed in an unknown way");
        }
        if (compressedType || international)
            data.remove_prefix(1);
        for (int skipped = 0; international && skipped < 2; ++skipped) {
            const auto end = data.find('\0');
            if (end == std::string_view::npos)
                return refuse("a damaged \"" + key + "\" text");
            data.remove_prefix(end + 1);
        }

        std::string text;
        if (!compressed) {
            if (data.size() > kMaxTextBytes)
                return refuse(tooLong(key));
            text = data;
        } else {
            switch (inflateText(data, kMaxTextBytes, text)) {
            case Inflated::complete:
                break;
            case Inflated::tooLong:
                return refuse(tooLong(key));
            case Inflated::damaged:
                return refuse("a damaged \"" + key + "\" text");
            }
        }
        total += text.size();
        if (total > kMaxAllTextBytes)
            return refuse("more than " + std::to_string(kMaxAllTextBytes / 1024) +
                          " KiB of settings text");
        text.resize(std::min(text.size(), text.find('\0'))); // as far as a C string goes
        texts[key] = std::move(text);
        return true;
    }

    static std::string tooLong(const std::string& key) {
        return "a \"" + key + "\" text longer than " + std::to_string(kMaxTextBytes / 1024) +
               " KiB";
    }
    bool refuse(std::string reason) {
        refusal = "holds " + std::move(reason);
        return false;
    }
};

// libpng's reads, watched for chunk headers: a chunk that is too long is
// refused before libpng reads it.
void readData(png_structp png, png_bytep data, std::size_t length) {
    auto* reader = static_cast<TextReader*>(png_get_io_ptr(png));
    if (std::fread(data, 1, length, reader->file) != length)
        png_error(png, std::ferror(reader->file) ? std::strerror(errno) : "the file ends early");
    // A chunk header (length, type) always comes in one read of its own.
    if (png_get_io_state(png) == (PNG_IO_READING | PNG_IO_CHUNK_HDR) && length == 8 &&
        png_get_uint_32(data) > kMaxChunkBytes && std::memcmp(data + 4, "IDAT", 4) != 0) {
        reader->refuse("a chunk longer than " + std::to_string(kMaxChunkBytes >> 20) +
                       " MiB before the image data");
        png_error(png, "chunk too long");
    }
}

int onUnknownChunk(png_structp png, png_unknown_chunkp chunk) {
    auto* reader = static_cast<TextReader*>(png_get_user_chunk_ptr(png));
    // A critical chunk that is none of the image's own says the image cannot
    // be read without it.
    if ((chunk->name[0] & 0x20) == 0) {
        reader->refuse("an unknown critical chunk");
        return -1;
    }
    // No exception may cross libpng's C code.
    try {
        // Handled: libpng keeps the chunks a callback leaves unhandled, every
        // byte of them, whatever was asked of png_set_keep_unknown_chunks.
        if (reader->take(*chunk))
            return 1;
    } catch (const std::bad_alloc&) {
        reader->outOfMemory = true;
    }
    return -1;
}

bool readInfo(png_structp png, png_infop info, TextReader* reader) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_user_limits(png, base::kMaxSide, base::kMaxSide);
    // readData refuses longer chunks before libpng sees them; this bounds what
    // libpng allocates for one chunk all the same.
    png_set_chunk_malloc_max(png, kMaxChunkBytes);
    // A damaged text must not pass for a setting.
    png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
    // Every ancillary chunk, the texts included, goes to the callback as an
    // unknown chunk instead of being decoded and kept by libpng.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_read_user_chunk_fn(png, reader, onUnknownChunk);
    png_set_read_fn(png, reader, readData);
    png_set_sig_bytes(png, 8);
    png_read_info(png, info);
    return true;
}

} // namespace

ReadFile openForReading(const std::string& path) {
    // Without O_NONBLOCK, opening a FIFO would wait for a writer forever.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) {
        const int error = errno;
        base::throwFileError("cannot read " + base::shown(path) + ": " + std::strerror(error),
                             error);
    }
    struct stat status = {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        throw base::InputError("cannot read " + base::shown(path) + ": " +
                               (S_ISDIR(status.st_mode) ? "it is a folder" : "not a regular file"));
    }
    ReadFile file(::fdopen(descriptor, "rb"), &std::fclose);
    if (!file) {
        const int error = errno;
        ::close(descriptor);
        throw base::RenderFailure("cannot read " + base::shown(path) + ": " + std::strerror(error));
    }
    return file;
}

std::map<std::string, std::string> readPngTexts(const std::string& path,
                                                const std::vector<std::string>& keys) {
    const ReadFile file = openForReading(path);

    png_byte signature[8] = {};
    if (std::fread(signature, 1, sizeof signature, file.get()) != sizeof signature ||
        png_sig_cmp(signature, 0, sizeof signature) != 0)
        throw base::InputError(base::shown(path) + " is not a PNG file");

    ErrorSink errors;
    ReadStructs structs(errors);
    if (!structs.info)
        throw base::RenderFailure("cannot read " + base::shown(path) + ": out of memory");
    TextReader reader;
    reader.file = file.get();
    reader.keys = &keys;
    if (!readInfo(structs.png, structs.info, &reader)) {
        if (reader.outOfMemory)
            throw base::RenderFailure("cannot read " + base::shown(path) + ": out of memory");
        if (!reader.refusal.empty())
            throw base::InputError(base::shown(path) + " " + reader.refusal);
        throw base::InputError(base::shown(path) +
                               " is not a readable PNG file: " + errors.message);
    }
    return std::move(reader.texts);
}

namespace {

using OpenFile = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// The regular file at path, open for reading; null for anything else. Opened
// without waiting, so that a FIFO put in its place cannot hold the reader.
OpenFile openRegularFile(const std::string& path) {
    OpenFile none(nullptr, &std::fclose);
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0)
        return none;
    struct stat status = {};
    OpenFile file(::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode)
                      ? ::fdopen(descriptor, "rb")
                      : nullptr,
                  &std::fclose);
    if (!file)
        ::close(descriptor);
    return file;
}

} // namespace

bool isCompletePng(const std::string& path, std::uint32_t width, std::uint32_t height) {
    const OpenFile file = openRegularFile(path);
    if (!file)
        return false;
    const auto read = [&](void* bytes, std::size_t size) {
        return std::fread(bytes, 1, size, file.get()) == size;
    };
    std::uint8_t start[8] = {};
    if (!read(start, sizeof start) || png_sig_cmp(start, 0, sizeof start) != 0)
        return false;

    bool imageData = false;
    std::vector<std::uint8_t> buffer(std::size_t{64} << 10);
    for (int chunk = 0;; ++chunk) {
        std::uint8_t lengthAndType[8] = {};
        if (!read(lengthAndType, sizeof lengthAndType))
            return false;
        std::uint32_t left = png_get_uint_32(lengthAndType);
        if (left > PNG_UINT_31_MAX)
            return false;
        const std::string_view type(reinterpret_cast<const char*>(lengthAndType + 4), 4);
        if ((chunk == 0) != (type == "IHDR"))
            return false;
        uLong crc = crc32(0, lengthAndType + 4, 4);
        std::uint8_t header[13] = {};
        bool firstPart = true;
        do {
            const std::size_t part = std::min<std::size_t>(left, buffer.size());
            if (!read(buffer.data(), part))
                return false;
            if (firstPart && type == "IHDR")
                std::memcpy(header, buffer.data(), std::min<std::size_t>(part, sizeof header));
            firstPart = false;
            crc = crc32(crc, buffer.data(), static_cast<uInt>(part));
            left -= static_cast<std::uint32_t>(part);
        } while (left > 0);
        std::uint8_t stored[4] = {};
        if (!read(stored, sizeof stored) ||
            png_get_uint_32(stored) != static_cast<std::uint32_t>(crc))
            return false;
        if (type == "IHDR") {
            // 8-bit RGB, the standard compression and filters, no interlacing.
            static const std::uint8_t kind[5] = {8, 2, 0, 0, 0};
            if (png_get_uint_32(lengthAndType) != sizeof header ||
                png_get_uint_32(header) != width || png_get_uint_32(header + 4) != height ||
                std::memcmp(header + 8, kind, 5) != 0)
                return false;
        }
        imageData = imageData || type == "IDAT";
        if (type == "IEND")
            return imageData && std::fgetc(file.get()) == EOF;
    }
}

} // namespace spirell::image

namespace spirell::image {

namespace {

using RowVisit = std::function<bool(std::uint32_t row, const std::uint8_t* rgb)>;

// libpng's decoding of every row; false when libpng fails or visit stops.
bool readRows(png_structp png, png_infop info, std::FILE* file, std::uint8_t* row,
              std::uint32_t height, const RowVisit& visit) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_user_limits(png, base::kMaxSide, base::kMaxSide);
    png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
    // Only the image data counts here; the texts were read on their own.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_init_io(png, file);
    png_read_info(png, info);
    for (std::uint32_t y = 0; y < height; ++y) {
        png_read_row(png, row, nullptr);
        if (!visit(y, row))
            return false;
    }
    // The data must end with the last row: what follows is checked too.
    png_read_end(png, nullptr);
    return true;
}

} // namespace

bool decodePngRows(const std::string& path, std::uint32_t width, std::uint32_t height,
                   const RowVisit& visit) {
    if (!isCompletePng(path, width, height))
        return false;
    const OpenFile file = openRegularFile(path);
    if (!file)
        return false;
    ErrorSink errors;
    ReadStructs structs(errors);
    if (!structs.info)
        return false;
    std::vector<std::uint8_t> row(std::size_t{3} * width);
    return readRows(structs.png, structs.info, file.get(), row.data(), height, visit);
}

} // namespace spirell::image
