// harvix-mkchromecache: writes a Chromium HTTP cache (simple cache or block
// files) from a description, or a large synthetic one for benchmarks.
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "ChromeDescription.h"
#include "readers/chromium/BlockFileParser.h"
#include "readers/chromium/ChromiumFiles.h"

namespace {

int usage() {
    std::cerr << "Usage: harvix-mkchromecache DESCRIPTION FOLDER\n"
                 "       harvix-mkchromecache --synthetic COUNT [--body BYTES] [--head BYTES] "
                 "[--mixed] [--blockfile]\n"
                 "                            FOLDER\n"
                 "\n"
                 "Writes a Chromium HTTP cache into FOLDER: a simple cache (index,\n"
                 "<16 hex>_0 files) or a block-file cache (index, data_0..data_3, f_xxxxxx).\n"
                 "--head pads every synthetic response head to about BYTES bytes; --mixed\n"
                 "spreads the bodies from a tenth to twice BYTES (else half to 1.5 times).\n"
                 "The description format is explained at the top of\n"
                 "tools/chromecache/ChromeDescription.h.\n";
    return 1;
}

// Every entry of a block-file cache as the reader sees it.
int inspect(const std::filesystem::path& folder) {
    harvix::chromium::BlockFileCache cache([&folder](const std::string& name) {
        return harvix::chromium::openCacheFile(folder / name);
    });
    const harvix::chromium::BlockIndexProblem problem = cache.open();
    if (problem != harvix::chromium::BlockIndexProblem::None) {
        std::cerr << "harvix-mkchromecache: " << harvix::chromium::describe(problem) << "\n";
        return 2;
    }
    cache.forEachEntry(
        [](const harvix::chromium::BlockFileCache::Entry& entry) {
            static const char digits[] = "0123456789abcdef";
            for (const char ch : entry.key) {
                const auto c = static_cast<unsigned char>(ch);
                std::cout << digits[c >> 4] << digits[c & 15];
            }
            for (const auto& stream : entry.streams)
                std::cout << '\t' << stream.size;
            std::cout << '\n';
        },
        [](const std::string& reason) { std::cerr << "skipped: " << reason << "\n"; });
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.size() == 2 && args[0] == "--inspect")
            return inspect(args[1]);
        if (!args.empty() && args[0] == "--synthetic") {
            std::size_t count = 0;
            std::size_t bodyBytes = 4000;
            std::size_t headBytes = 0;
            bool blockFile = false;
            bool mixed = false;
            std::string folder;
            for (std::size_t i = 0; i < args.size(); ++i) {
                const bool hasValue = i + 1 < args.size();
                if (args[i] == "--synthetic" && hasValue) {
                    count = std::stoul(args[++i]);
                } else if (args[i] == "--body" && hasValue) {
                    bodyBytes = std::stoul(args[++i]);
                } else if (args[i] == "--head" && hasValue) {
                    headBytes = std::stoul(args[++i]);
                } else if (args[i] == "--blockfile") {
                    blockFile = true;
                } else if (args[i] == "--mixed") {
                    mixed = true;
                } else if (folder.empty() && args[i][0] != '-') {
                    folder = args[i];
                } else {
                    return usage();
                }
            }
            if (count == 0 || folder.empty())
                return usage();
            const auto entries =
                harvix::chromecache::syntheticEntries(count, bodyBytes, 1, headBytes, mixed);
            if (blockFile) {
                harvix::chromecache::BlockFileOptions options;
                options.tableLength = 0x10000;
                harvix::chromecache::writeBlockFileCache(folder, entries, options);
            } else {
                harvix::chromecache::writeSimpleCache(folder, entries);
            }
            std::cout << count << " entries\n";
            return 0;
        }
        if (args.size() != 2)
            return usage();
        std::ifstream in(args[0]);
        if (!in) {
            std::cerr << "harvix-mkchromecache: cannot read " << args[0] << "\n";
            return 1;
        }
        const std::size_t written = harvix::chromecache::writeDescribedCache(
            in, std::filesystem::path(args[0]).parent_path(), args[1]);
        std::cout << written << " entries\n";
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "harvix-mkchromecache: " << error.what() << "\n";
        return 1;
    }
}
