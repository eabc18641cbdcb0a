#include "ui/TrayIcon.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QThread>
#include <QTimerEvent>
#include <QWidget>
#include <cmath>

#include "controls/PictureMenu.h"
#include "controls/Pictures.h"
#include "ui/AboutDialog.h"
#include "ui/Commands.h"
#include "ui/NoticeBubble.h"

namespace harvix {

namespace {

// How often the icon asks whether a notification area has appeared.
constexpr int kAvailabilityPeriodMs = 1000;

std::function<bool()>& availabilityProbe() {
    static std::function<bool()> probe;
    return probe;
}

bool trayHostPresent() {
    const std::function<bool()>& probe = availabilityProbe();
    return probe ? probe() : QSystemTrayIcon::isSystemTrayAvailable();
}

const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");
const QString kNotificationsPath = QStringLiteral("/org/freedesktop/Notifications");
// How long the program waits for the notification service to answer.
constexpr int kNotifyTimeoutMs = 1000;

TrayIcon::NotificationService& notificationServiceHook() {
    static TrayIcon::NotificationService service;
    return service;
}

// A notification of the desktop's notification service on the session bus
// (a click on it comes back as its "default" action); 0 without one.
uint desktopNotify(const QString& title, const QString& text, bool warning, bool clickable) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return 0;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kNotifications, kNotificationsPath,
                                                       kNotifications, QStringLiteral("Notify"));
    const QStringList actions =
        clickable ? QStringList{QStringLiteral("default"), QString()} : QStringList{};
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(warning ? 2 : 1));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("harvix"));
    call << QStringLiteral("Harvix") << 0u << QStringLiteral("harvix") << title << text << actions
         << hints << NoticeBubble::kShownMs;
    const QDBusReply<uint> reply = bus.call(call, QDBus::Block, kNotifyTimeoutMs);
    return reply.isValid() ? reply.value() : 0;
}

}  // namespace

void TrayIcon::setAvailabilityProbe(std::function<bool()> probe) {
    availabilityProbe() = std::move(probe);
}

void TrayIcon::setNotificationService(NotificationService service) {
    notificationServiceHook() = std::move(service);
}

TrayIcon::TrayIcon(QObject* parent) : QObject(parent) {}

void TrayIcon::listenToNotifications() {
    if (listening_) {
        return;
    }
    listening_ = true;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        bus.connect(kNotifications, kNotificationsPath, kNotifications,
                    QStringLiteral("ActionInvoked"), this,
                    SLOT(onNotificationAction(uint, QString)));
        bus.connect(kNotifications, kNotificationsPath, kNotifications,
                    QStringLiteral("NotificationClosed"), this,
                    SLOT(onNotificationClosed(uint, uint)));
    }
}

TrayIcon::~TrayIcon() {
    if (enabled_ && !removed_ && trayIcon_ != nullptr) {
        trayIcon_->hide();
        hidden_ = removed_ = true;
    }
    frames_.clear();
    delete trayIcon_;
    trayIcon_ = nullptr;
}

bool TrayIcon::create(QWidget* owner, int iconId) {
    // Every Qt build has the icon service; the icon docks whenever a tray
    // host is (or later becomes) present.
    enabled_ = true;
    owner_ = owner;
    if (trayIcon_ == nullptr) {
        trayIcon_ = new QSystemTrayIcon(this);
        connect(trayIcon_, &QSystemTrayIcon::activated, this, &TrayIcon::onActivated);
        connect(trayIcon_, &QSystemTrayIcon::messageClicked, this, &TrayIcon::onNoticeClicked);
    }
    const QIcon icon = pictureIcon(iconId);
    if (!icon.isNull()) {
        shownId_ = iconId;
        shownIcon_ = icon;
        trayIcon_->setIcon(icon);
    }
    trayIcon_->setToolTip(QStringLiteral("Harvix"));
    trayIcon_->show();
    hidden_ = removed_ = !trayIcon_->isVisible();
    checkAvailability();
    return !hidden_;
}

void TrayIcon::checkAvailability() {
    const bool available = trayHostPresent();
    // While there is no notification area, ask again every second.
    if (!available && availabilityTimer_ == 0) {
        availabilityTimer_ = startTimer(kAvailabilityPeriodMs);
    } else if (available && availabilityTimer_ != 0) {
        killTimer(availabilityTimer_);
        availabilityTimer_ = 0;
    }
    if (available != available_) {
        available_ = available;
        emit availabilityChanged(available);
    }
}

void TrayIcon::showNotice(const QString& title, const QString& text, bool warning,
                          const QString& folder) {
    noticeTitle_ = title;
    noticeText_ = text;
    noticeFolder_ = folder;
    if (available_ && enabled_ && trayIcon_ != nullptr && trayIcon_->isVisible()) {
        const NotificationService& hook = notificationServiceHook();
        const uint id = hook ? hook(title, text, warning, !folder.isEmpty())
                             : desktopNotify(title, text, warning, !folder.isEmpty());
        if (id != 0) {
            if (!hook) {
                listenToNotifications();
            }
            if (!folder.isEmpty()) {
                notificationFolders_.insert(id, folder);
            }
            return;
        }
        // The tray icon's own message: one stands at a time, the latest.
        trayIcon_->showMessage(title, text,
                               warning ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information,
                               NoticeBubble::kShownMs);
        return;
    }
    if (!bubble_) {
        bubble_ = std::make_unique<NoticeBubble>();
        connect(bubble_.get(), &NoticeBubble::clicked, this, &TrayIcon::onNoticeClicked);
    }
    bubble_->showNotice(title, text, warning);
}

void TrayIcon::onNotificationAction(uint id, const QString& /*action*/) {
    const QString folder = notificationFolders_.value(id);
    if (!folder.isEmpty()) {
        emit noticeClicked(folder);
    }
}

void TrayIcon::onNotificationClosed(uint id, uint /*reason*/) {
    notificationFolders_.remove(id);
}

void TrayIcon::onNoticeClicked() {
    if (!noticeFolder_.isEmpty()) {
        emit noticeClicked(noticeFolder_);
    }
}

void TrayIcon::showPicture(int id, const QIcon& icon) {
    shownId_ = id;
    shownIcon_ = icon;
    if (enabled_ && !hidden_ && trayIcon_ != nullptr) {
        trayIcon_->setIcon(icon);
    }
}

bool TrayIcon::setIconFromResource(int iconId) {
    const QIcon icon = pictureIcon(iconId);
    if (icon.isNull() || !enabled_) {
        return false;
    }
    showPicture(iconId, icon);
    return true;
}

bool TrayIcon::loadAnimationFrames() {
    frames_.clear();
    for (int id = kPictureTrayFrame0; id <= kPictureTrayFrame4; ++id) {
        const QIcon icon = pictureIcon(id);
        if (icon.isNull()) {
            frames_.clear();
            return false;
        }
        frames_.append(Frame{id, icon});
    }
    return true;
}

bool TrayIcon::beginAnimation() {
    if (frames_.isEmpty()) {
        return false;
    }
    endAnimation();
    frameIndex_ = 0;
    startTime_.start();
    durationSeconds_ = 0xFFFFFFFFu;
    if (enabled_) {
        savedId_ = shownId_;
        savedIcon_ = shownIcon_;
    } else {
        savedId_ = -1;
        savedIcon_ = QIcon();
    }
    timerId_ = startTimer(kFramePeriodMs);
    return timerId_ != 0;
}

bool TrayIcon::endAnimation() {
    const bool stopped = timerId_ != 0;
    if (stopped) {
        killTimer(timerId_);
    }
    timerId_ = 0;
    if (savedId_ >= 0 && enabled_) {
        showPicture(savedId_, savedIcon_);
    }
    savedId_ = -1;
    savedIcon_ = QIcon();
    return stopped;
}

bool TrayIcon::requestBeginAnimation() {
    if (QThread::currentThread() == thread()) {
        return beginAnimation();
    }
    QMetaObject::invokeMethod(
        this, [this] { beginAnimation(); }, Qt::QueuedConnection);
    return true;
}

bool TrayIcon::requestEndAnimation() {
    if (QThread::currentThread() == thread()) {
        return endAnimation();
    }
    QMetaObject::invokeMethod(
        this, [this] { endAnimation(); }, Qt::QueuedConnection);
    return true;
}

bool TrayIcon::requestIcon(int iconId) {
    if (QThread::currentThread() == thread()) {
        return setIconFromResource(iconId);
    }
    QMetaObject::invokeMethod(
        this, [this, iconId] { setIconFromResource(iconId); }, Qt::QueuedConnection);
    return true;
}

void TrayIcon::timerEvent(QTimerEvent* event) {
    if (event->timerId() == availabilityTimer_ && availabilityTimer_ != 0) {
        checkAvailability();
        return;
    }
    if (event->timerId() != timerId_ || timerId_ == 0) {
        QObject::timerEvent(event);
        return;
    }
    const auto elapsed =
        static_cast<uint64_t>(std::llround(static_cast<double>(startTime_.elapsed()) / 1000.0));
    if (durationSeconds_ != 0 && durationSeconds_ < elapsed) {
        endAnimation();
        return;
    }
    nextFrame();
}

void TrayIcon::nextFrame() {
    frameIndex_ = (frameIndex_ + 1) % static_cast<int>(frames_.size());
    const Frame& frame = frames_.at(frameIndex_);
    showPicture(frame.id, frame.icon);
}

void TrayIcon::onActivated(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::Trigger:
            // A double click needs nothing of its own: its first press has
            // already shown the window.
            emit showMainWindowRequested();
            break;
        // The system opens the context menu itself (setContextMenu).
        default:
            break;
    }
}

PictureMenu* TrayIcon::buildMenu(const CommandSet& commands, QWidget* parent) {
    auto* menu = new PictureMenu(parent);
    menu->setObjectName(QStringLiteral("trayMenu"));
    menu->setTitleLine(AboutDialog::productLine());
    menu->addCommand(commands.action(Command::Filters));
    menu->addCommand(commands.action(Command::BrowseCache));
    menu->addCommand(commands.action(Command::Options));
    menu->addSeparator();
    menu->addCommand(commands.action(Command::VisitSite));
    menu->addCommand(commands.action(Command::DownloadLastVersion));
    menu->addSeparator();
    menu->addCommand(commands.action(Command::Help));
    menu->addCommand(commands.action(Command::About));
    menu->addSeparator();
    menu->addCommand(commands.action(Command::Exit));
    return menu;
}

void TrayIcon::setMenu(const CommandSet& commands) {
    menu_.reset(buildMenu(commands));
    if (trayIcon_ != nullptr) {
        trayIcon_->setContextMenu(menu_.get());
    }
}

}  // namespace harvix
