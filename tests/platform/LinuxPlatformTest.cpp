#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/Platform.h"
#include "support/TestSupport.h"

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
    IPlatform& p = NativePlatform();
    EXPECT_EQ(p.ExecutablePath().filename(), "harvix_tests");
    bool foundSelf = false;
    for (const ProcessInfo& info : p.ListProcesses()) {
        if (info.pid == getpid()) {
            foundSelf = true;
            EXPECT_EQ(info.imageName, "harvix_tests");
        }
    }
    EXPECT_TRUE(foundSelf);
}

TEST(LinuxPlatform, XdgFoldersFollowTheEnvironment) {
    TempDir dir;
    ScopedEnv cache("XDG_CACHE_HOME", (dir / "cache").string());
    ScopedEnv wine("WINEPREFIX", (dir / "wine").string());
    EXPECT_EQ(NativePlatform().LocalAppDataFolder(), dir / "cache");
    EXPECT_EQ(NativePlatform().WinePrefix(), dir / "wine");
    ScopedEnv relative("XDG_CACHE_HOME", "relative/path");
    ScopedEnv home("HOME", dir.path().string());
    EXPECT_EQ(NativePlatform().LocalAppDataFolder(), dir / ".cache");
}

TEST(LinuxPlatform, AutostartEntryIsWrittenAndRemoved) {
    TempDir dir;
    ScopedEnv config("XDG_CONFIG_HOME", dir.path().string());
    const fs::path entry = dir / "autostart" / "Harvix.desktop";
    NativePlatform().SetAutostart(true, "/opt/my apps/harvix");
    const std::string text = ReadFile(entry);
    EXPECT_NE(text.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(text.find("Exec=\"/opt/my apps/harvix\"\n"), std::string::npos);
    NativePlatform().SetAutostart(true, "/usr/bin/harvix");
    EXPECT_NE(ReadFile(entry).find("Exec=/usr/bin/harvix\n"), std::string::npos);
    // A binary replaced while it runs (an upgrade) reads "... (deleted)":
    // the entry names the new binary. A % is doubled, as field codes start
    // with it; the reserved characters are escaped inside the quotes.
    NativePlatform().SetAutostart(true, "/opt/100% sure/harvix (deleted)");
    EXPECT_NE(ReadFile(entry).find("Exec=\"/opt/100%% sure/harvix\"\n"), std::string::npos);
    NativePlatform().SetAutostart(true, "/opt/a$b\\c\"d/harvix");
    EXPECT_NE(ReadFile(entry).find("Exec=\"/opt/a\\\\$b\\\\\\\\c\\\\\"d/harvix\"\n"),
              std::string::npos);
    // A file that really has the suffix keeps it.
    const fs::path odd = dir / "harvix (deleted)";
    WriteFile(odd, "");
    NativePlatform().SetAutostart(true, odd);
    EXPECT_NE(ReadFile(entry).find("harvix (deleted)\"\n"), std::string::npos);
    // The desktop's own checker accepts what is written, where it is installed.
    NativePlatform().SetAutostart(true, "/opt/100% sure/$HOME/harvix");
    if (std::system("command -v desktop-file-validate >/dev/null 2>&1") == 0) {
        const std::string check = "desktop-file-validate '" + entry.string() + "'";
        EXPECT_EQ(std::system(check.c_str()), 0) << ReadFile(entry);
    }
    NativePlatform().SetAutostart(false, "/usr/bin/harvix");
    EXPECT_FALSE(fs::exists(entry));
    NativePlatform().SetAutostart(false, "/usr/bin/harvix");  // a missing entry is no error
}

TEST(LinuxPlatform, FolderRule) {
    TempDir dir;
    IPlatform& p = NativePlatform();
    EXPECT_TRUE(p.IsLocalFixedFolder(dir.path()));
    EXPECT_TRUE(p.IsLocalFixedFolder(dir / "not" / "yet" / "made"));
    EXPECT_TRUE(p.IsLocalFixedFolder("~/HX_FILES"));
    EXPECT_FALSE(p.IsLocalFixedFolder("relative/folder"));
    EXPECT_FALSE(p.IsLocalFixedFolder(""));
    EXPECT_FALSE(p.IsLocalFixedFolder("C:\\HX_FILES"));
}

TEST(LinuxPlatform, LastErrorTextComesFromErrno) {
    errno = ENOENT;
    EXPECT_EQ(NativePlatform().LastSystemErrorText(), "No such file or directory");
    errno = 0;
    EXPECT_EQ(NativePlatform().LastSystemErrorText(), "");
}

}  // namespace

namespace {

TEST(LinuxPlatform, SingleInstanceLockIsHeldForTheLifeOfTheProcess) {
    TempDir dir;
    ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path().string());
    ASSERT_TRUE(NativePlatform().AcquireSingleInstance());
    EXPECT_TRUE(NativePlatform().AcquireSingleInstance());  // this process holds it already
    const fs::path lock = dir / "HARVIX.lock";
    ASSERT_TRUE(fs::exists(lock));
    // Another process cannot take it without waiting.
    const std::string probe = "flock -n '" + lock.string() + "' true";
    EXPECT_NE(std::system(probe.c_str()), 0);
}

TEST(LinuxPlatform, TmpfsCountsAsLocal) {
    if (fs::is_directory("/dev/shm")) {
        EXPECT_TRUE(NativePlatform().IsLocalFixedFolder("/dev/shm/harvix-not-made"));
    }
}

}  // namespace
