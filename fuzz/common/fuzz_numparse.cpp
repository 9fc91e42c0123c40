// Number parsing against a second, deliberately plain reading of the same rule (std::from_chars
// on the digits), on texts made of the characters that matter plus arbitrary UTF-16.
#include "common/numparse.h"

#include <QString>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

std::optional<int32_t> reference(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    const QString rest = text.mid(i);
    for (QChar c : rest) {
        if (c.unicode() > 0x7F)
            return std::nullopt;
    }
    const std::string s = rest.toStdString();
    if (s.empty())
        return std::nullopt;
    auto hex = [](const std::string &digits) -> std::optional<int32_t> {
        if (digits.empty() || digits[0] == '+' || digits[0] == '-')
            return std::nullopt;
        uint64_t v = 0;
        auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v, 16);
        if (ec != std::errc() || end != digits.data() + digits.size() || v > 0xFFFFFFFFull)
            return std::nullopt;
        return int32_t(uint32_t(v));
    };
    if (s[0] == '$' || s[0] == 'x' || s[0] == 'X')
        return hex(s.substr(1));
    if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        return hex(s.substr(2));
    std::string digits = s;
    bool negative = false;
    if (digits[0] == '+' || digits[0] == '-') {
        negative = digits[0] == '-';
        digits.erase(0, 1);
    }
    if (digits.empty() || digits[0] == '+' || digits[0] == '-')
        return std::nullopt;
    // from_chars would take a sign of its own; the rule allows one only.
    uint64_t v = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v, 10);
    if (ec != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    if (v > (negative ? 2147483648ull : 2147483647ull))
        return std::nullopt;
    return int32_t(negative ? -int64_t(v) : int64_t(v));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Bytes below 0x80 stand for themselves so the fuzzer finds the rule's characters quickly;
    // a byte with the high bit set brings in the next two bytes as an arbitrary UTF-16 unit.
    QString text;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] < 0x80 || i + 2 >= size) {
            text.append(QChar(char16_t(data[i] & 0x7F)));
        } else {
            text.append(QChar(char16_t(data[i + 1] | (data[i + 2] << 8))));
            i += 2;
        }
    }
    const auto got = ormelin::parseNumber(text);
    const auto want = reference(text);
    if (got != want)
        std::abort();
    if (got) {
        // What parses prints back as decimal and parses to the same value.
        if (ormelin::parseNumber(QString::number(*got)) != got)
            std::abort();
    }
    return 0;
}
