#pragma once

#include <QByteArray>
#include <QtEndian>

#include <zlib.h>

#include <cstddef>

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

} // namespace spirell::testing
