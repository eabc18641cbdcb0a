#include "readers/MsiecfUrlCache.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>
#include <system_error>

#include "base/ErrorReport.h"
#include "base/Text.h"
#include "platform/FileHandle.h"
#include "platform/Path.h"
#include "readers/BfioMemoryHandle.h"
#include "readers/FatDateTime.h"
#include "readers/UrlCacheIndexFormat.h"
#include "readers/UrlCacheIndexRepair.h"

// libmsiecf declares its libbfio entry points only when told that libbfio is there.
#define LIBMSIECF_HAVE_BFIO
#include <libmsiecf.h>

namespace harvix {

namespace {

// Texts of one record never come near this; a larger claim is damage.
constexpr std::size_t kMaxRecordText = 16 * 1024 * 1024;

using url_cache_index::kNoSubdirectory;

// Holds the error a libmsiecf call may hand back and frees it; the reasons
// are not reported, a failed call only skips what it would have given.
class MsiecfError {
public:
    MsiecfError() = default;
    ~MsiecfError() { clear(); }
    MsiecfError(const MsiecfError&) = delete;
    MsiecfError& operator=(const MsiecfError&) = delete;
    libmsiecf_error_t** operator&() {
        clear();
        return &error_;
    }
    void clear() {
        if (error_ != nullptr) {
            libmsiecf_error_free(&error_);
        }
    }

private:
    libmsiecf_error_t* error_ = nullptr;
};

// A name that stays inside the folder it is joined to: not empty, no
// separator, not "." or "..", no zero byte.
bool isPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

// The bytes of a string the library reads with a size call and a fetch
// call, up to the first zero; nullopt when the record has none or is damaged.
template <typename SizeFn, typename GetFn>
std::optional<std::string> recordString(libmsiecf_item_t* item, SizeFn sizeFn, GetFn getFn) {
    MsiecfError error;
    std::size_t size = 0;
    if (sizeFn(item, &size, &error) != 1 || size == 0 || size > kMaxRecordText) {
        return std::nullopt;
    }
    std::string text(size, '\0');
    if (getFn(item, text.data(), size, &error) != 1) {
        return std::nullopt;
    }
    text.resize(strnlen(text.data(), size));
    return text;
}

[[noreturn]] void cannotOpen(const fs::path& tried, int error, const fs::path& alsoTried = {}) {
    throw ErrorReport(ErrorReport::IECache, ErrorReport::CacheOpen, pathToUtf8(tried),
                      alsoTried.empty() ? std::string() : pathToUtf8(alsoTried), error);
}

// The whole index file, at most `limit` bytes; throws as open does.
std::vector<uint8_t> readIndex(const fs::path& path, uint64_t limit) {
    // Never a FIFO, a device or a final link: an index that is not a
    // regular file is refused without blocking.
    const FileHandle file = FileHandle::openForReading(path);
    if (!file) {
        cannotOpen(path, file.error());
    }
    const uint64_t size = file.size();
    if (size > limit) {
        cannotOpen(path, EFBIG);
    }
    std::vector<uint8_t> bytes(static_cast<std::size_t>(size), 0);
    int error = 0;
    const std::size_t got = file.readAt(0, bytes.data(), bytes.size(), error);
    if (got == 0 && error != 0) {
        cannotOpen(path, error);
    }
    bytes.resize(got);  // the file shrank while it was read: take what is there
    return bytes;
}

}  // namespace

struct MsiecfUrlCache::State {
    std::vector<uint8_t> bytes;                // the index, put right
    std::unique_ptr<BfioMemoryHandle> memory;  // libbfio's view of `bytes`
    libmsiecf_file_t* file = nullptr;
    fs::path container;  // the folder of the index
    // Cache directory names by index; empty where the name is unusable.
    std::vector<std::string> directories;
    int items = 0;

    State() = default;
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    ~State() {
        // The library lets go of the handle before the handle and the bytes go.
        if (file != nullptr) {
            MsiecfError error;
            libmsiecf_file_close(file, &error);
            libmsiecf_file_free(&file, &error);
        }
    }

    // Fills `info` from the item at `index`; false when it is no URL record
    // or cannot be read.
    bool readUrl(int index, UrlCacheEntryInfo& info) const;
};

bool MsiecfUrlCache::State::readUrl(int index, UrlCacheEntryInfo& info) const {
    MsiecfError error;
    libmsiecf_item_t* item = nullptr;
    if (libmsiecf_file_get_item_by_index(file, index, &item, &error) != 1 || item == nullptr) {
        return false;
    }
    struct ItemGuard {
        libmsiecf_item_t*& item;
        ~ItemGuard() {
            MsiecfError e;
            libmsiecf_item_free(&item, &e);
        }
    } guard{item};

    uint8_t itemType = 0;
    if (libmsiecf_item_get_type(item, &itemType, &error) != 1 ||
        itemType != LIBMSIECF_ITEM_TYPE_URL) {
        return false;
    }

    info = UrlCacheEntryInfo{};
    uint8_t urlType = 0;
    if (libmsiecf_url_get_type(item, &urlType, &error) != 1) {
        urlType = LIBMSIECF_URL_ITEM_TYPE_UNDEFINED;
    }
    switch (urlType) {
        case LIBMSIECF_URL_ITEM_TYPE_COOKIE:
            info.cacheEntryType = kCookieCacheEntry;
            break;
        case LIBMSIECF_URL_ITEM_TYPE_HISTORY:
        case LIBMSIECF_URL_ITEM_TYPE_HISTORY_DAILY:
        case LIBMSIECF_URL_ITEM_TYPE_HISTORY_WEEKLY:
            info.cacheEntryType = kUrlHistoryCacheEntry;
            break;
        default:
            info.cacheEntryType = kNormalCacheEntry;
            break;
    }

    // The index stores its texts in the system's 8-bit code page.
    if (auto url =
            recordString(item, libmsiecf_url_get_location_size, libmsiecf_url_get_location)) {
        info.sourceUrl = cp1252ToUtf8(*url);
    }

    // The cached file: container folder / cache directory / file name.
    const auto name =
        recordString(item, libmsiecf_url_get_filename_size, libmsiecf_url_get_filename);
    uint8_t dirIndex = 0;
    if (name && isPlainName(*name) &&
        libmsiecf_url_get_cache_directory_index(item, &dirIndex, &error) == 1) {
        const fs::path fileName = pathFromUtf8(cp1252ToUtf8(*name));
        if (dirIndex < directories.size() && !directories[dirIndex].empty()) {
            info.localFileName =
                pathToUtf8(container / pathFromUtf8(directories[dirIndex]) / fileName);
        } else if (dirIndex == kNoSubdirectory) {
            info.localFileName = pathToUtf8(container / fileName);
        }
    }

    uint64_t fileSize = 0;
    if (libmsiecf_url_get_cached_file_size(item, &fileSize, &error) != 1) {
        fileSize = 0;
    }
    if (fileSize == 0 && !info.localFileName.empty()) {
        // A record without the size: the cached file's own size stands in.
        std::error_code ec;
        const uintmax_t onDisk = fs::file_size(pathFromUtf8(info.localFileName), ec);
        if (!ec) {
            fileSize = onDisk;
        }
    }
    info.sizeLow = static_cast<uint32_t>(fileSize & 0xFFFFFFFFu);
    info.size = fileSize;

    uint32_t lastChecked = 0;
    if (libmsiecf_url_get_last_checked_time(item, &lastChecked, &error) == 1) {
        info.lastSyncTime = fatDateTimeToFileTime(lastChecked);
    }
    // The primary time is the entry's last access (a record of Internet
    // Explorer's shows it seconds before the last check, while the secondary
    // one is the resource's own Last-Modified, years back); the expiry is a
    // FAT date in index version 5.
    uint64_t accessed = 0;
    if (libmsiecf_url_get_primary_time(item, &accessed, &error) == 1) {
        info.lastAccessTime = accessed;
    }
    uint64_t expires = 0;
    if (libmsiecf_url_get_expiration_time(item, &expires, &error) == 1 && expires != 0) {
        info.expireTime =
            expires > 0xFFFFFFFFu ? expires : fatDateTimeToFileTime(static_cast<uint32_t>(expires));
    }

    std::size_t dataSize = 0;
    if (libmsiecf_url_get_data_size(item, &dataSize, &error) == 1 && dataSize > 0 &&
        dataSize <= kMaxRecordText) {
        std::string data(dataSize, '\0');
        if (libmsiecf_url_get_data(item, reinterpret_cast<uint8_t*>(data.data()), dataSize,
                                   &error) == 1) {
            // The header text ends at its closing zero; what follows is padding.
            data.resize(strnlen(data.data(), dataSize));
            if (!data.empty()) {
                info.hasHeaderInfo = true;
                info.headerInfo = cp1252ToUtf8(data);
            }
        }
    }
    return true;
}

namespace {

class MsiecfEnumeration : public UrlCacheEnumeration {
public:
    MsiecfEnumeration(std::shared_ptr<const MsiecfUrlCache::State> state, int next)
        : state_(std::move(state)), next_(next) {}

    bool next(UrlCacheEntryInfo& info) override {
        // A record that cannot be read is passed over: each is read on its
        // own, so damage in one leaves the others whole.
        while (next_ < state_->items) {
            if (state_->readUrl(next_++, info)) {
                return true;
            }
        }
        return false;
    }

private:
    std::shared_ptr<const MsiecfUrlCache::State> state_;
    int next_;
};

}  // namespace

MsiecfUrlCache::MsiecfUrlCache(fs::path location, WineUser wine)
    : location_(std::move(location)), wine_(std::move(wine)) {}

MsiecfUrlCache::~MsiecfUrlCache() = default;

std::vector<fs::path> MsiecfUrlCache::candidateIndexes(const WineUser& wine) {
    if (wine.prefix.empty() || !isPlainName(wine.name)) {
        return {};
    }
    const fs::path profile = wine.prefix / "drive_c" / "users" / pathFromUtf8(wine.name);
    return {
        profile / "AppData" / "Local" / "Microsoft" / "Windows" / "INetCache" / "Content.IE5" /
            "index.dat",
        profile / "Local Settings" / "Temporary Internet Files" / "Content.IE5" / "index.dat",
    };
}

void MsiecfUrlCache::open() {
    close();
    indexPath_.clear();

    fs::path index;
    std::error_code ec;
    if (location_.empty()) {
        const std::vector<fs::path> candidates = candidateIndexes(wine_);
        for (const fs::path& candidate : candidates) {
            if (fs::is_regular_file(candidate, ec)) {
                index = candidate;
                break;
            }
        }
        if (index.empty()) {
            if (candidates.empty()) {
                // No user folder to look in: the prefix itself holds none.
                cannotOpen(wine_.prefix / "index.dat", ENOENT);
            }
            cannotOpen(candidates.front(), ENOENT, candidates.back());
        }
    } else if (fs::is_directory(location_, ec)) {
        index = location_ / "index.dat";
        if (!fs::exists(index, ec)) {
            cannotOpen(index, ENOENT);
        }
    } else {
        index = location_;
    }

    auto state = std::make_shared<State>();
    state->bytes = url_cache_index::repairIndex(readIndex(index, kMaxIndexSize));
    if (state->bytes.empty()) {
        cannotOpen(index, EBADMSG);
    }
    state->memory = std::make_unique<BfioMemoryHandle>(state->bytes);
    if (!*state->memory) {
        cannotOpen(index, EBADMSG);
    }
    MsiecfError error;
    if (libmsiecf_file_initialize(&state->file, &error) != 1) {
        cannotOpen(index, EBADMSG);
    }
    if (libmsiecf_file_open_file_io_handle(state->file, state->memory->get(), LIBMSIECF_OPEN_READ,
                                           &error) != 1) {
        // Not opened: nothing to close before the free.
        libmsiecf_file_free(&state->file, &error);
        cannotOpen(index, EBADMSG);
    }
    if (libmsiecf_file_get_number_of_items(state->file, &state->items, &error) != 1 ||
        state->items < 0) {
        state->items = 0;
    }
    int directoryCount = 0;
    if (libmsiecf_file_get_number_of_cache_directories(state->file, &directoryCount, &error) != 1) {
        directoryCount = 0;
    }
    for (int i = 0; i < directoryCount && i < 256; ++i) {
        std::array<char, 64> name{};
        std::string text;
        if (libmsiecf_file_get_cache_directory_name(state->file, i, name.data(), name.size(),
                                                    &error) == 1) {
            text = std::string(name.data(), strnlen(name.data(), name.size()));
        }
        state->directories.push_back(isPlainName(text) ? cp1252ToUtf8(text) : std::string());
    }
    state->container = index.parent_path();
    indexPath_ = index;
    state_ = std::move(state);
}

void MsiecfUrlCache::close() {
    state_.reset();
}

std::unique_ptr<UrlCacheEnumeration> MsiecfUrlCache::findFirst(UrlCacheEntryInfo& info) {
    if (!state_) {
        return nullptr;
    }
    auto enumeration = std::make_unique<MsiecfEnumeration>(state_, 0);
    if (!enumeration->next(info)) {
        return nullptr;
    }
    return enumeration;
}

}  // namespace harvix
