#pragma once

#include <QString>

class QWidget;

namespace spirell::app {

// The title of the window's own messages.
inline constexpr const char* kProgramName = "Vortica Spirell";

// Shows the exception being handled in a message box over parent: an overflow
// and running out of memory in the classic "Run-time error" form under the
// program's name, anything else as its message under the title. Throws
// nothing; call it only inside a catch block.
void showFailure(QWidget* parent, const QString& title) noexcept;

// Runs the work of a slot or an event handler, which Qt forbids to throw:
// whatever it throws is shown by showFailure and goes no further.
template <typename Work> void guardSlot(QWidget* parent, const QString& title, Work&& work) {
    try {
        work();
    } catch (...) {
        showFailure(parent, title);
    }
}

} // namespace spirell::app
