// A popup menu that shows a 16x16 picture beside each item and, when it has
// one, a title line above the items. Each command item carries a command id;
// the menu reports the chosen one through commandChosen.
#pragma once

#include <QMenu>
#include <QString>

class QWidgetAction;

class CPictureMenu : public QMenu {
    Q_OBJECT

public:
    static constexpr int kPictureSize = 16;

    explicit CPictureMenu(QWidget* parent = nullptr);

    // Sets (or, with an empty text, removes) the title line.
    void SetTitleLine(const QString& text);
    QString TitleLine() const { return titleLine_; }

    // Appends a command with the picture of `pictureId` (see Pictures.h).
    // The default item is drawn bold; a menu has at most one.
    QAction* AddCommand(int commandId, const QString& text, int pictureId, bool isDefault = false);
    QAction* AddSeparator();

    // The command items (no separators, no title line), in menu order.
    QList<QAction*> Commands() const;
    // The command id of an item, -1 for anything else.
    static int CommandId(const QAction* action);

signals:
    void commandChosen(int commandId);

private:
    QString titleLine_;
    QWidgetAction* titleAction_ = nullptr;
};
