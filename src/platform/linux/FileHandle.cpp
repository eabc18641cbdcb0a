#include "platform/FileHandle.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <deque>
#include <string>
#include <vector>

namespace harvix {

namespace {

// The flags every read of an untrusted file uses: no final link, no waiting
// on a FIFO or a device, not inherited by a child process.
constexpr int kReadFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

// Links followed by hand below a root before the path counts as a loop (the
// kernel's own bound).
constexpr int kMaxLinks = 40;

// Tests only: false makes openBelow walk a path by hand as on kernels
// without openat2.
std::atomic<bool> g_kernelResolution{true};

// True when `path` has no ".." and no "." component, so that a lexical test
// of its position says where it lies.
bool isPlain(const fs::path& path) {
    return std::none_of(path.begin(), path.end(),
                        [](const fs::path& part) { return part == ".." || part == "."; });
}

// True when `path` lies strictly below `root`, judged by their components.
bool isLexicallyBelow(const fs::path& path, const fs::path& root) {
    auto pi = path.begin();
    for (auto ri = root.begin(); ri != root.end(); ++ri, ++pi) {
        if (ri->empty() && std::next(ri) == root.end()) {
            break;  // a trailing separator
        }
        if (pi == path.end() || *pi != *ri) {
            return false;
        }
    }
    return pi != path.end();
}

// The components of `path` after those of `root` (".." kept: the open below
// the root decides where they lead), or false when `path` does not start
// with `root`.
bool componentsBelow(const fs::path& path, const fs::path& root, fs::path& rest) {
    auto pi = path.begin();
    for (auto ri = root.begin(); ri != root.end(); ++ri, ++pi) {
        if (ri->empty() && std::next(ri) == root.end()) {
            break;  // a trailing separator
        }
        if (pi == path.end() || *pi != *ri) {
            return false;
        }
    }
    rest.clear();
    for (; pi != path.end(); ++pi) {
        rest /= *pi;
    }
    return true;
}

void closeAll(std::vector<int>& fds) {
    for (const int fd : fds) {
        ::close(fd);
    }
    fds.clear();
}

// Opens `rest` below the folder `rootFd` (the folder `root`) one component
// at a time, each folder with O_NOFOLLOW from the handle of the one before,
// so that nothing swapped in meanwhile can lead elsewhere. ".." goes back to
// the folder the walk came from and never above the root; a link on the way
// is read and walked in its place (relative: from its folder; absolute: from
// the root, when it names a place below it), at most kMaxLinks of them. The
// final component is opened with the read flags (a final link: ELOOP). -1
// with errno set on failure: EXDEV for a path that leads out of the root.
int walkBelow(int rootFd, const fs::path& root, const fs::path& rest) {
    std::vector<int> folders;
    const int first = ::fcntl(rootFd, F_DUPFD_CLOEXEC, 0);
    if (first < 0) {
        return -1;
    }
    folders.push_back(first);
    std::deque<std::string> parts;
    for (const auto& part : rest) {
        parts.push_back(part.string());
    }
    int links = 0;
    int error = 0;
    int result = -1;
    while (!parts.empty()) {
        const std::string name = parts.front();
        parts.pop_front();
        if (name.empty() || name == "." || name == "/") {
            continue;
        }
        if (name == "..") {
            if (folders.size() == 1) {
                error = EXDEV;
                break;
            }
            ::close(folders.back());
            folders.pop_back();
            continue;
        }
        const bool last = std::none_of(parts.begin(), parts.end(), [](const std::string& p) {
            return !p.empty() && p != "." && p != "/";
        });
        if (last) {
            do {
                result = ::openat(folders.back(), name.c_str(), kReadFlags);
            } while (result < 0 && errno == EINTR);
            error = result < 0 ? errno : 0;
            break;
        }
        const int next =
            ::openat(folders.back(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next >= 0) {
            folders.push_back(next);
            continue;
        }
        const int openError = errno;
        if (openError != ENOTDIR && openError != ELOOP) {
            error = openError;
            break;
        }
        // Perhaps a link: read it and walk its target in its place.
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlinkat(folders.back(), name.c_str(), target.data(), target.size());
        if (n < 0 || static_cast<std::size_t>(n) >= target.size()) {
            error = openError;  // not a link (a file on the way): ENOTDIR
            break;
        }
        target.resize(static_cast<std::size_t>(n));
        if (++links > kMaxLinks) {
            error = ELOOP;
            break;
        }
        fs::path targetRest = target;
        if (targetRest.is_absolute()) {
            if (!componentsBelow(fs::path(target), root, targetRest)) {
                error = EXDEV;
                break;
            }
            while (folders.size() > 1) {
                ::close(folders.back());
                folders.pop_back();
            }
        }
        std::vector<std::string> inserted;
        for (const auto& part : targetRest) {
            inserted.push_back(part.string());
        }
        parts.insert(parts.begin(), inserted.begin(), inserted.end());
    }
    if (result < 0 && error == 0) {
        error = EISDIR;  // the path names the root itself
    }
    closeAll(folders);
    errno = error;
    return result;
}

// Opens `rest` below the folder `root` so that no link on the way, ".." or
// anything swapped in meanwhile leads out of it: openat2 with
// RESOLVE_BENEATH from a handle of the root, which follows links that stay
// below it; absolute links (which RESOLVE_BENEATH refuses) and kernels
// without openat2 take the walk by hand.
int openBeneath(const fs::path& root, const fs::path& rest) {
    const int rootFd = ::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0) {
        return -1;
    }
    long fd = -1;
    if (g_kernelResolution.load(std::memory_order_relaxed)) {
        open_how how{};
        how.flags = static_cast<uint64_t>(kReadFlags);
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
        do {
            fd = ::syscall(SYS_openat2, rootFd, rest.c_str(), &how, sizeof how);
        } while (fd < 0 && errno == EINTR);
    } else {
        errno = ENOSYS;
    }
    if (fd < 0 && (errno == EXDEV || errno == ENOSYS || errno == EPERM || errno == EAGAIN)) {
        fd = walkBelow(rootFd, root, rest);
    }
    const int error = errno;
    ::close(rootFd);
    errno = error;
    return static_cast<int>(fd);
}

// Opens `path` with the read flags, failing with ELOOP when any component
// is a symbolic link (openat2's RESOLVE_NO_SYMLINKS; ENOSYS before Linux 5.6).
int openWithoutLinks(const fs::path& path) {
    open_how how{};
    how.flags = static_cast<uint64_t>(kReadFlags);
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    long fd = -1;
    do {
        fd = ::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how);
    } while (fd < 0 && errno == EINTR);
    return static_cast<int>(fd);
}

}  // namespace

FileHandle::~FileHandle() {
    close();
}

FileHandle::FileHandle(FileHandle&& other) noexcept
    : fd_(other.fd_), error_(other.error_), sizeAtOpen_(other.sizeAtOpen_) {
    other.fd_ = -1;
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        error_ = other.error_;
        sizeAtOpen_ = other.sizeAtOpen_;
        other.fd_ = -1;
    }
    return *this;
}

FileHandle FileHandle::failed(int error) {
    FileHandle handle;
    handle.error_ = error;
    errno = error;
    return handle;
}

FileHandle FileHandle::openForReading(const fs::path& path) {
    int fd = -1;
    do {
        fd = ::open(path.c_str(), kReadFlags);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return failed(errno);
    }
    return checkedRegular(fd);
}

FileHandle FileHandle::checkedRegular(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        return failed(error);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return failed(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    }
    FileHandle handle(fd);
    handle.sizeAtOpen_ = static_cast<uint64_t>(st.st_size);
    return handle;
}

FileHandle FileHandle::openBelow(const fs::path& root, const fs::path& path) {
    const fs::path full = path.is_absolute() ? path : root / path;
    const fs::path parent = full.parent_path();
    // The common case costs nothing: a file right in the (resolved) root.
    if (parent == root && isPlain(full.filename())) {
        return openForReading(full);
    }
    // A path that names a place below the root without "." or ".." lies
    // below it for certain when no component is a link: the root is
    // resolved, so the kernel's refusal of every link on the way proves it
    // in the one call that opens the file.
    if (isPlain(full) && isLexicallyBelow(full, root)) {
        const int fd = openWithoutLinks(full);
        if (fd >= 0) {
            return checkedRegular(fd);
        }
        if (errno != ELOOP && errno != ENOSYS && errno != EPERM && errno != EAGAIN) {
            return failed(errno);
        }
        // A link on the way (or an older kernel): the open below the root
        // decides whether it stays there.
    }
    fs::path rest;
    if (!componentsBelow(full, root, rest)) {
        // Another spelling of a place below the root (through a link to the
        // cache folder): its folder resolved says where, and the open below
        // the root makes sure.
        const fs::path folder = resolveFolder(parent);
        if (!componentsBelow(folder, root, rest)) {
            return failed(EXDEV);
        }
        rest /= full.filename();
    }
    const int fd = openBeneath(root, rest);
    if (fd < 0) {
        return failed(errno);
    }
    return checkedRegular(fd);
}

void FileHandle::setKernelResolutionForTesting(bool allowed) {
    g_kernelResolution = allowed;
}

uint64_t FileHandle::size() const {
    struct stat st {};
    if (fd_ < 0 || fstat(fd_, &st) != 0) {
        return 0;
    }
    return static_cast<uint64_t>(st.st_size);
}

std::size_t FileHandle::readAt(uint64_t offset, void* buffer, std::size_t n) const {
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return done;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

bool FileHandle::readExactAt(uint64_t offset, void* buffer, std::size_t n) const {
    errno = 0;
    const std::size_t got = readAt(offset, buffer, n);
    if (got != n && errno == 0) {
        errno = EIO;
    }
    return got == n;
}

std::size_t FileHandle::readAt(uint64_t offset, void* buffer, std::size_t n, int& error) const {
    errno = 0;
    const std::size_t got = readAt(offset, buffer, n);
    error = got < n ? errno : 0;
    return got;
}

int FileHandle::readExactError(uint64_t offset, void* buffer, std::size_t n) const {
    return readExactAt(offset, buffer, n) ? 0 : errno;
}

void FileHandle::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool writeAll(int fd, const void* data, std::size_t n) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (n > 0) {
        const ssize_t put = ::write(fd, bytes, n);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (put == 0) {
            errno = ENOSPC;
            return false;
        }
        bytes += put;
        n -= static_cast<std::size_t>(put);
    }
    return true;
}

bool copyRange(const FileHandle& in, uint64_t offset, uint64_t length, int outFd) {
    loff_t inOffset = static_cast<loff_t>(offset);
    uint64_t left = length;
    // The kernel copies without the data passing through this process where
    // both file systems allow it.
    while (left > 0) {
        const std::size_t chunk = static_cast<std::size_t>(std::min<uint64_t>(left, 1u << 30));
        const ssize_t n = ::copy_file_range(in.fd(), &inOffset, outFd, nullptr, chunk, 0);
        if (n > 0) {
            left -= static_cast<uint64_t>(n);
            continue;
        }
        if (n == 0) {
            errno = EIO;  // the source ends before the entry does
            return false;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
            errno == EPERM || errno == ETXTBSY) {
            break;  // not offered here: copy through a buffer
        }
        return false;
    }
    std::vector<unsigned char> buffer(static_cast<std::size_t>(std::min<uint64_t>(left, 1u << 18)));
    while (left > 0) {
        const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(left, buffer.size()));
        errno = 0;
        const std::size_t got = in.readAt(static_cast<uint64_t>(inOffset), buffer.data(), want);
        if (got == 0) {
            if (errno == 0) {
                errno = EIO;
            }
            return false;
        }
        if (!writeAll(outFd, buffer.data(), got)) {
            return false;
        }
        inOffset += static_cast<loff_t>(got);
        left -= got;
    }
    return true;
}

int copyRangeError(const FileHandle& in, uint64_t offset, uint64_t length, int outFd) {
    errno = 0;
    if (copyRange(in, offset, length, outFd)) {
        return 0;
    }
    return errno != 0 ? errno : EIO;
}

int writeAllError(int fd, const void* data, std::size_t n) {
    errno = 0;
    if (writeAll(fd, data, n)) {
        return 0;
    }
    return errno != 0 ? errno : EIO;
}

int cutBackError(int fd, uint64_t size) {
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0 ||
        ::lseek(fd, static_cast<off_t>(size), SEEK_SET) < 0) {
        return errno;
    }
    return 0;
}

fs::path resolveFolder(const fs::path& folder) {
    std::error_code ec;
    fs::path resolved = fs::weakly_canonical(fs::absolute(folder, ec), ec);
    if (ec) {
        return fs::absolute(folder, ec).lexically_normal();
    }
    return resolved;
}

bool isAtOrBelow(const fs::path& path, const fs::path& folder) {
    const fs::path p = resolveFolder(path);
    const fs::path f = resolveFolder(folder);
    auto pi = p.begin();
    for (auto fi = f.begin(); fi != f.end(); ++fi, ++pi) {
        if (fi->empty() && std::next(fi) == f.end()) {
            break;  // a trailing separator
        }
        if (pi == p.end() || *pi != *fi) {
            return false;
        }
    }
    return true;
}

}  // namespace harvix
