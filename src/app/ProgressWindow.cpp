#include "app/ProgressWindow.hpp"

namespace spirell::app {

void closeProgress(QPointer<QProgressDialog>& progress) {
    if (!progress)
        return;
    QObject::disconnect(progress, &QProgressDialog::canceled, nullptr, nullptr);
    progress->close();
    progress->deleteLater();
    progress = nullptr;
}

} // namespace spirell::app
