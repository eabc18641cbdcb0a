// What the main window needs from the desktop and from other windows: file
// dialogs, the filter item editor, the options dialog, the about box, the
// shell's open action and popup menus. The default shows the real thing;
// tests put in their own so that nothing modal ever waits for a person.
// Message boxes go through the notifier (platform/Notifier.h).
#pragma once

#include <QUrl>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "filter/FilterSet.h"
#include "ui/FilterItemDialog.h"

class QAction;
class QMenu;
class QPoint;
class QWidget;

namespace harvix {

class Desktop {
public:
    virtual ~Desktop() = default;
    // A file to open or to save as (overwrite asked), starting in `folder`;
    // nothing when the user cancelled.
    virtual std::optional<std::string> chooseOpenFile(QWidget* parent,
                                                      const std::filesystem::path& folder) = 0;
    virtual std::optional<std::string> chooseSaveFile(QWidget* parent,
                                                      const std::filesystem::path& folder) = 0;
    // The filter item editor on `item`, titled `caption`, the item standing
    // at `place`; true on OK (the item was written), false on Cancel (the
    // item is untouched).
    virtual bool editFilterItem(QWidget* parent, const std::string& caption, FilterItem& item,
                                const ItemPlace& place) = 0;
    // The options dialog; true on OK.
    virtual bool runOptions(QWidget* parent) = 0;
    virtual void showAbout(QWidget* parent) = 0;
    // Opens a file, folder or web address with the desktop's default action.
    virtual void openUrl(const QUrl& url) = 0;
    // Shows `menu` at the screen point and returns the chosen action, or null.
    virtual QAction* popupMenu(QMenu& menu, const QPoint& globalPos) = 0;

    // The real dialogs and the desktop's open action.
    static std::unique_ptr<Desktop> makeDefault();
};

}  // namespace harvix
