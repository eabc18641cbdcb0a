#include "controls/HyperlinkLabel.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QMouseEvent>

namespace harvix {

HyperlinkLabel::HyperlinkLabel(QWidget* parent) : QLabel(parent) {
    plainFont_ = font();
    plainPalette_ = palette();
}

HyperlinkLabel::HyperlinkLabel(const QString& text, const QUrl& url, QWidget* parent)
    : HyperlinkLabel(parent) {
    setText(text);
    setUrl(url);
}

void HyperlinkLabel::setUrl(const QUrl& url) {
    url_ = url;
    applyLook();
}

void HyperlinkLabel::applyLook() {
    if (isLink()) {
        QFont linkFont = plainFont_;
        linkFont.setUnderline(true);
        setFont(linkFont);
        QPalette linkPalette = plainPalette_;
        linkPalette.setColor(QPalette::WindowText, QColor(0, 0, 255));
        setPalette(linkPalette);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setToolTip(url_.toString());
    } else {
        setFont(plainFont_);
        setPalette(plainPalette_);
        unsetCursor();
        setFocusPolicy(Qt::NoFocus);
        setToolTip(QString());
    }
}

void HyperlinkLabel::activate() {
    QDesktopServices::openUrl(url_);
    emit linkClicked(url_);
}

void HyperlinkLabel::mousePressEvent(QMouseEvent* event) {
    pressed_ = isLink() && event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void HyperlinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    // A click counts only when the button goes up over the label.
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    if (click) {
        activate();
        event->accept();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

void HyperlinkLabel::keyPressEvent(QKeyEvent* event) {
    if (isLink() && (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
                     event->key() == Qt::Key_Enter)) {
        activate();
        event->accept();
        return;
    }
    QLabel::keyPressEvent(event);
}

}  // namespace harvix
