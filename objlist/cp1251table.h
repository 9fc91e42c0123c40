#pragma once
// Windows-1251 for the list file's bulk work. A list of 1,319 rows is some 6,600 short lines;
// converting them one by one through the general converter costs far more than the file's I/O.
// The tables here are filled once from that same converter, so it stays the one authority on
// the code page; a text the table cannot take goes to the converter as a whole.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

namespace ormelin::cp1251table {

// The line's text with every CR dropped.
QString decodeLine(QByteArrayView bytes);

// True when every byte decodes to a character of its own that encodes back to it: bytes read
// from a file, CRs aside, can then be written again as they are.
bool bytesRoundTrip();

// Writes the text's bytes, one per character, from `out` on; false, with nothing of it
// promised, when a character is not in the table. Then appendEncoded() has the answer.
bool encodeInto(char *out, QStringView text);

// Appends the text's bytes; false, with `out` as it was, when a character has no form.
bool appendEncoded(QByteArray &out, QStringView text);

} // namespace ormelin::cp1251table
