// The filter set: an ordered list of filter items, the filter files (.flt)
// that keep it, and the comb pass that matches a reader's entries against
// the items and saves every match into the item's target folder.
//
// The program holds one set (the coordinator's). Everything but Comb and
// what it calls runs on the user-interface thread; Comb runs on the comb
// thread while the main window keeps the items unchanged.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "readers/CacheReader.h"

namespace harvix {

namespace fs = std::filesystem;

class FilterSet;

// One filter item.
class FilterItem {
public:
    bool disabled = false;              // takes no part in matching
    int32_t contentType = 0;            // content-type code 0..18, 0 = any type
    int32_t minSize = 0;                // minimum entry size in bytes, 0 = no limit
    std::string url;                    // URL parts as typed, separated by ','
    std::vector<std::string> urlParts;  // `url` split by ParseUrl
    int32_t minWidth = 0;               // minimum picture width in pixels
    int32_t minHeight = 0;              // minimum picture height in pixels
    std::string directory;              // target folder, templates expanded
    std::string directoryTemplate;      // target folder as typed and stored
    std::string fileNameDummy;          // stem of the names of saved files
    int32_t position = 0;               // index of the item in `items`
    int32_t targetFolder = 0;           // index into `targetFolders` during a run

    // Rebuilds `urlParts` from `url`: the set's separator ends a part,
    // blanks and tabs are dropped wherever they stand, empty parts go.
    void parseUrl(const FilterSet& set);
    // Content type, minimum size and URL parts (the picture size is tested
    // after the copy, by SaveEntry).
    bool matches(const CacheEntry& entry) const;
};

// A file known to be in a target folder.
class FolderFile {
public:
    std::string name;  // lower-cased for files found on disk; as written for saved ones
    int32_t size = 0;  // low 32 bits of the size on disk, or the entry's size
    // The name as it stands on disk (the folder listing lower-cases
    // `name`, but a case-sensitive file system needs the real one to
    // open the file). Empty: same as `name`.
    std::string diskName;

    // Content digest of the first `size` bytes, computed once when the
    // file is first compared (Skip Duplicates), so that a known file is
    // read at most once per run.
    enum class Digest : uint8_t { Unknown, Known, Unreadable };
    Digest digestState = Digest::Unknown;
    uint64_t digest = 0;

    const std::string& onDisk() const { return diskName.empty() ? name : diskName; }
};

// One record per distinct target folder of a comb run.
class TargetFolder {
public:
    std::string path;               // the folder, as the first item naming it spells it
    int32_t counter = 0;            // the next number to try in file names
    std::vector<FolderFile> files;  // files known to be in the folder

    // True when a known file has this name, letters compared without
    // regard to case.
    bool isNameTaken(std::string_view name) const;
    // True when a known file of the same size holds the same first
    // `size` bytes as `file` (a new copy in this folder). Leaves the
    // digest of `file` in it when one was taken, for when it is added.
    bool isDuplicate(FolderFile& file);
    // Records a file as known (keeps the lookup indexes in step).
    void addFile(FolderFile file);

    // Normalised form of the folder (separators, "." and ".." and links
    // resolved) that identifies it among differently spelled texts.
    std::string key;

private:
    std::unordered_set<std::string> lowerNames_;
    std::unordered_map<int32_t, std::vector<std::size_t>> bySize_;
    friend class FilterSet;
};

class FilterSet {
public:
    // Called on the comb thread with the percentage of the entries combed so
    // far (1..100), each time the whole number changes; `context` is handed
    // back unchanged. No reports are made while `progressContext` is 0.
    using ProgressCallback = void (*)(std::intptr_t context, int32_t percent);

    FilterSet();
    virtual ~FilterSet();
    FilterSet(const FilterSet&) = delete;
    FilterSet& operator=(const FilterSet&) = delete;

    // ---- Filter files and the list of items (user-interface thread) ----

    // Reads a filter file into the set; an empty path reloads `fileName`.
    // Records the file as the settings' current filter file and, with
    // `saveSettings`, writes the settings file afterwards (the tray
    // program); harvix-cli passes false and never writes it. False (and an
    // empty set) when the file is not a filter file.
    bool load(std::string path, bool saveSettings = true);
    // Writes the set to a filter file through a temporary file and a
    // rename; records it as the settings' current filter file (in memory).
    // False when the file could not be written (the old file is kept).
    bool save(std::string path);
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
    // first "%TIME%" by the local time (HH MM SS), and a leading "~/" by the
    // home folder.
    void expandDateTime(std::string& text) const;
    // A folder text with a leading "~/" made absolute (the home folder).
    static std::string expandHomeFolder(const std::string& text);

    // ---- The comb pass (comb thread) ----

    // Matches every entry of `reader` (loaded) against the items and saves
    // the matches. Throws ErrorReport when a target folder cannot be made; the
    // pass then combs nothing. Returns true.
    bool comb(CacheReader* reader);
    // Tries the items on one entry.
    void combEntry(CacheEntry& entry);
    // Reports the share of the entries to comb done so far, `done` being the
    // number of entries combed before the current one.
    void reportProgress(uint32_t done);
    // Expands every item's folder, makes the folders and learns their files.
    void prepareTargetFolders();
    // Copies `entry` into the item's folder under the next free name; true
    // when the folder now holds a copy (written, or found as a duplicate).
    bool saveEntry(FilterItem& item, CacheEntry& entry);

    // True when the first `n` bytes of both files agree (n > 0).
    static bool filesAreEqual(int32_t n, const fs::path& a, const fs::path& b);
    // Makes the folder and its parents; false when the folder fails the
    // folder rule or is not there afterwards.
    static bool createFolderPath(std::string path);
    // The files (not folders) in a folder, names lower-cased; empty when the
    // folder cannot be listed.
    static void listFolderFiles(const std::string& path, std::vector<FolderFile>& files);
    // The folder rule: an absolute folder ("~/" allowed) below the root, on
    // a local fixed disk.
    static bool isValidTargetPath(const std::string& path);

    // ---- Data ----

    CacheReader* reader = nullptr;  // reader of the current run (not owned)
    std::vector<std::unique_ptr<FilterItem>> items;
    std::vector<std::unique_ptr<TargetFolder>> targetFolders;
    int32_t lastPercent = 0;
    bool oneCopy = true;         // copied from the settings at comb start
    bool skipDuplicates = true;  // copied from the settings at comb start
    int64_t sinceTime = 0;       // 0 = every entry; else the lower bound of entry times
    int32_t entriesToComb = 0;
    std::string fileName;  // the current filter file
    std::string hint;      // GENERAL/Hint of the file
    char listSeparator = ',';
    ProgressCallback progressCallback = nullptr;
    std::intptr_t progressContext = 0;
    // Told of every file the pass leaves in a target folder (written and not
    // removed again), with its full path, on the comb thread; may be null.
    using KeptFileCallback = void (*)(std::intptr_t context, const std::string& path);
    KeptFileCallback keptFileCallback = nullptr;
    std::intptr_t keptFileContext = 0;
    // Looked at before each entry: once the flag it points at is set, the
    // pass ends early (the program is ending). Null: the pass always runs
    // to the end of the entries.
    const std::atomic<bool>* stopRequest = nullptr;

    // More items than this are not read from a filter file: no real set
    // comes near it, and a damaged file must not eat the memory.
    static constexpr std::size_t kMaxItems = 10000;

private:
    // Calls keptFileCallback, when set, with `path`.
    void reportKeptFile(const fs::path& path) const;

    // Number of entries combed so far in this run.
    uint32_t combedSoFar_ = 0;
};

}  // namespace harvix
