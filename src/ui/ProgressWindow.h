// The progress window: a small borderless, top-most window that shows how
// far a comb run has come: the browser and the count of entries combed
// ("Chromium: 120 of 964"), a progress bar and a Cancel button, which
// cancels the run (it keeps what it has copied). It has no caption, no
// task-bar entry, and Enter and Esc do not close it. Its opacity and its
// place (centre or bottom-right corner of the work area) come from the
// settings; a window fainter than kInputOpacity lets every click through to
// the window below and shows no Cancel button.
#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace harvix {

struct LanguageTexts;
struct Settings;

class ProgressWindow : public QDialog {
    Q_OBJECT

public:
    // Size of the window in dialog units (a quarter of the font's average
    // character width across, an eighth of its height down).
    static constexpr int kWidthDlu = 240;
    static constexpr int kHeightDlu = 34;
    // The least opacity (0..255) at which the window takes clicks.
    static constexpr int kInputOpacity = 64;

    // Created hidden and centred on the primary screen's work area. The
    // window has no parent window: its owner keeps it and deletes it.
    explicit ProgressWindow(Settings& settings);
    ProgressWindow();

    // Makes the window as opaque as "NotifyProgressTransparency" says
    // (0 invisible .. 255 opaque), and transparent for input below
    // kInputOpacity. Called once, right after creation.
    void applyTransparency();
    // The count's format (ProgressCount) and the button's texts.
    void applyTexts(const LanguageTexts& texts);

    // These three may be called from any thread; the window itself is only
    // touched on its own thread.
    // Sets the bar to `percent` (0..100); from another thread the caller
    // waits until the window has taken the value.
    void setPosition(int percent);
    // Shows or hides the window (queued when called from another thread).
    void showWindow(bool show);

    // A new run of the browser named `browser`: the text names it, the bar
    // is empty and Cancel can be pressed (user-interface thread).
    void beginRun(const QString& browser);
    // `done` of `total` entries are combed.
    void setCount(qulonglong done, qulonglong total);

    int position() const;
    QString text() const;
    // Whether the window takes clicks (and shows its Cancel button).
    bool takesInput() const;

    QProgressBar* progressBar = nullptr;
    QLabel* label = nullptr;
    QPushButton* cancelButton = nullptr;

signals:
    // Cancel was pressed.
    void cancelRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void place();

    Settings& settings_;
    QString browser_;
    QString countFormat_ = QStringLiteral("%1: %2 of %3");
    QString cancellingText_ = QStringLiteral("Cancelling...");
};

}  // namespace harvix
