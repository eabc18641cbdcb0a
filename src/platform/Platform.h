// The one door from the program to the operating system. Every service that
// differs between systems sits behind IPlatform; the Linux implementation
// lives in platform/linux/. The front ends hold the platform and hand it to
// the core (reader factories, discovery, the comb coordinator, the monitors),
// which never looks it up itself; tests hand in a fake.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace harvix {

namespace fs = std::filesystem;

struct ProcessInfo {
    int64_t pid = 0;
    std::string imageName;  // e.g. "firefox", "iexplore.exe"
    int64_t uid = -1;       // real user id of its owner; -1 when unknown
    // Told only for the processes of the caller's own user (empty for the
    // others): the full path of its executable, its argv[0] as the process
    // gave it (a Unix or a Windows path, or a bare name), and the id of the
    // sandboxed package that runs it (a Flatpak application id such as
    // "org.chromium.Chromium"; empty outside a sandbox).
    std::string executable = {};
    std::string argv0 = {};
    std::string packageId = {};
};

class IPlatform {
public:
    virtual ~IPlatform() = default;

    // Full path of the running executable.
    virtual fs::path executablePath() = 0;
    // The user's home folder (used for "~/" folder texts).
    virtual fs::path homeFolder() = 0;
    // Folder that holds Harvix.cfg, given the program folder: the program
    // folder itself when it is writable, else the per-user config folder.
    virtual fs::path settingsFolder(const fs::path& exeDir) = 0;
    // Folder that holds the shipped data files (Langs/, Filters/, help/):
    // the program folder when it holds them, else the installed data folder.
    virtual fs::path dataFolder(const fs::path& exeDir) = 0;
    // The local application-data (cache) folder: $XDG_CACHE_HOME or ~/.cache.
    virtual fs::path localAppDataFolder() = 0;
    // The user's configuration folder: $XDG_CONFIG_HOME or ~/.config.
    virtual fs::path configFolder() {
        const fs::path home = homeFolder();
        return home.empty() ? fs::path() : home / ".config";
    }
    // The root of the Wine prefix that runs Windows browsers: $WINEPREFIX or ~/.wine.
    virtual fs::path winePrefix() = 0;
    // The user name as Wine names the profile folder.
    virtual std::string userName() = 0;

    // True when a program of this file name can be started: found on the
    // search path (or among the Snap programs).
    virtual bool isProgramInstalled(const std::string& /*name*/) { return false; }
    // Seconds since 1970-01-01 00:00 UTC.
    virtual int64_t currentTime();

    // Snapshot of the process table.
    virtual std::vector<ProcessInfo> listProcesses() = 0;
    // Sends a polite termination request; false when the process is gone or refused.
    virtual bool terminateProcess(int64_t pid) = 0;
    virtual int64_t currentProcessId() = 0;
    // Real user id of this process; -1 where the system has none. A request
    // to end "the running copy" only ever concerns the caller's own user.
    virtual int64_t currentUserId() { return -1; }

    // Adds (enable) or removes the autostart entry named Harvix that starts
    // `exePath`. Failures are silent.
    virtual void setAutostart(bool enable, const fs::path& exePath) = 0;

    // Takes the single-instance marker without waiting; true when this process
    // now holds it (until it ends).
    virtual bool acquireSingleInstance() = 0;

    // The folder rule: true when `folder` is an absolute path (after "~/"
    // expansion) whose nearest existing ancestor lies on a local, fixed disk.
    virtual bool isLocalFixedFolder(const fs::path& folder) = 0;
};

// The platform of the front ends: the real one unless a test swapped in a
// fake. The core takes the platform as an argument instead.
IPlatform& platformServices();

// The real implementation for this system.
IPlatform& nativePlatform();

// Swaps the front ends' platform for the lifetime of the object (tests only).
class ScopedPlatform {
public:
    explicit ScopedPlatform(IPlatform& fake);
    ~ScopedPlatform();
    ScopedPlatform(const ScopedPlatform&) = delete;
    ScopedPlatform& operator=(const ScopedPlatform&) = delete;

private:
    IPlatform* previous_;
};

}  // namespace harvix
