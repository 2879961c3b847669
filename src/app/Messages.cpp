#include "app/Messages.hpp"

#include "boxes/RuntimeError.hpp"

#include <QMessageBox>

#include <exception>
#include <new>

namespace spirell::app {

namespace {

// The classic program's number for running out of memory.
constexpr int kOutOfMemoryErrorNumber = 7;

void showRuntimeError(QWidget* parent, int number, const QString& description) {
    QMessageBox::critical(parent, kProgramName,
                          QString("Run-time error '%1':\n\n%2").arg(number).arg(description));
}

} // namespace

void showFailure(QWidget* parent, const QString& title) noexcept {
    try {
        try {
            throw;
        } catch (const boxes::RuntimeError& error) {
            showRuntimeError(parent, error.number(), QString::fromStdString(error.what()));
        } catch (const std::bad_alloc&) {
            showRuntimeError(parent, kOutOfMemoryErrorNumber, "Out of memory");
        } catch (const std::exception& error) {
            QMessageBox::warning(parent, title, QString::fromStdString(error.what()));
        } catch (...) {
            QMessageBox::warning(parent, title, "An unknown failure.");
        }
    } catch (...) {
        // Not even the message could be shown; the window goes on as it can.
    }
}

} // namespace spirell::app
