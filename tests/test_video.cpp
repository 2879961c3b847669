#include "support/VideoDecoding.hpp"
#include "video/VideoWriter.hpp"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <map>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>

using namespace spirell::video;
using namespace spirell::testing;
Q_DECLARE_METATYPE(spirell::video::OutputKind)

// AddressSanitizer allocates past malloc's own accounts.
#if defined(__SANITIZE_ADDRESS__)
#define SPIRELL_UNDER_ADDRESS_SANITIZER
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SPIRELL_UNDER_ADDRESS_SANITIZER
#endif
#endif

namespace {

// Smooth colours like the program's, moving so far from one frame to the next
// that a frame lost, doubled or swapped shows.
Rgb pattern(int width, int height, int index) {
    Rgb rgb;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            rgb.insert(rgb.end(), {level(0.5 + 0.4 * std::sin(0.08 * x + 0.9 * index)),
                                   level(0.5 + 0.4 * std::cos(0.06 * y - 0.6 * index)),
                                   level(0.5 + 0.4 * std::sin(0.05 * (x + y) + 1.3 * index))});
    return rgb;
}

void write(const QString& path, OutputKind kind, int width, int height,
           const std::vector<Rgb>& frames, int framesPerSecond = 30,
           const VideoMetadata& metadata = {}) {
    const int descriptor = ::open(qPrintable(path), O_RDWR | O_CREAT | O_TRUNC, 0644);
    const auto closeIt = qScopeGuard([&] { ::close(descriptor); });
    VideoWriter writer(descriptor, kind, width, height, framesPerSecond, metadata);
    for (const Rgb& frame : frames)
        writer.writeFrame(frame);
    writer.finish();
    QCOMPARE(writer.framesWritten(), frames.size());
}

void kindRows() {
    QTest::addColumn<OutputKind>("kind");
    QTest::newRow("mp4") << OutputKind::Mp4H264;
    QTest::newRow("webm") << OutputKind::WebmVp9;
    QTest::newRow("mkv lossless") << OutputKind::MkvLossless;
}

} // namespace

class VideoTest : public QObject {
    Q_OBJECT
private slots:
    void framesComeBack_data();
    void framesComeBack();
    void coloursComeBack_data() { kindRows(); }
    void coloursComeBack();
    void shapes_data();
    void shapes();
    void writeFailuresSurface_data();
    void writeFailuresSurface();
    void memoryStaysBounded_data() { kindRows(); }
    void memoryStaysBounded();
    void misuseIsRefused();

private:
    QString path(const QString& name) const { return directory_.filePath(name); }
    QTemporaryDir directory_;
};

void VideoTest::framesComeBack_data() {
    QTest::addColumn<OutputKind>("kind");
    QTest::addColumn<int>("frameCount");
    QTest::addColumn<int>("framesPerSecond");
    // 60 frames are more than any of the encoders holds back.
    for (const auto& [name, kind] : {std::pair{"mp4", OutputKind::Mp4H264},
                                     {"webm", OutputKind::WebmVp9},
                                     {"mkv lossless", OutputKind::MkvLossless}}) {
        QTest::addRow("%s, 1 frame", name) << kind << 1 << 24;
        QTest::addRow("%s, 5 frames", name) << kind << 5 << 30;
        QTest::addRow("%s, 60 frames", name) << kind << 60 << 25;
    }
}

void VideoTest::framesComeBack() {
    QFETCH(OutputKind, kind);
    QFETCH(int, frameCount);
    QFETCH(int, framesPerSecond);
    std::vector<Rgb> frames;
    for (int i = 0; i < frameCount; ++i)
        frames.push_back(pattern(64, 48, i));
    // A key of the program's own, which MP4 drops unless told otherwise.
    const VideoMetadata metadata = {{"title", "Flight"}, {"spirell_view", "x=1e-3\nname=Ω → α"}};
    write(path("frames"), kind, 64, 48, frames, framesPerSecond, metadata);

    const Decoded video = decode(path("frames"));
    QCOMPARE(video.width, 64);
    QCOMPARE(video.height, 48);
    QCOMPARE(video.framesPerSecond, double(framesPerSecond));
    // The last frame lasts its whole time; Matroska counts in milliseconds.
    QVERIFY2(std::abs(video.seconds - double(frameCount) / framesPerSecond) < 0.0015,
             qPrintable(QString::number(video.seconds)));
    for (const auto& [key, text] : metadata)
        QCOMPARE(video.metadata.value(QString::fromStdString(key)), QString::fromStdString(text));
    QCOMPARE(video.frames.size(), frames.size());
    for (int i = 0; i < frameCount; ++i) {
        QVERIFY(std::abs(video.times[i] - double(i) / framesPerSecond) < 0.0015);
        if (kind == OutputKind::MkvLossless) {
            QVERIFY(video.frames[i] == frames[i]);
            continue;
        }
        // Colour kept for each 2x2 pixels differs by about 3 on these
        // gradients, neighbouring frames by about 50.
        const double own = meanDifference(video.frames[i], frames[i]);
        QVERIFY2(own < 6, qPrintable(QString("frame %1 is %2 off").arg(i).arg(own)));
        for (const int other : {i - 1, i + 1})
            if (other >= 0 && other < frameCount)
                QVERIFY(meanDifference(video.frames[i], frames[other]) > own);
    }
    if (kind == OutputKind::Mp4H264) {
        // The index in front lets a player start before the file is whole.
        QFile file(path("frames"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.indexOf("moov") < bytes.indexOf("mdat"));
    }
}

void VideoTest::coloursComeBack() {
    QFETCH(OutputKind, kind);
    // Flat blocks of 64x64: the primaries show a wrong matrix, grey a wrong range.
    const std::uint8_t blocks[6][3] = {{255, 0, 0},     {0, 255, 0},     {0, 0, 255},
                                       {128, 128, 128}, {255, 255, 255}, {0, 0, 0}};
    Rgb frame;
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 192; ++x)
            frame.insert(frame.end(), blocks[y / 64 * 3 + x / 64], blocks[y / 64 * 3 + x / 64] + 3);
    write(path("colours"), kind, 192, 128, {frame, frame});

    const Decoded video = decode(path("colours"));
    QCOMPARE(video.frames.size(), std::size_t{2});
    QCOMPARE(video.primaries, AVCOL_PRI_BT709);
    if (kind == OutputKind::MkvLossless) {
        QCOMPARE(video.matrix, AVCOL_SPC_RGB);
        QCOMPARE(video.transfer, AVCOL_TRC_IEC61966_2_1);
        QVERIFY(video.frames.back() == frame);
        return;
    }
    QCOMPARE(video.matrix, AVCOL_SPC_BT709);
    QCOMPARE(video.transfer, AVCOL_TRC_BT709);
    QCOMPARE(video.range, AVCOL_RANGE_MPEG);
    // The middle of each block, away from the edges that compression blurs.
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 192; ++x) {
            if (x % 64 < 16 || x % 64 >= 48 || y % 64 < 16 || y % 64 >= 48)
                continue;
            for (int c = 0; c < 3; ++c)
                QVERIFY2(std::abs(video.frames.back()[(y * 192 + x) * 3 + c] -
                                  blocks[y / 64 * 3 + x / 64][c]) <= 3,
                         qPrintable(QString("channel %1 at (%2, %3)").arg(c).arg(x).arg(y)));
        }
}

void VideoTest::shapes_data() {
    QTest::addColumn<OutputKind>("kind");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("framesPerSecond");
    QTest::addColumn<bool>("accepted");
    const auto mp4 = OutputKind::Mp4H264;
    const auto lossless = OutputKind::MkvLossless;
    QTest::newRow("mp4, odd width") << mp4 << 63 << 48 << 30 << false;
    QTest::newRow("webm, odd height") << OutputKind::WebmVp9 << 64 << 47 << 30 << false;
    QTest::newRow("lossless, odd") << lossless << 63 << 47 << 30 << true;
    QTest::newRow("lossless, odd, in slices") << lossless << 129 << 67 << 30 << true;
    QTest::newRow("lossless, smallest") << lossless << 2 << 3 << 30 << true;
    QTest::newRow("one pixel") << lossless << 1 << 1 << 30 << false;
    QTest::newRow("too wide") << lossless << int(kMaxVideoSide) + 1 << 48 << 30 << false;
    QTest::newRow("mp4 past H.264's highest level") << mp4 << 9216 << 4096 << 30 << false;
    QTest::newRow("no frame rate") << lossless << 64 << 48 << 0 << false;
    QTest::newRow("too fast") << lossless << 64 << 48 << kMaxFramesPerSecond + 1 << false;
}

void VideoTest::shapes() {
    QFETCH(OutputKind, kind);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, framesPerSecond);
    QFETCH(bool, accepted);
    if (!accepted) {
        // The caller then leaves no output, so the file keeps what it held.
        QFile file(path("refused"));
        QVERIFY(file.open(QIODevice::ReadWrite | QIODevice::Truncate) && file.write("keep") == 4);
        file.flush();
        QVERIFY_THROWS_EXCEPTION(UnsupportedVideo,
                                 VideoWriter(file.handle(), kind, width, height, framesPerSecond));
        QCOMPARE(file.size(), qint64{4});
        return;
    }
    const std::vector<Rgb> frames = {pattern(width, height, 0), pattern(width, height, 1)};
    write(path("shape"), kind, width, height, frames, framesPerSecond);
    const Decoded video = decode(path("shape"));
    QCOMPARE(video.width, width);
    QCOMPARE(video.frames, frames);
}

void VideoTest::writeFailuresSurface_data() {
    QTest::addColumn<QString>("output");
    QTest::addColumn<OutputKind>("kind");
    // These fail before any frame is computed for nothing.
    QTest::newRow("read-only") << "read-only" << OutputKind::Mp4H264;
    QTest::newRow("write-only") << "write-only" << OutputKind::Mp4H264;
    QTest::newRow("appending") << "appending" << OutputKind::Mp4H264;
    QTest::newRow("closed") << "closed" << OutputKind::Mp4H264;
    QTest::newRow("/dev/full, which cannot seek") << "/dev/full" << OutputKind::MkvLossless;
    // These fail on the way.
    QTest::newRow("full disk, mp4") << "full disk" << OutputKind::Mp4H264;
    QTest::newRow("full disk, webm") << "full disk" << OutputKind::WebmVp9;
    QTest::newRow("full disk, mkv") << "full disk" << OutputKind::MkvLossless;
}

void VideoTest::writeFailuresSurface() {
    QFETCH(QString, output);
    QFETCH(OutputKind, kind);
    const std::map<QString, int> flags = {
        {"read-only", O_RDONLY}, {"write-only", O_WRONLY}, {"appending", O_RDWR | O_APPEND},
        {"closed", O_RDWR},      {"/dev/full", O_RDWR},    {"full disk", O_RDWR}};
    const int descriptor = ::open(output == "/dev/full" ? "/dev/full" : qPrintable(path("failing")),
                                  flags.at(output) | O_CREAT, 0644);
    if (output == "closed")
        ::close(descriptor);
    const auto closeIt = qScopeGuard([&] {
        if (output != "closed")
            ::close(descriptor);
    });
    // No file may grow past 16 KiB, as on a full disk; the signal that would
    // end the process is ignored, so writes fail with EFBIG.
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved;
    limit.rlim_cur = output == "full disk" ? 16 * 1024 : saved.rlim_cur;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const auto restore = qScopeGuard([&] {
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, savedHandler);
    });
    std::optional<VideoWriter> writer;
    QString failure;
    try {
        writer.emplace(descriptor, kind, 64, 48, 30);
        // Noise keeps every frame big.
        Rgb noise(64 * 48 * 3);
        std::uint32_t seed = 1;
        for (int i = 0; i < 30; ++i) {
            for (auto& byte : noise)
                byte = std::uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
            writer->writeFrame(noise);
        }
        writer->finish();
    } catch (const VideoFailure& error) {
        failure = error.what();
    }
    QVERIFY2(!failure.isEmpty(), "the video was reported complete");
    QVERIFY(!failure.contains('\n'));
    QCOMPARE(writer.has_value(), output == "full disk");
    if (!writer)
        return;
    QVERIFY2(failure.contains(std::strerror(EFBIG)), qPrintable(failure));
    // A caller that carries on must never see success.
    QVERIFY_THROWS_EXCEPTION(VideoFailure, writer->finish());
}

void VideoTest::memoryStaysBounded() {
#ifdef SPIRELL_UNDER_ADDRESS_SANITIZER
    QSKIP("AddressSanitizer allocates past malloc's own accounts");
#endif
    QFETCH(OutputKind, kind);
    // Bytes in use rather than resident, which memory freed by the earlier
    // tests would hide; the writer allocates on this thread, in malloc's main arena.
    const auto inUse = [] {
        const struct mallinfo2 info = mallinfo2();
        return long(info.uordblks + info.hblkhd);
    };
    const std::vector<Rgb> frames = {pattern(160, 120, 0), pattern(160, 120, 1)};
    const int descriptor = ::open(qPrintable(path("long")), O_RDWR | O_CREAT | O_TRUNC, 0644);
    const auto closeIt = qScopeGuard([&] { ::close(descriptor); });
    VideoWriter writer(descriptor, kind, 160, 120, 30);
    // Past the encoders' lookahead and first allocations.
    for (int i = 0; i < 60; ++i)
        writer.writeFrame(frames[i % 2]);
    const long settled = inUse();
    for (int i = 0; i < 240; ++i)
        writer.writeFrame(frames[i % 2]);
    // Keeping every frame would take 14 MB; the encoders grow by 0.2 MB at most.
    QVERIFY2(inUse() - settled < 2'000'000, qPrintable(QString::number(inUse() - settled)));
    writer.finish();
}

void VideoTest::misuseIsRefused() {
    const int descriptor = ::open(qPrintable(path("misuse")), O_RDWR | O_CREAT | O_TRUNC, 0644);
    const auto closeIt = qScopeGuard([&] { ::close(descriptor); });
    QVERIFY_THROWS_EXCEPTION(UnsupportedVideo, VideoWriter(descriptor, OutputKind::Mp4H264, 64, 48,
                                                           30, {{"", "no key"}}));
    QVERIFY_THROWS_EXCEPTION(VideoFailure,
                             VideoWriter(descriptor, OutputKind::Mp4H264, 64, 48, 30).finish());
    VideoWriter writer(descriptor, OutputKind::Mp4H264, 64, 48, 30);
    const Rgb frame = pattern(64, 48, 0);
    // A frame of the wrong size is refused without harming the video.
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, writer.writeFrame(Rgb(frame.size() - 3)));
    writer.writeFrame(frame);
    writer.finish();
    writer.finish();
    QVERIFY_THROWS_EXCEPTION(std::logic_error, writer.writeFrame(frame));
    QCOMPARE(decode(path("misuse")).frames.size(), std::size_t{1});
}

QTEST_GUILESS_MAIN(VideoTest)
#include "test_video.moc"
