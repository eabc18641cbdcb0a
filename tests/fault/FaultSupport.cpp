#include "fault/FaultSupport.h"

#include <fcntl.h>
#include <linux/loop.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "support/TestSupport.h"

namespace harvix {

namespace {

// Once per process: a mount namespace of its own whose mounts do not
// propagate to the rest of the system. When that is refused (not root, or
// other threads already run), mounts go to the shared namespace and are
// still removed by the destructor.
void EnterPrivateMountNamespace() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (geteuid() != 0 || unshare(CLONE_NEWNS) != 0) {
            return;
        }
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
    });
}

// Starts `argv` with its output thrown away; `dieWithUs` makes the child end
// when this process does. The child's pid, or -1.
pid_t Spawn(const std::vector<std::string>& argv, bool dieWithUs) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (dieWithUs) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
        }
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        std::vector<char*> args;
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

// Runs `argv` to its end; true when it exits with 0.
bool RunQuietly(const std::vector<std::string>& argv) {
    const pid_t pid = Spawn(argv, false);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

bool IsMountPoint(const fs::path& folder) {
    struct stat self {};
    struct stat parent {};
    return stat(folder.c_str(), &self) == 0 && stat(folder.parent_path().c_str(), &parent) == 0 &&
           self.st_dev != parent.st_dev;
}

int64_t Nanoseconds(const struct timespec& time) {
    return static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

}  // namespace

TmpfsMount::TmpfsMount(const fs::path& where, std::size_t bytes) : where_(where), bytes_(bytes) {
    std::error_code ec;
    fs::create_directories(where_, ec);
    if (geteuid() != 0) {
        failure_ = "mounting a tmpfs needs root";
        return;
    }
    EnterPrivateMountNamespace();
    const std::string options = "size=" + std::to_string(bytes_) + ",mode=0755";
    if (mount("tmpfs", where_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        failure_ = std::string("mount -t tmpfs failed: ") + std::strerror(errno);
        return;
    }
    mounted_ = true;
}

TmpfsMount::~TmpfsMount() {
    if (mounted_) {
        umount2(where_.c_str(), MNT_DETACH);
    }
}

bool TmpfsMount::setReadOnly(bool readOnly) {
    if (!mounted_) {
        return false;
    }
    const std::string options = "size=" + std::to_string(bytes_) + ",mode=0755";
    unsigned long flags = MS_REMOUNT | MS_NOSUID | MS_NODEV;
    if (readOnly) {
        flags |= MS_RDONLY;
    }
    return mount("tmpfs", where_.c_str(), "tmpfs", flags, options.c_str()) == 0;
}

StickMount::StickMount(const fs::path& where, Kind kind, std::size_t bytes)
    : where_(where), image_(where.string() + ".img") {
    std::error_code ec;
    fs::create_directories(where_, ec);
    if (geteuid() != 0) {
        failure_ = "mounting a disk image needs root";
        return;
    }
    const std::string mkfs = kind == Kind::ExfatFuse ? "mkfs.exfat" : "mkfs.vfat";
    const int image = open(image_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (image < 0 || ftruncate(image, static_cast<off_t>(bytes)) != 0) {
        failure_ = "no room for the disk image";
    }
    if (image >= 0) {
        close(image);
    }
    if (!failure_.empty()) {
        return;
    }
    if (!RunQuietly({mkfs, image_.string()})) {
        failure_ = mkfs + " failed or is missing (Debian: exfatprogs, dosfstools)";
        return;
    }
    EnterPrivateMountNamespace();
    std::string device;
    if (!attachLoop(image_, device)) {
        return;
    }
    if (kind == Kind::Vfat) {
        if (mount(device.c_str(), where_.c_str(), "vfat", MS_NOSUID | MS_NODEV, nullptr) != 0) {
            failure_ = std::string("mount -t vfat failed (no vfat in this kernel?): ") +
                       std::strerror(errno);
            return;
        }
        mounted_ = true;
        return;
    }
    if (access("/dev/fuse", R_OK | W_OK) != 0) {
        failure_ = "no /dev/fuse here";
        return;
    }
    // In the foreground (-d), as a child that dies with this process.
    server_ = Spawn({"mount.exfat-fuse", "-d", device, where_.string()}, true);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!IsMountPoint(where_)) {
        int status = 0;
        if (server_ < 0 || waitpid(server_, &status, WNOHANG) == server_ ||
            std::chrono::steady_clock::now() > deadline) {
            failure_ = "mount.exfat-fuse failed or is missing (Debian: exfat-fuse)";
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    mounted_ = true;
}

// A free loop device on `image` that lets go of it by itself once the last
// user (the mount) closes it.
bool StickMount::attachLoop(const fs::path& image, std::string& device) {
    const int control = open("/dev/loop-control", O_RDWR | O_CLOEXEC);
    const int backing = open(image.c_str(), O_RDWR | O_CLOEXEC);
    for (int attempt = 0; control >= 0 && backing >= 0 && attempt < 20 && loop_ < 0; ++attempt) {
        const int number = ioctl(control, LOOP_CTL_GET_FREE);
        if (number < 0) {
            break;
        }
        device = "/dev/loop" + std::to_string(number);
        loop_ = open(device.c_str(), O_RDWR | O_CLOEXEC);
        loop_config config{};
        config.fd = static_cast<uint32_t>(backing);
        config.info.lo_flags = LO_FLAGS_AUTOCLEAR;
        if (loop_ >= 0 && ioctl(loop_, LOOP_CONFIGURE, &config) != 0) {
            close(loop_);  // taken by another meanwhile: the next one
            loop_ = -1;
        }
    }
    if (control >= 0) {
        close(control);
    }
    if (backing >= 0) {
        close(backing);
    }
    if (loop_ < 0) {
        failure_ = std::string("no loop device: ") + std::strerror(errno);
        return false;
    }
    return true;
}

StickMount::~StickMount() {
    if (mounted_ && umount2(where_.c_str(), 0) != 0) {
        umount2(where_.c_str(), MNT_DETACH);
    }
    if (server_ > 0) {
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (waitpid(server_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(server_, SIGKILL);
                waitpid(server_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    if (loop_ >= 0) {
        close(loop_);  // the device lets go of the image after its last user
    }
    std::error_code ec;
    fs::remove(image_, ec);
}

std::uintmax_t fillDisk(const fs::path& folder, const std::string& name) {
    const fs::path path = folder / name;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        return 0;
    }
    const std::vector<char> chunk(4096, 'F');
    std::uintmax_t written = 0;
    for (;;) {
        const ssize_t n = write(fd, chunk.data(), chunk.size());
        if (n <= 0) {
            break;
        }
        written += static_cast<std::uintmax_t>(n);
    }
    close(fd);
    return written;
}

std::map<std::string, FileState> snapshotFolder(const fs::path& folder) {
    std::map<std::string, FileState> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        struct stat info {};
        if (lstat(it->path().c_str(), &info) != 0) {
            continue;
        }
        FileState state;
        state.mode = info.st_mode;
        state.size = info.st_size;
        state.mtimeNs = Nanoseconds(info.st_mtim);
        state.ctimeNs = Nanoseconds(info.st_ctim);
        state.inode = info.st_ino;
        if (S_ISREG(info.st_mode)) {
            state.bytes = readFile(it->path());
        }
        files[fs::relative(it->path(), folder).string()] = std::move(state);
    }
    return files;
}

void ageFiles(const fs::path& folder) {
    const struct timespec times[2] = {{1325376000, 0}, {1325376000, 0}};
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        utimensat(AT_FDCWD, it->path().c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
    utimensat(AT_FDCWD, folder.c_str(), times, 0);
}

std::size_t countTemporaryFiles(const fs::path& folder) {
    std::size_t count = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const bool hidden = !name.empty() && name.front() == '.';
        if (hidden || name.find(".tmp") != std::string::npos ||
            name.find(".part") != std::string::npos) {
            ++count;
        }
    }
    return count;
}

}  // namespace harvix
