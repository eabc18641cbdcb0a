// A static label that can act as a hyperlink: with an address set it is
// drawn blue and underlined, shows the hand cursor and opens the address
// with the desktop's default handler when clicked. Without an address it is
// an ordinary label.
#pragma once

#include <QLabel>
#include <QUrl>

namespace harvix {

class HyperlinkLabel : public QLabel {
    Q_OBJECT

public:
    explicit HyperlinkLabel(QWidget* parent = nullptr);
    HyperlinkLabel(const QString& text, const QUrl& url, QWidget* parent = nullptr);

    // An empty address turns the label back into plain text.
    void setUrl(const QUrl& url);
    const QUrl& url() const { return url_; }
    bool isLink() const { return !url_.isEmpty(); }

signals:
    // Emitted for a click on a link, after the address was handed to the desktop.
    void linkClicked(const QUrl& url);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void activate();
    void applyLook();

    QUrl url_;
    QFont plainFont_;
    QPalette plainPalette_;
    bool pressed_ = false;
};

}  // namespace harvix
