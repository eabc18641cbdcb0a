// The size an SVG picture states: read by hand from the start of the file,
// without a drawing library.
#pragma once

#include <optional>
#include <string_view>

#include "filter/ImageSize.h"

namespace harvix {

// Nothing when `text` (the start of a file) is no SVG. An SVG file: its root
// element is "svg" (with or without a namespace prefix). Its width and
// height in pixels give the size; where one of them is missing (or in
// another unit) the viewBox gives it, scaled to the other; without either
// the picture states no size (Unsized). A zero or negative size is not
// measurable.
std::optional<PictureSize> svgSize(std::string_view text);

}  // namespace harvix
