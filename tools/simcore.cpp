#include "tools/simcore.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace tarviks {
namespace {

constexpr uint8_t kLead = 0xAA;
constexpr uint8_t kReplyStart = 0xFF;
constexpr std::size_t kFillerSize = 12;
constexpr std::size_t kMaxSampleText = 255;

enum Code : uint8_t {
    kCheck = 0x0B,
    kImage = 0x31,
    kFont = 0x41,
    kScript = 0x58,
    kErase = 0xD5,
    kOutImage = 0x30,
    kOutScript = 0x5A,
    kSample1 = 0x40,
    kSample2 = 0x3A,
    kSample3 = 0x49
};

// "Удалить объекты" as the controller's firmware expects it, in Windows-1251.
constexpr std::array<uint8_t, 15> kEraseText
    = { 0xD3, 0xE4, 0xE0, 0xEB, 0xE8, 0xF2, 0xFC, 0x20, 0xEE, 0xE1, 0xFA, 0xE5, 0xEA, 0xF2, 0xFB };

// Length of a frame with a two-byte lead, from its code; 0 for a code that has none.
std::size_t frameLength(uint8_t code)
{
    switch (code) {
    case kCheck:
        return 4;
    case kImage:
        return 14;
    case kFont:
        return 12;
    case kScript:
        return 9;
    case kErase:
        return 19;
    case kOutImage:
    case kOutScript:
        return 10;
    case kSample1:
        return 6;
    default:
        return 0;
    }
}

struct Scan
{
    enum Result { NeedMore, Skip, Frame } result;
    std::size_t length;
};

// Looks at the start of the pending bytes: a whole frame, bytes that cannot begin one, or too
// few bytes to tell. Checks run as early as the bytes allow, so a wrong lead is skipped at once.
Scan scan(const std::vector<uint8_t> &p)
{
    if (p[0] != kLead) {
        const auto next = std::find(p.begin() + 1, p.end(), kLead);
        return { Scan::Skip, std::size_t(next - p.begin()) };
    }
    if (p.size() < 2)
        return { Scan::NeedMore, 0 };
    switch (p[1]) {
    case kLead: {
        if (p.size() < 3)
            return { Scan::NeedMore, 0 };
        const std::size_t len = frameLength(p[2]);
        if (len == 0)
            return { Scan::Skip, 1 };
        if (p.size() < len)
            return { Scan::NeedMore, 0 };
        return p[len - 1] == p[2] ? Scan { Scan::Frame, len } : Scan { Scan::Skip, 1 };
    }
    case kSample2:
        if (p.size() < 7)
            return { Scan::NeedMore, 0 };
        return p[6] == kSample2 ? Scan { Scan::Frame, 7 } : Scan { Scan::Skip, 1 };
    case kSample3: {
        if (p.size() < 3)
            return { Scan::NeedMore, 0 };
        if (p[2] != kSample3)
            return { Scan::Skip, 1 };
        const auto end = std::find(p.begin() + 3, p.end(), uint8_t(0));
        if (end != p.end())
            return { Scan::Frame, std::size_t(end - p.begin()) + 1 };
        return p.size() - 3 > kMaxSampleText ? Scan { Scan::Skip, 1 } : Scan { Scan::NeedMore, 0 };
    }
    case 0x00: {
        const std::size_t seen = std::min(p.size(), kFillerSize);
        if (std::any_of(
                p.begin() + 1, p.begin() + std::ptrdiff_t(seen), [](uint8_t b) { return b != 0; }))
            return { Scan::Skip, 1 };
        return p.size() < kFillerSize ? Scan { Scan::NeedMore, 0 }
                                      : Scan { Scan::Frame, kFillerSize };
    }
    default:
        return { Scan::Skip, 1 };
    }
}

int u16(const std::vector<uint8_t> &f, std::size_t i)
{
    return int(f[i]) | int(f[i + 1]) << 8;
}

uint32_t u24(const std::vector<uint8_t> &f, std::size_t i)
{
    return uint32_t(f[i]) | uint32_t(f[i + 1]) << 8 | uint32_t(f[i + 2]) << 16;
}

std::vector<uint8_t> reply(std::initializer_list<uint8_t> head)
{
    std::vector<uint8_t> r(head);
    r.resize(kReplySize, 0);
    return r;
}

std::string crcText(uint32_t crc)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08x", crc);
    return text;
}

// The decimal number at the end of a font-sample text ("... 12"), or "-".
std::string trailingNumber(const uint8_t *text, std::size_t len)
{
    std::size_t start = len;
    while (start > 0 && text[start - 1] >= '0' && text[start - 1] <= '9')
        --start;
    if (start == len)
        return "-";
    if (start > 0 && text[start - 1] == '-')
        --start;
    return std::string(reinterpret_cast<const char *>(text) + start, len - start);
}

} // namespace

int StoredObject::listType() const
{
    switch (code) {
    case kImage:
        return kind == 7 ? 0 : kind == 0 ? 1 : -1;
    case kFont:
        return kind == 3 ? 2 : kind == 0 ? 3 : -1;
    case kScript:
        return 4;
    default:
        return -1;
    }
}

Simulator::Simulator(SimConfig config)
    : m_config(config)
{
}

std::vector<Event> Simulator::feed(const uint8_t *bytes, std::size_t count)
{
    std::vector<Event> out;
    while (count > 0) {
        if (m_payloadActive) {
            takePayload(bytes, count, out);
            continue;
        }
        // One byte at a time outside payloads: a frame is at most a few hundred bytes, and this
        // keeps the decoder's view identical however the bytes were grouped on the line.
        m_pending.push_back(*bytes++);
        --count;
        drainPending(out);
    }
    flushGarbage(out);
    return out;
}

void Simulator::drainPending(std::vector<Event> &out)
{
    while (!m_pending.empty()) {
        if (m_payloadActive) {
            // Bytes left behind an upload frame found while resynchronising are its payload.
            const uint8_t *p = m_pending.data();
            std::size_t n = m_pending.size();
            std::vector<uint8_t> rest;
            takePayload(p, n, out);
            rest.assign(p, p + n);
            m_pending.swap(rest);
            continue;
        }
        const Scan s = scan(m_pending);
        if (s.result == Scan::NeedMore)
            return;
        if (s.result == Scan::Skip) {
            m_garbage.insert(
                m_garbage.end(), m_pending.begin(), m_pending.begin() + std::ptrdiff_t(s.length));
            m_pending.erase(m_pending.begin(), m_pending.begin() + std::ptrdiff_t(s.length));
            continue;
        }
        flushGarbage(out);
        std::vector<uint8_t> frame(m_pending.begin(), m_pending.begin() + std::ptrdiff_t(s.length));
        m_pending.erase(m_pending.begin(), m_pending.begin() + std::ptrdiff_t(s.length));
        out.push_back(decodeFrame(frame));
        if (m_payloadActive && m_upload.size == 0)
            out.push_back(finishUpload());
    }
}

void Simulator::takePayload(const uint8_t *&bytes, std::size_t &count, std::vector<Event> &out)
{
    const std::size_t missing = m_upload.size - m_upload.bytes.size();
    const std::size_t take = std::min(missing, count);
    m_upload.bytes.insert(m_upload.bytes.end(), bytes, bytes + take);
    bytes += take;
    count -= take;
    if (m_upload.bytes.size() == m_upload.size)
        out.push_back(finishUpload());
}

void Simulator::flushGarbage(std::vector<Event> &out)
{
    if (m_garbage.empty())
        return;
    Event e;
    e.kind = Event::Kind::Garbage;
    e.name = "garbage";
    e.line = "garbage hex=" + hexText(m_garbage);
    e.bytes.swap(m_garbage);
    out.push_back(std::move(e));
}

Event Simulator::decodeFrame(const std::vector<uint8_t> &f)
{
    Event e;
    e.bytes = f;
    std::ostringstream fields;
    const auto storedFlag
        = [this](int n) { return n < kTableSize && m_table[std::size_t(n)] ? 1 : 0; };

    if (f[1] == 0x00) {
        e.kind = Event::Kind::Filler;
        e.name = "filler";
        e.line = "filler";
        e.completesCommand = true;
        return e;
    }
    e.completesCommand = true;
    if (f[1] == kSample2) {
        e.name = "font-sample-2";
        fields << " arg1=" << u16(f, 2) << " arg2=" << u16(f, 4);
    } else if (f[1] == kSample3) {
        e.name = "font-sample-3";
        const std::size_t textLen = f.size() - 4;
        fields << " text=" << hexText(f.data() + 3, textLen)
               << " number=" << trailingNumber(f.data() + 3, textLen);
    } else {
        const int number = f.size() >= 5 ? u16(f, 3) : 0;
        switch (f[2]) {
        case kCheck:
            e.name = "connection-check";
            e.reply = m_config.shifted
                ? reply({ kReplyStart, kReplyStart, uint8_t(m_config.firstDimension),
                    uint8_t(m_config.firstDimension >> 8), uint8_t(m_config.secondDimension),
                    uint8_t(m_config.secondDimension >> 8) })
                : reply({ kReplyStart, uint8_t(m_config.firstDimension),
                    uint8_t(m_config.firstDimension >> 8), uint8_t(m_config.secondDimension),
                    uint8_t(m_config.secondDimension >> 8) });
            break;
        case kImage:
            e.name = "image-upload";
            m_upload = { kImage, number, f[9], u16(f, 5), u16(f, 7), u24(f, 10), {} };
            fields << " number=" << number << " width=" << m_upload.width
                   << " height=" << m_upload.height << " kind=" << int(m_upload.kind)
                   << " size=" << m_upload.size;
            break;
        case kFont:
            e.name = "font-upload";
            m_upload = { kFont, number, f[5], int(f[9]), int(f[10]), u24(f, 6), {} };
            fields << " number=" << number << " format=" << int(m_upload.kind)
                   << " size=" << m_upload.size << " char-width=" << m_upload.width
                   << " char-height=" << m_upload.height;
            break;
        case kScript:
            e.name = "script-upload";
            m_upload = { kScript, number, 0, 0, 0, u24(f, 5), {} };
            fields << " number=" << number << " size=" << m_upload.size;
            break;
        case kErase: {
            e.name = "erase";
            const bool textOk = std::equal(kEraseText.begin(), kEraseText.end(), f.begin() + 3);
            const char *result = "ignored";
            if (textOk && m_config.writeProtected) {
                result = "refused";
                e.reply = reply({ kReplyStart, 0xFF });
            } else if (textOk) {
                result = "erased";
                for (auto &slot : m_table)
                    slot.reset();
                m_storedBytes = 0;
                e.tableCleared = true;
                e.reply = reply({ kReplyStart, 0xAA });
            }
            fields << " text-ok=" << (textOk ? 1 : 0) << " result=" << result;
            break;
        }
        case kOutImage:
        case kOutScript:
            e.name = f[2] == kOutImage ? "output-image" : "output-script";
            fields << " number=" << number << " arg1=" << u16(f, 5) << " arg2=" << u16(f, 7)
                   << " stored=" << storedFlag(number);
            break;
        case kSample1:
            e.name = "font-sample-1";
            fields << " number=" << number << " stored=" << storedFlag(number);
            break;
        }
        if (f[2] == kImage || f[2] == kFont || f[2] == kScript) {
            m_upload.bytes.reserve(std::min<std::size_t>(m_upload.size, 1u << 16));
            m_payloadActive = true;
            e.completesCommand = false;
        }
    }
    e.line = "frame " + e.name + fields.str() + " hex=" + hexText(f);
    return e;
}

Event Simulator::finishUpload()
{
    m_payloadActive = false;
    Upload u = std::move(m_upload);
    m_upload = {};

    Event e;
    e.kind = Event::Kind::Payload;
    e.name = "payload";
    e.completesCommand = true;
    const uint32_t crc = crc32(u.bytes.data(), u.bytes.size());

    const char *result = "stored";
    if (u.number >= kTableSize) {
        result = "refused-number";
    } else if (m_config.writeProtected) {
        result = "refused-protected";
    } else {
        auto &slot = m_table[std::size_t(u.number)];
        const uint64_t replaced = slot ? slot->bytes.size() : 0;
        const uint64_t total = m_storedBytes - replaced + u.bytes.size();
        if (m_config.capacity && total > *m_config.capacity) {
            result = "refused-capacity";
        } else {
            m_storedBytes = total;
            slot = std::make_shared<const StoredObject>(
                StoredObject { u.code, u.kind, u.width, u.height, std::move(u.bytes), crc });
            e.stored = u.number;
            e.object = slot;
        }
    }
    e.reply
        = e.stored >= 0 ? reply({ kReplyStart, 0x00, 0x00 }) : reply({ kReplyStart, 0xFF, 0xFF });

    char code[3];
    std::snprintf(code, sizeof code, "%02x", u.code);
    std::ostringstream line;
    line << "payload code=" << code << " number=" << u.number << " size=" << u.size
         << " crc32=" << crcText(crc) << " result=" << result;
    e.line = line.str();
    return e;
}

std::optional<Event> Simulator::abandonPartial()
{
    if (!midFrame())
        return std::nullopt;
    Event e;
    e.kind = Event::Kind::Abandoned;
    e.name = "abandoned";
    e.bytes = m_pending;
    std::ostringstream line;
    line << "abandoned hex=" << hexText(m_pending);
    if (m_payloadActive)
        line << " payload=" << m_upload.bytes.size() << '/' << m_upload.size;
    e.line = line.str();
    m_pending.clear();
    m_payloadActive = false;
    m_upload = {};
    return e;
}

const StoredObject *Simulator::object(int number) const
{
    return number >= 0 && number < kTableSize ? m_table[std::size_t(number)].get() : nullptr;
}

int Simulator::objectCount() const
{
    return int(
        std::count_if(m_table.begin(), m_table.end(), [](const auto &s) { return s != nullptr; }));
}

std::string Simulator::tableText() const
{
    std::ostringstream text;
    text << "# number type code kind width height size crc32\n";
    for (int n = 0; n < kTableSize; ++n) {
        const auto &o = m_table[std::size_t(n)];
        if (!o)
            continue;
        char code[3];
        std::snprintf(code, sizeof code, "%02x", o->code);
        text << n << ' ' << o->listType() << ' ' << code << ' ' << int(o->kind) << ' ' << o->width
             << ' ' << o->height << ' ' << o->bytes.size() << ' ' << crcText(o->crc) << '\n';
    }
    return text.str();
}

uint32_t crc32(const uint8_t *bytes, std::size_t count)
{
    static const auto table = [] {
        std::array<uint32_t, 256> t {};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < count; ++i)
        crc = table[(crc ^ bytes[i]) & 0xFFu] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::string hexText(const uint8_t *bytes, std::size_t count)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0x0F]);
    }
    return text;
}

std::vector<uint8_t> pixelsToRgb(const std::vector<uint8_t> &payload, int width, int height)
{
    if (width <= 0 || height <= 0 || payload.size() != std::size_t(width) * std::size_t(height) * 2)
        return {};
    // Five bits back to eight, repeating the top bits so that full scale stays full scale.
    const auto widen = [](unsigned v) { return uint8_t(v << 3 | v >> 2); };
    std::vector<uint8_t> rgb;
    rgb.reserve(std::size_t(width) * std::size_t(height) * 3);
    for (std::size_t i = 0; i + 1 < payload.size(); i += 2) {
        const unsigned px = unsigned(payload[i]) | unsigned(payload[i + 1]) << 8;
        rgb.push_back(widen(px & 0x1F));
        rgb.push_back(widen((px >> 5) & 0x1F));
        rgb.push_back(widen((px >> 10) & 0x1F));
    }
    return rgb;
}

} // namespace tarviks
