#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

// Runs of spirell-render, as a user would start it, and a look at what they
// leave behind, at this process's threads and at how a running program handles
// signals. The test program defines SPIRELL_RENDER_BINARY.
namespace spirell::testing {

struct RendererRun {
    int status = -1;
    bool crashed = false;
    QString errors;
    QByteArray errorBytes; // as written, for checks that decoding would hide
};

// Runs spirell-render in folder; environment holds NAME=value entries to add.
inline RendererRun runRenderer(const QStringList& arguments, const QString& folder = {},
                               const QStringList& environment = {}) {
    QProcess process;
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.setEnvironment(QProcess::systemEnvironment() + environment);
    process.start(QStringLiteral(SPIRELL_RENDER_BINARY), arguments);
    if (!process.waitForFinished(120000))
        qFatal("spirell-render did not finish");
    const QByteArray errors = process.readAllStandardError();
    return {process.exitCode(), process.exitStatus() == QProcess::CrashExit,
            QString::fromUtf8(errors), errors};
}

// Everything in a folder, hidden temporary files included.
inline QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

// The threads of this process.
inline qsizetype threadCount() {
    return QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
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
