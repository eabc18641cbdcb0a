// The tray program's notifier: the core's messages and questions appear as
// message boxes on the UI thread. A call from another thread waits until the
// user has answered.
#pragma once

#include <QObject>
#include <QPointer>

#include "ui/Notifier.h"

class QWidget;

namespace harvix {

class QtNotifier : public QObject, public INotifier {
    Q_OBJECT

public:
    // Create on the UI thread; the boxes open on the thread the object lives in.
    explicit QtNotifier(QObject* parent = nullptr);

    // Boxes are centred on this window when it is shown (may be null).
    void setParentWindow(QWidget* window) { parentWindow_ = window; }

    MessageResult show(const std::string& caption, const std::string& text, MessageIcon icon,
                       MessageButtons buttons) override;

private:
    MessageResult showHere(const std::string& caption, const std::string& text, MessageIcon icon,
                           MessageButtons buttons);

    QPointer<QWidget> parentWindow_;
};

}  // namespace harvix
