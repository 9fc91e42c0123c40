#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <optional>

namespace ormelin {

// Windows-1251 is the code page of list files, the settings file and every text sent to the
// controller. Conversion goes through Qt's ICU-backed converter.

// False when the converter is missing (a Qt built without ICU): nothing could be encoded then.
bool cp1251Available();

// The bytes of the text, or nothing when a character has no Windows-1251 form: the caller
// reports that as its own failure instead of writing a substitute.
std::optional<QByteArray> toCp1251(QStringView text);

// Every byte has a meaning in Windows-1251 (0x98, unassigned, decodes to U+0098), so decoding
// never fails.
QString fromCp1251(QByteArrayView bytes);

} // namespace ormelin
