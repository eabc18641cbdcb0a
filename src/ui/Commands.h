// The user's commands of the tray program, one QAction each: its picture,
// its text in the user's language, its key and whether it can run now. The
// main window's buttons, the filter list's menu and the tray menu all show
// the same actions, so a command looks and behaves alike wherever it is
// chosen, and disabling it disables it everywhere.
#pragma once

#include <QIcon>
#include <QList>
#include <QObject>
#include <vector>

#include "controls/Pictures.h"
#include "engine/Browsers.h"

class QAction;

namespace harvix {

struct LanguageTexts;

// The commands. The value is the id that the menus carry
// (PictureMenu::commandId).
enum class Command : int {
    New = 1023,
    Open = 1002,
    Save = 1003,
    SaveAs = 1009,
    Add = 1004,
    Delete = 1005,
    Edit = 1006,
    Up = 1007,
    Down = 1008,
    Options = 1010,
    Help = 1011,
    OpenFolder = 4358,
    CheckAll = 4359,
    UncheckAll = 4360,
    Exit = 4097,
    About = 4099,
    VisitSite = 4100,
    DownloadLastVersion = 4101,
    Filters = 4104,
    BrowseCache = 4105,
};

// One comb command per comb button of the browser table: rows that share
// a button picture (browsers reading one cache) share the command of the
// first of them.
struct CombCommand {
    const BrowserRow* browser;
    QIcon image;
    QIcon hoverImage;
    QAction* action;
};

class CommandSet : public QObject {
    Q_OBJECT

public:
    // The ids of the comb commands: this plus the browser's place in the table.
    static constexpr int kCombCommandBase = 1026;

    explicit CommandSet(QObject* parent = nullptr);

    QAction* action(Command command) const;
    // The comb command of a browser kind; null when it has none.
    QAction* combAction(const BrowserRow& browser) const;
    const std::vector<CombCommand>& combCommands() const { return combs_; }
    // The comb commands of the rows without a button picture of their own;
    // the main window offers them in the menu of otherBrowsers().
    const std::vector<CombCommand>& otherCombCommands() const { return otherCombs_; }
    // The button that opens that menu; null when every row has a button.
    QAction* otherBrowsers() const { return otherBrowsers_; }
    // Every action, the comb commands included.
    QList<QAction*> all() const;
    // The action carrying a menu's command id; null when none does.
    QAction* byId(int id) const;

    // Texts and tooltips in the user's language.
    void applyTexts(const LanguageTexts& texts);
    // Turns off (and back on) the commands that start a comb run, while a
    // manual run goes on.
    void setCombEnabled(bool enabled);

    // The button image of a command with a button on the main window.
    static ButtonImage buttonImage(Command command);

private:
    std::vector<std::pair<Command, QAction*>> actions_;
    std::vector<CombCommand> combs_;
    std::vector<CombCommand> otherCombs_;
    QAction* otherBrowsers_ = nullptr;
};

}  // namespace harvix
