// The bitmap decoder on bytes written by hand: exact colours for every header, bit depth, row
// order and compression, and the class and text of every way a file can be refused.
#include "payload/payload.h"
#include "payloadpictures.h"

#include <QBuffer>
#include <QImage>
#include <QTest>

using namespace ormelin;
using namespace payloadtest;

using Masks = std::array<uint32_t, 3>;
using Grid = QList<QList<uint32_t>>;
Q_DECLARE_METATYPE(payloadtest::Thrown::Kind)
Q_DECLARE_METATYPE(Masks)

namespace {

std::span<const uint8_t> span(const QByteArray &bytes)
{
    return { reinterpret_cast<const uint8_t *>(bytes.constData()), std::size_t(bytes.size()) };
}

// Distinct colours for an indexed table, none of them grey, so swapped channels show.
QList<Rgb> testPalette(int entries)
{
    QList<Rgb> palette;
    for (int i = 0; i < entries; ++i)
        palette.append({ uint8_t(i * 7 + 3), uint8_t(255 - i * 5), uint8_t((i * 97) & 0xFF) });
    return palette;
}

Rgb colourAt(int x, int y)
{
    return { uint8_t(x * 37 + y * 11), uint8_t(x * 13 + y * 71 + 5), uint8_t((x * 91) ^ (y * 29)) };
}

// The channel as 8 bits: wider values keep their top 8 bits; narrower ones repeat their bits
// from the top down until 8 are filled.
uint32_t widen(uint32_t value, int bits)
{
    if (bits >= 8)
        return value >> (bits - 8);
    uint32_t out = 0;
    int filled = 0;
    while (filled < 8) {
        out = (out << bits) | value;
        filled += bits;
    }
    return out >> (filled - 8);
}

uint32_t expectedMasked(uint32_t pixel, const std::array<uint32_t, 3> &masks)
{
    uint32_t rgb = 0;
    for (uint32_t mask : masks) {
        uint32_t channel = 0;
        if (mask) {
            int shift = 0;
            while (!((mask >> shift) & 1))
                ++shift;
            int bits = 0;
            while (shift + bits < 32 && ((mask >> (shift + bits)) & 1))
                ++bits;
            channel = widen((pixel & mask) >> shift, bits);
        }
        rgb = (rgb << 8) | channel;
    }
    return rgb;
}

void compareDecoded(const DecodedBitmap &got, const QList<QList<uint32_t>> &expectedTopFirst)
{
    QCOMPARE(got.height, int(expectedTopFirst.size()));
    QCOMPARE(got.width, int(expectedTopFirst.first().size()));
    for (int y = 0; y < got.height; ++y) {
        for (int x = 0; x < got.width; ++x) {
            if (got.pixel(x, y) != expectedTopFirst[y][x]) {
                QFAIL(qPrintable(QStringLiteral("pixel (%1, %2): got %3, expected %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(got.pixel(x, y), 6, 16, QLatin1Char('0'))
                                     .arg(expectedTopFirst[y][x], 6, 16, QLatin1Char('0'))));
            }
        }
    }
}

Thrown decodeThrown(const QByteArray &file)
{
    DecodedBitmap out;
    return thrownBy([&] { decodeBitmap(span(file), out); });
}

BmpLayout indexedLayout(int width, int height, int bitCount)
{
    BmpLayout l;
    l.width = width;
    l.height = height;
    l.bitCount = uint16_t(bitCount);
    l.palette = testPalette(1 << bitCount);
    QList<QList<uint32_t>> rows(height, QList<uint32_t>(width, 0));
    l.pixels = packRows(rows, bitCount, false);
    return l;
}

// Headers and colour table only: the pixels are the caller's.
BmpLayout bareLayout(int width, int height, int bitCount)
{
    BmpLayout l;
    l.width = width;
    l.height = height;
    l.bitCount = uint16_t(bitCount);
    l.palette = testPalette(1 << bitCount);
    return l;
}

const QString kNotValid = QStringLiteral("Bitmap image is not valid");
const QString kStreamReadError = QStringLiteral("Stream read error");
const QString kCutShort = QStringLiteral("Bitmap pixel data is cut short");
const QString kTooLarge = QStringLiteral("Bitmap image is too large");

} // namespace

class TestBitmapDecoder : public QObject
{
    Q_OBJECT
private slots:
    void indexed_data()
    {
        QTest::addColumn<int>("headerSize");
        QTest::addColumn<int>("bitCount");
        QTest::addColumn<bool>("topDown");
        for (int header : { 12, 40, 108, 124 }) {
            for (int bits : { 1, 4, 8 }) {
                for (bool topDown : { false, true }) {
                    if (header == 12 && topDown)
                        continue; // a core header has no way to say top-down
                    QTest::addRow(
                        "header %d, %d bpp, %s", header, bits, topDown ? "top-down" : "bottom-up")
                        << header << bits << topDown;
                }
            }
        }
    }
    void indexed()
    {
        QFETCH(int, headerSize);
        QFETCH(int, bitCount);
        QFETCH(bool, topDown);
        // Odd widths cross byte and row-padding boundaries at every depth.
        const int width = 13, height = 5, entries = 1 << bitCount;
        const QList<Rgb> palette = testPalette(entries);
        QList<QList<uint32_t>> indices, expected;
        for (int y = 0; y < height; ++y) {
            QList<uint32_t> row, colours;
            for (int x = 0; x < width; ++x) {
                const uint32_t index = uint32_t(x * 3 + y * 5) % entries;
                row.append(index);
                colours.append(palette[index].packed());
            }
            indices.append(row);
            expected.append(colours);
        }
        BmpLayout l;
        l.headerSize = uint32_t(headerSize);
        l.width = width;
        l.height = topDown ? -height : height;
        l.bitCount = uint16_t(bitCount);
        l.palette = palette;
        l.pixels = packRows(indices, bitCount, topDown);
        DecodedBitmap out;
        decodeBitmap(span(buildBmp(l)), out);
        compareDecoded(out, expected);
    }

    void direct_data()
    {
        QTest::addColumn<int>("headerSize");
        QTest::addColumn<int>("bitCount");
        QTest::addColumn<uint32_t>("compression");
        QTest::addColumn<Masks>("masks");
        QTest::addColumn<bool>("topDown");
        using M = std::array<uint32_t, 3>;
        const M none {};
        for (bool topDown : { false, true }) {
            const char *order = topDown ? "top-down" : "bottom-up";
            if (!topDown)
                QTest::addRow("core 24 bpp") << 12 << 24 << kRgb << none << false;
            for (int header : { 40, 108, 124 }) {
                QTest::addRow("header %d, 24 bpp, %s", header, order)
                    << header << 24 << kRgb << none << topDown;
                QTest::addRow("header %d, 32 bpp, %s", header, order)
                    << header << 32 << kRgb << none << topDown;
                // Plain 16 bits are 5-5-5 whatever masks a large header carries.
                QTest::addRow("header %d, 16 bpp 555, %s", header, order)
                    << header << 16 << kRgb << M { 0xF800, 0x07E0, 0x001F } << topDown;
            }
            QTest::addRow("info + masks, 565, %s", order)
                << 40 << 16 << kBitFields << M { 0xF800, 0x07E0, 0x001F } << topDown;
            QTest::addRow("info + masks, 555, %s", order)
                << 40 << 16 << kBitFields << M { 0x7C00, 0x03E0, 0x001F } << topDown;
            QTest::addRow("V4, 565, %s", order)
                << 108 << 16 << kBitFields << M { 0xF800, 0x07E0, 0x001F } << topDown;
            QTest::addRow("V5, 444, %s", order)
                << 124 << 16 << kBitFields << M { 0x0F00, 0x00F0, 0x000F } << topDown;
            QTest::addRow("header 52, 565 blue high, %s", order)
                << 52 << 16 << kBitFields << M { 0x001F, 0x07E0, 0xF800 } << topDown;
            QTest::addRow("info + masks, 32 bpp 8-8-8, %s", order)
                << 40 << 32 << kBitFields << M { 0x00FF0000, 0x0000FF00, 0x000000FF } << topDown;
            QTest::addRow("V5, 32 bpp RGBx, %s", order)
                << 124 << 32 << kBitFields << M { 0xFF000000, 0x00FF0000, 0x0000FF00 } << topDown;
            QTest::addRow("V4, 32 bpp 10-10-10, %s", order)
                << 108 << 32 << kBitFields << M { 0x3FF00000, 0x000FFC00, 0x000003FF } << topDown;
            QTest::addRow("header 56, 32 bpp no green, %s", order)
                << 56 << 32 << kBitFields << M { 0x00FF0000, 0, 0x000000FF } << topDown;
        }
    }
    void direct()
    {
        QFETCH(int, headerSize);
        QFETCH(int, bitCount);
        QFETCH(uint32_t, compression);
        QFETCH(Masks, masks);
        QFETCH(bool, topDown);
        const int width = 7, height = 4;
        std::array<uint32_t, 3> effective = masks;
        if (compression == kRgb && bitCount == 16)
            effective = { 0x7C00, 0x03E0, 0x001F };
        QList<QList<uint32_t>> raw, expected;
        for (int y = 0; y < height; ++y) {
            QList<uint32_t> row, colours;
            for (int x = 0; x < width; ++x) {
                const Rgb c = colourAt(x, y);
                if (bitCount == 24 || (bitCount == 32 && compression == kRgb)) {
                    // The fourth byte of a 32-bit pixel is filled to show it is ignored.
                    row.append(c.packed() | (bitCount == 32 ? 0xA5000000u : 0u));
                    colours.append(c.packed());
                } else {
                    // Raw values covering all channel bits, extremes included.
                    const uint32_t value = (x == 0          ? 0u
                                                   : x == 1 ? 0xFFFFFFFFu
                                                            : (x * 0x9E3779B9u) ^ (y * 0x85EBCA6Bu))
                        & (bitCount == 16 ? 0xFFFFu : 0xFFFFFFFFu);
                    row.append(value);
                    colours.append(expectedMasked(value, effective));
                }
            }
            raw.append(row);
            expected.append(colours);
        }
        BmpLayout l;
        l.headerSize = uint32_t(headerSize);
        l.width = width;
        l.height = topDown ? -height : height;
        l.bitCount = uint16_t(bitCount);
        l.compression = compression;
        l.masks = masks;
        l.masksAfterHeader = compression == kBitFields && headerSize == 40;
        l.pixels = packRows(raw, bitCount, topDown);
        DecodedBitmap out;
        decodeBitmap(span(buildBmp(l)), out);
        compareDecoded(out, expected);
    }

    void sixteenBitChannelsWidenByRepeatingBits()
    {
        // Full scale stays full scale and the stored bits stay on top.
        QCOMPARE(expectedMasked(0x7C00, { 0x7C00, 0x03E0, 0x001F }), 0xFF0000u);
        QCOMPARE(expectedMasked(0x4210, { 0x7C00, 0x03E0, 0x001F }), 0x848484u); // 16 -> 132
        QCOMPARE(expectedMasked(0x0400, { 0xF800, 0x07E0, 0x001F }), 0x008200u); // 6-bit 32 -> 130
        BmpLayout l;
        l.width = 3;
        l.height = 1;
        l.bitCount = 16;
        l.pixels = packRows({ { 0x7FFF, 0x4210, 0x0001 } }, 16, false);
        DecodedBitmap out;
        decodeBitmap(span(buildBmp(l)), out);
        QCOMPARE(out.pixel(0, 0), 0xFFFFFFu);
        QCOMPARE(out.pixel(1, 0), 0x848484u);
        QCOMPARE(out.pixel(2, 0), 0x000008u);
    }

    void runLength_data()
    {
        QTest::addColumn<uint32_t>("compression");
        QTest::addColumn<int>("width");
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QList<QList<uint32_t>>>("indicesTopFirst");

        // Bottom row first: an encoded run, an absolute run with its pad byte clipped at the
        // right edge, a delta that skips the rest of a row and part of the next, an end of line
        // and an end of bitmap.
        QTest::newRow("RLE8 runs, absolute, delta")
            << kRle8 << 5
            << QByteArray::fromHex("0301"
                                   "0003020302"
                                   "00"
                                   "0000"
                                   "00020201"
                                   "0203"
                                   "0000"
                                   "0502"
                                   "0001")
            << QList<QList<uint32_t>> { { 2, 2, 2, 2, 2 }, { 0, 0, 3, 3, 0 }, { 0, 0, 0, 0, 0 },
                   { 1, 1, 1, 2, 3 } };
        QTest::newRow("RLE8 run past the edge clipped")
            << kRle8 << 3
            << QByteArray::fromHex("0904"
                                   "0000"
                                   "0205"
                                   "0001")
            << QList<QList<uint32_t>> { { 5, 5, 0 }, { 4, 4, 4 } };
        QTest::newRow("RLE8 ends after last row without mark")
            << kRle8 << 2
            << QByteArray::fromHex("0201"
                                   "0000"
                                   "0202"
                                   "0000")
            << QList<QList<uint32_t>> { { 2, 2 }, { 1, 1 } };
        QTest::newRow("RLE8 delta off the top ends it")
            << kRle8 << 2
            << QByteArray::fromHex("0107"
                                   "00020009")
            << QList<QList<uint32_t>> { { 0, 0 }, { 7, 0 } };
        // Nibbles alternate high, low; absolute runs are padded to 16 bits.
        QTest::newRow("RLE4 runs and absolute")
            << kRle4 << 6
            << QByteArray::fromHex("0412"
                                   "00033450"
                                   "0000"
                                   "0005567890"
                                   "00"
                                   "01A0"
                                   "0001")
            << QList<QList<uint32_t>> { { 5, 6, 7, 8, 9, 10 }, { 1, 2, 1, 2, 3, 4 } };
        QTest::newRow("RLE4 odd run and delta")
            << kRle4 << 4
            << QByteArray::fromHex("03F1"
                                   "0000"
                                   "00020100"
                                   "01C0"
                                   "0001")
            << QList<QList<uint32_t>> { { 0, 12, 0, 0 }, { 15, 1, 15, 0 } };
    }
    void runLength()
    {
        QFETCH(uint32_t, compression);
        QFETCH(int, width);
        QFETCH(QByteArray, stream);
        QFETCH(QList<QList<uint32_t>>, indicesTopFirst);
        const int bits = compression == kRle8 ? 8 : 4;
        const QList<Rgb> palette = testPalette(1 << bits);
        BmpLayout l;
        l.width = width;
        l.height = int32_t(indicesTopFirst.size());
        l.bitCount = uint16_t(bits);
        l.compression = compression;
        l.palette = palette;
        l.pixels = stream;
        QList<QList<uint32_t>> expected;
        for (const auto &row : indicesTopFirst) {
            QList<uint32_t> colours;
            for (uint32_t i : row)
                colours.append(palette[i].packed());
            expected.append(colours);
        }
        DecodedBitmap out;
        decodeBitmap(span(buildBmp(l)), out);
        compareDecoded(out, expected);
    }

    void tolerated_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QList<QList<uint32_t>>>("expected");
        const QList<Rgb> pal = testPalette(4);

        BmpLayout noPad = indexedLayout(3, 2, 8);
        noPad.palette = pal;
        noPad.coloursUsed = 4;
        noPad.pixels = QByteArray::fromHex("01020300"
                                           "030201"); // last row's padding missing
        QTest::newRow("last row unpadded")
            << buildBmp(noPad)
            << QList<QList<uint32_t>> { { pal[3].packed(), pal[2].packed(), pal[1].packed() },
                   { pal[1].packed(), pal[2].packed(), pal[3].packed() } };

        BmpLayout unsetOffset = noPad;
        unsetOffset.pixelOffset = 0;
        QTest::newRow("pixel offset unset")
            << buildBmp(unsetOffset)
            << QList<QList<uint32_t>> { { pal[3].packed(), pal[2].packed(), pal[1].packed() },
                   { pal[1].packed(), pal[2].packed(), pal[3].packed() } };

        BmpLayout shortTable = indexedLayout(4, 1, 8);
        shortTable.palette = pal.mid(0, 2);
        shortTable.coloursUsed = 2;
        shortTable.pixels = QByteArray::fromHex("00010203");
        QTest::newRow("index past a short table is black") << buildBmp(
            shortTable) << QList<QList<uint32_t>> { { pal[0].packed(), pal[1].packed(), 0u, 0u } };

        BmpLayout longTable = indexedLayout(2, 1, 1);
        longTable.palette = pal;
        longTable.coloursUsed = 4; // more than 1 bit can index
        longTable.pixels = QByteArray::fromHex("40000000");
        QTest::newRow("table longer than the depth") << buildBmp(
            longTable) << QList<QList<uint32_t>> { { pal[0].packed(), pal[1].packed() } };

        BmpLayout gap = indexedLayout(2, 1, 8);
        gap.palette = pal;
        gap.coloursUsed = 4;
        gap.pixelOffset = 14 + 40 + 4 * 4 + 8;
        gap.pixels = QByteArray::fromHex("EEEEEEEEEEEEEEEE"
                                         "0302"
                                         "0000");
        QTest::newRow("pixels after a gap")
            << buildBmp(gap) << QList<QList<uint32_t>> { { pal[3].packed(), pal[2].packed() } };
    }
    void tolerated()
    {
        QFETCH(QByteArray, file);
        QFETCH(QList<QList<uint32_t>>, expected);
        DecodedBitmap out;
        decodeBitmap(span(file), out);
        compareDecoded(out, expected);
    }

    void emptyPictures_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("zero bytes") << QByteArray();
        BmpLayout zeroWidth;
        zeroWidth.height = 5;
        QTest::newRow("width 0") << buildBmp(zeroWidth);
        BmpLayout zeroHeight;
        zeroHeight.width = 5;
        QTest::newRow("height 0") << buildBmp(zeroHeight);
    }
    void emptyPictures()
    {
        QFETCH(QByteArray, file);
        DecodedBitmap out;
        out.width = 9; // left over from an earlier picture
        out.height = 9;
        decodeBitmap(span(file), out);
        QCOMPARE(out.width * out.height, 0);
    }

    void refused_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<Thrown::Kind>("kind");
        QTest::addColumn<QString>("text");

        const QByteArray good = buildBmp(indexedLayout(4, 2, 8));
        QTest::newRow("1 byte") << good.left(1) << Thrown::Plain << kStreamReadError;
        QTest::newRow("2 bytes BM") << good.left(2) << Thrown::Plain << kStreamReadError;
        QTest::newRow("13 bytes") << good.left(13) << Thrown::Plain << kStreamReadError;
        QTest::newRow("13 bytes not BM")
            << QByteArray(13, 'x') << Thrown::Plain << kStreamReadError;
        QTest::newRow("file header only") << good.left(14) << Thrown::Plain << kStreamReadError;
        QTest::newRow("info header cut short")
            << good.left(14 + 30) << Thrown::Plain << kStreamReadError;
        QTest::newRow("colour table cut short")
            << good.left(14 + 40 + 255 * 4) << Thrown::Plain << kStreamReadError;

        auto variant = [](auto change) {
            BmpLayout l = indexedLayout(4, 2, 8);
            change(l);
            return buildBmp(l);
        };
        QTest::newRow("signature BA")
            << variant([](BmpLayout &l) { l.signature = "BA"; }) << Thrown::Picture << kNotValid;
        QTest::newRow("signature bm")
            << variant([](BmpLayout &l) { l.signature = "bm"; }) << Thrown::Picture << kNotValid;
        QTest::newRow("planes 0") << variant([](BmpLayout &l) { l.planes = 0; }) << Thrown::Picture
                                  << kNotValid;
        QTest::newRow("planes 2") << variant([](BmpLayout &l) { l.planes = 2; }) << Thrown::Picture
                                  << kNotValid;
        QTest::newRow("core planes 2") << variant([](BmpLayout &l) {
            l.headerSize = 12;
            l.planes = 2;
        }) << Thrown::Picture << kNotValid;
        for (uint32_t size : { 0u, 13u, 39u, 64u, 200u, 0xFFFFFFFFu }) {
            QTest::addRow("header size %u", size)
                << variant([size](BmpLayout &l) { l.headerSize = size; }) << Thrown::Picture
                << kNotValid;
        }
        for (int bits : { 0, 2, 3, 12, 48, 64 }) {
            QTest::addRow("%d bits per pixel", bits)
                << variant([bits](BmpLayout &l) { l.bitCount = uint16_t(bits); }) << Thrown::Picture
                << kNotValid;
        }
        QTest::newRow("core 16 bpp") << variant([](BmpLayout &l) {
            l.headerSize = 12;
            l.bitCount = 16;
        }) << Thrown::Picture << kNotValid;
        for (uint32_t c : { 4u, 5u, 6u, 99u }) {
            QTest::addRow("compression %u", c) << variant([c](BmpLayout &l) { l.compression = c; })
                                               << Thrown::Picture << kNotValid;
        }
        QTest::newRow("RLE8 at 4 bpp") << variant([](BmpLayout &l) {
            l.bitCount = 4;
            l.compression = kRle8;
        }) << Thrown::Picture << kNotValid;
        QTest::newRow("RLE4 at 8 bpp")
            << variant([](BmpLayout &l) { l.compression = kRle4; }) << Thrown::Picture << kNotValid;
        QTest::newRow("RLE8 top-down") << variant([](BmpLayout &l) {
            l.compression = kRle8;
            l.height = -2;
        }) << Thrown::Picture << kNotValid;
        QTest::newRow("negative width")
            << variant([](BmpLayout &l) { l.width = -4; }) << Thrown::Picture << kNotValid;

        auto fields = [](uint16_t bits, std::array<uint32_t, 3> masks, bool after = true) {
            BmpLayout l;
            l.width = 2;
            l.height = 1;
            l.bitCount = bits;
            l.compression = kBitFields;
            l.masks = masks;
            l.masksAfterHeader = after;
            l.pixels = QByteArray(8, '\0');
            return buildBmp(l);
        };
        QTest::newRow("bit fields at 24 bpp")
            << fields(24, { 0xFF0000, 0xFF00, 0xFF }) << Thrown::Picture << kNotValid;
        QTest::newRow("mask with a hole")
            << fields(16, { 0xF00F, 0x07E0, 0x001F }) << Thrown::Picture << kNotValid;
        QTest::newRow("16-bit mask past 16 bits")
            << fields(16, { 0x1F0000, 0x07E0, 0x001F }) << Thrown::Picture << kNotValid;
        QTest::newRow("masks cut short") << fields(16, { 0xF800, 0x07E0, 0x001F }).left(14 + 40 + 6)
                                         << Thrown::Plain << kStreamReadError;

        BmpLayout noPixels = indexedLayout(4, 2, 8);
        noPixels.pixels = noPixels.pixels.left(5);
        QTest::newRow("pixels cut short") << buildBmp(noPixels) << Thrown::Picture << kCutShort;
        BmpLayout far = indexedLayout(4, 2, 8);
        far.pixelOffset = 100000;
        QTest::newRow("pixel offset past the end") << buildBmp(far) << Thrown::Picture << kCutShort;
        BmpLayout noPixels24;
        noPixels24.width = 3;
        noPixels24.height = 3;
        noPixels24.pixels = QByteArray(12 * 2 + 8, '\0');
        QTest::newRow("24 bpp last row short")
            << buildBmp(noPixels24) << Thrown::Picture << kCutShort;

        auto rle = [](uint32_t compression, const char *hex) {
            BmpLayout l = indexedLayout(4, 2, compression == kRle8 ? 8 : 4);
            l.compression = compression;
            l.pixels = QByteArray::fromHex(hex);
            return buildBmp(l);
        };
        QTest::newRow("RLE8 no end mark") << rle(kRle8, "0401") << Thrown::Picture << kCutShort;
        QTest::newRow("RLE8 ends mid-pair") << rle(kRle8, "040100") << Thrown::Picture << kCutShort;
        QTest::newRow("RLE8 absolute cut") << rle(kRle8, "000401") << Thrown::Picture << kCutShort;
        QTest::newRow("RLE8 delta cut") << rle(kRle8, "000201") << Thrown::Picture << kCutShort;
        QTest::newRow("RLE4 absolute cut")
            << rle(kRle4, "00051234") << Thrown::Picture << kCutShort;
        QTest::newRow("RLE4 nothing") << rle(kRle4, "") << Thrown::Picture << kCutShort;

        // A size beyond what the encoder takes is no reason to refuse a bitmap (it can go as a
        // file's bytes), but a header that claims pixels the file does not hold is.
        auto huge = [](int32_t w, int32_t h, uint16_t bits = 24) {
            BmpLayout l;
            l.width = w;
            l.height = h;
            l.bitCount = bits;
            return buildBmp(l);
        };
        QTest::newRow("1000 x 1000") << huge(1000, 1000) << Thrown::Picture << kCutShort;
        // Without the colour table the header asks for.
        QTest::newRow("950082 x 1") << huge(950082, 1, 8) << Thrown::Plain << kStreamReadError;
        QTest::newRow("1 x -950082") << huge(1, -950082, 8) << Thrown::Plain << kStreamReadError;
        QTest::newRow("max x max") << huge(0x7FFFFFFF, 0x7FFFFFFF) << Thrown::Picture << kCutShort;
        QTest::newRow("max x min")
            << huge(0x7FFFFFFF, int32_t(0x80000000)) << Thrown::Picture << kTooLarge;
        QTest::newRow("core 65535 x 65535") << [] {
            BmpLayout l;
            l.headerSize = 12;
            l.width = 65535;
            l.height = 65535;
            return buildBmp(l);
        }() << Thrown::Picture << kCutShort;
        QTest::newRow("RLE8 1000 x 1000, no end mark") << [] {
            BmpLayout l = bareLayout(1000, 1000, 8);
            l.compression = kRle8;
            l.pixels = QByteArray::fromHex("0401");
            return buildBmp(l);
        }() << Thrown::Picture << kCutShort;
    }
    void refused()
    {
        QFETCH(QByteArray, file);
        QFETCH(Thrown::Kind, kind);
        QFETCH(QString, text);
        const Thrown thrown = decodeThrown(file);
        QCOMPARE(thrown.text, text);
        QCOMPARE(thrown.kind, kind);
    }

    // More pixels than the encoder takes: the size is read and the data checked, no pixel is
    // decoded and nothing is allocated for them.
    void oversizedBitmapsGiveTheirSize_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        BmpLayout oneBit = bareLayout(1000, 1000, 1);
        oneBit.pixels = QByteArray(128 * 1000, '\x55');
        QTest::newRow("1 bit, 1000 x 1000") << buildBmp(oneBit) << 1000 << 1000;
        BmpLayout topDown = oneBit;
        topDown.height = -1000;
        QTest::newRow("1 bit, top-down") << buildBmp(topDown) << 1000 << 1000;
        BmpLayout lastRowUnpadded = oneBit;
        lastRowUnpadded.pixels.chop(3);
        QTest::newRow("last row's padding missing") << buildBmp(lastRowUnpadded) << 1000 << 1000;
        BmpLayout rle = bareLayout(2000, 2000, 8);
        rle.compression = kRle8;
        rle.pixels = QByteArray::fromHex("FF01000000020A0A0001");
        QTest::newRow("RLE8 2000 x 2000") << buildBmp(rle) << 2000 << 2000;
    }
    void oversizedBitmapsGiveTheirSize()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, width);
        QFETCH(int, height);
        DecodedBitmap out;
        decodeBitmap(span(file), out);
        QCOMPARE(out.width, width);
        QCOMPARE(out.height, height);
        QCOMPARE(out.pixels.capacity(), std::size_t(0));
    }

    void largestBitmapFitsTheBuffer()
    {
        // 950,081 pixels, the most the payload buffer holds: decoded in full.
        BmpLayout l;
        l.width = 950081;
        l.height = 1;
        l.bitCount = 8;
        l.palette = testPalette(256);
        QList<uint32_t> row(950081);
        for (int x = 0; x < row.size(); ++x)
            row[x] = uint32_t(x % 251);
        l.pixels = packRows({ row }, 8, false);
        DecodedBitmap out;
        decodeBitmap(span(buildBmp(l)), out);
        QCOMPARE(out.width, 950081);
        QCOMPARE(out.pixel(950080, 0), l.palette[950080 % 251].packed());
    }

    // Qt's own reader as a second opinion on the plain 8- and 24-bit layouts.
    void matchesQImage_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("24 bpp bottom-up") << bmp24(17, 9, colourAt);
        QList<QList<uint32_t>> rows;
        for (int y = 0; y < 6; ++y) {
            QList<uint32_t> row;
            for (int x = 0; x < 11; ++x)
                row.append(colourAt(x, y).packed());
            rows.append(row);
        }
        BmpLayout topDown;
        topDown.width = 11;
        topDown.height = -6;
        topDown.pixels = packRows(rows, 24, true);
        QTest::newRow("24 bpp top-down") << buildBmp(topDown);

        QList<QList<uint32_t>> indices;
        for (int y = 0; y < 7; ++y) {
            QList<uint32_t> row;
            for (int x = 0; x < 10; ++x)
                row.append(uint32_t(x * 31 + y * 17) & 0xFF);
            indices.append(row);
        }
        BmpLayout indexed = indexedLayout(10, 7, 8);
        indexed.pixels = packRows(indices, 8, false);
        QTest::newRow("8 bpp bottom-up") << buildBmp(indexed);
        indexed.headerSize = 124;
        QTest::newRow("8 bpp V5") << buildBmp(indexed);
    }
    void matchesQImage()
    {
        QFETCH(QByteArray, file);
        QImage reference;
        QVERIFY(reference.loadFromData(file, "BMP"));
        DecodedBitmap out;
        decodeBitmap(span(file), out);
        QCOMPARE(out.width, reference.width());
        QCOMPARE(out.height, reference.height());
        for (int y = 0; y < out.height; ++y)
            for (int x = 0; x < out.width; ++x)
                QCOMPARE(out.pixel(x, y), uint32_t(reference.pixel(x, y) & 0xFFFFFF));
    }
};

QTEST_GUILESS_MAIN(TestBitmapDecoder)
#include "tst_bitmapdecoder.moc"
