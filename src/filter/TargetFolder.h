// One target folder of a comb run or of a save of chosen entries: where it
// is, the names it holds and the next number to try, and its files by size
// for the duplicate test.
//
// Whether a folder may take copies at all is decided before anything is
// made (refusal): the folder rule, and never at or below a cache folder,
// links and ".." resolved first. The folder itself is made when its first
// file is saved, so a run that keeps nothing leaves no empty folders.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/ErrorReport.h"
#include "platform/NewFile.h"
#include "platform/Platform.h"

namespace harvix {

namespace fs = std::filesystem;

class TargetFolder {
public:
    // `folder`: expanded ("~/", date and time) and normalised.
    explicit TargetFolder(const fs::path& folder);

    const fs::path& path() const { return path_; }
    // The folder's resolved form, which identifies it however it is spelt.
    const std::string& key() const { return key_; }

    // Why `folder` (expanded) cannot take copies: CreateFolder (no system
    // error) when it fails the folder rule on `platform`, TargetInCache
    // when it is or lies below one of `caches`. Nothing when it can.
    static std::optional<ErrorReport> refusal(const std::string& folder,
                                              const std::vector<fs::path>& caches,
                                              IPlatform& platform);

    // Learns the files (not folders) the folder holds, when it exists.
    void listFiles();
    // Makes the folder and its parents unless it stands: 0, or the errno of
    // the failure. Tried once: a folder that cannot be made stays so.
    int make();

    // True when a known file of the same full size holds the same bytes as
    // the open file `fd` of `size` bytes.
    bool holdsCopyOf(int fd, uint64_t size);

    // Names the complete `file` "<stem><n>.<extension>" with the next free
    // number n: never over an existing file (a name taken meanwhile is
    // skipped). The new file's path, or why it could not be named.
    struct Named {
        std::string path;     // empty on failure
        std::string failure;  // a reason a comb counts failures under
    };
    Named name(NewFile& file, const std::string& stem, const std::string& extension, uint64_t size);

private:
    struct KnownFile {
        std::string name;   // as it stands on disk
        uint64_t size = 0;  // its full size in bytes
        enum class Digest : uint8_t { Unknown, Known, Unreadable };
        Digest digestState = Digest::Unknown;
        uint64_t digest = 0;
    };

    bool isNameTaken(std::string_view name) const;
    void addFile(KnownFile file);

    fs::path path_;
    std::string key_;
    uint32_t counter_ = 0;  // the next number to try in file names
    std::optional<int> made_;
    std::vector<KnownFile> files_;
    std::unordered_set<std::string> lowerNames_;
    std::unordered_map<uint64_t, std::vector<std::size_t>> bySize_;
};

}  // namespace harvix
