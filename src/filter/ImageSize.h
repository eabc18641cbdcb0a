// The picture-size probe. ImageSize brackets the use of the picture
// libraries for the life of the program; measurePicture measures a picture
// file by its content, whatever its name: JPEG, PNG, GIF and BMP by their
// headers, ICO by its directory, WebP by its headers (libwebp), AVIF by its
// container without decoding it (libavif), SVG by the width and height or
// the viewBox of its root element. Only the start of a file is read (for
// AVIF, a bounded amount of its boxes); a damaged file is not measurable.
#pragma once

#include <cstdint>
#include <filesystem>

#include "platform/FileRead.h"

namespace harvix {

namespace fs = std::filesystem;

class ImageSize {
public:
    ImageSize();
    virtual ~ImageSize();
    ImageSize(const ImageSize&) = delete;
    ImageSize& operator=(const ImageSize&) = delete;

    // Number of live instances (the libraries are in use while it is above 0).
    static int32_t references();
};

struct PictureSize {
    enum class Kind {
        NotMeasurable,  // no picture the probe knows, damaged, or unreadable
        Measured,       // width and height in pixels, both positive
        Unsized,        // a picture that states no size (an SVG drawn at any size)
    };
    Kind kind = Kind::NotMeasurable;
    int32_t width = 0;
    int32_t height = 0;

    // The picture test of a filter item: a measured picture at least this
    // wide and high, or one that states no size. A file that cannot be
    // measured cannot show that it has the size, so it fails.
    bool atLeast(int32_t minWidth, int32_t minHeight) const;
    // Measured when both are positive and fit, else NotMeasurable.
    static PictureSize ofSize(int64_t width, int64_t height);
};

// The size of the picture in `path`. For an icon file the largest image
// counts; for an AVIF the primary image as shown (a quarter turn swaps width
// and height).
PictureSize measurePicture(const fs::path& path);
// The same for a file open for reading (read from its start).
PictureSize measurePicture(const ReadStream& file);

}  // namespace harvix
