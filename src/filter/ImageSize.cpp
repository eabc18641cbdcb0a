#include "filter/ImageSize.h"

#include <avif/avif.h>
#include <webp/decode.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

#include "base/ByteOrder.h"
#include "filter/SvgSize.h"
#include "platform/FileRead.h"

namespace harvix {

namespace {

std::atomic<int32_t> g_references{0};

// The one instance of the program, alive from start-up to exit.
const ImageSize g_graphics;

// An icon (or cursor) file: a six-byte header {0, type 1 or 2, count} and
// one sixteen-byte record per image, whose first two bytes are the width
// and the height (0 meaning 256). Each record must point at data inside the
// file, so that other data starting with the same four bytes is not taken
// for an icon. The largest image gives the size.
bool iconSize(std::FILE* file, uint64_t fileSize, int32_t& width, int32_t& height) {
    unsigned char header[6];
    if (std::fseek(file, 0, SEEK_SET) != 0 || std::fread(header, 1, 6, file) != 6) {
        return false;
    }
    const uint16_t type = loadLe16(header + 2);
    const uint16_t count = loadLe16(header + 4);
    if (loadLe16(header) != 0 || (type != 1 && type != 2) || count == 0) {
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
        const uint32_t bytes = loadLe32(record + 8);
        const uint32_t offset = loadLe32(record + 12);
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
bool jpegHuffmanTablesFit(std::FILE* file) {
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

// The first bytes of the file, at most kHeadBytes: enough for the headers of
// WebP and AVIF's file-type box, and for the root element of an SVG.
constexpr std::size_t kHeadBytes = 64 * 1024;

std::string readHead(std::FILE* file) {
    std::string head(kHeadBytes, '\0');
    if (std::fseek(file, 0, SEEK_SET) != 0) {
        return {};
    }
    head.resize(std::fread(head.data(), 1, head.size(), file));
    return head;
}

const uint8_t* bytesOf(const std::string& text) {
    return reinterpret_cast<const uint8_t*>(text.data());
}

// ---- WebP ----

bool isWebp(const std::string& head) {
    return head.size() >= 12 && head.compare(0, 4, "RIFF") == 0 && head.compare(8, 4, "WEBP") == 0;
}

// The headers say the size: the frame header of a plain file, the canvas of
// an extended one (whose first chunk gives it, so that a large chunk after
// it, a colour profile, need not be read).
PictureSize webpSize(const std::string& head) {
    int width = 0;
    int height = 0;
    if (WebPGetInfo(bytesOf(head), head.size(), &width, &height) == 0) {
        return {};
    }
    return PictureSize::ofSize(width, height);
}

// ---- AVIF ----

// An ISO base media file whose file-type box names the AVIF image or image
// sequence brand.
bool isAvif(const std::string& head) {
    if (head.size() < 16 || head.compare(4, 4, "ftyp") != 0) {
        return false;
    }
    const std::size_t end = std::min<std::size_t>(loadBe32(bytesOf(head)), head.size());
    for (std::size_t at = 8; at + 4 <= end; at += 4) {
        if (at == 12) {
            continue;  // the minor version
        }
        if (head.compare(at, 4, "avif") == 0 || head.compare(at, 4, "avis") == 0) {
            return true;
        }
    }
    return false;
}

// What libavif may read while it parses the boxes: no single read and no
// sum of reads past these, so that a box claiming gigabytes is refused
// instead of read.
constexpr std::size_t kAvifMostPerRead = 4 * 1024 * 1024;
constexpr uint64_t kAvifMostInAll = 8 * 1024 * 1024;

struct AvifSource {
    std::FILE* file = nullptr;
    uint64_t size = 0;
    uint64_t left = kAvifMostInAll;
    std::vector<uint8_t> buffer;
};

avifResult readAvifBytes(avifIO* io, uint32_t readFlags, uint64_t offset, size_t size,
                         avifROData* out) {
    auto* source = static_cast<AvifSource*>(io->data);
    if (readFlags != 0 || offset > source->size) {
        return AVIF_RESULT_IO_ERROR;
    }
    const uint64_t available = std::min<uint64_t>(size, source->size - offset);
    if (available > kAvifMostPerRead || available > source->left) {
        return AVIF_RESULT_IO_ERROR;
    }
    source->left -= available;
    source->buffer.resize(static_cast<std::size_t>(available));
    if (available > 0 && (fseeko(source->file, static_cast<off_t>(offset), SEEK_SET) != 0 ||
                          std::fread(source->buffer.data(), 1, source->buffer.size(),
                                     source->file) != source->buffer.size())) {
        return AVIF_RESULT_IO_ERROR;
    }
    out->data = source->buffer.data();
    out->size = source->buffer.size();
    return AVIF_RESULT_OK;
}

struct AvifDecoderFree {
    void operator()(avifDecoder* decoder) const { avifDecoderDestroy(decoder); }
};

// The size the container states for the primary image (or the first frame
// of a sequence); nothing is decoded.
PictureSize avifSize(std::FILE* file, uint64_t fileSize) {
    AvifSource source;
    source.file = file;
    source.size = fileSize;
    avifIO io{};
    io.read = readAvifBytes;
    io.sizeHint = fileSize;
    io.persistent = AVIF_FALSE;
    io.data = &source;
    const std::unique_ptr<avifDecoder, AvifDecoderFree> decoder(avifDecoderCreate());
    if (!decoder) {
        return {};
    }
    decoder->ignoreExif = AVIF_TRUE;
    decoder->ignoreXMP = AVIF_TRUE;
    decoder->strictFlags = AVIF_STRICT_DISABLED;  // the size is all that is asked
    avifDecoderSetIO(decoder.get(), &io);         // not owned: io.destroy is null
    if (avifDecoderParse(decoder.get()) != AVIF_RESULT_OK || decoder->image == nullptr) {
        return {};
    }
    const avifImage& image = *decoder->image;
    int64_t width = image.width;
    int64_t height = image.height;
    if ((image.transformFlags & AVIF_TRANSFORM_IROT) != 0 && image.irot.angle % 2 == 1) {
        std::swap(width, height);
    }
    return PictureSize::ofSize(width, height);
}

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

PictureSize PictureSize::ofSize(int64_t width, int64_t height) {
    PictureSize size;
    if (width > 0 && height > 0 && width <= INT32_MAX && height <= INT32_MAX) {
        size.kind = Kind::Measured;
        size.width = static_cast<int32_t>(width);
        size.height = static_cast<int32_t>(height);
    }
    return size;
}

bool PictureSize::atLeast(int32_t minWidth, int32_t minHeight) const {
    switch (kind) {
        case Kind::Measured:
            return width >= minWidth && height >= minHeight;
        case Kind::Unsized:
            return true;
        case Kind::NotMeasurable:
            break;
    }
    return false;
}

PictureSize measurePicture(const fs::path& path) {
    const ReadStream file = openRegularFile(path);
    return file ? measurePicture(file) : PictureSize{};
}

PictureSize measurePicture(const ReadStream& file) {
    if (!file || std::fseek(file.get(), 0, SEEK_SET) != 0) {
        return {};
    }
    const uint64_t fileSize = descriptorSize(::fileno(file.get()));
    int32_t width = 0;
    int32_t height = 0;
    if (iconSize(file.get(), fileSize, width, height)) {
        return PictureSize::ofSize(width, height);
    }
    const std::string head = readHead(file.get());
    if (isWebp(head)) {
        return webpSize(head);
    }
    if (isAvif(head)) {
        return avifSize(file.get(), fileSize);
    }
    if (const std::optional<PictureSize> svg = svgSize(head)) {
        return *svg;
    }
    if (!jpegHuffmanTablesFit(file.get()) || std::fseek(file.get(), 0, SEEK_SET) != 0) {
        return {};
    }
    int x = 0;
    int y = 0;
    int components = 0;
    if (stbi_info_from_file(file.get(), &x, &y, &components) == 0) {
        return {};
    }
    // A bitmap stored top-down gives its height as a negative number.
    if (y < 0 && y != INT_MIN) {
        y = -y;
    }
    return PictureSize::ofSize(x, y);
}

}  // namespace harvix
