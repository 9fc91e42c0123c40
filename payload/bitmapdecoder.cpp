#include "payload/payload.h"
#include "payload/pixelformat.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>

namespace ormelin {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr int64_t kMaxPixels = kPayloadBufferSize / 2;

constexpr uint32_t kRgb = 0;
constexpr uint32_t kRle8 = 1;
constexpr uint32_t kRle4 = 2;
constexpr uint32_t kBitFields = 3;

[[noreturn]] void notValid()
{
    throw PictureError(QStringLiteral("Bitmap image is not valid"));
}

[[noreturn]] void streamReadError()
{
    throw Failure(QStringLiteral("Stream read error"));
}

[[noreturn]] void pixelsCutShort()
{
    throw PictureError(QStringLiteral("Bitmap pixel data is cut short"));
}

uint16_t u16At(const uint8_t *p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

uint32_t u32At(const uint8_t *p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// expandBits[n][v]: an n-bit channel value widened to 8 bits by repeating its bits, so that the
// upper bits stay the stored ones and full scale stays full scale (31 -> 255, 63 -> 255).
constexpr auto kExpandBits = [] {
    std::array<std::array<uint8_t, 256>, 9> table {};
    for (int n = 1; n <= 8; ++n) {
        for (uint32_t v = 0; v < (1u << n); ++v) {
            uint32_t wide = 0;
            for (int pos = 8 - n; pos > -n; pos -= n)
                wide |= pos >= 0 ? v << pos : v >> -pos;
            table[n][v] = uint8_t(wide & 0xFF);
        }
    }
    return table;
}();

// One colour channel of a 16- or 32-bit pixel, given by its mask.
struct Channel
{
    uint32_t mask = 0;
    int shift = 0;
    int bits = 0; // of the stored value, at most 8 after trimming the low ones
    int trim = 0; // low bits dropped from masks wider than 8 bits

    static Channel fromMask(uint32_t mask)
    {
        Channel c;
        c.mask = mask;
        if (mask == 0)
            return c;
        c.shift = std::countr_zero(mask);
        const uint32_t bits = mask >> c.shift;
        if ((bits & (bits + 1)) != 0) // not one run of ones
            notValid();
        c.bits = std::popcount(bits);
        if (c.bits > 8) {
            c.trim = c.bits - 8;
            c.bits = 8;
        }
        return c;
    }
    uint32_t operator()(uint32_t pixel) const
    {
        if (bits == 0)
            return 0;
        return kExpandBits[bits][((pixel & mask) >> shift) >> trim];
    }
};

struct Header
{
    int64_t width = 0;
    int64_t height = 0;
    bool topDown = false;
    int bitCount = 0;
    uint32_t compression = kRgb;
    uint32_t coloursUsed = 0;
    int paletteEntrySize = 4;
    uint32_t masks[3] = { 0, 0, 0 }; // red, green, blue
};

class BitmapDecoder
{
public:
    BitmapDecoder(std::span<const uint8_t> file, DecodedBitmap &out)
        : m_file(file)
        , m_out(out)
    {
    }

    void decode()
    {
        m_out.width = 0;
        m_out.height = 0;
        if (m_file.empty())
            return;
        if (m_file.size() < kFileHeaderSize)
            streamReadError();
        if (m_file[0] != 'B' || m_file[1] != 'M')
            notValid();
        const uint32_t pixelOffset = u32At(m_file.data() + 10);
        m_pos = kFileHeaderSize;
        readHeader();
        if (m_header.width == 0 || m_header.height == 0)
            return;
        // A height of -2^31 turned round is no size at all.
        if (m_header.height > std::numeric_limits<int32_t>::max())
            throw PictureError(QStringLiteral("Bitmap image is too large"));
        readPalette();

        // An offset into the headers is a writer that left it unset: the pixels follow the table.
        std::size_t start = std::max<std::size_t>(pixelOffset, m_pos);
        if (start > m_file.size())
            pixelsCutShort();

        // More pixels than the encoder could ever put into the payload buffer: such a bitmap can
        // still go as a file's bytes, so its pixels are checked but not decoded (nothing is
        // allocated for them), and the encoder refuses it.
        const bool decodePixels = m_header.width * m_header.height <= kMaxPixels;
        uint32_t *pixels = decodePixels
            ? m_out.pixels.ensure(std::size_t(m_header.width * m_header.height))
            : nullptr;
        if (m_header.compression == kRle8 || m_header.compression == kRle4)
            decodeRunLength(start, pixels);
        else
            decodeRows(start, pixels);
        m_out.width = int(m_header.width);
        m_out.height = int(m_header.height);
    }

private:
    const uint8_t *take(std::size_t count)
    {
        if (count > m_file.size() - m_pos)
            streamReadError();
        const uint8_t *p = m_file.data() + m_pos;
        m_pos += count;
        return p;
    }

    void readHeader()
    {
        const uint32_t headerSize = u32At(take(4));
        switch (headerSize) {
        case 12: // BITMAPCOREHEADER
        case 40: // BITMAPINFOHEADER
        case 52: // ... with colour masks
        case 56: // ... and an alpha mask
        case 108: // BITMAPV4HEADER
        case 124: // BITMAPV5HEADER
            break;
        default:
            notValid();
        }
        const uint8_t *h = take(headerSize - 4) - 4;
        Header &hd = m_header;
        int planes = 0;
        if (headerSize == 12) {
            hd.width = u16At(h + 4);
            hd.height = u16At(h + 6);
            planes = u16At(h + 8);
            hd.bitCount = u16At(h + 10);
            hd.paletteEntrySize = 3;
        } else {
            hd.width = int32_t(u32At(h + 4));
            hd.height = int32_t(u32At(h + 8));
            planes = u16At(h + 12);
            hd.bitCount = u16At(h + 14);
            hd.compression = u32At(h + 16);
            hd.coloursUsed = u32At(h + 32);
            if (headerSize >= 52) {
                for (int i = 0; i < 3; ++i)
                    hd.masks[i] = u32At(h + 40 + 4 * i);
            }
        }
        if (planes != 1 || hd.width < 0)
            notValid();
        if (hd.height < 0) {
            hd.topDown = true;
            hd.height = -hd.height;
        }

        switch (hd.bitCount) {
        case 1:
        case 4:
        case 8:
        case 24:
            break;
        case 16:
        case 32:
            if (headerSize == 12)
                notValid();
            break;
        default:
            notValid();
        }

        switch (hd.compression) {
        case kRgb:
            if (hd.bitCount == 16) {
                hd.masks[0] = 0x7C00;
                hd.masks[1] = 0x03E0;
                hd.masks[2] = 0x001F;
            } else if (hd.bitCount == 32) {
                hd.masks[0] = 0x00FF0000;
                hd.masks[1] = 0x0000FF00;
                hd.masks[2] = 0x000000FF;
            }
            break;
        case kRle8:
        case kRle4:
            // Run-length pixels are always stored bottom-up.
            if (hd.bitCount != (hd.compression == kRle8 ? 8 : 4) || hd.topDown)
                notValid();
            break;
        case kBitFields:
            if (hd.bitCount != 16 && hd.bitCount != 32)
                notValid();
            if (headerSize == 40) {
                const uint8_t *m = take(12);
                for (int i = 0; i < 3; ++i)
                    hd.masks[i] = u32At(m + 4 * i);
            }
            if (hd.bitCount == 16 && ((hd.masks[0] | hd.masks[1] | hd.masks[2]) >> 16) != 0)
                notValid();
            break;
        default:
            notValid();
        }
        if (hd.bitCount >= 16) {
            for (int i = 0; i < 3; ++i)
                m_channels[i] = Channel::fromMask(hd.masks[i]);
        }
    }

    void readPalette()
    {
        if (m_header.bitCount > 8)
            return;
        const uint32_t full = 1u << m_header.bitCount;
        const uint32_t entries
            = m_header.coloursUsed != 0 ? std::min(m_header.coloursUsed, full) : full;
        const int entrySize = m_header.paletteEntrySize;
        const uint8_t *table = take(std::size_t(entries) * entrySize);
        for (uint32_t i = 0; i < entries; ++i) {
            const uint8_t *e = table + i * entrySize;
            m_palette[i] = packRgb(e[2], e[1], e[0]);
        }
    }

    void decodeRows(std::size_t start, uint32_t *pixels)
    {
        const int64_t width = m_header.width;
        const int64_t height = m_header.height;
        const int bitCount = m_header.bitCount;
        const std::size_t stride = std::size_t((width * bitCount + 31) / 32 * 4);
        const std::size_t lastRow = std::size_t((width * bitCount + 7) / 8);
        // The last row's padding may be missing; its pixels may not. Divided rather than
        // multiplied: a header may claim more bytes than 64 bits count.
        const std::size_t available = m_file.size() - start;
        if (lastRow > available
            || (height > 1 && stride > (available - lastRow) / std::size_t(height - 1)))
            pixelsCutShort();
        if (!pixels)
            return;

        const std::size_t w = std::size_t(width);
        for (int64_t y = 0; y < height; ++y) {
            const int64_t fileRow = m_header.topDown ? y : height - 1 - y;
            const uint8_t *src = m_file.data() + start + std::size_t(fileRow) * stride;
            uint32_t *dst = pixels + std::size_t(y) * w;
            switch (bitCount) {
            case 1:
                for (std::size_t x = 0; x < w; ++x)
                    dst[x] = m_palette[(src[x >> 3] >> (7 - (x & 7))) & 1];
                break;
            case 4:
                for (std::size_t x = 0; x < w; ++x)
                    dst[x] = m_palette[(src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F];
                break;
            case 8:
                for (std::size_t x = 0; x < w; ++x)
                    dst[x] = m_palette[src[x]];
                break;
            case 16:
                for (std::size_t x = 0; x < w; ++x)
                    dst[x] = maskedColour(u16At(src + 2 * x));
                break;
            case 24:
                for (std::size_t x = 0; x < w; ++x, src += 3)
                    dst[x] = packRgb(src[2], src[1], src[0]);
                break;
            case 32:
                if (isPlainRgb32()) {
                    // The fourth byte carries no colour.
                    for (std::size_t x = 0; x < w; ++x)
                        dst[x] = u32At(src + 4 * x) & 0x00FFFFFF;
                } else {
                    for (std::size_t x = 0; x < w; ++x)
                        dst[x] = maskedColour(u32At(src + 4 * x));
                }
                break;
            }
        }
    }

    bool isPlainRgb32() const
    {
        return m_header.masks[0] == 0x00FF0000 && m_header.masks[1] == 0x0000FF00
            && m_header.masks[2] == 0x000000FF;
    }

    uint32_t maskedColour(uint32_t pixel) const
    {
        return packRgb(m_channels[0](pixel), m_channels[1](pixel), m_channels[2](pixel));
    }

    // Runs are clipped at the right edge; pixels no run reaches keep colour index 0. Running out
    // of data before the end-of-bitmap mark (or before the last row is done) is a cut-short file.
    void decodeRunLength(std::size_t pos, uint32_t *pixels)
    {
        const bool rle8 = m_header.compression == kRle8;
        const int64_t width = m_header.width;
        const int64_t height = m_header.height;
        const std::size_t end = m_file.size();
        const uint8_t *data = m_file.data();
        // Without pixels to fill, the runs are only followed, to find the data whole.
        if (pixels)
            std::fill(pixels, pixels + std::size_t(width * height), m_palette[0]);

        int64_t x = 0;
        int64_t y = 0; // counted from the bottom row, as stored
        auto row = [&] { return pixels + std::size_t(height - 1 - y) * std::size_t(width); };

        while (y < height) {
            if (end - pos < 2)
                pixelsCutShort();
            const uint8_t count = data[pos];
            const uint8_t value = data[pos + 1];
            pos += 2;
            if (count > 0 && !pixels) {
                x = std::min<int64_t>(x + count, width);
                continue;
            }
            if (count > 0) {
                const int64_t n = std::min<int64_t>(count, width - x);
                uint32_t *dst = row() + x;
                if (rle8) {
                    std::fill(dst, dst + n, m_palette[value]);
                } else {
                    const uint32_t pair[2] = { m_palette[value >> 4], m_palette[value & 0x0F] };
                    for (int64_t i = 0; i < n; ++i)
                        dst[i] = pair[i & 1];
                }
                x = std::min<int64_t>(x + count, width);
                continue;
            }
            switch (value) {
            case 0: // end of line
                x = 0;
                ++y;
                break;
            case 1: // end of bitmap
                return;
            case 2: // delta
                if (end - pos < 2)
                    pixelsCutShort();
                x = std::min<int64_t>(x + data[pos], width);
                y = std::min<int64_t>(y + data[pos + 1], height);
                pos += 2;
                break;
            default: { // absolute run of `value` pixels, padded to a 16-bit boundary
                const std::size_t bytes = rle8 ? value : (value + 1u) / 2;
                if (end - pos < bytes)
                    pixelsCutShort();
                const uint8_t *src = data + pos;
                const int64_t n = pixels ? std::min<int64_t>(value, width - x) : 0;
                uint32_t *dst = pixels ? row() + x : nullptr;
                for (int64_t i = 0; i < n; ++i)
                    dst[i] = rle8 ? m_palette[src[i]]
                                  : m_palette[(src[i >> 1] >> ((i & 1) ? 0 : 4)) & 0x0F];
                x = std::min<int64_t>(x + value, width);
                pos += std::min(bytes + (bytes & 1), end - pos);
                break;
            }
            }
        }
    }

    std::span<const uint8_t> m_file;
    DecodedBitmap &m_out;
    std::size_t m_pos = 0;
    Header m_header;
    Channel m_channels[3];
    std::array<uint32_t, 256> m_palette {}; // indices past a short table stay black
};

} // namespace

void decodeBitmap(std::span<const uint8_t> file, DecodedBitmap &out)
{
    BitmapDecoder(file, out).decode();
}

} // namespace ormelin
