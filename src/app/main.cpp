#include "ProgramInfo.hpp"
#include "app/MainWindow.hpp"
#include "app/StartupOptions.hpp"
#include "drawing/Computing.hpp"
#include "files/OutputFile.hpp"

#include <QApplication>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Where the screen's available area is smaller than the window, the program
// starts once more with Qt scaling everything down to fit: the controls, the
// fonts and the picture in their places, while pictures are still computed at
// their full size. Qt takes its scale factor only as it starts, so the
// program starts again before any window is shown; SPIRELL_FITTED keeps it
// from doing so twice.
void fitIntoTheScreen(const std::vector<std::string>& arguments) {
    if (qEnvironmentVariableIsSet("SPIRELL_FITTED"))
        return;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    const double scale =
        spirell::app::fittingScale(available.width(), available.height(),
                                   spirell::app::kClientWidth + 2, spirell::app::kClientHeight + 2);
    if (scale >= 1)
        return;
    bool given = false;
    const double before = qEnvironmentVariable("QT_SCALE_FACTOR").toDouble(&given);
    // A little below the exact fit leaves room for rounding.
    const double factor = (given && before > 0 ? before : 1) * scale * 0.995;
    qputenv("QT_SCALE_FACTOR", QByteArray::number(factor, 'g', 6));
    qputenv("SPIRELL_FITTED", "1");
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ::execv("/proc/self/exe", argv.data());
    // Where it cannot start again, the window opens at its full size.
}

} // namespace

int main(int argc, char* argv[]) {
    // A poster being written when the desktop session ends leaves nothing behind.
    spirell::files::installSignalCleanup();
    // Help and version are answered before Qt starts, so they need no display.
    switch (spirell::app::startupRequest(argc, argv)) {
    case spirell::app::StartupRequest::ShowHelp:
        std::fputs(spirell::app::startupHelpText().c_str(), stdout);
        return 0;
    case spirell::app::StartupRequest::ShowVersion:
        std::fputs(spirell::app::startupVersionText().c_str(), stdout);
        return 0;
    case spirell::app::StartupRequest::OpenWindow:
        break;
    }
    // A width or thread count that cannot be honoured is refused before any
    // window opens.
    spirell::drawing::Computing computing;
    try {
        computing = spirell::drawing::computingFromEnvironment();
    } catch (const spirell::drawing::ComputingChoiceError& error) {
        std::fprintf(stderr, "spirell: %s\n", error.what());
        return 2;
    }
    const std::vector<std::string> arguments(argv, argv + argc);
    QApplication app(argc, argv);
    fitIntoTheScreen(arguments);
    QApplication::setApplicationName(spirell::app::kProgramName);
    QApplication::setApplicationVersion(spirell::kVersion);
    // Desktops match the window to its menu entry and icon by this name.
    QGuiApplication::setDesktopFileName(spirell::kApplicationId);
    spirell::app::MainWindow window(computing);
    window.show();
    window.activateWindow();
    std::vector<std::string> remaining;
    for (const QString& argument : QCoreApplication::arguments())
        remaining.push_back(argument.toStdString());
    const QString picture = QString::fromStdString(spirell::app::startupPicture(remaining));
    if (!picture.isEmpty())
        QTimer::singleShot(0, &window, [&window, picture] { window.viewActions().open(picture); });
    return QApplication::exec();
}
