#include "app/ProgressWindow.hpp"

#include "app/BackgroundTask.hpp"

namespace spirell::app {

QProgressDialog* openProgress(QWidget* window, BackgroundTask& task, const ProgressWindowText& text,
                              quint64 total, std::function<void()> cancel) {
    auto* progress = new QProgressDialog(window);
    progress->setObjectName(text.objectName);
    progress->setWindowModality(Qt::NonModal);
    progress->setWindowTitle(text.title);
    progress->setLabelText(text.label);
    progress->setRange(0, int(total));
    progress->setMinimumDuration(text.showAfterMs);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setValue(0);
    if (!cancel)
        cancel = [&task] { task.cancel(); };
    QObject::connect(progress, &QProgressDialog::canceled, &task, std::move(cancel));
    QObject::connect(&task, &BackgroundTask::progressed, progress,
                     [progress](quint64 done) { progress->setValue(int(done)); });
    if (text.showAfterMs == 0)
        progress->show();
    return progress;
}

void closeProgress(QPointer<QProgressDialog>& progress) {
    if (!progress)
        return;
    QObject::disconnect(progress, &QProgressDialog::canceled, nullptr, nullptr);
    progress->close();
    progress->deleteLater();
    progress = nullptr;
}

} // namespace spirell::app
