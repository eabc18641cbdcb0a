#include "ui/QtNotifier.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QWidget>

#include "app/LanguageTexts.h"
#include "ui/ProgramState.h"

namespace harvix {

namespace {

QMessageBox::Icon boxIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Error:
            return QMessageBox::Critical;
        case MessageIcon::Warning:
            return QMessageBox::Warning;
        case MessageIcon::Question:
            return QMessageBox::Question;
        case MessageIcon::Information:
            return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

QtNotifier::QtNotifier(QObject* parent) : QObject(parent) {}

MessageResult QtNotifier::show(const std::string& caption, const std::string& text,
                               MessageIcon icon, MessageButtons buttons) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QCoreApplication::closingDown()) {
        // No UI thread to ask any more.
        StderrNotifier fallback;
        return fallback.show(caption, text, icon, buttons);
    }
    if (QThread::currentThread() == thread()) {
        return showHere(caption, text, icon, buttons);
    }
    MessageResult result = MessageResult::Cancel;
    QMetaObject::invokeMethod(
        this, [&] { result = showHere(caption, text, icon, buttons); },
        Qt::BlockingQueuedConnection);
    return result;
}

MessageResult QtNotifier::showHere(const std::string& caption, const std::string& text,
                                   MessageIcon icon, MessageButtons buttons) {
    const LanguageTexts& texts = theLanguage();
    QWidget* parent = parentWindow_ && parentWindow_->isVisible() ? parentWindow_.data() : nullptr;
    QMessageBox box(boxIcon(icon), QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::NoButton, parent);
    box.setObjectName(QStringLiteral("harvixMessageBox"));
    switch (buttons) {
        case MessageButtons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            break;
        case MessageButtons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
        case MessageButtons::YesNoCancel:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            break;
    }
    if (QAbstractButton* ok = box.button(QMessageBox::Ok)) {
        ok->setText(QString::fromStdString(texts.OK));
    }
    if (QAbstractButton* cancel = box.button(QMessageBox::Cancel)) {
        cancel->setText(QString::fromStdString(texts.Cancel));
    }
    // Closing the box without a button counts as the most cautious answer.
    box.setEscapeButton(buttons == MessageButtons::Ok      ? QMessageBox::Ok
                        : buttons == MessageButtons::YesNo ? QMessageBox::No
                                                           : QMessageBox::Cancel);
    switch (box.exec()) {
        case QMessageBox::Ok:
            return MessageResult::Ok;
        case QMessageBox::Yes:
            return MessageResult::Yes;
        case QMessageBox::No:
            return MessageResult::No;
        default:
            return buttons == MessageButtons::Ok      ? MessageResult::Ok
                   : buttons == MessageButtons::YesNo ? MessageResult::No
                                                      : MessageResult::Cancel;
    }
}

}  // namespace harvix
