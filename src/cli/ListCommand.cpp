// "harvix-cli list BROWSER [--cache PATH]": opens a browser's cache as a comb
// run does and prints its entries, one tab-separated line each.
#include <iostream>

#include "cli/Command.h"
#include "cli/ReaderArgs.h"

namespace harvix {

namespace {

class ListCommand final : public Command {
public:
    std::string name() const override { return "list"; }

    std::string summary() const override { return "list the entries of a browser's cache"; }

    std::string usage() const override {
        return "Usage: harvix-cli list BROWSER [--cache PATH]\n"
               "\n"
               "Opens the cache of BROWSER (mozilla, ie or maxthon) as a comb run does\n"
               "and prints one line per cache entry, with these fields separated by\n"
               "tabs:\n"
               "  index, content-type code (0-18), size in bytes, time (seconds since\n"
               "  1970), data file, URL.\n"
               "Control characters inside a field are printed as %XX.\n"
               "\n"
               "  --cache PATH  for mozilla, the cache folder (the one holding\n"
               "                _CACHE_MAP_); without it the remembered folder of the\n"
               "                settings is used, and when that is empty the cache of\n"
               "                the first Firefox profile is looked for.\n"
               "                For ie and maxthon (one shared URL cache), the cache\n"
               "                index index.dat or a folder that holds it; without it\n"
               "                the index of the Wine prefix ($WINEPREFIX, else ~/.wine)\n"
               "                is looked for.\n"
               "\n"
               "Exit status 2, with the reason on standard error, when the cache cannot\n"
               "be opened; 1 on a usage error. The settings file is read, never written.\n";
    }

    int run(const std::vector<std::string>& args) override {
        std::string word;
        std::string cache;
        bool cacheGiven = false;
        for (std::size_t i = 0; i < args.size(); ++i) {
            if (args[i] == "--cache" && i + 1 < args.size() && !cacheGiven) {
                cache = args[++i];
                cacheGiven = true;
            } else if (word.empty() && !args[i].empty() && args[i][0] != '-') {
                word = args[i];
            } else {
                return usageError("unexpected argument '" + args[i] + "'");
            }
        }
        const int32_t kind = browserKindFromWord(word);
        if (kind < 0) {
            return usageError(word.empty() ? "no browser named" : "unknown browser '" + word + "'");
        }
        if (cacheGiven && cache.empty()) {
            return usageError("--cache needs a path");
        }
        loadSettingsReadOnly();
        const auto reader = makeReaderOrSay(kind, word, cache);
        if (reader == nullptr) {
            return kExitCacheOpen;
        }
        if (!reader->tryOpen()) {
            sayWhyNotOpened(*reader, "list");
            return kExitCacheOpen;
        }
        reader->loadEntries();
        for (const auto& entry : reader->entries) {
            std::cout << entry->index << '\t' << entry->contentType << '\t' << entry->size << '\t'
                      << entry->time << '\t' << fieldText(entry->dataFile) << '\t'
                      << fieldText(entry->url) << '\n';
        }
        reader->close();
        std::cout.flush();
        return kExitOk;
    }

private:
    int usageError(const std::string& why) const {
        std::cerr << "harvix-cli list: " << why << "\n\n" << usage();
        return kExitUsage;
    }
};

}  // namespace

std::unique_ptr<Command> makeListCommand() {
    return std::make_unique<ListCommand>();
}

}  // namespace harvix
