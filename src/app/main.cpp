#include "app/MainWindow.hpp"
#include "app/StartupOptions.hpp"
#include "drawing/Computing.hpp"
#include "files/OutputFile.hpp"

#include <QApplication>
#include <QScreen>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Where the screen's available area is smaller than the window, the whole
// window is shown smaller, every control and the picture in their places;
// pictures are still computed at their full size.
double displayScaleForTheScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return 1;
    const QRect available = screen->availableGeometry();
    return spirell::app::fittingScale(available.width(), available.height(),
                                      spirell::app::kClientWidth + 2,
                                      spirell::app::kClientHeight + 2);
}

} // namespace

int main(int argc, char* argv[]) {
    // A poster being written when the desktop session ends leaves nothing behind.
    spirell::files::installSignalCleanup();
    // A FIFO's reader that goes away fails the save with a message instead
    // of ending the program and the drawings in it.
    std::signal(SIGPIPE, SIG_IGN);
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
    QApplication app(argc, argv);
    spirell::app::nameTheApplication();
    spirell::app::MainWindow window(computing, displayScaleForTheScreen());
    window.show();
    window.activateWindow();
    // The arguments Qt left, as the bytes they are: a file's name need not be
    // UTF-8, which QCoreApplication::arguments() would lose.
    const std::vector<std::string> remaining(argv, argv + argc);
    const std::string picture = spirell::app::startupPicture(remaining);
    if (!picture.empty())
        QTimer::singleShot(0, &window, [&window, picture] { window.viewActions().open(picture); });
    return QApplication::exec();
}
