#include "app/RememberedFolders.hpp"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>

namespace spirell::app {

QString chooseInRememberedFolder(QWidget* window, FileChoice choice, const QString& settingsKey,
                                 const QString& title, const QString& filter,
                                 const QString& suggestedName) {
    QSettings settings;
    const QString folder = settings.value(settingsKey, QDir::homePath()).toString();
    QString path;
    switch (choice) {
    case FileChoice::SaveFile:
        path = QFileDialog::getSaveFileName(window, title, QDir(folder).filePath(suggestedName),
                                            filter);
        break;
    case FileChoice::OpenFile:
        path = QFileDialog::getOpenFileName(window, title, folder, filter);
        break;
    case FileChoice::Folder:
        path = QFileDialog::getExistingDirectory(window, title, folder);
        break;
    }
    if (!path.isEmpty())
        settings.setValue(settingsKey, choice == FileChoice::Folder
                                           ? QDir(path).absolutePath()
                                           : QFileInfo(path).absolutePath());
    return path;
}

} // namespace spirell::app
