// harvix-mkcache: writes a Firefox disk cache from a description, or a large
// synthetic one for benchmarks.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "Description.h"

using namespace harvix;

namespace {

int usage() {
    std::cerr << "Usage: harvix-mkcache DESCRIPTION FOLDER\n"
                 "       harvix-mkcache --synthetic COUNT --bytes SIZE[K|M|G] [--seed N] FOLDER\n"
                 "\n"
                 "Writes a Firefox disk cache (_CACHE_MAP_, _CACHE_001_ to _CACHE_003_ and\n"
                 "separate files) into FOLDER. The description format is explained at the\n"
                 "top of tools/mozcache/Description.h.\n";
    return 1;
}

bool ParseSize(const std::string& text, uint64_t* value) {
    char* end = nullptr;
    const unsigned long long number = std::strtoull(text.c_str(), &end, 10);
    if (end == text.c_str()) {
        return false;
    }
    const std::string unit(end);
    uint64_t scale = 1;
    if (unit == "K" || unit == "k") {
        scale = 1024;
    } else if (unit == "M") {
        scale = 1024 * 1024;
    } else if (unit == "G") {
        scale = 1024ull * 1024 * 1024;
    } else if (!unit.empty()) {
        return false;
    }
    *value = number * scale;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (!args.empty() && args[0] == "--synthetic") {
            uint64_t count = 0;
            uint64_t bytes = 0;
            uint64_t seed = 1;
            std::string folder;
            for (std::size_t i = 0; i < args.size(); ++i) {
                const bool hasValue = i + 1 < args.size();
                if (args[i] == "--synthetic" && hasValue) {
                    if (!ParseSize(args[++i], &count)) {
                        return usage();
                    }
                } else if (args[i] == "--bytes" && hasValue) {
                    if (!ParseSize(args[++i], &bytes)) {
                        return usage();
                    }
                } else if (args[i] == "--seed" && hasValue) {
                    if (!ParseSize(args[++i], &seed)) {
                        return usage();
                    }
                } else if (folder.empty() && args[i].rfind("--", 0) != 0) {
                    folder = args[i];
                } else {
                    return usage();
                }
            }
            if (folder.empty() || count == 0) {
                return usage();
            }
            const uint64_t written = mozcache::writeSyntheticCache(
                folder, static_cast<std::size_t>(count), bytes, static_cast<uint32_t>(seed));
            std::cout << "wrote " << count << " entries, " << written << " bytes of data, to "
                      << folder << "\n";
            return 0;
        }
        if (args.size() != 2) {
            return usage();
        }
        std::ifstream description(args[0]);
        if (!description) {
            std::cerr << "harvix-mkcache: cannot read " << args[0] << "\n";
            return 1;
        }
        const std::size_t records = mozcache::writeDescribedCache(
            description, mozcache::fs::path(args[0]).parent_path(), args[1]);
        std::cout << "wrote " << records << " map records to " << args[1] << "\n";
        return 0;
    } catch (const mozcache::WriteError& error) {
        std::cerr << "harvix-mkcache: " << error.what() << "\n";
        return 1;
    }
}
