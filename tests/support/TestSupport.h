// Shared test helpers: temporary folders, small file helpers, a fake
// platform and a recording notifier.
#pragma once

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/Platform.h"

#include "filter/CombPass.h"
#include "readers/CacheReader.h"

namespace harvix {

namespace fs = std::filesystem;

// A fresh folder below the system's temporary folder, removed at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

// Copies `entry` of `reader` into the file `target` as a comb does (named
// only when complete, never over another file); false on any failure.
bool copyEntry(const CacheReader& reader, const CacheEntry& entry, const fs::path& target);

// One comb run of `reading` (of `reader`, which is open) with the items
// of `filter`, on the real platform.
CombResult combWith(const FilterSet& filter, const CacheReader& reader, const Reading& reading,
                    const CombOptions& options = {}, CombObserver* observer = nullptr);

std::string readFile(const fs::path& path);
void writeFile(const fs::path& path, const std::string& content);

// Runs `work` on a thread of its own that file permissions hold for even
// when the tests run as root (its capabilities to pass them are dropped:
// capabilities belong to a thread, so the rest of the process keeps them).
// False, with `work` not run, when they cannot be dropped.
bool runUnderFilePermissions(const std::function<void()>& work);

// A platform whose answers the test sets; services that touch the system
// only record what was asked.
class FakePlatform : public IPlatform {
public:
    fs::path exePath = "/opt/harvix/harvix";
    fs::path home = "/home/tester";
    fs::path settingsDir;  // empty: the program folder
    fs::path dataDir;      // empty: the program folder
    fs::path localAppData = "/home/tester/.cache";
    fs::path configDir;  // empty: home/.config
    fs::path winePrefixPath = "/home/tester/.wine";
    std::string user = "tester";
    std::vector<ProcessInfo> processes;
    std::vector<int64_t> terminated;
    int64_t userId = -1;  // -1: the system tells no user ids
    // The clock: 0 tells the system's time. Monitor threads read it while a
    // test moves it.
    std::atomic<int64_t> now{0};
    // The programs isProgramInstalled finds.
    std::vector<std::string> installed;
    bool singleInstanceFree = true;
    bool localFolders = true;

    // Autostart calls, in order: (enable, exePath).
    std::vector<std::pair<bool, fs::path>> autostartCalls;

    fs::path executablePath() override { return exePath; }
    fs::path homeFolder() override { return home; }
    fs::path settingsFolder(const fs::path& exeDir) override {
        return settingsDir.empty() ? exeDir : settingsDir;
    }
    fs::path dataFolder(const fs::path& exeDir) override {
        return dataDir.empty() ? exeDir : dataDir;
    }
    fs::path localAppDataFolder() override { return localAppData; }
    fs::path configFolder() override {
        return configDir.empty() ? IPlatform::configFolder() : configDir;
    }
    fs::path winePrefix() override { return winePrefixPath; }
    std::string userName() override { return user; }
    std::vector<ProcessInfo> listProcesses() override { return processes; }
    bool terminateProcess(int64_t pid) override {
        terminated.push_back(pid);
        return true;
    }
    int64_t currentProcessId() override { return 1; }
    int64_t currentUserId() override { return userId; }
    int64_t currentTime() override {
        const int64_t set = now;
        return set != 0 ? set : IPlatform::currentTime();
    }
    bool isProgramInstalled(const std::string& name) override {
        return std::find(installed.begin(), installed.end(), name) != installed.end();
    }
    void setAutostart(bool enable, const fs::path& exe) override {
        autostartCalls.emplace_back(enable, exe);
    }
    bool acquireSingleInstance() override { return singleInstanceFree; }
    bool isLocalFixedFolder(const fs::path& folder) override;
};

}  // namespace harvix
