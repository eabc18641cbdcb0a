#include "Pictures.h"

#include <avif/avif.h>
#include <webp/encode.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

namespace harvix {

namespace mozcache {

namespace {

void Put8(std::string& out, unsigned value) {
    out.push_back(static_cast<char>(value & 0xFFu));
}

void PutBE16(std::string& out, unsigned value) {
    Put8(out, value >> 8);
    Put8(out, value);
}

void PutBE32(std::string& out, uint32_t value) {
    PutBE16(out, value >> 16);
    PutBE16(out, value & 0xFFFFu);
}

void PutLE16(std::string& out, unsigned value) {
    Put8(out, value);
    Put8(out, value >> 8);
}

void PutLE32(std::string& out, uint32_t value) {
    PutLE16(out, value & 0xFFFFu);
    PutLE16(out, value >> 16);
}

int Clamp(int value, int low, int high) {
    return std::min(std::max(value, low), high);
}

// The colour of one pixel: a diagonal gradient tinted by the seed.
std::array<uint8_t, 3> Shade(int x, int y, int width, int height, uint32_t seed) {
    const int w = std::max(width, 1);
    const int h = std::max(height, 1);
    const auto r = static_cast<uint8_t>((x * 255 / w + static_cast<int>(seed * 37u)) & 0xFF);
    const auto g = static_cast<uint8_t>((y * 255 / h + static_cast<int>(seed * 91u)) & 0xFF);
    const auto b = static_cast<uint8_t>(((x + y) * 127 / (w + h) + 64) & 0xFF);
    return {r, g, b};
}

uint32_t Crc32(std::string_view bytes) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[n] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (const char ch : bytes) {
        crc = table[(crc ^ static_cast<uint8_t>(ch)) & 0xFFu] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFu;
}

void PutPngChunk(std::string& out, std::string_view type, std::string_view data) {
    PutBE32(out, static_cast<uint32_t>(data.size()));
    std::string body(type);
    body.append(data);
    out += body;
    PutBE32(out, Crc32(body));
}

// A zlib stream of stored (uncompressed) blocks.
std::string ZlibStored(std::string_view raw) {
    std::string out;
    Put8(out, 0x78);
    Put8(out, 0x01);
    std::size_t pos = 0;
    do {
        const std::size_t n = std::min<std::size_t>(raw.size() - pos, 65535);
        const bool last = pos + n == raw.size();
        Put8(out, last ? 1u : 0u);
        PutLE16(out, static_cast<unsigned>(n));
        PutLE16(out, static_cast<unsigned>(~n & 0xFFFFu));
        out.append(raw.substr(pos, n));
        pos += n;
    } while (pos < raw.size());
    uint32_t a = 1;
    uint32_t b = 0;
    for (const char ch : raw) {
        a = (a + static_cast<uint8_t>(ch)) % 65521u;
        b = (b + a) % 65521u;
    }
    PutBE32(out, (b << 16) | a);
    return out;
}

// Writes codes of a fixed width, least significant bit first (GIF order).
class LsbBitWriter {
public:
    void Put(unsigned code, int width) {
        for (int i = 0; i < width; ++i) {
            current_ |= static_cast<uint8_t>(((code >> i) & 1u) << filled_);
            if (++filled_ == 8) {
                bytes_.push_back(static_cast<char>(current_));
                current_ = 0;
                filled_ = 0;
            }
        }
    }
    std::string finish() {
        if (filled_ > 0) {
            bytes_.push_back(static_cast<char>(current_));
        }
        return bytes_;
    }

private:
    std::string bytes_;
    uint8_t current_ = 0;
    int filled_ = 0;
};

// Writes bits most significant first with JPEG byte stuffing.
class JpegBitWriter {
public:
    explicit JpegBitWriter(std::string& out) : out_(out) {}
    void Put(uint32_t bits, int count) {
        for (int i = count - 1; i >= 0; --i) {
            current_ =
                static_cast<uint8_t>((static_cast<uint32_t>(current_) << 1) | ((bits >> i) & 1u));
            if (++filled_ == 8) {
                Emit();
            }
        }
    }
    void Flush() {
        while (filled_ != 0) {
            Put(1, 1);  // pad with one-bits
        }
    }

private:
    void Emit() {
        out_.push_back(static_cast<char>(current_));
        if (current_ == 0xFF) {
            out_.push_back('\0');
        }
        current_ = 0;
        filled_ = 0;
    }
    std::string& out_;
    uint8_t current_ = 0;
    int filled_ = 0;
};

}  // namespace

std::string makePng(int width, int height, uint32_t seed) {
    width = Clamp(width, 1, 1 << 14);
    height = Clamp(height, 1, 1 << 14);
    std::string raw;
    raw.reserve(static_cast<std::size_t>(height) * (static_cast<std::size_t>(width) * 3 + 1));
    for (int y = 0; y < height; ++y) {
        raw.push_back('\0');  // filter: none
        for (int x = 0; x < width; ++x) {
            for (const uint8_t c : Shade(x, y, width, height, seed)) {
                raw.push_back(static_cast<char>(c));
            }
        }
    }
    std::string out("\x89PNG\r\n\x1a\n", 8);
    std::string header;
    PutBE32(header, static_cast<uint32_t>(width));
    PutBE32(header, static_cast<uint32_t>(height));
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB, no interlace
    PutPngChunk(out, "IHDR", header);
    PutPngChunk(out, "IDAT", ZlibStored(raw));
    PutPngChunk(out, "IEND", "");
    return out;
}

std::string makeGif(int width, int height, uint32_t seed) {
    width = Clamp(width, 1, 65535);
    height = Clamp(height, 1, 65535);
    std::string out = "GIF89a";
    PutLE16(out, static_cast<unsigned>(width));
    PutLE16(out, static_cast<unsigned>(height));
    Put8(out, 0xF7);  // global colour table of 256 entries, 8-bit colour
    Put8(out, 0);
    Put8(out, 0);
    for (int i = 0; i < 256; ++i) {
        Put8(out, static_cast<unsigned>(i));
        Put8(out, static_cast<unsigned>(255 - i));
        Put8(out, static_cast<unsigned>((i * 3 + static_cast<int>(seed * 29u)) & 0xFF));
    }
    Put8(out, 0x2C);
    PutLE16(out, 0);
    PutLE16(out, 0);
    PutLE16(out, static_cast<unsigned>(width));
    PutLE16(out, static_cast<unsigned>(height));
    Put8(out, 0);
    // LZW with 9-bit codes throughout: a clear code before the table would
    // grow past 511 entries keeps every code a literal pixel.
    constexpr unsigned kClear = 256;
    constexpr unsigned kEnd = 257;
    Put8(out, 8);
    LsbBitWriter bits;
    int sinceClear = 254;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (sinceClear == 254) {
                bits.Put(kClear, 9);
                sinceClear = 0;
            }
            const auto shade = Shade(x, y, width, height, seed);
            bits.Put(static_cast<unsigned>((shade[0] + shade[1]) / 2), 9);
            ++sinceClear;
        }
    }
    bits.Put(kEnd, 9);
    const std::string data = bits.finish();
    for (std::size_t pos = 0; pos < data.size(); pos += 255) {
        const std::size_t n = std::min<std::size_t>(255, data.size() - pos);
        Put8(out, static_cast<unsigned>(n));
        out.append(data, pos, n);
    }
    Put8(out, 0);
    Put8(out, 0x3B);
    return out;
}

std::string makeBmp(int width, int height, uint32_t seed) {
    width = Clamp(width, 1, 1 << 14);
    height = Clamp(height, 1, 1 << 14);
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    const auto imageBytes = static_cast<uint32_t>(rowBytes * static_cast<std::size_t>(height));
    std::string out = "BM";
    PutLE32(out, 54 + imageBytes);
    PutLE32(out, 0);
    PutLE32(out, 54);
    PutLE32(out, 40);
    PutLE32(out, static_cast<uint32_t>(width));
    PutLE32(out, static_cast<uint32_t>(height));
    PutLE16(out, 1);
    PutLE16(out, 24);
    PutLE32(out, 0);
    PutLE32(out, imageBytes);
    PutLE32(out, 2835);
    PutLE32(out, 2835);
    PutLE32(out, 0);
    PutLE32(out, 0);
    for (int y = height - 1; y >= 0; --y) {  // bottom-up rows
        std::size_t written = 0;
        for (int x = 0; x < width; ++x) {
            const auto c = Shade(x, y, width, height, seed);
            Put8(out, c[2]);
            Put8(out, c[1]);
            Put8(out, c[0]);
            written += 3;
        }
        out.append(rowBytes - written, '\0');
    }
    return out;
}

std::string makeJpeg(int width, int height, uint32_t seed) {
    width = Clamp(width, 1, 65535);
    height = Clamp(height, 1, 65535);
    std::string out("\xFF\xD8", 2);
    // JFIF marker.
    out += std::string("\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 18);
    // One quantisation table, all 8: the DC value of a tile is then its
    // mean shade minus 128.
    out += std::string("\xFF\xDB\x00\x43\x00", 5);
    out.append(64, '\x08');
    // Frame: baseline, 8-bit, one grey component.
    out += std::string("\xFF\xC0\x00\x0B\x08", 5);
    PutBE16(out, static_cast<unsigned>(height));
    PutBE16(out, static_cast<unsigned>(width));
    out += std::string("\x01\x01\x11\x00", 4);
    // The usual luminance DC table, and an AC table that holds only the
    // end-of-block code (every tile is flat).
    static constexpr std::array<uint8_t, 16> kDcCounts = {0, 1, 5, 1, 1, 1, 1, 1,
                                                          1, 0, 0, 0, 0, 0, 0, 0};
    out += std::string("\xFF\xC4\x00\x1F\x00", 5);
    for (const uint8_t count : kDcCounts) {
        Put8(out, count);
    }
    for (unsigned v = 0; v < 12; ++v) {
        Put8(out, v);
    }
    out += std::string("\xFF\xC4\x00\x14\x10\x01", 6);
    out.append(15, '\0');
    Put8(out, 0x00);
    // Scan header.
    out += std::string("\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00", 10);

    // Canonical codes of the DC table, by category 0..11.
    std::array<uint32_t, 12> dcCode{};
    std::array<int, 12> dcLength{};
    {
        uint32_t code = 0;
        unsigned symbol = 0;
        for (int length = 1; length <= 16; ++length) {
            for (int i = 0; i < kDcCounts[static_cast<std::size_t>(length - 1)]; ++i) {
                dcCode[symbol] = code;
                dcLength[symbol] = length;
                ++symbol;
                ++code;
            }
            code <<= 1;
        }
    }
    JpegBitWriter bits(out);
    int previous = 0;
    const int tilesAcross = (width + 7) / 8;
    const int tilesDown = (height + 7) / 8;
    for (int ty = 0; ty < tilesDown; ++ty) {
        for (int tx = 0; tx < tilesAcross; ++tx) {
            const auto c = Shade(tx * 8 + 4, ty * 8 + 4, width, height, seed);
            const int dc = (c[0] * 3 + c[1] * 5 + c[2] * 2) / 10 - 128;
            const int diff = dc - previous;
            previous = dc;
            int category = 0;
            for (int magnitude = diff < 0 ? -diff : diff; magnitude != 0; magnitude >>= 1) {
                ++category;
            }
            const auto cat = static_cast<std::size_t>(category);
            bits.Put(dcCode[cat], dcLength[cat]);
            if (category > 0) {
                const int value = diff < 0 ? diff + (1 << category) - 1 : diff;
                bits.Put(static_cast<uint32_t>(value), category);
            }
            bits.Put(0, 1);  // end of block
        }
    }
    bits.Flush();
    out += std::string("\xFF\xD9", 2);
    return out;
}

std::string makeIco(int width, int height, uint32_t seed) {
    width = Clamp(width, 1, 256);
    height = Clamp(height, 1, 256);
    const std::string png = makePng(width, height, seed);
    std::string out;
    PutLE16(out, 0);
    PutLE16(out, 1);  // icon
    PutLE16(out, 1);  // one picture
    Put8(out, width == 256 ? 0u : static_cast<unsigned>(width));
    Put8(out, height == 256 ? 0u : static_cast<unsigned>(height));
    Put8(out, 0);
    Put8(out, 0);
    PutLE16(out, 1);
    PutLE16(out, 32);
    PutLE32(out, static_cast<uint32_t>(png.size()));
    PutLE32(out, 22);
    return out + png;
}

// The gradient as packed RGB rows.
std::vector<uint8_t> RgbPixels(int width, int height, uint32_t seed) {
    std::vector<uint8_t> rgb;
    rgb.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto pixel = Shade(x, y, width, height, seed);
            rgb.insert(rgb.end(), pixel.begin(), pixel.end());
        }
    }
    return rgb;
}

std::string makeWebp(int width, int height, uint32_t seed) {
    if (width < 1 || height < 1 || width > 16383 || height > 16383) {
        return {};
    }
    const std::vector<uint8_t> rgb = RgbPixels(width, height, seed);
    uint8_t* encoded = nullptr;
    const std::size_t size = WebPEncodeLosslessRGB(rgb.data(), width, height, width * 3, &encoded);
    std::string out(reinterpret_cast<const char*>(encoded), size);
    WebPFree(encoded);
    return out;
}

std::string makeAvif(int width, int height, uint32_t seed) {
    if (width < 1 || height < 1 || width > 4096 || height > 4096) {
        return {};
    }
    avifImage* image = avifImageCreate(static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                                       8, AVIF_PIXEL_FORMAT_YUV420);
    std::vector<uint8_t> rgbPixels = RgbPixels(width, height, seed);
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, image);
    rgb.format = AVIF_RGB_FORMAT_RGB;
    rgb.pixels = rgbPixels.data();
    rgb.rowBytes = static_cast<uint32_t>(width) * 3;
    avifEncoder* encoder = avifEncoderCreate();
    encoder->speed = AVIF_SPEED_FASTEST;
    avifRWData output = AVIF_DATA_EMPTY;
    std::string out;
    if (avifImageRGBToYUV(image, &rgb) == AVIF_RESULT_OK &&
        avifEncoderWrite(encoder, image, &output) == AVIF_RESULT_OK) {
        out.assign(reinterpret_cast<const char*>(output.data), output.size);
    }
    avifRWDataFree(&output);
    avifEncoderDestroy(encoder);
    avifImageDestroy(image);
    return out;
}

std::string makeSvg(int width, int height, uint32_t seed) {
    const auto [r, g, b] = Shade(1, 1, 2, 2, seed);
    char colour[8];
    std::snprintf(colour, sizeof colour, "#%02x%02x%02x", r, g, b);
    const std::string w = std::to_string(width);
    const std::string h = std::to_string(height);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
           w + "\" height=\"" + h + "\" viewBox=\"0 0 " + w + " " + h +
           "\">\n"
           "  <rect width=\"" +
           w + "\" height=\"" + h + "\" fill=\"" + colour +
           "\"/>\n"
           "</svg>\n";
}

std::string makePicture(std::string_view format, int width, int height, uint32_t seed) {
    if (format == "png") {
        return makePng(width, height, seed);
    }
    if (format == "gif") {
        return makeGif(width, height, seed);
    }
    if (format == "bmp") {
        return makeBmp(width, height, seed);
    }
    if (format == "jpeg" || format == "jpg") {
        return makeJpeg(width, height, seed);
    }
    if (format == "ico") {
        return makeIco(width, height, seed);
    }
    if (format == "webp") {
        return makeWebp(width, height, seed);
    }
    if (format == "avif") {
        return makeAvif(width, height, seed);
    }
    if (format == "svg") {
        return makeSvg(width, height, seed);
    }
    return {};
}

}  // namespace mozcache

}  // namespace harvix
