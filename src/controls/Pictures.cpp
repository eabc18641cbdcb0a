#include "controls/Pictures.h"

#include <QFile>
#include <mutex>

// The pictures are compiled into a static library; nothing else refers to
// that object file, so the resources are registered explicitly once.
static void registerPictures() {
    static std::once_flag once;
    std::call_once(once, [] { Q_INIT_RESOURCE(harvix); });
}

namespace harvix {
namespace {

struct NamedPicture {
    int id;
    const char* name;
};

constexpr NamedPicture kPictures[] = {
    {kPictureAppIcon, "app"},
    {kPictureMenuExit, "menu-exit"},
    {kPictureMenuAbout, "menu-about"},
    {kPictureMenuOptions, "menu-options"},
    {kPictureMenuFilters, "menu-filters"},
    {184, "tray-frame-0"},
    {185, "tray-frame-1"},
    {186, "tray-frame-2"},
    {187, "tray-frame-3"},
    {188, "tray-frame-4"},
    {kPictureMenuVisit, "menu-visit"},
    {kPictureMenuLastVersion, "menu-last-version"},
    {kPictureMenuHelp, "menu-help"},
    {kPictureMenuAdd, "menu-add"},
    {kPictureMenuDelete, "menu-delete"},
    {kPictureMenuEdit, "menu-edit"},
    {kPictureMenuCheckAll, "menu-check-all"},
    {kPictureMenuUncheckAll, "menu-uncheck-all"},
    {kPictureMenuOpenFolder, "menu-open-folder"},
    {kPictureMenuUp, "menu-up"},
    {kPictureMenuDown, "menu-down"},
};

const char* buttonName(ButtonImage image) {
    switch (image) {
        case ButtonImage::New:
            return "new";
        case ButtonImage::Open:
            return "open";
        case ButtonImage::Save:
            return "save";
        case ButtonImage::SaveAs:
            return "save-as";
        case ButtonImage::Add:
            return "add";
        case ButtonImage::Delete:
            return "delete";
        case ButtonImage::Edit:
            return "edit";
        case ButtonImage::Up:
            return "up";
        case ButtonImage::Down:
            return "down";
        case ButtonImage::Options:
            return "options";
        case ButtonImage::Help:
            return "help";
        case ButtonImage::CombIE:
            return "comb-ie";
        case ButtonImage::CombMozilla:
            return "comb-mozilla";
    }
    return "";
}

QIcon iconFromPath(const QString& path) {
    if (path.isEmpty() || !QFile::exists(path)) {
        return {};
    }
    return QIcon(path);
}

}  // namespace

QString picturePath(int id) {
    registerPictures();
    for (const NamedPicture& picture : kPictures) {
        if (picture.id == id) {
            return QStringLiteral(":/icons/%1.svg").arg(QLatin1String(picture.name));
        }
    }
    return {};
}

QIcon pictureIcon(int id) {
    return iconFromPath(picturePath(id));
}

QString buttonImagePath(ButtonImage image, bool hover) {
    registerPictures();
    return QStringLiteral(":/icons/button-%1%2.svg")
        .arg(QLatin1String(buttonName(image)), hover ? QStringLiteral("-hover") : QString());
}

QIcon buttonImageIcon(ButtonImage image, bool hover) {
    return iconFromPath(buttonImagePath(image, hover));
}

QIcon namedPictureIcon(const std::string& name) {
    registerPictures();
    return iconFromPath(QStringLiteral(":/icons/%1.svg").arg(QString::fromStdString(name)));
}

}  // namespace harvix
