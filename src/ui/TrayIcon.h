// The notification-area icon: added at start-up with the application icon
// and the tooltip "Harvix", animated while a comb run lasts, removed at the
// end. A left press asks for the main window; the tray menu (the system
// opens it on a right click) shows the main window's own commands.
//
// QSystemTrayIcon stands in for the shell's icon service: it puts the icon
// back by itself when the tray host restarts or the work area changes, and it
// docks the icon as soon as a tray host appears. Whether a tray host is there
// is watched, so that the main window can stand in for the icon meanwhile.
#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <cstdint>
#include <functional>
#include <memory>

class QWidget;

namespace harvix {

class CommandSet;
class NoticeBubble;
class PictureMenu;

class TrayIcon : public QObject {
    Q_OBJECT

public:
    static constexpr int kIconId = 275;
    static constexpr int kFramePeriodMs = 150;

    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // Adds the icon showing picture `iconId` with the tooltip "Harvix".
    // `owner` is the main window (may be null); the tray menu opens for it.
    bool create(QWidget* owner, int iconId);
    // Shows the picture `iconId`; false when there is no such picture. While
    // an animation runs the picture is shown until the next frame.
    bool setIconFromResource(int iconId);
    // Loads the five animation frames (pictures 184 to 188).
    bool loadAnimationFrames();
    // Starts the animation: every 150 ms the next frame, beginning with the
    // second. A running animation is ended first. False without frames.
    bool beginAnimation();
    // Stops the animation and shows again the picture shown before it.
    // Returns whether an animation was running.
    bool endAnimation();

    // The three calls above, safe from any thread: from another thread the
    // request is queued to the tray's thread (the result is then not known
    // and true is returned).
    bool requestBeginAnimation();
    bool requestEndAnimation();
    bool requestIcon(int iconId);

    // The tray menu: title line, seven commands of `commands`, three
    // separators. The caller owns it.
    PictureMenu* buildMenu(const CommandSet& commands, QWidget* parent = nullptr);
    // Builds the tray menu and hands it to the system, which opens it on a
    // right click on the icon.
    void setMenu(const CommandSet& commands);
    PictureMenu* menu() const { return menu_.get(); }

    // Tells what a run did: while a notification area is there, a
    // notification of the desktop's notification service (each one keeps
    // its own folder, however many stand in the desktop's list), else a
    // message of the tray icon (one at a time); without a notification area
    // a NoticeBubble in the corner of the screen. A click on it asks for
    // `folder` (noticeClicked); an empty folder asks for nothing.
    void showNotice(const QString& title, const QString& text, bool warning, const QString& folder);
    // Shows a notification through the desktop's notification service and
    // answers its id, 0 when none was shown. The program's asks the session
    // bus (org.freedesktop.Notifications); tests put in their own. Null
    // restores the program's.
    using NotificationService = std::function<uint(const QString& title, const QString& text,
                                                   bool warning, bool clickable)>;
    static void setNotificationService(NotificationService service);
    // The latest notice (title, text), for the tests.
    QString noticeTitle() const { return noticeTitle_; }
    QString noticeText() const { return noticeText_; }
    // The bubble when one was shown (null before).
    NoticeBubble* bubble() const { return bubble_.get(); }

    // Whether a notification area is there to show the icon.
    bool isAvailable() const { return available_; }
    // How the tray asks whether a notification area is there; tests put in
    // their own answer. Null restores QSystemTrayIcon's.
    static void setAvailabilityProbe(std::function<bool()> probe);
    // Asks again now (the icon also asks once a second while there is none).
    void checkAvailability();

    // State.
    bool isEnabled() const { return enabled_; }
    bool isHidden() const { return hidden_; }
    bool isAnimating() const { return timerId_ != 0; }
    // Picture id shown now (a frame while animating), -1 before the first.
    int shownIconId() const { return shownId_; }
    int frameCount() const { return static_cast<int>(frames_.size()); }
    QSystemTrayIcon* systemTrayIcon() const { return trayIcon_; }

signals:
    // A left press on the icon: the main window should show itself.
    void showMainWindowRequested();
    // A notification area appeared or went away.
    void availabilityChanged(bool available);
    // The notice was clicked: its folder should open.
    void noticeClicked(const QString& folder);

public slots:
    // The notification service's signals: notification `id` was clicked,
    // or it went.
    void onNotificationAction(uint id, const QString& action);
    void onNotificationClosed(uint id, uint reason);

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void onActivated(QSystemTrayIcon::ActivationReason reason);
    void showPicture(int id, const QIcon& icon);
    void nextFrame();

    struct Frame {
        int id;
        QIcon icon;
    };

    void onNoticeClicked();
    // Connects to the notification service's signals, once.
    void listenToNotifications();

    QSystemTrayIcon* trayIcon_ = nullptr;
    std::unique_ptr<NoticeBubble> bubble_;
    QString noticeTitle_;
    QString noticeText_;
    QString noticeFolder_;
    // The folder of each notification of the service still standing, by id.
    QHash<uint, QString> notificationFolders_;
    bool listening_ = false;
    QPointer<QWidget> owner_;
    std::unique_ptr<PictureMenu> menu_;
    bool available_ = true;
    int availabilityTimer_ = 0;
    bool enabled_ = false;
    bool hidden_ = true;
    bool removed_ = true;
    QList<Frame> frames_;
    int timerId_ = 0;
    int frameIndex_ = 0;
    QElapsedTimer startTime_;
    // The animation stops by itself once more whole seconds than this have
    // passed (0: never); every run uses the largest value, which none reaches.
    uint32_t durationSeconds_ = 0xFFFFFFFFu;
    int shownId_ = -1;
    QIcon shownIcon_;
    int savedId_ = -1;  // picture shown when the animation started; -1: none
    QIcon savedIcon_;
};

}  // namespace harvix
