#include "payload/payload.h"

#include "common/filepath.h"
#include "payload/pixelformat.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ormelin {

PayloadBuffer::PayloadBuffer()
    : m_data(std::make_unique_for_overwrite<uint8_t[]>(kPayloadBufferSize))
{
}

void PayloadBuffer::setSize(int32_t size)
{
    Q_ASSERT(size >= 0 && size <= kPayloadBufferSize);
    m_size = std::clamp<int32_t>(size, 0, kPayloadBufferSize);
}

namespace {

// Reads until `capacity` bytes are in or the file ends; -1 on an I/O error.
qint64 readUpTo(QFile &file, uint8_t *into, qint64 capacity)
{
    qint64 total = 0;
    while (total < capacity) {
        const qint64 got = file.read(reinterpret_cast<char *>(into) + total, capacity - total);
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        total += got;
    }
    return total;
}

// Opens an object file for reading, provided it is a regular file. Opening a FIFO for reading
// waits for a writer, possibly forever, and a device or a socket is no object file; the open
// itself must not wait, and the check is made on what was opened, so that the name cannot be
// swapped for a FIFO in between. The descriptor stays non-blocking: reads of a regular file
// never wait anyway, and a kernel file that would (such as /proc/kmsg) fails instead of hanging
// the window.
bool openRegularFile(const QString &path, QFile &file)
{
    const QByteArray name = encodedPath(path);
    // A NUL would end the name early and open some other file (a list cell can hold one).
    if (name.isEmpty() || name.contains('\0'))
        return false;
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

// The text after the last "." of the file name (not of a folder), without the dot.
QString extensionOf(const QString &path)
{
    const qsizetype separator = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return dot > separator ? path.mid(dot + 1) : QString();
}

} // namespace

std::optional<int32_t> readFilePayload(const QString &path, PayloadBuffer &buffer)
{
    buffer.setSize(0);
    if (!pathFitsFileLayer(path))
        return std::nullopt;
    QFile file;
    if (!openRegularFile(path, file))
        return std::nullopt;
    // A longer file is cut at the limit without notice.
    const qint64 count = readUpTo(file, buffer.data(), kMaxFilePayload);
    if (count < 0)
        return std::nullopt;
    buffer.setSize(int32_t(count));
    return int32_t(count);
}

void PictureHolder::load(const QString &path)
{
    const QString extension = extensionOf(path);
    const QString lower = extension.toLower();
    Kind kind = Kind::None;
    if (lower == QLatin1String("bmp"))
        kind = Kind::Bitmap;
    else if (lower == QLatin1String("jpg") || lower == QLatin1String("jpeg"))
        kind = Kind::Jpeg;
    else if (lower == QLatin1String("ico"))
        kind = Kind::Icon;
    else if (lower == QLatin1String("wmf") || lower == QLatin1String("emf"))
        kind = Kind::Metafile;
    else
        throw PictureError(QStringLiteral("Unknown picture file extension (.%1)").arg(extension));

    if (!pathFitsFileLayer(path))
        throw PictureError(QStringLiteral("File name is too long (%1 bytes)").arg(pathBytes(path)));

    // Every picture the program can send comes from a file well under this; a larger one (a
    // photograph given by mistake) is read once and not held for the rest of the run.
    constexpr std::size_t kFileBytesKept = 16 * 1024 * 1024;
    struct ReleaseIfLarge
    {
        ReusableArray<uint8_t> &bytes;
        ~ReleaseIfLarge()
        {
            if (bytes.capacity() > kFileBytesKept)
                bytes.release();
        }
    } releaseIfLarge { m_fileBytes };

    PictureSize size;
    try {
        QFile file;
        if (!openRegularFile(path, file))
            throw Failure(QStringLiteral("Cannot open file ") + QFileInfo(path).absoluteFilePath());
        // The size is judged once; a file growing meanwhile is read as it was.
        const qint64 expected = file.size();
        const qint64 count = readUpTo(file, m_fileBytes.ensure(std::size_t(expected)), expected);
        if (count < 0)
            throw Failure(QStringLiteral("Stream read error"));
        const std::span<const uint8_t> bytes(m_fileBytes.data(), std::size_t(count));

        switch (kind) {
        case Kind::Bitmap:
            decodeBitmap(bytes, m_staging);
            size = { m_staging.width, m_staging.height };
            break;
        case Kind::Jpeg:
            size = readJpegSize(bytes);
            break;
        case Kind::Icon:
            size = readIconSize(bytes);
            break;
        case Kind::Metafile:
            size = lower == QLatin1String("wmf") ? readWindowsMetafileSize(bytes)
                                                 : readEnhancedMetafileSize(bytes);
            break;
        case Kind::None:
            break;
        }
    } catch (const std::bad_alloc &) {
        throw Failure(QStringLiteral("Out of memory"));
    }

    m_kind = kind;
    if (kind == Kind::Bitmap)
        swap(m_bitmap, m_staging);
    if (size.width > 0 && size.height > 0) {
        m_width = size.width;
        m_height = size.height;
    }
}

int32_t PictureHolder::encodePixels(PayloadBuffer &buffer) const
{
    if (m_kind != Kind::Bitmap && m_kind != Kind::None)
        throw Failure(QStringLiteral("Can only modify an image if it contains a bitmap"));
    if (m_kind == Kind::None || m_bitmap.width == 0 || m_bitmap.height == 0)
        throw PictureError(QStringLiteral("Bitmap image is empty"));

    // The decoder refuses bitmaps larger than this; the check keeps the buffer safe on its own.
    const std::size_t count = std::size_t(m_bitmap.width) * std::size_t(m_bitmap.height);
    if (count * 2 > std::size_t(kPayloadBufferSize))
        throw PictureError(QStringLiteral("Bitmap image is too large"));

    const uint32_t *pixels = m_bitmap.pixels.data();
    uint8_t *out = buffer.data();
    for (std::size_t i = 0; i < count; ++i) {
        const uint16_t value = encodePixel(pixels[i]);
        out[2 * i] = uint8_t(value & 0xFF);
        out[2 * i + 1] = uint8_t(value >> 8);
    }
    buffer.setSize(int32_t(count * 2));
    return int32_t(count * 2);
}

} // namespace ormelin
