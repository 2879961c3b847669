#pragma once

#include "support/FolderEntries.hpp"
#include "support/ProcessState.hpp"

#include <QProcess>
#include <QString>
#include <QStringList>

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

} // namespace spirell::testing
