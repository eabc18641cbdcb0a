// Small, valid pictures for sample caches: PNG, GIF, BMP, baseline JPEG,
// ICO, WebP, AVIF and SVG files of any size, drawn as colour gradients so that they show
// something when opened. Deterministic: the same arguments give the same
// bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace harvix {

namespace mozcache {

std::string makePng(int width, int height, uint32_t seed = 0);
std::string makeGif(int width, int height, uint32_t seed = 0);
std::string makeBmp(int width, int height, uint32_t seed = 0);
// Grey-scale baseline JPEG in 8 by 8 tiles of one shade each.
std::string makeJpeg(int width, int height, uint32_t seed = 0);
// An icon holding one PNG picture (width and height 1..256).
std::string makeIco(int width, int height, uint32_t seed = 0);

// Lossless WebP (libwebp), width and height 1..16383.
std::string makeWebp(int width, int height, uint32_t seed = 0);
// AVIF (libavif with its AV1 encoder), width and height 1..4096; empty when
// the library has no encoder.
std::string makeAvif(int width, int height, uint32_t seed = 0);
// SVG of one rectangle, with width, height and a matching viewBox.
std::string makeSvg(int width, int height, uint32_t seed = 0);

// A picture by format name ("png", "gif", "bmp", "jpeg" or "jpg", "ico",
// "webp", "avif", "svg"); empty for an unknown name.
std::string makePicture(std::string_view format, int width, int height, uint32_t seed = 0);

}  // namespace mozcache

}  // namespace harvix
