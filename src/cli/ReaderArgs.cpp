#include "cli/ReaderArgs.h"

#include <cerrno>
#include <cstdio>
#include <iostream>

#include "app/ErrorText.h"
#include "engine/Browsers.h"
#include "platform/Path.h"
#include "readers/chromium/ChromiumCacheReader.h"

namespace harvix {

std::unique_ptr<CacheReader> makeReaderOrSay(const BrowserRow& browser,
                                             const std::string& namedFolder,
                                             const std::string& rememberedFolder,
                                             IPlatform& platform) {
    std::unique_ptr<CacheReader> reader =
        !namedFolder.empty()
            ? browser.readerAt(platform, namedFolder)
            : browser.reader(platform, browser.hasCacheFolderOption ? rememberedFolder : "");
    if (reader == nullptr) {
        std::cerr << "harvix-cli: the cache reader for '" << browser.id
                  << "' is not available in this build\n";
    }
    return reader;
}

namespace {

// Why the URL cache did not open, from its report: where the index was
// looked for, or what is wrong with the one found.
std::string urlCacheFailure(const ErrorReport& report) {
    switch (report.systemError()) {
        case ENOENT: {
            // "no index.dat in FOLDER[ nor in FOLDER]"; a named file that
            // is not there is named whole.
            const fs::path tried = pathFromUtf8(report.path());
            if (tried.filename() != "index.dat") {
                return report.path() + ": " + report.systemText();
            }
            std::string text =
                "no " + pathToUtf8(tried.filename()) + " in " + pathToUtf8(tried.parent_path());
            if (!report.secondPath().empty()) {
                text += " nor in " + pathToUtf8(pathFromUtf8(report.secondPath()).parent_path());
            }
            return text;
        }
        case EINVAL:
            return report.path() + ": not a regular file";
        case EFBIG:
            return report.path() + ": too large for a URL cache index";
        case EBADMSG:
            return report.path() + ": not a readable URL cache index";
        default:
            return report.path() + ": " + report.systemText();
    }
}

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

bool openOrSay(CacheReader& reader, const BrowserRow& browser, const std::string& command,
               const LanguageTexts& texts) {
    const std::optional<ErrorReport> failed = openCache(reader);
    if (failed) {
        sayWhyNotOpened(reader, *failed, browser, command, texts);
    }
    return !failed;
}

void sayWhyNotOpened(const CacheReader& reader, const ErrorReport& report,
                     const BrowserRow& browser, const std::string& command,
                     const LanguageTexts& /*texts*/) {
    if (report.module() == ErrorReport::IECache) {
        std::cerr << "harvix-cli " << command
                  << ": cannot open the URL cache: " << urlCacheFailure(report) << "\n";
        return;
    }
    if (dynamic_cast<const ChromiumCacheReader*>(&reader) != nullptr) {
        std::cerr << "harvix-cli " << command << ": no " << browser.id << " cache found"
                  << (!report.path().empty() ? " in " + report.path() : std::string())
                  << "; name a Cache_Data folder, a profile folder or a browser root with "
                     "--cache\n";
        return;
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

void sayWhatWasLeftOut(const SkipCounts& skipped, const std::string& command) {
    for (const auto& [reason, count] : skipped.byReason) {
        std::cerr << "harvix-cli " << command << ": " << count << " left out: " << reason << "\n";
    }
}

}  // namespace harvix
