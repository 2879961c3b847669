#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

namespace spirell::testing {

// Everything in a folder, hidden temporary files included.
inline QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

// A file's bytes, none when it cannot be read.
inline QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace spirell::testing
