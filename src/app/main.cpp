#include "app/MainWindow.hpp"
#include "render/Computing.hpp"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
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
    spirell::qTac window;
    window.show();
    window.activateWindow();
    return QApplication::exec();
}
