#include "ui/FolderChooser.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

#include "app/LanguageTexts.h"
#include "platform/Path.h"
#include "platform/Platform.h"
#include "ui/ProgramState.h"

namespace harvix {

namespace {

// The folder to open the dialog on: `text` itself when it exists, else the
// nearest existing folder above it; empty when nothing fits.
QString startFolder(const QString& text) {
    QString path = text.trimmed();
    if (path == QStringLiteral("~") || path.startsWith(QStringLiteral("~/"))) {
        path = QString::fromStdString(pathToUtf8(platformServices().homeFolder())) + path.mid(1);
    }
    if (path.isEmpty() || QDir::isRelativePath(path)) {
        return {};
    }
    QFileInfo info(QDir::cleanPath(path));
    while (!info.isDir()) {
        const QString parent = info.absolutePath();
        if (parent == info.absoluteFilePath()) {
            return {};
        }
        info = QFileInfo(parent);
    }
    return info.absoluteFilePath();
}

}  // namespace

int browseForFolder(QWidget* owner, const QString& current, const QString& title, QString& chosen) {
    const LanguageTexts& texts = theLanguage();
    QFileDialog dialog(owner, title);
    dialog.setObjectName(QStringLiteral("folderChooser"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setLabelText(QFileDialog::Accept, QString::fromStdString(texts.OK));
    dialog.setLabelText(QFileDialog::Reject, QString::fromStdString(texts.Cancel));
    const QString start = startFolder(current);
    dialog.setDirectory(start.isEmpty()
                            ? QString::fromStdString(pathToUtf8(platformServices().homeFolder()))
                            : start);
    if (dialog.exec() != QDialog::Accepted) {
        return kFolderCancelled;
    }
    const QList<QUrl> urls = dialog.selectedUrls();
    if (urls.isEmpty() || !urls.front().isLocalFile()) {
        return kFolderWithoutPath;
    }
    chosen = QDir::toNativeSeparators(QDir::cleanPath(urls.front().toLocalFile()));
    return kFolderChosen;
}

}  // namespace harvix
