#pragma once

#include <QDir>
#include <QString>
#include <QStringList>

namespace spirell::testing {

// Everything in a folder, hidden temporary files included.
inline QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

} // namespace spirell::testing
