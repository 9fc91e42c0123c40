#pragma once
// payload/ turns an object's file into the bytes that follow its upload frame, and learns a
// picture's width and height:
//  - the payload buffer, allocated once and reused for every object;
//  - file payloads: a file's bytes as they stand, cut at 1,900,001 bytes;
//  - the off-screen picture holder: loads a bitmap, JPEG, icon or metafile by extension
//    (pictureformats.h reads each format from bytes) and encodes a bitmap's pixels as 16 bits.
// It does not show anything, decide how a failure reaches the operator, or talk to the link:
// failures are thrown by class (PictureError for the ones an upload expects, Failure otherwise).
#include "common/failure.h"
#include "payload/pictureerror.h"
#include "payload/pictureformats.h"
#include "payload/reusablearray.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

namespace ormelin {

inline constexpr int kPayloadBufferSize = 1900162;
inline constexpr int kMaxFilePayload = 1900001;

// Holds the payload of the object being uploaded, from offset 0. Allocated once, reused for
// every object; never copied.
class PayloadBuffer
{
public:
    PayloadBuffer();
    PayloadBuffer(const PayloadBuffer &) = delete;
    PayloadBuffer &operator=(const PayloadBuffer &) = delete;

    uint8_t *data() { return m_data.get(); }
    const uint8_t *data() const { return m_data.get(); }
    int32_t size() const { return m_size; }
    // Clamped to 0 .. kPayloadBufferSize: a size beyond the buffer would send memory we never
    // wrote.
    void setSize(int32_t size);

private:
    std::unique_ptr<uint8_t[]> m_data;
    int32_t m_size = 0;
};

// The file's first 1,900,001 bytes into the buffer, its size set to the count. Nothing on any
// I/O error, including a path too long for the file layer and anything but a regular file (a
// FIFO, a device, a socket, a folder), which is refused without waiting; the caller reports it.
std::optional<int32_t> readFilePayload(const QString &path, PayloadBuffer &buffer);

// The off-screen picture. Loading takes a new picture only when it succeeds; its width and height
// become the holder's only when both are above 0 (an empty picture keeps the previous size, or
// 100 x 34 before any picture).
class PictureHolder
{
public:
    // Picture failures (unknown extension, path too long, invalid content) throw PictureError;
    // a file that cannot be opened (anything but a regular file counts as such) or read, a
    // bitmap cut short in its headers or colour table, and running out of memory throw Failure.
    void load(const QString &path);

    int width() const { return m_width; }
    int height() const { return m_height; }
    bool isBitmap() const { return m_kind == Kind::Bitmap; }

    // Fills the buffer with the bitmap's pixels, top row first, two bytes each (low byte first);
    // returns width * height * 2. A JPEG, icon or metafile throws Failure; an empty bitmap (or no
    // picture at all) throws PictureError, since encoding it would send stale dimensions.
    int32_t encodePixels(PayloadBuffer &buffer) const;

private:
    enum class Kind { None, Bitmap, Jpeg, Icon, Metafile };

    Kind m_kind = Kind::None;
    int m_width = 100;
    int m_height = 34;
    DecodedBitmap m_bitmap; // the held bitmap, when m_kind is Bitmap
    DecodedBitmap m_staging; // decoded into first, swapped in on success
    ReusableArray<uint8_t> m_fileBytes; // the whole file being loaded
};

} // namespace ormelin
