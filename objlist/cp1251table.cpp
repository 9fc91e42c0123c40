#include "objlist/cp1251table.h"

#include "common/cp1251.h"

#include <array>
#include <cstdint>
#include <memory>

namespace ormelin::cp1251table {
namespace {

struct Tables
{
    std::array<char16_t, 256> toUnicode {};
    // Per UTF-16 unit: kMapped | the byte, or 0 for none. The flag keeps U+0000 apart from
    // "none" and lets a whole line be checked once, after a loop without branches.
    static constexpr std::uint16_t kMapped = 0x100;
    std::array<std::uint16_t, 65536> fromUnicode {};
};

// Null when the converter is missing or does not map bytes one to one with ASCII below 0x80;
// every conversion then goes through the converter.
const Tables *tables()
{
    static const std::unique_ptr<Tables> built = []() -> std::unique_ptr<Tables> {
        QByteArray all(256, Qt::Uninitialized);
        for (int b = 0; b < 256; ++b)
            all[b] = char(b);
        const QString text = fromCp1251(all);
        if (text.size() != 256 || toCp1251(text) != std::optional<QByteArray>(all))
            return nullptr;
        auto t = std::make_unique<Tables>();
        for (int b = 0; b < 256; ++b) {
            const char16_t u = text[b].unicode();
            if ((b < 0x80) != (u < 0x80) || (b < 0x80 && u != b))
                return nullptr;
            t->toUnicode[size_t(b)] = u;
            t->fromUnicode[u] = std::uint16_t(Tables::kMapped | b);
        }
        return t;
    }();
    return built.get();
}

} // namespace

QString decodeLine(QByteArrayView bytes)
{
    // Nearly every line ends in the CR of its CR LF and holds no other.
    if (!bytes.isEmpty() && bytes.back() == '\r')
        bytes.chop(1);
    if (bytes.isEmpty())
        return QString();
    const Tables *t = tables();
    if (!t || bytes.contains('\r')) {
        QString text = fromCp1251(bytes);
        text.remove(u'\r');
        return text;
    }
    QString text(bytes.size(), Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(text.data());
    for (const char c : bytes)
        *out++ = t->toUnicode[std::uint8_t(c)];
    return text;
}

bool bytesRoundTrip()
{
    return tables() != nullptr;
}

bool encodeInto(char *out, QStringView text)
{
    const Tables *t = tables();
    if (!t)
        return false;
    std::uint16_t mapped = Tables::kMapped;
    for (const QChar c : text) {
        const std::uint16_t v = t->fromUnicode[c.unicode()];
        mapped &= v;
        *out++ = char(v);
    }
    return mapped != 0;
}

bool appendEncoded(QByteArray &out, QStringView text)
{
    const qsizetype start = out.size();
    out.resize(start + text.size());
    if (encodeInto(out.data() + start, text))
        return true;
    out.truncate(start);
    // Not in the table: the converter decides, as it does everywhere else.
    const std::optional<QByteArray> bytes = toCp1251(text);
    if (!bytes)
        return false;
    out += *bytes;
    return true;
}

} // namespace ormelin::cp1251table
