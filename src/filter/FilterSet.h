// The filter set: an ordered list of filter items and the filter files
// (.flt) that keep it. The set belongs to the user-interface thread; a comb
// run works on a copy taken when it starts (filter/CombPass.h), so the user
// may edit the set while a run goes on.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/ErrorReport.h"
#include "platform/Platform.h"
#include "readers/CacheReader.h"

namespace harvix {

namespace fs = std::filesystem;

class FilterSet;

// Why a filter file did not load.
struct FilterLoadError {
    enum class Kind {
        Unreadable,      // the file could not be read (`reason` says why)
        NotAFilterFile,  // read, but GENERAL/HarvixFilter is missing or 0
    };
    Kind kind = Kind::Unreadable;
    std::string reason;
};

// One filter item.
class FilterItem {
public:
    bool disabled = false;              // takes no part in matching
    int32_t contentType = 0;            // content-type code (base/ContentType.h), 0 = any type
    int32_t minSize = 0;                // minimum entry size in bytes, 0 = no limit
    std::string url;                    // URL parts as typed, separated by ','
    std::vector<std::string> urlParts;  // `url` split by parseUrl
    int32_t minWidth = 0;               // minimum picture width in pixels
    int32_t minHeight = 0;              // minimum picture height in pixels
    std::string directory;              // target folder, templates expanded
    std::string directoryTemplate;      // target folder as typed and stored
    std::string stem;                   // stem of the names of saved files
    bool siteTree = false;              // save at the URL's path (filter/SiteTree.h), not
                                        // under the stem
    int32_t position = 0;               // index of the item in `items`

    // Rebuilds `urlParts` from `url`: the set's separator ends a part,
    // blanks and tabs are dropped wherever they stand, empty parts go.
    void parseUrl(const FilterSet& set);
    void parseUrl(char listSeparator);
    // Content type (a group takes each entry of the group), minimum size
    // and URL parts (the picture size is tested on the copy, by the comb
    // pass). `testSize` false leaves the minimum size to the copy: a body
    // stored encoded is as large as it decodes.
    bool matches(const CacheEntry& entry, bool testSize = true) const;
};

class FilterSet {
public:
    FilterSet();
    virtual ~FilterSet();
    FilterSet(const FilterSet&) = delete;
    FilterSet& operator=(const FilterSet&) = delete;

    // ---- Filter files and the list of items (user-interface thread) ----

    // Reads a filter file into the set; an empty path reloads `fileName`,
    // which becomes `path` otherwise. The items' folders are expanded with
    // the date and time `now` (the caller's clock). Returns why the file was
    // refused (the set is then empty), nothing when it loaded. The front end
    // records the file in its settings.
    std::optional<FilterLoadError> loadFile(std::string path, std::time_t now);
    // Writes the set to a filter file through a temporary file and a
    // rename. Returns the failure (FileWrite, with the system's error) when
    // the file could not be written; the old file is then kept.
    std::optional<ErrorReport> saveFile(const std::string& path) const;
    // Deletes every item and empties `hint`; `fileName` stays.
    void clear();
    // Inserts `item` (a new default item when null) before `index`, or
    // appends it when `index` is outside the list; the set owns it.
    FilterItem* insertItem(FilterItem* item, int32_t index);
    // Deletes the item at `index`; false when there is none.
    bool removeItem(uint32_t index);
    // Swaps with the neighbour; return the item's new index.
    uint32_t moveItemUp(uint32_t index);
    uint32_t moveItemDown(uint32_t index);
    // Sets each item's `position` to its index.
    void renumber();
    // Replaces the first "%DATE%" by the local date (dd.mm.yyyy) and the
    // first "%TIME%" by the local time (HH MM SS) of `at`, and a leading "~/"
    // by `home`.
    static void expandDateTime(std::string& text, std::time_t at, const fs::path& home);
    // A folder text with a leading "~/" made absolute (below `home`; left as
    // it is without one).
    static std::string expandHomeFolder(const std::string& text, const fs::path& home);
    // The folder rule: an absolute folder ("~/" allowed) below the root, on
    // a local fixed disk (as `platform` tells). `targetPathProblem` says
    // which part of the rule a folder fails.
    enum class PathProblem { None, Empty, NotAbsolute, Root, NotLocalFixed };
    static PathProblem targetPathProblem(const std::string& path, IPlatform& platform);
    static bool isValidTargetPath(const std::string& path, IPlatform& platform) {
        return targetPathProblem(path, platform) == PathProblem::None;
    }

    // With One Copy an entry goes to the first item that takes it. The index
    // of the first enabled item before `position` that takes entries `item`
    // would take: its type is "all", the group of the item's type or the
    // same type, and it has no URL parts or each of the item's parts holds
    // one of its parts (so it matches every URL the item matches). -1 when
    // there is none. Sizes are not weighed: the earlier item takes the
    // entries that pass its own limits.
    int earlierItemTaking(const FilterItem& item, std::size_t position) const;

    // ---- Data ----

    std::vector<std::unique_ptr<FilterItem>> items;
    std::string fileName;  // the current filter file
    // The user's home folder, for the "~/" of the items' folders (set by the
    // front end that owns the set).
    fs::path homeFolder;
    std::string hint;  // GENERAL/Hint of the file
    char listSeparator = ',';
    // After a load: how many items past kMaxItems were left out.
    std::size_t itemsLeftOut = 0;

    // More items than this are not read from a filter file: no real set
    // comes near it, and a damaged file must not eat the memory.
    static constexpr std::size_t kMaxItems = 10000;
};

}  // namespace harvix
