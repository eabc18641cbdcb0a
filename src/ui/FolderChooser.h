// The folder chooser shared by the options dialog and the filter editor:
// the system's folder dialog, opened on the folder that an edit names.
#pragma once

#include <QString>

class QWidget;

namespace harvix {

// What browseForFolder returns.
enum FolderChoice : int {
    kFolderCancelled = 0,    // the user cancelled
    kFolderWithoutPath = 1,  // the chosen item has no file-system path
    kFolderChosen = 2,       // `chosen` holds the folder's path
};

// Opens the folder dialog owned by `owner`, titled `title`, on `current`
// (a "~/" text means the home folder; when the folder does not exist the
// nearest existing folder above it is opened). On kFolderChosen `chosen`
// receives the chosen folder's path.
int browseForFolder(QWidget* owner, const QString& current, const QString& title, QString& chosen);

}  // namespace harvix
