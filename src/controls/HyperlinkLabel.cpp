#include "controls/HyperlinkLabel.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QMouseEvent>

CHyperlinkLabel::CHyperlinkLabel(QWidget* parent) : QLabel(parent) {
    plainFont_ = font();
    plainPalette_ = palette();
}

CHyperlinkLabel::CHyperlinkLabel(const QString& text, const QUrl& url, QWidget* parent)
    : CHyperlinkLabel(parent) {
    setText(text);
    SetUrl(url);
}

void CHyperlinkLabel::SetUrl(const QUrl& url) {
    url_ = url;
    ApplyLook();
}

void CHyperlinkLabel::ApplyLook() {
    if (IsLink()) {
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

void CHyperlinkLabel::Activate() {
    QDesktopServices::openUrl(url_);
    emit linkClicked(url_);
}

void CHyperlinkLabel::mousePressEvent(QMouseEvent* event) {
    pressed_ = IsLink() && event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void CHyperlinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    // A click counts only when the button goes up over the label.
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    if (click) {
        Activate();
        event->accept();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

void CHyperlinkLabel::keyPressEvent(QKeyEvent* event) {
    if (IsLink() && (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
                     event->key() == Qt::Key_Enter)) {
        Activate();
        event->accept();
        return;
    }
    QLabel::keyPressEvent(event);
}
