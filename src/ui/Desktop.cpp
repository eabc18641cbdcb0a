#include "ui/Desktop.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMenu>

#include "platform/Path.h"
#include "ui/AboutDialog.h"
#include "ui/FilterItemDialog.h"
#include "ui/MainWindow.h"
#include "ui/OptionsDialog.h"

namespace harvix {
namespace {

constexpr const char* kFilterFileTypes = "Filter Files (*.flt);;All Files (*)";

std::optional<std::string> chooseFile(QWidget* parent, const std::filesystem::path& folder,
                                      QFileDialog::AcceptMode mode) {
    QFileDialog dialog(parent, QString(), QString::fromStdString(pathToUtf8(folder)),
                       QString::fromLatin1(kFilterFileTypes));
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("flt"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().front().toStdString();
}

class DefaultDesktop final : public Desktop {
public:
    std::optional<std::string> chooseOpenFile(QWidget* parent,
                                              const std::filesystem::path& folder) override {
        return chooseFile(parent, folder, QFileDialog::AcceptOpen);
    }

    std::optional<std::string> chooseSaveFile(QWidget* parent,
                                              const std::filesystem::path& folder) override {
        return chooseFile(parent, folder, QFileDialog::AcceptSave);
    }

    bool editFilterItem(QWidget* parent, const std::string& caption, FilterItem& item,
                        const ItemPlace& place) override {
        FilterItemDialog dialog(QString::fromStdString(caption), &item, parent, place);
        return dialog.exec() == QDialog::Accepted;
    }

    bool runOptions(QWidget* parent) override {
        OptionsDialog dialog(parent);
        return dialog.exec() == QDialog::Accepted;
    }

    void showAbout(QWidget* parent) override {
        AboutDialog dialog(siteAddress().toString(), parent);
        dialog.exec();
    }

    void openUrl(const QUrl& url) override {
        QDesktopServices::openUrl(url);  // failures are not reported
    }

    QAction* popupMenu(QMenu& menu, const QPoint& globalPos) override {
        return menu.exec(globalPos);
    }
};

}  // namespace

std::unique_ptr<Desktop> Desktop::makeDefault() {
    return std::make_unique<DefaultDesktop>();
}

}  // namespace harvix
