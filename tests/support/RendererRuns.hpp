#pragma once

#include "support/FolderEntries.hpp"
#include "support/ProcessState.hpp"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QThread>

#include <optional>
#include <utility>

// Runs of spirell-render, as a user would start it, with a look at what they
// leave behind (FolderEntries.hpp) and at a running program's threads and
// signals (ProcessState.hpp). The test program defines SPIRELL_RENDER_BINARY.
namespace spirell::testing {

struct RendererRun {
    int status = -1;
    bool crashed = false;
    QString errors;
    QByteArray errorBytes; // as written, for checks that decoding would hide
};

// Whether a run's errors are one line from spirell-render that holds text.
inline bool isOneErrorLine(const QString& errors, const QString& text) {
    return errors.startsWith("spirell-render: ") && errors.count('\n') == 1 &&
           errors.endsWith('\n') && errors.contains(text);
}

// This process's environment with NAME=value entries added or replaced.
inline QProcessEnvironment environmentWith(const QStringList& entries) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& entry : entries)
        environment.insert(entry.section('=', 0, 0), entry.section('=', 1));
    return environment;
}

// The environment entry that adds options to AddressSanitizer's own, such as
// "verify_asan_link_order=0" for a program run with LD_PRELOAD, whose library
// comes before the sanitizer's runtime.
inline QString withSanitizerOptions(const QString& options) {
    const QString sanitizer = qEnvironmentVariable("ASAN_OPTIONS");
    return "ASAN_OPTIONS=" + sanitizer + (sanitizer.isEmpty() ? "" : ":") + options;
}

#ifdef SPIRELL_NO_UNNAMED_FILES
// The entries that make spirell-render write a file as it does where the
// file system cannot make files without a name: through a hidden temporary
// file. SPIRELL_NO_UNNAMED_FILES is the library that refuses O_TMPFILE. A
// sanitizer runtime would insist on being loaded first.
inline QStringList withoutUnnamedFiles() {
    return {QStringLiteral("LD_PRELOAD=" SPIRELL_NO_UNNAMED_FILES),
            withSanitizerOptions("verify_asan_link_order=0")};
}
#endif

// The run a started process makes, once it has finished.
inline RendererRun finishedRun(QProcess& process) {
    if (process.state() != QProcess::NotRunning && !process.waitForFinished(120000))
        qFatal("spirell-render did not finish");
    const QByteArray errors = process.readAllStandardError();
    return {process.exitCode(), process.exitStatus() == QProcess::CrashExit,
            QString::fromUtf8(errors), errors};
}

// Runs spirell-render in folder; environment holds NAME=value entries to add.
inline RendererRun runRenderer(const QStringList& arguments, const QString& folder = {},
                               const QStringList& environment = {}) {
    QProcess process;
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.setProcessEnvironment(environmentWith(environment));
    process.start(QStringLiteral(SPIRELL_RENDER_BINARY), arguments);
    return finishedRun(process);
}

// Runs spirell-render on a tmpfs mounted over folder with these mount options,
// in a mount namespace of its own so that the file system is gone with the
// run; left is what the run left there. Nothing when no file system can be
// mounted here.
struct SmallDiskRun {
    RendererRun run;
    QByteArray left;
};

inline std::optional<SmallDiskRun> runOnSmallDisk(const QString& folder, const QString& options,
                                                  const QStringList& arguments) {
    if (QStandardPaths::findExecutable("unshare").isEmpty())
        return {};
    QProcess process;
    process.start("unshare", QStringList{"--mount", "sh", "-c",
                                         "mount -t tmpfs -o \"$1\" none \"$0\" || exit 99; shift; "
                                         "\"$@\"; status=$?; ls -A \"$0\"; exit $status",
                                         folder, options, SPIRELL_RENDER_BINARY} +
                                 arguments);
    const RendererRun run = finishedRun(process);
    if (run.status == 99 || run.errorBytes.startsWith("unshare:"))
        return {};
    return SmallDiskRun{run, process.readAllStandardOutput()};
}

// The files a running program has open in a folder: for each, the path of
// its descriptor in /proc and where that leads, "FOLDER/#INODE (deleted)" for
// a file made without a name (O_TMPFILE).
inline QList<std::pair<QString, QString>> openFilesIn(qint64 pid, const QString& folder) {
    const QString canonical = QFileInfo(folder).canonicalFilePath() + '/';
    const QDir descriptors(QString("/proc/%1/fd").arg(pid));
    QList<std::pair<QString, QString>> files;
    for (const QString& name :
         descriptors.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        const QString path = descriptors.filePath(name);
        const QString target = QFile::symLinkTarget(path);
        if (target.startsWith(canonical))
            files.append({path, target.mid(canonical.size())});
    }
    return files;
}

// Waits until a running program has a file open in folder, and gives it as
// openFilesIn() does; empty if none came.
inline std::pair<QString, QString> awaitOpenFile(qint64 pid, const QString& folder) {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 10000) {
        const auto files = openFilesIn(pid, folder);
        if (!files.isEmpty())
            return files.first();
        QThread::msleep(5);
    }
    return {};
}

} // namespace spirell::testing
