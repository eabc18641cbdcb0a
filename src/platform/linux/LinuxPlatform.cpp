// The Linux implementation of the platform services.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>

#include "platform/AtomicFile.h"
#include "platform/Path.h"
#include "platform/Platform.h"
#include "platform/linux/Mounts.h"

namespace harvix {

#ifndef HARVIX_DATADIR
#define HARVIX_DATADIR "/usr/local/share/harvix"
#endif

namespace {

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// An XDG base folder: the variable when it holds an absolute path, else the
// fallback below the home folder.
fs::path xdgFolder(const char* variable, const fs::path& home, const char* fallback) {
    const std::string value = environmentValue(variable);
    if (!value.empty() && value.front() == '/') {
        return pathFromUtf8(value);
    }
    return home / fallback;
}

// The start of a file of /proc (at most `limit` bytes), with one open and
// one read: the process table reads several per process on every poll of
// every monitor. Empty when the process has ended.
std::string readProcFile(const fs::path& path, std::size_t limit) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return {};
    }
    std::string data(limit, '\0');
    ssize_t got = -1;
    do {
        got = read(fd, data.data(), limit);
    } while (got < 0 && errno == EINTR);
    close(fd);
    data.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return data;
}

class LinuxPlatform final : public IPlatform {
public:
    fs::path executablePath() override {
        std::error_code ec;
        fs::path exe = fs::read_symlink("/proc/self/exe", ec);
        if (ec) {
            return fs::current_path(ec) / "harvix";
        }
        return liveExecutablePath(exe);
    }

    fs::path homeFolder() override {
        const std::string home = environmentValue("HOME");
        if (!home.empty()) {
            return pathFromUtf8(home);
        }
        if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
            return pathFromUtf8(pw->pw_dir);
        }
        return "/tmp";
    }

    fs::path settingsFolder(const fs::path& exeDir) override {
        // A program folder that carries its own data files and may be
        // written is a portable copy (or the build tree): its settings stay
        // beside it. An installed program keeps them per user.
        std::error_code ec;
        if (fs::is_directory(exeDir / "Langs", ec) && access(exeDir.c_str(), W_OK) == 0) {
            return exeDir;
        }
        // Only named here: the first save makes it (Settings::saveSettings).
        return configFolder() / "Harvix";
    }

    fs::path dataFolder(const fs::path& exeDir) override {
        std::error_code ec;
        if (fs::is_directory(exeDir / "Langs", ec)) {
            return exeDir;
        }
        const fs::path besidePrefix = exeDir.parent_path() / "share" / "harvix";
        if (fs::is_directory(besidePrefix / "Langs", ec)) {
            return besidePrefix;
        }
        return HARVIX_DATADIR;
    }

    fs::path configFolder() override {
        return xdgFolder("XDG_CONFIG_HOME", homeFolder(), ".config");
    }

    bool isProgramInstalled(const std::string& name) override {
        if (name.empty() || name.find('/') != std::string::npos) {
            return false;
        }
        // Each folder of the search path, then the Snap programs' folder,
        // which a desktop session's search path may lack.
        std::string path = environmentValue("PATH");
        path += ":/snap/bin";
        std::size_t start = 0;
        while (start <= path.size()) {
            std::size_t end = path.find(':', start);
            if (end == std::string::npos) {
                end = path.size();
            }
            const std::string folder = path.substr(start, end - start);
            if (!folder.empty() && folder.front() == '/' &&
                ::access((folder + "/" + name).c_str(), X_OK) == 0) {
                return true;
            }
            start = end + 1;
        }
        return false;
    }

    fs::path localAppDataFolder() override {
        return xdgFolder("XDG_CACHE_HOME", homeFolder(), ".cache");
    }

    fs::path winePrefix() override {
        const std::string prefix = environmentValue("WINEPREFIX");
        if (!prefix.empty() && prefix.front() == '/') {
            return pathFromUtf8(prefix);
        }
        return homeFolder() / ".wine";
    }

    std::string userName() override {
        std::string user = environmentValue("USER");
        if (user.empty()) {
            if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_name != nullptr) {
                user = pw->pw_name;
            }
        }
        return user;
    }

    std::vector<ProcessInfo> listProcesses() override {
        std::vector<ProcessInfo> result;
        const int64_t self = getuid();
        std::error_code ec;
        for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) {
                continue;
            }
            std::string comm = readProcFile(it->path() / "comm", 64);
            if (comm.empty()) {
                continue;  // the process ended meanwhile
            }
            if (comm.back() == '\n') {
                comm.pop_back();
            }
            ProcessInfo info;
            info.pid = std::stoll(name);
            info.uid = realUserId(it->path());
            const std::string cmdline = comm.size() >= 15 || info.uid == self
                                            ? readProcFile(it->path() / "cmdline", 4096)
                                            : std::string();
            const std::string argv0 = cmdline.substr(0, cmdline.find('\0'));
            info.imageName = fullImageName(comm, argv0);
            if (info.uid == self) {
                // What tells a browser from its namesakes and its packaged
                // installs; another user's process is never a match.
                info.argv0 = argv0;
                info.executable = executableOf(it->path());
                if (info.executable.starts_with("/app/")) {
                    info.packageId = flatpakAppId(it->path());
                }
            }
            result.push_back(std::move(info));
        }
        return result;
    }

    bool terminateProcess(int64_t pid) override {
        return pid > 0 && kill(static_cast<pid_t>(pid), SIGTERM) == 0;
    }

    int64_t currentProcessId() override { return getpid(); }

    int64_t currentUserId() override { return getuid(); }

    // The real user id of a process: the first number of the "Uid:" line of
    // its status file; -1 when the process ended meanwhile.
    static int64_t realUserId(const fs::path& procDir) {
        // "Uid:" is on the ninth line, well within the first kilobyte.
        const std::string status = readProcFile(procDir / "status", 1024);
        const std::size_t at = status.find("\nUid:");
        if (at == std::string::npos) {
            return -1;
        }
        return std::strtoll(status.c_str() + at + 5, nullptr, 10);
    }

    void setAutostart(bool enable, const fs::path& exePath) override {
        const fs::path folder = configFolder() / "autostart";
        const fs::path entry = folder / "Harvix.desktop";
        std::error_code ec;
        if (!enable) {
            fs::remove(entry, ec);
            return;
        }
        fs::create_directories(folder, ec);
        std::string text =
            "[Desktop Entry]\n"
            "Type=Application\n"
            "Name=Harvix\n"
            "Comment=Combs web-browser caches for the files you want\n"
            "Exec=" +
            desktopExecQuote(pathToUtf8(liveExecutablePath(exePath))) +
            "\n"
            "Icon=harvix\n"
            "Terminal=false\n"
            "X-GNOME-Autostart-enabled=true\n";
        writeFileAtomically(entry, text);  // failures stay silent
    }

    bool acquireSingleInstance() override {
        static int heldFd = -1;
        if (heldFd >= 0) {
            return true;
        }
        const std::string runtime = environmentValue("XDG_RUNTIME_DIR");
        fs::path lockPath;
        std::error_code ec;
        if (!runtime.empty() && fs::is_directory(pathFromUtf8(runtime), ec)) {
            lockPath = pathFromUtf8(runtime) / "HARVIX.lock";
        } else {
            lockPath = "/tmp/HARVIX-" + std::to_string(getuid()) + ".lock";
        }
        const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            return true;  // no marker can be made: do not keep the user from starting
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            return false;
        }
        heldFd = fd;  // held for the life of the process
        return true;
    }

    bool isLocalFixedFolder(const fs::path& folder) override {
        fs::path path = folder;
        const std::string text = pathToUtf8(folder);
        if (text == "~" || text.rfind("~/", 0) == 0) {
            path = homeFolder() / pathFromUtf8(text.size() > 2 ? text.substr(2) : std::string());
        }
        if (!path.is_absolute()) {
            return false;
        }
        return isLocalFixedPath(path);
    }

private:
    // /proc/<pid>/comm is cut at 15 bytes; then the base name of argv[0]
    // (a Unix or a Windows path, as Wine shows it) gives the whole name when
    // it starts with the cut one.
    static std::string fullImageName(const std::string& comm, const std::string& argv0) {
        if (comm.size() < 15) {
            return comm;
        }
        const std::size_t cut = argv0.find_last_of("/\\");
        const std::string base = cut == std::string::npos ? argv0 : argv0.substr(cut + 1);
        if (base.size() > comm.size() && base.compare(0, comm.size(), comm) == 0) {
            return base;
        }
        return comm;
    }

    // The target of /proc/<pid>/exe, without the " (deleted)" the kernel
    // adds once the binary was replaced (a browser upgraded while it runs);
    // empty when it cannot be read (a kernel thread, the process ended).
    static std::string executableOf(const fs::path& procDir) {
        std::error_code ec;
        const fs::path target = fs::read_symlink(procDir / "exe", ec);
        if (ec) {
            return {};
        }
        static constexpr std::string_view kDeleted = " (deleted)";
        std::string text = pathToUtf8(target);
        if (text.ends_with(kDeleted)) {
            text.resize(text.size() - kDeleted.size());
        }
        return text;
    }

    // The application id of a Flatpak sandbox: the "name" of the
    // [Application] group in the .flatpak-info file at the sandbox's root,
    // which Flatpak writes for every app it runs (the desktop portals read
    // it the same way). The file lies in the process's own world: it is read
    // only when it is a regular file, without waiting, and at most 4 KiB.
    static std::string flatpakAppId(const fs::path& procDir) {
        const fs::path info = procDir / "root" / ".flatpak-info";
        const int fd =
            open(info.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            return {};
        }
        struct stat st {};
        std::string text;
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            text.resize(4096);
            const ssize_t got = read(fd, text.data(), text.size());
            text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        }
        close(fd);
        bool inApplication = false;
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            if (line.starts_with("[")) {
                inApplication = line.starts_with("[Application]");
            } else if (inApplication && line.starts_with("name=")) {
                std::string id = line.substr(5);
                while (!id.empty() && (id.back() == '\r' || id.back() == ' ')) {
                    id.pop_back();
                }
                return id;
            }
        }
        return {};
    }

    // Once the running binary is replaced (a package upgrade, a rebuild),
    // the kernel names it "<path> (deleted)". The autostart entry and
    // anything else that starts the program again needs the path the new
    // binary has, so the suffix goes unless a file really has that name.
    static fs::path liveExecutablePath(const fs::path& path) {
        static constexpr std::string_view kDeleted = " (deleted)";
        const std::string text = pathToUtf8(path);
        std::error_code ec;
        if (text.size() > kDeleted.size() && text.ends_with(kDeleted) && !fs::exists(path, ec)) {
            return pathFromUtf8(text.substr(0, text.size() - kDeleted.size()));
        }
        return path;
    }

    // The path as one argument of a desktop entry's Exec key. A path with a
    // character the key reserves goes in double quotes, where a backslash
    // escapes the double quote, the backquote, the dollar sign and itself;
    // each backslash of that quoting is doubled again for the file's string
    // escapes. A % is written %% wherever it stands, as field codes start
    // with it.
    static std::string desktopExecQuote(const std::string& path) {
        std::string out;
        const bool quoted = path.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos;
        if (quoted) {
            out.push_back('"');
        }
        for (const char ch : path) {
            if (ch == '%') {
                out += "%%";
            } else if (ch == '\\') {
                out += "\\\\\\\\";
            } else if (ch == '"' || ch == '`' || ch == '$') {
                out += "\\\\";
                out.push_back(ch);
            } else if (ch == '\n') {
                out += "\\n";  // the string escape; quoted, it stays one argument
            } else {
                out.push_back(ch);
            }
        }
        if (quoted) {
            out.push_back('"');
        }
        return out;
    }
};

}  // namespace

IPlatform& nativePlatform() {
    static LinuxPlatform instance;
    return instance;
}

}  // namespace harvix
