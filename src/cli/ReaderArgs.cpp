#include "cli/ReaderArgs.h"

#include <cerrno>
#include <cstdio>
#include <iostream>

#include "app/ErrorText.h"
#include "engine/Browsers.h"
#include "readers/UrlCacheReader.h"
#include "readers/chromium/ChromiumCacheReader.h"

namespace harvix {

std::unique_ptr<CacheReader> makeReaderOrSay(int32_t kind, const std::string& word,
                                             const std::string& namedFolder,
                                             const std::string& rememberedFolder) {
    const BrowserRow* row = browserRow(kind);
    std::unique_ptr<CacheReader> reader;
    if (!namedFolder.empty()) {
        reader = makeBrowserReaderAt(kind, namedFolder);
    } else if (row != nullptr) {
        reader = makeBrowserReader(kind, row->hasCacheFolderOption ? rememberedFolder : "");
    }
    if (reader == nullptr) {
        std::cerr << "harvix-cli: the cache reader for '" << word
                  << "' is not available in this build\n";
    }
    return reader;
}

namespace {

// Why a Firefox cache folder could not be opened, for one line.
std::string firefoxOpenFailure(const ErrorReport& report) {
    if (report.secondPath().empty()) {
        return report.systemError() == ENOENT
                   ? "no Firefox cache there (looked for cache2/entries, entry files and "
                     "Cache/_CACHE_MAP_)"
                   : report.systemText();
    }
    if (report.systemError() == ELOOP) {
        return report.secondPath() + " is a symbolic link, which is never followed inside a cache";
    }
    return report.secondPath() + ": " + report.systemText();
}

}  // namespace

void sayWhyNotOpened(CacheReader& reader, const std::string& command, const LanguageTexts& texts) {
    if (auto* urlCache = dynamic_cast<UrlCacheReader*>(&reader)) {
        std::cerr << "harvix-cli " << command
                  << ": cannot open the URL cache: " << urlCache->service().failureText() << "\n";
        return;
    }
    if (auto* chromium = dynamic_cast<ChromiumCacheReader*>(&reader)) {
        std::cerr << "harvix-cli " << command << ": no " << chromium->browser() << " cache found"
                  << (reader.openError && !reader.openError->path().empty()
                          ? " in " + reader.openError->path()
                          : std::string())
                  << "; name a Cache_Data folder, a profile folder or a browser root with "
                     "--cache\n";
        return;
    }
    if (!reader.openError) {
        return;
    }
    const ErrorReport& report = *reader.openError;
    if (showsErrorBox(report)) {
        std::cerr << "Harvix: " << errorBoxText(report, texts) << "\n";
    }
    std::cerr << "harvix-cli " << command << ": cannot open the Firefox cache"
              << (report.path().empty()
                      ? std::string(" (no cache folder found)")
                      : " in " + report.path() + ": " + firefoxOpenFailure(report))
              << "; name the cache folder with --cache\n";
}

std::string fieldText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            out += escaped;
        } else {
            out.push_back(ch);
        }
    }
    return out;
}

void sayWhatWasLeftOut(const SkipCounts& skips, const std::string& command) {
    for (const auto& [reason, count] : skips.byReason) {
        std::cerr << "harvix-cli " << command << ": " << count << " left out: " << reason << "\n";
    }
}

}  // namespace harvix
