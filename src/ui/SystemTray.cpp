#include "ui/SystemTray.h"

#include <QCursor>
#include <QThread>
#include <QTimerEvent>
#include <QWidget>
#include <cmath>

#include "app/LanguageTexts.h"
#include "controls/PictureMenu.h"
#include "controls/Pictures.h"

namespace {

QString Text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

}  // namespace

CSystemTray::CSystemTray(QObject* parent) : QObject(parent) {}

CSystemTray::~CSystemTray() {
    if (enabled_ && !removed_ && trayIcon_ != nullptr) {
        trayIcon_->hide();
        hidden_ = removed_ = true;
    }
    frames_.clear();
    delete trayIcon_;
}

bool CSystemTray::Create(QWidget* owner, int iconId) {
    // Every Qt build has the icon service; the icon docks whenever a tray
    // host is (or later becomes) present.
    enabled_ = true;
    owner_ = owner;
    if (trayIcon_ == nullptr) {
        trayIcon_ = new QSystemTrayIcon(this);
        connect(trayIcon_, &QSystemTrayIcon::activated, this, &CSystemTray::OnActivated);
    }
    const QIcon icon = PictureIcon(iconId);
    if (!icon.isNull()) {
        shownId_ = iconId;
        shownIcon_ = icon;
        trayIcon_->setIcon(icon);
    }
    trayIcon_->setToolTip(QStringLiteral("Harvix"));
    trayIcon_->show();
    hidden_ = removed_ = !trayIcon_->isVisible();
    return !hidden_;
}

void CSystemTray::Show(int id, const QIcon& icon) {
    shownId_ = id;
    shownIcon_ = icon;
    if (enabled_ && !hidden_ && trayIcon_ != nullptr) {
        trayIcon_->setIcon(icon);
    }
}

bool CSystemTray::SetIconFromResource(int iconId) {
    const QIcon icon = PictureIcon(iconId);
    if (icon.isNull() || !enabled_) {
        return false;
    }
    Show(iconId, icon);
    return true;
}

bool CSystemTray::LoadAnimationFrames() {
    frames_.clear();
    for (int id = kPictureTrayFrame0; id <= kPictureTrayFrame4; ++id) {
        const QIcon icon = PictureIcon(id);
        if (icon.isNull()) {
            frames_.clear();
            return false;
        }
        frames_.append(Frame{id, icon});
    }
    return true;
}

bool CSystemTray::BeginAnimation() {
    if (frames_.isEmpty()) {
        return false;
    }
    EndAnimation();
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

bool CSystemTray::EndAnimation() {
    const bool stopped = timerId_ != 0;
    if (stopped) {
        killTimer(timerId_);
    }
    timerId_ = 0;
    if (savedId_ >= 0 && enabled_) {
        Show(savedId_, savedIcon_);
    }
    savedId_ = -1;
    savedIcon_ = QIcon();
    return stopped;
}

bool CSystemTray::RequestBeginAnimation() {
    if (QThread::currentThread() == thread()) {
        return BeginAnimation();
    }
    QMetaObject::invokeMethod(
        this, [this] { BeginAnimation(); }, Qt::QueuedConnection);
    return true;
}

bool CSystemTray::RequestEndAnimation() {
    if (QThread::currentThread() == thread()) {
        return EndAnimation();
    }
    QMetaObject::invokeMethod(
        this, [this] { EndAnimation(); }, Qt::QueuedConnection);
    return true;
}

bool CSystemTray::RequestIcon(int iconId) {
    if (QThread::currentThread() == thread()) {
        return SetIconFromResource(iconId);
    }
    QMetaObject::invokeMethod(
        this, [this, iconId] { SetIconFromResource(iconId); }, Qt::QueuedConnection);
    return true;
}

void CSystemTray::timerEvent(QTimerEvent* event) {
    if (event->timerId() != timerId_ || timerId_ == 0) {
        QObject::timerEvent(event);
        return;
    }
    const auto elapsed =
        static_cast<uint64_t>(std::llround(static_cast<double>(startTime_.elapsed()) / 1000.0));
    if (durationSeconds_ != 0 && durationSeconds_ < elapsed) {
        EndAnimation();
        return;
    }
    NextFrame();
}

void CSystemTray::NextFrame() {
    frameIndex_ = (frameIndex_ + 1) % static_cast<int>(frames_.size());
    const Frame& frame = frames_.at(frameIndex_);
    Show(frame.id, frame.icon);
}

void CSystemTray::OnActivated(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::Trigger:
            // A double click needs nothing of its own: its first press has
            // already shown the window.
            emit showMainWindowRequested();
            break;
        case QSystemTrayIcon::Context:
            ShowTrayMenu(QCursor::pos());
            break;
        default:
            break;
    }
}

CPictureMenu* CSystemTray::BuildTrayMenu(QWidget* parent) {
    const LanguageTexts& texts = TheLanguage();
    auto* menu = new CPictureMenu(parent);
    menu->setObjectName(QStringLiteral("trayMenu"));
    menu->SetTitleLine(QStringLiteral("Harvix v " HARVIX_VERSION));
    menu->AddCommand(kCommandFilters, Text(texts.TrayMenuFilters), kPictureMenuFilters, true);
    menu->AddCommand(kCommandOptions, Text(texts.TrayMenuOptions), kPictureMenuOptions);
    menu->AddSeparator();
    menu->AddCommand(kCommandVisit, Text(texts.TrayMenuVisit), kPictureMenuVisit);
    menu->AddCommand(kCommandLastVersion, Text(texts.TrayMenuLastVersion), kPictureMenuLastVersion);
    menu->AddSeparator();
    menu->AddCommand(kCommandHelp, Text(texts.TrayMenuHelp), kPictureMenuHelp);
    menu->AddCommand(kCommandAbout, Text(texts.TrayMenuAbout), kPictureMenuAbout);
    menu->AddSeparator();
    menu->AddCommand(kCommandExit, Text(texts.TrayMenuExit), kPictureMenuExit);
    connect(menu, &CPictureMenu::commandChosen, this, &CSystemTray::OnCommand);
    return menu;
}

CPictureMenu* CSystemTray::ShowTrayMenu(const QPoint& at) {
    CPictureMenu* menu = BuildTrayMenu(owner_);
    // The chosen command is reported before the menu goes away.
    connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
    menu->popup(at);
    return menu;
}

void CSystemTray::OnCommand(int commandId) {
    emit trayCommand(commandId);
    switch (commandId) {
        case kCommandFilters:
            emit filtersRequested();
            break;
        case kCommandOptions:
            emit optionsRequested();
            break;
        case kCommandVisit:
            emit visitSiteRequested();
            break;
        case kCommandLastVersion:
            emit lastVersionRequested();
            break;
        case kCommandHelp:
            emit helpRequested();
            break;
        case kCommandAbout:
            emit aboutRequested();
            break;
        case kCommandExit:
            emit exitRequested();
            break;
        default:
            break;
    }
}
