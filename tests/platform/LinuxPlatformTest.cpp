#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/Platform.h"
#include "support/ChildProcess.h"
#include "support/TestSupport.h"

namespace harvix {

namespace {

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
            had_ = true;
        }
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (had_) {
            setenv(name_, old_.c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

TEST(LinuxPlatform, ExecutableAndProcessTable) {
    IPlatform& p = nativePlatform();
    EXPECT_EQ(p.executablePath().filename(), "harvix_tests");
    bool foundSelf = false;
    for (const ProcessInfo& info : p.listProcesses()) {
        if (info.pid == getpid()) {
            foundSelf = true;
            EXPECT_EQ(info.imageName, "harvix_tests");
            // "Close" picks only the caller's own copies by this id.
            EXPECT_EQ(info.uid, p.currentUserId());
            EXPECT_EQ(info.uid, static_cast<int64_t>(getuid()));
            EXPECT_EQ(info.executable, fs::read_symlink("/proc/self/exe").string());
            EXPECT_EQ(fs::path(info.argv0).filename(), "harvix_tests");
            EXPECT_EQ(info.packageId, "");
        }
    }
    EXPECT_TRUE(foundSelf);

    // A browser upgraded while it runs: its binary is gone, and the kernel
    // writes "(deleted)" after the path, which still names the program.
    TempDir dir;
    ChildProcess child(dir.path(), "firefox-esr", 30, "/usr/lib/firefox-esr/firefox-esr");
    fs::remove(dir / "firefox-esr");
    bool foundChild = false;
    for (const ProcessInfo& info : p.listProcesses()) {
        if (info.pid == child.pid()) {
            foundChild = true;
            EXPECT_EQ(info.imageName, "firefox-esr");
            EXPECT_EQ(info.executable, (fs::canonical(dir.path()) / "firefox-esr").string());
            EXPECT_EQ(info.argv0, "/usr/lib/firefox-esr/firefox-esr");
        }
    }
    EXPECT_TRUE(foundChild);
}

TEST(LinuxPlatform, XdgFoldersFollowTheEnvironment) {
    TempDir dir;
    ScopedEnv cache("XDG_CACHE_HOME", (dir / "cache").string());
    ScopedEnv wine("WINEPREFIX", (dir / "wine").string());
    EXPECT_EQ(nativePlatform().localAppDataFolder(), dir / "cache");
    EXPECT_EQ(nativePlatform().winePrefix(), dir / "wine");
    ScopedEnv relative("XDG_CACHE_HOME", "relative/path");
    ScopedEnv home("HOME", dir.path().string());
    EXPECT_EQ(nativePlatform().localAppDataFolder(), dir / ".cache");
}

TEST(LinuxPlatform, AutostartEntryIsWrittenAndRemoved) {
    TempDir dir;
    ScopedEnv config("XDG_CONFIG_HOME", dir.path().string());
    const fs::path entry = dir / "autostart" / "Harvix.desktop";
    nativePlatform().setAutostart(true, "/opt/my apps/harvix");
    const std::string text = readFile(entry);
    EXPECT_NE(text.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(text.find("Exec=\"/opt/my apps/harvix\"\n"), std::string::npos);
    nativePlatform().setAutostart(true, "/usr/bin/harvix");
    EXPECT_NE(readFile(entry).find("Exec=/usr/bin/harvix\n"), std::string::npos);
    // A binary replaced while it runs (an upgrade) reads "... (deleted)":
    // the entry names the new binary. A % is doubled, as field codes start
    // with it; the reserved characters are escaped inside the quotes.
    nativePlatform().setAutostart(true, "/opt/100% sure/harvix (deleted)");
    EXPECT_NE(readFile(entry).find("Exec=\"/opt/100%% sure/harvix\"\n"), std::string::npos);
    nativePlatform().setAutostart(true, "/opt/a$b\\c\"d/harvix");
    EXPECT_NE(readFile(entry).find("Exec=\"/opt/a\\\\$b\\\\\\\\c\\\\\"d/harvix\"\n"),
              std::string::npos);
    // A file that really has the suffix keeps it.
    const fs::path odd = dir / "harvix (deleted)";
    writeFile(odd, "");
    nativePlatform().setAutostart(true, odd);
    EXPECT_NE(readFile(entry).find("harvix (deleted)\"\n"), std::string::npos);
    // The desktop's own checker accepts what is written, where it is installed.
    nativePlatform().setAutostart(true, "/opt/100% sure/$HOME/harvix");
    if (std::system("command -v desktop-file-validate >/dev/null 2>&1") == 0) {
        const std::string check = "desktop-file-validate '" + entry.string() + "'";
        EXPECT_EQ(std::system(check.c_str()), 0) << readFile(entry);
    }
    nativePlatform().setAutostart(false, "/usr/bin/harvix");
    EXPECT_FALSE(fs::exists(entry));
    nativePlatform().setAutostart(false, "/usr/bin/harvix");  // a missing entry is no error
}

TEST(LinuxPlatform, FolderRule) {
    TempDir dir;
    IPlatform& p = nativePlatform();
    EXPECT_TRUE(p.isLocalFixedFolder(dir.path()));
    EXPECT_TRUE(p.isLocalFixedFolder(dir / "not" / "yet" / "made"));
    EXPECT_TRUE(p.isLocalFixedFolder("~/HX_FILES"));
    EXPECT_FALSE(p.isLocalFixedFolder("relative/folder"));
    EXPECT_FALSE(p.isLocalFixedFolder(""));
    EXPECT_FALSE(p.isLocalFixedFolder("C:\\HX_FILES"));
}

}  // namespace

namespace {

TEST(LinuxPlatform, SingleInstanceLockIsHeldForTheLifeOfTheProcess) {
    TempDir dir;
    ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path().string());
    ASSERT_TRUE(nativePlatform().acquireSingleInstance());
    EXPECT_TRUE(nativePlatform().acquireSingleInstance());  // this process holds it already
    const fs::path lock = dir / "HARVIX.lock";
    ASSERT_TRUE(fs::exists(lock));
    // Another process cannot take it without waiting.
    const std::string probe = "flock -n '" + lock.string() + "' true";
    EXPECT_NE(std::system(probe.c_str()), 0);
}

TEST(LinuxPlatform, TmpfsCountsAsLocal) {
    if (fs::is_directory("/dev/shm")) {
        EXPECT_TRUE(nativePlatform().isLocalFixedFolder("/dev/shm/harvix-not-made"));
    }
}

}  // namespace

}  // namespace harvix
