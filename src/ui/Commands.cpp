#include "ui/Commands.h"

#include <QAction>
#include <QKeySequence>

#include "app/LanguageTexts.h"
#include "controls/PictureMenu.h"
#include "engine/Browsers.h"
#include "ui/ProgramState.h"

namespace harvix {
namespace {

struct CommandSpec {
    Command command;
    int picture;                          // the menu picture; 0: the command's button image
    std::string LanguageTexts::*text;     // in menus
    std::string LanguageTexts::*toolTip;  // on the button
    QList<QKeySequence> keys;
};

const std::vector<CommandSpec>& commandSpecs() {
    using LT = LanguageTexts;
    static const std::vector<CommandSpec> specs = {
        {Command::New, 0, &LT::New, &LT::New, {QKeySequence(Qt::CTRL | Qt::Key_N)}},
        {Command::Open, 0, &LT::Open, &LT::Open, {QKeySequence(Qt::CTRL | Qt::Key_O)}},
        {Command::Save, 0, &LT::Save, &LT::Save, {QKeySequence(Qt::CTRL | Qt::Key_S)}},
        {Command::SaveAs,
         0,
         &LT::SaveAs,
         &LT::SaveAs,
         {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)}},
        {Command::Add, kPictureMenuAdd, &LT::Add, &LT::Add, {QKeySequence(Qt::Key_Insert)}},
        {Command::Delete,
         kPictureMenuDelete,
         &LT::Delete,
         &LT::Delete,
         {QKeySequence(Qt::Key_Delete)}},
        {Command::Edit,
         kPictureMenuEdit,
         &LT::Edit,
         &LT::Edit,
         {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)}},
        {Command::Up, kPictureMenuUp, &LT::Up, &LT::Up, {QKeySequence(Qt::CTRL | Qt::Key_Up)}},
        {Command::Down,
         kPictureMenuDown,
         &LT::Down,
         &LT::Down,
         {QKeySequence(Qt::CTRL | Qt::Key_Down)}},
        {Command::Options, kPictureMenuOptions, &LT::TrayMenuOptions, &LT::Options, {}},
        {Command::Help, kPictureMenuHelp, &LT::TrayMenuHelp, &LT::Help, {QKeySequence(Qt::Key_F1)}},
        {Command::OpenFolder, kPictureMenuOpenFolder, &LT::OpenFolder, &LT::OpenFolder, {}},
        {Command::CheckAll, kPictureMenuCheckAll, &LT::CheckAll, &LT::CheckAll, {}},
        {Command::UncheckAll, kPictureMenuUncheckAll, &LT::UncheckAll, &LT::UncheckAll, {}},
        {Command::Exit, kPictureMenuExit, &LT::TrayMenuExit, &LT::TrayMenuExit, {}},
        {Command::About, kPictureMenuAbout, &LT::TrayMenuAbout, &LT::TrayMenuAbout, {}},
        {Command::VisitSite, kPictureMenuVisit, &LT::TrayMenuVisit, &LT::TrayMenuVisit, {}},
        {Command::DownloadLastVersion,
         kPictureMenuLastVersion,
         &LT::TrayMenuLastVersion,
         &LT::TrayMenuLastVersion,
         {}},
        {Command::Filters, kPictureMenuFilters, &LT::TrayMenuFilters, &LT::TrayMenuFilters, {}},
        {Command::BrowseCache,
         kPictureMenuOpenFolder,
         &LT::BrowseCache,
         &LT::BrowseCache,
         {QKeySequence(Qt::CTRL | Qt::Key_B)}},
    };
    return specs;
}

// The comb command's text of a browser: its row's language text, else its
// display name.
std::string combText(const LanguageTexts& texts, const BrowserRow& row) {
    const std::string& text = texts.byKey(row.combTextKey);
    return text.empty() ? texts.browserName(row) : text;
}

QString qtText(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

}  // namespace

ButtonImage CommandSet::buttonImage(Command command) {
    switch (command) {
        case Command::New:
            return ButtonImage::New;
        case Command::Open:
            return ButtonImage::Open;
        case Command::Save:
            return ButtonImage::Save;
        case Command::SaveAs:
            return ButtonImage::SaveAs;
        case Command::Add:
            return ButtonImage::Add;
        case Command::Delete:
            return ButtonImage::Delete;
        case Command::Edit:
            return ButtonImage::Edit;
        case Command::Up:
            return ButtonImage::Up;
        case Command::Down:
            return ButtonImage::Down;
        case Command::Options:
            return ButtonImage::Options;
        default:
            return ButtonImage::Help;
    }
}

CommandSet::CommandSet(QObject* parent) : QObject(parent) {
    for (const CommandSpec& spec : commandSpecs()) {
        auto* action = new QAction(this);
        action->setIcon(spec.picture != 0 ? pictureIcon(spec.picture)
                                          : buttonImageIcon(buttonImage(spec.command), false));
        action->setIconVisibleInMenu(true);
        action->setShortcuts(spec.keys);
        // The main window takes the keys wherever its focus is; menus show
        // no key names, as they never did.
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        action->setShortcutVisibleInContextMenu(false);
        PictureMenu::setCommandId(action, static_cast<int>(spec.command));
        if (spec.command == Command::Filters) {
            QFont bold = action->font();
            bold.setBold(true);
            action->setFont(bold);
        }
        actions_.emplace_back(spec.command, action);
    }
    const std::vector<BrowserRow>& table = browserTable();
    for (std::size_t kind = 0; kind < table.size(); ++kind) {
        const BrowserRow& row = table[kind];
        if (row.icon.empty()) {
            auto* action = new QAction(this);
            PictureMenu::setCommandId(action, kCombCommandBase + static_cast<int>(kind));
            otherCombs_.push_back(CombCommand{&row, QIcon(), QIcon(), action});
            continue;
        }
        bool shared = false;
        for (const CombCommand& earlier : combs_) {
            shared = shared || earlier.browser->icon == row.icon;
        }
        if (shared) {
            continue;
        }
        auto* action = new QAction(this);
        const QIcon image = namedPictureIcon(row.icon);
        action->setIcon(image);
        PictureMenu::setCommandId(action, kCombCommandBase + static_cast<int>(kind));
        combs_.push_back(CombCommand{&row, image, namedPictureIcon(row.hoverIcon), action});
    }
    if (!otherCombs_.empty()) {
        otherBrowsers_ = new QAction(this);
        otherBrowsers_->setIcon(namedPictureIcon("button-comb-other"));
    }
    applyTexts(theLanguage());
}

QAction* CommandSet::action(Command command) const {
    for (const auto& [which, action] : actions_) {
        if (which == command) {
            return action;
        }
    }
    return nullptr;
}

QAction* CommandSet::combAction(const BrowserRow& browser) const {
    for (const CombCommand& comb : combs_) {
        if (comb.browser == &browser) {
            return comb.action;
        }
    }
    return nullptr;
}

QList<QAction*> CommandSet::all() const {
    QList<QAction*> list;
    for (const auto& entry : actions_) {
        list.append(entry.second);
    }
    for (const CombCommand& comb : combs_) {
        list.append(comb.action);
    }
    for (const CombCommand& comb : otherCombs_) {
        list.append(comb.action);
    }
    return list;
}

QAction* CommandSet::byId(int id) const {
    for (QAction* action : all()) {
        if (PictureMenu::commandId(action) == id) {
            return action;
        }
    }
    return nullptr;
}

void CommandSet::applyTexts(const LanguageTexts& texts) {
    const std::vector<CommandSpec>& specs = commandSpecs();
    for (std::size_t i = 0; i < specs.size(); ++i) {
        actions_[i].second->setText(qtText(texts.*specs[i].text));
        actions_[i].second->setToolTip(qtText(texts.*specs[i].toolTip));
    }
    for (const std::vector<CombCommand>* list : {&combs_, &otherCombs_}) {
        for (const CombCommand& comb : *list) {
            const QString text = qtText(combText(texts, *comb.browser));
            comb.action->setText(text);
            comb.action->setToolTip(text);
        }
    }
    if (otherBrowsers_ != nullptr) {
        otherBrowsers_->setText(qtText(texts.CombOtherBrowsers));
        otherBrowsers_->setToolTip(qtText(texts.CombOtherBrowsers));
    }
}

void CommandSet::setCombEnabled(bool enabled) {
    for (const std::vector<CombCommand>* list : {&combs_, &otherCombs_}) {
        for (const CombCommand& comb : *list) {
            comb.action->setEnabled(enabled);
        }
    }
    if (otherBrowsers_ != nullptr) {
        otherBrowsers_->setEnabled(enabled);
    }
}

}  // namespace harvix
