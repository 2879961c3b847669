#include "image/PngEncoding.hpp"

#include "base/Errors.hpp"

#include <zlib.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#define SPIRELL_FILTER_SSE2 1
#else
#define SPIRELL_FILTER_SSE2 0
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <new>

namespace spirell::image {

namespace {

constexpr std::size_t kPixelBytes = 3;

inline std::uint8_t paethPredictor(int left, int above, int aboveLeft) {
    const int distanceLeft = std::abs(above - aboveLeft);
    const int distanceAbove = std::abs(left - aboveLeft);
    const int distanceAboveLeft = std::abs(left + above - 2 * aboveLeft);
    if (distanceLeft <= distanceAbove && distanceLeft <= distanceAboveLeft)
        return static_cast<std::uint8_t>(left);
    return static_cast<std::uint8_t>(distanceAbove <= distanceAboveLeft ? above : aboveLeft);
}

// The filtered byte at i, with left and aboveLeft as the filter sees them.
inline std::uint8_t filtered(Filter filter, std::uint8_t value, std::uint8_t left,
                             std::uint8_t above, std::uint8_t aboveLeft) {
    switch (filter) {
    case Filter::none:
        return value;
    case Filter::sub:
        return static_cast<std::uint8_t>(value - left);
    case Filter::up:
        return static_cast<std::uint8_t>(value - above);
    case Filter::average:
        return static_cast<std::uint8_t>(value - ((left + above) >> 1));
    case Filter::paeth:
        return static_cast<std::uint8_t>(value - paethPredictor(left, above, aboveLeft));
    }
    return value;
}

#if SPIRELL_FILTER_SSE2
// Sixteen bytes at a time: every x86-64 processor has SSE2. Each function
// gives the very bytes of its scalar counterpart above.

// Sixteen bytes of a row from i on with their neighbours a pixel to the left,
// above and above to the left; i is past the first pixel.
struct Neighbours {
    __m128i value, left, above, aboveLeft;
};

inline Neighbours neighboursAt(const std::uint8_t* row, const std::uint8_t* above, std::size_t i) {
    const auto load = [](const std::uint8_t* bytes) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    };
    return {load(row + i), load(row + i - kPixelBytes), load(above + i),
            load(above + i - kPixelBytes)};
}

// Rounded down, as the average filter wants; the instruction rounds up.
inline __m128i averageDown(__m128i a, __m128i b) {
    const __m128i roundedUp = _mm_avg_epu8(a, b);
    return _mm_sub_epi8(roundedUp, _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
}

inline __m128i absolute16(__m128i value) {
    return _mm_max_epi16(value, _mm_sub_epi16(_mm_setzero_si128(), value));
}

// The Paeth predictor for eight bytes widened to 16 bits.
inline __m128i paethPredictor16(__m128i left, __m128i above, __m128i aboveLeft) {
    const __m128i towardsLeft = _mm_sub_epi16(above, aboveLeft);
    const __m128i towardsAbove = _mm_sub_epi16(left, aboveLeft);
    const __m128i distanceLeft = absolute16(towardsLeft);
    const __m128i distanceAbove = absolute16(towardsAbove);
    const __m128i distanceAboveLeft = absolute16(_mm_add_epi16(towardsLeft, towardsAbove));
    const __m128i notLeft = _mm_or_si128(_mm_cmpgt_epi16(distanceLeft, distanceAbove),
                                         _mm_cmpgt_epi16(distanceLeft, distanceAboveLeft));
    const __m128i aboveLeftWins = _mm_cmpgt_epi16(distanceAbove, distanceAboveLeft);
    const __m128i otherwise = _mm_or_si128(_mm_and_si128(aboveLeftWins, aboveLeft),
                                           _mm_andnot_si128(aboveLeftWins, above));
    return _mm_or_si128(_mm_and_si128(notLeft, otherwise), _mm_andnot_si128(notLeft, left));
}

inline __m128i paethPredictor(const Neighbours& bytes) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i low =
        paethPredictor16(_mm_unpacklo_epi8(bytes.left, zero), _mm_unpacklo_epi8(bytes.above, zero),
                         _mm_unpacklo_epi8(bytes.aboveLeft, zero));
    const __m128i high =
        paethPredictor16(_mm_unpackhi_epi8(bytes.left, zero), _mm_unpackhi_epi8(bytes.above, zero),
                         _mm_unpackhi_epi8(bytes.aboveLeft, zero));
    return _mm_packus_epi16(low, high);
}

inline __m128i filteredBlock(Filter filter, const Neighbours& bytes) {
    switch (filter) {
    case Filter::none:
        return bytes.value;
    case Filter::sub:
        return _mm_sub_epi8(bytes.value, bytes.left);
    case Filter::up:
        return _mm_sub_epi8(bytes.value, bytes.above);
    case Filter::average:
        return _mm_sub_epi8(bytes.value, averageDown(bytes.left, bytes.above));
    case Filter::paeth:
        return _mm_sub_epi8(bytes.value, paethPredictor(bytes));
    }
    return bytes.value;
}

#endif

// deflate() takes at most this much input or output at a time.
constexpr std::size_t kLargestStep = std::size_t{1} << 30;
// Room added to the output when deflate has filled it all the same.
constexpr std::size_t kOutputStep = std::size_t{64} << 10;

// One deflate stream a thread, kept from piece to piece: starting each piece
// afresh with deflateReset gives the very bytes a new stream would, without
// allocating and clearing its half a megabyte of tables each time.
struct ThreadDeflate {
    z_stream stream = {};
    bool ready = false;
    Compression compression;

    ~ThreadDeflate() {
        if (ready)
            deflateEnd(&stream);
    }

    z_stream& startPiece(const Compression& wanted) {
        if (ready && wanted.level == compression.level && wanted.strategy == compression.strategy) {
            deflateReset(&stream);
            return stream;
        }
        if (ready)
            deflateEnd(&stream);
        ready = false;
        stream = {};
        // Raw deflate: the zlib header and checksum are written once for all pieces.
        const int status = deflateInit2(&stream, wanted.level, Z_DEFLATED, -15, 8, wanted.strategy);
        if (status == Z_MEM_ERROR)
            throw std::bad_alloc();
        if (status != Z_OK)
            throw base::RenderFailure("cannot compress the image: no such compression");
        ready = true;
        compression = wanted;
        return stream;
    }
};

ThreadDeflate& threadDeflate() {
    thread_local ThreadDeflate deflate;
    return deflate;
}

class PieceStream {
public:
    // Makes room in out for what deflate may make of so many input bytes at worst.
    PieceStream(const Compression& compression, std::uint64_t inputBytes,
                std::vector<std::uint8_t>& out)
        : stream_(threadDeflate().startPiece(compression)), out_(out) {
        // A flush may take a few bytes more than the bound; run() makes room then.
        out_.resize(deflateBound(&stream_, static_cast<uLong>(inputBytes)));
    }
    PieceStream(const PieceStream&) = delete;
    PieceStream& operator=(const PieceStream&) = delete;

    void add(const std::uint8_t* bytes, std::size_t size) {
        while (size > 0) {
            const std::size_t step = std::min(size, kLargestStep);
            stream_.next_in = const_cast<Bytef*>(bytes);
            stream_.avail_in = static_cast<uInt>(step);
            run(Z_NO_FLUSH);
            bytes += step;
            size -= step;
        }
    }

    // Ends on a byte boundary, with the stream open for the next piece, or
    // ends the stream.
    void end(bool last) {
        run(last ? Z_FINISH : Z_SYNC_FLUSH);
        out_.resize(used_);
    }

private:
    void run(int flush) {
        for (;;) {
            if (used_ == out_.size())
                out_.resize(out_.size() + std::max(kOutputStep, out_.size() / 2));
            const std::size_t room = std::min(out_.size() - used_, kLargestStep);
            stream_.next_out = out_.data() + used_;
            stream_.avail_out = static_cast<uInt>(room);
            const int status = deflate(&stream_, flush);
            used_ += room - stream_.avail_out;
            if (status == Z_STREAM_END)
                break;
            if (status != Z_OK && status != Z_BUF_ERROR)
                throw base::RenderFailure("cannot compress the image"); // a broken state only
            // Without flushing, deflate is done once it has taken all the
            // input; a flush is complete once it leaves room in the output.
            if (flush == Z_NO_FLUSH ? stream_.avail_in == 0
                                    : flush != Z_FINISH && stream_.avail_out != 0)
                break;
        }
    }

    z_stream& stream_;
    std::vector<std::uint8_t>& out_;
    std::size_t used_ = 0;
};

} // namespace

Compression defaultCompression() {
    // Measured on 1024 x 1024 images of all nineteen formulas: run-length
    // matches only take two thirds of the time of level 1 and a quarter of
    // the time of level 6, for files 4 % and 8 % larger. Most of the
    // formulas' images are too irregular for longer matches to pay.
    return {1, Z_RLE};
}

std::size_t pieceRows(std::size_t rowBytes, std::size_t pieceBytes) {
    const std::size_t filteredRow = rowBytes + 1;
    return std::max<std::size_t>(1, (pieceBytes + filteredRow / 2) / filteredRow);
}

std::uint64_t entropyWeight(std::uint64_t count) {
    if (count < 2)
        return 0;
    // log2(count) to 16 binary places: the whole part from the highest bit,
    // then each further bit from squaring the rest, kept in 31 binary places.
    const int whole = 63 - std::countl_zero(count);
    std::uint64_t rest = whole <= 31 ? count << (31 - whole) : count >> (whole - 31);
    std::uint64_t logarithm = std::uint64_t(whole) << 16;
    for (int bit = 15; bit >= 0; --bit) {
        rest = rest * rest >> 31;
        if (rest >= std::uint64_t{2} << 31) {
            rest >>= 1;
            logarithm |= std::uint64_t{1} << bit;
        }
    }
    return count * logarithm;
}

namespace {

// entropyWeight of the counts a row of a few thousand bytes gives.
constexpr std::size_t kWeightTableSize = 4096;
const std::array<std::uint64_t, kWeightTableSize> kEntropyWeights = [] {
    std::array<std::uint64_t, kWeightTableSize> weights{};
    for (std::size_t count = 0; count < kWeightTableSize; ++count)
        weights[count] = entropyWeight(count);
    return weights;
}();

} // namespace

Filter chooseFilter(const std::uint8_t* row, const std::uint8_t* above, std::size_t rowBytes,
                    bool lookAbove) {
    const int filters = lookAbove ? 5 : 2; // none and sub come first
    // One pass over the row counts the values of the filters' bytes.
    // Past the first pixel the row goes in runs of sixteen bytes, and only
    // every fourth run is counted, with whatever is left at the end: counting
    // is the costly part, and a quarter of the bytes choose nearly as well
    // (on 1024 x 1024 images of every formula the files grow by 0.2 %, and
    // the counting takes a fifth of the time).
    std::uint64_t counts[5][256] = {};
    const auto add = [&](std::uint8_t value, std::uint8_t left, std::uint8_t up,
                         std::uint8_t upLeft) {
        for (int filter = 0; filter < filters; ++filter)
            ++counts[filter][filtered(Filter(filter), value, left, up, upLeft)];
    };
    std::size_t i = 0;
    for (; i < std::min(rowBytes, kPixelBytes); ++i)
        add(row[i], 0, above[i], 0);
    for (std::size_t run = 0; i + 16 <= rowBytes; i += 16, ++run) {
        if (run % 4 != 0)
            continue;
#if SPIRELL_FILTER_SSE2
        const Neighbours bytes = neighboursAt(row, above, i);
        for (int filter = 0; filter < filters; ++filter) {
            alignas(16) std::uint8_t filteredBytes[16];
            _mm_store_si128(reinterpret_cast<__m128i*>(filteredBytes),
                            filteredBlock(Filter(filter), bytes));
            for (const std::uint8_t value : filteredBytes)
                ++counts[filter][value];
        }
#else
        for (std::size_t j = i; j < i + 16; ++j)
            add(row[j], row[j - kPixelBytes], above[j], above[j - kPixelBytes]);
#endif
    }
    for (; i < rowBytes; ++i)
        add(row[i], row[i - kPixelBytes], above[i], above[i - kPixelBytes]);

    // Every filter gives as many bytes, so the largest sum of count log2 count
    // is the smallest entropy.
    Filter best = Filter::none;
    std::uint64_t bestSum = 0;
    for (int filter = 0; filter < filters; ++filter) {
        std::uint64_t sum = 0;
        for (const std::uint64_t count : counts[filter])
            sum += count < kWeightTableSize ? kEntropyWeights[count] : entropyWeight(count);
        if (filter == 0 || sum > bestSum) {
            best = Filter(filter);
            bestSum = sum;
        }
    }
    return best;
}

void filterRow(Filter filter, const std::uint8_t* row, const std::uint8_t* above,
               std::size_t rowBytes, std::uint8_t* out) {
    std::size_t i = 0;
    for (; i < std::min(rowBytes, kPixelBytes); ++i)
        out[i] = filtered(filter, row[i], 0, above[i], 0);
#if SPIRELL_FILTER_SSE2
    for (; i + 16 <= rowBytes; i += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         filteredBlock(filter, neighboursAt(row, above, i)));
#endif
    for (; i < rowBytes; ++i)
        out[i] = filtered(filter, row[i], row[i - kPixelBytes], above[i], above[i - kPixelBytes]);
}

void compressPiece(const std::uint8_t* rows, std::size_t rowCount, std::size_t rowBytes, bool last,
                   const Compression& compression, CompressedPiece& piece) {
    piece.bytes.clear();
    piece.adler = static_cast<std::uint32_t>(adler32(0, nullptr, 0));
    piece.length = 0;
    piece.last = last;

    PieceStream stream(compression, std::uint64_t{rowBytes + 1} * rowCount, piece.bytes);
    std::vector<std::uint8_t> line(rowBytes + 1); // the filter type, then the filtered row
    // Read, not used, by the first row's filter.
    const std::vector<std::uint8_t> zeros(rowBytes, 0);
    const std::uint8_t* above = zeros.data();
    for (std::size_t r = 0; r < rowCount; ++r) {
        const std::uint8_t* row = rows + r * rowBytes;
        const Filter filter = chooseFilter(row, above, rowBytes, r > 0);
        line[0] = static_cast<std::uint8_t>(filter);
        filterRow(filter, row, above, rowBytes, line.data() + 1);
        for (std::size_t done = 0; done < line.size(); done += kLargestStep) {
            const std::size_t step = std::min(line.size() - done, kLargestStep);
            piece.adler = static_cast<std::uint32_t>(
                adler32(piece.adler, line.data() + done, static_cast<uInt>(step)));
        }
        stream.add(line.data(), line.size());
        piece.length += line.size();
        above = row;
    }
    stream.end(last);
}

std::vector<std::uint8_t> zlibHeader(const Compression& compression) {
    // Deflate with a 32 KiB window, and the level in two bits as zlib sets them.
    const unsigned method = 0x78;
    unsigned levelBits = 3;
    if (compression.strategy >= Z_HUFFMAN_ONLY || compression.level < 2)
        levelBits = 0;
    else if (compression.level < 6)
        levelBits = 1;
    else if (compression.level == 6)
        levelBits = 2;
    unsigned header = method << 8 | levelBits << 6;
    header += 31 - header % 31;
    return {static_cast<std::uint8_t>(header >> 8), static_cast<std::uint8_t>(header & 0xff)};
}

} // namespace spirell::image
