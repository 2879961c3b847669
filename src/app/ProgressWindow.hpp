#pragma once

#include <QPointer>
#include <QProgressDialog>

namespace spirell::app {

// Closes the progress window of work that has ended and deletes it from the
// event loop. Closing a progress window emits canceled, which must not reach
// the work it showed: that work is complete, or already cancelled.
void closeProgress(QPointer<QProgressDialog>& progress);

} // namespace spirell::app
