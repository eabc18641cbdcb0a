#include "SeedCorpus.h"

#include <fstream>
#include <iterator>
#include <sstream>

#include "BodyEncoding.h"
#include "Cache2Writer.h"
#include "CacheWriter.h"
#include "Description.h"
#include "FuzzHarness.h"
#include "Pictures.h"
#include "app/Settings.h"
#include "base/Profile.h"
#include "filter/FilterSet.h"
#include "platform/Path.h"

namespace harvix {

namespace fuzzing {

namespace {

using Seeds = std::vector<std::pair<std::string, std::string>>;

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// ---- Firefox caches, by description ----

// Small caches, so that an execution stays short: pictures in every block
// file, text, data in a separate file, odd records of every kind the
// writer makes, and copies that the duplicate test finds.
const char* const kCacheDescriptions[][2] = {
    {"pictures",
     "[entry]\nurl = http://img.example.org/a.png\ntype = image/png\ndata = png 12 9\n"
     "[entry]\nurl = http://img.example.org/b.gif\ntype = image/gif\ndata = gif 5 5\n"
     "store = block2\n"
     "[entry]\nurl = http://img.example.org/c.bmp\ntype = image/bmp\ndata = bmp 3 4\n"
     "[entry]\nurl = http://img.example.org/d.jpg\ntype = image/jpeg\ndata = jpeg 8 8\n"
     "store = block3\n"
     "[entry]\nurl = http://img.example.org/e.ico\ntype = image/x-icon\ndata = ico 16 16\n"},
    {"texts",
     "[entry]\nurl = http://www.example.org/\ntype = text/html; charset=utf-8\n"
     "data = text <html><body>Hello</body></html>\n"
     "header = Etag: \"abc\"\nheader = Accept-Ranges: bytes\n"
     "[entry]\nurl = http://www.example.org/style.css\ntype = text/css\ndata = text body{}\n"
     "[entry]\nurl = http://www.example.org/copy.css\ntype = text/css\ndata = text body{}\n"
     "[entry]\nurl = http://www.example.org/app.js\ntype = application/javascript\n"
     "data = random 700 3\nstore = block2\n"},
    {"separate",
     "[entry]\nurl = http://cdn.example.org/movie.flv\ntype = video/x-flv\n"
     "data = random 300 7\nstore = separate\n"
     "[entry]\nurl = http://cdn.example.org/song.mp3\ntype = audio/mpeg\ndata = random 90 8\n"
     "store = separate\nlayout = hex\ngeneration = 31\n"
     "[entry]\nurl = http://cdn.example.org/meta.png\ntype = image/png\ndata = png 4 4\n"
     "meta = separate\n"},
    {"odd",
     "[empty]\n"
     "[entry]\nkey = HTTP/www.example.org/partial\ndata = text x\n"
     "[entry]\nkey = wyciwyg://1/http://example.org/\ndata = text y\n"
     "[entry]\nurl = http://www.example.org/zero\ntype = image/png\ndata = png 2 2\nsize = 0\n"
     "[entry]\nurl = http://www.example.org/big\ntype = image/png\ndata = png 2 2\n"
     "size = 100000\n"
     "[entry]\nurl = http://www.example.org/nohead\nhead = none\ndata = text z\n"
     "[entry]\nurl = http://www.example.org/raw\ndata-location = 0x31000007\n"
     "meta-location = 0x10000000\n"
     "[entry]\nurl = http://www.example.org/shared\nmeta-location = 0x10000000\n"
     "data = text shared\n"
     "[map]\ntrailing-bytes = 7\n"},
    {"one", "[entry]\nurl = http://a.example/\ntype = image/gif\ndata = gif 1 1\n"},
};

Seeds MozillaMapSeeds(const fs::path& scratch) {
    Seeds seeds;
    for (const auto& [name, text] : kCacheDescriptions) {
        const fs::path folder = scratch / name;
        std::istringstream description(text);
        mozcache::writeDescribedCache(description, scratch, folder);
        seeds.emplace_back(name, packMozillaCacheFolder(folder));
    }
    // The files given whole, fixed parts included; and an empty cache.
    {
        PackedCache whole;
        whole.flags = 0x0F;
        const fs::path folder = scratch / "one";
        const char* names[4] = {"_CACHE_MAP_", "_CACHE_001_", "_CACHE_002_", "_CACHE_003_"};
        for (int i = 0; i < 4; ++i) {
            whole.files[i] = ReadBytes(folder / names[i]);
        }
        seeds.emplace_back("whole", packMozillaCache(whole));
        seeds.emplace_back("empty", packMozillaCache(PackedCache{}));
    }
    return seeds;
}

// ---- Metadata items ----

Seeds MetadataSeeds() {
    Seeds seeds;
    auto add = [&](const std::string& name, const mozcache::Entry& entry, uint32_t size) {
        seeds.emplace_back(name, mozcache::buildMetadata(entry, 0x11000002u, size));
    };
    mozcache::Entry entry;
    entry.key = "HTTP:http://www.example.org/images/photo.jpg";
    entry.values = mozcache::responseValues(mozcache::ResponseHead(
        {"Server: Apache/2.2.22", "Date: Sun, 01 Jan 2012 00:00:00 GMT", "Accept-Ranges: bytes",
         "Last-Modified: Sat, 31 Dec 2011 00:00:00 GMT", "Etag: \"1-2-3\"", "Content-Length: 5000",
         "Content-Type: image/JPEG"}));
    entry.lastModified = 1325376000;
    add("full", entry, 5000);
    const std::string full = seeds.back().second;
    seeds.emplace_back("cut", full.substr(0, full.size() / 2));
    seeds.emplace_back("header-only", full.substr(0, 36));

    entry.key = "HTTP/www.example.org/x";
    add("http-slash", entry, 10);
    entry.key = "HTTP:http://www.example.org/plain";
    entry.values = mozcache::responseValues("HTTP/1.0 200 OK\nContent-Type: text/plain\n");
    add("lf-only", entry, 3);
    entry.values.clear();
    add("no-values", entry, 0);
    entry.values = {{"request-method", "GET"},
                    {"response-head", "HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\n"},
                    {"charset", "ISO-8859-1"},
                    {"response-head", "HTTP/1.1 304 Not Modified\r\nServer: \xE9t\xE9\r\n"}};
    add("two-heads", entry, 77);
    return seeds;
}

// ---- Profile and filter files ----

std::string Utf16Le(const std::string& utf8) {
    std::string out("\xFF\xFE", 2);
    for (std::size_t i = 0; i < utf8.size();) {
        // The seeds' texts are ASCII apart from a few two-byte letters.
        const auto c = static_cast<unsigned char>(utf8[i]);
        uint32_t cp = c;
        std::size_t length = 1;
        if (c >= 0xC0 && c < 0xE0 && i + 1 < utf8.size()) {
            cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
            length = 2;
        }
        out += static_cast<char>(cp & 0xFFu);
        out += static_cast<char>(cp >> 8);
        i += length;
    }
    return out;
}

std::string Utf16Be(const std::string& utf8) {
    std::string le = Utf16Le(utf8);
    for (std::size_t i = 0; i + 1 < le.size(); i += 2) {
        std::swap(le[i], le[i + 1]);
    }
    return le;
}

std::string WithCrLf(const std::string& text) {
    std::string out;
    for (const char ch : text) {
        if (ch == '\n') {
            out += '\r';
        }
        out += ch;
    }
    return out;
}

Seeds ProfileSeeds(const fs::path& sourceDir, const fs::path& scratch) {
    Seeds seeds;
    for (const char* name : {"English.lng", "German.lng", "Russian.lng"}) {
        const std::string text = ReadBytes(sourceDir / "resources" / "Langs" / name);
        if (!text.empty()) {
            seeds.emplace_back(name, text);
        }
    }
    // A settings file as the program writes it.
    ProfileFile settings;
    const Settings defaults;
    settings.set("GENERAL", "Mozilla", "1");
    settings.set("GENERAL", "MozillaCachePath", "/home/user/.cache/mozilla/firefox/x/Cache");
    settings.set("GENERAL", "IE", "1");
    settings.set("GENERAL", "Maxthon", "0");
    settings.set("GENERAL", "DefaultCombPath", defaults.DefaultCombPath);
    settings.set("GENERAL", "DefaultFileNameDummy", defaults.DefaultFileNameDummy);
    settings.set("GENERAL", "FiltersFileName", "/opt/harvix/Filters/Default.flt");
    settings.set("GENERAL", "NotifyProgressTransparency", "200");
    settings.set("GENERAL", "Language", "\"/opt/harvix/Langs/Deutsch \xC3\xBC.lng\"");
    const fs::path file = scratch / "Harvix.cfg";
    settings.save(file);
    const std::string written = ReadBytes(file);
    seeds.emplace_back("settings", written);
    seeds.emplace_back("settings-crlf", WithCrLf(written));
    seeds.emplace_back("settings-utf16le", Utf16Le(written));
    seeds.emplace_back("settings-utf16be", Utf16Be(written));
    seeds.emplace_back("settings-utf8-mark", "\xEF\xBB\xBF" + written);
    seeds.emplace_back("cp1252",
                       "[GENERAL]\nLanguage=Fran\xE7"
                       "ais\nHint=\x80\x81\x9F\n");
    seeds.emplace_back("odd-lines",
                       "key before any section=1\n[ GENERAL ]\n  Mozilla = 0 \n[general]\n"
                       "Mozilla=1\n[unclosed\n=no key\nIE='quoted'\n[GENERAL]x\n");
    return seeds;
}

Seeds FilterSeeds(const fs::path& sourceDir, const fs::path& scratch) {
    Seeds seeds;
    const std::string shipped = ReadBytes(sourceDir / "resources" / "Filters" / "Default.flt");
    if (!shipped.empty()) {
        seeds.emplace_back("Default.flt", shipped);
        seeds.emplace_back("Default-utf16le.flt", Utf16Le(shipped));
    }
    FilterSet filter;
    filter.hint = "Pictures and music";
    auto* item = filter.insertItem(nullptr, -1);
    item->contentType = 1;
    item->minSize = 2048;
    item->url = "example.org, images ,photo";
    item->minWidth = 100;
    item->minHeight = 80;
    item->directoryTemplate = "~/HX_FILES/%DATE%/pictures";
    item->stem = "picture";
    item = filter.insertItem(nullptr, -1);
    item->contentType = 12;
    item->disabled = true;
    item->directoryTemplate = "/tmp/music %TIME%";
    item->stem = "song";
    const fs::path file = scratch / "set.flt";
    (void)filter.saveFile(pathToUtf8(file));
    seeds.emplace_back("saved.flt", ReadBytes(file));
    for (int i = 0; i < 40; ++i) {
        item = filter.insertItem(nullptr, -1);
        item->contentType = i % 19;
        item->url = "part" + std::to_string(i);
        item->directoryTemplate = "/tmp/many";
        item->stem = "f";
    }
    (void)filter.saveFile(pathToUtf8(file));
    seeds.emplace_back("many.flt", ReadBytes(file));
    seeds.emplace_back("gaps.flt",
                       "[GENERAL]\nHarvixFilter=1\n[FILTER_0]\nContentType=2\nMinSize=-5\n"
                       "MinWeidth=99999999999\n[FILTER_2]\nContentType=3\n[FILTER_1]\n"
                       "ContentType=\n[FILTER_00]\nContentType=4\n");
    return seeds;
}

// ---- index.dat ----

void PutLe32(std::string& bytes, std::size_t at, uint32_t value) {
    for (std::size_t i = 0; i < 4 && at + i < bytes.size(); ++i) {
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFFu);
    }
}

Seeds IndexSeeds(const fs::path& testdataDir) {
    Seeds seeds;
    for (const char* container : {"Content.IE5", "History.IE5"}) {
        const std::string original = ReadBytes(testdataDir / "msiecf" / container / "index.dat");
        if (original.size() < 0x100) {
            continue;
        }
        const std::string stem = container;
        seeds.emplace_back(stem, original);
        // As Wine writes it.
        std::string wine = original;
        wine.replace(0, 28, std::string("WINE URLCache Ver 0.2012001\0", 28));
        seeds.emplace_back(stem + "-wine", wine);
        // Cut short.
        seeds.emplace_back(stem + "-half", original.substr(0, original.size() / 2));
        seeds.emplace_back(stem + "-header", original.substr(0, 0x250));
        // Header numbers that lie: file size, first hash table, block count,
        // cache directory count.
        for (const auto& [offset, value] : {std::pair<std::size_t, uint32_t>{0x1C, 0x7FFFFFFF},
                                            {0x20, 0x00000040},
                                            {0x24, 0xFFFFFFFF},
                                            {0x48, 0x000000FF}}) {
            std::string damaged = original;
            PutLe32(damaged, offset, value);
            seeds.emplace_back(stem + "-field-" + std::to_string(offset), damaged);
        }
        // A byte flipped at a few places spread over the records.
        for (std::size_t k = 1; k <= 4; ++k) {
            std::string flipped = original;
            const std::size_t at = original.size() * (2 * k + 7) / 16;
            flipped[at] = static_cast<char>(flipped[at] ^ 0x5A);
            seeds.emplace_back(stem + "-flip-" + std::to_string(at), flipped);
        }
    }
    return seeds;
}

// ---- Pictures ----

Seeds PictureSeeds() {
    Seeds seeds;
    for (const char* format : {"png", "gif", "bmp", "jpeg", "ico", "webp", "avif", "svg"}) {
        seeds.emplace_back(std::string(format) + "-small", mozcache::makePicture(format, 3, 2, 1));
        seeds.emplace_back(std::string(format) + "-wide", mozcache::makePicture(format, 40, 1, 2));
    }
    std::string cut = mozcache::makePng(16, 16);
    seeds.emplace_back("png-cut", cut.substr(0, 30));
    seeds.emplace_back("not-a-picture", "GIF87 is almost a header");
    // An extended WebP: canvas header, a colour profile, then the picture.
    const std::string webp = mozcache::makeWebp(5, 4, 3);
    std::string extended("WEBPVP8X\x0a\0\0\0\x20\0\0\0\x04\0\0\x03\0\0ICCP\x08\0\0\0", 30);
    extended += std::string(8, '\x11') + webp.substr(12);
    const auto size = static_cast<uint32_t>(extended.size());
    seeds.emplace_back(
        "webp-extended",
        "RIFF" +
            std::string{static_cast<char>(size & 0xFF), static_cast<char>((size >> 8) & 0xFF),
                        static_cast<char>((size >> 16) & 0xFF), '\0'} +
            extended);
    seeds.emplace_back("svg-viewbox",
                       "<?xml version='1.0'?>\n<!DOCTYPE svg [<!ENTITY e 'x'>]>\n<!-- c -->\n"
                       "<svg:svg xmlns:svg='http://www.w3.org/2000/svg' width='20%' "
                       "height='3px' viewBox='0,0 16 9'/>");
    seeds.emplace_back("svg-unsized", "<svg xmlns='http://www.w3.org/2000/svg'><g/></svg>");
    return seeds;
}

// Entry files of every metadata version, with chunk hashes, partition keys,
// alt-data, encoded bodies and the odd entries a listing leaves out.
Seeds Cache2Seeds() {
    Seeds seeds;
    const auto entry = [](const std::string& url, const std::string& body, const std::string& head,
                          uint32_t version) {
        mozcache::Cache2Entry e;
        e.key = "O^partitionKey=%28http%2C127.0.0.1%29,a,:" + url;
        e.body = body;
        e.version = version;
        e.elements = mozcache::cache2HttpElements(head);
        return e;
    };
    const std::string ok = "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n";
    for (uint32_t version = 1; version <= 4; ++version) {
        seeds.emplace_back("version-" + std::to_string(version),
                           mozcache::buildCache2File(
                               entry("http://h/p.png", mozcache::makePng(9, 7), ok, version)));
    }
    seeds.emplace_back("two-chunks", mozcache::buildCache2File(
                                         entry("http://h/big", std::string(300000, 'b'), ok, 4)));
    for (const char* coding : {"gzip", "deflate", "raw-deflate", "br", "zstd"}) {
        seeds.emplace_back(
            std::string("encoded-") + coding,
            mozcache::buildCache2File(entry(
                "http://h/s.js", mozcache::encodeBody(coding, std::string(5000, 'v')),
                "HTTP/1.1 200 OK\r\nContent-Encoding: " + mozcache::contentEncodingValue(coding) +
                    "\r\n",
                4)));
    }
    mozcache::Cache2Entry script = entry("http://h/a.js", "var a = 1;", ok, 4);
    script.altData = std::string(64, 'Z');
    seeds.emplace_back("alt-data", mozcache::buildCache2File(script));
    seeds.emplace_back("partial", mozcache::buildCache2File(
                                      entry("http://h/p", "x", "HTTP/1.1 206 Partial\r\n", 4)));
    seeds.emplace_back("redirect",
                       mozcache::buildCache2File(
                           entry("http://h/r", "", "HTTP/1.1 301 Moved\r\nLocation: /\r\n", 4)));
    seeds.emplace_back("interrupted", mozcache::buildCache2File(entry(
                                          "http://h/i", "12", ok + "Content-Length: 9\r\n", 4)));
    mozcache::Cache2Entry writing = entry("http://h/w", "w", ok, 4);
    writing.cutBytes = 5;
    seeds.emplace_back("being-written", mozcache::buildCache2File(writing));
    return seeds;
}

}  // namespace

std::map<std::string, std::vector<std::pair<std::string, std::string>>> makeSeedCorpus(
    const fs::path& sourceDir, const fs::path& testdataDir) {
    ScratchFolder scratch;
    std::map<std::string, Seeds> corpus;
    corpus["mozilla_map"] = MozillaMapSeeds(scratch.path());
    corpus["mozilla_metadata"] = MetadataSeeds();
    corpus["profile"] = ProfileSeeds(sourceDir, scratch.path());
    corpus["filter_file"] = FilterSeeds(sourceDir, scratch.path());
    corpus["index_dat"] = IndexSeeds(testdataDir);
    corpus["picture_size"] = PictureSeeds();
    corpus["cache2_entry"] = Cache2Seeds();
    corpus["chromium_simple"] = chromiumSimpleSeeds(scratch.path());
    corpus["chromium_sparse"] = chromiumSparseSeeds(scratch.path());
    corpus["chromium_blockfile"] = chromiumBlockFileSeeds(scratch.path());
    corpus["body_decoder"] = bodyDecoderSeeds();
    corpus["cache_storage"] = cacheStorageSeeds();
    corpus["dom_cache"] = domCacheSeeds(scratch.path());
    return corpus;
}

std::size_t writeSeedCorpus(const fs::path& root, const fs::path& sourceDir,
                            const fs::path& testdataDir) {
    std::size_t count = 0;
    for (const auto& [harness, seeds] : makeSeedCorpus(sourceDir, testdataDir)) {
        const fs::path folder = root / harness;
        fs::create_directories(folder);
        for (const auto& [name, bytes] : seeds) {
            std::ofstream out(folder / ("seed-" + name), std::ios::binary | std::ios::trunc);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            ++count;
        }
    }
    return count;
}

}  // namespace fuzzing

}  // namespace harvix
