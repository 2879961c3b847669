// The image library, called directly: the plan of an image, its rows computed
// in bands on worker threads, the PNG encoding and the output file.
#include "base/Errors.hpp"
#include "drawing/DrawingFrame.hpp"
#include "files/OutputFile.hpp"
#include "formulas/Catalogue.hpp"
#include "image/BandRenderer.hpp"
#include "image/ImagePlan.hpp"
#include "image/ImageSettings.hpp"
#include "image/PngEncoding.hpp"
#include "lanes/InstructionSets.hpp"
#include "support/FolderEntries.hpp"
#include "support/PngChunks.hpp"
#include "support/ProcessState.hpp"
#include "support/TestPrinting.hpp"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <png.h>

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace spirell;
using namespace spirell::base;
using namespace spirell::boxes;
using namespace spirell::drawing;
using namespace spirell::formulas;
using namespace spirell::files;
using namespace spirell::testing;
using namespace spirell::image;

namespace {

std::vector<std::uint8_t> renderedBytes(const ImagePlan& plan, const BandOptions& options) {
    std::vector<std::uint8_t> bytes;
    renderRows(plan, options, [&](const std::uint8_t* row) {
        bytes.insert(bytes.end(), row, row + plan.rowBytes());
    });
    return bytes;
}

// What a strict reader makes of a PNG file: every chunk's CRC, the zlib
// stream's checksum (which libpng checks unless told otherwise) and its end
// are checked, and libpng's lenient fixes count as errors.
struct DecodedPng {
    QString error; // empty when the file is sound
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> pixels; // three bytes a pixel, rows top to bottom
    bool consumedWholeFile = false;
};

struct PngSource {
    const QByteArray* file = nullptr;
    qsizetype offset = 0;
    char error[256] = "";
};

void readFromSource(png_structp png, png_bytep data, std::size_t length) {
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (source->offset + qsizetype(length) > source->file->size())
        png_error(png, "the file ends early");
    std::memcpy(data, source->file->constData() + source->offset, length);
    source->offset += qsizetype(length);
}

[[noreturn]] void onStrictError(png_structp png, png_const_charp message) {
    auto* source = static_cast<PngSource*>(png_get_error_ptr(png));
    std::snprintf(source->error, sizeof source->error, "%s", message);
    png_longjmp(png, 1);
}

void onStrictWarning(png_structp png, png_const_charp message) {
    onStrictError(png, message); // nothing is let pass
}

// Only plain data between setjmp and longjmp: the pixels are sized beforehand.
bool readStrictly(png_structp png, png_infop info, DecodedPng& decoded) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
    png_set_benign_errors(png, 0);
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_read_info(png, info);
    if (png_get_bit_depth(png, info) != 8 || png_get_color_type(png, info) != PNG_COLOR_TYPE_RGB ||
        png_get_interlace_type(png, info) != PNG_INTERLACE_NONE)
        png_error(png, "not an 8-bit RGB image without interlacing");
    decoded.width = png_get_image_width(png, info);
    decoded.height = png_get_image_height(png, info);
    const std::size_t rowBytes = std::size_t{3} * decoded.width;
    if (rowBytes * decoded.height > (std::size_t{256} << 20))
        png_error(png, "too large for a test");
    decoded.pixels.resize(rowBytes * decoded.height);
    for (std::uint32_t r = 0; r < decoded.height; ++r)
        png_read_row(png, decoded.pixels.data() + r * rowBytes, nullptr);
    png_read_end(png, nullptr);
    return true;
}

DecodedPng decodeStrictly(const QByteArray& file) {
    DecodedPng decoded;
    PngSource source;
    source.file = &file;
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, &source, onStrictError, onStrictWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        decoded.error = "out of memory";
        return decoded;
    }
    png_set_read_fn(png, &source, readFromSource);
    if (!readStrictly(png, info, decoded))
        decoded.error = QString::fromUtf8(source.error);
    decoded.consumedWholeFile = source.offset == file.size();
    png_destroy_read_struct(&png, &info, nullptr);
    return decoded;
}

// A PNG written by renderPng into memory, with the rows done at each progress
// report and the bytes written by then.
struct WrittenPng {
    QByteArray bytes;
    std::vector<std::pair<std::uint64_t, long>> progress;
};

WrittenPng writtenPng(const ImagePlan& plan, const BandOptions& options,
                      const PngEncoding& encoding, const TextChunks& texts = {}) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* stream = ::open_memstream(&buffer, &size);
    if (!stream)
        qFatal("cannot open a stream in memory");
    WrittenPng written;
    renderPng(
        plan, texts, stream, options,
        [&](std::uint64_t rows) {
            std::fflush(stream);
            written.progress.emplace_back(rows, std::ftell(stream));
        },
        encoding);
    std::fclose(stream);
    written.bytes = QByteArray(buffer, qsizetype(size));
    std::free(buffer);
    return written;
}

// The chunks of a PNG file: type and where each begins.
QList<std::pair<QByteArray, qsizetype>> pngChunks(const QByteArray& file) {
    QList<std::pair<QByteArray, qsizetype>> chunks;
    for (qsizetype at = 8; at + 12 <= file.size();) {
        const quint32 length = qFromBigEndian<quint32>(file.constData() + at);
        chunks.append({file.mid(at + 4, 4), at});
        at += 12 + qsizetype(length);
    }
    return chunks;
}

} // namespace

class ImageTest : public QObject {
    Q_OBJECT
private slots:
    void pixelLimitCountsTheRealImage_data();
    void pixelLimitCountsTheRealImage();
    void planComputesAsTold_data();
    void planComputesAsTold();
    void frameShowsThePlaneAroundThePicture_data();
    void frameShowsThePlaneAroundThePicture();
    void pngHoldsTheRowsWhateverTheThreads_data();
    void pngHoldsTheRowsWhateverTheThreads();
    void strictReaderCatchesDamage_data();
    void strictReaderCatchesDamage();
    void completePngsAreTold_data();
    void completePngsAreTold();
    void filtersFollowTheirDefinitions_data();
    void filtersFollowTheirDefinitions();
    void entropyWeightIsCountTimesLog2_data();
    void entropyWeightIsCountTimesLog2();
    void cancellingStopsAndLeavesNothing_data();
    void cancellingStopsAndLeavesNothing();
    void failedWriteEndsTheWorkers();
    void outputFileLeavesTheSignalsAlone();
    void fifosAndDevicesAreTold_data();
    void fifosAndDevicesAreTold();
    void folderOfAPath_data();
    void folderOfAPath();
};

void ImageTest::pixelLimitCountsTheRealImage_data() {
    QTest::addColumn<BoxTexts>("view");
    QTest::addColumn<int>("scale");
    QTest::addColumn<QSize>("size");  // empty: refused
    QTest::addColumn<QSize>("frame"); // empty: the view's own picture
    QTest::newRow("largest square")
        << boxTexts("1", "1", "46340") << 1 << QSize(46340, 46340) << QSize();
    QTest::newRow("one column more") << boxTexts("1", "1", "46341") << 1 << QSize() << QSize();
    QTest::newRow("fractional size just fits")
        << boxTexts("0.3", "1", "46340.5") << 1 << QSize(46340, 46340) << QSize();
    QTest::newRow("largest square at scale 2")
        << boxTexts("1", "1", "23170") << 2 << QSize(46340, 46340) << QSize();
    QTest::newRow("one more at scale 2") << boxTexts("1", "1", "23171") << 2 << QSize() << QSize();
    QTest::newRow("768 at scale 3")
        << boxTexts("1", "1", "768") << 3 << QSize(3072, 2304) << QSize();
    // So far out that the counter cannot move: a single column of many rows.
    QTest::newRow("one column, far out")
        << boxTexts("1e300", "1", "3e6") << 1 << QSize(1, 3000000) << QSize();
    QTest::newRow("one row, far out")
        << boxTexts("1", "-1e300", "3e6") << 1 << QSize(3000000, 1) << QSize();
    QTest::newRow("absurd size") << boxTexts("1", "1", "1e300") << 1 << QSize() << QSize();
    // A frame is the image: the picture around it may be beyond any limit.
    QTest::newRow("frame of a picture beyond the limit")
        << boxTexts("1", "1", "1e6") << 1 << QSize(120, 80) << QSize(120, 80);
    QTest::newRow("frame at the largest scale")
        << boxTexts("1", "1", "10") << kMaxScale << QSize(100, 60) << QSize(100, 60);
    QTest::newRow("largest square frame")
        << boxTexts("1", "1", "10") << 1 << QSize(46340, 46340) << QSize(46340, 46340);
    // Rows come one at a time as they are computed: no list of them is made.
    QTest::newRow("tallest frame")
        << boxTexts("1", "1", "10") << 1 << QSize(1, 2147483647) << QSize(1, 2147483647);
    QTest::newRow("frame one row over the limit")
        << boxTexts("1", "1", "10") << 1 << QSize() << QSize(65536, 32769);
}

void ImageTest::pixelLimitCountsTheRealImage() {
    QFETCH(BoxTexts, view);
    QFETCH(int, scale);
    QFETCH(QSize, size);
    QFETCH(QSize, frame);
    ImageSettings settings{"aries", view, scale};
    if (frame.isValid())
        settings.frame = FrameSize{std::uint32_t(frame.width()), std::uint32_t(frame.height())};
    if (!size.isValid()) {
        QVERIFY_THROWS_EXCEPTION(InputError, planImage(settings, computingFromEnvironment()));
        return;
    }
    const ImagePlan plan = planImage(settings, computingFromEnvironment());
    QCOMPARE(QSize(int(plan.width()), int(plan.height())), size);
}

void ImageTest::frameShowsThePlaneAroundThePicture_data() {
    QTest::addColumn<QString>("formula");
    QTest::addColumn<BoxTexts>("view");
    QTest::addColumn<int>("scale");
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<QSize>("extra"); // pixels added right and below
    // A quarter position makes fractional world coordinates on both axes.
    const BoxTexts quarter = boxTexts("0.25", "-3.75", "20", "1.5");
    QTest::newRow("larger, even differences")
        << "aries" << quarter << 1 << QSize(26, 30) << QSize(0, 0);
    QTest::newRow("larger, odd differences")
        << "aries" << quarter << 1 << QSize(27, 31) << QSize(0, 0);
    QTest::newRow("smaller, odd differences")
        << "aries" << quarter << 1 << QSize(13, 9) << QSize(0, 0);
    QTest::newRow("wider and lower") << "quest" << quarter << 1 << QSize(33, 7) << QSize(0, 0);
    QTest::newRow("larger at scale 3") << "aries" << quarter << 3 << QSize(67, 61) << QSize(0, 0);
    QTest::newRow("smaller at scale 2") << "aries" << quarter << 2 << QSize(31, 17) << QSize(0, 0);
    QTest::newRow("1024 x 768 picture, smaller frame")
        << "pebble" << boxTexts("-7", "3", "768") << 1 << QSize(41, 37) << QSize(0, 0);
    QTest::newRow("a column and a row more, as an even video takes them")
        << "aries" << quarter << 1 << QSize(27, 31) << QSize(1, 1);
    QTest::newRow("a column more of a smaller frame")
        << "aries" << quarter << 2 << QSize(15, 16) << QSize(1, 0);
}

// Where a frame overlaps the view's own picture it has the picture's very
// bits; elsewhere the loops go on, one world unit a plain pixel: before the
// first value the first minus 1, 2, ..., after the last adding 1.
void ImageTest::frameShowsThePlaneAroundThePicture() {
    QFETCH(QString, formula);
    QFETCH(BoxTexts, view);
    QFETCH(int, scale);
    QFETCH(QSize, frame);
    QFETCH(QSize, extra);
    const Computing computing = computingFromEnvironment();
    const ImageSettings pictureSettings{formula.toStdString(), view, scale};
    const ImagePlan picture = planImage(pictureSettings, computing);
    const std::vector<std::uint8_t> pictureRgb = renderedBytes(picture, {2, 0});
    ImageSettings frameSettings = pictureSettings;
    frameSettings.frame = FrameSize{std::uint32_t(frame.width()), std::uint32_t(frame.height())};
    const ImagePlan plan = planImage(frameSettings, computing,
                                     {std::uint32_t(extra.width()), std::uint32_t(extra.height())});
    const std::vector<std::uint8_t> rgb = renderedBytes(plan, {3, 0});
    QCOMPARE(QSize(int(plan.width()), int(plan.height())), frame + extra);

    // The world value of pixel p of a loop continued both ways, at the scale.
    const auto worldValue = [&](const drawing::LoopRange& loop, std::int64_t p) {
        const std::int64_t plain = p >= 0 ? p / scale : -((-p + scale - 1) / scale);
        const int subPixel = int(p - plain * scale);
        double value = loop.first - double(std::max<std::int64_t>(-plain, 0));
        for (std::int64_t step = 0; step < plain; ++step)
            value += 1;
        return subPixel == 0 ? value : value + double(subPixel) / scale;
    };
    // The picture's centre stays the centre; an odd pixel left over is on the right.
    const int left = (int(picture.width()) - frame.width()) / 2;
    const int top = (int(picture.height()) - frame.height()) / 2;
    const Formula& shown = *findFormula(formula.toStdString());
    int overlapping = 0;
    for (int y = 0; y < int(plan.height()); ++y)
        for (int x = 0; x < int(plan.width()); ++x) {
            const int px = x + left, py = y + top;
            const std::uint8_t* pixel = &rgb[(std::size_t(y) * plan.width() + x) * 3];
            const QString where = QString("(%1, %2)").arg(x).arg(y);
            if (px >= 0 && py >= 0 && px < int(picture.width()) && py < int(picture.height())) {
                ++overlapping;
                const std::uint8_t* same =
                    &pictureRgb[(std::size_t(py) * picture.width() + px) * 3];
                QVERIFY2(std::memcmp(pixel, same, 3) == 0, qPrintable(where));
                continue;
            }
            const Colour expected =
                pixelColour(shown, picture.view, worldValue(columnRange(picture.view), px),
                            worldValue(rowRange(picture.view), py));
            QVERIFY2((Colour{pixel[0], pixel[1], pixel[2]} == expected), qPrintable(where));
        }
    QVERIFY(overlapping > 0);
}

void ImageTest::pngHoldsTheRowsWhateverTheThreads_data() {
    // The geometry and the encoding decide the file and the rows; the threads
    // and bands tried for each row must not change a byte of them.
    QTest::addColumn<QString>("formula");
    QTest::addColumn<BoxTexts>("view");
    QTest::addColumn<int>("scale");
    QTest::addColumn<qulonglong>("pieceBytes"); // 0: the usual pieces
    QTest::addColumn<int>("level");             // -1: the usual compression
    QTest::addColumn<int>("strategy");
    const BoxTexts small = boxTexts("0.25", "2", "23", "1.5");
    QTest::newRow("all in one piece") << "aries" << small << 2 << 0ull << -1 << 0;
    QTest::newRow("a row a piece") << "aries" << small << 2 << 1ull << -1 << 0;
    QTest::newRow("pieces of seven rows") << "aries" << small << 2 << 1000ull << -1 << 0;
    QTest::newRow("pieces across scaled rows")
        << "quest" << boxTexts("0.3", "1", "19", "1.7") << 3 << 700ull << -1 << 0;
    QTest::newRow("one column") << "pebble" << boxTexts("1e300", "1", "40") << 1 << 20ull << -1
                                << 0;
    QTest::newRow("one row") << "pebble" << boxTexts("1", "-1e300", "50") << 1 << 1ull << -1 << 0;
    QTest::newRow("rows shorter than the wide filters")
        << "ember" << boxTexts("1", "1", "2") << 2 << 30ull << -1 << 0;
    QTest::newRow("longer matches within pieces")
        << "pebble" << boxTexts("1", "1", "60") << 1 << 2000ull << 6 << Z_DEFAULT_STRATEGY;
    QTest::newRow("no matches at all") << "aries" << small << 2 << 1000ull << 1 << Z_HUFFMAN_ONLY;
    QTest::newRow("stored, not compressed")
        << "aries" << small << 2 << 1000ull << 0 << Z_DEFAULT_STRATEGY;
    QTest::newRow("larger image, usual pieces")
        << "ripple" << boxTexts("1", "1", "300") << 1 << 0ull << -1 << 0;
}

void ImageTest::pngHoldsTheRowsWhateverTheThreads() {
    QFETCH(QString, formula);
    QFETCH(BoxTexts, view);
    QFETCH(int, scale);
    QFETCH(qulonglong, pieceBytes);
    QFETCH(int, level);
    QFETCH(int, strategy);
    const ImageSettings settings{formula.toStdString(), view, scale};
    const ImagePlan plan = planImage(settings, computingFromEnvironment());
    const std::vector<std::uint8_t> rows = renderedBytes(plan, {1, 0});
    PngEncoding encoding;
    if (pieceBytes)
        encoding.pieceBytes = pieceBytes;
    if (level >= 0)
        encoding.compression = {level, strategy};
    const TextChunks texts = storedTexts(plan.formula->routine, settings);

    const std::pair<unsigned, std::size_t> runs[] = {{1, 0}, {2, 1}, {3, 7}, {5, 2}, {8, 1000}};
    QByteArray first;
    for (const auto& [threads, bandRows] : runs) {
        const QString run = QString("%1 threads, bands of %2").arg(threads).arg(bandRows);
        const WrittenPng written = writtenPng(plan, {threads, bandRows}, encoding, texts);
        if (first.isEmpty())
            first = written.bytes;
        QVERIFY2(written.bytes == first, qPrintable(run));

        // Rows are reported in order, each report once their data is written.
        std::uint64_t lastRows = 0;
        long lastBytes = 0;
        for (const auto& [rowsDone, bytesWritten] : written.progress) {
            QVERIFY2(rowsDone > lastRows && bytesWritten > lastBytes, qPrintable(run));
            lastRows = rowsDone;
            lastBytes = bytesWritten;
        }
        QCOMPARE(lastRows, std::uint64_t(plan.height()));

        // The same rows handed over one by one, each report once they are.
        std::vector<std::uint8_t> handed;
        lastRows = 0;
        renderRows(
            plan, {threads, bandRows},
            [&](const std::uint8_t* row) {
                handed.insert(handed.end(), row, row + plan.rowBytes());
            },
            [&](std::uint64_t rowsDone) {
                QVERIFY2(rowsDone > lastRows && rowsDone * plan.rowBytes() == handed.size(),
                         qPrintable(run));
                lastRows = rowsDone;
            });
        QCOMPARE(lastRows, std::uint64_t(plan.height()));
        QVERIFY2(handed == rows, qPrintable(run));
    }

    const DecodedPng decoded = decodeStrictly(first);
    QVERIFY2(decoded.error.isEmpty(), qPrintable(decoded.error));
    QVERIFY(decoded.consumedWholeFile);
    QCOMPARE(decoded.width, plan.width());
    QCOMPARE(decoded.height, plan.height());
    QVERIFY(decoded.pixels == rows);

    // The texts come before the image data, whose chunks follow one another.
    QStringList order;
    for (const auto& [type, at] : pngChunks(first))
        if (order.isEmpty() || order.last() != type)
            order << QString::fromLatin1(type);
    QCOMPARE(order, QStringList({"IHDR", "tEXt", "IDAT", "IEND"}));
}

void ImageTest::strictReaderCatchesDamage_data() {
    // The reader above is only worth its checks if it fails where they fail.
    QTest::addColumn<QString>("damage");
    QTest::addColumn<bool>("sound");
    QTest::newRow("none") << "none" << true;
    QTest::newRow("image data checksum, chunk CRC mended") << "adler" << false;
    QTest::newRow("a chunk's CRC") << "crc" << false;
    QTest::newRow("last piece left out") << "last piece" << false;
    QTest::newRow("a piece twice") << "piece twice" << false;
}

void ImageTest::strictReaderCatchesDamage() {
    QFETCH(QString, damage);
    QFETCH(bool, sound);
    const ImagePlan plan =
        planImage({"aries", boxTexts("0.25", "2", "23", "1.5"), 2}, computingFromEnvironment());
    PngEncoding encoding;
    encoding.pieceBytes = 1000;
    QByteArray file = writtenPng(plan, {2, 0}, encoding).bytes;
    QList<std::pair<QByteArray, qsizetype>> idat;
    for (const auto& chunk : pngChunks(file))
        if (chunk.first == "IDAT")
            idat.append(chunk);
    QVERIFY(idat.size() >= 3);
    const auto chunkAt = [&](qsizetype at) {
        return file.mid(at, 12 + qFromBigEndian<quint32>(file.constData() + at));
    };

    if (damage == "adler") {
        const qsizetype at = idat.last().second;
        const QByteArray chunk = chunkAt(at);
        QByteArray data = chunk.mid(8, chunk.size() - 12);
        data[data.size() - 1] = char(data[data.size() - 1] ^ 1);
        file.replace(at, chunk.size(), pngChunk("IDAT", data));
    } else if (damage == "crc") {
        const qsizetype at = idat[1].second + 10;
        file[at] = char(file[at] ^ 0x40);
    } else if (damage == "last piece") {
        file.remove(idat.last().second, chunkAt(idat.last().second).size());
    } else if (damage == "piece twice") {
        file.insert(idat[1].second, chunkAt(idat[1].second));
    }
    const DecodedPng decoded = decodeStrictly(file);
    QVERIFY2(decoded.error.isEmpty() == sound, qPrintable(decoded.error));
}

void ImageTest::completePngsAreTold_data() {
    QTest::addColumn<QString>("damage");
    QTest::addColumn<bool>("complete");
    QTest::newRow("none") << "none" << true;
    QTest::newRow("cut in the image data") << "cut" << false;
    QTest::newRow("the end chunk missing") << "no end" << false;
    QTest::newRow("a byte of image data changed") << "changed" << false;
    QTest::newRow("another width") << "width" << false;
    QTest::newRow("bytes after the end") << "trailing" << false;
    QTest::newRow("not a PNG") << "text" << false;
    QTest::newRow("missing") << "missing" << false;
    QTest::newRow("a folder") << "folder" << false;
}

// Frames already written are kept only when whole: a stopped run may have
// been copied, cut short or damaged since.
void ImageTest::completePngsAreTold() {
    QFETCH(QString, damage);
    QFETCH(bool, complete);
    const ImagePlan plan =
        planImage({"aries", boxTexts("0.25", "2", "23", "1.5"), 2}, computingFromEnvironment());
    PngEncoding encoding;
    encoding.pieceBytes = 1000;
    QByteArray file = writtenPng(plan, {2, 0}, encoding, {{"Comment", "kept"}}).bytes;
    if (damage == "cut")
        file.truncate(file.size() / 2);
    else if (damage == "no end")
        file.chop(12);
    else if (damage == "changed")
        file[file.size() / 2] = char(file[file.size() / 2] ^ 1);
    else if (damage == "trailing")
        file.append('\0');
    else if (damage == "text")
        file = "not an image\n";
    QTemporaryDir folder;
    const QString path = folder.filePath(damage == "folder" ? "" : "frame.png");
    if (damage != "missing" && damage != "folder")
        writeFile(path, file);
    const std::uint32_t width = plan.width() + (damage == "width" ? 1 : 0);
    QCOMPARE(isCompletePng(path.toStdString(), width, plan.height()), complete);
}

namespace {

// The filters as the PNG format defines them, byte by byte.
std::uint8_t definedFilter(int filter, const std::vector<std::uint8_t>& row,
                           const std::vector<std::uint8_t>& above, std::size_t i) {
    const int a = i >= 3 ? row[i - 3] : 0, b = above[i], c = i >= 3 ? above[i - 3] : 0;
    int predicted = 0;
    if (filter == 1)
        predicted = a;
    else if (filter == 2)
        predicted = b;
    else if (filter == 3)
        predicted = (a + b) / 2;
    else if (filter == 4) {
        const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
        predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
    }
    return std::uint8_t(row[i] - predicted);
}

} // namespace

void ImageTest::filtersFollowTheirDefinitions_data() {
    QTest::addColumn<int>("rowBytes");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("choice"); // the filter that must win, or -1
    // Lengths around the sixteen bytes the wide code takes at a time and the
    // runs of them that are counted.
    for (const int length : {3, 6, 18, 19, 20, 34, 35, 36, 67, 68, 100, 131, 3072})
        QTest::addRow("random, %d bytes", length) << length << "random" << -1;
    QTest::newRow("nothing at all") << 99 << "zeros" << 0;
    QTest::newRow("even steps to the right") << 99 << "ramp" << 1;
    QTest::newRow("the row above again") << 99 << "above" << 2;
    QTest::newRow("between left and above") << 99 << "average" << 3;
    QTest::newRow("as Paeth predicts") << 99 << "paeth" << 4;
}

void ImageTest::filtersFollowTheirDefinitions() {
    QFETCH(int, rowBytes);
    QFETCH(QString, pattern);
    QFETCH(int, choice);
    const std::size_t size = std::size_t(rowBytes);
    QRandomGenerator random(quint32(rowBytes) * 7919u);
    std::vector<std::uint8_t> row(size), above(size);
    for (std::size_t i = 0; i < size; ++i) {
        above[i] = pattern == "zeros" ? 0 : std::uint8_t(random.bounded(256));
        row[i] = std::uint8_t(random.bounded(256));
    }
    // Rows that one filter predicts but for a small constant: each byte is
    // what the filter predicts from the bytes before it, plus 3.
    const std::map<QString, int> predicting{
        {"ramp", 1}, {"above", 2}, {"average", 3}, {"paeth", 4}};
    if (pattern == "zeros")
        std::fill(row.begin(), row.end(), 0);
    else if (predicting.count(pattern))
        for (std::size_t i = 0; i < size; ++i) {
            row[i] = 0;
            const auto predicted =
                std::uint8_t(-definedFilter(predicting.at(pattern), row, above, i));
            row[i] = std::uint8_t(predicted + 3);
        }

    // The bytes the choice counts: the first pixel, every fourth run of
    // sixteen bytes after it and whatever follows the last whole run.
    std::vector<bool> counted(size, false);
    std::size_t start = std::min<std::size_t>(3, size);
    std::fill(counted.begin(), counted.begin() + start, true);
    for (std::size_t run = 0; start + 16 <= size; start += 16, ++run)
        std::fill(counted.begin() + start, counted.begin() + start + 16, run % 4 == 0);
    std::fill(counted.begin() + start, counted.end(), true);

    // The least entropy is the largest sum of count x log2(count).
    double scores[5] = {};
    for (int filter = 0; filter < 5; ++filter) {
        std::vector<std::uint8_t> filtered(size);
        filterRow(Filter(filter), row.data(), above.data(), size, filtered.data());
        std::map<std::uint8_t, int> counts;
        for (std::size_t i = 0; i < size; ++i) {
            const std::uint8_t expected = definedFilter(filter, row, above, i);
            QVERIFY2(filtered[i] == expected,
                     qPrintable(QString("filter %1, byte %2").arg(filter).arg(i)));
            if (counted[i])
                ++counts[expected];
        }
        for (const auto& [value, count] : counts)
            scores[filter] += count * std::log2(double(count));
    }
    const int best = int(std::max_element(scores, scores + 5) - scores);
    QCOMPARE(int(chooseFilter(row.data(), above.data(), size)), best);
    if (choice >= 0)
        QCOMPARE(best, choice);
}

void ImageTest::entropyWeightIsCountTimesLog2_data() {
    QTest::addColumn<qulonglong>("count");
    for (const qulonglong count : {0ull, 1ull, 2ull, 3ull, 255ull, 4095ull, 4096ull, 65537ull,
                                   1000003ull, 1ull << 31, (1ull << 32) + 5, 6442450941ull})
        QTest::addRow("%llu", count) << count;
}

void ImageTest::entropyWeightIsCountTimesLog2() {
    // Within a couple of units of the last of the 16 binary places, per count.
    QFETCH(qulonglong, count);
    const long double exact = count ? count * std::log2((long double)count) * 65536 : 0;
    const long double weight = entropyWeight(count);
    QVERIFY2(std::abs(weight - exact) <= 2.0L * count + 1,
             qPrintable(QString("%1 against %2").arg(double(weight)).arg(double(exact))));
}

void ImageTest::cancellingStopsAndLeavesNothing_data() {
    QTest::addColumn<bool>("toFile"); // renderPng through an OutputFile, or renderRows
    QTest::addColumn<QString>("when");
    for (const bool toFile : {false, true})
        for (const char* when : {"before the start", "at the first report", "from another thread"})
            QTest::addRow("%s, %s", toFile ? "file" : "rows", when) << toFile << QString(when);
}

void ImageTest::cancellingStopsAndLeavesNothing() {
    QFETCH(bool, toFile);
    QFETCH(QString, when);
    const ImagePlan plan =
        planImage({"ripple", boxTexts("1", "1", "120"), 1}, computingFromEnvironment());
    std::atomic<bool> cancel{when == "before the start"};
    std::atomic<bool> reported{false};
    int reports = 0;
    std::uint64_t rowsReported = 0;
    // From another thread, the flag is set while the render waits in its
    // report, so that it cannot finish first.
    const ProgressSink progress = [&](std::uint64_t rows) {
        ++reports;
        rowsReported = rows;
        if (when == "at the first report")
            cancel = true;
        reported = true;
        while (when == "from another thread" && !cancel)
            std::this_thread::yield();
    };
    const qsizetype threadsBefore = threadCount();
    std::jthread canceller; // joined on the way out, whatever fails
    if (when == "from another thread")
        canceller = std::jthread([&] {
            while (!reported)
                std::this_thread::yield();
            cancel = true;
        });

    QTemporaryDir folder;
    const BandOptions options{3, 4, &cancel};
    PngEncoding encoding;
    encoding.pieceBytes = 1000; // bands of a few rows, as in a larger image
    if (toFile) {
        const auto render = [&] {
            OutputFile output(folder.filePath("image.png").toStdString());
            renderPng(plan, {}, output.stream(), options, progress, encoding);
            output.commit();
        };
        QVERIFY_THROWS_EXCEPTION(Cancelled, render());
    } else {
        QVERIFY_THROWS_EXCEPTION(Cancelled,
                                 renderRows(
                                     plan, options, [](const std::uint8_t*) {}, progress));
    }
    if (canceller.joinable())
        canceller.join();
    // Within a band of the request, no file, no temporary file, no worker left.
    QCOMPARE(reports, when == "before the start" ? 0 : 1);
    QVERIFY(rowsReported < plan.height());
    QCOMPARE(entries(folder.path()), QStringList());
    QTRY_COMPARE(threadCount(), threadsBefore); // a joined thread leaves /proc a moment later
}

// The plan computes with the instruction set and the threads it was given,
// never more threads than the rows can use.
void ImageTest::planComputesAsTold_data() {
    QTest::addColumn<bool>("widest"); // or scalar
    QTest::addColumn<unsigned>("threads");
    QTest::addColumn<QString>("size");
    QTest::addColumn<unsigned>("planned");
    QTest::newRow("scalar, one thread") << false << 1u << "40" << 1u;
    QTest::newRow("widest, three threads") << true << 3u << "40" << 3u;
    QTest::newRow("more threads than rows") << true << 1024u << "2" << 2u;
}

void ImageTest::planComputesAsTold() {
    QFETCH(bool, widest);
    QFETCH(unsigned, threads);
    QFETCH(QString, size);
    QFETCH(unsigned, planned);
    const Computing computing{widest ? lanes::widestAvailable() : lanes::InstructionSet::Scalar,
                              threads};
    const ImagePlan plan = planImage({"aries", boxTexts("1", "1", qPrintable(size)), 1}, computing);
    QCOMPARE(plan.kernels, &lanes::kernelsFor(computing.instructionSet));
    QCOMPARE(plan.threads, planned);
}

// A write that fails while the workers compute and compress the bands after
// it ends the render with the error, and no worker outlives it.
void ImageTest::failedWriteEndsTheWorkers() {
    const ImagePlan plan =
        planImage({"ripple", boxTexts("1", "1", "300"), 1}, computingFromEnvironment());
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> full(std::fopen("/dev/full", "wb"),
                                                               &std::fclose);
    QVERIFY(full);
    PngEncoding encoding;
    encoding.pieceBytes = 1000;
    std::uint64_t rowsWritten = 0;
    const qsizetype threadsBefore = threadCount();
    QString error;
    try {
        renderPng(
            plan, {}, full.get(), {3, 4}, [&](std::uint64_t rows) { rowsWritten = rows; },
            encoding);
    } catch (const RenderFailure& failure) {
        error = failure.what();
    }
    QVERIFY2(error.contains(std::strerror(ENOSPC)), qPrintable(error));
    // The buffered writes fail once the first bands fill the buffer.
    QVERIFY(rowsWritten > 0 && rowsWritten < plan.height());
    QTRY_COMPARE(threadCount(), threadsBefore); // a joined thread leaves /proc a moment later
}

// Signals belong to the program, which installs their clean-up in main():
// writing a file, in the window's process say, changes none of them.
void ImageTest::outputFileLeavesTheSignalsAlone() {
    const qint64 self = QCoreApplication::applicationPid();
    const quint64 caught = signalSet(self, "SigCgt");
    const quint64 ignored = signalSet(self, "SigIgn");
    QTemporaryDir folder;
    OutputFile output(folder.filePath("image.png").toStdString());
    output.commit();
    QCOMPARE(signalSet(self, "SigCgt"), caught);
    QCOMPARE(signalSet(self, "SigIgn"), ignored);
}

// What is written in place, and may wait for a reader: a FIFO or a device,
// also behind a link, and nothing else.
void ImageTest::fifosAndDevicesAreTold_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("fifoOrDevice");
    QTest::newRow("a FIFO") << "fifo" << true;
    QTest::newRow("a link to a FIFO") << "link to fifo" << true;
    QTest::newRow("a character device") << "/dev/null" << true;
    QTest::newRow("a regular file") << "file" << false;
    QTest::newRow("a folder") << "folder" << false;
    QTest::newRow("nothing") << "nothing" << false;
}

void ImageTest::fifosAndDevicesAreTold() {
    QFETCH(QString, kind);
    QFETCH(bool, fifoOrDevice);
    QTemporaryDir folder;
    const std::string fifo = folder.filePath("fifo").toStdString();
    QCOMPARE(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string link = folder.filePath("link").toStdString();
    QCOMPARE(::symlink(fifo.c_str(), link.c_str()), 0);
    const std::string file = folder.filePath("file").toStdString();
    QVERIFY(QFile(QString::fromStdString(file)).open(QIODevice::WriteOnly));
    const std::map<QString, std::string> paths{
        {"fifo", fifo},
        {"link to fifo", link},
        {"/dev/null", "/dev/null"},
        {"file", file},
        {"folder", folder.path().toStdString()},
        {"nothing", folder.filePath("nothing").toStdString()}};
    const std::string& path = paths.at(kind);
    QCOMPARE(isFifoOrDevice(path), fifoOrDevice);
    struct stat status = {};
    if (::stat(path.c_str(), &status) == 0)
        QCOMPARE(isFifoOrDevice(status.st_mode), fifoOrDevice);
}

void ImageTest::folderOfAPath_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::newRow("a bare name") << "frame-%05d.png"
                                 << ".";
    QTest::newRow("in a folder") << "out/frames/frame.png"
                                 << "out/frames";
    QTest::newRow("at the root") << "/frame.png"
                                 << "/";
    QTest::newRow("a folder's own name") << "frames/"
                                         << "frames";
}

void ImageTest::folderOfAPath() {
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QCOMPARE(QString::fromStdString(folderOf(path.toStdString())), folder);
}

QTEST_GUILESS_MAIN(ImageTest)
#include "test_image.moc"
