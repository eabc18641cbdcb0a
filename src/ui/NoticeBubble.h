// The notice as a window of the program's own, for where the tray cannot
// show a message (no notification area: the main window stands in for the
// icon): a small borderless window in the bottom-right corner of the work
// area with a picture, a bold title and the text. It shows without taking
// the focus, goes after a while or on a click, and a click asks for the
// notice's folder.
#pragma once

#include <QFrame>

class QLabel;
class QTimer;

namespace harvix {

class NoticeBubble : public QFrame {
    Q_OBJECT

public:
    static constexpr int kShownMs = 15000;
    static constexpr int kWidth = 420;

    explicit NoticeBubble(QWidget* parent = nullptr);

    // Shows (or replaces) the notice; `warning` picks the warning picture.
    void showNotice(const QString& title, const QString& text, bool warning);

    QString title() const;
    QString text() const;

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QLabel* picture_ = nullptr;
    QLabel* title_ = nullptr;
    QLabel* text_ = nullptr;
    QTimer* timer_ = nullptr;
};

}  // namespace harvix
