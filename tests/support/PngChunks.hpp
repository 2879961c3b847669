#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QtEndian>

#include <zlib.h>

#include <cstddef>

// PNG files made byte by byte, for tests of what the program reads. The test
// program links zlib.
namespace spirell::testing {

// A PNG chunk as it stands in a file: length, type, data, CRC.
inline QByteArray pngChunk(const char* type, const QByteArray& data) {
    const QByteArray body = type + data;
    const auto bigEndian = [](std::size_t value) {
        const quint32 number = qToBigEndian(quint32(value));
        return QByteArray(reinterpret_cast<const char*>(&number), 4);
    };
    return bigEndian(std::size_t(data.size())) + body +
           bigEndian(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size())));
}

inline QByteArray zlibStream(const QByteArray& bytes) {
    return qCompress(bytes, 9).mid(4); // qCompress puts the length first
}

// A text chunk of one of the three kinds a PNG may hold, "iTXt" uncompressed
// and "iTXt+z" compressed.
inline QByteArray textChunk(const QString& kind, const QByteArray& key, const QByteArray& text) {
    if (kind == "tEXt")
        return pngChunk("tEXt", key + '\0' + text);
    if (kind == "zTXt")
        return pngChunk("zTXt", key + '\0' + '\0' + zlibStream(text));
    const bool compressed = kind == "iTXt+z";
    return pngChunk("iTXt", key + '\0' + char(compressed) + '\0' + "en" + '\0' + '\0' +
                                (compressed ? zlibStream(text) : text));
}

// A one-pixel PNG with the given chunks before its image data.
inline QByteArray pngWith(const QList<QByteArray>& chunks) {
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    png += pngChunk("IHDR", QByteArray("\0\0\0\1\0\0\0\1\x08\x02\0\0\0", 13));
    for (const QByteArray& chunk : chunks)
        png += chunk;
    png += pngChunk("IDAT", zlibStream(QByteArray(4, '\0')));
    return png + pngChunk("IEND", {});
}

// The PNG with each chunk's data as change(type, data) gives it, the CRCs
// made anew; a chunk for which it gives a null QByteArray is left out.
template <typename Change> QByteArray rechunked(const QByteArray& png, Change&& change) {
    QByteArray result = png.left(8);
    for (qsizetype at = 8; at + 12 <= png.size();) {
        const auto length = qsizetype(qFromBigEndian<quint32>(png.constData() + at));
        const QByteArray type = png.mid(at + 4, 4);
        const QByteArray data = change(type, png.mid(at + 8, length));
        if (!data.isNull())
            result += pngChunk(type.constData(), data);
        at += 12 + length;
    }
    return result;
}

inline void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write a test file");
}

} // namespace spirell::testing
