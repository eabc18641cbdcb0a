#include "platform/NewFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace harvix {

namespace {

// The best way of naming a copy that is tried (tests lower it).
std::atomic<NewFile::Naming> g_bestNaming{NewFile::Naming::Anonymous};

bool mayTry(NewFile::Naming way) {
    return static_cast<int>(g_bestNaming.load()) <= static_cast<int>(way);
}

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
// A temporary name being created on another thread when the handler runs
// would be made after the handler removed the names it knew: the handler
// says it is ending, and waits for creations under way, which then stand in
// the table (each name is claimed before its file is made).
std::atomic<int> g_creating{0};
std::atomic<bool> g_ending{false};

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

// Errors that say the file system does not offer a way of naming (as
// opposed to a failure of this name or this folder).
bool notOffered(int error) {
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EINVAL;
}

// Copies the whole of `from` (its size now) to the start of `to`.
bool copyWhole(int from, int to) {
    struct stat st {};
    if (fstat(from, &st) != 0) {
        return false;
    }
    loff_t in = 0;
    loff_t out = 0;
    const loff_t size = st.st_size;
    while (in < size) {
        const auto chunk = static_cast<std::size_t>(std::min<loff_t>(size - in, 1 << 30));
        const ssize_t n = ::copy_file_range(from, &in, to, &out, chunk, 0);
        if (n > 0) {
            continue;
        }
        if (n == 0) {
            errno = EIO;  // the file shrank meanwhile
            return false;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) {
            break;  // not offered here: copy through a buffer
        }
        return false;
    }
    std::vector<char> buffer(static_cast<std::size_t>(std::min<loff_t>(size - in, 1 << 18)));
    while (in < size) {
        const auto want = static_cast<std::size_t>(std::min<loff_t>(size - in, 1 << 18));
        const ssize_t got = ::pread(from, buffer.data(), want, in);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            if (got == 0) {
                errno = EIO;
            }
            return false;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::pwrite(to, buffer.data() + done,
                                         static_cast<std::size_t>(got - done), out + done);
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put <= 0) {
                if (put == 0) {
                    errno = ENOSPC;
                }
                return false;
            }
            done += put;
        }
        in += got;
        out += got;
    }
    return true;
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
    if (mayTry(Naming::Anonymous)) {
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
    g_creating.fetch_add(1);
    struct Created {
        Created() = default;
        Created(const Created&) = delete;
        Created& operator=(const Created&) = delete;
        ~Created() { g_creating.fetch_sub(1); }
    } created;
    if (g_ending.load()) {
        file.error_ = EINTR;  // the program is ending: no new name
        return file;
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
        error_ = EBADF;
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
                error_ = errno;
                return false;
            }
            refused = errno == ENOENT || errno == EPERM;
        }
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            error_ = errno;
            return false;
        }
        if (refused) {
            emptyPathRefused.store(true, std::memory_order_relaxed);
        }
        linked_ = true;
        return true;
    }

    // A hidden name: a hard link where the file system has them.
    bool named = false;
    if (mayTry(Naming::HardLink)) {
        if (::link(tempName_.c_str(), target.c_str()) == 0) {
            named = true;
            ::unlink(tempName_.c_str());
        } else if (!notOffered(errno)) {
            error_ = errno;
            return false;
        }
    }
    // No hard links (FAT, exFAT): a rename that refuses an existing name.
    if (!named && mayTry(Naming::RenameNoReplace)) {
        if (::renameat2(AT_FDCWD, tempName_.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) ==
            0) {
            named = true;
        } else if (!notOffered(errno)) {
            error_ = errno;
            return false;
        }
    }
    if (!named && !nameByCopy(target)) {
        return false;
    }
    releaseSlot(slot_);
    slot_ = -1;
    tempName_.clear();
    linked_ = true;
    return true;
}

// Neither a link nor a safe rename: the name is created with O_EXCL (so an
// existing file is never touched) and the finished copy written into it.
// While it is written the name is known to the signal handler; a failure
// removes it. On success the hidden name goes and the named file stays open.
bool NewFile::nameByCopy(const std::string& target) {
    const int out =
        ::open(target.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (out < 0) {
        error_ = errno;
        return false;
    }
    const int targetSlot = claimSlot(target);
    if (!copyWhole(fd_, out)) {
        error_ = errno;
        ::unlink(target.c_str());
        releaseSlot(targetSlot);
        ::close(out);
        errno = error_;
        return false;
    }
    releaseSlot(targetSlot);
    ::unlink(tempName_.c_str());
    ::close(fd_);
    fd_ = out;
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
    g_ending.store(true);
    // At most two seconds: the handler may have stopped the very thread
    // that was creating one.
    const timespec tick{0, 10'000'000};
    for (int i = 0; i < 200 && g_creating.load() > 0; ++i) {
        nanosleep(&tick, nullptr);
    }
    for (auto& slot : g_slots) {
        if (slot.used.load() && slot.path[0] != '\0') {
            ::unlink(slot.path);
        }
    }
}

void NewFile::setBestNamingForTesting(Naming best) {
    g_bestNaming = best;
}

}  // namespace harvix
