// Small, valid pictures for sample caches: PNG, GIF, BMP, baseline JPEG and
// ICO files of any size, drawn as colour gradients so that they show
// something when opened. Deterministic: the same arguments give the same
// bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mozcache {

std::string MakePng(int width, int height, uint32_t seed = 0);
std::string MakeGif(int width, int height, uint32_t seed = 0);
std::string MakeBmp(int width, int height, uint32_t seed = 0);
// Grey-scale baseline JPEG in 8 by 8 tiles of one shade each.
std::string MakeJpeg(int width, int height, uint32_t seed = 0);
// An icon holding one PNG picture (width and height 1..256).
std::string MakeIco(int width, int height, uint32_t seed = 0);

// A picture by format name ("png", "gif", "bmp", "jpeg" or "jpg", "ico");
// empty for an unknown name.
std::string MakePicture(std::string_view format, int width, int height, uint32_t seed = 0);

}  // namespace mozcache
