#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <random>
#include <string>

namespace harvix {

namespace {

std::atomic<long long> g_failAfter{-1};

bool writeAll(int fd, std::string_view content) {
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

// A new hidden file beside `target`, made with O_EXCL and the mode a new
// file gets from the user's umask (and the folder's default ACL): 0666 less
// the umask, as any editor would create it. Its path goes to `made`.
int createTemporary(const fs::path& folder, const fs::path& target, std::string& made) {
    static constexpr char kLetters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device source;
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string suffix(6, 'x');
        for (char& c : suffix) {
            c = kLetters[pick(source)];
        }
        made = (folder / ("." + target.filename().string() + "." + suffix)).string();
        const int fd =
            open(made.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
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
    std::string tmpl;
    const int fd = createTemporary(folder, target, tmpl);
    if (fd < 0) {
        return false;
    }
    // A replaced file keeps its permission bits; a new one has those it was
    // created with.
    struct stat old {};
    bool ok =
        stat(target.c_str(), &old) != 0 || fchmod(fd, old.st_mode & 07777) == 0 || errno == EPERM;
    ok = ok && writeAll(fd, content) && fsync(fd) == 0;
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

int writeFileAtomicallyError(const fs::path& path, std::string_view content) {
    if (writeFileAtomically(path, content)) {
        return 0;
    }
    return errno != 0 ? errno : EIO;
}

}  // namespace harvix
