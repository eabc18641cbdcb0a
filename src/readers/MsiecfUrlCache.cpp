#include "readers/MsiecfUrlCache.h"

#include "base/ByteOrder.h"
#include "platform/FileHandle.h"
#include "readers/UrlCacheIndexFormat.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>
#include <string_view>
#include <system_error>
#include <unordered_set>

#include "base/Text.h"
#include "platform/Path.h"
#include "platform/Platform.h"

// libmsiecf declares its libbfio entry points only when told that libbfio is there.
#define LIBMSIECF_HAVE_BFIO
#include <libbfio.h>
#include <libmsiecf.h>

namespace harvix {

namespace {

namespace uci = url_cache_index;
using uci::kMicrosoftSignature;
using uci::kWineSignature;

// Texts of one record never come near this; a larger claim is damage.
constexpr std::size_t kMaxRecordText = 16 * 1024 * 1024;

using uci::kNoSubdirectory;

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

class BfioError {
public:
    BfioError() = default;
    ~BfioError() {
        if (error_ != nullptr) {
            libbfio_error_free(&error_);
        }
    }
    BfioError(const BfioError&) = delete;
    BfioError& operator=(const BfioError&) = delete;
    libbfio_error_t** operator&() { return &error_; }

private:
    libbfio_error_t* error_ = nullptr;
};

// A name that stays inside the folder it is joined to: not empty, no
// separator, not "." or "..", no zero byte.
bool IsPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

// The bytes of a string the library reads with a size call and a fetch
// call, up to the first zero; nullopt when the record has none or is damaged.
template <typename SizeFn, typename GetFn>
std::optional<std::string> RecordString(libmsiecf_item_t* item, SizeFn sizeFn, GetFn getFn) {
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

// Reads a whole regular file of at most `limit` bytes. On failure returns
// false with a reason.
bool ReadWholeFile(const fs::path& path, uint64_t limit, std::vector<uint8_t>& bytes,
                   std::string& reason) {
    // Never a FIFO, a device or a final link: an index that is not a
    // regular file is refused without blocking.
    const FileHandle file = FileHandle::openForReading(path);
    if (!file) {
        reason = pathToUtf8(path) + ": " +
                 (file.error() == EINVAL ? std::string("not a regular file")
                                         : std::string(std::strerror(file.error())));
        return false;
    }
    const uint64_t size = file.size();
    if (size > limit) {
        reason = pathToUtf8(path) + ": too large for a URL cache index (" + std::to_string(size) +
                 " bytes)";
        return false;
    }
    bytes.assign(static_cast<std::size_t>(size), 0);
    errno = 0;
    const std::size_t got = file.readAt(0, bytes.data(), bytes.size());
    if (got == 0 && errno != 0 && !bytes.empty()) {
        reason = pathToUtf8(path) + ": " + std::strerror(errno);
        return false;
    }
    bytes.resize(got);  // the file shrank while it was read: take what is there
    return true;
}

// The bytes of the index as libbfio sees them. libbfio's own memory-range
// handle copies the whole requested length even when the range ends sooner,
// and trusts an offset past the end, so a damaged record offset or length
// makes it read far outside the buffer. This reader hands out only the bytes
// that are there: a read at or past the end gives nothing.
struct MemoryIndex {
    const uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t offset = 0;
    bool open = false;
};

MemoryIndex* AsMemoryIndex(intptr_t* ioHandle) {
    return reinterpret_cast<MemoryIndex*>(ioHandle);
}

int MemoryFree(intptr_t** /*ioHandle*/, libbfio_error_t** /*error*/) {
    return 1;
}

int MemoryClone(intptr_t** /*destination*/, intptr_t* /*source*/, libbfio_error_t** /*error*/) {
    return -1;
}

int MemoryOpen(intptr_t* ioHandle, int accessFlags, libbfio_error_t** /*error*/) {
    if ((accessFlags & LIBBFIO_ACCESS_FLAG_WRITE) != 0) {
        return -1;  // the index is only ever read
    }
    AsMemoryIndex(ioHandle)->open = true;
    AsMemoryIndex(ioHandle)->offset = 0;
    return 1;
}

int MemoryClose(intptr_t* ioHandle, libbfio_error_t** /*error*/) {
    AsMemoryIndex(ioHandle)->open = false;
    return 0;
}

ssize_t MemoryRead(intptr_t* ioHandle, uint8_t* buffer, size_t size, libbfio_error_t** /*error*/) {
    MemoryIndex& index = *AsMemoryIndex(ioHandle);
    if (!index.open || buffer == nullptr) {
        return -1;
    }
    if (index.offset >= index.size) {
        return 0;
    }
    const std::size_t count =
        std::min({size, index.size - index.offset, static_cast<std::size_t>(SSIZE_MAX)});
    std::memcpy(buffer, index.data + index.offset, count);
    index.offset += count;
    return static_cast<ssize_t>(count);
}

ssize_t MemoryWrite(intptr_t* /*ioHandle*/, const uint8_t* /*buffer*/, size_t /*size*/,
                    libbfio_error_t** /*error*/) {
    return -1;
}

off64_t MemorySeek(intptr_t* ioHandle, off64_t offset, int whence, libbfio_error_t** /*error*/) {
    MemoryIndex& index = *AsMemoryIndex(ioHandle);
    if (!index.open) {
        return -1;
    }
    int64_t base = 0;
    if (whence == SEEK_CUR) {
        base = static_cast<int64_t>(index.offset);
    } else if (whence == SEEK_END) {
        base = static_cast<int64_t>(index.size);
    } else if (whence != SEEK_SET) {
        return -1;
    }
    // A position before the start, or one no index could reach, is refused.
    if (offset < -base || offset > INT64_MAX / 2) {
        return -1;
    }
    const int64_t target = base + offset;
    index.offset = static_cast<std::size_t>(target);
    return target;
}

int MemoryExists(intptr_t* /*ioHandle*/, libbfio_error_t** /*error*/) {
    return 1;
}

int MemoryIsOpen(intptr_t* ioHandle, libbfio_error_t** /*error*/) {
    return AsMemoryIndex(ioHandle)->open ? 1 : 0;
}

int MemoryGetSize(intptr_t* ioHandle, size64_t* size, libbfio_error_t** /*error*/) {
    if (size == nullptr) {
        return -1;
    }
    *size = AsMemoryIndex(ioHandle)->size;
    return 1;
}

uint32_t ReadU32(const std::vector<uint8_t>& bytes, std::size_t offset) {
    return loadLe32(bytes.data() + offset);
}

constexpr std::size_t kFirstTableOffset = uci::kFirstHashTable;
constexpr std::size_t kBlockSize = uci::kBlockSize;

// A record's size is its block count (at +4) times 128, in 32-bit
// arithmetic. libmsiecf allocates and reads a record by that size, and finds
// the records by a scan that starts at the first hash table and steps from
// record to record by it. A damaged count can ask for gigabytes, or give a
// product of 0 (0 itself, or a multiple of 2^25) that keeps the scan on one
// spot for ever. A sound record always fits in the file; a count of 0 or
// one beyond the blocks left in the file is made 1 here, in the copy in
// memory, so that the scan steps past the damaged record as past any
// unknown block and goes on to the records after it.
void BoundBlockCount(std::vector<uint8_t>& bytes, std::size_t at) {
    const uint32_t blocks = ReadU32(bytes, at + uci::kRecordBlockCount);
    const std::size_t room = (bytes.size() - at) / kBlockSize;
    if (blocks == 0 || blocks > room) {
        const std::size_t count = at + uci::kRecordBlockCount;
        bytes[count] = 1;
        bytes[count + 1] = bytes[count + 2] = bytes[count + 3] = 0;
    }
}

// The header counts the cache directories at 0x48 and lists them from 0x4C,
// twelve bytes each, up to the allocation table at 0x250. libmsiecf
// allocates the list by the count as it stands, so a damaged count asks for
// gigabytes; it is kept to what fits here, in the copy in memory.
void BoundDirectoryCount(std::vector<uint8_t>& bytes) {
    constexpr std::size_t kCountOffset = uci::kDirectoryCount;
    constexpr uint32_t kMaxDirectories = uci::kMaxDirectories;
    if (bytes.size() >= kCountOffset + 4 && ReadU32(bytes, kCountOffset) > kMaxDirectories) {
        bytes[kCountOffset] = kMaxDirectories;
        bytes[kCountOffset + 1] = bytes[kCountOffset + 2] = bytes[kCountOffset + 3] = 0;
    }
}

// The index chains its hash tables: the header names the first (at 0x20),
// each table the next (at +8), 0 ending the chain. libmsiecf follows the
// chain without remembering where it has been, so a damaged link that leads
// back into the chain would keep it walking for ever. Such a link is cut
// here, in the copy in memory: the tables before it stay readable.
void CutHashTableLoops(std::vector<uint8_t>& bytes) {
    constexpr std::size_t kNextTableOffset = uci::kHashNextTable;
    if (bytes.size() < kFirstTableOffset + 4) {
        return;
    }
    std::unordered_set<uint32_t> visited;
    std::size_t link = kFirstTableOffset;  // where the current link is stored
    for (;;) {
        const uint32_t table = ReadU32(bytes, link);
        if (table == 0 || static_cast<std::size_t>(table) + kNextTableOffset + 4 > bytes.size()) {
            return;  // the end of the chain, or a link libmsiecf refuses by itself
        }
        if (!visited.insert(table).second) {
            std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(link), 4, uint8_t{0});
            return;
        }
        BoundBlockCount(bytes, table);
        link = static_cast<std::size_t>(table) + kNextTableOffset;
    }
}

// Bounds the block count of every record where the record scan can meet one.
// The scan starts at the first hash table's offset whatever it is, 0 (no
// table) included: from the header on, then.
void BoundRecordSizes(std::vector<uint8_t>& bytes) {
    if (bytes.size() < kFirstTableOffset + 4) {
        return;
    }
    static constexpr std::array<std::string_view, 4> kSignatures{
        uci::kUrlSignature, uci::kHashSignature, uci::kRedirectSignature, uci::kLeakSignature};
    for (std::size_t at = ReadU32(bytes, kFirstTableOffset); at + 8 <= bytes.size();
         at += kBlockSize) {
        const std::string_view signature(reinterpret_cast<const char*>(bytes.data() + at), 4);
        if (std::find(kSignatures.begin(), kSignatures.end(), signature) != kSignatures.end()) {
            BoundBlockCount(bytes, at);
        }
    }
}

// Two offsets of a URL record that libmsiecf trusts too far. Each is mended
// here, in the copy in memory, so that the library ends the way it means to:
//  - The location (its URL) at +0x34 (+0x38 in the older 4.7 layout): an
//    offset past the record's end makes the library give up on the record
//    without releasing its copy of it, so every read loses the record's size
//    in memory. Such an offset names nothing the record holds and is made 0
//    (no location); the record then reads without a URL, which the reader
//    passes over as before.
//  - The header data at +0x44 (+0x48) with its size after it: the library
//    checks offset + size against the record's size in 32-bit arithmetic, so
//    a size that wraps the sum passes, and it then copies gigabytes from past
//    the record. Such a size is made one byte more than the record holds
//    after the offset, which the library refuses (or cuts, for a record it
//    recovered only in part) as it does every other size too large.
void MendUrlRecordOffsets(std::vector<uint8_t>& bytes) {
    constexpr std::size_t kVersionOffset = uci::kVersionDigit;
    if (bytes.size() < kFirstTableOffset + 4) {
        return;
    }
    const std::size_t shift = bytes[kVersionOffset] == '4' ? uci::kOlderLayoutShift : 0;
    const std::size_t location = uci::kUrlLocation + shift;
    const std::size_t dataOffset = uci::kUrlHeaderData + shift;
    const std::size_t dataSize = uci::kUrlHeaderSize + shift;
    auto put = [&](std::size_t at, uint32_t value) {
        for (std::size_t i = 0; i < 4; ++i) {
            bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
        }
    };
    for (std::size_t at = ReadU32(bytes, kFirstTableOffset); at + dataSize + 4 <= bytes.size();
         at += kBlockSize) {
        if (std::memcmp(bytes.data() + at, uci::kUrlSignature.data(), uci::kUrlSignature.size()) !=
            0) {
            continue;
        }
        const uint64_t recordSize =
            uint64_t{ReadU32(bytes, at + uci::kRecordBlockCount)} * kBlockSize;
        if (ReadU32(bytes, at + location) > recordSize) {
            put(at + location, 0);
        }
        const uint64_t offset = ReadU32(bytes, at + dataOffset);
        const uint64_t size = ReadU32(bytes, at + dataSize);
        if (offset <= recordSize && offset + size > recordSize) {
            put(at + dataSize, static_cast<uint32_t>(recordSize - offset + 1));
        }
    }
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3u : 9u)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool IsLeapYear(unsigned y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

}  // namespace

struct MsiecfUrlCache::State {
    std::vector<uint8_t> bytes;  // the index, signature put right
    MemoryIndex memory;          // libbfio's view of `bytes`
    libbfio_handle_t* handle = nullptr;
    libmsiecf_file_t* file = nullptr;
    fs::path container;  // the folder of the index
    // Cache directory names by index; empty where the name is unusable.
    std::vector<std::string> directories;
    int items = 0;

    State() = default;
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    ~State() {
        if (file != nullptr) {
            MsiecfError error;
            libmsiecf_file_close(file, &error);
            libmsiecf_file_free(&file, &error);
        }
        if (handle != nullptr) {
            BfioError error;
            libbfio_handle_free(&handle, &error);
        }
    }

    // Fills `info` from the item at `index`; false when it is no URL record
    // or cannot be read.
    bool ReadUrl(int index, UrlCacheEntryInfo& info) const;
};

bool MsiecfUrlCache::State::ReadUrl(int index, UrlCacheEntryInfo& info) const {
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
            RecordString(item, libmsiecf_url_get_location_size, libmsiecf_url_get_location)) {
        info.sourceUrl = cp1252ToUtf8(*url);
    }

    // The cached file: container folder / cache directory / file name.
    const auto name =
        RecordString(item, libmsiecf_url_get_filename_size, libmsiecf_url_get_filename);
    uint8_t dirIndex = 0;
    if (name && IsPlainName(*name) &&
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
            if (state_->ReadUrl(next_++, info)) {
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

MsiecfUrlCache::MsiecfUrlCache(fs::path location) : location_(std::move(location)) {}

MsiecfUrlCache::~MsiecfUrlCache() = default;

std::vector<fs::path> MsiecfUrlCache::candidateIndexes() {
    IPlatform& platform = platformServices();
    const std::string user = platform.userName();
    if (!IsPlainName(user)) {
        return {};
    }
    const fs::path profile = platform.winePrefix() / "drive_c" / "users" / pathFromUtf8(user);
    return {
        profile / "AppData" / "Local" / "Microsoft" / "Windows" / "INetCache" / "Content.IE5" /
            "index.dat",
        profile / "Local Settings" / "Temporary Internet Files" / "Content.IE5" / "index.dat",
    };
}

uint64_t MsiecfUrlCache::fatDateTimeToFileTime(uint32_t fatDateTime) {
    if (fatDateTime == 0) {
        return 0;
    }
    const uint32_t date = fatDateTime & 0xFFFFu;
    const uint32_t time = fatDateTime >> 16;
    const unsigned year = 1980 + (date >> 9);
    const unsigned month = (date >> 5) & 0x0Fu;
    const unsigned day = date & 0x1Fu;
    const unsigned hour = time >> 11;
    const unsigned minute = (time >> 5) & 0x3Fu;
    const unsigned second = (time & 0x1Fu) * 2;
    static constexpr std::array<unsigned, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) {
        return 0;
    }
    const unsigned monthDays = kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1u : 0u);
    if (day > monthDays) {
        return 0;
    }
    // Days from 1601-01-01 to 1970-01-01: 134774.
    const int64_t days = DaysFromCivil(year, month, day) + 134774;
    const int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second;
    return static_cast<uint64_t>(seconds) * 10000000u;
}

bool MsiecfUrlCache::open() {
    close();
    failure_.clear();
    indexPath_.clear();

    fs::path index;
    std::error_code ec;
    if (location_.empty()) {
        for (const fs::path& candidate : candidateIndexes()) {
            if (fs::is_regular_file(candidate, ec)) {
                index = candidate;
                break;
            }
        }
        if (index.empty()) {
            failure_ = "no Internet Explorer cache index (index.dat) in the Wine prefix " +
                       pathToUtf8(platformServices().winePrefix());
            return false;
        }
    } else if (fs::is_directory(location_, ec)) {
        index = location_ / "index.dat";
        if (!fs::exists(index, ec)) {
            failure_ = "no index.dat in " + pathToUtf8(location_);
            return false;
        }
    } else {
        index = location_;
    }

    auto state = std::make_shared<State>();
    if (!ReadWholeFile(index, kMaxIndexSize, state->bytes, failure_)) {
        return false;
    }
    if (state->bytes.size() >= kWineSignature.size() &&
        std::memcmp(state->bytes.data(), kWineSignature.data(), kWineSignature.size()) == 0) {
        std::memcpy(state->bytes.data(), kMicrosoftSignature.data(), kMicrosoftSignature.size());
    }
    CutHashTableLoops(state->bytes);
    BoundRecordSizes(state->bytes);
    BoundDirectoryCount(state->bytes);
    MendUrlRecordOffsets(state->bytes);

    const std::string notIndex = pathToUtf8(index) + ": not a readable URL cache index";
    if (state->bytes.empty()) {
        failure_ = notIndex;
        return false;
    }
    {
        BfioError error;
        state->memory.data = state->bytes.data();
        state->memory.size = state->bytes.size();
        if (libbfio_handle_initialize(&state->handle, reinterpret_cast<intptr_t*>(&state->memory),
                                      MemoryFree, MemoryClone, MemoryOpen, MemoryClose, MemoryRead,
                                      MemoryWrite, MemorySeek, MemoryExists, MemoryIsOpen,
                                      MemoryGetSize, LIBBFIO_FLAG_IO_HANDLE_NON_MANAGED,
                                      &error) != 1) {
            failure_ = notIndex;
            return false;
        }
    }
    MsiecfError error;
    if (libmsiecf_file_initialize(&state->file, &error) != 1) {
        failure_ = notIndex;
        return false;
    }
    if (libmsiecf_file_open_file_io_handle(state->file, state->handle, LIBMSIECF_OPEN_READ,
                                           &error) != 1) {
        // Not opened: nothing to close before the free.
        libmsiecf_file_free(&state->file, &error);
        failure_ = notIndex;
        return false;
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
        state->directories.push_back(IsPlainName(text) ? cp1252ToUtf8(text) : std::string());
    }
    state->container = index.parent_path();
    indexPath_ = index;
    state_ = std::move(state);
    return true;
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
