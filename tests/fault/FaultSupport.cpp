#include "fault/FaultSupport.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
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
