// "harvix-cli comb BROWSER ...": one comb run as the tray program runs it
// (the same reader, the same filter pass), with the error texts on standard
// error instead of message boxes. Prints every file it keeps.

#include <cstdio>
#include <iostream>

#include "app/ErrorText.h"
#include "app/Settings.h"
#include "base/ErrorReport.h"
#include "base/Text.h"
#include "cli/ArgumentParser.h"
#include "cli/Command.h"
#include "cli/EntryListing.h"
#include "cli/ProgressLine.h"
#include "cli/ReaderArgs.h"
#include "engine/CombOnce.h"
#include "filter/CombPass.h"
#include "filter/FilterSet.h"
#include "platform/Path.h"
#include "platform/Platform.h"

namespace harvix {

namespace {

// What the pass tells the command while it runs. On a terminal, standard
// error shows a progress line (entries combed of all, files kept, time
// taken); a kept file's path takes the line's place and the line follows.
class CombReport : public CombObserver {
public:
    explicit CombReport(const LanguageTexts& texts)
        : texts_(texts), line_(ProgressLine::forStandardError()) {}

    void entryCombed(uint64_t done, uint64_t total) override {
        done_ = done;
        total_ = total;
        line_.update(done, total, kept_);
    }

    void keptFile(const CacheEntry& /*entry*/, const std::string& path) override {
        ++kept_;
        line_.clear();
        std::cout << path << '\n';
        if (line_.enabled() && total_ > 0) {  // before the first entry's counts, none to show
            std::cout.flush();
            line_.update(done_, total_, kept_);
        }
    }

    void error(const ErrorReport& report) override {
        if (report.kind() == ErrorReport::CreateFolder ||
            report.kind() == ErrorReport::TargetInCache) {
            folderFailed = true;
        } else if (report.kind() == ErrorReport::BadFileName) {
            stemFailed = true;
        }
        line_.clear();
        const std::string box = errorBoxText(report, texts_);
        std::cerr << (box.empty() ? "harvix-cli comb: " + errorLine(report) : "Harvix: " + box)
                  << "\n";
    }

    // Leaves the last state of the line, when one was drawn, before the summary.
    void finish() { line_.finish(); }

    bool folderFailed = false;
    bool stemFailed = false;  // an item's filename dummy cannot stand in a name

private:
    const LanguageTexts& texts_;
    ProgressLine line_;
    uint64_t done_ = 0;
    uint64_t total_ = 0;
    uint64_t kept_ = 0;
};

class CombCommand final : public Command {
public:
    std::string name() const override { return "comb"; }

    std::string summary() const override {
        return "comb a browser's cache into the filter's folders";
    }

    std::string usage() const override {
        return "Usage: harvix-cli comb BROWSER [--cache PATH] [--filter FILE] [--since WHEN]\n"
               "                  [--one-copy | --no-one-copy]\n"
               "                  [--skip-duplicates | --no-skip-duplicates] [--site-tree]\n"
               "\n" +
               wrapped("Runs one comb of the cache of BROWSER (" + browserWordsText() +
                       ") exactly as the Harvix program does: every cache entry is matched "
                       "against the filter items and each match is copied into the item's "
                       "folder. Prints the full path of every file kept, one per line.") +
               "\n"
               "When standard error is a terminal,\n"
               "a progress bar there shows the entries combed of all, the files kept and\n"
               "the time taken; a summary line on standard error ends the run.\n"
               "\n"
               "  --cache PATH         the cache (see 'harvix-cli help list')\n"
               "  --filter FILE        the filter file; default: the current filter file\n"
               "                       of the settings, else the default filter file\n"
               "  --since WHEN         comb only entries whose time is not earlier: seconds\n"
               "                       since 1970 (0, the default, combs every entry), a\n"
               "                       duration back from now (90s, 15m, 2h, 3d, 1h30m)\n"
               "                       or a local date (2026-12-01, 2026-12-01T10:00)\n"
               "  --one-copy, --no-one-copy\n"
               "                       keep an entry only for the first item that saves\n"
               "                       it, or for every item; default: the settings\n"
               "  --skip-duplicates, --no-skip-duplicates\n"
               "                       drop a copy equal to a file already in its folder;\n"
               "                       default: the settings\n"
               "  --site-tree          save every match at its URL's path below the\n"
               "                       item's folder, FOLDER/HOST[_PORT]/PATH, instead\n"
               "                       of under the filename dummy (as an item with the\n"
               "                       SiteTree option does)\n"
               "\n"
               "Exit status 0 after a run, 1 on a usage error, a filter file that does\n"
               "not load or standard output that cannot be written, 2 when the cache\n"
               "cannot be opened, 3 when a target folder cannot be made or an item's\n"
               "filename dummy holds a '/' (its matches are not saved), 4 when a\n"
               "matching entry could not be copied (the summary names the reasons).\n"
               "The settings file is read, never written.\n";
    }

    int run(const std::vector<std::string>& args) override {
        std::string cache;
        std::string filterFile;
        std::optional<int64_t> since;
        int oneCopy = -1;
        int skipDuplicates = -1;
        bool siteTree = false;
        ArgumentParser parser;
        addCacheOption(parser, cache);
        addFilterOption(parser, filterFile);
        addSinceOption(parser, platformServices().currentTime(), since);
        parser.flag("--site-tree", [&siteTree] { siteTree = true; });
        parser.choice("--one-copy", "--no-one-copy", oneCopy);
        parser.choice("--skip-duplicates", "--no-skip-duplicates", skipDuplicates);
        const BrowserRow* browser = nullptr;
        if (const std::optional<std::string> why = parser.parse(args, browser)) {
            return usageError(*why);
        }

        const CliProfile profile = loadSettingsReadOnly();
        const Settings& settings = profile.settings;
        CombOptions options;
        options.oneCopy = oneCopy >= 0 ? oneCopy == 1 : settings.OneCopy;
        options.skipDuplicates =
            skipDuplicates >= 0 ? skipDuplicates == 1 : settings.SkipDuplicates;
        options.sinceTime = since.value_or(0);
        options.siteTree = siteTree;
        if (filterFile.empty()) {
            filterFile = !settings.FiltersFileName.empty() ? settings.FiltersFileName
                                                           : pathToUtf8(settings.defaultFilterPath);
        }
        FilterSet filter;
        filter.homeFolder = platformServices().homeFolder();
        if (const std::optional<FilterLoadError> failed = filter.loadFile(
                filterFile, static_cast<std::time_t>(platformServices().currentTime()))) {
            std::cerr << "harvix-cli comb: " << filterFile
                      << ": cannot be loaded as a Harvix filter file (" << failed->reason << ")\n";
            return kExitUsage;
        }
        if (filter.itemsLeftOut > 0) {
            std::cerr << "harvix-cli comb: " << filterFile << ": only the first "
                      << FilterSet::kMaxItems << " items are used; " << filter.itemsLeftOut
                      << " more are left out\n";
        }
        // The snapshot is taken before the cache is read: the date and time
        // of the folders are those of the run's start.
        IPlatform& platform = platformServices();
        const FilterSnapshot snapshot =
            FilterSnapshot::take(filter, platform.homeFolder(), platform.currentTime());

        const auto reader = makeReaderOrSay(*browser, cache, settings.MozillaCachePath, platform);
        if (reader == nullptr) {
            return kExitCacheOpen;
        }
        CombReport report(profile.texts);
        const CombRun run = combOnce(*reader, snapshot, options, report, platform);
        if (run.openError) {
            sayWhyNotOpened(*reader, *run.openError, *browser, "comb", profile.texts);
            return kExitCacheOpen;
        }
        const CombResult& result = run.result;
        std::cout.flush();
        report.finish();
        std::cerr << "harvix-cli comb: " << result.entriesCombed << " of " << run.entriesRead
                  << " entries combed, " << result.kept << (result.kept == 1 ? " file" : " files")
                  << " kept" << (report.folderFailed ? "; a target folder cannot be made" : "")
                  << (report.stemFailed ? "; an item's filename dummy cannot be used" : "");
        if (result.failed > 0) {
            std::cerr << "; " << result.failed << (result.failed == 1 ? " copy" : " copies")
                      << " failed";
        }
        std::cerr << "\n";
        SkipCounts leftOut = run.skipped;
        for (const auto& [reason, count] : run.result.leftOut) {
            leftOut.byReason[reason] += count;
        }
        sayWhatWasLeftOut(leftOut, "comb");
        for (const auto& [reason, failures] : result.failures) {
            std::cerr << "harvix-cli comb: " << failures.count << " failed: " << reason;
            for (std::size_t i = 0; i < failures.firstUrls.size(); ++i) {
                std::cerr << (i == 0 ? " (" : ", ") << fieldText(failures.firstUrls[i]);
            }
            if (!failures.firstUrls.empty()) {
                std::cerr << (failures.count > failures.firstUrls.size() ? ", ...)" : ")");
            }
            std::cerr << "\n";
        }
        if (!std::cout) {
            std::cerr << "harvix-cli comb: standard output cannot be written\n";
            return kExitUsage;
        }
        if (report.folderFailed || report.stemFailed) {
            return kExitTargetFolder;
        }
        return result.failed > 0 ? kExitCopyFailed : kExitOk;
    }

private:
    int usageError(const std::string& why) const { return harvix::usageError(name(), why); }
};

}  // namespace

std::unique_ptr<Command> makeCombCommand() {
    return std::make_unique<CombCommand>();
}

}  // namespace harvix
