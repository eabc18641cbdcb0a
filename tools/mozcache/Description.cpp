#include "Description.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include "Pictures.h"

namespace harvix {

namespace mozcache {

namespace {

std::string TrimText(const std::string& text) {
    const auto begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) {
        return {};
    }
    const auto end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    return words;
}

uint64_t Number(const std::string& text, const std::string& where) {
    try {
        std::size_t used = 0;
        const unsigned long long value = std::stoull(text, &used, 0);
        if (used != text.size()) {
            throw std::invalid_argument(text);
        }
        return value;
    } catch (const std::exception&) {
        throw WriteError(where + ": not a number: " + text);
    }
}

uint32_t Number32(const std::string& text, const std::string& where) {
    const uint64_t value = Number(text, where);
    if (value > 0xFFFFFFFFu) {
        throw WriteError(where + ": number too large: " + text);
    }
    return static_cast<uint32_t>(value);
}

Place PlaceFrom(const std::string& text, const std::string& where) {
    if (text == "auto") {
        return Place::Auto;
    }
    if (text == "block1") {
        return Place::Block1;
    }
    if (text == "block2") {
        return Place::Block2;
    }
    if (text == "block3") {
        return Place::Block3;
    }
    if (text == "separate") {
        return Place::Separate;
    }
    throw WriteError(where + ": unknown place " + text);
}

// Pseudo-random bytes (xorshift), fast enough for a gigabyte.
std::string RandomBytes(std::size_t count, uint32_t seed) {
    std::string out(count, '\0');
    uint64_t state = 0x9E3779B97F4A7C15ull ^ (uint64_t{seed} * 0xBF58476D1CE4E5B9ull);
    std::size_t i = 0;
    while (i < count) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        for (int b = 0; b < 8 && i < count; ++b, ++i) {
            out[i] = static_cast<char>((state >> (8 * b)) & 0xFFu);
        }
    }
    return out;
}

std::string DataFrom(const std::string& spec, const fs::path& baseFolder,
                     const std::string& where) {
    const auto space = spec.find(' ');
    const std::string kind = spec.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : TrimText(spec.substr(space + 1));
    const std::vector<std::string> args = Words(rest);
    if (kind == "none") {
        return {};
    }
    if (kind == "text") {
        return unescape(rest);
    }
    if (kind == "random") {
        if (args.empty() || args.size() > 2) {
            throw WriteError(where + ": random N [SEED]");
        }
        return RandomBytes(static_cast<std::size_t>(Number(args[0], where)),
                           args.size() > 1 ? Number32(args[1], where) : 1);
    }
    if (kind == "file") {
        const fs::path path = fs::path(rest).is_absolute() ? fs::path(rest) : baseFolder / rest;
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            throw WriteError(where + ": cannot read " + path.string());
        }
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    if (args.size() < 2 || args.size() > 3) {
        throw WriteError(where + ": unknown data " + spec);
    }
    const std::string picture = makePicture(kind, static_cast<int>(Number32(args[0], where)),
                                            static_cast<int>(Number32(args[1], where)),
                                            args.size() > 2 ? Number32(args[2], where) : 0);
    if (picture.empty()) {
        throw WriteError(where + ": unknown data " + spec);
    }
    return picture;
}

// The lines of an [entry] that make its response head.
struct HeadParts {
    bool given = false;
    bool none = false;
    std::string head;
    std::string type;
    std::string server = "Apache/2.2.22";
    std::vector<std::string> extra;
};

void FinishEntry(DescribedEntry& described, HeadParts& head, bool keyGiven) {
    Entry& entry = described.entry;
    if (!keyGiven) {
        entry.key = "HTTP:" + described.url;
    }
    if (head.none) {
        entry.values.clear();
    } else if (head.given) {
        entry.values = responseValues(head.head);
    } else {
        std::vector<std::string> lines;
        if (!head.server.empty()) {
            lines.push_back("Server: " + head.server);
        }
        if (!head.type.empty()) {
            lines.push_back("Content-Type: " + head.type);
        }
        lines.push_back("Content-Length: " + std::to_string(entry.data.size()));
        lines.insert(lines.end(), head.extra.begin(), head.extra.end());
        entry.values = responseValues(ResponseHead(lines));
    }
}

}  // namespace

std::string describedData(const std::string& spec, const fs::path& baseFolder,
                          const std::string& where) {
    return DataFrom(spec, baseFolder, where);
}

std::string unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out.push_back(text[i]);
            continue;
        }
        const char next = text[++i];
        switch (next) {
            case 'r':
                out.push_back('\r');
                break;
            case 'n':
                out.push_back('\n');
                break;
            case 't':
                out.push_back('\t');
                break;
            case '0':
                out.push_back('\0');
                break;
            case 'x':
                if (i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                    std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
                    out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
                    i += 2;
                } else {
                    out += "\\x";
                }
                break;
            default:
                out.push_back(next);
                break;
        }
    }
    return out;
}

Description readDescription(std::istream& in, const fs::path& baseFolder) {
    Description description;
    DescribedEntry* current = nullptr;
    HeadParts head;
    bool keyGiven = false;
    bool inMap = false;
    std::size_t entryNumber = 0;
    auto finish = [&] {
        if (current != nullptr && !current->emptyRecord) {
            FinishEntry(*current, head, keyGiven);
        }
        current = nullptr;
        head = HeadParts{};
        keyGiven = false;
        inMap = false;
    };

    std::string line;
    for (std::size_t number = 1; std::getline(in, line); ++number) {
        const std::string where = "line " + std::to_string(number);
        const std::string text = TrimText(line);
        if (text.empty() || text[0] == '#') {
            continue;
        }
        if (text.front() == '[') {
            finish();
            if (text == "[entry]" || text == "[empty]") {
                description.records.emplace_back();
                current = &description.records.back();
                current->emptyRecord = text == "[empty]";
                current->entry.zeroHash = current->emptyRecord;
                current->entry.dataLocation =
                    current->emptyRecord ? std::optional<uint32_t>(0) : std::nullopt;
                current->entry.metaLocation = current->entry.dataLocation;
                current->entry.lastModified =
                    1325376000u + static_cast<uint32_t>(entryNumber) * 3600u;
                current->entry.lastFetched = current->entry.lastModified;
                ++entryNumber;
            } else if (text == "[map]") {
                inMap = true;
            } else {
                throw WriteError(where + ": unknown section " + text);
            }
            continue;
        }
        const auto equals = text.find('=');
        if (equals == std::string::npos) {
            throw WriteError(where + ": expected NAME = VALUE");
        }
        const std::string name = TrimText(text.substr(0, equals));
        const std::string value = TrimText(text.substr(equals + 1));
        if (inMap) {
            if (name != "trailing-bytes") {
                throw WriteError(where + ": unknown map setting " + name);
            }
            const uint64_t count = Number(value, where);
            if (count >= 16) {
                throw WriteError(where + ": a partial record has fewer than 16 bytes");
            }
            description.trailingBytes.assign(static_cast<std::size_t>(count), '\x5A');
            continue;
        }
        if (current == nullptr) {
            throw WriteError(where + ": a value outside [entry]");
        }
        Entry& entry = current->entry;
        if (name == "url") {
            current->url = unescape(value);
        } else if (name == "key") {
            entry.key = unescape(value);
            keyGiven = true;
        } else if (name == "type") {
            head.type = unescape(value);
        } else if (name == "server") {
            head.server = unescape(value);
        } else if (name == "header") {
            head.extra.push_back(unescape(value));
        } else if (name == "head") {
            head.given = true;
            head.none = value == "none";
            head.head = unescape(value);
        } else if (name == "data") {
            entry.data = DataFrom(value, baseFolder, where);
        } else if (name == "size") {
            entry.dataSize = Number32(value, where);
        } else if (name == "store") {
            entry.dataPlace = PlaceFrom(value, where);
        } else if (name == "meta") {
            entry.metaPlace = PlaceFrom(value, where);
        } else if (name == "layout") {
            if (value == "nested") {
                entry.layout = Layout::Nested;
            } else if (value == "hex") {
                entry.layout = Layout::Hex;
            } else if (value == "decimal") {
                entry.layout = Layout::Decimal;
            } else {
                throw WriteError(where + ": unknown layout " + value);
            }
        } else if (name == "generation") {
            const uint32_t generation = Number32(value, where);
            if (generation > 255) {
                throw WriteError(where + ": generation above 255");
            }
            entry.generation = static_cast<uint8_t>(generation);
        } else if (name == "hash") {
            entry.hash = Number32(value, where);
            entry.zeroHash = entry.hash == 0;
        } else if (name == "modified") {
            entry.lastModified = Number32(value, where);
        } else if (name == "fetched") {
            entry.lastFetched = Number32(value, where);
        } else if (name == "expires") {
            entry.expiration = Number32(value, where);
        } else if (name == "data-location") {
            entry.dataLocation = Number32(value, where);
        } else if (name == "meta-location") {
            entry.metaLocation = Number32(value, where);
        } else if (name == "note") {
            current->note = value;
        } else {
            throw WriteError(where + ": unknown name " + name);
        }
    }
    finish();
    return description;
}

std::size_t writeDescribedCache(std::istream& input, const fs::path& baseFolder,
                                const fs::path& folder) {
    const Description description = readDescription(input, baseFolder);
    CacheWriter writer(folder);
    for (const DescribedEntry& record : description.records) {
        writer.add(record.entry);
    }
    writer.setTrailingBytes(description.trailingBytes);
    writer.finish();
    return writer.recordCount();
}

uint64_t writeSyntheticCache(const fs::path& folder, std::size_t count, uint64_t totalBytes,
                             uint32_t seed, unsigned smallPercent) {
    struct Kind {
        const char* type;
        const char* extension;
    };
    static constexpr Kind kKinds[] = {
        {"image/jpeg", "jpg"},
        {"image/png", "png"},
        {"image/gif", "gif"},
        {"text/html; charset=utf-8", "html"},
        {"text/css", "css"},
        {"application/javascript", "js"},
        {"application/octet-stream", "bin"},
        {"video/x-flv", "flv"},
        {"application/pdf", "pdf"},
    };
    CacheWriter writer(folder);
    smallPercent = std::min(smallPercent, 100u);
    const std::size_t small = count * smallPercent / 100;
    const std::size_t large = count - small;
    // Small items average 6 KiB; the large ones share the rest.
    const uint64_t smallBytes = uint64_t{small} * 6 * 1024;
    const uint64_t largeAverage =
        large == 0 || totalBytes <= smallBytes ? 16 * 1024 : (totalBytes - smallBytes) / large;
    uint64_t state = 0x2545F4914F6CDD1Dull ^ seed;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    uint64_t written = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const Kind& kind = kKinds[next() % (sizeof kKinds / sizeof kKinds[0])];
        std::size_t size = 0;
        // Small items spread evenly over the map: entry i is small when the
        // running share of small ones steps up at i.
        const bool isSmall = (i + 1) * small / count != i * small / count;
        if (isSmall) {
            size = 300 + static_cast<std::size_t>(next() % (12 * 1024));
        } else {
            // Between a quarter and one and three quarters of the average,
            // and always too large for the block files.
            size = static_cast<std::size_t>(largeAverage / 4 + next() % (largeAverage * 3 / 2 + 1));
            size = std::max<std::size_t>(size, 16 * 1024 + 1);
        }
        Entry entry;
        char url[128];
        std::snprintf(url, sizeof url, "http://bench%zu.example.com/item/%zu.%s", i % 97, i,
                      kind.extension);
        entry.key = std::string("HTTP:") + url;
        entry.data = RandomBytes(size, static_cast<uint32_t>(i) * 7919u + seed);
        // Distinct bytes up front, so that no two items are duplicates.
        std::snprintf(entry.data.data(), std::min<std::size_t>(size, 24), "%zu:", i);
        entry.values =
            responseValues(ResponseHead({"Server: bench", std::string("Content-Type: ") + kind.type,
                                         "Content-Length: " + std::to_string(size)}));
        entry.lastModified = 1325376000u + static_cast<uint32_t>(i);
        entry.lastFetched = entry.lastModified;
        entry.dataPlace = isSmall ? Place::Auto : Place::Separate;
        entry.generation = static_cast<uint8_t>(1 + i % 200);
        writer.add(entry);
        written += size;
    }
    writer.finish();
    return written;
}

}  // namespace mozcache

}  // namespace harvix
