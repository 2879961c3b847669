#include "ProgramInfo.hpp"
#include "app/MainWindow.hpp"
#include "app/StartupOptions.hpp"
#include "render/Computing.hpp"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
    // Help and version are answered before Qt starts, so they need no display.
    switch (spirell::startupRequest(argc, argv)) {
    case spirell::StartupRequest::ShowHelp:
        std::fputs(spirell::startupHelpText().c_str(), stdout);
        return 0;
    case spirell::StartupRequest::ShowVersion:
        std::fputs(spirell::startupVersionText().c_str(), stdout);
        return 0;
    case spirell::StartupRequest::OpenWindow:
        break;
    }
    // A width or thread count that cannot be honoured is refused before any
    // window opens.
    try {
        spirell::defaultComputing();
    } catch (const spirell::ComputingChoiceError& error) {
        std::fprintf(stderr, "spirell: %s\n", error.what());
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(spirell::kProgramName);
    QApplication::setApplicationVersion(spirell::kVersion);
    // Desktops match the window to its menu entry and icon by this name.
    QGuiApplication::setDesktopFileName(spirell::kApplicationId);
    spirell::MainWindow window;
    window.show();
    window.activateWindow();
    return QApplication::exec();
}
