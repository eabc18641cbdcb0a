// "harvix-cli export BROWSER --warc FILE": writes the cache's HTTP
// responses (or, with --filter, those an enabled item takes as a comb
// does) into a new web archive.
#include <cerrno>
#include <iostream>

#include "app/ErrorText.h"
#include "app/Settings.h"
#include "base/ErrorReport.h"
#include "base/Text.h"
#include "cli/ArgumentParser.h"
#include "cli/Command.h"
#include "cli/EntryListing.h"
#include "cli/ReaderArgs.h"
#include "filter/CombPass.h"
#include "filter/FilterSet.h"
#include "filter/WarcExport.h"
#include "platform/Path.h"
#include "platform/Platform.h"

namespace harvix {

namespace {

class ExportCommand final : public Command {
public:
    std::string name() const override { return "export"; }

    std::string summary() const override { return "write a cache's responses as a web archive"; }

    std::string usage() const override {
        return "Usage: harvix-cli export BROWSER --warc FILE [--cache PATH] [--filter FILE]\n"
               "                  [--since WHEN]\n"
               "\n" +
               wrapped("Writes the HTTP responses the cache of BROWSER (" + browserWordsText() +
                       ") holds into FILE, a new web archive (WARC 1.1): a warcinfo record, "
                       "then one response record per entry with the stored status line and "
                       "headers and the body exactly as the server sent it (still compressed "
                       "where it was), the entry's URL and time, and SHA-1 digests of the "
                       "block and the payload. Each record is a gzip member of its own; a "
                       "FILE ending in .warc is written without compression. An existing file "
                       "is never replaced. Entries without a stored response head, and those of "
                       "the URL cache (which keeps bodies decoded), are left out. Prints the path "
                       "of the archive.") +
               "\n"
               "\n"
               "  --warc FILE          the archive to write (.warc.gz, or .warc)\n"
               "  --cache PATH         the cache (see 'harvix-cli help list')\n"
               "  --filter FILE        only the entries an enabled item of this filter\n"
               "                       file takes as a comb does (content type, size,\n"
               "                       URL parts, picture size)\n"
               "  --since WHEN         only entries whose time is not earlier, as for\n"
               "                       'harvix-cli help list'\n"
               "\n"
               "Exit status 0 when every entry chosen was written, 1 on a usage error or\n"
               "a filter file that does not load, 2 when the cache cannot be opened, 3\n"
               "when FILE exists, lies in the cache or cannot be written (nothing is\n"
               "kept then), 4 when an entry's bytes could not be read (the archive\n"
               "holds the others).\n";
    }

    int run(const std::vector<std::string>& args) override {
        std::string cache;
        std::string warc;
        std::string filterFile;
        std::optional<int64_t> since;
        ArgumentParser parser;
        addCacheOption(parser, cache);
        addFilterOption(parser, filterFile);
        addSinceOption(parser, platformServices().currentTime(), since);
        parser.text("--warc", warc, "file");
        const BrowserRow* browser = nullptr;
        if (const std::optional<std::string> why = parser.parse(args, browser)) {
            return usageError(*why);
        }
        if (warc.empty()) {
            return usageError("--warc FILE is missing");
        }
        IPlatform& platform = platformServices();
        const CliProfile profile = loadSettingsReadOnly();
        FilterSet filter;
        filter.homeFolder = platform.homeFolder();
        if (!filterFile.empty()) {
            if (const std::optional<FilterLoadError> failed =
                    filter.loadFile(filterFile, static_cast<std::time_t>(platform.currentTime()))) {
                std::cerr << "harvix-cli export: " << filterFile
                          << ": cannot be loaded as a Harvix filter file (" << failed->reason
                          << ")\n";
                return kExitUsage;
            }
        }

        const auto reader =
            makeReaderOrSay(*browser, cache, profile.settings.MozillaCachePath, platform);
        if (reader == nullptr || !openOrSay(*reader, *browser, "export", profile.texts)) {
            return kExitCacheOpen;
        }
        const Reading reading = readCache(*reader);
        std::vector<const CacheEntry*> chosen;
        for (const auto& entry : reading.entries) {
            if (since.value_or(0) == 0 || entry->time >= *since) {
                chosen.push_back(entry.get());
            }
        }

        std::error_code ec;
        const fs::path absolute = fs::absolute(pathFromUtf8(warc), ec);
        WarcOptions options;
        options.gzip = !isPlainWarcName(warc);
        options.software = std::string("harvix-cli ") + HARVIX_VERSION;
        options.description = "the " + browser->id + " cache" +
                              (reader->root().empty() ? "" : " in " + pathToUtf8(reader->root()));
        options.now = platform.currentTime();
        // The items as a comb takes them (URL parts parsed); their folders
        // play no part.
        const FilterSnapshot snapshot =
            FilterSnapshot::take(filter, filter.homeFolder, static_cast<std::time_t>(options.now));
        if (!filterFile.empty()) {
            options.filter = &snapshot.items;
        }
        WarcExportResult result;
        try {
            result = exportWarc(*reader, chosen, pathToUtf8(ec ? pathFromUtf8(warc) : absolute),
                                options);
        } catch (const ErrorReport& report) {
            reader->close();
            std::cerr << "harvix-cli export: " << warc << ": "
                      << (report.kind() == ErrorReport::TargetInCache
                              ? "lies in the cache, which is only ever read"
                          : report.systemError() == EEXIST
                              ? std::string("exists; it is not replaced")
                              : errorLine(report))
                      << "; nothing written\n";
            return kExitTargetFolder;
        }
        reader->close();
        std::cout << result.path << '\n';
        std::cout.flush();
        uint64_t failed = 0;
        for (const auto& [reason, count] : result.failed) {
            failed += count;
            std::cerr << "harvix-cli export: " << count << " failed: " << reason << "\n";
        }
        std::cerr << "harvix-cli export: " << result.records
                  << (result.records == 1 ? " response" : " responses") << " of "
                  << reading.entries.size() << " entries written\n";
        SkipCounts leftOut = reading.skipped;
        for (const auto& [reason, count] : result.leftOut) {
            leftOut.byReason[reason] += count;
        }
        sayWhatWasLeftOut(leftOut, "export");
        if (!std::cout) {
            std::cerr << "harvix-cli export: standard output cannot be written\n";
            return kExitUsage;
        }
        return failed > 0 ? kExitCopyFailed : kExitOk;
    }

private:
    int usageError(const std::string& why) const {
        std::cerr << "harvix-cli export: " << why << "\n\n" << usage();
        return kExitUsage;
    }
};

}  // namespace

std::unique_ptr<Command> makeExportCommand() {
    return std::make_unique<ExportCommand>();
}

}  // namespace harvix
