#pragma once
// The picture formats read from a file's bytes, apart from any file: the holder loads a file
// and hands its bytes here, and the fuzz targets call these directly.
#include "payload/pictureerror.h"
#include "payload/reusablearray.h"

#include <cstdint>
#include <span>
#include <utility>

namespace ormelin {

struct PictureSize
{
    int width = 0;
    int height = 0;
};

// A decoded bitmap: width * height colours (0x00RRGGBB), top row first.
struct DecodedBitmap
{
    int width = 0;
    int height = 0;
    ReusableArray<uint32_t> pixels;

    uint32_t pixel(int x, int y) const { return pixels.data()[std::size_t(y) * width + x]; }
    friend void swap(DecodedBitmap &a, DecodedBitmap &b) noexcept
    {
        std::swap(a.width, b.width);
        std::swap(a.height, b.height);
        swap(a.pixels, b.pixels);
    }
};

// A bitmap file (core, info, V4 and V5 headers; 1, 4, 8, 16, 24, 32 bits per pixel; plain,
// bit-field and run-length pixels). A zero-byte file is an empty bitmap. A bitmap of more pixels
// than the payload buffer holds (950,081) has its size and its data checked, but its pixels are
// not decoded: `pixels` is left as it was, and only width and height are to be read.
// Throws PictureError for an invalid or cut-short bitmap; Failure "Stream read error"
// for a file of 1 to 13 bytes or with its headers or colour table cut short.
void decodeBitmap(std::span<const uint8_t> file, DecodedBitmap &out);

// JPEG headers up to the first scan; a zero-byte file is an empty picture.
// Throws PictureError "JPEG error #<libjpeg message code>".
PictureSize readJpegSize(std::span<const uint8_t> file);

// The largest image in an icon's directory. Throws PictureError "Icon image is not valid".
PictureSize readIconSize(std::span<const uint8_t> file);

// A placeable Windows metafile's or an enhanced metafile's frame, in pixels at 96 per inch.
// Throws PictureError "Metafile is not valid".
PictureSize readWindowsMetafileSize(std::span<const uint8_t> file);
PictureSize readEnhancedMetafileSize(std::span<const uint8_t> file);

} // namespace ormelin
