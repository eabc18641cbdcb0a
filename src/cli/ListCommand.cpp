// "harvix-cli list BROWSER [--cache PATH] [--format ...] [--type ...] ...":
// opens a browser's cache as a comb run does and prints its entries, one
// tab-separated line each, or as CSV or JSON; optionally only those a filter
// item with the given type and URL parts would match.
#include <iostream>

#include "base/ContentType.h"
#include "cli/ArgumentParser.h"
#include "cli/Command.h"
#include "cli/EntryListing.h"
#include "cli/ReaderArgs.h"
#include "platform/Platform.h"
#include "readers/BodyCopy.h"

namespace harvix {

namespace {

class ListCommand final : public Command {
public:
    std::string name() const override { return "list"; }

    std::string summary() const override { return "list the entries of a browser's cache"; }

    std::string usage() const override {
        return "Usage: harvix-cli list BROWSER [--cache PATH] [--format tsv|csv|json]\n"
               "                  [--type NAME] [--url TEXT] [--since WHEN]\n"
               "\n" +
               wrapped("Opens the cache of BROWSER (" + browserWordsText() +
                       ") as a comb run does and prints its entries. The default format is "
                       "one line per cache entry, with these fields separated by tabs:") +
               "\n"
               "  index, content-type code (as --type), size in bytes, time (seconds since\n"
               "  1970), data file, URL.\n"
               "Control characters inside a field are printed as %XX.\n"
               "\n"
               "  --cache PATH     for mozilla, a Firefox profile's local folder, its\n"
               "                   cache2 folder (by any name), cache2/entries or a folder\n"
               "                   of entry files (Firefox 32 and later), or an old Cache\n"
               "                   folder holding _CACHE_MAP_; without it the remembered\n"
               "                   folder of the settings is used when it holds a cache,\n"
               "                   else the cache of the profile Firefox uses\n"
               "                   (profiles.ini; Snap and Flatpak too). A profile's\n"
               "                   service-worker store (storage/default) is taken too.\n"
               "                   For cache2 the data file is the entry file's name.\n"
               "                   For ie and maxthon (one shared URL cache), the cache\n"
               "                   index index.dat or a folder that holds it; without it\n"
               "                   the index of the Wine prefix ($WINEPREFIX, else ~/.wine)\n"
               "                   is looked for.\n" +
               wrapped("For " + familyWordsText("chromium") +
                           ", a profile's cache folder (Cache_Data), a profile folder or a "
                           "browser root, or a profile's service-worker store (Service "
                           "Worker/CacheStorage); without it every profile of the browser's "
                           "cache roots below $XDG_CACHE_HOME (and its Snap and Flatpak "
                           "places).",
                       19) +
               "\n" +
               "                   For apps, one app's folder (~/.config/<App>), its Cache\n"
               "                   or Cache_Data; without it every app's cache below\n"
               "                   $XDG_CONFIG_HOME and ~/.var/app/<id>/config.\n"
               "  --format FORMAT  tsv (the default, as above); csv: comma-separated values\n"
               "                   (RFC 4180) after a header line index,content_type,\n"
               "                   content_type_name,size,decoded_size,time,time_iso,\n"
               "                   data_file,url,status,content_type_text,response_time,\n"
               "                   last_used,expires (decoded_size: the saved file's size,\n"
               "                   empty for a body stored encoded; a value the cache\n"
               "                   does not keep is empty)\n"
               "                   (the type's name and the time in ISO 8601, UTC, beside\n"
               "                   the code and the seconds); json: one\n"
               "                   array of objects with the fields index, contentType,\n"
               "                   contentTypeName, contentTypeText, size, decodedSize\n"
               "                   (null when encoded), time (seconds),\n"
               "                   timeIso (ISO 8601, UTC), dataFile, url, status,\n"
               "                   responseTime, lastUsed, expires (seconds since 1970,\n"
               "                   null where the cache keeps none) and headers (every\n"
               "                   stored header as a [name, value] pair).\n"
               "                   Times per cache (null where it keeps none): Firefox\n"
               "                   (both formats) response = entry last modified, last\n"
               "                   used = last fetched, expires = expiration; Chromium\n"
               "                   response = response received, last used from the\n"
               "                   simple cache's index (index-dir/the-real-index) or\n"
               "                   the block files' rankings, no expires; Chromium\n"
               "                   service-worker caches response = the metadata\n"
               "                   record's, last used from that cache's own index;\n"
               "                   Firefox service-worker caches none of the three\n"
               "                   (time = body file modified); ie and maxthon response\n"
               "                   = last checked, last used = last access, expires =\n"
               "                   expiry. time is the response time where kept.\n"
               "  --type NAME      only entries of this content type, named as in the\n"
               "                   filter editor or by its code:\n" +
               typeNames() +
               "                   pictures, videos and sounds take every picture, video\n"
               "                   and sound; all takes every type\n"
               "  --url TEXT       only entries whose URL holds TEXT; several texts\n"
               "                   separated by commas match any of them, as in a filter\n"
               "                   item\n"
               "  --since WHEN     only entries whose time is not earlier, as a comb\n"
               "                   with --since: seconds since 1970, a duration back\n"
               "                   from now (90s, 15m, 2h, 3d, 1h30m) or a local date\n"
               "                   (2026-12-01, 2026-12-01T10:00)\n"
               "\n"
               "The index of an entry stays the same whatever the options; 'harvix-cli\n"
               "save' takes it. What the reading left out is counted by reason on\n"
               "standard error.\n"
               "\n"
               "Exit status 2, with the reason on standard error, when the cache cannot\n"
               "be opened; 1 on a usage error. The settings file is read, never written.\n";
    }

    int run(const std::vector<std::string>& args) override {
        std::string cache;
        ListFormat format = ListFormat::Tsv;
        EntrySelection selection;
        std::optional<int64_t> since;
        ArgumentParser parser;
        addCacheOption(parser, cache);
        parser.option("--format",
                      [&format](const std::string& value) -> std::optional<std::string> {
                          const std::optional<ListFormat> chosen = listFormatFromWord(value);
                          if (!chosen) {
                              return "unknown format '" + value + "'; tsv, csv or json";
                          }
                          format = *chosen;
                          return std::nullopt;
                      });
        parser.option("--type",
                      [&selection](const std::string& value) -> std::optional<std::string> {
                          if (!selection.setType(value)) {
                              return "unknown content type '" + value + "'";
                          }
                          return std::nullopt;
                      });
        parser.option("--url",
                      [&selection](const std::string& value) -> std::optional<std::string> {
                          selection.setUrl(value);
                          return std::nullopt;
                      });
        addSinceOption(parser, platformServices().currentTime(), since);
        const BrowserRow* browser = nullptr;
        if (const std::optional<std::string> why = parser.parse(args, browser)) {
            return usageError(*why);
        }
        if (since) {
            selection.setSince(*since);
        }
        const CliProfile profile = loadSettingsReadOnly();
        IPlatform& platform = platformServices();
        const auto reader =
            makeReaderOrSay(*browser, cache, profile.settings.MozillaCachePath, platform);
        if (reader == nullptr) {
            return kExitCacheOpen;
        }
        if (!openOrSay(*reader, *browser, "list", profile.texts)) {
            return kExitCacheOpen;
        }
        // Each entry is printed as it is read and not kept: the listing of
        // a large cache takes no more memory than that of a small one.
        ListWriter writer(std::cout, format);
        const SkipCounts skipped = streamCache(*reader, [&](const CacheEntry& entry) {
            if (selection.matches(entry)) {
                writer.write(entry,
                             copyIsDecoded(*reader, entry) ? std::nullopt
                                                           : std::optional<uint64_t>(entry.size),
                             writer.wantsHead() ? reader->responseHead(entry) : std::string());
            }
        });
        writer.finish();
        reader->close();
        sayWhatWasLeftOut(skipped, "list");
        std::cout.flush();
        if (!std::cout) {
            std::cerr << "harvix-cli list: standard output cannot be written\n";
            return kExitUsage;
        }
        return kExitOk;
    }

private:
    // The type names in the filter editor's order, wrapped under the option.
    static std::string typeNames() {
        const std::string indent(19, ' ');
        std::string text;
        std::string line = indent;
        for (const int32_t code : contentTypeListOrder()) {
            const std::string word = contentTypeName(code) + ",";
            if (line.size() + 1 + word.size() > 76) {
                text += line + "\n";
                line = indent;
            }
            line += (line.size() > indent.size() ? " " : "") + word;
        }
        line.back() = '.';
        return text + line + "\n";
    }

    int usageError(const std::string& why) const { return harvix::usageError(name(), why); }
};

}  // namespace

std::unique_ptr<Command> makeListCommand() {
    return std::make_unique<ListCommand>();
}

}  // namespace harvix
