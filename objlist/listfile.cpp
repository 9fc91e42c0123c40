#include "objlist/listfile.h"

#include "common/cp1251.h"
#include "common/filepath.h"
#include "common/numparse.h"
#include "objlist/cp1251table.h"
#include "objlist/objectlist.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <bit>
#include <span>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ormelin::listfile {
namespace {

constexpr char kEndOfFile = '\x1a';

// A list file of usual size is read in one piece, a larger one in pieces of this size: a file
// may go on far beyond its last cell, and what lies there is never wanted.
constexpr qsizetype kLargestRead = 4 * 1024 * 1024;

qsizetype chunkFor(qint64 fileSize)
{
    return qsizetype(std::clamp<qint64>(fileSize, 1, kLargestRead));
}

// Finds the LFs of a buffer in order. A list is some 6,600 short lines, and looking for each
// LF on its own costs several times the reading of the file, so the buffer is looked at 16
// bytes at a time, their LFs kept as bits, compared at once where the processor allows.
class LineEndFinder
{
public:
    // Looking starts over at `from`, all before it having been looked at.
    void restartAt(qsizetype from)
    {
        m_looked = from;
        m_hits = 0;
    }

    // Writes to `lines`, up to `room` of them, the lines ending before `limit`, the first of
    // them starting at `pos`, and moves `pos` past them; returns how many it wrote. A line is
    // written without its LF.
    size_t collect(
        const char *data, qsizetype &pos, qsizetype limit, QByteArrayView *lines, size_t room)
    {
        // Locals, not members, through the loop: every line written could otherwise be taken
        // for a write to them.
        qsizetype at = pos;
        qsizetype looked = m_looked;
        qsizetype block = m_block;
        unsigned hits = m_hits;
        size_t written = 0;
        for (;;) {
            for (; hits != 0 && written < room; hits &= hits - 1) {
                const qsizetype lf = block + std::countr_zero(hits);
                lines[written++] = QByteArrayView(data + at, lf - at);
                at = lf + 1;
            }
            if (written == room || looked >= limit)
                break;
            block = looked;
            if (limit - block >= kBlock) {
                looked = block + kBlock;
                hits = blockLineEnds(data + block);
            } else {
                looked = limit;
                hits = tailLineEnds(data + block, limit - block);
            }
        }
        pos = at;
        m_looked = looked;
        m_block = block;
        m_hits = hits;
        return written;
    }

private:
    static constexpr qsizetype kBlock = 16;

    // Bit i set for an LF at bytes[i].
    static unsigned blockLineEnds(const char *bytes)
    {
#if defined(__SSE2__)
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes));
        return unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8('\n'))));
#else
        return tailLineEnds(bytes, kBlock);
#endif
    }
    static unsigned tailLineEnds(const char *bytes, qsizetype size)
    {
        unsigned hits = 0;
        for (qsizetype i = 0; i < size; ++i)
            hits |= unsigned(bytes[i] == '\n') << i;
        return hits;
    }

    qsizetype m_looked = 0; // bytes before it have been looked at
    qsizetype m_block = 0; // where the block of m_hits starts
    unsigned m_hits = 0; // the LFs of that block not yet passed
};

// Reads a file line by line. A buffer is never changed once a line of it has been handed out,
// since the list may keep a share of it; the next piece goes into a new buffer that carries
// over only the line at hand. The first 0x1A ends the file wherever it stands.
class LineReader
{
public:
    LineReader(QIODevice &device, qsizetype chunk)
        : m_device(device)
        , m_chunk(std::max<qsizetype>(chunk, 1))
    {
    }

    // At the end of the file (or an 0x1A), and after a read error.
    bool atEnd()
    {
        if (m_pos < m_limit)
            return false;
        return !refill() || m_pos >= m_limit;
    }
    bool failed() const { return m_failed; }

    // Up to `count` next lines, each as stored, CRs still in it, LF not; all of them lie in
    // buffer(). As many come as the buffer holds, at least one unless at the end of the file.
    // Valid until the next call.
    std::span<const QByteArrayView> next(qsizetype count)
    {
        if (count <= 0 || atEnd())
            return {};
        // Each line takes one byte at least.
        const size_t room = size_t(std::min(count, m_limit - m_pos + 1));
        if (m_lines.size() < room)
            m_lines.resize(room);
        for (;;) {
            const size_t got
                = m_lineEnds.collect(m_buffer.constData(), m_pos, m_limit, m_lines.data(), room);
            if (got > 0)
                return std::span(m_lines).first(got);
            if (!refill()) {
                m_lines[0] = take(m_limit, m_limit); // the last line, or one an 0x1A cut
                return std::span(m_lines).first(1);
            }
        }
    }
    // The next line; empty at the end of the file.
    QByteArrayView nextLine()
    {
        const std::span<const QByteArrayView> line = next(1);
        return line.empty() ? QByteArrayView() : line.front();
    }

    // Holding a share of it keeps the lines handed out valid after the reader moves on.
    const QByteArray &buffer() const { return m_buffer; }

private:
    QByteArrayView take(qsizetype end, qsizetype next)
    {
        const QByteArrayView line = QByteArrayView(m_buffer).sliced(m_pos, end - m_pos);
        m_pos = next;
        return line;
    }

    // Reads another piece after the line at hand, which holds no LF. False at the end of the
    // file or on an error.
    bool refill()
    {
        if (m_limit < m_buffer.size())
            return false; // an 0x1A ended the file
        const qsizetype carried = m_buffer.size() - m_pos;
        const qsizetype wanted = std::max(carried + m_chunk, 2 * carried); // long lines in O(n)
        if (m_pos > 0) {
            QByteArray fresh;
            fresh.reserve(wanted);
            fresh.append(QByteArrayView(m_buffer).sliced(m_pos));
            m_buffer = std::move(fresh);
            m_pos = 0;
        } else if (m_buffer.capacity() < carried + m_chunk) {
            m_buffer.reserve(wanted);
        }
        const qsizetype held = m_buffer.size();
        m_buffer.resize(held + m_chunk);
        const qint64 got = m_device.read(m_buffer.data() + held, m_chunk);
        m_buffer.resize(held + std::max<qint64>(got, 0));
        if (got < 0)
            m_failed = true;
        const qsizetype eof = QByteArrayView(m_buffer).indexOf(kEndOfFile, held);
        m_limit = eof < 0 ? m_buffer.size() : eof;
        m_lineEnds.restartAt(held);
        return got > 0;
    }

    QIODevice &m_device;
    qsizetype m_chunk = 0;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    qsizetype m_limit = 0; // the first 0x1A in the buffer, else its size
    LineEndFinder m_lineEnds;
    std::vector<QByteArrayView> m_lines; // room for what next() hands out
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

// Bytes that can go into a line as they are: none of them ends a line or the file.
bool plainLineBytes(QByteArrayView bytes)
{
    bool bad = false;
    for (const char b : bytes)
        bad |= (b == '\n') | (b == '\r') | (b == kEndOfFile);
    return !bad;
}

// For lines the table cannot take: the converter has the last word.
std::optional<QByteArray> encodeSlowly(const std::vector<ObjectList::StoredCell> &lines)
{
    QByteArray bytes;
    for (const ObjectList::StoredCell &line : lines) {
        if (line.isEncoded())
            bytes += line.encoded;
        else if (!cp1251table::appendEncoded(bytes, line.text))
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
    if (header.isEmpty())
        return ReadResult::ReadError; // no converter: nothing could match

    offset = std::max(offset, 0);
    const bool headerOk = lineEquals(lines.nextLine(), header);
    if (!headerOk || lines.failed())
        return ReadResult::ReadError;
    const bool versionOk = lineEquals(lines.nextLine(), version);
    if (!versionOk || lines.failed())
        return ReadResult::ReadError;
    const std::optional<std::int32_t> count
        = parseNumber(cp1251table::decodeLine(lines.nextLine()));
    if (lines.failed())
        return ReadResult::ReadError;
    if (!count)
        return ReadResult::FormatError;
    if (*count < 0 || *count > kMaxRowCount)
        return ReadResult::ReadError;
    if (*count == 0 || (offset == 0 && *count == 1))
        return ReadResult::ReadError;

    list.setRowCount(offset + *count);
    ObjectList::Batch batch(list);
    // The cells are filled in file order, a few hundred at a time: the lines in hand then stay
    // in the processor's nearest cache.
    constexpr qsizetype kLinesAtATime = 256;
    const qsizetype cells = qsizetype(*count - 1) * kColumnCount;
    for (qsizetype filled = 0; filled < cells;) {
        if (lines.atEnd()) // the cells left keep what they held
            return lines.failed() ? ReadResult::ReadError : ReadResult::Ok;
        const std::span<const QByteArrayView> got
            = lines.next(std::min(cells - filled, kLinesAtATime));
        if (lines.failed())
            return ReadResult::ReadError;
        list.setCellsEncoded(offset + 1 + int(filled / kColumnCount), int(filled % kColumnCount),
            lines.buffer(), got);
        filled += qsizetype(got.size());
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
    // The list keeps shares of what it reads, so the bytes are copied as they are read rather
    // than referred to where they lie.
    QByteArray unowned = QByteArray::fromRawData(bytes.data(), bytes.size());
    QBuffer device(&unowned);
    device.open(QIODevice::ReadOnly);
    return readDevice(device, list, offset, chunkFor(bytes.size()));
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
    return readDevice(file, list, offset, chunkFor(file.size()));
}

std::optional<QByteArray> encode(const ObjectList &list)
{
    const int rowCount = list.rowCount();
    if (rowCount > kMaxRowCount)
        return std::nullopt; // a file no reader would take back
    static const QString headerLine = listfile::headerLine();
    static const QString versionLine = listfile::versionLine();

    const QString count = QString::number(rowCount);
    std::vector<ObjectList::StoredCell> lines;
    lines.reserve(3 + size_t(rowCount - 1) * kColumnCount);
    lines.insert(lines.end(), { { headerLine, {} }, { versionLine, {} }, { count, {} } });
    for (int row = 1; row < rowCount; ++row) {
        for (int column = 0; column < kColumnCount; ++column)
            lines.push_back(list.storedCell(row, column));
    }
    // A loaded cell goes back as the bytes it came from; one that held a CR, or any cell when
    // the table cannot vouch for the bytes, is decoded and encoded again like a typed one.
    const bool bytesRoundTrip = cp1251table::bytesRoundTrip();
    std::vector<QString> decoded;
    qsizetype size = 0;
    for (ObjectList::StoredCell &line : lines) {
        if (line.isEncoded()) {
            if (line.encoded.endsWith('\r'))
                line.encoded.chop(1); // the CR of the line's CR LF
            if (bytesRoundTrip && plainLineBytes(line.encoded)) {
                size += line.encoded.size() + 2;
                continue;
            }
            // The view stays valid: moving a QString within the vector leaves its characters.
            decoded.push_back(cp1251table::decodeLine(line.encoded));
            line = { decoded.back(), {} };
        }
        if (!survivesLineRules(line.text))
            return std::nullopt;
        size += line.text.size() + 2;
    }

    // Windows-1251 has one byte per character, so the size is known before encoding.
    QByteArray bytes(size, Qt::Uninitialized);
    char *out = bytes.data();
    for (const ObjectList::StoredCell &line : lines) {
        if (line.isEncoded()) {
            std::copy(line.encoded.begin(), line.encoded.end(), out);
            out += line.encoded.size();
        } else if (cp1251table::encodeInto(out, line.text)) {
            out += line.text.size();
        } else {
            return encodeSlowly(lines);
        }
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
    const QString path = cp1251table::decodeLine(lines.nextLine());
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
