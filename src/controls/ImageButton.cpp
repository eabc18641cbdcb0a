#include "controls/ImageButton.h"

#include <QAction>
#include <QEnterEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace harvix {

ImageButton::ImageButton(QWidget* parent) : QAbstractButton(parent) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
}

void ImageButton::setImages(const QIcon& normal, const QIcon& hover) {
    normal_ = normal;
    hover_ = hover.isNull() ? normal : hover;
    update();
}

void ImageButton::setAction(QAction* action) {
    if (action_ != nullptr) {
        disconnect(action_, nullptr, this, nullptr);
        disconnect(this, nullptr, action_, nullptr);
    }
    action_ = action;
    if (action == nullptr) {
        return;
    }
    setEnabled(action->isEnabled());
    connect(this, &QAbstractButton::clicked, action, &QAction::trigger);
    connect(action, &QAction::changed, this, [this] {
        if (action_ != nullptr) {
            setEnabled(action_->isEnabled());
        }
    });
}

QSize ImageButton::sizeHint() const {
    return {kImageSize + 12, kImageSize + 8};
}

QSize ImageButton::minimumSizeHint() const {
    return {kImageSize, kImageSize};
}

void ImageButton::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const QIcon& image = (hovered_ && isEnabled()) ? hover_ : normal_;
    const QIcon::Mode mode = isEnabled() ? QIcon::Normal : QIcon::Disabled;
    const QSize size(kImageSize, kImageSize);
    QPoint topLeft((width() - kImageSize) / 2, (height() - kImageSize) / 2);
    if (isDown()) {
        topLeft += QPoint(1, 1);  // a pressed button sinks by one pixel
    }
    image.paint(&painter, QRect(topLeft, size), Qt::AlignCenter, mode);
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect().adjusted(1, 1, -1, -1);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

void ImageButton::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void ImageButton::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void ImageButton::changeEvent(QEvent* event) {
    // A button hidden or disabled under the pointer gets no leave event.
    if (event->type() == QEvent::EnabledChange && !isEnabled()) {
        hovered_ = false;
    }
    QAbstractButton::changeEvent(event);
}

}  // namespace harvix
