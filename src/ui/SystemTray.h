// The notification-area icon: added at start-up with the application icon
// and the tooltip "Harvix", animated while a comb run lasts, removed at the
// end. A left press asks for the main window; a right click opens the tray
// menu, whose commands are handed to the main window as signals.
//
// QSystemTrayIcon stands in for the shell's icon service: it puts the icon
// back by itself when the tray host restarts or the work area changes, and it
// docks the icon as soon as a tray host appears.
#pragma once

#include <QElapsedTimer>
#include <QIcon>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <cstdint>

class CPictureMenu;
class QWidget;

class CSystemTray : public QObject {
    Q_OBJECT

public:
    static constexpr int kIconId = 275;
    static constexpr int kFramePeriodMs = 150;

    // Tray menu commands.
    enum Command : int {
        kCommandExit = 4097,
        kCommandOptions = 4098,
        kCommandAbout = 4099,
        kCommandVisit = 4100,
        kCommandLastVersion = 4101,
        kCommandHelp = 4103,
        kCommandFilters = 4104,
    };

    explicit CSystemTray(QObject* parent = nullptr);
    ~CSystemTray() override;
    CSystemTray(const CSystemTray&) = delete;
    CSystemTray& operator=(const CSystemTray&) = delete;

    // Adds the icon showing picture `iconId` with the tooltip "Harvix".
    // `owner` is the main window (may be null); the tray menu opens for it.
    bool Create(QWidget* owner, int iconId);
    // Shows the picture `iconId`; false when there is no such picture. While
    // an animation runs the picture is shown until the next frame.
    bool SetIconFromResource(int iconId);
    // Loads the five animation frames (pictures 184 to 188).
    bool LoadAnimationFrames();
    // Starts the animation: every 150 ms the next frame, beginning with the
    // second. A running animation is ended first. False without frames.
    bool BeginAnimation();
    // Stops the animation and shows again the picture shown before it.
    // Returns whether an animation was running.
    bool EndAnimation();

    // The three calls above, safe from any thread: from another thread the
    // request is queued to the tray's thread (the result is then not known
    // and true is returned).
    bool RequestBeginAnimation();
    bool RequestEndAnimation();
    bool RequestIcon(int iconId);

    // The tray menu, built anew: title line, seven commands, three separators.
    // The caller owns it. Its commands arrive as trayCommand and the named
    // signals below.
    CPictureMenu* BuildTrayMenu(QWidget* parent = nullptr);
    // Builds the tray menu and opens it at `at` (screen coordinates); it
    // deletes itself when it closes.
    CPictureMenu* ShowTrayMenu(const QPoint& at);

    // State.
    bool IsEnabled() const { return enabled_; }
    bool IsHidden() const { return hidden_; }
    bool IsAnimating() const { return timerId_ != 0; }
    // Picture id shown now (a frame while animating), -1 before the first.
    int ShownIconId() const { return shownId_; }
    int FrameCount() const { return static_cast<int>(frames_.size()); }
    QSystemTrayIcon* TrayIcon() const { return trayIcon_; }

signals:
    // A left press on the icon: the main window should show itself.
    void showMainWindowRequested();
    // A tray menu command, by id.
    void trayCommand(int commandId);
    void filtersRequested();
    void optionsRequested();
    void visitSiteRequested();
    void lastVersionRequested();
    void helpRequested();
    void aboutRequested();
    void exitRequested();

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void OnActivated(QSystemTrayIcon::ActivationReason reason);
    void OnCommand(int commandId);
    void Show(int id, const QIcon& icon);
    void NextFrame();

    struct Frame {
        int id;
        QIcon icon;
    };

    QSystemTrayIcon* trayIcon_ = nullptr;
    QPointer<QWidget> owner_;
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
