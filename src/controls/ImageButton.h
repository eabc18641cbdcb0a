// A push button that shows a 32x32 picture and no caption: one picture
// normally and another while the pointer is over it, with the hand cursor.
#pragma once

#include <QAbstractButton>
#include <QIcon>
#include <QPointer>

class QAction;

namespace harvix {

class ImageButton : public QAbstractButton {
    Q_OBJECT

public:
    static constexpr int kImageSize = 32;

    explicit ImageButton(QWidget* parent = nullptr);

    // The picture shown normally and the one shown while hovered.
    void setImages(const QIcon& normal, const QIcon& hover);
    const QIcon& normalImage() const { return normal_; }
    const QIcon& hoverImage() const { return hover_; }
    // True while the pointer is over the button.
    bool isHovered() const { return hovered_; }

    // Makes the button show `action`: a click triggers it, and the button is
    // enabled and disabled with it.
    void setAction(QAction* action);
    QAction* action() const { return action_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QIcon normal_;
    QIcon hover_;
    bool hovered_ = false;
    QPointer<QAction> action_;
};

}  // namespace harvix
