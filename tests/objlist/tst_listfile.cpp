#include "common/filepath.h"
#include "objlist/changemark.h"
#include "objlist/cp1251table.h"
#include "objlist/listdocument.h"
#include "objlist/listeditor.h"
#include "objlist/listfile.h"
#include "objlist/objectlist.h"

#include "fakeoperator.h"
#include "listtestutil.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace ormelin;
using listtest::encodeLines;
using listtest::headerLines;

namespace {

QString readError(const QString &path)
{
    return QStringLiteral("Ошибка чтения файла ") + path
        + QStringLiteral(". Файл имеет неверный формат или поврежден");
}

QString formatError(const QString &path)
{
    return QStringLiteral("Ошибка формата файла") + path;
}

QString writeError(const QString &path)
{
    return QStringLiteral("Ошибка записи файла ") + path;
}

struct Doc
{
    FakeOperator ui;
    ObjectList list;
    ListDocument document { list, ui };

    void setRow(int row, const QStringList &cells)
    {
        for (int c = 0; c < kColumnCount; ++c)
            list.setCell(row, c, cells.value(c));
    }
    QStringList row(int r) const
    {
        QStringList cells;
        for (int c = 0; c < kColumnCount; ++c)
            cells << list.cell(r, c);
        return cells;
    }
    bool load(const QString &path)
    {
        ui.openChoices.enqueue(path);
        const int before = int(ui.messages.size());
        document.loadList();
        return ui.messages.size() == before;
    }
    bool save(const QString &path)
    {
        ui.saveChoices.enqueue(path);
        return document.saveList();
    }
};

// Cells as an operator might produce them, and the awkward bytes a file can hold: Cyrillic,
// blanks at either end, NUL, and the one Windows-1251 byte without a letter (0x98).
QString randomCell(QRandomGenerator &rng)
{
    static const QString alphabet
        = QStringLiteral(
              "abcXYZ019 "
              "$-+.:\\/_АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдеёжзийклмнопрстуфхцчшщъыьэюя№«»—")
        + QChar(0) + QChar(0x98) + QChar(u'\t');
    const int kind = rng.bounded(4);
    if (kind == 0)
        return QString();
    if (kind == 1)
        return objectTypeTexts()[rng.bounded(kObjectTypeCount)];
    QString text;
    const int length = rng.bounded(1, 60);
    for (int i = 0; i < length; ++i)
        text += alphabet[rng.bounded(int(alphabet.size()))];
    return text;
}

void fillRandom(ObjectList &list, int rowCount, quint32 seed)
{
    QRandomGenerator rng(seed);
    list.setRowCount(rowCount);
    for (int r = 1; r < rowCount; ++r)
        for (int c = 0; c < kColumnCount; ++c)
            list.setCell(r, c, randomCell(rng));
}

// A load the plain way, for comparing with: the file split at its LFs, each line decoded on
// its own into its cell. Only for files without 0x1A, CRs only before LFs and a good header.
void loadLineByLine(ObjectList &list, const QByteArray &bytes, int offset)
{
    QList<QByteArray> lines = bytes.split('\n');
    if (lines.back().isEmpty())
        lines.pop_back(); // the file ends after its last LF
    const int count = cp1251table::decodeLine(lines.value(2)).toInt();
    list.setRowCount(offset + count);
    qsizetype next = 3;
    for (int r = offset + 1; r < offset + count; ++r) {
        for (int c = 0; c < kColumnCount && next < lines.size(); ++c)
            list.setCell(r, c, cp1251table::decodeLine(lines[next++]));
    }
}

// Lowers the file-size limit of this process for as long as it lives; a write past it fails
// with EFBIG instead of killing the process. Works as root, unlike permissions.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit lowered = m_old;
        lowered.rlim_cur = bytes;
        m_ok = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    bool ok() const { return m_ok; }

private:
    rlimit m_old {};
    void (*m_oldHandler)(int) = nullptr;
    bool m_ok = false;
};

} // namespace

class TestListFile : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_tmp;
    QString m_startDir;

    QString path(const QString &name) const { return m_tmp.filePath(name); }
    QString listFile(const QString &name, const QByteArray &bytes)
    {
        const QString p = path(name);
        if (!listtest::writeBytes(p, bytes))
            qFatal("cannot write test file");
        return p;
    }
    // A path of exactly `bytes` bytes inside the scratch folder, its folders created.
    QString pathOfBytes(int bytes)
    {
        QString dir = m_tmp.path() + QStringLiteral("/") + QString(100, u'd');
        QDir().mkpath(dir);
        const int rest = bytes - int(QFile::encodeName(dir).size()) - 1;
        return dir + u'/' + QString(rest, u'f');
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        m_startDir = QDir::currentPath();
    }
    void cleanup() { QDir::setCurrent(m_startDir); }

    // ---- Save list ------------------------------------------------------------------------

    void saveWritesOneValuePerLine()
    {
        Doc d;
        d.list.setRowCount(4);
        d.setRow(1, { "1", "Изображение JPEG", "", "", "C:\\a.jpg" });
        d.setRow(2, {}); // a free row is five empty lines
        d.setRow(3, { "7", "Моноширинный шрифт", "8", "16", "/шрифты/m.fnt" });
        d.ui.windowTitle = QStringLiteral("Ормелин для Тарвикса *");
        const QString p = path(QStringLiteral("three.orm"));
        QVERIFY(d.save(p));

        const QByteArray bytes = listtest::readBytes(p);
        QCOMPARE(bytes,
            encodeLines(headerLines("4")
                + QStringList { "1", "Изображение JPEG", "", "", "C:\\a.jpg", "", "", "", "", "",
                    "7", "Моноширинный шрифт", "8", "16", "/шрифты/m.fnt" }));
        QCOMPARE(bytes.count("\r\n"), 18);
        QCOMPARE(d.ui.windowTitle, QStringLiteral("Ормелин для Тарвикса ") + p);
        QVERIFY(!isChanged(d.ui));
        QCOMPARE(d.document.listPath(), p);
        QCOMPARE(d.ui.saveSuggestions, QStringList { QString() });
    }

    void saveCancelledDoesNothing()
    {
        Doc d;
        d.ui.windowTitle = QStringLiteral("Ормелин для Тарвикса *");
        d.ui.saveChoices.enqueue(std::nullopt);
        QVERIFY(!d.document.saveList(QStringLiteral("/x.orm")));
        QCOMPARE(d.ui.saveSuggestions, QStringList { "/x.orm" });
        QCOMPARE(d.ui.windowTitle, QStringLiteral("Ормелин для Тарвикса *"));
        QCOMPARE(d.ui.messages, QStringList());
    }

    // ---- Round trips ----------------------------------------------------------------------

    void roundTrip_data()
    {
        QTest::addColumn<int>("rowCount");
        QTest::addColumn<quint32>("seed");
        QTest::newRow("one entry row") << 2 << 1u;
        QTest::newRow("small") << 7 << 2u;
        QTest::newRow("medium") << 80 << 3u;
        QTest::newRow("another medium") << 123 << 4u;
        QTest::newRow("largest file") << 1319 << 5u;
    }
    void roundTrip()
    {
        QFETCH(int, rowCount);
        QFETCH(quint32, seed);
        Doc a;
        fillRandom(a.list, rowCount, seed);
        const QString p = path(QStringLiteral("round %1.orm").arg(seed));
        QVERIFY(a.save(p));

        Doc b;
        b.list.setRowCount(5);
        fillRandom(b.list, 5, seed + 100); // whatever was there must not survive
        QVERIFY(b.load(p));
        QCOMPARE(b.list.rowCount(), rowCount);
        for (int r = 1; r < rowCount; ++r)
            QCOMPARE(b.row(r), a.row(r));
        QCOMPARE(b.ui.windowTitle, QStringLiteral("Ормелин для Тарвикса ") + p);
        QCOMPARE(b.document.listPath(), p);

        // Saving what was loaded gives the same bytes back.
        const QString again = path(QStringLiteral("again %1.orm").arg(seed));
        QVERIFY(b.save(again));
        QCOMPARE(listtest::readBytes(again), listtest::readBytes(p));
    }

    // ---- Reading: the line rules ------------------------------------------------------------

    void lineRules_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("row1");

        const QByteArray head = encodeLines(headerLines("2"));
        QTest::newRow("CR LF") << head + "1\r\nt\r\nw\r\nh\r\nf\r\n"
                               << QStringList { "1", "t", "w", "h", "f" };
        QTest::newRow("LF only") << encodeLines(headerLines("2"), "\n") + "1\nt\nw\nh\nf\n"
                                 << QStringList { "1", "t", "w", "h", "f" };
        QTest::newRow("last line unterminated")
            << head + "1\r\nt\r\nw\r\nh\r\nf" << QStringList { "1", "t", "w", "h", "f" };
        QTest::newRow("lone CR dropped")
            << head + "1\r\na\rb\r\nw\r\r\nh\r\nf\r" << QStringList { "1", "ab", "w", "h", "f" };
        QTest::newRow("empty lines are empty cells") << head + "1\r\n\r\n\r\n\r\nf\r\n"
                                                     << QStringList { "1", "", "", "", "f" };
        QTest::newRow("0x1A ends the file mid-line") << head
                + "1\r\nt\r\nw\x1a\r\nh\r\nf\r\n" << QStringList { "1", "t", "w", "keep", "keep" };
        QTest::newRow("0x1A at a line start") << head + "1\r\nt\r\n\x1aw\r\nh\r\nf\r\n"
                                              << QStringList { "1", "t", "keep", "keep", "keep" };
        QTest::newRow("0x1A after a CR")
            << head + "1\r\nt\r\x1a" << QStringList { "1", "t", "keep", "keep", "keep" };
        QTest::newRow("trailing lines ignored") << head + "1\r\nt\r\nw\r\nh\r\nf\r\nmore\r\n\r\n"
                                                << QStringList { "1", "t", "w", "h", "f" };
        QTest::newRow("NUL kept") << head + "1\r\na" + QByteArray(1, '\0') + "b\r\nw\r\nh\r\nf\r\n"
                                  << QStringList { "1", QStringLiteral("a") + QChar(0) + "b", "w",
                                         "h", "f" };
        QTest::newRow("every high byte decodes")
            << head + "1\r\n\x98\xff\xc0\r\nw\r\nh\r\nf\r\n"
            << QStringList { "1", QString(QChar(0x98)) + QChar(u'я') + QChar(u'А'), "w", "h", "f" };
    }
    void lineRules()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, row1);
        Doc d;
        d.setRow(1, { "keep", "keep", "keep", "keep", "keep" });
        QVERIFY(d.load(listFile(QStringLiteral("rules.orm"), bytes)));
        QCOMPARE(d.list.rowCount(), 2);
        QCOMPARE(d.row(1), row1);

        // However the bytes arrive, the lines are the same.
        for (const qsizetype chunk : { 1, 2, 3, 7 }) {
            ObjectList list;
            for (int c = 0; c < kColumnCount; ++c)
                list.setCell(1, c, QStringLiteral("keep"));
            QBuffer device(&bytes);
            QVERIFY(device.open(QIODevice::ReadOnly));
            QCOMPARE(listfile::readDevice(device, list, 0, chunk), listfile::ReadResult::Ok);
            for (int c = 0; c < kColumnCount; ++c)
                QCOMPARE(list.cell(1, c), row1[c]);
        }
    }

    // A file cut by an 0x1A deep inside reads like the file that ends there.
    void endOfFileByteInALaterChunk()
    {
        Doc full;
        fillRandom(full.list, 1319, 61);
        const QByteArray bytes = *listfile::encode(full.list);
        const qsizetype cut = bytes.indexOf("\r\n", 3 * bytes.size() / 4) + 2 + 3; // mid-line
        QByteArray marked = bytes;
        marked.insert(cut, "\x1a");
        Doc a;
        Doc b;
        for (Doc *d : { &a, &b }) {
            d->list.setRowCount(1319);
            for (int r = 1; r < 1319; ++r)
                d->list.setCell(r, ColFile, QStringLiteral("old"));
        }
        QVERIFY(a.load(listFile(QStringLiteral("marked.orm"), marked)));
        QVERIFY(b.load(listFile(QStringLiteral("cut.orm"), bytes.first(cut))));
        QVERIFY(a.list.cell(1318, ColFile) == QStringLiteral("old"));
        for (int r = 1; r < 1319; ++r)
            QCOMPARE(a.row(r), b.row(r));
    }

    // ---- Reading: errors --------------------------------------------------------------------

    void readErrors_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("format"); // else a read error

        const QString header = headerLines("2")[0];
        const QByteArray row = "1\r\nСкрипт\r\n\r\n\r\ns\r\n";
        QTest::newRow("empty file") << QByteArray() << false;
        QTest::newRow("header in other case")
            << encodeLines({ header.toLower(), "10", "2" }) + row << false;
        QTest::newRow("header with trailing blank")
            << encodeLines({ header + " ", "10", "2" }) + row << false;
        QTest::newRow("header with NUL") << encodeLines({ header }).insert(4, '\0') + "10\r\n2\r\n"
                                         << false;
        QTest::newRow("header cut by 0x1A") << encodeLines({ header }).insert(6, '\x1a') << false;
        QTest::newRow("CR-only line ends")
            << encodeLines(headerLines("2"), "\r") + "1\rt\rw\rh\rf\r" << false;
        QTest::newRow("version 11") << encodeLines({ header, "11", "2" }) + row << false;
        QTest::newRow("version 010") << encodeLines({ header, "010", "2" }) + row << false;
        QTest::newRow("version missing") << encodeLines({ header }) << false;
        QTest::newRow("ends after version") << encodeLines({ header, "10" }) << true;
        QTest::newRow("count not a number") << encodeLines({ header, "10", "два" }) + row << true;
        QTest::newRow("count with trailing blank")
            << encodeLines({ header, "10", "2 " }) + row << true;
        QTest::newRow("count 1320") << encodeLines({ header, "10", "1320" }) + row << false;
        QTest::newRow("count -1") << encodeLines({ header, "10", "-1" }) + row << false;
        QTest::newRow("count $FFFFFFFF")
            << encodeLines({ header, "10", "$FFFFFFFF" }) + row << false;
        QTest::newRow("count 0") << encodeLines({ header, "10", "0" }) << false;
        QTest::newRow("count 1") << encodeLines({ header, "10", "1" }) << false;
    }
    void readErrors()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, format);
        Doc d;
        d.list.setRowCount(3);
        d.setRow(1, { "5", "Скрипт", "", "", "old" });
        d.setRow(2, { "6", "Скрипт", "", "", "old" });
        d.ui.windowTitle = QStringLiteral("Ормелин для Тарвикса /before.orm *");
        const QString p = listFile(QStringLiteral("broken.orm"), bytes);
        QVERIFY(!d.load(p));
        QCOMPARE(d.ui.messages, QStringList { format ? formatError(p) : readError(p) });
        // Every check comes before the list is touched.
        QCOMPARE(d.list.rowCount(), 3);
        QCOMPARE(d.row(2), QStringList({ "6", "Скрипт", "", "", "old" }));
        QCOMPARE(d.ui.windowTitle, QStringLiteral("Ормелин для Тарвикса /before.orm *"));
        QCOMPARE(d.document.listPath(), p); // remembered all the same
        // The same file read silently says nothing.
        d.ui.messages.clear();
        QVERIFY(!d.document.readListFile(p, false, 0));
        QCOMPARE(d.ui.messages, QStringList());
    }

    void unreadablePaths_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing") << "missing";
        QTest::newRow("folder") << "folder";
        QTest::newRow("fifo") << "fifo"; // opening would wait for a writer forever
        QTest::newRow("longer than 259 bytes") << "long";
    }
    void unreadablePaths()
    {
        QFETCH(QString, kind);
        QString p;
        if (kind == "missing") {
            p = path(QStringLiteral("nothing here.orm"));
        } else if (kind == "folder") {
            p = path(QStringLiteral("folder.orm"));
            QVERIFY(QDir().mkpath(p));
        } else if (kind == "fifo") {
            p = path(QStringLiteral("pipe.orm"));
            QVERIFY(mkfifo(QFile::encodeName(p).constData(), 0600) == 0);
        } else {
            // A valid list under a path of 260 bytes that is well below 259 characters.
            Doc src;
            fillRandom(src.list, 3, 9);
            p = pathOfBytes(260);
            QVERIFY(listtest::writeBytes(p, *listfile::encode(src.list)));
        }
        Doc d;
        QVERIFY(!d.load(p));
        QCOMPARE(d.ui.messages, QStringList { readError(p) });
        QCOMPARE(d.list.rowCount(), 2);
    }

    void pathAtTheLimit()
    {
        Doc a;
        fillRandom(a.list, 4, 11);
        const QString p = pathOfBytes(kMaxPathBytes);
        QCOMPARE(QFile::encodeName(p).size(), kMaxPathBytes);
        QVERIFY(a.save(p));
        Doc b;
        QVERIFY(b.load(p));
        QCOMPARE(b.row(3), a.row(3));

        // Cyrillic letters take two bytes each: 130 of them are too long.
        const QString cyrillic = m_tmp.path() + u'/' + QString(130, u'ж');
        QVERIFY(QFile::encodeName(cyrillic).size() > kMaxPathBytes);
        QVERIFY(!a.save(cyrillic));
        QCOMPARE(a.ui.messages, QStringList { writeError(cyrillic) });
        QVERIFY(!QFileInfo::exists(cyrillic));
    }

    void fileEndingEarlyLeavesRemainingCells()
    {
        Doc d;
        d.list.setRowCount(5);
        for (int r = 1; r < 5; ++r)
            d.setRow(r, { "old", "old", "old", "old", "old" });
        const QString p = listFile(QStringLiteral("short.orm"),
            encodeLines(
                headerLines("4") + QStringList { "1", "Скрипт", "", "", "a", "2", "Скрипт" }));
        QVERIFY(d.load(p)); // not an error
        QCOMPARE(d.list.rowCount(), 4);
        QCOMPARE(d.row(1), QStringList({ "1", "Скрипт", "", "", "a" }));
        QCOMPARE(d.row(2), QStringList({ "2", "Скрипт", "old", "old", "old" }));
        QCOMPARE(d.row(3), QStringList({ "old", "old", "old", "old", "old" }));
        QCOMPARE(d.list.cell(4, ColNumber), QStringLiteral("old")); // hidden, kept
        QCOMPARE(d.ui.windowTitle, QStringLiteral("Ормелин для Тарвикса ") + p);
    }

    void largestCountEndingEarly()
    {
        Doc d;
        const QString p = listFile(QStringLiteral("1319.orm"),
            encodeLines(headerLines("1319") + QStringList { "3", "Скрипт" }));
        QVERIFY(d.load(p));
        QCOMPARE(d.list.rowCount(), 1319);
        QCOMPARE(d.list.cell(1, ColType), QStringLiteral("Скрипт"));
        QCOMPARE(d.list.cell(1318, ColNumber), QString());
    }

    void absurdButReadable()
    {
        // A cell of 4 MB in one line, with a CR every so often.
        QByteArray huge(4 * 1024 * 1024, 'z');
        for (qsizetype i = 0; i < huge.size(); i += 4096)
            huge[i] = '\r';
        const QString p = listFile(QStringLiteral("huge.orm"),
            encodeLines(headerLines("2") + QStringList { "1", "Скрипт", "", "" }) + huge);
        Doc d;
        QVERIFY(d.load(p));
        QCOMPARE(d.list.cell(1, ColFile).size(), huge.size() - 1024);
        QVERIFY(!d.list.cell(1, ColFile).contains(u'\r'));

        // A header line of 4 MB is refused without fuss.
        const QString q
            = listFile(QStringLiteral("hugeheader.orm"), QByteArray(4 * 1024 * 1024, 'x'));
        Doc e;
        QVERIFY(!e.load(q));
        QCOMPARE(e.ui.messages, QStringList { readError(q) });
    }

    // ---- Reading: what a loaded list holds -----------------------------------------------------

    // A loaded list holds the file's bytes, not a string per cell, and no more than that.
    void loadedListHoldsTheFileOnce()
    {
        Doc a;
        fillRandom(a.list, 1319, 31);
        const QString p = path(QStringLiteral("held.orm"));
        QVERIFY(a.save(p));
        const qsizetype fileSize = QFileInfo(p).size();
        Doc b;
        for (int i = 0; i < 5; ++i) {
            QVERIFY(b.load(p));
            QVERIFY(b.list.heldEncodedBytes() >= listtest::encodedBytesInUse(b.list, 1319));
            QVERIFY(b.list.heldEncodedBytes() <= fileSize + 1);
        }
        for (int r = 1; r < 1319; r += 97)
            QCOMPARE(b.row(r), a.row(r));
        QVERIFY(b.list.storedCell(1, ColFile).isEncoded() || b.list.cell(1, ColFile).isEmpty());
    }

    // Loads and appends one after another, some of files that end early and leave earlier
    // cells in place: the buffers held stay within four times the bytes the cells use, and
    // every cell reads as the plain way of reading the same files gives.
    void loadsAndAppendsStayBounded()
    {
        QRandomGenerator rng(41);
        Doc d;
        ObjectList expected;
        const QByteArray header = encodeLines(headerLines("1319"));
        for (int round = 0; round < 12; ++round) {
            Doc src;
            fillRandom(src.list, rng.bounded(2, 300), 100 + round);
            QByteArray bytes = *listfile::encode(src.list);
            if (rng.bounded(3) == 0) // mid-line, past the header
                bytes.truncate(rng.bounded(int(header.size()), int(bytes.size())));
            const QString p = listFile(QStringLiteral("round%1.orm").arg(round), bytes);
            const bool append = rng.bounded(2) == 0;
            loadLineByLine(expected, bytes, append ? expected.rowCount() - 1 : 0);
            d.ui.openChoices.enqueue(p);
            if (append)
                d.document.appendList();
            else
                d.document.loadList();
            QCOMPARE(d.ui.messages, QStringList());

            const int rows = d.list.rowCount() + listfile::kMaxRowCount;
            QVERIFY(d.list.heldEncodedBytes() <= 4 * listtest::encodedBytesInUse(d.list, rows));
            QCOMPARE(d.list.rowCount(), expected.rowCount());
            for (int r = 0; r < rows; ++r) {
                for (int c = 0; c < kColumnCount; ++c)
                    QCOMPARE(d.list.cell(r, c), expected.cell(r, c));
            }
        }
    }

    // What lies beyond the last cell is never kept, even when it was read with the cells.
    void bytesAfterTheLastCellAreLetGo()
    {
        QByteArray bytes = encodeLines(headerLines("3")
            + QStringList { "1", "Скрипт", "", "", "a", "2", "Скрипт", "", "", "b" });
        const QByteArray junk(64, 'j');
        while (bytes.size() < 3 * 1024 * 1024)
            bytes += junk + "\r\n";
        Doc d;
        QVERIFY(d.load(listFile(QStringLiteral("junk.orm"), bytes)));
        QCOMPARE(d.row(2), QStringList({ "2", "Скрипт", "", "", "b" }));
        QVERIFY(d.list.heldEncodedBytes() <= 4 * listtest::encodedBytesInUse(d.list, 3));
        QVERIFY(d.list.heldEncodedBytes() < 4096);
    }

    // The bytes are copied as they are read: the caller's may go away at once.
    void bytesReadFromMemoryAreNotReferredTo()
    {
        Doc a;
        fillRandom(a.list, 40, 51);
        ObjectList list;
        {
            QByteArray bytes = *listfile::encode(a.list);
            QCOMPARE(listfile::readBytes(bytes, list, 0), listfile::ReadResult::Ok);
            bytes.fill('x');
        }
        for (int r = 1; r < 40; ++r) {
            for (int c = 0; c < kColumnCount; ++c)
                QCOMPARE(list.cell(r, c), a.list.cell(r, c));
        }
    }

    // Cells loaded with a CR inside them are saved without it, like the texts they read as.
    void loadedCellsSaveAsTheyRead()
    {
        const QByteArray head = encodeLines(headerLines("3"));
        const QByteArray loaded = head
            + "1\r\na\rb\r\n\r\r\n\r\n\xe0\x98\r\r\n"
              "2\n\rc\nw\rh\n\r\n\xff";
        Doc d;
        QVERIFY(d.load(listFile(QStringLiteral("crs.orm"), loaded)));
        QCOMPARE(d.row(1), QStringList({ "1", "ab", "", "", QStringLiteral("а\u0098") }));
        QCOMPARE(d.row(2), QStringList({ "2", "c", "wh", "", "я" }));
        const QString p = path(QStringLiteral("crs saved.orm"));
        QVERIFY(d.save(p));
        Doc typed;
        typed.list.setRowCount(3);
        typed.setRow(1, d.row(1));
        typed.setRow(2, d.row(2));
        QCOMPARE(listtest::readBytes(p), *listfile::encode(typed.list));
        QCOMPARE(listtest::readBytes(p),
            head + "1\r\nab\r\n\r\n\r\n\xe0\x98\r\n2\r\nc\r\nwh\r\n\r\n\xff\r\n");
    }

    void readingLeavesTheFileAlone()
    {
        Doc a;
        fillRandom(a.list, 6, 21);
        const QString p = path(QStringLiteral("untouched.orm"));
        QVERIFY(a.save(p));
        QVERIFY(QFile::setPermissions(p, QFile::ReadOwner | QFile::ReadGroup));
        const QByteArray before = listtest::readBytes(p);
        const QDateTime modified = QFileInfo(p).lastModified();
        Doc b;
        QVERIFY(b.load(p));
        b.ui.openChoices.enqueue(p);
        b.document.appendList();
        QCOMPARE(listtest::readBytes(p), before);
        QCOMPARE(QFileInfo(p).lastModified(), modified);
        QCOMPARE(QFileInfo(p).permissions() & QFile::WriteOwner, QFile::Permissions());
    }

    // ---- Append list --------------------------------------------------------------------------

    void appendFollowsTheLastRow()
    {
        Doc src;
        src.list.setRowCount(3);
        src.setRow(1, { "20", "Скрипт", "", "", "s20" });
        src.setRow(2, { "21", "Моноширинный шрифт", "6", "8", "m21" });
        const QString p = path(QStringLiteral("two.orm"));
        QVERIFY(src.save(p));

        Doc d;
        d.list.setRowCount(4);
        d.setRow(1, { "1", "Скрипт", "", "", "a" });
        d.setRow(2, { "2", "Скрипт", "", "", "b" });
        d.setRow(3, {}); // a free last row stays before the appended rows
        d.document.setListPath(QStringLiteral("/mine.orm"));
        d.ui.windowTitle = QStringLiteral("Ормелин для Тарвикса /mine.orm");
        d.ui.openChoices.enqueue(p);
        d.document.appendList();
        QCOMPARE(d.ui.messages, QStringList());
        QCOMPARE(d.list.rowCount(), 6);
        QCOMPARE(d.row(3), QStringList({ "", "", "", "", "" }));
        QCOMPARE(d.row(4), src.row(1));
        QCOMPARE(d.row(5), src.row(2));
        QCOMPARE(d.ui.windowTitle, QStringLiteral("Ормелин для Тарвикса /mine.orm"));
        QCOMPARE(d.document.listPath(), QStringLiteral("/mine.orm"));
    }

    void appendSmallCounts_data()
    {
        QTest::addColumn<QString>("count");
        QTest::addColumn<bool>("refused");
        QTest::newRow("count 1 adds nothing") << "1" << false;
        QTest::newRow("count 0 is refused") << "0" << true;
    }
    void appendSmallCounts()
    {
        QFETCH(QString, count);
        QFETCH(bool, refused);
        const QString p
            = listFile(QStringLiteral("count%1.orm").arg(count), encodeLines(headerLines(count)));
        for (const int rows : { 2, 4 }) {
            Doc d;
            d.list.setRowCount(rows);
            d.setRow(rows - 1, { "9", "Скрипт", "", "", "last" });
            d.ui.openChoices.enqueue(p);
            d.document.appendList();
            QCOMPARE(d.ui.messages, refused ? QStringList { readError(p) } : QStringList());
            QCOMPARE(d.list.rowCount(), rows);
            QCOMPARE(d.list.cell(rows - 1, ColFile), QStringLiteral("last"));
        }
    }

    void appendCancelledDoesNothing()
    {
        Doc d;
        d.ui.openChoices.enqueue(std::nullopt);
        d.document.appendList();
        d.ui.openChoices.enqueue(std::nullopt);
        d.document.loadList();
        QCOMPARE(d.ui.messages, QStringList());
        QCOMPARE(d.document.listPath(), QString());
        QCOMPARE(d.ui.windowTitle, initialWindowTitle());
    }

    // ---- Failed saves keep the old file ----------------------------------------------------

    void saveBeyondFileSizeLimitKeepsOldFile()
    {
        Doc old;
        fillRandom(old.list, 3, 31);
        const QString p = path(QStringLiteral("keep/list.orm"));
        QVERIFY(QDir().mkpath(QFileInfo(p).path()));
        QVERIFY(old.save(p));
        const QByteArray before = listtest::readBytes(p);

        Doc d;
        fillRandom(d.list, 200, 32);
        d.ui.windowTitle = QStringLiteral("Ормелин для Тарвикса /other.orm *");
        d.document.setListPath(QStringLiteral("/other.orm"));
        {
            FileSizeLimit limit(before.size() + 100); // room for the old list, not the new one
            QVERIFY(limit.ok());
            QVERIFY(!d.save(p));
        }
        QCOMPARE(d.ui.messages, QStringList { writeError(p) });
        QCOMPARE(listtest::readBytes(p), before);
        QCOMPARE(QDir(QFileInfo(p).path()).entryList(QDir::Files), QStringList { "list.orm" });
        QCOMPARE(d.ui.windowTitle, QStringLiteral("Ормелин для Тарвикса /other.orm *"));
        QCOMPARE(d.document.listPath(), QStringLiteral("/other.orm"));
    }

    void saveIntoVanishedFolder()
    {
        QString gone = path(QStringLiteral("gone"));
        QVERIFY(QDir().mkpath(gone));
        QVERIFY(QDir(gone).removeRecursively());
        const QString p = gone + QStringLiteral("/list.orm");
        Doc d;
        QVERIFY(!d.save(p));
        QCOMPARE(d.ui.messages, QStringList { writeError(p) });
        QCOMPARE(d.ui.windowTitle, initialWindowTitle());
    }

    void unwritableCellsKeepOldFile_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("cell");
        QTest::newRow("chinese file name") << 1 << QStringLiteral("/картинки/图片.jpg");
        QTest::newRow("greek") << 2 << QStringLiteral("αβγ");
        QTest::newRow("line feed") << 1 << QStringLiteral("a\nb");
        QTest::newRow("carriage return") << 2 << QStringLiteral("a\rb");
        QTest::newRow("end of file byte") << 1 << QStringLiteral("a\x1a");
        QTest::newRow("too many rows") << 1319 << QStringLiteral("x");
    }
    void unwritableCellsKeepOldFile()
    {
        QFETCH(int, row);
        QFETCH(QString, cell);
        const QString p = listFile(QStringLiteral("precious.orm"), QByteArray("old list\r\n"));
        Doc d;
        d.list.setRowCount(std::max(3, row + 1));
        d.list.setCell(row, ColFile, cell);
        QVERIFY(!d.save(p));
        QCOMPARE(d.ui.messages, QStringList { writeError(p) });
        QCOMPARE(listtest::readBytes(p), QByteArray("old list\r\n"));
    }

    // ---- Settings file ----------------------------------------------------------------------

    void startWithoutSettings()
    {
        QTemporaryDir empty;
        QVERIFY(QDir::setCurrent(empty.path()));
        Doc d;
        d.document.readSettingsFile();
        QCOMPARE(d.ui.windowTitle, initialWindowTitle());
        QCOMPARE(d.list.rowCount(), 2);
        QCOMPARE(d.row(1), QStringList({ "", "", "", "", "" }));
        QCOMPARE(d.document.listPath(), QString());
        QCOMPARE(d.ui.messages, QStringList());
    }

    void startWithSettings_data()
    {
        QTest::addColumn<QByteArray>("ini"); // "%1" stands for the list's path
        QTest::addColumn<bool>("loads");
        QTest::addColumn<QString>("remembered");
        QTest::newRow("path") << QByteArray("%1\r\n") << true << "%1";
        QTest::newRow("path without line end") << QByteArray("%1") << true << "%1";
        QTest::newRow("further lines ignored") << QByteArray("%1\r\nother\r\n") << true << "%1";
        QTest::newRow("empty file") << QByteArray() << false << "";
        QTest::newRow("empty line") << QByteArray("\r\n") << false << "";
        QTest::newRow("missing list") << QByteArray("nothing.orm\r\n") << false << "nothing.orm";
        QTest::newRow("not a list") << QByteArray("ormelin.ini\r\n") << false << "ormelin.ini";
    }
    void startWithSettings()
    {
        QFETCH(QByteArray, ini);
        QFETCH(bool, loads);
        QFETCH(QString, remembered);
        QTemporaryDir here;
        QVERIFY(QDir::setCurrent(here.path()));
        Doc src;
        fillRandom(src.list, 4, 41);
        const QString listPath = here.filePath(QStringLiteral("список.orm"));
        QVERIFY(src.save(listPath));
        const QByteArray encodedList = *toCp1251(listPath);
        QVERIFY(
            listtest::writeBytes(QStringLiteral("ormelin.ini"), ini.replace("%1", encodedList)));
        remembered.replace(QStringLiteral("%1"), listPath);

        Doc d;
        d.document.readSettingsFile();
        QCOMPARE(d.ui.messages, QStringList());
        QCOMPARE(d.document.listPath(), remembered);
        QCOMPARE(d.ui.windowTitle, QStringLiteral("Ормелин для Тарвикса ") + remembered);
        QCOMPARE(d.list.rowCount(), loads ? 4 : 2);
        if (loads)
            QCOMPARE(d.row(3), src.row(3));
    }

    void settingsPathTooLong()
    {
        QTemporaryDir here;
        QVERIFY(QDir::setCurrent(here.path()));
        Doc src;
        fillRandom(src.list, 3, 42);
        const QString listPath = pathOfBytes(260);
        QVERIFY(listtest::writeBytes(listPath, *listfile::encode(src.list)));
        QVERIFY(listtest::writeBytes(QStringLiteral("ormelin.ini"), *toCp1251(listPath)));
        Doc d;
        d.document.readSettingsFile();
        QCOMPARE(d.list.rowCount(), 2); // refused, silently
        QCOMPARE(d.ui.messages, QStringList());
    }

    void settingsWrittenInTheCurrentFolder()
    {
        QTemporaryDir first;
        QTemporaryDir second;
        Doc d;
        d.document.setListPath(QStringLiteral("/списки/главный.orm"));
        QVERIFY(QDir::setCurrent(first.path()));
        d.document.writeSettingsFile();
        QVERIFY(QDir::setCurrent(second.path()));
        d.document.setListPath(QStringLiteral("/b.orm"));
        d.document.writeSettingsFile();
        QCOMPARE(listtest::readBytes(first.filePath("ormelin.ini")),
            *toCp1251(u"/списки/главный.orm\r\n"));
        QCOMPARE(listtest::readBytes(second.filePath("ormelin.ini")), QByteArray("/b.orm\r\n"));
        QCOMPARE(QDir(first.path()).entryList(QDir::Files), QStringList { "ormelin.ini" });
    }

    void settingsAfterClearListHoldAnEmptyLine()
    {
        QTemporaryDir here;
        QVERIFY(QDir::setCurrent(here.path()));
        Doc d;
        ListEditor editor(d.list, d.document, d.ui);
        d.document.setListPath(QStringLiteral("/a.orm"));
        d.ui.answers.enqueue(true);
        editor.clearList();
        d.document.saveOnClose(); // unchanged: nothing asked
        QCOMPARE(d.ui.questions, QStringList { "Удалить все записи из списка?" });
        QCOMPARE(listtest::readBytes(QStringLiteral("ormelin.ini")), QByteArray("\r\n"));
    }

    void unwritableSettingsKeepOldFile_data()
    {
        QTest::addColumn<QString>("listPath");
        QTest::newRow("chinese") << QStringLiteral("/列表.orm");
        QTest::newRow("line feed") << QStringLiteral("/a\nb.orm");
    }
    void unwritableSettingsKeepOldFile()
    {
        QFETCH(QString, listPath);
        QTemporaryDir here;
        QVERIFY(QDir::setCurrent(here.path()));
        QVERIFY(listtest::writeBytes(QStringLiteral("ormelin.ini"), "/old.orm\r\n"));
        Doc d;
        d.document.setListPath(listPath);
        d.document.writeSettingsFile();
        QCOMPARE(listtest::readBytes(QStringLiteral("ormelin.ini")), QByteArray("/old.orm\r\n"));
    }

    // ---- Shutdown ---------------------------------------------------------------------------

    void saveOnClose_data()
    {
        QTest::addColumn<bool>("changed");
        QTest::addColumn<QList<bool>>("answers");
        QTest::addColumn<bool>("dialogOk");
        QTest::addColumn<bool>("saved");
        QTest::newRow("unchanged") << false << QList<bool> {} << false << false;
        QTest::newRow("changed, no") << true << QList<bool> { false } << false << false;
        QTest::newRow("changed, yes, cancelled") << true << QList<bool> { true } << false << false;
        QTest::newRow("changed, yes, saved") << true << QList<bool> { true } << true << true;
    }
    void saveOnClose()
    {
        QFETCH(bool, changed);
        QFETCH(QList<bool>, answers);
        QFETCH(bool, dialogOk);
        QFETCH(bool, saved);
        QTemporaryDir here;
        QVERIFY(QDir::setCurrent(here.path()));
        Doc d;
        fillRandom(d.list, 3, 51);
        const QString listPath = here.filePath(QStringLiteral("close.orm"));
        d.document.setListPath(listPath);
        d.ui.windowTitle = windowTitleFor(listPath) + (changed ? " *" : "");
        for (bool a : answers)
            d.ui.answers.enqueue(a);
        if (!answers.isEmpty() && answers.first())
            d.ui.saveChoices.enqueue(dialogOk ? std::optional<QString>(listPath) : std::nullopt);

        d.document.saveOnClose();

        QCOMPARE(d.ui.questions,
            changed ? QStringList { "Сохранить измененный список в файле?" } : QStringList());
        if (!answers.isEmpty() && answers.first())
            QCOMPARE(d.ui.saveSuggestions, QStringList { listPath });
        QCOMPARE(QFileInfo::exists(listPath), saved);
        QCOMPARE(listtest::readBytes(QStringLiteral("ormelin.ini")), *toCp1251(listPath + "\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestListFile)
#include "tst_listfile.moc"
