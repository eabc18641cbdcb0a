#include "ui/Application.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include "base/Text.h"
#include "platform/Platform.h"
#include "ui/MainWindow.h"
#include "ui/Notifier.h"
#include "ui/ProgramState.h"
#include "ui/QtNotifier.h"

namespace harvix {

namespace {

// The write end of the watcher's pipe, for the signal handler.
volatile sig_atomic_t gSignalWriteFd = -1;

constexpr int kWatchedSignals[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void onTerminationSignal(int /*signal*/) {
    const int savedErrno = errno;
    const int fd = gSignalWriteFd;
    if (fd >= 0) {
        const char byte = 1;
        // A full pipe already holds a pending request: nothing is lost.
        [[maybe_unused]] const ssize_t written = write(fd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

// ---- TerminationWatcher ----

TerminationWatcher::TerminationWatcher(std::function<void()> onSignal)
    : onSignal_(std::move(onSignal)) {
    int fds[2] = {-1, -1};
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    readFd_ = fds[0];
    writeFd_ = fds[1];
    gSignalWriteFd = writeFd_;
    notifier_ = std::make_unique<QSocketNotifier>(readFd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { drain(); });

    struct sigaction action {};
    action.sa_handler = &onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kWatchedSignals) {
        sigaction(signal, &action, nullptr);
    }
}

TerminationWatcher::~TerminationWatcher() {
    if (notifier_ == nullptr) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signal : kWatchedSignals) {
        sigaction(signal, &action, nullptr);
    }
    gSignalWriteFd = -1;
    notifier_.reset();
    close(readFd_);
    close(writeFd_);
}

void TerminationWatcher::drain() {
    char buffer[64];
    bool any = false;
    while (read(readFd_, buffer, sizeof buffer) > 0) {
        any = true;
    }
    if (any && onSignal_) {
        onSignal_();
    }
}

// ---- Application ----

Application::Application(int& argc, char** argv) : argc_(argc), argv_(argv) {
    for (int i = 1; i < argc; ++i) {
        arguments_.emplace_back(argv[i] != nullptr ? argv[i] : "");
    }
}

Application::~Application() {
    exitInstance();
}

std::string Application::firstPlainArgument(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (!argument.empty() && argument.front() != '/' && argument.front() != '-') {
            return argument;
        }
    }
    return {};
}

bool Application::isCloseRequest(const std::vector<std::string>& arguments) {
    return firstPlainArgument(arguments) == kCloseArgument;
}

std::string Application::informationText(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (argument == "--version" || argument == "-V") {
            return std::string("harvix ") + HARVIX_VERSION + "\n";
        }
        if (argument == "--help" || argument == "-h") {
            return "Usage: harvix [Close]\n"
                   "\n"
                   "Keeps the files you want from your web browsers' disk caches. The\n"
                   "program lives in the notification area; a left click on its icon opens\n"
                   "the Filters window, a right click its menu. One copy runs per user.\n"
                   "\n"
                   "  Close          end the running copy as Exit in its menu does\n"
                   "  -h, --help     show this text\n"
                   "  -V, --version  show the version\n"
                   "\n"
                   "harvix-cli lists, saves and combs caches from a terminal; 'man harvix'\n"
                   "and the manual (Help in the program) tell the rest.\n";
        }
    }
    return {};
}

bool Application::closeRunningCopy() {
    IPlatform& platform = platformServices();
    const int64_t self = platform.currentProcessId();
    // The single-instance marker is per user, so is the copy to end: another
    // user's harvix is passed over (a request to it would fail anyway).
    const int64_t user = platform.currentUserId();
    for (const ProcessInfo& process : platform.listProcesses()) {
        if (user >= 0 && process.uid != user) {
            continue;
        }
        if (process.pid != self && toLowerAscii(process.imageName) == kImageName) {
            // The running copy treats the request like Exit: it saves its
            // settings and removes its icon. Only the first one found is asked.
            return platform.terminateProcess(process.pid);
        }
    }
    return false;
}

bool Application::checkSingleInstance() {
    const bool closeRequest = isCloseRequest(arguments_);
    if (!platformServices().acquireSingleInstance()) {
        // Another copy runs: a second start ends silently, a close request
        // ends that copy first.
        if (closeRequest) {
            closeRunningCopy();
        }
        return true;
    }
    // No other copy: "Close" has nothing to end.
    return closeRequest;
}

bool Application::initInstance() {
    if (checkSingleInstance()) {
        return false;
    }
    if (QApplication::instance() == nullptr) {
        ownApplication_ = std::make_unique<QApplication>(argc_, argv_);
    }
    QApplication::setApplicationName(QStringLiteral("Harvix"));
    QApplication::setApplicationVersion(QStringLiteral(HARVIX_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("harvix"));
    // The program lives in the notification area: hiding its last window
    // does not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    // "harvix Close" (SIGTERM), Ctrl+C and a closed terminal end the
    // program as the tray menu's Exit does, so that the settings are saved.
    // The watcher comes first: a signal that arrives while the window is
    // still being made waits in the watcher's pipe instead of ending the
    // program unsaved.
    terminationWatcher_ = std::make_unique<TerminationWatcher>([this] {
        if (mainWindow_ != nullptr && mainWindow_->isInitialised()) {
            mainWindow_->exitProgram();
        } else {
            exitPending_ = true;
        }
    });

    // The core's messages appear as message boxes on this thread.
    notifier_ = std::make_unique<QtNotifier>();
    previousNotifier_ = setNotifier(notifier_.get());

    // The settings file, the autostart entry and the language file, loaded
    // once here and written back when the window is gone. The window's
    // constructor brings up the coordinator; create builds the progress
    // window and the tray icon, loads the filter file and starts the
    // browser monitors.
    theSettings().initSettings(theLanguage());
    mainWindow_ = new MainWindow(theSettings(), platformServices());
    notifier_->setParentWindow(mainWindow_);
    QObject::connect(mainWindow_, &MainWindow::exitRequested, QApplication::instance(),
                     &QCoreApplication::quit, Qt::QueuedConnection);
    mainWindow_->create();
    if (exitPending_) {
        mainWindow_->exitProgram();
    }
    return true;
}

int Application::exitInstance(int exitCode) {
    terminationWatcher_.reset();
    // From here on the core's messages go to standard error: no message box
    // may hold up the exit.
    if (notifier_ != nullptr) {
        setNotifier(previousNotifier_);
        previousNotifier_ = nullptr;
    }
    if (mainWindow_ != nullptr) {
        MainWindow* window = mainWindow_;
        mainWindow_ = nullptr;
        // The window waits for the comb and monitor threads to end. One of
        // them may be waiting for a message box on this thread meanwhile:
        // the wait happens on a helper thread while this one answers such
        // requests by dropping them (the caller then gets Cancel).
        std::atomic<bool> stopped{false};
        std::thread stopper([window, &stopped] {
            window->shutdown();
            stopped = true;
        });
        while (!stopped) {
            if (notifier_ != nullptr) {
                QCoreApplication::removePostedEvents(notifier_.get(), QEvent::MetaCall);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        stopper.join();
        // Destroys the tray icon, the progress window and the coordinator.
        delete window;
        // Every run has ended: a cache folder found by the last one is kept.
        theSettings().saveSettings();
    }
    notifier_.reset();
    return exitCode;
}

int Application::run() {
    // Asked for its help or version, the program answers and ends: no
    // window, no tray icon, no single-instance marker taken.
    if (const std::string text = informationText(arguments_); !text.empty()) {
        std::fputs(text.c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (!initInstance()) {
        return 0;
    }
    const int code = QApplication::exec();
    return exitInstance(code);
}

}  // namespace harvix
