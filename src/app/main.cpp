#include "app/MainWindow.hpp"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(spirell::kProgramName);
    spirell::qTac window;
    window.show();
    window.activateWindow();
    return QApplication::exec();
}
