#include "support/TestSupport.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/Path.h"

#include "readers/BodyCopy.h"

namespace harvix {

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const fs::path candidate =
            base / ("harvix-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder");
}

bool runUnderFilePermissions(const std::function<void()>& work) {
    bool ran = false;
    std::thread thread([&] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};  // this thread
        __user_cap_data_struct data[2] = {};
        if (::syscall(SYS_capget, &header, data) != 0) {
            return;
        }
        for (const unsigned cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) {
            data[cap / 32].effective &= ~(1u << (cap % 32));
        }
        if (::syscall(SYS_capset, &header, data) != 0) {
            return;
        }
        work();
        ran = true;
    });
    thread.join();
    return ran;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Folders a test made read-only must become writable again to go.
    for (fs::recursive_directory_iterator it(path_, ec), end; !ec && it != end; it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::string readFile(const fs::path& path) {
    // In blocks, not a character at a time: the sanitizer builds read caches
    // of many megabytes with it.
    std::ifstream in(path, std::ios::binary);
    std::string content;
    char block[1 << 16];
    while (in.read(block, sizeof block) || in.gcount() > 0) {
        content.append(block, static_cast<std::size_t>(in.gcount()));
    }
    return content;
}

void writeFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool FakePlatform::isLocalFixedFolder(const fs::path& folder) {
    const std::string text = pathToUtf8(folder);
    const bool homeRelative = text.rfind("~/", 0) == 0;
    return localFolders && (folder.is_absolute() || homeRelative);
}

bool copyEntry(const CacheReader& reader, const CacheEntry& entry, const fs::path& target) {
    try {
        copyBodyToFile(reader, entry, target);
        return true;
    } catch (const ErrorReport&) {
        return false;
    }
}

CombResult combWith(const FilterSet& filter, const CacheReader& reader, const Reading& reading,
                    const CombOptions& options, CombObserver* observer) {
    CombObserver silent;
    IPlatform& platform = platformServices();
    return runComb(reader, reading,
                   FilterSnapshot::take(filter, platform.homeFolder(), platform.currentTime()),
                   options, observer != nullptr ? *observer : silent, platform);
}

}  // namespace harvix
