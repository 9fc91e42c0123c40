#pragma once
#include <QStringView>
#include <cstdint>
#include <optional>

namespace ormelin {

// Every number the program reads from a field, a cell or a file line goes through this one rule:
// leading blanks (the space character only), then either an optional sign with decimal digits,
// or, unsigned, a hexadecimal form after "$", "x", "X", "0x" or "0X" whose 32-bit value is taken
// as a bit pattern ($FFFFFFFF is -1). Nothing may follow the digits. Returns nothing on failure;
// the caller reports it with its own words.
std::optional<std::int32_t> parseNumber(QStringView text);

} // namespace ormelin
