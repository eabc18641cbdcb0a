#include "cli/ReaderArgs.h"

#include <cstdio>
#include <iostream>

#include "readers/ReaderFactory.h"
#include "readers/UrlCacheReader.h"

namespace harvix {

int32_t browserKindFromWord(const std::string& word) {
    if (word == "mozilla" || word == "firefox") {
        return 0;
    }
    if (word == "ie") {
        return 1;
    }
    if (word == "maxthon") {
        return 2;
    }
    return -1;
}

std::unique_ptr<CacheReader> makeReaderOrSay(int32_t kind, const std::string& word,
                                             const std::string& cacheLocation) {
    std::unique_ptr<CacheReader> reader = makeBrowserReader(kind, cacheLocation);
    if (reader == nullptr) {
        std::cerr << "harvix-cli: the cache reader for '" << word
                  << "' is not available in this build\n";
    }
    return reader;
}

void sayWhyNotOpened(CacheReader& reader, const std::string& command) {
    if (auto* urlCache = dynamic_cast<UrlCacheReader*>(&reader)) {
        std::cerr << "harvix-cli " << command
                  << ": cannot open the URL cache: " << urlCache->service().failureText() << "\n";
    }
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

}  // namespace harvix
