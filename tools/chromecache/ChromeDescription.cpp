#include "ChromeDescription.h"

#include <fstream>
#include <sstream>

#include "Description.h"
#include "Pictures.h"

namespace harvix::chromecache {

namespace {

std::string trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

uint64_t number(const std::string& text, const std::string& where) {
    try {
        std::size_t used = 0;
        const unsigned long long value = std::stoull(text, &used, 0);
        if (used == text.size())
            return value;
    } catch (const std::exception&) {
    }
    throw WriteError(where + ": not a number: " + text);
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string word; in >> word;)
        out.push_back(word);
    return out;
}

std::string body(const std::string& spec, const fs::path& baseFolder, const std::string& where) {
    const std::size_t blank = spec.find(' ');
    const std::string kind = spec.substr(0, blank);
    const std::string rest = blank == std::string::npos ? "" : spec.substr(blank + 1);
    if (kind == "none")
        return {};
    if (kind == "text")
        return mozcache::unescape(rest);
    const std::vector<std::string> args = words(rest);
    if (kind == "random") {
        if (args.empty() || args.size() > 2)
            throw WriteError(where + ": random N [SEED]");
        uint32_t state = args.size() > 1 ? static_cast<uint32_t>(number(args[1], where)) : 1;
        std::string out(static_cast<std::size_t>(number(args[0], where)), '\0');
        for (char& c : out) {
            state = state * 1103515245u + 12345u;
            c = static_cast<char>(state >> 16);
        }
        return out;
    }
    if (kind == "file") {
        const fs::path path = fs::path(rest).is_absolute() ? fs::path(rest) : baseFolder / rest;
        std::ifstream in(path, std::ios::binary);
        if (!in)
            throw WriteError(where + ": cannot read " + path.string());
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    if (args.size() == 2) {
        const std::string picture =
            mozcache::makePicture(kind, static_cast<int>(number(args[0], where)),
                                  static_cast<int>(number(args[1], where)));
        if (!picture.empty())
            return picture;
    }
    throw WriteError(where + ": unknown body " + spec);
}

// An [entry] section as read, before its head is put together.
struct Section {
    Entry entry;
    std::string url;
    int status = 200;
    std::string type;
    std::vector<std::string> headers;
    std::string contentLength = "auto";
};

void finish(Section& section, Description& out) {
    Entry& entry = section.entry;
    if (entry.key.empty())
        entry.key = splitCacheKey(section.url);
    std::vector<std::string> lines;
    if (!section.type.empty())
        lines.push_back("Content-Type: " + section.type);
    lines.insert(lines.end(), section.headers.begin(), section.headers.end());
    if (section.contentLength == "auto") {
        lines.push_back("Content-Length: " + std::to_string(entry.body.size()));
    } else if (section.contentLength != "none") {
        lines.push_back("Content-Length: " + section.contentLength);
    }
    entry.head = rawHead(section.status, lines);
    out.entries.push_back(std::move(entry));
}

Damage damageNamed(const std::string& name, const std::string& where) {
    static const std::pair<const char*, Damage> names[] = {
        {"bad-magic", Damage::BadMagic},
        {"bad-version", Damage::BadVersion},
        {"bad-end", Damage::BadEndRecord},
        {"bad-key-length", Damage::BadKeyLength},
        {"stream0-too-large", Damage::Stream0TooLarge},
        {"cut", Damage::CutEnd},
        {"body-past-file", Damage::BodyPastFile},
        {"loop-chain", Damage::LoopChain},
        {"bad-pickle", Damage::BadPickle},
        {"being-written", Damage::BeingWritten},
        {"head-crc", Damage::HeadCrc},
        {"range-crc", Damage::RangeCrc}};
    for (const auto& [text, damage] : names) {
        if (name == text)
            return damage;
    }
    throw WriteError(where + ": unknown damage " + name);
}

}  // namespace

Description readDescription(std::istream& in, const fs::path& baseFolder) {
    Description out;
    std::string section;
    Section entry;
    bool inEntry = false;
    std::string line;
    for (int lineNumber = 1; std::getline(in, line); ++lineNumber) {
        const std::string where = "line " + std::to_string(lineNumber);
        line = trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        if (line.front() == '[') {
            if (inEntry)
                finish(entry, out);
            inEntry = false;
            section = line;
            if (line == "[entry]") {
                entry = Section{};
                inEntry = true;
            } else if (line != "[cache]") {
                throw WriteError(where + ": unknown section " + line);
            }
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            throw WriteError(where + ": expected name = value");
        const std::string name = trim(line.substr(0, equals));
        const std::string value = trim(line.substr(equals + 1));
        if (section == "[cache]") {
            if (name == "format" && (value == "simple" || value == "blockfile")) {
                out.blockFile = value == "blockfile";
            } else if (name == "table") {
                out.options.tableLength = static_cast<uint32_t>(number(value, where));
            } else if (name == "index" && value == "bad-magic") {
                out.options.badIndexMagic = true;
            } else if (name == "index" && value == "no-data-1") {
                out.options.missingDataFiles = true;
            } else if (name == "index" && value.rfind("version ", 0) == 0) {
                out.options.indexVersion = static_cast<uint32_t>(number(value.substr(8), where));
            } else {
                throw WriteError(where + ": unknown cache line " + line);
            }
            continue;
        }
        if (!inEntry)
            throw WriteError(where + ": line outside a section");
        Entry& e = entry.entry;
        if (name == "url") {
            entry.url = mozcache::unescape(value);
        } else if (name == "key") {
            e.key = mozcache::unescape(value);
        } else if (name == "status") {
            entry.status = static_cast<int>(number(value, where));
        } else if (name == "type") {
            entry.type = value;
        } else if (name == "header") {
            entry.headers.push_back(mozcache::unescape(value));
        } else if (name == "body") {
            e.body = body(value, baseFolder, where);
        } else if (name == "content-length") {
            entry.contentLength = value;
        } else if (name == "time") {
            e.requestTime = e.responseTime = static_cast<int64_t>(number(value, where));
        } else if (name == "lastused") {
            e.lastUsed = static_cast<int64_t>(number(value, where));
        } else if (name == "truncated") {
            e.truncated = value == "yes";
        } else if (name == "sparse") {
            e.sparse = value == "yes";
        } else if (name == "ranges") {
            // OFFSET:LENGTH pieces of the body, in the order written.
            for (const std::string& part : words(value)) {
                const std::size_t colon = part.find(':');
                if (colon == std::string::npos)
                    throw WriteError(where + ": ranges are OFFSET:LENGTH");
                e.ranges.push_back(
                    {number(part.substr(0, colon), where), number(part.substr(colon + 1), where)});
            }
        } else if (name == "external") {
            e.externalBody = value == "yes";
        } else if (name == "sha256") {
            e.keySha256 = value != "no";
        } else if (name == "crc") {
            e.crc32 = value != "no";
        } else if (name == "note") {
            // Free text for people.
        } else if (name == "damage") {
            const std::vector<std::string> parts = words(value);
            if (parts.empty())
                throw WriteError(where + ": damage needs a kind");
            e.damage = damageNamed(parts[0], where);
            if (e.damage == Damage::CutEnd) {
                if (parts.size() != 2)
                    throw WriteError(where + ": cut N");
                e.cutBytes = static_cast<uint32_t>(number(parts[1], where));
            }
        } else {
            throw WriteError(where + ": unknown entry line " + line);
        }
    }
    if (inEntry)
        finish(entry, out);
    return out;
}

std::size_t writeDescribedCache(std::istream& in, const fs::path& baseFolder,
                                const fs::path& folder) {
    const Description description = readDescription(in, baseFolder);
    if (description.blockFile) {
        writeBlockFileCache(folder, description.entries, description.options);
    } else {
        writeSimpleCache(folder, description.entries);
    }
    return description.entries.size();
}

std::vector<Entry> syntheticEntries(std::size_t count, std::size_t bodyBytes, uint32_t seed,
                                    std::size_t headBytes, bool mixed) {
    std::vector<Entry> entries;
    entries.reserve(count);
    uint32_t state = seed * 2654435761u + 1;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    static const char* const kinds[][2] = {{"png", "image/png"},
                                           {"jpg", "image/jpeg"},
                                           {"css", "text/css"},
                                           {"js", "application/javascript"},
                                           {"html", "text/html"}};
    for (std::size_t i = 0; i < count; ++i) {
        const auto& kind = kinds[i % 5];
        Entry entry;
        const std::string url = "http://site" + std::to_string(i % 37) + ".example/res/" +
                                std::to_string(i) + "." + kind[0];
        entry.key = splitCacheKey(url);
        const std::size_t size =
            mixed ? bodyBytes / 10 + next() % (bodyBytes * 2 - bodyBytes / 10 + 1)
                  : bodyBytes / 2 + next() % (bodyBytes + 1);
        entry.body.resize(size);
        for (char& c : entry.body)
            c = static_cast<char>(next() & 0xff);
        std::vector<std::string> lines = {std::string("Content-Type: ") + kind[1],
                                          "Content-Length: " + std::to_string(size)};
        const std::size_t plain = rawHead(200, lines).size();
        if (headBytes > plain + 12)
            lines.push_back("X-Padding: " + std::string(headBytes - plain - 12, 'p'));
        entry.head = rawHead(200, lines);
        entry.requestTime = entry.responseTime = 1700000000 + static_cast<int64_t>(i);
        entry.lastUsed = entry.responseTime + 60;
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace harvix::chromecache
