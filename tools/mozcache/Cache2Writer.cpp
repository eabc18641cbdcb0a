#include "Cache2Writer.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <map>

#include <nettle/sha1.h>

#include "BodyEncoding.h"
#include "CacheWriter.h"
#include "Description.h"
#include "Pictures.h"

namespace harvix::mozcache {

namespace {

constexpr uint64_t kChunkSize = 256 * 1024;

void putBe32(std::string& out, uint32_t value) {
    out.push_back(static_cast<char>(value >> 24));
    out.push_back(static_cast<char>(value >> 16));
    out.push_back(static_cast<char>(value >> 8));
    out.push_back(static_cast<char>(value));
}

void putBe16(std::string& out, uint16_t value) {
    out.push_back(static_cast<char>(value >> 8));
    out.push_back(static_cast<char>(value));
}

// The entry file's name: the SHA-1 of the key in upper-case hex, as Firefox
// names it.
std::string sha1Hex(const std::string& text) {
    sha1_ctx ctx;
    sha1_init(&ctx);
    sha1_update(&ctx, text.size(), reinterpret_cast<const uint8_t*>(text.data()));
    std::array<uint8_t, SHA1_DIGEST_SIZE> digest{};
    sha1_digest(&ctx, digest.size(), digest.data());
    std::string out;
    out.reserve(2 * digest.size());
    static const char kHex[] = "0123456789ABCDEF";
    for (const uint8_t byte : digest) {
        out.push_back(kHex[byte >> 4]);
        out.push_back(kHex[byte & 15]);
    }
    return out;
}

std::string trim(const std::string& text) {
    const auto from = text.find_first_not_of(" \t\r");
    if (from == std::string::npos) {
        return {};
    }
    return text.substr(from, text.find_last_not_of(" \t\r") - from + 1);
}

uint64_t parseNumber(const std::string& text, const std::string& where) {
    try {
        std::size_t used = 0;
        const unsigned long long value = std::stoull(text, &used, 0);
        if (used != text.size()) {
            throw WriteError(where + ": not a number: " + text);
        }
        return value;
    } catch (const std::logic_error&) {
        throw WriteError(where + ": not a number: " + text);
    }
}

// "(http,a.org)" → "%28http%2Ca.org%29", as Firefox writes the partition key.
std::string escapePartition(const std::string& text) {
    std::string out;
    for (const char ch : text) {
        if (ch == '(') {
            out += "%28";
        } else if (ch == ')') {
            out += "%29";
        } else if (ch == ',') {
            out += "%2C";
        } else {
            out.push_back(ch);
        }
    }
    return out;
}

std::string reasonPhrase(uint32_t status) {
    static const std::map<uint32_t, std::string> phrases{{200, "OK"},
                                                         {203, "Non-Authoritative Information"},
                                                         {206, "Partial Content"},
                                                         {301, "Moved Permanently"},
                                                         {302, "Found"},
                                                         {304, "Not Modified"},
                                                         {404, "Not Found"}};
    const auto it = phrases.find(status);
    return it == phrases.end() ? "Status" : it->second;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> cache2HttpElements(
    const std::string& responseHead) {
    return {{"request-method", "GET"}, {"response-head", responseHead}};
}

std::string cache2FileName(const std::string& key) {
    return sha1Hex(key);
}

std::string buildCache2File(const Cache2Entry& entry) {
    std::string file = entry.body + entry.altData;
    const auto metaOffset = static_cast<uint32_t>(file.size());
    std::vector<std::pair<std::string, std::string>> elements = entry.elements;
    if (entry.altDataInfo) {
        elements.emplace_back("alt-data", *entry.altDataInfo);
    } else if (!entry.altData.empty()) {
        elements.emplace_back("alt-data",
                              "1;" + std::to_string(entry.body.size()) + ",javascript/moz-script");
    }
    std::string hashed;  // chunk hashes, header, key, elements
    for (uint64_t at = 0; at < file.size(); at += kChunkSize) {
        putBe16(hashed,
                static_cast<uint16_t>(
                    cache2Hash(file.substr(static_cast<std::size_t>(at), kChunkSize)) & 0xFFFFu));
    }
    putBe32(hashed, entry.version);
    putBe32(hashed, entry.fetchCount);
    putBe32(hashed, entry.lastFetched);
    putBe32(hashed, entry.lastModified);
    putBe32(hashed, entry.frecency);
    putBe32(hashed, entry.expiration);
    putBe32(hashed, entry.keySizeWord.value_or(static_cast<uint32_t>(entry.key.size())));
    if (entry.version >= 2) {
        putBe32(hashed, entry.flags);
    }
    hashed += entry.key;
    hashed.push_back('\0');
    for (const auto& [name, value] : elements) {
        hashed += name;
        hashed.push_back('\0');
        hashed += value;
        hashed.push_back('\0');
    }
    uint32_t hash = cache2Hash(hashed);
    if (entry.wrongHash) {
        hash ^= 0x00010000u;
    }
    putBe32(file, hash);
    file += hashed;
    if (entry.version >= 4) {
        putBe32(file, entry.trailerWord);
    }
    putBe32(file, entry.offsetWord.value_or(metaOffset));
    file.resize(file.size() - std::min(entry.cutBytes, file.size()));
    return file;
}

fs::path writeCache2Entry(const fs::path& cache2Folder, const Cache2Entry& entry,
                          const std::string& subFolder) {
    const fs::path folder = cache2Folder / subFolder;
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        throw WriteError("cannot create " + folder.string() + ": " + ec.message());
    }
    const fs::path path =
        folder / (entry.fileName.empty() ? cache2FileName(entry.key) : entry.fileName);
    const std::string bytes = buildCache2File(entry);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw WriteError("cannot write " + path.string());
    }
    return path;
}

namespace {

// One [cache2] section being read.
struct Section {
    std::string url;
    std::optional<std::string> key;
    std::string prefix;
    uint32_t status = 200;
    std::string type;
    std::string encoding = "identity";
    std::vector<std::string> headers;
    std::optional<std::string> head;
    std::optional<std::string> contentLength;
    std::string data;
    std::vector<std::pair<std::string, std::string>> extraElements;
    std::string folder = "entries";
    Cache2Entry entry;
    bool partition = false, anonymous = false, isPrivate = false;
};

Cache2Entry finishSection(Section& s) {
    Cache2Entry entry = s.entry;
    if (s.key) {
        entry.key = *s.key;
    } else {
        std::string tags = s.prefix;
        if (s.anonymous) {
            tags += "a,";
        }
        if (s.isPrivate) {
            tags += "p,";
        }
        entry.key = tags + ":" + s.url;
    }
    entry.body = encodeBody(s.encoding, s.data);
    if (!s.head || *s.head != "none") {
        std::string head;
        if (s.head) {
            head = *s.head;
        } else {
            head = "HTTP/1.1 " + std::to_string(s.status) + " " + reasonPhrase(s.status) + "\r\n";
            if (!s.type.empty()) {
                head += "Content-Type: " + s.type + "\r\n";
            }
            if (s.encoding != "identity") {
                head += "Content-Encoding: " + contentEncodingValue(s.encoding) + "\r\n";
            }
            if (!s.contentLength) {
                head += "Content-Length: " + std::to_string(entry.body.size()) + "\r\n";
            } else if (*s.contentLength != "none") {
                head += "Content-Length: " + *s.contentLength + "\r\n";
            }
            for (const std::string& line : s.headers) {
                head += line + "\r\n";
            }
        }
        entry.elements = cache2HttpElements(head);
    }
    for (const auto& element : s.extraElements) {
        entry.elements.push_back(element);
    }
    return entry;
}

}  // namespace

std::size_t writeDescribedCache2(std::istream& description, const fs::path& baseFolder,
                                 const fs::path& cache2Folder) {
    std::optional<Section> current;
    std::size_t written = 0;
    std::size_t lineNumber = 0;
    const auto flush = [&] {
        if (current) {
            writeCache2Entry(cache2Folder, finishSection(*current), current->folder);
            ++written;
            current.reset();
        }
    };
    std::string line;
    while (std::getline(description, line)) {
        ++lineNumber;
        const std::string where = "line " + std::to_string(lineNumber);
        const std::string text = trim(line);
        if (text.empty() || text[0] == '#') {
            continue;
        }
        if (text == "[cache2]") {
            flush();
            current.emplace();
            current->entry.version = 4;
            continue;
        }
        if (text[0] == '[') {
            throw WriteError(where + ": unknown section " + text);
        }
        if (!current) {
            throw WriteError(where + ": a line outside a [cache2] section");
        }
        const auto equals = text.find('=');
        if (equals == std::string::npos) {
            throw WriteError(where + ": expected name = value");
        }
        const std::string name = trim(text.substr(0, equals));
        const std::string value = unescape(trim(text.substr(equals + 1)));
        Section& s = *current;
        Cache2Entry& e = s.entry;
        const auto number32 = [&] {
            const uint64_t n = parseNumber(value, where);
            if (n > 0xFFFFFFFFu) {
                throw WriteError(where + ": number too large");
            }
            return static_cast<uint32_t>(n);
        };
        if (name == "url") {
            s.url = value;
        } else if (name == "key") {
            s.key = value;
        } else if (name == "partition") {
            s.prefix = "O^partitionKey=" + escapePartition(value) + ",";
        } else if (name == "anonymous") {
            s.anonymous = value == "1";
        } else if (name == "private") {
            s.isPrivate = value == "1";
        } else if (name == "version") {
            e.version = number32();
        } else if (name == "status") {
            s.status = number32();
        } else if (name == "type") {
            s.type = value;
        } else if (name == "encoding") {
            s.encoding = value;
            encodeBody(value, "");  // an unknown name fails here, with its line
        } else if (name == "header") {
            s.headers.push_back(value);
        } else if (name == "head") {
            s.head = value;
        } else if (name == "content-length") {
            s.contentLength = value;
        } else if (name == "data") {
            s.data = describedData(value, baseFolder, where);
        } else if (name == "alt-data") {
            e.altData = std::string(number32(), '\x5A');
        } else if (name == "alt-data-info") {
            e.altDataInfo = value;
        } else if (name == "element") {
            const auto split = value.find('=');
            if (split == std::string::npos) {
                throw WriteError(where + ": element = name=value");
            }
            s.extraElements.emplace_back(value.substr(0, split), value.substr(split + 1));
        } else if (name == "modified") {
            e.lastModified = number32();
        } else if (name == "fetched") {
            e.lastFetched = number32();
        } else if (name == "expires") {
            e.expiration = number32();
        } else if (name == "frecency") {
            e.frecency = number32();
        } else if (name == "flags") {
            e.flags = number32();
        } else if (name == "wrong-hash") {
            e.wrongHash = value == "1";
        } else if (name == "offset-word") {
            e.offsetWord = number32();
        } else if (name == "cut") {
            e.cutBytes = number32();
        } else if (name == "file") {
            e.fileName = value;
        } else if (name == "folder") {
            s.folder = value;
        } else if (name == "note") {
        } else {
            throw WriteError(where + ": unknown name " + name);
        }
    }
    flush();
    return written;
}

uint64_t writeSyntheticCache2(const fs::path& cache2Folder, std::size_t count, uint64_t totalBytes,
                              uint32_t seed) {
    uint64_t listedBytes = 0;
    const uint64_t average = count == 0 ? 0 : std::max<uint64_t>(totalBytes / count, 64);
    uint64_t state = 0x9E3779B97F4A7C15ull ^ (uint64_t{seed} * 0xBF58476D1CE4E5B9ull);
    const auto next = [&] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    for (std::size_t i = 0; i < count; ++i) {
        Section s;
        s.entry.version = 4;
        s.prefix = "O^partitionKey=%28https%2Cexample.org%29,";
        s.entry.lastModified = 1700000000u + static_cast<uint32_t>(i);
        const uint64_t roll = next() % 100;
        char url[96];
        // Sizes spread from a tenth to twice the average.
        const auto size =
            static_cast<std::size_t>(average / 10 + next() % (average * 2 - average / 10 + 1));
        if (roll < 40) {
            std::snprintf(url, sizeof url, "https://img.example.org/p/%zu.png", i);
            s.type = "image/png";
            s.data = makePng(static_cast<int>(8 + i % 64), static_cast<int>(8 + i % 48),
                             static_cast<uint32_t>(i));
            if (s.data.size() < size) {
                s.data += std::string(size - s.data.size(), static_cast<char>(i));
            }
        } else if (roll < 55) {
            std::snprintf(url, sizeof url, "https://static.example.org/s/%zu.css", i);
            s.type = "text/css";
            s.encoding = "gzip";
            s.data = "/* " + std::to_string(i) + " */";
            s.data.resize(std::max(size, s.data.size()), 'c');
        } else if (roll < 70) {
            std::snprintf(url, sizeof url, "https://static.example.org/j/%zu.js", i);
            s.type = "application/javascript";
            s.encoding = "br";
            s.data = "// " + std::to_string(i) + "\n";
            s.data.resize(std::max(size, s.data.size()), 'j');
        } else if (roll < 97) {
            std::snprintf(url, sizeof url, "https://dl.example.org/f/%zu.bin", i);
            s.type = "application/octet-stream";
            s.data.resize(size);
            for (std::size_t b = 0; b < size; b += 8) {
                const uint64_t word = next();
                for (std::size_t j = 0; j < 8 && b + j < size; ++j) {
                    s.data[b + j] = static_cast<char>(word >> (8 * j));
                }
            }
        } else if (roll < 98) {
            std::snprintf(url, sizeof url, "https://www.example.org/moved/%zu", i);
            s.status = 301;
            s.headers.push_back("Location: https://www.example.org/");
        } else if (roll < 99) {
            std::snprintf(url, sizeof url, "https://www.example.org/missing/%zu", i);
            s.status = 404;
            s.data = "not found";
        } else {
            std::snprintf(url, sizeof url, "https://www.example.org/part/%zu", i);
            s.status = 206;
            s.data = std::string(size, 'p');
        }
        s.url = url;
        const Cache2Entry entry = finishSection(s);
        writeCache2Entry(cache2Folder, entry);
        if (s.status == 200) {
            listedBytes += entry.body.size();
        }
    }
    return listedBytes;
}

}  // namespace harvix::mozcache
