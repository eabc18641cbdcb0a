#include "FuzzHarness.h"
#include "HarnessSupport.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <limits>
#include <memory>

#include "app/LanguageTexts.h"
#include "app/Settings.h"
#include "base/ContentType.h"
#include "base/ErrorReport.h"
#include "base/Profile.h"
#include "base/Text.h"
#include "filter/FilterSet.h"
#include "filter/ImageSize.h"
#include "platform/Path.h"
#include "platform/Platform.h"
#include "readers/BodyCopy.h"
#include "readers/MsiecfUrlCache.h"
#include "readers/UrlCacheReader.h"

namespace harvix {

namespace fuzzing {

namespace {

// Cached files laid out and copied per index.
constexpr std::size_t kMaxCopiedFiles = 8;

bool isInside(const fs::path& path, const fs::path& folder) {
    const fs::path normal = path.lexically_normal();
    const fs::path base = folder.lexically_normal();
    auto p = normal.begin();
    for (auto b = base.begin(); b != base.end(); ++b, ++p) {
        if (b->empty()) {
            continue;  // a trailing separator
        }
        if (p == normal.end() || *p != *b) {
            return false;
        }
    }
    return p != normal.end();
}

}  // namespace

// ---- Scratch folder ----

ScratchFolder::ScratchFolder() {
    std::error_code ec;
    fs::path base = "/dev/shm";
    if (!fs::is_directory(base, ec) || access(base.c_str(), W_OK) != 0) {
        base = fs::temp_directory_path(ec);
    }
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const fs::path candidate =
            base / ("harvix-fuzz-" + std::to_string(getpid()) + "-" + std::to_string(attempt));
        if (fs::create_directory(candidate, ec)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot make a scratch folder");
}

ScratchFolder::~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

// ---- Profile files ----

void runProfile(const uint8_t* data, std::size_t size, const fs::path& scratch) {
    clearFolder(scratch);
    const fs::path file = scratch / "Harvix.cfg";
    const std::string input(reinterpret_cast<const char*>(data), size);
    writeBytes(file, input);

    // As the settings file and as a language file.
    Settings settings;
    settings.cfgPath = file;
    settings.loadSettings();
    check(isValidUtf8(settings.MozillaCachePath) && isValidUtf8(settings.DefaultCombPath) &&
              isValidUtf8(settings.FiltersFileName) && isValidUtf8(settings.Language),
          "a settings text is not valid UTF-8");
    settings.Language = pathToUtf8(file);
    LanguageTexts texts;
    loadLanguage(texts, settings);
    for (const LanguageTexts::Key& key : LanguageTexts::Keys()) {
        check(isValidUtf8(texts.*key.text), std::string("language text not UTF-8: ") + key.name);
    }

    ProfileFile profile = ProfileFile::load(file);
    std::size_t values = 0;
    profile.forEachLine([](std::string_view) {},
                        [&](std::string_view key, std::string value) {
                            ++values;
                            check(isValidUtf8(key) && isValidUtf8(value),
                                  "a profile key or value is not valid UTF-8");
                            check(value.size() <= kProfileValueLimit * 4,
                                  "a value longer than the limit");
                        });

    // A value set reads back, in memory and from the saved file; the rest of
    // the file reads back alike.
    const std::string before = profile.get("GENERAL", "Language", "(none)");
    profile.set("GENERAL", "Language", "Deutsch");
    check(profile.get("GENERAL", "Language") == "Deutsch", "a value set does not read back");
    profile.set("Fuzz Section", "Key", "a value");
    check(profile.get("fuzz section", "KEY") == "a value", "a new section does not read back");
    const fs::path saved = scratch / "saved.cfg";
    check(profile.save(saved), "a loaded profile cannot be saved");
    const ProfileFile again = ProfileFile::load(saved);
    // Files are written without a byte-order mark; a text that itself
    // starts with one (a UTF-16 file whose first character is U+FEFF after
    // its mark) loses it when read back, as the mark of the file.
    std::string expected = profile.toText();
    if (expected.rfind("\xEF\xBB\xBF", 0) == 0) {
        expected.erase(0, 3);
    }
    check(again.toText() == expected, "a saved profile reads back different");
    (void)before;
}

// ---- Filter files ----

namespace {

// A text that a save and a load give back unchanged: no line break (it
// becomes a blank), no blank at either end (trimmed) and no enclosing quotes
// (one pair is taken off).
bool survivesRoundTrip(const std::string& text) {
    if (text.find_first_of("\r\n") != std::string::npos || trim(text).size() != text.size()) {
        return false;
    }
    return text.empty() || (text.front() != '"' && text.front() != '\'');
}

}  // namespace

void runFilterFile(const uint8_t* data, std::size_t size, const fs::path& scratch) {
    clearFolder(scratch);
    const fs::path file = scratch / "in.flt";
    writeBytes(file, std::string_view(reinterpret_cast<const char*>(data), size));

    FilterSet filter;
    const bool loaded = !filter.loadFile(pathToUtf8(file), 0);
    check(filter.items.size() <= FilterSet::kMaxItems, "more items than the bound");
    if (!loaded) {
        check(filter.items.empty(), "a refused filter file left items");
        return;
    }
    CacheEntry probe;
    probe.url = "http://www.example.org/images/photo.jpg";
    probe.contentType = 1;
    probe.size = 5000;
    for (std::size_t i = 0; i < filter.items.size(); ++i) {
        const FilterItem& item = *filter.items[i];
        check(item.position == static_cast<int32_t>(i), "items are not numbered in order");
        check(isValidUtf8(item.url) && isValidUtf8(item.directory) && isValidUtf8(item.stem) &&
                  isValidUtf8(filter.hint),
              "a filter text is not valid UTF-8");
        for (const std::string& part : item.urlParts) {
            check(!part.empty() && part.find_first_of(" \t") == std::string::npos,
                  "a URL part is empty or holds a blank");
        }
        (void)item.matches(probe);
    }

    const fs::path saved = scratch / "saved.flt";
    check(!filter.saveFile(pathToUtf8(saved)), "a loaded filter set cannot be saved");
    FilterSet again;
    check(!again.loadFile(pathToUtf8(saved), 0), "a saved filter file does not load");
    check(again.items.size() == filter.items.size(), "a saved filter file has other items");
    for (std::size_t i = 0; i < filter.items.size(); ++i) {
        const FilterItem& a = *filter.items[i];
        const FilterItem& b = *again.items[i];
        check(a.contentType == b.contentType && a.disabled == b.disabled &&
                  a.minSize == b.minSize && a.minWidth == b.minWidth && a.minHeight == b.minHeight,
              "a saved item reads back with other numbers");
        for (const auto& [before, after] :
             {std::pair{a.url, b.url}, std::pair{a.directoryTemplate, b.directoryTemplate},
              std::pair{a.stem, b.stem}}) {
            if (survivesRoundTrip(before)) {
                check(before == after, "a saved item text reads back different: " + before);
            }
        }
    }
}

// ---- Internet Explorer ----

void runIndexDat(const uint8_t* data, std::size_t size, const fs::path& scratch) {
    clearFolder(scratch);
    const fs::path container = scratch / "Content.IE5";
    const fs::path out = scratch / "out";
    fs::create_directories(container);
    fs::create_directories(out);
    const fs::path index = container / "index.dat";
    const std::string input(reinterpret_cast<const char*>(data), size);
    writeBytes(index, input);

    UrlCacheReader reader(std::make_unique<MsiecfUrlCache>(index));
    if (openCache(reader)) {
        return;
    }
    Reading reading = readCache(reader);
    std::size_t copied = 0;
    for (std::size_t i = 0; i < reading.entries.size(); ++i) {
        CacheEntry& entry = *reading.entries[i];
        check(entry.index == i, "entries are not numbered in order");
        checkEntryTexts(entry);
        check(!entry.url.empty() && !entry.dataFile.empty(), "an entry without URL or file");
        // The cached file of a record is always below the index's folder:
        // a damaged record must not make the reader copy any other file.
        const fs::path source = pathFromUtf8(entry.dataFile);
        check(isInside(source, container), "a cached file outside the cache: " + entry.dataFile);
        if (copied < kMaxCopiedFiles) {
            std::error_code ec;
            fs::create_directories(source.parent_path(), ec);
            if (!fs::exists(source, ec)) {
                // A name the file system refuses (too long, a folder in the
                // way) leaves the file missing; the copy must fail cleanly.
                std::ofstream(source, std::ios::binary) << "cached bytes " << i;
            }
            const fs::path target = out / ("copy" + std::to_string(i));
            bool made = false;
            try {
                copyBodyToFile(reader, entry, target);
                made = true;
            } catch (const ErrorReport&) {
            }
            if (made) {
                // Exactly the entry's bytes, never more.
                check(readBytes(target) == readBytes(source).substr(0, entry.size),
                      "a copy differs from its source");
            }
            ++copied;
        }
    }
    reader.close();
    check(readBytes(index) == input, "reading changed the index");
}

// ---- Pictures ----

void runPictureSize(const uint8_t* data, std::size_t size, const fs::path& scratch) {
    clearFolder(scratch);
    const fs::path file = scratch / "cached";
    writeBytes(file, std::string_view(reinterpret_cast<const char*>(data), size));
    const PictureSize measured = measurePicture(file);
    if (measured.kind == PictureSize::Kind::Measured) {
        check(measured.width > 0 && measured.height > 0,
              "a measured picture without a positive size");
        // A stated height of INT32_MAX has no taller test to fail.
        const bool tallerFails = measured.height == std::numeric_limits<int32_t>::max() ||
                                 !measured.atLeast(measured.width, measured.height + 1);
        check(measured.atLeast(measured.width, measured.height) && tallerFails,
              "the picture test disagrees with the measure");
    } else {
        check(measured.width == 0 && measured.height == 0, "a size without a measure");
    }
}

// ---- By name ----

bool runHarness(std::string_view name, const uint8_t* data, std::size_t size,
                const fs::path& scratch) {
    if (name == "mozilla_map") {
        runMozillaMap(data, size, scratch);
    } else if (name == "mozilla_metadata") {
        runMozillaMetadata(data, size);
    } else if (name == "profile") {
        runProfile(data, size, scratch);
    } else if (name == "filter_file") {
        runFilterFile(data, size, scratch);
    } else if (name == "index_dat") {
        runIndexDat(data, size, scratch);
    } else if (name == "picture_size") {
        runPictureSize(data, size, scratch);
    } else if (name == "cache2_entry") {
        runCache2Entry(data, size, scratch);
    } else if (name == "chromium_simple") {
        runChromiumSimple(data, size);
    } else if (name == "chromium_sparse") {
        runChromiumSparse(data, size);
    } else if (name == "chromium_blockfile") {
        runChromiumBlockFile(data, size);
    } else if (name == "body_decoder") {
        runBodyDecoder(data, size);
    } else if (name == "cache_storage") {
        runCacheStorage(data, size);
    } else if (name == "dom_cache") {
        runDomCache(data, size, scratch);
    } else {
        return false;
    }
    return true;
}

}  // namespace fuzzing

}  // namespace harvix
