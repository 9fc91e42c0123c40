#include "payload/jpegheader.h"
#include "payload/pictureformats.h"

#include <QString>

namespace ormelin {
namespace {

uint16_t u16At(const uint8_t *p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

uint32_t u32At(const uint8_t *p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

[[noreturn]] void iconNotValid()
{
    throw PictureError(QStringLiteral("Icon image is not valid"));
}

[[noreturn]] void metafileNotValid()
{
    throw PictureError(QStringLiteral("Metafile is not valid"));
}

// Metafile extents are given in fractions of an inch; the picture size is taken at 96 pixels per
// inch, rounded to the nearest pixel.
int pixelsAt96Dpi(int64_t extent, int64_t unitsPerInch)
{
    return int((extent * 96 + unitsPerInch / 2) / unitsPerInch);
}

} // namespace

PictureSize readJpegSize(std::span<const uint8_t> file)
{
    if (file.empty())
        return {};
    int width = 0;
    int height = 0;
    int code = 0;
    if (!ormelin_read_jpeg_header(file.data(), file.size(), &width, &height, &code))
        throw PictureError(QStringLiteral("JPEG error #%1").arg(code));
    return { width, height };
}

PictureSize readIconSize(std::span<const uint8_t> file)
{
    constexpr std::size_t kDirectorySize = 6;
    constexpr std::size_t kEntrySize = 16;
    if (file.size() < kDirectorySize)
        iconNotValid();
    const uint8_t *d = file.data();
    const std::size_t count = u16At(d + 4);
    if (u16At(d) != 0 || u16At(d + 2) != 1 || count == 0)
        iconNotValid();
    const std::size_t imagesStart = kDirectorySize + count * kEntrySize;
    if (imagesStart > file.size())
        iconNotValid();

    PictureSize largest;
    for (std::size_t i = 0; i < count; ++i) {
        const uint8_t *e = d + kDirectorySize + i * kEntrySize;
        const uint64_t bytes = u32At(e + 8);
        const uint64_t offset = u32At(e + 12);
        if (bytes == 0 || offset < imagesStart || offset + bytes > file.size())
            iconNotValid();
        // A stored 0 means 256.
        const int width = e[0] != 0 ? e[0] : 256;
        const int height = e[1] != 0 ? e[1] : 256;
        if (width * height > largest.width * largest.height)
            largest = { width, height };
    }
    return largest;
}

PictureSize readWindowsMetafileSize(std::span<const uint8_t> file)
{
    // Only a placeable metafile says how large it is: a 22-byte header before the standard one.
    constexpr std::size_t kPlaceableSize = 22;
    constexpr std::size_t kStandardSize = 18;
    if (file.size() < kPlaceableSize + kStandardSize)
        metafileNotValid();
    const uint8_t *p = file.data();
    if (u32At(p) != 0x9AC6CDD7u)
        metafileNotValid();
    uint16_t checksum = 0;
    for (int i = 0; i < 10; ++i)
        checksum ^= u16At(p + 2 * i);
    const int left = int16_t(u16At(p + 6));
    const int top = int16_t(u16At(p + 8));
    const int right = int16_t(u16At(p + 10));
    const int bottom = int16_t(u16At(p + 12));
    const int unitsPerInch = u16At(p + 14);
    const uint8_t *standard = p + kPlaceableSize;
    const uint16_t type = u16At(standard);
    if (checksum != u16At(p + 20) || unitsPerInch == 0 || right < left || bottom < top
        || (type != 1 && type != 2) || u16At(standard + 2) != 9)
        metafileNotValid();
    return { pixelsAt96Dpi(right - left, unitsPerInch), pixelsAt96Dpi(bottom - top, unitsPerInch) };
}

PictureSize readEnhancedMetafileSize(std::span<const uint8_t> file)
{
    constexpr std::size_t kHeaderSize = 88;
    constexpr int64_t kHundredthsMmPerInch = 2540;
    if (file.size() < kHeaderSize)
        metafileNotValid();
    const uint8_t *p = file.data();
    const uint32_t recordType = u32At(p);
    const uint32_t recordSize = u32At(p + 4);
    const uint32_t signature = u32At(p + 40); // " EMF"
    // The frame, in hundredths of a millimetre.
    const int64_t left = int32_t(u32At(p + 24));
    const int64_t top = int32_t(u32At(p + 28));
    const int64_t right = int32_t(u32At(p + 32));
    const int64_t bottom = int32_t(u32At(p + 36));
    if (recordType != 1 || signature != 0x464D4520u || recordSize < kHeaderSize
        || recordSize > file.size() || right < left || bottom < top)
        metafileNotValid();
    return { pixelsAt96Dpi(right - left, kHundredthsMmPerInch),
        pixelsAt96Dpi(bottom - top, kHundredthsMmPerInch) };
}

} // namespace ormelin
