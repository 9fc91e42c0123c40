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

// Reads a file line by line, holding no more of it than the line at hand: a file may go on far
// beyond the lines anyone asks for. The first 0x1A ends the file wherever it stands.
class LineReader
{
public:
    LineReader(QIODevice &device, qsizetype chunk)
        : m_device(&device)
        , m_chunk(std::max<qsizetype>(chunk, 1))
    {
    }
    // Bytes already in memory: nothing is copied.
    explicit LineReader(QByteArrayView bytes)
        : m_buffer(QByteArray::fromRawData(bytes.data(), bytes.size()))
    {
        findEndOfFile(0);
    }

    // At the end of the file (or an 0x1A), and after a read error.
    bool atEnd()
    {
        if (m_pos < m_limit)
            return false;
        qsizetype unused = 0;
        return !refill(unused) || m_pos >= m_limit;
    }
    bool failed() const { return m_failed; }

    // The next line as stored, CRs still in it, LF not; empty at the end of the file. Valid
    // until the next call.
    QByteArrayView next()
    {
        if (atEnd())
            return {};
        qsizetype from = m_pos;
        for (;;) {
            const qsizetype lf = QByteArrayView(m_buffer).first(m_limit).indexOf('\n', from);
            if (lf >= 0)
                return take(lf, lf + 1);
            from = m_limit;
            if (!refill(from))
                return take(m_limit, m_limit); // the last line, or the one an 0x1A cut
        }
    }

private:
    QByteArrayView take(qsizetype end, qsizetype next)
    {
        const QByteArrayView line = QByteArrayView(m_buffer).sliced(m_pos, end - m_pos);
        m_pos = next;
        return line;
    }

    // Bytes from the first 0x1A on are not part of the file.
    void findEndOfFile(qsizetype from)
    {
        const qsizetype eof = QByteArrayView(m_buffer).indexOf(kEndOfFile, from);
        m_limit = eof < 0 ? m_buffer.size() : eof;
    }

    // Reads another chunk after what the buffer holds, first dropping the lines already
    // taken; `from` follows the move. False at the end of the file or on an error.
    bool refill(qsizetype &from)
    {
        if (!m_device || m_limit < m_buffer.size())
            return false;
        if (m_pos > 0) {
            m_buffer.remove(0, m_pos);
            from -= m_pos;
            m_limit -= m_pos;
            m_pos = 0;
        }
        const qsizetype held = m_buffer.size();
        if (m_buffer.capacity() < held + m_chunk)
            m_buffer.reserve(std::max(held + m_chunk, 2 * held)); // a long line grows in O(n)
        m_buffer.resize(held + m_chunk);
        const qint64 got = m_device->read(m_buffer.data() + held, m_chunk);
        m_buffer.resize(held + std::max<qint64>(got, 0));
        if (got < 0)
            m_failed = true;
        findEndOfFile(held);
        return got > 0;
    }

    QIODevice *m_device = nullptr;
    qsizetype m_chunk = 0;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    qsizetype m_limit = 0; // the first 0x1A in the buffer, else its size
    bool m_failed = false;
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

// Only a regular file is opened: a device or a pipe could block the window or never end.
bool openForReading(QFile &file)
{
    const QString path = file.fileName();
    if (path.isEmpty() || !pathFitsFileLayer(path) || !QFileInfo(path).isFile())
        return false;
    return file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

ReadResult readLines(LineReader &lines, ObjectList &list, int offset)
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
    const bool headerOk = lineEquals(lines.next(), header);
    if (!headerOk || lines.failed())
        return ReadResult::ReadError;
    const bool versionOk = lineEquals(lines.next(), version);
    if (!versionOk || lines.failed())
        return ReadResult::ReadError;
    const std::optional<std::int32_t> count = parseNumber(cp1251table::decodeLine(lines.next()));
    if (lines.failed())
        return ReadResult::ReadError;
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
            if (lines.atEnd()) // the cells left keep what they held
                return lines.failed() ? ReadResult::ReadError : ReadResult::Ok;
            const QByteArrayView raw = lines.next();
            if (lines.failed())
                return ReadResult::ReadError;
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
    LineReader lines(bytes);
    return readLines(lines, list, offset);
}

ReadResult readDevice(QIODevice &device, ObjectList &list, int offset, qsizetype chunk)
{
    LineReader lines(device, chunk);
    return readLines(lines, list, offset);
}

ReadResult read(const QString &path, ObjectList &list, int offset)
{
    QFile file(path);
    if (!openForReading(file))
        return ReadResult::ReadError;
    return readDevice(file, list, offset);
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
    QFile file(settingsFileName());
    if (!openForReading(file))
        return std::nullopt;
    LineReader lines(file, 4096);
    const QString path = cp1251table::decodeLine(lines.next());
    if (lines.failed())
        return std::nullopt;
    return path;
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
