#include "support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
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

fs::path SleepProgram() {
    for (const char* candidate : {"/bin/sleep", "/usr/bin/sleep"}) {
        if (fs::exists(candidate)) {
            return candidate;
        }
    }
    throw std::runtime_error("no sleep program to copy");
}

// The parent process id from /proc/<pid>/stat ("pid (comm) state ppid ..."),
// or -1 when the process is gone (reading the file of a process that has
// just ended fails, so plain system calls are used).
pid_t ParentOf(int64_t pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    char buffer[512];
    const ssize_t got = read(fd, buffer, sizeof buffer - 1);
    close(fd);
    if (got <= 0) {
        return -1;
    }
    const std::string stat(buffer, static_cast<std::size_t>(got));
    const std::size_t end = stat.rfind(')');
    if (end == std::string::npos || end + 4 >= stat.size()) {
        return -1;
    }
    return static_cast<pid_t>(std::strtol(stat.c_str() + end + 4, nullptr, 10));
}

}  // namespace

ChildProcess::ChildProcess(const fs::path& folder, const std::string& imageName, int seconds) {
    const fs::path program = folder / imageName;
    if (!fs::exists(program)) {
        fs::create_directories(folder);
        fs::copy_file(SleepProgram(), program);
    }
    const std::string path = program.string();
    const std::string duration = std::to_string(seconds);
    char* argv[] = {const_cast<char*>(imageName.c_str()), const_cast<char*>(duration.c_str()),
                    nullptr};
    const int rc = posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv, environ);
    if (rc != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + path + ": " + std::strerror(rc));
    }
}

ChildProcess::~ChildProcess() {
    End();
}

void ChildProcess::End() {
    if (pid_ <= 0) {
        return;
    }
    kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

std::vector<ProcessInfo> ChildProcessTable::ListProcesses() {
    std::vector<ProcessInfo> children;
    const pid_t self = getpid();
    for (ProcessInfo& process : NativePlatform().ListProcesses()) {
        if (ParentOf(process.pid) == self) {
            children.push_back(std::move(process));
        }
    }
    ++polls_;
    return children;
}

bool ChildProcessTable::WaitForMorePolls(int count) {
    const int target = polls_ + count;
    return WaitUntil([&] { return polls_ >= target; });
}
