#include "controls/PictureMenu.h"

#include <QLinearGradient>
#include <QPainter>
#include <QWidgetAction>

#include "controls/Pictures.h"

namespace harvix {

namespace {

const char* const kCommandProperty = "harvixCommandId";

// The title line: the text in bold white on a blue band across the menu.
class MenuTitleLine : public QWidget {
public:
    MenuTitleLine(const QString& text, QWidget* parent) : QWidget(parent), text_(text) {
        QFont bold = font();
        bold.setBold(true);
        setFont(bold);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

    QSize sizeHint() const override {
        const QFontMetrics metrics(font());
        return {metrics.horizontalAdvance(text_) + 2 * kPadX, metrics.height() + 2 * kPadY};
    }

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QPainter painter(this);
        QLinearGradient band(rect().topLeft(), rect().topRight());
        band.setColorAt(0.0, QColor(29, 79, 145));
        band.setColorAt(1.0, QColor(120, 175, 235));
        painter.fillRect(rect().adjusted(2, 2, -2, 0), band);
        painter.setPen(Qt::white);
        painter.drawText(rect().adjusted(kPadX, 2, -kPadX, 0), Qt::AlignVCenter | Qt::AlignLeft,
                         text_);
    }

private:
    static constexpr int kPadX = 8;
    static constexpr int kPadY = 4;
    QString text_;
};

}  // namespace

PictureMenu::PictureMenu(QWidget* parent) : QMenu(parent) {
    connect(this, &QMenu::triggered, this, [this](QAction* action) {
        const int id = commandId(action);
        if (id >= 0) {
            emit commandChosen(id);
        }
    });
}

void PictureMenu::setTitleLine(const QString& text) {
    titleLine_ = text;
    if (titleAction_ != nullptr) {
        removeAction(titleAction_);
        delete titleAction_;
        titleAction_ = nullptr;
    }
    if (text.isEmpty()) {
        return;
    }
    titleAction_ = new QWidgetAction(this);
    titleAction_->setDefaultWidget(new MenuTitleLine(text, this));
    titleAction_->setEnabled(false);
    const QList<QAction*> existing = actions();
    insertAction(existing.isEmpty() ? nullptr : existing.front(), titleAction_);
}

QAction* PictureMenu::addCommand(int commandId, const QString& text, int pictureId,
                                 bool isDefault) {
    QAction* action = addAction(pictureIcon(pictureId), text);
    action->setProperty(kCommandProperty, commandId);
    action->setIconVisibleInMenu(true);
    if (isDefault) {
        QFont bold = action->font();
        bold.setBold(true);
        action->setFont(bold);
        setDefaultAction(action);
    }
    return action;
}

void PictureMenu::addCommand(QAction* action) {
    addAction(action);
    if (action->font().bold()) {
        setDefaultAction(action);
    }
}

void PictureMenu::setCommandId(QAction* action, int commandId) {
    action->setProperty(kCommandProperty, commandId);
}

QList<QAction*> PictureMenu::commands() const {
    QList<QAction*> commands;
    for (QAction* action : actions()) {
        if (commandId(action) >= 0) {
            commands.append(action);
        }
    }
    return commands;
}

int PictureMenu::commandId(const QAction* action) {
    if (action == nullptr) {
        return -1;
    }
    const QVariant id = action->property(kCommandProperty);
    return id.isValid() ? id.toInt() : -1;
}

}  // namespace harvix
