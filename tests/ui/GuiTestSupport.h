// Helpers for driving windows in the GUI tests.
#pragma once

#include <QApplication>
#include <QDesktopServices>
#include <QImage>
#include <QList>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "app/LanguageTexts.h"

// Calls `act` with the first visible top-level widget of type T as soon as
// one appears (polling every 10 ms while the event loop runs). Used to answer
// modal dialogs and message boxes that a test opens with exec(). The watch
// ends after the first call or when the returned object goes, whichever
// comes first, so a watch that found nothing never outlives the test's
// variables.
class Watch {
public:
    Watch() = default;
    Watch(Watch&&) = default;
    Watch& operator=(Watch&&) = default;
    explicit Watch(std::unique_ptr<QTimer> timer) : timer_(std::move(timer)) {}
    // True once the watched widget was found and handled.
    bool Done() const { return !timer_ || !timer_->isActive(); }

private:
    std::unique_ptr<QTimer> timer_;
};

template <typename T>
[[nodiscard]] Watch WhenShown(std::function<void(T*)> act) {
    auto timer = std::make_unique<QTimer>();
    QTimer* raw = timer.get();
    QObject::connect(raw, &QTimer::timeout, raw, [raw, act] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* found = qobject_cast<T*>(widget); found != nullptr && found->isVisible()) {
                raw->stop();
                act(found);
                return;
            }
        }
    });
    raw->start(10);
    return Watch(std::move(timer));
}

// Keeps the process-wide language texts and restores them at the end.
class ScopedLanguage {
public:
    ScopedLanguage() : saved_(harvix::theLanguage()) {}
    ~ScopedLanguage() { harvix::theLanguage() = saved_; }
    ScopedLanguage(const ScopedLanguage&) = delete;
    ScopedLanguage& operator=(const ScopedLanguage&) = delete;

private:
    harvix::LanguageTexts saved_;
};

// True when the image has at least one pixel that is not fully transparent
// and differs from `background`.
bool HasDrawing(const QImage& image, QColor background = Qt::transparent);

// Saves a screenshot under the build's screenshot folder; returns its path.
QString SaveScreenshot(const QImage& image, const QString& name);

// Records the addresses that the desktop was asked to open for one scheme,
// instead of opening them.
class UrlRecorder : public QObject {
    Q_OBJECT

public:
    explicit UrlRecorder(const QString& scheme) : scheme_(scheme) {
        QDesktopServices::setUrlHandler(scheme_, this, "Open");
    }
    ~UrlRecorder() override { QDesktopServices::unsetUrlHandler(scheme_); }
    QList<QUrl> opened;

public slots:
    void Open(const QUrl& url) { opened.append(url); }

private:
    QString scheme_;
};

inline QString Q(const std::string& utf8) {
    return QString::fromStdString(utf8);
}
