// The application object of the tray program: one running copy per user,
// the "Close" argument that ends the running copy, the hidden main window
// that lives in the notification area, and the settings saved at exit.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QApplication;
class QSocketNotifier;

namespace harvix {

class INotifier;

class MainWindow;
class QtNotifier;

// Turns the termination signals (SIGTERM, which "harvix Close" sends, and
// SIGINT and SIGHUP from a terminal) into a call on the user-interface
// thread: the handler only writes one byte into a pipe, whose read end a
// socket notifier watches from the event loop. One watcher at a time.
class TerminationWatcher {
public:
    explicit TerminationWatcher(std::function<void()> onSignal);
    ~TerminationWatcher();
    TerminationWatcher(const TerminationWatcher&) = delete;
    TerminationWatcher& operator=(const TerminationWatcher&) = delete;

    // False when the pipe could not be made (the signals then keep their
    // default action, which ends the process without saving).
    bool isActive() const { return notifier_ != nullptr; }

private:
    void drain();

    std::function<void()> onSignal_;
    int readFd_ = -1;
    int writeFd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

class Application {
public:
    // The image name by which a close request finds the running copy.
    static constexpr const char* kImageName = "harvix";
    // The close request: the first plain argument, spelled exactly so.
    static constexpr const char* kCloseArgument = "Close";

    // `argc` and `argv` as main received them; both must outlive the object.
    Application(int& argc, char** argv);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // The whole life of the program: asked for its help or version it
    // answers and ends; otherwise it starts (initInstance), runs the event
    // loop and ends (exitInstance). Returns the process exit code.
    int run();

    // The start-up sequence. False when this process must end at once
    // (another copy runs, or a close request). Needs no display until the
    // single-instance test has passed; creates the QApplication unless one
    // exists already.
    bool initInstance();
    // Deletes the main window object (its coordinator saves the settings)
    // and returns `exitCode`.
    int exitInstance(int exitCode = 0);
    // True when this process must end at once. Takes the single-instance
    // marker; with a close request and another copy running, ends that copy.
    bool checkSingleInstance();

    // The first argument that does not begin with '/' or '-'; empty when
    // there is none.
    static std::string firstPlainArgument(const std::vector<std::string>& arguments);
    // True when the first plain argument is exactly "Close".
    static bool isCloseRequest(const std::vector<std::string>& arguments);
    // What "--help" (or "-h") and "--version" (or "-V") print, and the
    // program then ends without starting; empty for any other arguments.
    static std::string informationText(const std::vector<std::string>& arguments);
    // Asks the first other process named "harvix" (compared in lower case)
    // to end. Stops at the first such process even when it cannot be
    // ended. False when none was found or the request failed.
    static bool closeRunningCopy();

    MainWindow* mainWindow() const { return mainWindow_; }
    const std::vector<std::string>& arguments() const { return arguments_; }

private:
    int& argc_;
    char** argv_;
    std::vector<std::string> arguments_;
    std::unique_ptr<QApplication> ownApplication_;
    std::unique_ptr<QtNotifier> notifier_;
    INotifier* previousNotifier_ = nullptr;
    MainWindow* mainWindow_ = nullptr;
    std::unique_ptr<TerminationWatcher> terminationWatcher_;
    // A termination signal came before the main window was ready.
    bool exitPending_ = false;
};

}  // namespace harvix
