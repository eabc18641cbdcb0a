// Helpers for driving windows in the GUI tests.
#pragma once

#include <QApplication>
#include <QImage>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>

#include "app/LanguageTexts.h"

// Calls `act` with the first visible top-level widget of type T as soon as
// one appears (polling every 10 ms while the event loop runs, for at most
// five seconds). Used to answer modal dialogs and message boxes that a test
// has opened with exec().
template <typename T>
void WhenShown(std::function<void(T*)> act) {
    auto* poll = new QTimer;
    auto* tries = new int(0);
    QObject::connect(poll, &QTimer::timeout, [poll, tries, act] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* found = qobject_cast<T*>(widget); found != nullptr && found->isVisible()) {
                poll->stop();
                poll->deleteLater();
                delete tries;
                act(found);
                return;
            }
        }
        if (++*tries > 500) {
            poll->stop();
            poll->deleteLater();
            delete tries;
        }
    });
    poll->start(10);
}

// Keeps the process-wide language texts and restores them at the end.
class ScopedLanguage {
public:
    ScopedLanguage() : saved_(TheLanguage()) {}
    ~ScopedLanguage() { TheLanguage() = saved_; }
    ScopedLanguage(const ScopedLanguage&) = delete;
    ScopedLanguage& operator=(const ScopedLanguage&) = delete;

private:
    LanguageTexts saved_;
};

// True when the image has at least one pixel that is not fully transparent
// and differs from `background`.
bool HasDrawing(const QImage& image, QColor background = Qt::transparent);

// Saves a screenshot under the build's screenshot folder; returns its path.
QString SaveScreenshot(const QImage& image, const QString& name);

inline QString Q(const std::string& utf8) {
    return QString::fromStdString(utf8);
}
