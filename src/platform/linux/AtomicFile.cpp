#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

namespace harvix {

namespace {

std::atomic<long long> g_failAfter{-1};

bool WriteAll(int fd, std::string_view content) {
    const long long failAfter = g_failAfter.load();
    std::size_t limit = content.size();
    if (failAfter >= 0 && static_cast<unsigned long long>(failAfter) < limit) {
        limit = static_cast<std::size_t>(failAfter);
    }
    std::size_t done = 0;
    while (done < limit) {
        const ssize_t n = write(fd, content.data() + done, limit - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (limit < content.size()) {
        errno = ENOSPC;
        return false;
    }
    return true;
}

}  // namespace

void setAtomicWriteFailureForTesting(long long failAfterBytes) {
    g_failAfter = failAfterBytes;
}

bool writeFileAtomically(const fs::path& path, std::string_view content) {
    std::error_code ec;
    fs::path target = path;
    if (fs::is_symlink(target, ec)) {
        const fs::path resolved = fs::weakly_canonical(target, ec);
        if (!ec) {
            target = resolved;
        }
    }
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string tmpl = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat old {};
    const mode_t mode = stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    bool ok = fchmod(fd, mode) == 0 || errno == EPERM;
    ok = ok && WriteAll(fd, content) && fsync(fd) == 0;
    const int savedErrno = errno;
    if (close(fd) != 0) {
        ok = false;
    }
    if (ok && rename(tmpl.c_str(), target.c_str()) == 0) {
        // Make the rename itself durable.
        const int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd >= 0) {
            fsync(dirFd);
            close(dirFd);
        }
        return true;
    }
    const int failErrno = ok ? errno : savedErrno;
    unlink(tmpl.c_str());
    errno = failErrno;
    return false;
}

}  // namespace harvix
