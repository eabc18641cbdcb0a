// The picture-size probe. ImageSize brackets the use of the picture
// library for the life of the program; GetImageSize measures a picture file
// by its content (JPEG, PNG, GIF, BMP and the other formats the library
// reads from their headers, and ICO from its directory), whatever its name.
#pragma once

#include <cstdint>
#include <filesystem>

namespace harvix {

namespace fs = std::filesystem;

class ImageSize {
public:
    ImageSize();
    virtual ~ImageSize();
    ImageSize(const ImageSize&) = delete;
    ImageSize& operator=(const ImageSize&) = delete;

    // Number of live instances (the library is in use while it is above 0).
    static int32_t references();
};

// Width and height in pixels of the picture in `path`. False, with `width`
// and `height` left as they were, when the file is no picture the probe
// knows (or cannot be read). For an icon file, the largest image counts.
bool getImageSize(const fs::path& path, int32_t& width, int32_t& height);

}  // namespace harvix
