#include "image/PosterParts.hpp"

#include "base/Errors.hpp"
#include "base/Limits.hpp"
#include "base/UserText.hpp"
#include "base/WholeNumber.hpp"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <span>
#include <sys/stat.h>
#include <unistd.h>

namespace spirell::image {

std::optional<PartNumber> readPartNumber(std::string_view text) {
    const auto slash = text.find('/');
    if (slash == std::string_view::npos)
        return std::nullopt;
    constexpr long long kMost = std::numeric_limits<std::uint32_t>::max();
    const std::optional<long long> index = base::readWholeNumber(text.substr(0, slash), 0, kMost);
    const std::optional<long long> count = base::readWholeNumber(text.substr(slash + 1), 1, kMost);
    if (!index || !count || *index >= *count)
        return std::nullopt;
    return PartNumber{static_cast<std::uint32_t>(*index), static_cast<std::uint32_t>(*count)};
}

std::string partNumberText(const PartNumber& part) {
    return std::to_string(part.index) + "/" + std::to_string(part.count);
}

std::uint64_t pieceCount(std::uint64_t height, std::size_t rowBytes, std::size_t pieceBytes) {
    const std::uint64_t rows = pieceRows(rowBytes, pieceBytes);
    return (height + rows - 1) / rows;
}

RowBand partRows(std::uint64_t height, std::size_t rowBytes, const PartNumber& part,
                 std::size_t pieceBytes) {
    const std::uint64_t rowsInPiece = pieceRows(rowBytes, pieceBytes);
    const std::uint64_t pieces = pieceCount(height, rowBytes, pieceBytes);
    // Below 2^32 x 2^31: no overflow.
    const auto pieceAt = [&](std::uint64_t index) { return index * pieces / part.count; };
    const std::uint64_t first = std::min(height, pieceAt(part.index) * rowsInPiece);
    const std::uint64_t end =
        std::min(height, pieceAt(part.index + std::uint64_t{1}) * rowsInPiece);
    return {first, end - first};
}

namespace {

// "FIRST-LAST of HEIGHT".
std::string rowsText(const RowBand& rows, std::uint64_t height) {
    return std::to_string(rows.first) + "-" + std::to_string(rows.first + rows.count - 1) + " of " +
           std::to_string(height);
}

// The rows and the whole picture's height; nothing for a text not written so.
std::optional<std::pair<RowBand, std::uint64_t>> readRowsText(std::string_view text) {
    const auto dash = text.find('-');
    const auto of = text.find(" of ");
    if (dash == std::string_view::npos || of == std::string_view::npos || of < dash)
        return std::nullopt;
    constexpr auto kMost = static_cast<long long>(base::kMaxSide);
    const auto first = base::readWholeNumber(text.substr(0, dash), 0, kMost);
    const auto last = base::readWholeNumber(text.substr(dash + 1, of - dash - 1), 0, kMost);
    const auto height = base::readWholeNumber(text.substr(of + 4), 1, kMost);
    if (!first || !last || !height || *last < *first || *last >= *height)
        return std::nullopt;
    return std::pair{
        RowBand{static_cast<std::uint64_t>(*first), static_cast<std::uint64_t>(*last - *first + 1)},
        static_cast<std::uint64_t>(*height)};
}

// The axis from pixel first on, count pixels: the same values the whole
// axis gives there, as PixelAxis::forEach reaches any step the same way.
PixelAxis axisFrom(const PixelAxis& axis, std::uint64_t first, std::uint64_t count) {
    PixelAxis band = axis;
    const auto offset = static_cast<std::int64_t>(first) + axis.firstSubPixel;
    band.firstStep = axis.firstStep + offset / axis.scale;
    band.firstSubPixel = static_cast<int>(offset % axis.scale);
    band.pixels = count;
    return band;
}

} // namespace

RowBand partRowsOf(const ImagePlan& plan, const PartNumber& part, std::size_t pieceBytes) {
    const std::uint64_t pieces = pieceCount(plan.height(), plan.rowBytes(), pieceBytes);
    if (part.count > pieces)
        throw base::InputError("--part " + partNumberText(part) + ": an image of " +
                               std::to_string(plan.width()) + " x " +
                               std::to_string(plan.height()) + " pixels has " +
                               std::to_string(pieces) + (pieces == 1 ? " piece" : " pieces") +
                               " of rows, so at most " + std::to_string(pieces) + " parts");
    return partRows(plan.height(), plan.rowBytes(), part, pieceBytes);
}

void renderPart(const ImagePlan& plan, const TextChunks& texts, const PartNumber& part,
                std::FILE* file, const BandOptions& options, const ProgressSink& progress,
                const PngEncoding& encoding) {
    const RowBand rows = partRowsOf(plan, part, encoding.pieceBytes);
    ImagePlan band = plan;
    band.rows = axisFrom(plan.rows, rows.first, rows.count);
    TextChunks partTexts = texts;
    partTexts.emplace_back(keys::part, partNumberText(part));
    partTexts.emplace_back(keys::partRows, rowsText(rows, plan.height()));
    renderPng(band, partTexts, file, options, progress, encoding,
              {part.index == 0, part.index + 1 == part.count});
}

namespace {

std::uint32_t bigEndian(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
           std::uint32_t{bytes[2]} << 8 | bytes[3];
}

struct Chunk {
    std::uint64_t offset = 0; // of its length field in the file
    char type[5] = {};
    std::vector<std::uint8_t> data;
    std::optional<std::uint32_t> crc; // as checked; none once the data are changed

    bool is(const char* name) const { return std::memcmp(type, name, 4) == 0; }
};

// A part's chunks one at a time, each checked against its CRC. Every
// failure is an InputError naming the file.
class PartReader {
public:
    explicit PartReader(const std::string& path) : path_(path), file_(openForReading(path)) {
        static const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
        std::uint8_t start[8] = {};
        if (std::fread(start, 1, sizeof start, file_.get()) != sizeof start ||
            std::memcmp(start, signature, sizeof start) != 0)
            throw base::InputError(base::shown(path) + " is not a PNG file");
        offset_ = sizeof start;
    }

    void seek(std::uint64_t offset) {
        if (::fseeko(file_.get(), static_cast<off_t>(offset), SEEK_SET) != 0)
            throw failure("cannot be read: " + std::string(std::strerror(errno)));
        offset_ = offset;
    }

    // No chunk of a part is longer than its image data chunks.
    void next(Chunk& chunk) {
        chunk.offset = offset_;
        std::uint8_t lengthAndType[8] = {};
        read(lengthAndType, sizeof lengthAndType);
        const std::uint32_t length = bigEndian(lengthAndType);
        if (length > kLargestDataChunk)
            throw damaged("a chunk longer than a part has", chunk.offset);
        std::memcpy(chunk.type, lengthAndType + 4, 4);
        chunk.data.resize(length);
        read(chunk.data.data(), length);
        std::uint8_t stored[4] = {};
        read(stored, sizeof stored);
        uLong crc = crc32(0, lengthAndType + 4, 4);
        if (length > 0) // crc32 of a null pointer starts afresh
            crc = crc32(crc, chunk.data.data(), static_cast<uInt>(length));
        if (bigEndian(stored) != static_cast<std::uint32_t>(crc))
            throw damaged("a chunk fails its CRC", chunk.offset);
        chunk.crc = bigEndian(stored);
    }

    void expectEnd() {
        if (std::fgetc(file_.get()) != EOF)
            throw damaged("bytes after its end chunk", offset_);
    }

    base::InputError damaged(const std::string& what, std::uint64_t offset) const {
        return failure("is damaged: " + what + " at byte " + std::to_string(offset));
    }
    base::InputError failure(const std::string& what) const {
        return base::InputError(base::shown(path_) + " " + what);
    }

private:
    void read(void* bytes, std::size_t size) {
        if (std::fread(bytes, 1, size, file_.get()) != size) {
            if (std::ferror(file_.get()))
                throw failure("cannot be read: " + std::string(std::strerror(errno)));
            throw failure("is cut short at byte " + std::to_string(offset_));
        }
        offset_ += size;
    }

    std::string path_;
    ReadFile file_;
    std::uint64_t offset_ = 0;
};

struct PartHead {
    PartFile file;
    std::uint32_t width = 0;
    std::uint32_t height = 0;      // the band's
    std::uint64_t wholeHeight = 0; // the picture's
    TextChunks texts;              // the picture's, without the part's
};

PartHead readHead(const std::string& path) {
    PartReader reader(path);
    PartHead head;
    head.file.path = path;
    Chunk chunk;
    reader.next(chunk);
    // 8-bit RGB, the standard compression and filters, no interlacing.
    static const std::uint8_t kind[5] = {8, 2, 0, 0, 0};
    if (!chunk.is("IHDR") || chunk.data.size() != 13 ||
        std::memcmp(chunk.data.data() + 8, kind, 5) != 0)
        throw reader.failure("is not a picture written by spirell-render");
    head.width = bigEndian(chunk.data.data());
    head.height = bigEndian(chunk.data.data() + 4);

    std::optional<std::string> number, rows;
    for (;;) {
        reader.next(chunk);
        if (chunk.is("IDAT"))
            break;
        if (!chunk.is("tEXt"))
            throw reader.failure("holds a \"" + base::escaped(chunk.type) +
                                 "\" chunk before its image data, which no part has");
        const std::string data(chunk.data.begin(), chunk.data.end());
        const auto zero = data.find('\0');
        if (zero == std::string::npos)
            throw reader.damaged("a text without a key", chunk.offset);
        std::string key = data.substr(0, zero);
        std::string text = data.substr(zero + 1);
        if (key == keys::part)
            number = std::move(text);
        else if (key == keys::partRows)
            rows = std::move(text);
        else
            head.texts.emplace_back(std::move(key), std::move(text));
    }
    head.file.dataOffset = chunk.offset;
    if (!number)
        throw reader.failure("is not a part of a poster: it holds no \"" + std::string(keys::part) +
                             "\" text");
    const std::optional<PartNumber> part = readPartNumber(*number);
    if (!part)
        throw reader.failure("holds a bad part number " + base::quoted(*number));
    head.file.number = *part;
    const auto band = rows ? readRowsText(*rows) : std::nullopt;
    if (!band || band->first.count != head.height)
        throw reader.failure("holds bad part rows " + base::quoted(rows.value_or("")));
    head.file.rows = band->first;
    head.wholeHeight = band->second;
    return head;
}

// Why two parts' pictures differ, or nothing.
std::optional<std::string> difference(const PartHead& part, const PartHead& other) {
    if (part.width != other.width || part.wholeHeight != other.wholeHeight)
        return "its picture is " + std::to_string(part.width) + " x " +
               std::to_string(part.wholeHeight) + " pixels, not " + std::to_string(other.width) +
               " x " + std::to_string(other.wholeHeight);
    if (part.file.number.count != other.file.number.count)
        return "it is part " + partNumberText(part.file.number) + ", not one of " +
               std::to_string(other.file.number.count);
    for (std::size_t i = 0; i < std::max(part.texts.size(), other.texts.size()); ++i) {
        if (i >= part.texts.size())
            return "it lacks the \"" + base::escaped(other.texts[i].first) + "\" text";
        if (i >= other.texts.size() || part.texts[i].first != other.texts[i].first)
            return "its \"" + base::escaped(part.texts[i].first) + "\" text is not in the other";
        if (part.texts[i].second != other.texts[i].second)
            return "their \"" + base::escaped(part.texts[i].first) + "\" texts differ";
    }
    return std::nullopt;
}

} // namespace

JoinPlan planJoin(const std::vector<std::string>& paths, std::size_t pieceBytes) {
    if (paths.empty())
        throw base::InputError("--join needs the parts to join");
    std::vector<PartHead> heads;
    for (const std::string& path : paths)
        heads.push_back(readHead(path));

    const PartHead& first = heads.front();
    const std::size_t rowBytes = std::size_t{3} * first.width;
    const PartNumber& firstNumber = first.file.number;
    // Checked before the count sizes anything: a part's texts may claim any.
    const std::uint64_t pieces = pieceCount(first.wholeHeight, rowBytes, pieceBytes);
    if (firstNumber.count > pieces)
        throw base::InputError(base::shown(first.file.path) + " is part " +
                               partNumberText(firstNumber) + " of a picture of only " +
                               std::to_string(pieces) + " pieces of rows");
    std::vector<const PartHead*> byIndex(firstNumber.count, nullptr);
    for (const PartHead& head : heads) {
        const std::string& path = head.file.path;
        if (const auto why = difference(head, first))
            throw base::InputError(base::shown(path) + " is not a part of the picture of " +
                                   base::shown(first.file.path) + ": " + *why);
        if (head.file.rows != partRows(first.wholeHeight, rowBytes, head.file.number, pieceBytes))
            throw base::InputError(base::shown(path) + " does not hold the rows of part " +
                                   partNumberText(head.file.number) +
                                   " as spirell-render cuts them");
        const PartHead*& slot = byIndex[head.file.number.index];
        if (slot)
            throw base::InputError("part " + partNumberText(head.file.number) +
                                   " is given twice: " + base::shown(slot->file.path) + " and " +
                                   base::shown(path));
        slot = &head;
    }
    JoinPlan plan;
    for (std::uint32_t index = 0; index < byIndex.size(); ++index) {
        if (!byIndex[index])
            throw base::InputError("part " + partNumberText({index, firstNumber.count}) +
                                   " is missing");
        plan.parts.push_back(byIndex[index]->file);
    }
    plan.width = first.width;
    plan.height = static_cast<std::uint32_t>(first.wholeHeight);
    plan.texts = first.texts;
    return plan;
}

void writeJoin(const JoinPlan& plan, std::FILE* file) {
    PngWriter writer(file, plan.width, plan.height, plan.texts, defaultCompression());
    const std::uint64_t filteredRow = std::uint64_t{3} * plan.width + 1;
    auto adler = static_cast<std::uint32_t>(adler32(0, nullptr, 0));
    std::uint8_t zlibHeader[2] = {};

    for (const PartFile& part : plan.parts) {
        const bool firstPart = part.number.index == 0;
        const bool lastPart = part.number.index + 1 == part.number.count;
        PartReader reader(part.path);
        reader.seek(part.dataOffset);

        // The chunks read but not yet written: enough of them to hold the
        // band's checksum at the end of its stream, wherever the chunks cut it.
        std::deque<Chunk> held;
        std::size_t heldBytes = 0;
        std::vector<Chunk> spare; // chunks written, their memory kept for the next
        bool begun = false;
        for (;;) {
            Chunk chunk;
            if (!spare.empty()) {
                chunk = std::move(spare.back());
                spare.pop_back();
            }
            reader.next(chunk);
            if (!chunk.is("IDAT")) {
                if (!chunk.is("IEND") || !chunk.data.empty())
                    throw reader.damaged("no end chunk after its image data", chunk.offset);
                break;
            }
            if (!begun) {
                begun = true;
                // Every part begins its stream with the zlib header, in a
                // chunk of its own but for the first part's.
                if (chunk.data.size() < 2 || (!firstPart && chunk.data.size() != 2) ||
                    (!firstPart && std::memcmp(chunk.data.data(), zlibHeader, 2) != 0))
                    throw reader.damaged("its image data do not begin as a part's", chunk.offset);
                if (firstPart)
                    std::memcpy(zlibHeader, chunk.data.data(), 2);
                else
                    continue;
            }
            heldBytes += chunk.data.size();
            held.push_back(std::move(chunk));
            while (held.size() > 1 && heldBytes - held.front().data.size() >= 6) {
                writer.writeDataChunk(held.front().data, false, held.front().crc);
                heldBytes -= held.front().data.size();
                spare.push_back(std::move(held.front()));
                held.pop_front();
            }
        }
        reader.expectEnd();

        // The band's checksum: the last four bytes of its stream.
        std::uint8_t end[6] = {};
        if (heldBytes < (lastPart ? 4u : 6u))
            throw reader.failure("is damaged: its image data are too short");
        if (!lastPart) {
            // An empty final block in a chunk of its own after the last piece.
            const Chunk& tail = held.back();
            if (tail.data.size() != 6 || tail.data[0] != 0x03 || tail.data[1] != 0x00)
                throw reader.damaged("its image data do not end as a part's", tail.offset);
            std::memcpy(end, tail.data.data(), 6);
            held.pop_back();
        } else {
            std::size_t at = 6;
            for (auto chunk = held.rbegin(); chunk != held.rend() && at > 2; ++chunk)
                for (std::size_t i = chunk->data.size(); i > 0 && at > 2; --i)
                    end[--at] = chunk->data[i - 1];
        }
        const std::uint32_t bandAdler = bigEndian(end + 2);
        adler = static_cast<std::uint32_t>(
            adler32_combine(adler, bandAdler, static_cast<z_off_t>(part.rows.count * filteredRow)));

        if (lastPart) {
            // The whole stream's checksum in place of the band's.
            std::uint8_t checksum[4] = {
                static_cast<std::uint8_t>(adler >> 24), static_cast<std::uint8_t>(adler >> 16),
                static_cast<std::uint8_t>(adler >> 8), static_cast<std::uint8_t>(adler)};
            std::size_t at = 4;
            for (auto chunk = held.rbegin(); chunk != held.rend() && at > 0; ++chunk) {
                chunk->crc.reset();
                for (std::size_t i = chunk->data.size(); i > 0 && at > 0; --i)
                    chunk->data[i - 1] = checksum[--at];
            }
        }
        for (std::size_t i = 0; i < held.size(); ++i)
            writer.writeDataChunk(held[i].data, lastPart && i + 1 == held.size(), held[i].crc);
    }
    writer.finish();
}

} // namespace spirell::image
