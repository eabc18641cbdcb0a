#include "platform/NewFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

namespace harvix {

namespace {

std::atomic<bool> g_anonymousAllowed{true};

// Temporary names in use, for the signal handler: a fixed table of plain
// character arrays, claimed and released through an atomic flag, so that
// the handler reads nothing that is being allocated or freed.
constexpr int kSlots = 64;
struct TemporarySlot {
    std::atomic<bool> used{false};
    char path[PATH_MAX] = {};
};
std::array<TemporarySlot, kSlots> g_slots;
std::atomic<unsigned> g_counter{0};

int claimSlot(const std::string& path) {
    if (path.size() >= PATH_MAX) {
        return -1;
    }
    for (std::size_t i = 0; i < g_slots.size(); ++i) {
        bool expected = false;
        if (!g_slots[i].used.load() && g_slots[i].used.compare_exchange_strong(expected, true)) {
            std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
            return static_cast<int>(i);
        }
    }
    return -1;
}

void releaseSlot(int slot) {
    if (slot >= 0) {
        TemporarySlot& entry = g_slots[static_cast<std::size_t>(slot)];
        entry.path[0] = '\0';
        entry.used.store(false);
    }
}

std::string temporaryPath(const fs::path& folder, unsigned n) {
    return (folder / (".hx-" + std::to_string(getpid()) + "-" + std::to_string(n) + ".tmp"))
        .string();
}

}  // namespace

NewFile::~NewFile() {
    discard();
}

NewFile::NewFile(NewFile&& other) noexcept
    : fd_(other.fd_),
      error_(other.error_),
      slot_(other.slot_),
      linked_(other.linked_),
      folder_(std::move(other.folder_)),
      tempName_(std::move(other.tempName_)) {
    other.fd_ = -1;
    other.slot_ = -1;
    other.tempName_.clear();
}

NewFile& NewFile::operator=(NewFile&& other) noexcept {
    if (this != &other) {
        discard();
        fd_ = other.fd_;
        error_ = other.error_;
        slot_ = other.slot_;
        linked_ = other.linked_;
        folder_ = std::move(other.folder_);
        tempName_ = std::move(other.tempName_);
        other.fd_ = -1;
        other.slot_ = -1;
        other.tempName_.clear();
    }
    return *this;
}

NewFile NewFile::create(const fs::path& folder) {
    NewFile file;
    file.folder_ = folder;
    if (g_anonymousAllowed.load()) {
        const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0644);
        if (fd >= 0) {
            file.fd_ = fd;
            return file;
        }
        // EOPNOTSUPP (and EISDIR on old kernels): the file system has no
        // anonymous files; anything else is a real failure of the folder.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            file.error_ = errno;
            return file;
        }
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = temporaryPath(folder, g_counter.fetch_add(1));
        const int slot = claimSlot(path);
        const int fd =
            ::open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd >= 0) {
            file.fd_ = fd;
            file.slot_ = slot;  // -1 when the table is full: removed on every ordinary path
            file.tempName_ = path;
            return file;
        }
        const int error = errno;
        releaseSlot(slot);
        if (error != EEXIST) {
            file.error_ = error;
            return file;
        }
    }
    file.error_ = EEXIST;
    return file;
}

bool NewFile::linkAs(const std::string& name) {
    if (fd_ < 0 || linked_) {
        errno = EBADF;
        return false;
    }
    const std::string target = (folder_ / name).string();
    if (tempName_.empty()) {
        // An anonymous file: the descriptor itself is linked. AT_EMPTY_PATH
        // needs a privilege ordinary users lack; the /proc link does not.
        // Once refused where the /proc link works, the privileged form is
        // not tried again.
        static std::atomic<bool> emptyPathRefused{false};
        bool refused = false;
        if (!emptyPathRefused.load(std::memory_order_relaxed)) {
            if (::linkat(fd_, "", AT_FDCWD, target.c_str(), AT_EMPTY_PATH) == 0) {
                linked_ = true;
                return true;
            }
            if (errno == EEXIST) {
                return false;
            }
            refused = errno == ENOENT || errno == EPERM;
        }
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            return false;
        }
        if (refused) {
            emptyPathRefused.store(true, std::memory_order_relaxed);
        }
    } else {
        if (::link(tempName_.c_str(), target.c_str()) != 0) {
            return false;
        }
        ::unlink(tempName_.c_str());
        releaseSlot(slot_);
        slot_ = -1;
        tempName_.clear();
    }
    linked_ = true;
    return true;
}

bool NewFile::truncate() {
    return fd_ >= 0 && ::ftruncate(fd_, 0) == 0 && ::lseek(fd_, 0, SEEK_SET) == 0;
}

void NewFile::discard() {
    if (!tempName_.empty()) {
        ::unlink(tempName_.c_str());
        tempName_.clear();
    }
    releaseSlot(slot_);
    slot_ = -1;
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void NewFile::removeTemporariesNow() {
    for (auto& slot : g_slots) {
        if (slot.used.load() && slot.path[0] != '\0') {
            ::unlink(slot.path);
        }
    }
}

void NewFile::setAnonymousFilesForTesting(bool allowed) {
    g_anonymousAllowed = allowed;
}

}  // namespace harvix
