#include "filter/FilterSet.h"

#include <array>
#include <cerrno>
#include <ctime>
#include <optional>

#include "base/ContentType.h"
#include "base/Profile.h"
#include "base/Text.h"
#include "platform/AtomicFile.h"
#include "platform/Path.h"
#include "platform/Platform.h"

namespace harvix {

namespace {

// Section and key names of the filter file.
constexpr std::string_view kGeneral = "GENERAL";
constexpr std::string_view kHarvixFilter = "HarvixFilter";
constexpr std::string_view kHint = "Hint";
constexpr std::string_view kFilterPrefix = "FILTER_";
constexpr std::string_view kDateToken = "%DATE%";
constexpr std::string_view kTimeToken = "%TIME%";

// The keys of an item section, in the order a saved file lists them.
enum ItemKey : std::size_t {
    kContentType,
    kDisabled,
    kMinSize,
    kUrl,
    kMinWidth,
    kMinHeight,
    kDirectory,
    kFileNameDummy,
    kSiteTree,
    kItemKeyCount
};
constexpr std::array<std::string_view, kItemKeyCount> kItemKeys{
    "ContentType", "Disabled",  "MinSize",       "URL",     "MinWeidth",
    "MinHeight",   "Directory", "FileNameDummy", "SiteTree"};

int32_t readInt32(std::string_view text) {
    const int64_t value = leadingInteger(text);
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

// The item number of a section named "FILTER_n" (n in decimal without
// leading zeros, as the file names them), or nothing.
std::optional<std::size_t> sectionItemNumber(std::string_view name) {
    if (name.size() <= kFilterPrefix.size() ||
        !equalsNoCase(name.substr(0, kFilterPrefix.size()), kFilterPrefix)) {
        return std::nullopt;
    }
    const std::string_view digits = name.substr(kFilterPrefix.size());
    if (digits.size() > 1 && digits.front() == '0') {
        return std::nullopt;
    }
    std::size_t number = 0;
    for (const char ch : digits) {
        if (ch < '0' || ch > '9') {
            return std::nullopt;
        }
        number = number * 10 + static_cast<std::size_t>(ch - '0');
        if (number >= FilterSet::kMaxItems) {
            number = FilterSet::kMaxItems;  // past the limit: counted, never stored
        }
    }
    return number;
}

// What a filter file holds, read in one pass: the first section of each name
// and the first key of each name in it count, as with any profile lookup.
struct FilterFileValues {
    std::optional<std::string> harvixFilter;
    std::optional<std::string> hint;
    struct Item {
        bool present = false;
        std::array<std::optional<std::string>, kItemKeyCount> values;
    };
    std::vector<Item> items;         // by item number
    std::size_t itemsPastLimit = 0;  // item sections numbered kMaxItems or more
    std::string failure;             // why the file could not be read
};

FilterFileValues readFilterFile(const fs::path& path) {
    const ProfileFile profile = ProfileFile::load(path);
    FilterFileValues file;
    file.failure = profile.failure();
    enum class Where { Nowhere, General, Item };
    Where where = Where::Nowhere;
    std::size_t itemNumber = 0;
    bool generalSeen = false;
    profile.forEachLine(
        [&](std::string_view section) {
            where = Where::Nowhere;
            const std::string_view name = trim(section);
            if (equalsNoCase(name, kGeneral)) {
                if (!generalSeen) {
                    generalSeen = true;
                    where = Where::General;
                }
                return;
            }
            const std::optional<std::size_t> number = sectionItemNumber(name);
            if (!number) {
                return;
            }
            if (*number >= FilterSet::kMaxItems) {
                ++file.itemsPastLimit;
                return;
            }
            if (*number >= file.items.size()) {
                file.items.resize(*number + 1);
            }
            if (!file.items[*number].present) {
                file.items[*number].present = true;
                where = Where::Item;
                itemNumber = *number;
            }
        },
        [&](std::string_view key, std::string value) {
            const std::string_view name = trim(key);
            if (where == Where::General) {
                if (equalsNoCase(name, kHarvixFilter) && !file.harvixFilter) {
                    file.harvixFilter = std::move(value);
                } else if (equalsNoCase(name, kHint) && !file.hint) {
                    file.hint = std::move(value);
                }
            } else if (where == Where::Item) {
                for (std::size_t k = 0; k < kItemKeyCount; ++k) {
                    auto& slot = file.items[itemNumber].values[k];
                    if (equalsNoCase(name, kItemKeys[k]) && !slot) {
                        slot = std::move(value);
                        break;
                    }
                }
            }
        });
    return file;
}

// One "key=value" line as the profile writer lays it out: a line break in
// the value would break the layout and becomes a blank.
void appendLine(std::string& text, std::string_view key, std::string_view value) {
    text += key;
    text += '=';
    for (const char ch : value) {
        text += (ch == '\r' || ch == '\n') ? ' ' : ch;
    }
    text += '\n';
}

std::string formatTime(std::time_t at, const char* format) {
    std::tm local{};
    localtime_r(&at, &local);
    char buffer[64];
    const std::size_t length = std::strftime(buffer, sizeof buffer, format, &local);
    return std::string(buffer, length);
}

void replaceFirst(std::string& text, std::string_view token, const std::string& by) {
    const std::size_t at = text.find(token);
    if (at != std::string::npos) {
        text.replace(at, token.size(), by);
    }
}

}  // namespace

// ---- Items ----

void FilterItem::parseUrl(const FilterSet& set) {
    parseUrl(set.listSeparator);
}

void FilterItem::parseUrl(char listSeparator) {
    urlParts.clear();
    std::string part;
    for (const char ch : url) {
        if (ch == listSeparator) {
            if (!part.empty()) {
                urlParts.push_back(std::move(part));
                part.clear();
            }
        } else if (ch != ' ' && ch != '\t') {
            part += ch;
        }
    }
    if (!part.empty()) {
        urlParts.push_back(std::move(part));
    }
}

bool FilterItem::matches(const CacheEntry& entry, bool testSize) const {
    if (!contentTypeMatches(contentType, entry.contentType, entry.contentTypeText)) {
        return false;
    }
    if (testSize && minSize > 0 && entry.size < static_cast<uint64_t>(minSize)) {
        return false;
    }
    if (urlParts.empty()) {
        return true;
    }
    for (const std::string& part : urlParts) {
        if (part.empty() || entry.url.find(part) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// ---- The set ----

FilterSet::FilterSet() = default;

FilterSet::~FilterSet() = default;

void FilterSet::clear() {
    items.clear();
    hint.clear();
}

FilterItem* FilterSet::insertItem(FilterItem* item, int32_t index) {
    std::unique_ptr<FilterItem> owned(item != nullptr ? item : new FilterItem());
    FilterItem* result = owned.get();
    if (index >= 0 && static_cast<std::size_t>(index) < items.size()) {
        items.insert(items.begin() + index, std::move(owned));
    } else {
        items.push_back(std::move(owned));
    }
    result->parseUrl(*this);
    renumber();
    return result;
}

bool FilterSet::removeItem(uint32_t index) {
    if (index >= items.size()) {
        return false;
    }
    items.erase(items.begin() + static_cast<std::ptrdiff_t>(index));
    renumber();
    return true;
}

uint32_t FilterSet::moveItemUp(uint32_t index) {
    if (index == 0 || index >= items.size()) {
        return index;
    }
    std::swap(items[index], items[index - 1]);
    renumber();
    return index - 1;
}

uint32_t FilterSet::moveItemDown(uint32_t index) {
    if (static_cast<std::size_t>(index) + 1 >= items.size()) {
        return index;
    }
    std::swap(items[index], items[index + 1]);
    renumber();
    return index + 1;
}

void FilterSet::renumber() {
    for (std::size_t i = 0; i < items.size(); ++i) {
        items[i]->position = static_cast<int32_t>(i);
    }
}

void FilterSet::expandDateTime(std::string& text, std::time_t at, const fs::path& home) {
    replaceFirst(text, kDateToken, formatTime(at, "%d.%m.%Y"));
    replaceFirst(text, kTimeToken, formatTime(at, "%H %M %S"));
    text = expandHomeFolder(text, home);
}

std::string FilterSet::expandHomeFolder(const std::string& text, const fs::path& homeFolder) {
    if (!homeFolder.empty() && (text == "~" || text.rfind("~/", 0) == 0)) {
        std::string home = pathToUtf8(homeFolder);
        while (home.size() > 1 && home.back() == '/') {
            home.pop_back();
        }
        return home + text.substr(1);
    }
    return text;
}

// ---- Filter files ----

std::optional<FilterLoadError> FilterSet::loadFile(std::string path, std::time_t now) {
    if (path.empty()) {
        path = fileName;
    } else {
        fileName = path;
    }
    clear();
    itemsLeftOut = 0;

    FilterFileValues file = readFilterFile(pathFromUtf8(fileName));
    if (!file.failure.empty()) {
        return FilterLoadError{FilterLoadError::Kind::Unreadable, file.failure};
    }
    if (!file.harvixFilter || leadingInteger(*file.harvixFilter) == 0) {
        return FilterLoadError{FilterLoadError::Kind::NotAFilterFile,
                               file.harvixFilter ? "HarvixFilter is 0" : "HarvixFilter is missing"};
    }
    itemsLeftOut = file.itemsPastLimit;
    hint = file.hint.value_or(std::string());

    // The list ends at the first missing section or empty ContentType.
    for (FilterFileValues::Item& raw : file.items) {
        auto& values = raw.values;
        if (!raw.present || !values[kContentType] || values[kContentType]->empty()) {
            break;
        }
        auto take = [&](ItemKey key) { return std::move(values[key]).value_or(std::string()); };
        auto item = std::make_unique<FilterItem>();
        item->contentType = readInt32(take(kContentType));
        item->disabled = leadingInteger(take(kDisabled)) != 0;
        item->url = take(kUrl);
        item->parseUrl(*this);
        item->minSize = readInt32(take(kMinSize));
        item->minWidth = readInt32(take(kMinWidth));
        item->minHeight = readInt32(take(kMinHeight));
        item->directoryTemplate = take(kDirectory);
        item->directory = item->directoryTemplate;
        expandDateTime(item->directory, now, homeFolder);
        item->stem = take(kFileNameDummy);
        item->siteTree = leadingInteger(take(kSiteTree)) != 0;
        items.push_back(std::move(item));
    }
    renumber();
    return std::nullopt;
}

std::optional<ErrorReport> FilterSet::saveFile(const std::string& path) const {
    std::string text;
    text += "[" + std::string(kGeneral) + "]\n";
    appendLine(text, kHarvixFilter, "1");
    appendLine(text, kHint, hint);
    for (std::size_t i = 0; i < items.size(); ++i) {
        const FilterItem& item = *items[i];
        text += "\n[" + std::string(kFilterPrefix) + std::to_string(i) + "]\n";
        appendLine(text, kItemKeys[kContentType], std::to_string(item.contentType));
        appendLine(text, kItemKeys[kDisabled], item.disabled ? "1" : "0");
        appendLine(text, kItemKeys[kMinSize], std::to_string(item.minSize));
        appendLine(text, kItemKeys[kUrl], item.url);
        appendLine(text, kItemKeys[kMinWidth], std::to_string(item.minWidth));
        appendLine(text, kItemKeys[kMinHeight], std::to_string(item.minHeight));
        appendLine(text, kItemKeys[kDirectory], item.directoryTemplate);
        appendLine(text, kItemKeys[kFileNameDummy], item.stem);
        // Written only where it is on, so that a set without it is saved
        // exactly as before and older programs read the same items.
        if (item.siteTree) {
            appendLine(text, kItemKeys[kSiteTree], "1");
        }
    }
    // The file is replaced as a whole: a failed write keeps the old file.
    if (const int failed = writeFileAtomicallyError(pathFromUtf8(path), text); failed != 0) {
        return ErrorReport(ErrorReport::FilterCache, ErrorReport::FileWrite, path, {}, failed);
    }
    return std::nullopt;
}

// ---- Target folders ----

FilterSet::PathProblem FilterSet::targetPathProblem(const std::string& path, IPlatform& platform) {
    if (path.empty()) {
        return PathProblem::Empty;
    }
    const fs::path folder =
        pathFromUtf8(expandHomeFolder(path, platform.homeFolder())).lexically_normal();
    if (!folder.is_absolute()) {
        return PathProblem::NotAbsolute;
    }
    if (folder.relative_path().empty()) {
        return PathProblem::Root;
    }
    return platform.isLocalFixedFolder(folder) ? PathProblem::None : PathProblem::NotLocalFixed;
}

int FilterSet::earlierItemTaking(const FilterItem& item, std::size_t position) const {
    const int32_t type = item.contentType;
    const auto takesType = [type](int32_t earlier) {
        if (earlier == codeOf(ContentType::All) || earlier == type) {
            return true;
        }
        const ContentTypeInfo* row = contentTypeInfo(type);
        return isContentTypeGroup(earlier) && row != nullptr && codeOf(row->group) == earlier;
    };
    // Every URL the item matches holds one of its parts; the earlier item
    // matches it too when each of those parts holds one of the earlier's.
    const auto takesUrls = [&item](const std::vector<std::string>& earlierParts) {
        if (earlierParts.empty()) {
            return true;
        }
        if (item.urlParts.empty()) {
            return false;
        }
        for (const std::string& part : item.urlParts) {
            bool covered = false;
            for (const std::string& earlier : earlierParts) {
                covered = covered || part.find(earlier) != std::string::npos;
            }
            if (!covered) {
                return false;
            }
        }
        return true;
    };
    for (std::size_t i = 0; i < position && i < items.size(); ++i) {
        const FilterItem& earlier = *items[i];
        if (!earlier.disabled && takesType(earlier.contentType) && takesUrls(earlier.urlParts)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace harvix
