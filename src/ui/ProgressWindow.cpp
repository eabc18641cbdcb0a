#include "ui/ProgressWindow.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>

#include "app/LanguageTexts.h"
#include "app/Settings.h"
#include "ui/ProgramState.h"

namespace harvix {

namespace {

// Pixels of a dialog-unit size for the widget's font.
QSize dialogUnitsToPixels(const QWidget& widget, int widthDlu, int heightDlu) {
    const QFontMetrics metrics(widget.font());
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int baseX = (metrics.horizontalAdvance(alphabet) / 26 + 1) / 2;
    const int baseY = metrics.height();
    return {widthDlu * baseX / 4, heightDlu * baseY / 8};
}

QRect workArea() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry() : QRect();
}

}  // namespace

ProgressWindow::ProgressWindow() : ProgressWindow(theSettings()) {}

ProgressWindow::ProgressWindow(Settings& settings)
    : QDialog(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      settings_(settings) {
    setObjectName(QStringLiteral("progressWindow"));
    setWindowTitle(QStringLiteral("Harvix"));  // never shown; names the window to the system
    setAttribute(Qt::WA_ShowWithoutActivating);

    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Raised);
    label = new QLabel(frame);
    label->setObjectName(QStringLiteral("progressText"));
    label->setTextFormat(Qt::PlainText);
    progressBar = new QProgressBar(frame);
    progressBar->setObjectName(QStringLiteral("progressBar"));
    progressBar->setRange(0, 100);
    progressBar->setValue(0);
    progressBar->setAlignment(Qt::AlignCenter);
    progressBar->setTextVisible(true);
    cancelButton = new QPushButton(QStringLiteral("Cancel"), frame);
    cancelButton->setObjectName(QStringLiteral("progressCancel"));
    cancelButton->setFocusPolicy(Qt::NoFocus);  // Enter never presses it
    connect(cancelButton, &QPushButton::clicked, this, [this] {
        cancelButton->setEnabled(false);
        label->setText(cancellingText_);
        emit cancelRequested();
    });

    auto* row = new QHBoxLayout;
    row->addWidget(progressBar, 1);
    row->addWidget(cancelButton);
    auto* inside = new QVBoxLayout(frame);
    inside->setContentsMargins(8, 6, 8, 6);
    inside->addWidget(label);
    inside->addLayout(row);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(frame);

    setFixedSize(
        dialogUnitsToPixels(*this, kWidthDlu, kHeightDlu).expandedTo(layout->minimumSize()));

    // Centred on the work area once, at creation; later shows keep the place
    // unless the corner placement is chosen.
    const QRect work = workArea();
    if (work.isValid()) {
        move(work.center() - rect().center());
    }
}

void ProgressWindow::applyTransparency() {
    const int opacity = settings_.progressOpacity();
    setWindowOpacity(opacity / 255.0);
    // A faint or invisible strip on top must not swallow clicks for the whole
    // run: the window system passes them to the window below. A visible one
    // takes them, so that its Cancel can be pressed.
    const bool input = opacity >= kInputOpacity;
    setWindowFlag(Qt::WindowTransparentForInput, !input);
    cancelButton->setVisible(input);
}

bool ProgressWindow::takesInput() const {
    return !windowFlags().testFlag(Qt::WindowTransparentForInput);
}

void ProgressWindow::applyTexts(const LanguageTexts& texts) {
    countFormat_ = QString::fromStdString(texts.ProgressCount);
    cancellingText_ = QString::fromStdString(texts.ProgressCancelling);
    cancelButton->setText(QString::fromStdString(texts.Cancel));
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

void ProgressWindow::beginRun(const QString& browser) {
    browser_ = browser;
    progressBar->setValue(0);
    label->setText(browser);
    cancelButton->setEnabled(true);
}

void ProgressWindow::setCount(qulonglong done, qulonglong total) {
    if (!cancelButton->isEnabled()) {
        return;  // "Cancelling..." stays until the run ends
    }
    const QLocale locale;
    label->setText(countFormat_.arg(browser_, locale.toString(done), locale.toString(total)));
}

int ProgressWindow::position() const {
    return progressBar->value();
}

QString ProgressWindow::text() const {
    return label->text();
}

void ProgressWindow::keyPressEvent(QKeyEvent* event) {
    // Enter and Esc must not close the window: the run goes on.
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
    const QRect work = workArea();
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
