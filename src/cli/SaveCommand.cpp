// "harvix-cli save BROWSER INDEX... --to FOLDER": copies the entries that
// "list" shows under these indexes into a folder, with the comb's own save
// step: numbered names from a stem, never over an existing file, decoded as a
// comb decodes, Skip Duplicates as the settings (or the option) say.
#include <iostream>
#include <set>

#include "app/ErrorText.h"
#include "app/Settings.h"
#include "base/ErrorReport.h"
#include "cli/ArgumentParser.h"
#include "cli/Command.h"
#include "cli/EntryListing.h"
#include "cli/ReaderArgs.h"
#include "filter/EntrySave.h"
#include "platform/Path.h"
#include "platform/Platform.h"

namespace harvix {

namespace {

class SaveCommand final : public Command {
public:
    std::string name() const override { return "save"; }

    std::string summary() const override { return "save chosen entries of a cache into a folder"; }

    std::string usage() const override {
        return "Usage: harvix-cli save BROWSER INDEX... --to FOLDER [--cache PATH]\n"
               "                  [--stem NAME | --site-tree]\n"
               "                  [--skip-duplicates | --no-skip-duplicates]\n"
               "\n" +
               wrapped("Saves the cache entries of BROWSER (" + browserWordsText() +
                       ") that 'harvix-cli list' shows with these indexes into FOLDER, as a "
                       "comb saves a match: the file is named NAME followed by the next free "
                       "number and the content type's extension (photo1.jpg), an existing "
                       "file is never replaced, and a body the server sent compressed is "
                       "saved decoded. Prints the full path of every file saved, one per "
                       "line.") +
               "\n"
               "\n"
               "  --to FOLDER          the folder to save into; made when missing\n"
               "  --cache PATH         the cache (see 'harvix-cli help list')\n"
               "  --stem NAME          the start of the file names; default: the default\n"
               "                       filename dummy of the settings\n"
               "  --site-tree          save each entry at its URL's path instead:\n"
               "                       FOLDER/HOST[_PORT]/PATH (index.html for a path\n"
               "                       ending in '/', the query after an '@'); an\n"
               "                       existing file is never replaced (NAME_1.EXT...)\n"
               "  --skip-duplicates, --no-skip-duplicates\n"
               "                       drop a copy equal to a file already in the folder;\n"
               "                       default: the settings\n"
               "\n"
               "Exit status 0 when every entry was saved (or skipped as a duplicate), 1 on\n"
               "a usage error or an index the cache does not list (nothing is saved\n"
               "then) or standard output that cannot be written, 2 when the cache\n"
               "cannot be opened, 3 when the folder cannot be made or lies in the\n"
               "cache, 4 when an entry could not be copied. The settings file is read,\n"
               "never written.\n";
    }

    int run(const std::vector<std::string>& args) override {
        std::string cache;
        std::string folder;
        std::optional<std::string> stem;
        bool siteTree = false;
        int skipDuplicates = -1;
        std::vector<uint64_t> indexes;
        std::set<uint64_t> seen;
        ArgumentParser parser;
        addCacheOption(parser, cache);
        parser.text("--to", folder, "folder");
        parser.option("--stem", [&stem](const std::string& value) -> std::optional<std::string> {
            if (value.find_first_of("/\\") != std::string::npos ||
                value.find('\0') != std::string::npos) {
                return "--stem must not hold a path separator";
            }
            stem = value;
            return std::nullopt;
        });
        parser.flag("--site-tree", [&siteTree] { siteTree = true; });
        parser.choice("--skip-duplicates", "--no-skip-duplicates", skipDuplicates);
        parser.moreWords([&](const std::string& word) -> std::optional<std::string> {
            int64_t index = 0;
            if (word[0] == '+' || !parseWholeSeconds(word, index)) {
                return "'" + word + "' is not an entry index";
            }
            if (seen.insert(static_cast<uint64_t>(index)).second) {
                indexes.push_back(static_cast<uint64_t>(index));
            }
            return std::nullopt;
        });
        const BrowserRow* browser = nullptr;
        if (const std::optional<std::string> why = parser.parse(args, browser)) {
            return usageError(*why);
        }
        if (indexes.empty()) {
            return usageError("no entry index given");
        }
        if (folder.empty()) {
            return usageError("--to FOLDER is missing");
        }
        if (siteTree && stem) {
            return usageError("--stem and --site-tree exclude each other");
        }

        const CliProfile profile = loadSettingsReadOnly();
        const Settings& settings = profile.settings;
        const std::string fileStem = stem.value_or(settings.DefaultFileNameDummy);
        const bool skip = skipDuplicates < 0 ? settings.SkipDuplicates : skipDuplicates == 1;

        IPlatform& platform = platformServices();
        const auto reader = makeReaderOrSay(*browser, cache, settings.MozillaCachePath, platform);
        if (reader == nullptr) {
            return kExitCacheOpen;
        }
        if (!openOrSay(*reader, *browser, "save", profile.texts)) {
            return kExitCacheOpen;
        }
        const Reading reading = readCache(*reader);
        const std::size_t count = reading.entries.size();
        std::vector<const CacheEntry*> chosen;
        for (const uint64_t index : indexes) {
            if (index >= count) {
                std::cerr << "harvix-cli save: index " << index << " is out of range: the cache "
                          << (count == 0 ? std::string("lists no entries")
                                         : "lists " + std::to_string(count) +
                                               (count == 1 ? " entry (index 0)"
                                                           : " entries (0 to " +
                                                                 std::to_string(count - 1) + ")"))
                          << "; nothing saved\n";
                reader->close();
                return kExitUsage;
            }
            chosen.push_back(reading.entries[static_cast<std::size_t>(index)].get());
        }

        // The folder as the user means it, made absolute, since the folder
        // rule accepts only absolute folders.
        std::error_code ec;
        const fs::path target = fs::absolute(pathFromUtf8(folder), ec);
        std::vector<EntrySaveResult> results;
        try {
            results = saveEntries(*reader, chosen, pathToUtf8(ec ? pathFromUtf8(folder) : target),
                                  fileStem, skip, platform, {}, nullptr, siteTree);
        } catch (const ErrorReport& report) {
            std::cerr << "harvix-cli save: " << errorLine(report) << "\n";
            reader->close();
            return report.kind() == ErrorReport::BadFileName ? kExitUsage : kExitTargetFolder;
        }
        reader->close();

        std::size_t saved = 0;
        std::size_t duplicates = 0;
        std::size_t failed = 0;
        for (std::size_t i = 0; i < results.size(); ++i) {
            switch (results[i].outcome) {
                case EntrySaveResult::Outcome::Saved:
                    ++saved;
                    std::cout << results[i].path << '\n';
                    break;
                case EntrySaveResult::Outcome::Duplicate:
                    ++duplicates;
                    std::cerr << "harvix-cli save: entry " << indexes[i]
                              << " is already in the folder\n";
                    break;
                case EntrySaveResult::Outcome::Failed:
                    ++failed;
                    std::cerr << "harvix-cli save: entry " << indexes[i]
                              << " could not be copied: " << results[i].reason << "\n";
                    break;
            }
        }
        std::cout.flush();
        std::cerr << "harvix-cli save: " << saved << (saved == 1 ? " file" : " files") << " saved";
        if (duplicates > 0) {
            std::cerr << ", " << duplicates << " already there";
        }
        if (failed > 0) {
            std::cerr << ", " << failed << " failed";
        }
        std::cerr << "\n";
        if (!std::cout) {
            std::cerr << "harvix-cli save: standard output cannot be written\n";
            return kExitUsage;
        }
        return failed > 0 ? kExitCopyFailed : kExitOk;
    }

private:
    int usageError(const std::string& why) const { return harvix::usageError(name(), why); }
};

}  // namespace

std::unique_ptr<Command> makeSaveCommand() {
    return std::make_unique<SaveCommand>();
}

}  // namespace harvix
