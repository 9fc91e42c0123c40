#pragma once
// Picture files written byte by byte for the payload tests, benchmark and fuzz seeds: bitmaps of
// every header and bit depth, icons and metafiles, so that each test states exactly what the file
// holds instead of trusting another encoder.
#include "payload/pictureerror.h"
#include "testfiles.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace payloadtest {

struct Rgb
{
    uint8_t r = 0, g = 0, b = 0;
    uint32_t packed() const { return (uint32_t(r) << 16) | (uint32_t(g) << 8) | b; }
};

// Little-endian byte writer.
class Bytes
{
public:
    QByteArray data;
    Bytes &u8(uint32_t v)
    {
        data.append(char(v & 0xFF));
        return *this;
    }
    Bytes &u16(uint32_t v) { return u8(v).u8(v >> 8); }
    Bytes &u32(uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    Bytes &raw(const QByteArray &bytes)
    {
        data.append(bytes);
        return *this;
    }
    Bytes &zeros(int count)
    {
        data.append(QByteArray(count, '\0'));
        return *this;
    }
};

inline constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3;

// Everything a bitmap file says, written as given: tests that want a broken file break one field.
struct BmpLayout
{
    QByteArray signature = "BM";
    uint32_t headerSize = 40; // 12 core, 40 info, 52, 56, 108 V4, 124 V5
    int32_t width = 0;
    int32_t height = 0; // as stored: negative for top-down rows
    uint16_t planes = 1;
    uint16_t bitCount = 24;
    uint32_t compression = kRgb;
    uint32_t coloursUsed = 0;
    std::array<uint32_t, 3> masks {}; // in the header for 52 and above, after it for 40
    bool masksAfterHeader = false;
    QList<Rgb> palette; // 3 bytes each for a core header, 4 otherwise
    std::optional<uint32_t> pixelOffset; // default: right after the colour table
    QByteArray pixels;
};

inline QByteArray buildBmp(const BmpLayout &l)
{
    Bytes header;
    header.u32(l.headerSize);
    if (l.headerSize == 12) {
        header.u16(uint32_t(l.width)).u16(uint32_t(l.height)).u16(l.planes).u16(l.bitCount);
    } else {
        header.u32(uint32_t(l.width)).u32(uint32_t(l.height)).u16(l.planes).u16(l.bitCount);
        header.u32(l.compression).u32(uint32_t(l.pixels.size())).u32(2835).u32(2835);
        header.u32(l.coloursUsed).u32(0);
        if (l.headerSize >= 52)
            header.u32(l.masks[0]).u32(l.masks[1]).u32(l.masks[2]);
        if (l.headerSize >= 56)
            header.u32(0);
        if (int(l.headerSize) > header.data.size())
            header.zeros(int(l.headerSize) - header.data.size());
    }
    if (l.masksAfterHeader)
        header.u32(l.masks[0]).u32(l.masks[1]).u32(l.masks[2]);
    for (const Rgb &c : l.palette) {
        header.u8(c.b).u8(c.g).u8(c.r);
        if (l.headerSize != 12)
            header.u8(0);
    }
    const uint32_t offset = l.pixelOffset.value_or(uint32_t(14 + header.data.size()));
    Bytes file;
    file.raw(l.signature.left(2)).u32(uint32_t(14 + header.data.size() + l.pixels.size()));
    file.u32(0).u32(offset).raw(header.data).raw(l.pixels);
    return file.data;
}

// Rows of raw pixel values (top row first) packed at bitCount bits each, every row padded to
// 4 bytes, in file order: bottom row first unless topDown.
inline QByteArray packRows(const QList<QList<uint32_t>> &rowsTopFirst, int bitCount, bool topDown)
{
    QByteArray out;
    const qsizetype count = rowsTopFirst.size();
    for (qsizetype i = 0; i < count; ++i) {
        const QList<uint32_t> &row = rowsTopFirst[topDown ? i : count - 1 - i];
        QByteArray bytes;
        if (bitCount < 8) {
            const int perByte = 8 / bitCount;
            bytes.resize((row.size() + perByte - 1) / perByte, '\0');
            for (qsizetype x = 0; x < row.size(); ++x) {
                const int shift = 8 - bitCount * int(x % perByte + 1);
                bytes[x / perByte] = char(uint8_t(bytes[x / perByte]) | (row[x] << shift));
            }
        } else {
            for (uint32_t v : row) {
                for (int b = 0; b < bitCount / 8; ++b)
                    bytes.append(char((v >> (8 * b)) & 0xFF));
            }
        }
        while (bytes.size() % 4)
            bytes.append('\0');
        out.append(bytes);
    }
    return out;
}

// A bottom-up 24-bit BITMAPINFOHEADER bitmap of the given colours.
inline QByteArray bmp24(int width, int height, const std::function<Rgb(int x, int y)> &colour)
{
    QList<QList<uint32_t>> rows;
    for (int y = 0; y < height; ++y) {
        QList<uint32_t> row;
        for (int x = 0; x < width; ++x)
            row.append(colour(x, y).packed());
        rows.append(row);
    }
    BmpLayout l;
    l.width = width;
    l.height = height;
    l.pixels = packRows(rows, 24, false);
    return buildBmp(l);
}

// An icon directory whose entries point at `imageBytes` bytes each, one after another.
struct IconEntry
{
    uint8_t width = 0, height = 0; // 0 stands for 256
    uint32_t imageBytes = 40;
};
inline QByteArray buildIcon(const QList<IconEntry> &entries, uint16_t type = 1)
{
    Bytes d;
    d.u16(0).u16(type).u16(uint32_t(entries.size()));
    uint32_t offset = uint32_t(6 + 16 * entries.size());
    QByteArray images;
    for (const IconEntry &e : entries) {
        d.u8(e.width).u8(e.height).u8(0).u8(0).u16(1).u16(32).u32(e.imageBytes).u32(offset);
        offset += e.imageBytes;
        images.append(QByteArray(int(e.imageBytes), '\x11'));
    }
    return d.raw(images).data;
}

// A placeable Windows metafile with its standard header and an end record.
inline QByteArray buildPlaceableWmf(int16_t left, int16_t top, int16_t right, int16_t bottom,
    uint16_t unitsPerInch, bool goodChecksum = true)
{
    Bytes p;
    p.u32(0x9AC6CDD7).u16(0).u16(uint16_t(left)).u16(uint16_t(top)).u16(uint16_t(right));
    p.u16(uint16_t(bottom)).u16(unitsPerInch).u32(0);
    uint16_t checksum = 0;
    for (int i = 0; i < 10; ++i)
        checksum ^= uint16_t(uint8_t(p.data[2 * i]) | (uint8_t(p.data[2 * i + 1]) << 8));
    p.u16(goodChecksum ? checksum : checksum ^ 1);
    // Standard header: type 1 (memory), 9 words, version 0x300, size in words, objects, largest
    // record, no parameters; then the end-of-file record.
    p.u16(1).u16(9).u16(0x300).u32(12).u16(0).u32(3).u16(0);
    p.u32(3).u16(0);
    return p.data;
}

// An enhanced metafile of its header and an end record; the frame in hundredths of a millimetre.
inline QByteArray buildEmf(int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    Bytes e;
    e.u32(1).u32(88);
    e.u32(0).u32(0).u32(uint32_t(right / 26)).u32(uint32_t(bottom / 26)); // bounds, in pixels
    e.u32(uint32_t(left)).u32(uint32_t(top)).u32(uint32_t(right)).u32(uint32_t(bottom));
    e.u32(0x464D4520).u32(0x10000).u32(88 + 20).u32(2).u16(1).u16(0);
    e.u32(0).u32(0).u32(0).u32(1920).u32(1080).u32(508).u32(286);
    e.u32(14).u32(20).u32(0).u32(16).u32(20); // EMR_EOF
    return e.data;
}

using testfiles::writeFile;

// What a call threw: which class, and its text.
struct Thrown
{
    enum Kind { Nothing, Picture, Plain, Other };
    Kind kind = Nothing;
    QString text;
};

template <class F> Thrown thrownBy(F &&work)
{
    try {
        work();
    } catch (const ormelin::PictureError &e) {
        return { Thrown::Picture, e.text() };
    } catch (const ormelin::Failure &e) {
        return { Thrown::Plain, e.text() };
    } catch (const std::exception &e) {
        return { Thrown::Other, QString::fromUtf8(e.what()) };
    }
    return {};
}

} // namespace payloadtest
