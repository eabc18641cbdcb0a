// harvix-mkcache: writes a Firefox disk cache from a description, or a large
// synthetic one for benchmarks.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "Cache2Writer.h"
#include "Description.h"
#include "Pictures.h"

using namespace harvix;

namespace {

int usage() {
    std::cerr << "Usage: harvix-mkcache DESCRIPTION FOLDER\n"
                 "       harvix-mkcache --synthetic COUNT --bytes SIZE[K|M|G] [--seed N] [--small "
                 "PERCENT]\n"
                 "                      FOLDER\n"
                 "       harvix-mkcache --picture png|gif|jpeg|bmp|ico|webp|avif|svg WIDTH HEIGHT\n"
                 "                      FILE\n"
                 "       harvix-mkcache --cache2 DESCRIPTION FOLDER\n"
                 "       harvix-mkcache --cache2 --synthetic COUNT --bytes SIZE[K|M|G] [--seed N] "
                 "FOLDER\n"
                 "\n"
                 "Writes a Firefox disk cache (_CACHE_MAP_, _CACHE_001_ to _CACHE_003_ and\n"
                 "separate files) into FOLDER. The description format is explained at the\n"
                 "top of tools/mozcache/Description.h. With --cache2, writes the entry files\n"
                 "of Firefox 32 and later into FOLDER/entries (FOLDER being a cache2 folder);\n"
                 "its description sections are explained in tools/mozcache/Cache2Writer.h.\n";
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
    std::vector<std::string> args(argv + 1, argv + argc);
    bool cache2 = false;
    if (!args.empty() && args[0] == "--cache2") {
        cache2 = true;
        args.erase(args.begin());
    }
    try {
        if (!cache2 && args.size() == 5 && args[0] == "--picture") {
            const std::string picture = mozcache::makePicture(args[1], std::atoi(args[2].c_str()),
                                                              std::atoi(args[3].c_str()), 7);
            std::ofstream out(args[4], std::ios::binary | std::ios::trunc);
            out.write(picture.data(), static_cast<std::streamsize>(picture.size()));
            if (picture.empty() || !out) {
                std::cerr << "harvix-mkcache: cannot write the picture " << args[4] << "\n";
                return 1;
            }
            return 0;
        }
        if (!args.empty() && args[0] == "--synthetic") {
            uint64_t count = 0;
            uint64_t bytes = 0;
            uint64_t seed = 1;
            uint64_t smallPercent = 25;
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
                } else if (args[i] == "--small" && hasValue && !cache2) {
                    if (!ParseSize(args[++i], &smallPercent) || smallPercent > 100) {
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
            const uint64_t written =
                cache2 ? mozcache::writeSyntheticCache2(folder, static_cast<std::size_t>(count),
                                                        bytes, static_cast<uint32_t>(seed))
                       : mozcache::writeSyntheticCache(folder, static_cast<std::size_t>(count),
                                                       bytes, static_cast<uint32_t>(seed),
                                                       static_cast<unsigned>(smallPercent));
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
        if (cache2) {
            const std::size_t entries = mozcache::writeDescribedCache2(
                description, mozcache::fs::path(args[0]).parent_path(), args[1]);
            std::cout << "wrote " << entries << " cache2 entry files to " << args[1] << "\n";
            return 0;
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
