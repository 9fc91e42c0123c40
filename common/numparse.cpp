#include "common/numparse.h"

namespace ormelin {
namespace {

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

bool isDecimal(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

std::optional<std::int32_t> parseHex(QStringView digits)
{
    if (digits.isEmpty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (QChar c : digits) {
        const int d = hexDigit(c);
        if (d < 0)
            return std::nullopt;
        value = value * 16 + std::uint64_t(d);
        if (value > 0xFFFFFFFFull)
            return std::nullopt;
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

std::optional<std::int32_t> parseDecimal(QStringView digits, bool negative)
{
    if (digits.isEmpty())
        return std::nullopt;
    const std::uint64_t limit = negative ? 2147483648ull : 2147483647ull;
    std::uint64_t value = 0;
    for (QChar c : digits) {
        if (!isDecimal(c))
            return std::nullopt;
        value = value * 10 + std::uint64_t(c.unicode() - u'0');
        if (value > limit)
            return std::nullopt;
    }
    const std::int64_t signedValue = negative ? -std::int64_t(value) : std::int64_t(value);
    return static_cast<std::int32_t>(signedValue);
}

} // namespace

std::optional<std::int32_t> parseNumber(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    const QStringView rest = text.mid(i);
    if (rest.isEmpty())
        return std::nullopt;

    const QChar first = rest[0];
    if (first == u'+' || first == u'-')
        return parseDecimal(rest.mid(1), first == u'-');
    if (first == u'$' || first == u'x' || first == u'X')
        return parseHex(rest.mid(1));
    if (rest.size() >= 2 && first == u'0' && (rest[1] == u'x' || rest[1] == u'X'))
        return parseHex(rest.mid(2));
    return parseDecimal(rest, false);
}

} // namespace ormelin
