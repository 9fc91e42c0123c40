#include "objlist/listfile.h"

#include "common/cp1251.h"
#include "common/filepath.h"
#include "common/numparse.h"
#include "objlist/objectlist.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace ormelin::listfile {
namespace {

constexpr char kEndOfFile = '\x1a';
// Counting the header row, as the file's third line does.
constexpr int kMaxEntryRows = kMaxRowCount - 1;

// Reads a file line by line. The first 0x1A ends the file wherever it stands.
class LineReader
{
public:
    explicit LineReader(QIODevice &device)
        : m_device(device)
    {
    }

    // At the end of the file, or before an 0x1A.
    bool atEnd()
    {
        char next = 0;
        if (!m_ended && m_device.peek(&next, 1) == 1 && next == kEndOfFile)
            m_ended = true;
        return m_ended || m_device.atEnd();
    }
    bool failed() const { return m_failed; }

    // The next line as stored, CRs still in it, LF not; empty at the end of the file.
    QByteArray next()
    {
        if (atEnd())
            return QByteArray();
        QByteArray line = m_device.readLine();
        if (line.isEmpty()) {
            m_failed = m_ended = true;
            return line;
        }
        const qsizetype eof = line.indexOf(kEndOfFile);
        if (eof >= 0) {
            line.truncate(eof);
            m_ended = true;
        } else if (line.endsWith('\n')) {
            line.chop(1);
        }
        return line;
    }

private:
    QIODevice &m_device;
    bool m_ended = false;
    bool m_failed = false;
};

// A value as it reads: CRs are never part of one.
QString decodeValue(QByteArrayView bytes)
{
    QString text = fromCp1251(bytes);
    text.remove(u'\r');
    return text;
}

QString codePoint(char32_t c)
{
    return QStringLiteral("U+%1").arg(uint(c), 4, 16, QLatin1Char('0')).toUpper();
}

// Why a cell cannot be written so that it reads back the same; empty when it can.
QString cellFailure(int row, QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        // By code point, so that a character outside the basic plane is named whole.
        qsizetype length = 1;
        char32_t c = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            length = 2;
        }
        const QStringView one = text.sliced(i, length);
        i += length - 1;
        if (c == u'\n' || c == u'\r' || c == char32_t(kEndOfFile)) {
            return QStringLiteral("Строка %1: символ %2 разорвал бы строку файла")
                .arg(row)
                .arg(codePoint(c));
        }
        if (toCp1251(one))
            continue;
        const bool printable = QChar::isPrint(c) && !QChar::isSurrogate(c);
        return QStringLiteral("Строка %1: символ %2 нельзя записать в кодировке Windows-1251")
            .arg(row)
            .arg(printable ? QStringLiteral("\"%1\" (%2)").arg(one, codePoint(c)) : codePoint(c));
    }
    return QString();
}

QByteArray withoutCr(QByteArray line)
{
    line.removeIf([](char b) { return b == '\r'; });
    return line;
}

// Only a regular file is opened: a device or a pipe could block the window or never end.
bool openForReading(QFile &file)
{
    const QString path = file.fileName();
    if (path.isEmpty() || !pathFitsFileLayer(path) || !QFileInfo(path).isFile())
        return false;
    return file.open(QIODevice::ReadOnly);
}

bool writeAtomically(const QString &path, const QByteArray &bytes, QString *reason)
{
    auto fail = [reason](const QString &why) {
        if (reason)
            *reason = why;
        return false;
    };
    if (path.isEmpty())
        return fail(QStringLiteral("Не задано имя файла"));
    if (!pathFitsFileLayer(path))
        return fail(QStringLiteral("Путь к файлу длиннее %1 байт").arg(kMaxPathBytes));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    if (file.write(bytes) != bytes.size()) {
        const QString why = file.errorString();
        file.cancelWriting();
        return fail(why);
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

ReadResult readLines(LineReader &lines, ObjectList &list, int offset)
{
    static const std::optional<QByteArray> header = toCp1251(headerLine());
    static const std::optional<QByteArray> version = toCp1251(versionLine());
    if (!header || !version)
        return ReadResult::ReadError; // no converter: nothing could match

    offset = std::max(offset, 0);
    const bool headerOk = withoutCr(lines.next()) == *header;
    if (!headerOk || lines.failed())
        return ReadResult::ReadError;
    const bool versionOk = withoutCr(lines.next()) == *version;
    if (!versionOk || lines.failed())
        return ReadResult::ReadError;
    const std::optional<std::int32_t> count = parseNumber(decodeValue(lines.next()));
    if (lines.failed())
        return ReadResult::ReadError;
    if (!count)
        return ReadResult::FormatError;
    if (*count < 0 || *count > kMaxRowCount)
        return ReadResult::ReadError;
    if (*count == 0 || (offset == 0 && *count == 1))
        return ReadResult::ReadError;
    list.setRowCount(offset + *count);

    // The cells' lines are gathered, then decoded in one go: no line holds an LF, so it can
    // stand between them.
    const qsizetype cells = qsizetype(*count - 1) * kColumnCount;
    QByteArray gathered;
    qsizetype read = 0;
    for (; read < cells && !lines.atEnd(); ++read) {
        if (read > 0)
            gathered += '\n';
        gathered += lines.next();
    }
    // The cells of lines read stay even after a failure; the cells left keep what they held.
    const QStringList values = decodeValue(gathered).split(u'\n');
    ObjectList::Batch batch(list);
    for (qsizetype i = 0; i < read; ++i)
        list.setCell(offset + 1 + int(i / kColumnCount), int(i % kColumnCount), values[i]);
    return lines.failed() ? ReadResult::ReadError : ReadResult::Ok;
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
    QByteArray unowned = QByteArray::fromRawData(bytes.data(), bytes.size());
    QBuffer device(&unowned);
    device.open(QIODevice::ReadOnly);
    return readDevice(device, list, offset);
}

ReadResult readDevice(QIODevice &device, ObjectList &list, int offset)
{
    LineReader lines(device);
    return readLines(lines, list, offset);
}

ReadResult read(const QString &path, ObjectList &list, int offset)
{
    QFile file(path);
    if (!openForReading(file))
        return ReadResult::ReadError;
    return readDevice(file, list, offset);
}

std::optional<QByteArray> encode(const ObjectList &list, QString *reason)
{
    auto fail = [reason](const QString &why) -> std::optional<QByteArray> {
        if (reason)
            *reason = why;
        return std::nullopt;
    };
    const int rowCount = list.rowCount();
    if (rowCount > kMaxRowCount) {
        // A file no reader would take back.
        return fail(QStringLiteral("Строк в списке: %1, а в файле списка их может быть не более %2")
                        .arg(rowCount - 1)
                        .arg(kMaxEntryRows));
    }
    static const QString crLf = QStringLiteral("\r\n");
    QString text = headerLine() + crLf + versionLine() + crLf + QString::number(rowCount) + crLf;
    for (int row = 1; row < rowCount; ++row) {
        for (int column = 0; column < kColumnCount; ++column) {
            const QString cell = list.cell(row, column);
            if (cell.contains(u'\n') || cell.contains(u'\r') || cell.contains(QChar(kEndOfFile)))
                return fail(cellFailure(row, cell));
            text += cell;
            text += crLf;
        }
    }
    std::optional<QByteArray> bytes = toCp1251(text);
    if (bytes)
        return bytes;
    // Only now is it worth looking for the cell at fault.
    for (int row = 1; row < rowCount; ++row) {
        for (int column = 0; column < kColumnCount; ++column) {
            const QString why = cellFailure(row, list.cell(row, column));
            if (!why.isEmpty())
                return fail(why);
        }
    }
    return fail(QStringLiteral("Нет преобразования в кодировку Windows-1251"));
}

bool write(const QString &path, const ObjectList &list, QString *reason)
{
    const std::optional<QByteArray> bytes = encode(list, reason);
    return bytes && writeAtomically(path, *bytes, reason);
}

std::optional<QString> readSettings()
{
    QFile file(settingsFileName());
    if (!openForReading(file))
        return std::nullopt;
    LineReader lines(file);
    const QString path = decodeValue(lines.next());
    if (lines.failed())
        return std::nullopt;
    return path;
}

bool writeSettings(const QString &listPath)
{
    // A path the file cannot hold would name some other file, or the one before: an empty line
    // makes the next start show an empty list instead.
    const bool oneLine = !listPath.contains(u'\n') && !listPath.contains(u'\r')
        && !listPath.contains(QChar(kEndOfFile));
    const std::optional<QByteArray> path = oneLine ? toCp1251(listPath) : std::nullopt;
    return writeAtomically(settingsFileName(), path.value_or(QByteArray()) + "\r\n", nullptr)
        && path.has_value();
}

} // namespace ormelin::listfile
