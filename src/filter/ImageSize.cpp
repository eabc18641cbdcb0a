#include "filter/ImageSize.h"

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

namespace harvix {

namespace {

std::atomic<int32_t> g_references{0};

// The one instance of the program, alive from start-up to exit.
const ImageSize g_graphics;

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

// The picture library of Debian 12 trusts the symbol counts of a JPEG
// Huffman table (DHT): counts that add up to more than 256 make it write past
// the table while it reads the headers, before any size is known. Later
// versions of the library refuse such a table; here the markers before the
// frame header are walked as the library walks them, and a file that holds
// such a table is not handed to it. Anything else the walk does not follow
// is left to the library, which refuses it by itself.
bool JpegHuffmanTablesFit(std::FILE* file) {
    if (std::fseek(file, 0, SEEK_SET) != 0) {
        return false;
    }
    bool atEnd = false;
    // One byte; 0 past the end, as the library reads it.
    auto get8 = [&]() -> int {
        const int c = std::fgetc(file);
        if (c == EOF) {
            atEnd = true;
            return 0;
        }
        return c;
    };
    auto get16 = [&]() { return (get8() << 8) | get8(); };
    constexpr int kNoMarker = 0xFF;
    // The next marker: 0xFF, any fill bytes, then the code.
    auto getMarker = [&]() {
        int x = get8();
        if (x != 0xFF) {
            return kNoMarker;
        }
        while (x == 0xFF) {
            x = get8();
        }
        return x;
    };
    if (getMarker() != 0xD8) {
        return true;  // no JPEG: the library does not read it as one
    }
    int marker = getMarker();
    // Up to the frame header (C0, C1, C2), where the library's header read ends.
    while (marker != 0xC0 && marker != 0xC1 && marker != 0xC2) {
        if (marker == 0xC4) {
            int left = get16() - 2;
            while (left > 0) {
                const int q = get8();
                if ((q >> 4) > 1 || (q & 15) > 3) {
                    return true;  // refused by the library
                }
                int symbols = 0;
                for (int i = 0; i < 16; ++i) {
                    symbols += get8();
                }
                if (symbols > 256) {
                    return false;
                }
                for (int i = 0; i < symbols; ++i) {
                    get8();
                }
                left -= 17 + symbols;
            }
            if (left != 0) {
                return true;  // refused by the library
            }
        } else if (marker == 0xDB || marker == 0xDD || (marker >= 0xE0 && marker <= 0xEF) ||
                   marker == 0xFE) {
            const int length = get16();
            if (length < 2) {
                return true;  // refused by the library
            }
            for (int i = 2; i < length && !atEnd; ++i) {
                get8();
            }
        } else {
            return true;  // a marker the library refuses here
        }
        marker = getMarker();
        while (marker == kNoMarker) {
            if (atEnd) {
                return true;
            }
            marker = getMarker();
        }
    }
    return true;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

ImageSize::ImageSize() {
    g_references.fetch_add(1);
}

ImageSize::~ImageSize() {
    g_references.fetch_sub(1);
}

int32_t ImageSize::references() {
    return g_references.load();
}

bool getImageSize(const fs::path& path, int32_t& width, int32_t& height) {
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
    if (!JpegHuffmanTablesFit(file.get()) || std::fseek(file.get(), 0, SEEK_SET) != 0) {
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

}  // namespace harvix
