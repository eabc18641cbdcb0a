// A push button that shows a 32x32 picture and no caption: one picture
// normally and another while the pointer is over it, with the hand cursor.
#pragma once

#include <QAbstractButton>
#include <QIcon>

class CImageButton : public QAbstractButton {
    Q_OBJECT

public:
    static constexpr int kImageSize = 32;

    explicit CImageButton(QWidget* parent = nullptr);

    // The picture shown normally and the one shown while hovered.
    void SetImages(const QIcon& normal, const QIcon& hover);
    const QIcon& NormalImage() const { return normal_; }
    const QIcon& HoverImage() const { return hover_; }
    // True while the pointer is over the button.
    bool IsHovered() const { return hovered_; }

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
};
