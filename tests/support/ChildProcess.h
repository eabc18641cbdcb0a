// Real child processes under a chosen image name, for tests of the process
// table, the browser monitors and the comb coordinator.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace harvix {

namespace fs = std::filesystem;

// Waits until `condition` holds, looking every millisecond; false when the
// time is up first. Generous limits keep tests sound on a loaded machine.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// A child process running a copy of the system's sleep program named
// `imageName` (the copy is made in `folder`), so that the process table shows
// it under that name; its argv[0] is `argv0`, or the image name when empty.
// End() or the destructor kills and reaps it; it also ends by itself after
// `seconds`, should a test die first.
class ChildProcess {
public:
    ChildProcess(const fs::path& folder, const std::string& imageName, int seconds = 30,
                 const std::string& argv0 = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Kills and reaps the child: when this returns, the process table no
    // longer lists it.
    void End();
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int shared_ = -1;  // the shared hold on the machine's browser-children lock
};

// For a test whose program under test reads the whole process table (a
// harvix-cli child): while it lives, no other test process of the machine
// has a browser-named child (each ChildProcess holds a shared lock of one
// file in the temporary folder; this waits for the exclusive one).
class ExclusiveProcessTable {
public:
    ExclusiveProcessTable();
    ~ExclusiveProcessTable();
    ExclusiveProcessTable(const ExclusiveProcessTable&) = delete;
    ExclusiveProcessTable& operator=(const ExclusiveProcessTable&) = delete;

private:
    int fd_ = -1;
};

// A program run as a child with its standard output and error going to
// files, for tests of harvix-cli as a separate process.
class Program {
public:
    Program(const fs::path& executable, const std::vector<std::string>& args,
            const fs::path& outFile, const fs::path& errFile);
    // Kills the program when it still runs.
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    void Signal(int signal) const;
    // The exit code once the program has ended by itself; -1 when it was
    // killed by a signal or did not end within `timeout` (it is then killed).
    int wait(std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    pid_t pid_ = -1;
};

// A fake platform whose process table is the real one narrowed to the
// children of this process: tests that run side by side (and any real
// browser on the machine) never see each other's processes. Counts the polls.
class ChildProcessTable : public FakePlatform {
public:
    std::vector<ProcessInfo> listProcesses() override;

    int polls() const { return polls_; }
    // Waits until `count` more polls than now have been completed.
    bool waitForMorePolls(int count);

private:
    std::atomic<int> polls_{0};
};

}  // namespace harvix
