#pragma once

#include <QString>

class QWidget;

namespace spirell::app {

// What a file dialog asks for.
enum class FileChoice { SaveFile, OpenFile, Folder };

// Shows the file dialog for choice, opening in the folder it was last
// answered in (the home folder at first), which the settings keep under
// settingsKey ("folders/save"): a file's folder, or the folder chosen.
// suggestedName is the file name offered for saving. Empty when the dialog
// was cancelled.
QString chooseInRememberedFolder(QWidget* window, FileChoice choice, const QString& settingsKey,
                                 const QString& title, const QString& filter = {},
                                 const QString& suggestedName = {});

} // namespace spirell::app
