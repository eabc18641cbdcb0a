#include "ui/NoticeBubble.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

namespace harvix {

namespace {

// Room between the bubble and the edges of the work area.
constexpr int kMargin = 12;

}  // namespace

NoticeBubble::NoticeBubble(QWidget* parent)
    : QFrame(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("noticeBubble"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFrameShape(QFrame::Box);
    setAutoFillBackground(true);
    setPalette(QPalette(QColor(255, 255, 225)));
    setCursor(Qt::PointingHandCursor);

    picture_ = new QLabel(this);
    title_ = new QLabel(this);
    QFont bold = title_->font();
    bold.setBold(true);
    title_->setFont(bold);
    text_ = new QLabel(this);
    text_->setWordWrap(true);
    text_->setTextFormat(Qt::PlainText);
    title_->setTextFormat(Qt::PlainText);

    auto* words = new QVBoxLayout;
    words->addWidget(title_);
    words->addWidget(text_);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 8, 10, 10);
    layout->addWidget(picture_, 0, Qt::AlignTop);
    layout->addLayout(words, 1);

    timer_ = new QTimer(this);
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, &QWidget::hide);
}

void NoticeBubble::showNotice(const QString& title, const QString& text, bool warning) {
    const QStyle::StandardPixmap icon =
        warning ? QStyle::SP_MessageBoxWarning : QStyle::SP_MessageBoxInformation;
    picture_->setPixmap(style()->standardIcon(icon).pixmap(32, 32));
    title_->setText(title);
    text_->setText(text);
    // The wrapped text decides the height at the bubble's width.
    layout()->activate();
    const int tall =
        layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(kWidth) : sizeHint().height();
    setFixedSize(kWidth, tall);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect work = screen->availableGeometry();
        move(work.right() - width() - kMargin + 1, work.bottom() - height() - kMargin + 1);
    }
    show();
    raise();
    timer_->start(kShownMs);
}

QString NoticeBubble::title() const {
    return title_->text();
}

QString NoticeBubble::text() const {
    return text_->text();
}

void NoticeBubble::mousePressEvent(QMouseEvent* event) {
    event->accept();
    hide();
    emit clicked();
}

}  // namespace harvix
