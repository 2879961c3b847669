#pragma once

#include <QDir>
#include <QFile>
#include <QString>

// What /proc tells of a process: its threads, and how it handles signals.
namespace spirell::testing {

// The threads of a process, by default this one.
inline qsizetype threadCount(const QString& pid = "self") {
    return QDir("/proc/" + pid + "/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
}

// A set of signals from a process's /proc status, as a mask with bit n - 1 for
// signal n: field "SigIgn" for those it ignores, "SigCgt" for those it catches.
inline quint64 signalSet(qint64 pid, const char* field) {
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray name = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(name))
            return line.mid(name.size()).trimmed().toULongLong(nullptr, 16);
    return 0;
}

} // namespace spirell::testing
