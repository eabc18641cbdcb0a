#include "filter/FilterTestSupport.h"

#include <algorithm>
#include <fstream>

#include "base/ErrorReport.h"
#include "platform/FileHandle.h"
#include "platform/Path.h"

namespace harvix {

MemoryReader::MemoryReader() {
    root_ = resolveFolder(cache_.path());
}

MemoryReader::Element& MemoryReader::add(std::string data, int32_t contentType, std::string url,
                                         int64_t time) {
    auto element = std::make_unique<Element>();
    element->size = data.size();
    element->file = root_ / ("entry" + std::to_string(files_++));
    writeFile(element->file, data);
    element->data = std::move(data);
    element->contentType = contentType;
    element->url = std::move(url);
    element->time = time;
    element->index = static_cast<uint32_t>(entries.size());
    element->dataFile = element->file.filename().string();
    Element& result = *element;
    entries.push_back(std::move(element));
    return result;
}

std::vector<const CacheEntry*> MemoryReader::view() const {
    std::vector<const CacheEntry*> all;
    for (const auto& entry : entries) {
        all.push_back(entry.get());
    }
    return all;
}

BodySource MemoryReader::bodySource(const CacheEntry& entry) const {
    const std::lock_guard lock(mutex_);
    copies.push_back(entry.url);
    if (failCopy && failCopy(entry)) {
        throw ErrorReport(ErrorReport::IECache, ErrorReport::FileRead, entry.url, {}, EIO);
    }
    BodySource source;
    source.file = static_cast<const Element&>(entry).file;
    source.length = entry.size;
    source.encoding = static_cast<const Element&>(entry).encoding;
    return source;
}

std::vector<std::string> fileNames(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

void Be32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out += static_cast<char>((v >> shift) & 0xFF);
    }
}
void Be16(std::string& out, uint16_t v) {
    out += static_cast<char>(v >> 8);
    out += static_cast<char>(v & 0xFF);
}
void Le16(std::string& out, uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
void Le32(std::string& out, uint32_t v) {
    Le16(out, v & 0xFFFF);
    Le16(out, v >> 16);
}

}  // namespace

std::string pngBytes(uint32_t width, uint32_t height) {
    std::string out("\x89PNG\r\n\x1a\n", 8);
    Be32(out, 13);
    out += "IHDR";
    Be32(out, width);
    Be32(out, height);
    out += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
    Be32(out, 0);                                   // CRC (the probe does not check it)
    Be32(out, 0);
    out += "IEND";
    Be32(out, 0);
    return out;
}

std::string gifBytes(uint16_t width, uint16_t height) {
    std::string out = "GIF89a";
    Le16(out, width);
    Le16(out, height);
    out += std::string("\x00\x00\x00", 3);
    out += ";";
    return out;
}

std::string bmpBytes(int32_t width, int32_t height) {
    std::string out = "BM";
    Le32(out, 54 + 4);
    Le32(out, 0);
    Le32(out, 54);
    Le32(out, 40);
    Le32(out, static_cast<uint32_t>(width));
    Le32(out, static_cast<uint32_t>(height));
    Le16(out, 1);
    Le16(out, 24);
    for (int i = 0; i < 6; ++i) {
        Le32(out, 0);
    }
    out += std::string(4, '\0');
    return out;
}

std::string jpegBytes(uint16_t width, uint16_t height) {
    std::string out("\xFF\xD8\xFF\xC0", 4);  // start of image, baseline frame
    Be16(out, 17);
    out += '\x08';
    Be16(out, height);
    Be16(out, width);
    out += '\x03';
    for (char id = 1; id <= 3; ++id) {
        out += id;
        out += '\x11';
        out += '\x00';
    }
    out += std::string("\xFF\xD9", 2);
    return out;
}

std::string icoBytes(const std::vector<std::pair<uint8_t, uint8_t>>& sizes) {
    std::string out;
    Le16(out, 0);
    Le16(out, 1);
    Le16(out, static_cast<uint32_t>(sizes.size()));
    const uint32_t dataStart = 6 + 16 * static_cast<uint32_t>(sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        out += static_cast<char>(sizes[i].first);
        out += static_cast<char>(sizes[i].second);
        out += std::string(2, '\0');
        Le16(out, 1);
        Le16(out, 32);
        Le32(out, 8);                                         // bytes of the image
        Le32(out, dataStart + 8 * static_cast<uint32_t>(i));  // where they lie
    }
    out += std::string(8 * sizes.size(), '\x5A');
    return out;
}

FilterTest::FilterTest() : scoped_(fake_) {
    fake_.home = dir_ / "home";
    fs::create_directories(fake_.home);
    filter_.homeFolder = fake_.home;
    fake_.exePath = dir_ / "prog" / "harvix";
    fs::create_directories(dir_ / "prog");
}

FilterTest::~FilterTest() = default;

bool FilterTest::comb() {
    reports_ = Reports{};
    result_ = runComb(reader_, reader_.view(),
                      FilterSnapshot::take(filter_, fake_.home, std::time(nullptr)), options_,
                      reports_, fake_);
    return result_.foldersReady;
}

FilterItem& FilterTest::addItem(const std::string& folder, int32_t contentType,
                                const std::string& stem) {
    auto* item = new FilterItem();
    item->contentType = contentType;
    item->directoryTemplate =
        folder.empty() || folder[0] == '/' || folder[0] == '~' ? folder : pathToUtf8(dir_ / folder);
    item->stem = stem;
    return *filter_.insertItem(item, -1);
}

}  // namespace harvix
