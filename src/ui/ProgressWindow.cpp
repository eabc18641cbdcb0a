#include "ui/ProgressWindow.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QProgressBar>
#include <QScreen>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>

#include "app/Settings.h"

namespace harvix {

namespace {

// Pixels of a dialog-unit size for the widget's font.
QSize DialogUnitsToPixels(const QWidget& widget, int widthDlu, int heightDlu) {
    const QFontMetrics metrics(widget.font());
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int baseX = (metrics.horizontalAdvance(alphabet) / 26 + 1) / 2;
    const int baseY = metrics.height();
    return {widthDlu * baseX / 4, heightDlu * baseY / 8};
}

QRect WorkArea() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry() : QRect();
}

}  // namespace

ProgressWindow::ProgressWindow() : ProgressWindow(theSettings()) {}

ProgressWindow::ProgressWindow(Settings& settings)
    // Transparent for input: a click on the window (faint, or invisible at
    // opacity 0) reaches the window below it.
    : QDialog(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowTransparentForInput),
      settings_(settings) {
    setObjectName(QStringLiteral("progressWindow"));
    setWindowTitle(QStringLiteral("Harvix"));  // never shown; names the window to the system
    setAttribute(Qt::WA_ShowWithoutActivating);

    progressBar = new QProgressBar(this);
    progressBar->setObjectName(QStringLiteral("progressBar"));
    progressBar->setRange(0, 100);
    progressBar->setValue(0);
    progressBar->setAlignment(Qt::AlignCenter);
    progressBar->setTextVisible(true);
    progressBar->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(progressBar);

    setFixedSize(DialogUnitsToPixels(*this, kWidthDlu, kHeightDlu));

    // Centred on the work area once, at creation; later shows keep the place
    // unless the corner placement is chosen.
    const QRect work = WorkArea();
    if (work.isValid()) {
        move(work.center() - rect().center());
    }
}

void ProgressWindow::applyTransparency() {
    setWindowOpacity(settings_.progressOpacity() / 255.0);
}

void ProgressWindow::setPosition(int percent) {
    const int value = std::clamp(percent, 0, 100);
    if (QThread::currentThread() == thread()) {
        progressBar->setValue(value);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, value] { progressBar->setValue(value); }, Qt::BlockingQueuedConnection);
}

void ProgressWindow::showWindow(bool show) {
    if (QThread::currentThread() == thread()) {
        setVisible(show);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, show] { setVisible(show); }, Qt::QueuedConnection);
}

int ProgressWindow::position() const {
    return progressBar->value();
}

void ProgressWindow::keyPressEvent(QKeyEvent* event) {
    // The window takes no input: Enter and Esc must not close it.
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void ProgressWindow::place() {
    if (settings_.NotifyProgressBarOnCenter) {
        return;
    }
    const QRect work = WorkArea();
    if (!work.isValid()) {
        return;
    }
    // Right edge on the work area's right edge, bottom edge on its bottom edge.
    move(work.x() + work.width() - width(), work.y() + work.height() - height());
}

void ProgressWindow::showEvent(QShowEvent* event) {
    place();
    QDialog::showEvent(event);
}

void ProgressWindow::hideEvent(QHideEvent* event) {
    place();
    QDialog::hideEvent(event);
}

}  // namespace harvix
