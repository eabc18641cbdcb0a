#include "filter/GraphicLT.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <fstream>
#include <memory>

// The probe needs only the headers of the formats the program names:
// leaving out the loose TGA and PNM detectors keeps arbitrary data from
// passing for a picture.
#define STBI_ONLY_JPEG
#define STBI_ONLY_PNG
#define STBI_ONLY_BMP
#define STBI_ONLY_GIF
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

namespace {

std::atomic<int32_t> g_references{0};

// The one instance of the program, alive from start-up to exit.
const CGraphicLT g_graphics;

uint16_t Le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// An icon (or cursor) file: a six-byte header {0, type 1 or 2, count} and
// one sixteen-byte record per image, whose first two bytes are the width
// and the height (0 meaning 256). Each record must point at data inside the
// file, so that other data starting with the same four bytes is not taken
// for an icon. The largest image gives the size.
bool IconSize(std::FILE* file, uint64_t fileSize, int32_t& width, int32_t& height) {
    unsigned char header[6];
    if (std::fseek(file, 0, SEEK_SET) != 0 || std::fread(header, 1, 6, file) != 6) {
        return false;
    }
    const uint16_t type = Le16(header + 2);
    const uint16_t count = Le16(header + 4);
    if (Le16(header) != 0 || (type != 1 && type != 2) || count == 0) {
        return false;
    }
    const uint64_t directoryEnd = 6u + 16u * static_cast<uint64_t>(count);
    if (directoryEnd > fileSize) {
        return false;
    }
    int32_t bestWidth = 0;
    int32_t bestHeight = 0;
    for (uint16_t i = 0; i < count; ++i) {
        unsigned char record[16];
        if (std::fread(record, 1, 16, file) != 16) {
            return false;
        }
        const uint32_t bytes = Le32(record + 8);
        const uint32_t offset = Le32(record + 12);
        if (bytes == 0 || offset < directoryEnd ||
            static_cast<uint64_t>(offset) + bytes > fileSize) {
            return false;
        }
        const int32_t w = record[0] == 0 ? 256 : record[0];
        const int32_t h = record[1] == 0 ? 256 : record[1];
        if (static_cast<int64_t>(w) * h > static_cast<int64_t>(bestWidth) * bestHeight) {
            bestWidth = w;
            bestHeight = h;
        }
    }
    width = bestWidth;
    height = bestHeight;
    return true;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

CGraphicLT::CGraphicLT() {
    g_references.fetch_add(1);
}

CGraphicLT::~CGraphicLT() {
    g_references.fetch_sub(1);
}

int32_t CGraphicLT::References() {
    return g_references.load();
}

bool GetImageSize(const fs::path& path, int32_t& width, int32_t& height) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        return false;
    }
    const uint64_t fileSize = fs::file_size(path, ec);
    if (ec) {
        return false;
    }
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return false;
    }
    if (IconSize(file.get(), fileSize, width, height)) {
        return true;
    }
    if (std::fseek(file.get(), 0, SEEK_SET) != 0) {
        return false;
    }
    int x = 0;
    int y = 0;
    int components = 0;
    if (stbi_info_from_file(file.get(), &x, &y, &components) == 0) {
        return false;
    }
    // A bitmap stored top-down gives its height as a negative number.
    if (y < 0 && y != INT_MIN) {
        y = -y;
    }
    if (x <= 0 || y <= 0) {
        return false;
    }
    width = x;
    height = y;
    return true;
}
