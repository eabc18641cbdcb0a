#include "platform/FolderHandle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace harvix {

FolderHandle::~FolderHandle() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

FolderHandle::FolderHandle(FolderHandle&& other) noexcept : fd_(other.fd_), error_(other.error_) {
    other.fd_ = -1;
}

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = other.fd_;
        error_ = other.error_;
        other.fd_ = -1;
    }
    return *this;
}

FolderHandle FolderHandle::failed(int error) {
    FolderHandle handle;
    handle.error_ = error;
    return handle;
}

FolderHandle FolderHandle::open(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return fd >= 0 ? FolderHandle(fd) : failed(errno);
}

FolderHandle FolderHandle::child(const std::string& name) const {
    if (fd_ < 0) {
        return failed(EBADF);
    }
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string("/\0", 2)) != std::string::npos) {
        return failed(EINVAL);
    }
    if (::mkdirat(fd_, name.c_str(), 0777) != 0 && errno != EEXIST) {
        return failed(errno);
    }
    const int fd = ::openat(fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // A link (ELOOP) is refused as a file is: neither is a folder here.
        return failed(errno == ELOOP ? ENOTDIR : errno);
    }
    return FolderHandle(fd);
}

bool FolderHandle::holds(const std::string& name) const {
    struct stat st {};
    return fd_ >= 0 && ::fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

fs::path FolderHandle::heldPath() const {
    return "/proc/self/fd/" + std::to_string(fd_);
}

}  // namespace harvix
