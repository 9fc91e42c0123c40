#include "objlist/listfile.h"

#include "common/cp1251.h"
#include "common/filepath.h"
#include "common/numparse.h"
#include "objlist/objectlist.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace ormelin::listfile {
namespace {

constexpr char kEndOfFile = '\x1a';
constexpr QStringView kLineEnd = u"\r\n";

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

QString decodeLine(QByteArrayView raw)
{
    QString text = fromCp1251(raw);
    text.remove(u'\r');
    return text;
}

// Compares a stored line, its CRs dropped, with the expected bytes without copying the line:
// a header line may be as long as the file.
bool lineEquals(QByteArrayView raw, QByteArrayView expected)
{
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
    for (const QChar c : value) {
        const char16_t u = c.unicode();
        if (u < 0x20 && (u == u'\n' || u == u'\r' || u == u'\x1a'))
            return false;
    }
    return true;
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
    if (header.isEmpty())
        return ReadResult::ReadError; // no converter: nothing could match

    offset = std::max(offset, 0);
    LineCursor lines(bytes);
    if (!lineEquals(lines.next(), header))
        return ReadResult::ReadError;
    if (!lineEquals(lines.next(), version))
        return ReadResult::ReadError;
    const std::optional<std::int32_t> count = parseNumber(decodeLine(lines.next()));
    if (!count)
        return ReadResult::FormatError;
    if (*count < 0 || *count > kMaxRowCount)
        return ReadResult::ReadError;
    if (*count == 0 || (offset == 0 && *count == 1))
        return ReadResult::ReadError;

    const int rowCount = offset + *count;
    list.setRowCount(rowCount);

    // Find the lines the cells need, then decode them in one conversion.
    const qsizetype wanted = qsizetype(*count - 1) * kColumnCount;
    const qsizetype start = lines.position();
    qsizetype available = 0;
    while (available < wanted && !lines.atEnd()) {
        lines.next();
        ++available;
    }
    const QString text = fromCp1251(lines.bytes().sliced(start, lines.position() - start));

    const QStringList &typeTexts = objectTypeTexts();
    ObjectList::Batch batch(list);
    qsizetype pos = 0;
    for (qsizetype i = 0; i < available && pos <= text.size(); ++i) {
        const qsizetype lf = text.indexOf(u'\n', pos);
        const qsizetype end = lf < 0 ? text.size() : lf;
        QString value = text.sliced(pos, end - pos);
        pos = end + 1;
        if (value.contains(u'\r'))
            value.remove(u'\r');
        const int row = offset + 1 + int(i / kColumnCount);
        const int column = int(i % kColumnCount);
        if (column == ColType) {
            // Share the one copy of a type text instead of holding 1319 of them.
            const qsizetype known = typeTexts.indexOf(value);
            if (known >= 0)
                value = typeTexts[known];
        }
        list.setCell(row, column, value);
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

    QString text;
    text.reserve(64 + qsizetype(rowCount) * 96);
    text += headerLine();
    text += kLineEnd;
    text += versionLine();
    text += kLineEnd;
    text += QString::number(rowCount);
    text += kLineEnd;
    for (int row = 1; row < rowCount; ++row) {
        for (int column = 0; column < kColumnCount; ++column) {
            const QString value = list.cell(row, column);
            if (!survivesLineRules(value))
                return std::nullopt;
            text += value;
            text += kLineEnd;
        }
    }
    return toCp1251(text);
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
    return decodeLine(lines.next());
}

bool writeSettings(const QString &listPath)
{
    if (!survivesLineRules(listPath))
        return false;
    const std::optional<QByteArray> bytes = toCp1251(listPath + kLineEnd.toString());
    return bytes && writeAtomically(settingsFileName(), *bytes);
}

} // namespace ormelin::listfile
