// A popup menu that shows a 16x16 picture beside each item and, when it has
// one, a title line above the items. Each command item carries a command id;
// the menu reports the chosen one through commandChosen.
#pragma once

#include <QMenu>
#include <QString>

class QWidgetAction;

namespace harvix {

class PictureMenu : public QMenu {
    Q_OBJECT

public:
    static constexpr int kPictureSize = 16;

    explicit PictureMenu(QWidget* parent = nullptr);

    // Sets (or, with an empty text, removes) the title line.
    void setTitleLine(const QString& text);
    QString titleLine() const { return titleLine_; }

    // Appends a command with the picture of `pictureId` (see Pictures.h).
    // The default item is drawn bold; a menu has at most one.
    QAction* addCommand(int commandId, const QString& text, int pictureId, bool isDefault = false);
    // Appends a command that exists elsewhere too (a shared action carrying
    // a command id); a bold action is the menu's default item.
    void addCommand(QAction* action);

    // The command items (no separators, no title line), in menu order.
    QList<QAction*> commands() const;
    // The command id of an item, -1 for anything else.
    static int commandId(const QAction* action);
    static void setCommandId(QAction* action, int commandId);

signals:
    void commandChosen(int commandId);

private:
    QString titleLine_;
    QWidgetAction* titleAction_ = nullptr;
};

}  // namespace harvix
