#include "support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace harvix {

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return condition();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

namespace {

// Set while this process holds the browser-children lock exclusively: its
// own children then need no shared hold.
std::atomic<bool> holdsExclusive{false};

int OpenBrowserChildrenLock() {
    const fs::path path = fs::temp_directory_path() / "harvix-test-browser-children.lock";
    // Not inherited: a child that outlives its test must not keep the lock.
    return open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
}

void Lock(int fd, int operation) {
    while (fd >= 0 && flock(fd, operation) != 0 && errno == EINTR) {
    }
}

fs::path SleepProgram() {
    for (const char* candidate : {"/bin/sleep", "/usr/bin/sleep"}) {
        if (fs::exists(candidate)) {
            return candidate;
        }
    }
    throw std::runtime_error("no sleep program to copy");
}

// A small file of /proc, read with plain system calls (reading the file of
// a process that has just ended fails, which streams turn into exceptions);
// empty when it cannot be read.
std::string ReadProcFile(const fs::path& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    char buffer[512];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    close(fd);
    return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string();
}

// The parent process id from /proc/<pid>/stat ("pid (comm) state ppid ..."),
// or -1 when the process is gone.
pid_t ParentOf(int64_t pid) {
    const std::string stat = ReadProcFile(fs::path("/proc") / std::to_string(pid) / "stat");
    const std::size_t end = stat.rfind(')');
    if (end == std::string::npos || end + 4 >= stat.size()) {
        return -1;
    }
    return static_cast<pid_t>(std::strtol(stat.c_str() + end + 4, nullptr, 10));
}

}  // namespace

ChildProcess::ChildProcess(const fs::path& folder, const std::string& imageName, int seconds,
                           const std::string& argv0) {
    if (!holdsExclusive) {
        shared_ = OpenBrowserChildrenLock();
        Lock(shared_, LOCK_SH);
    }
    const fs::path program = folder / imageName;
    if (!fs::exists(program)) {
        fs::create_directories(folder);
        fs::copy_file(SleepProgram(), program);
    }
    const std::string path = program.string();
    const std::string duration = std::to_string(seconds);
    const std::string& first = argv0.empty() ? imageName : argv0;
    char* argv[] = {const_cast<char*>(first.c_str()), const_cast<char*>(duration.c_str()), nullptr};
    const int rc = posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv, environ);
    if (rc != 0) {
        pid_ = -1;
        End();
        throw std::runtime_error("cannot start " + path + ": " + std::strerror(rc));
    }
    // The kernel names the process after the new program a moment after
    // posix_spawn returns; until then it shows this program's name.
    const std::string comm = imageName.substr(0, 15) + "\n";
    const fs::path commFile = fs::path("/proc") / std::to_string(pid_) / "comm";
    if (!waitUntil([&] { return ReadProcFile(commFile) == comm; })) {
        End();
        throw std::runtime_error("the child never showed as " + imageName);
    }
}

ChildProcess::~ChildProcess() {
    End();
}

void ChildProcess::End() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
    if (shared_ >= 0) {
        close(shared_);
        shared_ = -1;
    }
}

ExclusiveProcessTable::ExclusiveProcessTable() : fd_(OpenBrowserChildrenLock()) {
    Lock(fd_, LOCK_EX);
    holdsExclusive = true;
}

ExclusiveProcessTable::~ExclusiveProcessTable() {
    holdsExclusive = false;
    if (fd_ >= 0) {
        close(fd_);
    }
}

Program::Program(const fs::path& executable, const std::vector<std::string>& args,
                 const fs::path& outFile, const fs::path& errFile) {
    std::vector<std::string> words{executable.string()};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // The program starts with every signal at its default and none blocked,
    // whatever the test runner was started with (nohup, a script's job).
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    const int rc =
        posix_spawn(&pid_, words[0].c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + words[0] + ": " + std::strerror(rc));
    }
}

Program::~Program() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        wait();
    }
}

void Program::Signal(int signal) const {
    if (pid_ > 0) {
        kill(pid_, signal);
    }
}

int Program::wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) {
        return -1;
    }
    int status = 0;
    const bool ended = waitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeout);
    if (!ended) {
        kill(pid_, SIGKILL);
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    pid_ = -1;
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<ProcessInfo> ChildProcessTable::listProcesses() {
    std::vector<ProcessInfo> children;
    const pid_t self = getpid();
    for (ProcessInfo& process : nativePlatform().listProcesses()) {
        if (ParentOf(process.pid) == self) {
            children.push_back(std::move(process));
        }
    }
    ++polls_;
    return children;
}

bool ChildProcessTable::waitForMorePolls(int count) {
    const int target = polls_ + count;
    return waitUntil([&] { return polls_ >= target; });
}

}  // namespace harvix
