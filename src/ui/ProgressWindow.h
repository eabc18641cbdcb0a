// The progress window: a small borderless, top-most window with one progress
// bar that shows how far a comb run has come. It has no caption and no
// buttons, no task-bar entry, and Enter and Esc do not close it. Its opacity
// and its place (centre or bottom-right corner of the work area) come from
// the settings.
#pragma once

#include <QDialog>

class QProgressBar;

namespace harvix {

struct Settings;

class ProgressWindow : public QDialog {
    Q_OBJECT

public:
    // Size of the window in dialog units (a quarter of the font's average
    // character width across, an eighth of its height down).
    static constexpr int kWidthDlu = 118;
    static constexpr int kHeightDlu = 16;

    // Created hidden and centred on the primary screen's work area. The
    // window has no parent window: its owner keeps it and deletes it.
    explicit ProgressWindow(Settings& settings);
    ProgressWindow();

    // Makes the window as opaque as "NotifyProgressTransparency" says
    // (0 invisible .. 255 opaque). Called once, right after creation.
    void applyTransparency();

    // These three may be called from any thread; the window itself is only
    // touched on its own thread.
    // Sets the bar to `percent` (0..100); from another thread the caller
    // waits until the window has taken the value.
    void setPosition(int percent);
    // Shows or hides the window (queued when called from another thread).
    void showWindow(bool show);

    int position() const;
    QProgressBar* progressBar = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void place();

    Settings& settings_;
};

}  // namespace harvix
