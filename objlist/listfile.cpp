#include "objlist/listfile.h"

#include "common/cp1251.h"
#include "common/filepath.h"
#include "common/numparse.h"
#include "objlist/cp1251table.h"
#include "objlist/objectlist.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <array>
#include <vector>

namespace ormelin::listfile {
namespace {

constexpr char kEndOfFile = '\x1a';

// Walks the bytes of a file line by line. The first 0x1A ends the file wherever it stands, so
// it is cut off once here rather than looked for at every step.
class LineCursor
{
public:
    explicit LineCursor(QByteArrayView bytes)
    {
        const qsizetype eof = bytes.indexOf(kEndOfFile);
        m_bytes = eof < 0 ? bytes : bytes.first(eof);
    }

    bool atEnd() const { return m_pos >= m_bytes.size(); }
    qsizetype position() const { return m_pos; }
    QByteArrayView bytes() const { return m_bytes; }

    // The next line as stored, CRs still in it, LF not; empty at the end of the file.
    QByteArrayView next()
    {
        if (atEnd())
            return {};
        const qsizetype lf = m_bytes.indexOf('\n', m_pos);
        const qsizetype end = lf < 0 ? m_bytes.size() : lf;
        const QByteArrayView line = m_bytes.sliced(m_pos, end - m_pos);
        m_pos = lf < 0 ? end : lf + 1;
        return line;
    }

private:
    QByteArrayView m_bytes;
    qsizetype m_pos = 0;
};

// Compares a stored line, its CRs dropped, with the expected bytes without copying the line:
// a header line may be as long as the file.
bool lineEquals(QByteArrayView raw, QByteArrayView expected)
{
    if (!raw.isEmpty() && raw.back() == '\r')
        raw.chop(1);
    if (raw == expected)
        return true;
    if (raw.size() < expected.size() || !raw.contains('\r'))
        return false;
    qsizetype e = 0;
    for (const char b : raw) {
        if (b == '\r')
            continue;
        if (e >= expected.size() || expected[e] != b)
            return false;
        ++e;
    }
    return e == expected.size();
}

QByteArray encodedOrEmpty(const QString &text)
{
    return toCp1251(text).value_or(QByteArray());
}

// A cell holding one of these would not read back as written.
bool survivesLineRules(QStringView value)
{
    bool bad = false;
    for (const QChar c : value) {
        const char16_t u = c.unicode();
        bad |= (u == u'\n') | (u == u'\r') | (u == u'\x1a');
    }
    return !bad;
}

// For lines the table cannot take: the converter has the last word.
std::optional<QByteArray> encodeSlowly(const std::vector<QStringView> &lines)
{
    QByteArray bytes;
    for (const QStringView line : lines) {
        if (!cp1251table::appendEncoded(bytes, line))
            return std::nullopt;
        bytes += "\r\n";
    }
    return bytes;
}

bool writeAtomically(const QString &path, const QByteArray &bytes)
{
    if (path.isEmpty() || !pathFitsFileLayer(path))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

// Only a regular file is read: a device or a pipe could block the window or never end.
std::optional<QByteArray> readWholeFile(const QString &path)
{
    if (path.isEmpty() || !pathFitsFileLayer(path) || !QFileInfo(path).isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

} // namespace

QString headerLine()
{
    return QStringLiteral("Файл ресурсов для записи во флэш");
}

QString versionLine()
{
    return QStringLiteral("10");
}

QString settingsFileName()
{
    return QStringLiteral("ormelin.ini");
}

ReadResult readBytes(QByteArrayView bytes, ObjectList &list, int offset)
{
    static const QByteArray header = encodedOrEmpty(headerLine());
    static const QByteArray version = encodedOrEmpty(versionLine());
    static const std::array<QByteArray, kObjectTypeCount> typeBytes = [] {
        std::array<QByteArray, kObjectTypeCount> encoded;
        for (int i = 0; i < kObjectTypeCount; ++i)
            encoded[size_t(i)] = encodedOrEmpty(objectTypeTexts()[i]);
        return encoded;
    }();
    if (header.isEmpty())
        return ReadResult::ReadError; // no converter: nothing could match

    offset = std::max(offset, 0);
    LineCursor lines(bytes);
    if (!lineEquals(lines.next(), header))
        return ReadResult::ReadError;
    if (!lineEquals(lines.next(), version))
        return ReadResult::ReadError;
    const std::optional<std::int32_t> count = parseNumber(cp1251table::decodeLine(lines.next()));
    if (!count)
        return ReadResult::FormatError;
    if (*count < 0 || *count > kMaxRowCount)
        return ReadResult::ReadError;
    if (*count == 0 || (offset == 0 && *count == 1))
        return ReadResult::ReadError;

    list.setRowCount(offset + *count);
    const QStringList &typeTexts = objectTypeTexts();
    ObjectList::Batch batch(list);
    const int lastRow = offset + *count - 1;
    for (int row = offset + 1; row <= lastRow; ++row) {
        for (int column = 0; column < kColumnCount; ++column) {
            if (lines.atEnd())
                return ReadResult::Ok; // the cells left keep what they held
            const QByteArrayView raw = lines.next();
            if (column == ColType) {
                // Share the one copy of a type text instead of holding 1319 of them.
                const auto known = std::find_if(typeBytes.begin(), typeBytes.end(),
                    [&](const QByteArray &t) { return lineEquals(raw, t); });
                if (known != typeBytes.end()) {
                    list.setCell(row, column, typeTexts[known - typeBytes.begin()]);
                    continue;
                }
            }
            list.setCell(row, column, cp1251table::decodeLine(raw));
        }
    }
    return ReadResult::Ok;
}

ReadResult read(const QString &path, ObjectList &list, int offset)
{
    const std::optional<QByteArray> bytes = readWholeFile(path);
    if (!bytes)
        return ReadResult::ReadError;
    return readBytes(*bytes, list, offset);
}

std::optional<QByteArray> encode(const ObjectList &list)
{
    const int rowCount = list.rowCount();
    if (rowCount > kMaxRowCount)
        return std::nullopt; // a file no reader would take back
    static const QString headerLine = listfile::headerLine();
    static const QString versionLine = listfile::versionLine();

    const QString count = QString::number(rowCount);
    std::vector<QStringView> lines;
    lines.reserve(3 + size_t(rowCount - 1) * kColumnCount);
    lines.insert(lines.end(), { headerLine, versionLine, count });
    for (int row = 1; row < rowCount; ++row) {
        for (int column = 0; column < kColumnCount; ++column)
            lines.push_back(list.cellView(row, column));
    }
    qsizetype size = 0;
    for (const QStringView line : lines) {
        if (!survivesLineRules(line))
            return std::nullopt;
        size += line.size() + 2;
    }

    // Windows-1251 has one byte per character, so the size is known before encoding.
    QByteArray bytes(size, Qt::Uninitialized);
    char *out = bytes.data();
    for (const QStringView line : lines) {
        if (!cp1251table::encodeInto(out, line))
            return encodeSlowly(lines);
        out += line.size();
        *out++ = '\r';
        *out++ = '\n';
    }
    return bytes;
}

bool write(const QString &path, const ObjectList &list)
{
    const std::optional<QByteArray> bytes = encode(list);
    return bytes && writeAtomically(path, *bytes);
}

std::optional<QString> readSettings()
{
    const std::optional<QByteArray> bytes = readWholeFile(settingsFileName());
    if (!bytes)
        return std::nullopt;
    LineCursor lines(*bytes);
    return cp1251table::decodeLine(lines.next());
}

bool writeSettings(const QString &listPath)
{
    if (!survivesLineRules(listPath))
        return false;
    QByteArray bytes;
    if (!cp1251table::appendEncoded(bytes, listPath))
        return false;
    bytes += "\r\n";
    return writeAtomically(settingsFileName(), bytes);
}

} // namespace ormelin::listfile
