#pragma once

#include <QMap>
#include <QScopeGuard>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

// Videos read back with FFmpeg's own libraries, for tests of what the program
// writes. The test program links FFmpeg.
namespace spirell::testing {

using Rgb = std::vector<std::uint8_t>;

inline std::uint8_t level(double value) {
    return static_cast<std::uint8_t>(std::clamp(std::lround(value * 255.0), 0L, 255L));
}

// A decoded frame as RGB. The BT.709 matrix and limited range are written out
// here rather than taken from swscale, so that a writer using the wrong ones
// cannot be undone by the same mistake in the test.
inline Rgb toRgb(const AVFrame& frame) {
    if (frame.format != AV_PIX_FMT_YUV420P && frame.format != AV_PIX_FMT_0RGB32)
        return {};
    Rgb rgb;
    for (int y = 0; y < frame.height; ++y)
        for (int x = 0; x < frame.width; ++x) {
            if (frame.format == AV_PIX_FMT_0RGB32) {
                std::uint32_t word = 0;
                std::memcpy(&word, frame.data[0] + y * frame.linesize[0] + 4 * x, sizeof word);
                rgb.insert(rgb.end(),
                           {std::uint8_t(word >> 16), std::uint8_t(word >> 8), std::uint8_t(word)});
                continue;
            }
            const double luma = (frame.data[0][y * frame.linesize[0] + x] - 16) / 219.0;
            const double blue = (frame.data[1][y / 2 * frame.linesize[1] + x / 2] - 128) / 224.0;
            const double red = (frame.data[2][y / 2 * frame.linesize[2] + x / 2] - 128) / 224.0;
            rgb.insert(rgb.end(),
                       {level(luma + 1.5748 * red), level(luma - 0.187324 * blue - 0.468124 * red),
                        level(luma + 1.8556 * blue)});
        }
    return rgb;
}

// What FFmpeg itself reads back from a video file.
struct Decoded {
    int width = 0;
    int height = 0;
    double framesPerSecond = 0;
    double seconds = 0;
    AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
    AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
    AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
    AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
    QMap<QString, QString> metadata; // keys in lower case, as Matroska changes them
    std::vector<double> times;
    std::vector<Rgb> frames;
};

inline Decoded decode(const QString& path) {
    Decoded video;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    const auto freeAll = qScopeGuard([&] {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    });
    const AVCodec* decoder = nullptr;
    int index = -1;
    if (avformat_open_input(&format, qPrintable(path), nullptr, nullptr) < 0 ||
        avformat_find_stream_info(format, nullptr) < 0 ||
        (index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0)) < 0)
        return video;
    const AVStream& stream = *format->streams[index];
    const AVCodecParameters& parameters = *stream.codecpar;
    codec = avcodec_alloc_context3(decoder);
    if (avcodec_parameters_to_context(codec, &parameters) < 0 ||
        avcodec_open2(codec, decoder, nullptr) < 0)
        return video;
    video.width = parameters.width;
    video.height = parameters.height;
    video.framesPerSecond = av_q2d(stream.avg_frame_rate);
    video.seconds = double(format->duration) / AV_TIME_BASE;
    video.primaries = parameters.color_primaries;
    video.transfer = parameters.color_trc;
    video.matrix = parameters.color_space;
    video.range = parameters.color_range;
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = av_dict_get(format->metadata, "", entry, AV_DICT_IGNORE_SUFFIX)))
        video.metadata[QString(entry->key).toLower()] = entry->value;
    for (bool ended = false; !ended;) {
        ended = av_read_frame(format, packet) < 0;
        if (ended || packet->stream_index == index)
            avcodec_send_packet(codec, ended ? nullptr : packet);
        av_packet_unref(packet);
        while (avcodec_receive_frame(codec, frame) == 0) {
            video.times.push_back(double(frame->best_effort_timestamp) * av_q2d(stream.time_base));
            video.frames.push_back(toRgb(*frame));
        }
    }
    return video;
}

// The mean difference of two frames' channel values, 255 for frames of
// different sizes.
inline double meanDifference(const Rgb& a, const Rgb& b) {
    if (a.size() != b.size())
        return 255;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        sum += std::abs(a[i] - b[i]);
    return sum / double(a.size());
}

} // namespace spirell::testing
