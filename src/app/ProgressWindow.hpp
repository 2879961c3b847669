#pragma once

#include <QPointer>
#include <QProgressDialog>
#include <QString>

#include <functional>

namespace spirell::app {

class BackgroundTask;

// What a progress window says, and when it appears.
struct ProgressWindowText {
    QString objectName;  // "posterProgress"
    QString title;       // the action's, "Save poster"
    QString label;       // "Writing the poster..."
    int showAfterMs = 0; // 0 shows it at once
};

// Opens the progress window of task, a child of window: not modal, so the
// window goes on working, counting the task's progress up to total and left
// open at the end until closeProgress. Its Cancel calls cancel, or else
// cancels the task.
QProgressDialog* openProgress(QWidget* window, BackgroundTask& task, const ProgressWindowText& text,
                              quint64 total, std::function<void()> cancel = {});

// Closes the progress window of work that has ended and deletes it from the
// event loop. Closing a progress window emits canceled, which must not reach
// the work it showed: that work is complete, or already cancelled.
void closeProgress(QPointer<QProgressDialog>& progress);

} // namespace spirell::app
