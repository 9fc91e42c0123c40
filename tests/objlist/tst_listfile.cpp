#include "common/cp1251.h"
#include "common/filepath.h"
#include "objlist/changemark.h"
#include "objlist/listdocument.h"
#include "objlist/listeditor.h"
#include "objlist/listfile.h"
#include "objlist/objectlist.h"

#include "fakeoperator.h"
#include "listrows.h"
#include "testfiles.h"

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

// The message, then the reason on a line of its own.
QString writeError(const QString &path, const QString &reason)
{
    return QStringLiteral("Ошибка записи файла ") + path + u'\n' + reason;
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
    const int count = fromCp1251(lines.value(2)).remove(u'\r').toInt();
    list.setRowCount(offset + count);
    qsizetype next = 3;
    for (int r = offset + 1; r < offset + count; ++r) {
        for (int c = 0; c < kColumnCount && next < lines.size(); ++c)
            list.setCell(r, c, fromCp1251(lines[next++]).remove(u'\r'));
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
        if (!testfiles::writeFile(p, bytes))
            qFatal("cannot write test file");
        return p;
    }
    // A path of `length` characters of the letter after the scratch folder, its folders
    // created, none of them longer than the file system takes.
    QString pathOfLength(int length, QChar letter = u'f')
    {
        QString p = m_tmp.path();
        while (length - p.size() - 1 > 100) {
            p += u'/' + QString(60, letter);
            QDir().mkpath(p);
        }
        return p + u'/' + QString(length - p.size() - 1, letter);
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

        const QByteArray bytes = testfiles::readFile(p);
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
        QCOMPARE(testfiles::readFile(again), testfiles::readFile(p));
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

        // From a device, the lines are the same.
        ObjectList list;
        for (int c = 0; c < kColumnCount; ++c)
            list.setCell(1, c, QStringLiteral("keep"));
        QBuffer device(&bytes);
        QVERIFY(device.open(QIODevice::ReadOnly));
        QCOMPARE(listfile::readDevice(device, list, 0), listfile::ReadResult::Ok);
        for (int c = 0; c < kColumnCount; ++c)
            QCOMPARE(list.cell(1, c), row1[c]);
    }

    // A file cut by an 0x1A deep inside reads like the file that ends there.
    void endOfFileByteDeepInside()
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
            p = pathOfLength(260);
            QVERIFY(testfiles::writeFile(p, *listfile::encode(src.list)));
        }
        Doc d;
        QVERIFY(!d.load(p));
        QCOMPARE(d.ui.messages, QStringList { readError(p) });
        QCOMPARE(d.list.rowCount(), 2);
    }

    // Lengths count Windows-1251 bytes, one a letter, whatever the file system's encoding: a
    // Cyrillic path of 259 letters (518 bytes of UTF-8) is as good as a Latin one.
    void pathAtTheLimit_data()
    {
        QTest::addColumn<QChar>("letter");
        QTest::newRow("Latin") << QChar(u'f');
        QTest::newRow("Cyrillic") << QChar(u'ж');
    }
    void pathAtTheLimit()
    {
        QFETCH(QChar, letter);
        Doc a;
        fillRandom(a.list, 4, 11);
        const QString p = pathOfLength(kMaxPathBytes, letter);
        QCOMPARE(pathBytes(p), kMaxPathBytes);
        QVERIFY(a.save(p));
        Doc b;
        QVERIFY(b.load(p));
        QCOMPARE(b.row(3), a.row(3));

        const QString longer = pathOfLength(kMaxPathBytes + 1, letter);
        QFile::remove(longer);
        QVERIFY(!a.save(longer));
        QCOMPARE(a.ui.messages,
            QStringList { writeError(longer, QStringLiteral("Путь к файлу длиннее 259 байт")) });
        QVERIFY(!QFileInfo::exists(longer));
        QVERIFY(testfiles::writeFile(longer, testfiles::readFile(p)));
        QVERIFY(!b.load(longer));
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

    // Loads and appends one after another, some of files that end early and leave earlier
    // cells in place: every cell reads as the plain way of reading the same files gives.
    void loadsAndAppendsAgreeWithAPlainReading()
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
            QCOMPARE(d.list.rowCount(), expected.rowCount());
            for (int r = 0; r < rows; ++r) {
                for (int c = 0; c < kColumnCount; ++c)
                    QCOMPARE(d.list.cell(r, c), expected.cell(r, c));
            }
        }
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
        QCOMPARE(testfiles::readFile(p), *listfile::encode(typed.list));
        QCOMPARE(testfiles::readFile(p),
            head + "1\r\nab\r\n\r\n\r\n\xe0\x98\r\n2\r\nc\r\nwh\r\n\r\n\xff\r\n");
    }

    void readingLeavesTheFileAlone()
    {
        Doc a;
        fillRandom(a.list, 6, 21);
        const QString p = path(QStringLiteral("untouched.orm"));
        QVERIFY(a.save(p));
        QVERIFY(QFile::setPermissions(p, QFile::ReadOwner | QFile::ReadGroup));
        const QByteArray before = testfiles::readFile(p);
        const QDateTime modified = QFileInfo(p).lastModified();
        Doc b;
        QVERIFY(b.load(p));
        b.ui.openChoices.enqueue(p);
        b.document.appendList();
        QCOMPARE(testfiles::readFile(p), before);
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
        const QByteArray before = testfiles::readFile(p);

        Doc d;
        fillRandom(d.list, 200, 32);
        d.ui.windowTitle = QStringLiteral("Ормелин для Тарвикса /other.orm *");
        d.document.setListPath(QStringLiteral("/other.orm"));
        {
            FileSizeLimit limit(before.size() + 100); // room for the old list, not the new one
            QVERIFY(limit.ok());
            QVERIFY(!d.save(p));
        }
        // The system's own words say why.
        QCOMPARE(d.ui.messages.size(), 1);
        QVERIFY2(
            d.ui.messages[0].startsWith(writeError(p, QString())), qPrintable(d.ui.messages[0]));
        QVERIFY(d.ui.messages[0].size() > writeError(p, QString()).size());
        QCOMPARE(testfiles::readFile(p), before);
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
        QCOMPARE(d.ui.messages.size(), 1);
        QVERIFY(d.ui.messages[0].startsWith(writeError(p, QString())));
        QVERIFY(d.ui.messages[0].size() > writeError(p, QString()).size());
        QCOMPARE(d.ui.windowTitle, initialWindowTitle());
    }

    // The reason names the row and the character, or the number of rows.
    void unwritableCellsKeepOldFile_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("cell");
        QTest::addColumn<QString>("reason");
        const QString noForm = QStringLiteral("нельзя записать в кодировке Windows-1251");
        const QString breaks = QStringLiteral("разорвал бы строку файла");
        QTest::newRow("chinese file name") << 1 << QStringLiteral("/картинки/图片.jpg")
                                           << "Строка 1: символ \"图\" (U+56FE) " + noForm;
        QTest::newRow("greek") << 2 << QStringLiteral("αβγ")
                               << "Строка 2: символ \"α\" (U+03B1) " + noForm;
        QTest::newRow("umlaut in a folder") << 7 << QStringLiteral("/home/Müller/a.bmp")
                                            << "Строка 7: символ \"ü\" (U+00FC) " + noForm;
        QTest::newRow("beyond the basic plane")
            << 3 << QStringLiteral("a😀") << "Строка 3: символ \"😀\" (U+1F600) " + noForm;
        QTest::newRow("lone surrogate")
            << 4 << QString(QChar(0xD800)) << "Строка 4: символ U+D800 " + noForm;
        QTest::newRow("line feed")
            << 1 << QStringLiteral("a\nb") << "Строка 1: символ U+000A " + breaks;
        QTest::newRow("carriage return")
            << 2 << QStringLiteral("a\rb") << "Строка 2: символ U+000D " + breaks;
        QTest::newRow("end of file byte")
            << 1 << QStringLiteral("a\x1a") << "Строка 1: символ U+001A " + breaks;
        QTest::newRow("too many rows")
            << 1319 << QStringLiteral("x")
            << QStringLiteral("Строк в списке: 1319, а в файле списка их может быть не более 1318");
    }
    void unwritableCellsKeepOldFile()
    {
        QFETCH(int, row);
        QFETCH(QString, cell);
        QFETCH(QString, reason);
        const QString p = listFile(QStringLiteral("precious.orm"), QByteArray("old list\r\n"));
        Doc d;
        d.list.setRowCount(std::max(8, row + 1));
        d.list.setCell(row, ColFile, cell);
        QVERIFY(!d.save(p));
        QCOMPARE(d.ui.messages, QStringList { writeError(p, reason) });
        QCOMPARE(testfiles::readFile(p), QByteArray("old list\r\n"));
        QString encodeReason;
        QVERIFY(!listfile::encode(d.list, &encodeReason));
        QCOMPARE(encodeReason, reason);
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
            testfiles::writeFile(QStringLiteral("ormelin.ini"), ini.replace("%1", encodedList)));
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
        const QString listPath = pathOfLength(260);
        QVERIFY(testfiles::writeFile(listPath, *listfile::encode(src.list)));
        QVERIFY(testfiles::writeFile(QStringLiteral("ormelin.ini"), *toCp1251(listPath)));
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
        QCOMPARE(testfiles::readFile(first.filePath("ormelin.ini")),
            *toCp1251(u"/списки/главный.orm\r\n"));
        QCOMPARE(testfiles::readFile(second.filePath("ormelin.ini")), QByteArray("/b.orm\r\n"));
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
        QCOMPARE(testfiles::readFile(QStringLiteral("ormelin.ini")), QByteArray("\r\n"));
    }

    // A path the settings file cannot hold is never replaced by the one before: the next start
    // shows an empty list rather than an older, different one.
    void unwritableSettingsHoldAnEmptyLine_data()
    {
        QTest::addColumn<QString>("listPath");
        QTest::newRow("chinese") << QStringLiteral("/列表.orm");
        QTest::newRow("umlaut in a folder") << QStringLiteral("/home/Müller/список.orm");
        QTest::newRow("line feed") << QStringLiteral("/a\nb.orm");
    }
    void unwritableSettingsHoldAnEmptyLine()
    {
        QFETCH(QString, listPath);
        QTemporaryDir here;
        QVERIFY(QDir::setCurrent(here.path()));
        QVERIFY(testfiles::writeFile(QStringLiteral("ormelin.ini"), "/old.orm\r\n"));
        QVERIFY(!listfile::writeSettings(listPath));
        QCOMPARE(testfiles::readFile(QStringLiteral("ormelin.ini")), QByteArray("\r\n"));
        Doc d;
        d.document.readSettingsFile();
        QCOMPARE(d.document.listPath(), QString());
        QCOMPARE(d.list.rowCount(), 2);
    }

    // ---- Shutdown ---------------------------------------------------------------------------

    void saveOnClose_data()
    {
        QTest::addColumn<bool>("changed");
        QTest::addColumn<QList<bool>>("answers");
        QTest::addColumn<bool>("dismissed"); // the question left unanswered
        QTest::addColumn<bool>("dialogOk");
        QTest::addColumn<bool>("saved");
        QTest::addColumn<QString>("cell"); // put into row 2 before closing
        QTest::addColumn<bool>("closes");
        QTest::newRow("unchanged")
            << false << QList<bool> {} << false << false << false << "" << true;
        QTest::newRow("changed, no")
            << true << QList<bool> { false } << false << false << false << "" << true;
        QTest::newRow("changed, yes, cancelled")
            << true << QList<bool> { true } << false << false << false << "" << true;
        // Closing the box without an answer calls the close off, and nothing is written.
        QTest::newRow("changed, dismissed")
            << true << QList<bool> {} << true << false << false << "" << false;
        QTest::newRow("changed, yes, saved")
            << true << QList<bool> { true } << false << true << true << "" << true;
        // The list stays, and so does the settings file: it must not name a file never written.
        QTest::newRow("changed, yes, cell without a form")
            << true << QList<bool> { true } << false << true << false << "/home/Müller/a.bmp"
            << false;
        QTest::newRow("changed, no, cell without a form")
            << true << QList<bool> { false } << false << false << false << "/home/Müller/a.bmp"
            << true;
    }
    void saveOnClose()
    {
        QFETCH(bool, changed);
        QFETCH(QList<bool>, answers);
        QFETCH(bool, dismissed);
        QFETCH(bool, dialogOk);
        QFETCH(bool, saved);
        QFETCH(QString, cell);
        QFETCH(bool, closes);
        QTemporaryDir here;
        QVERIFY(QDir::setCurrent(here.path()));
        Doc d;
        fillRandom(d.list, 3, 51);
        if (!cell.isEmpty())
            d.list.setCell(2, ColFile, cell);
        const QString row2 = d.list.cell(2, ColFile);
        const QString listPath = here.filePath(QStringLiteral("close.orm"));
        d.document.setListPath(listPath);
        d.ui.windowTitle = windowTitleFor(listPath) + (changed ? " *" : "");
        for (bool a : answers)
            d.ui.answers.enqueue(a);
        d.ui.dismissNext = dismissed;
        if (!answers.isEmpty() && answers.first())
            d.ui.saveChoices.enqueue(dialogOk ? std::optional<QString>(listPath) : std::nullopt);

        QCOMPARE(d.document.saveOnClose(), closes);

        QCOMPARE(d.ui.questions,
            changed ? QStringList { "Сохранить измененный список в файле?" } : QStringList());
        if (!answers.isEmpty() && answers.first())
            QCOMPARE(d.ui.saveSuggestions, QStringList { listPath });
        QCOMPARE(QFileInfo::exists(listPath), saved);
        QCOMPARE(QFileInfo::exists(QStringLiteral("ormelin.ini")), closes);
        if (closes) {
            QCOMPARE(
                testfiles::readFile(QStringLiteral("ormelin.ini")), *toCp1251(listPath + "\r\n"));
        } else {
            QCOMPARE(d.ui.messages.size(), dismissed ? 0 : 1);
            QCOMPARE(d.list.cell(2, ColFile), row2);
            QCOMPARE(d.document.listPath(), listPath);
            QVERIFY(isChanged(d.ui));
        }
    }

    // With nobody to answer, a changed list goes to a file of its own, whatever it holds, and
    // the next start says where.
    void closeUnattended_data()
    {
        QTest::addColumn<bool>("changed");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("cell"); // put into row 2
        QTest::addColumn<QString>("extension"); // of the file kept; empty for none
        QTest::newRow("unchanged") << false << 4 << ""
                                   << "";
        QTest::newRow("changed") << true << 4 << ""
                                 << ".orm";
        QTest::newRow("cell without a form") << true << 4 << "/home/Müller/a.bmp"
                                             << ".txt";
        QTest::newRow("line feed in a cell") << true << 4 << "a\nb"
                                             << ".txt";
        QTest::newRow("too many rows") << true << 1400 << ""
                                       << ".txt";
    }
    void closeUnattended()
    {
        QFETCH(bool, changed);
        QFETCH(int, rows);
        QFETCH(QString, cell);
        QFETCH(QString, extension);
        QTemporaryDir here;
        QVERIFY(QDir::setCurrent(here.path()));
        const QString folder = here.filePath(QStringLiteral("данные/ормелин"));
        Doc d;
        fillRandom(d.list, rows, 52);
        if (!cell.isEmpty())
            d.list.setCell(2, ColFile, cell);
        d.document.setListPath(QStringLiteral("/old.orm"));
        d.ui.windowTitle = windowTitleFor(QStringLiteral("/old.orm")) + (changed ? " *" : "");

        const ListDocument::UnattendedClose outcome = d.document.closeUnattended(folder);
        QCOMPARE(d.ui.questions, QStringList());
        QCOMPARE(d.ui.messages, QStringList());
        QCOMPARE(outcome.failure, QString());
        QCOMPARE(testfiles::readFile(QStringLiteral("ormelin.ini")), QByteArray("/old.orm\r\n"));
        QCOMPARE(outcome.keptIn.isEmpty(), extension.isEmpty());
        QVERIFY(extension.isEmpty() || outcome.keptIn.endsWith(extension));

        Doc next;
        const std::optional<QString> notice = next.document.reportKeptList(folder);
        if (extension.isEmpty()) {
            QCOMPARE(next.ui.statuses, QStringList());
            QVERIFY(!notice);
            return;
        }
        QCOMPARE(notice.value_or(QString()), next.ui.status());
        QCOMPARE(QFileInfo(outcome.keptIn).path(), folder);
        QCOMPARE(next.ui.statuses,
            QStringList {
                "Список, не сохраненный при прошлом закрытии, записан в файл " + outcome.keptIn });
        // Said once.
        Doc third;
        third.document.reportKeptList(folder);
        QCOMPARE(third.ui.statuses, QStringList());

        // Every cell is there: a list file to load, or the same lines in UTF-8.
        if (extension == QLatin1String(".orm")) {
            QVERIFY(next.load(outcome.keptIn));
            for (int r = 1; r < rows; ++r)
                QCOMPARE(next.row(r), d.row(r));
        } else {
            const QStringList lines = QString::fromUtf8(testfiles::readFile(outcome.keptIn))
                                          .split(QStringLiteral("\r\n"));
            QCOMPARE(lines.size(), 3 + (rows - 1) * kColumnCount + 1);
            QCOMPARE(lines[2], QString::number(rows));
            for (int r = 1; r < rows; ++r)
                QCOMPARE(lines.mid(3 + (r - 1) * kColumnCount, kColumnCount), d.row(r));
        }
    }

    void closeUnattendedWhereNothingCanBeWritten()
    {
        QTemporaryDir here;
        QVERIFY(QDir::setCurrent(here.path()));
        QVERIFY(testfiles::writeFile(QStringLiteral("a file"), "x"));
        Doc d;
        fillRandom(d.list, 3, 53);
        d.ui.windowTitle = windowTitleFor(QString()) + " *";
        const ListDocument::UnattendedClose outcome
            = d.document.closeUnattended(here.filePath(QStringLiteral("a file/below")));
        QCOMPARE(outcome.keptIn, QString());
        QVERIFY(!outcome.failure.isEmpty());
        QCOMPARE(testfiles::readFile(QStringLiteral("ormelin.ini")), QByteArray("\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestListFile)
#include "tst_listfile.moc"
