// Bad input from the disk: object files that are folders, FIFOs, sockets, devices, unreadable
// kernel files, or gone by the time of the write; list files with absurd lines, loaded through
// the operator's own operations and then written. Each case gets a clear message, the write
// stops where its rules say, the list and the files stay as they were, and nothing waits for
// ever: a FIFO named in a cell must not block the program.
#include "link_rig.h"
#include "listrows.h"
#include "oddfiles.h"

#include "common/cp1251.h"
#include "objlist/listdocument.h"
#include "objlist/listfile.h"
#include "payload/payload.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

using namespace ormelin;
using namespace std::chrono_literals;
using oddfiles::FifoRescue;
using oddfiles::SocketFile;
using testfiles::pattern;

namespace {

constexpr int kWait = 10000;
constexpr auto kPatience = 3000ms; // far beyond any open that does not wait

QByteArray digest(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

} // namespace

class TestRelFiles : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // A file system object of the given kind at a fresh path ending in `suffix`: its path.
    QString make(const QString &kind, const QString &suffix)
    {
        return oddfiles::make(kind, m_dir.filePath(kind + suffix));
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // ---- Payload: only regular files are read ---------------------------------------------

    // None of these is an object file. Each is refused at once, as a file payload and as a
    // picture, without waiting for a writer or reading a device for ever.
    void onlyRegularFilesAreRead_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << "fifo";
        QTest::newRow("FIFO with a writer") << "fifo+writer";
        QTest::newRow("socket") << "socket";
        QTest::newRow("folder") << "folder";
        QTest::newRow("character device") << "/dev/zero";
        QTest::newRow("kernel file that fails to read") << "/proc/self/mem";
        QTest::newRow("removed") << "removed";
    }
    void onlyRegularFilesAreRead()
    {
        QFETCH(QString, kind);
        QList<std::shared_ptr<SocketFile>> sockets;
        QList<int> writers;
        const auto object = [&](const QString &suffix) -> QString {
            const QString name = QString::fromLatin1(QTest::currentDataTag()) + suffix;
            if (kind.startsWith(QLatin1Char('/'))) {
                // Reached through a link of the wanted name.
                const QString link = m_dir.filePath(name);
                return QFile::link(kind, link) ? link : QString();
            }
            if (kind == QLatin1String("socket")) {
                const QString path = m_dir.filePath(name);
                sockets << std::make_shared<SocketFile>(path);
                return sockets.last()->ok() ? path : QString();
            }
            const QString path
                = make(kind.section(QLatin1Char('+'), 0, 0), QLatin1Char('-') + name);
            if (!path.isEmpty() && kind.endsWith(QLatin1String("+writer"))) {
                const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK);
                if (fd < 0 || ::write(fd, "data", 4) != 4)
                    return QString();
                writers << fd;
            }
            return path;
        };
        const QString path = object(QStringLiteral(".scr"));
        const QString picturePath = object(QStringLiteral(".bmp"));
        QVERIFY(!path.isEmpty() && !picturePath.isEmpty());

        std::mutex writersLock;
        const auto closeWriters = [&] {
            std::lock_guard lock(writersLock);
            for (int &fd : writers) {
                if (fd >= 0)
                    ::close(fd);
                fd = -1;
            }
        };
        FifoRescue rescue(path, kPatience, closeWriters);
        FifoRescue pictureRescue(picturePath, kPatience, closeWriters);
        QElapsedTimer clock;
        clock.start();
        PayloadBuffer buffer;
        buffer.setSize(99);
        QCOMPARE(readFilePayload(path, buffer), std::nullopt);
        QCOMPARE(buffer.size(), 0);

        // A kernel file's size reads as 0: as a picture it is judged by that size and loads as
        // an empty picture, which keeps the holder's size.
        const bool opens = kind == QLatin1String("/proc/self/mem");
        PictureHolder picture;
        try {
            picture.load(picturePath);
            QVERIFY2(opens, "loaded");
        } catch (const PictureError &e) {
            QFAIL(qPrintable(QStringLiteral("picture failure: ") + e.text()));
        } catch (const Failure &e) {
            QVERIFY(!opens);
            QCOMPARE(e.text(),
                QStringLiteral("Cannot open file ") + QFileInfo(picturePath).absoluteFilePath());
        }
        QCOMPARE(picture.width(), 100);
        QCOMPARE(picture.height(), 34);

        rescue.dismiss();
        pictureRescue.dismiss();
        QVERIFY2(!rescue.rescued() && !pictureRescue.rescued(), "an open waited for a writer");
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        closeWriters();
    }

    // A name with a NUL in it (a list cell can hold one) is refused, not cut at the NUL: the
    // name up to it is a real file that must not be read in its place.
    void nameWithNulIsRefused()
    {
        const QString real = m_dir.filePath(QStringLiteral("real.scr"));
        {
            QFile f(real);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write("real"), 4);
        }
        PayloadBuffer buffer;
        QCOMPARE(readFilePayload(real + QChar(0) + QStringLiteral("tail"), buffer), std::nullopt);
        QCOMPARE(readFilePayload(real, buffer), std::optional<int32_t>(4));
    }

    // Regular files that are odd still read as they are: a kernel file whose size reads as 0
    // gives its bytes, and a name through a symbolic link is the file it names.
    void oddRegularFilesAreRead()
    {
        PayloadBuffer buffer;
        const auto proc = readFilePayload(QStringLiteral("/proc/self/status"), buffer);
        QVERIFY(proc.has_value());
        QVERIFY(*proc > 0);
        QVERIFY(
            QByteArray(reinterpret_cast<const char *>(buffer.data()), *proc).startsWith("Name:"));

        const QString target = m_dir.filePath(QStringLiteral("target.bin"));
        {
            QFile f(target);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(pattern(5000, 4)), 5000);
        }
        const QString link = m_dir.filePath(QStringLiteral("link.bin"));
        QVERIFY(QFile::link(target, link));
        QCOMPARE(readFilePayload(link, buffer), std::optional<int32_t>(5000));
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(buffer.data()), 5000), pattern(5000, 4));
    }

    // ---- The write to flash over such files ------------------------------------------------

    // ---- Absurd list files, loaded and written ---------------------------------------------

    // Loaded through the document as the operator does it: the file is only read; a file that
    // does not read leaves the list as it was with the document's message; one that reads puts
    // its absurd cells in the list as they are, and the write to flash then stops at the first
    // absurd row with that row's message, having sent only the good rows before it.
    void absurdListFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("loadMessage"); // "read", "format" or empty
        QTest::addColumn<QString>("writeMessageStart"); // for a list that loads; empty: completes
        QTest::addColumn<QList<int>>("sent");

        const QByteArray header = listtestLines(
            { QStringLiteral("Файл ресурсов для записи во флэш"), QStringLiteral("10") });
        const QByteArray good = listtestLines({ QStringLiteral("1"), QStringLiteral("Скрипт"),
            QString(), QString(), QStringLiteral("@GOOD@") });
        const QByteArray megabyte(1024 * 1024, '7');
        const QByteArray script = "\xd1\xea\xf0\xe8\xef\xf2"; // "Скрипт" in Windows-1251

        QTest::newRow("header line of 8 MB")
            << QByteArray(8 * 1024 * 1024, 'x') << "read" << QString() << QList<int>();
        QTest::newRow("row count line of 1 MB")
            << header + megabyte + "\r\n" + good << "format" << QString() << QList<int>();
        QTest::newRow("binary noise") << pattern(200000, 5) << "read" << QString() << QList<int>();
        QTest::newRow("count 1319, file ends after one row")
            << header + "1319\r\n" + good << "" << QString() << QList<int> { 1 };
        QTest::newRow("count 1319, file ends inside a cell")
            << header + "1319\r\n" + good + "2\r\n\xd1\xea\xf0"
            << "" << QString("Неизвестный тип объекта: ") << QList<int> { 1 };
        QTest::newRow("number cell of 1 MB")
            << header + "3\r\n" + good + megabyte + "\r\n" + script + "\r\n\r\n\r\n@GOOD@\r\n"
            << "" << QString("Ошибка в поле \"Номер объекта\"") << QList<int> { 1 };
        QTest::newRow("file name of 1 MB")
            << header + "3\r\n" + good + "2\r\n" + script + "\r\n\r\n\r\n" + megabyte + "\r\n"
            << "" << QString("Ошибка чтения файла 7777") << QList<int> { 1 };
        QTest::newRow("NUL in the file name")
            << header + "3\r\n" + good + "2\r\n" + script + "\r\n\r\n\r\n@GOOD@"
                + QByteArray(1, '\0') + "x\r\n"
            << "" << QString("Ошибка чтения файла ") << QList<int> { 1 };
        QTest::newRow("type with the byte that has no letter")
            << header + "3\r\n" + good + "2\r\n\xd1\xea\x98\xf0\xe8\xef\xf2\r\n\r\n\r\n@GOOD@\r\n"
            << "" << QString("Неизвестный тип объекта: ") << QList<int> { 1 };
        QTest::newRow("NUL bytes between rows, then a good row")
            << header + "3\r\n" + good + QByteArray(5, '\0') + "\r\n\r\n\r\n\r\n\r\n"
            << "" << QString("Ошибка в поле \"Номер объекта\"") << QList<int> { 1 };
    }
    void absurdListFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, loadMessage);
        QFETCH(QString, writeMessageStart);
        QFETCH(QList<int>, sent);
        LinkRig rig;
        ListDocument document(rig.list, rig.ui);
        QVERIFY(rig.startSim());
        QVERIFY(rig.connect());
        const QString goodPath = rig.file(QStringLiteral("good.scr"), pattern(400, 8));
        bytes.replace("@GOOD@", QFile::encodeName(goodPath));
        const QString listPath = rig.file(QStringLiteral("absurd.orm"), bytes);
        const QByteArray listDigest = digest(listPath);
        const QDateTime listTime = QFileInfo(listPath).lastModified();
        // What the operator had before: one row, kept when the load fails.
        rig.setRow(1, QStringLiteral("77"), TypeScript, goodPath);

        rig.ui.openChoices.enqueue(listPath);
        QElapsedTimer clock;
        clock.start();
        document.loadList();
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(digest(listPath), listDigest);
        QCOMPARE(QFileInfo(listPath).lastModified(), listTime);
        if (loadMessage == QLatin1String("read")) {
            QCOMPARE(rig.ui.messages,
                QStringList { QStringLiteral("Ошибка чтения файла ") + listPath
                    + QStringLiteral(". Файл имеет неверный формат или поврежден") });
        } else if (loadMessage == QLatin1String("format")) {
            QCOMPARE(
                rig.ui.messages, QStringList { QStringLiteral("Ошибка формата файла") + listPath });
        } else {
            QVERIFY2(rig.ui.messages.isEmpty(), qPrintable(rig.ui.messages.join(u'|')));
        }
        if (!loadMessage.isEmpty()) {
            QCOMPARE(rig.list.rowCount(), 2);
            QCOMPARE(listtest::rowCells(rig.list, 1),
                QStringList({ "77", objectTypeTexts().at(TypeScript), "", "", goodPath }));
            return;
        }
        QCOMPARE(listtest::rowCells(rig.list, 1),
            QStringList({ "1", objectTypeTexts().at(TypeScript), "", "", goodPath }));

        rig.ui.messages.clear();
        rig.writeToFlash();
        if (writeMessageStart.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(
                rig.ui.messages, QStringList { linktest::completion(0) }, kWait);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(rig.ui.messages.size(), 1, kWait);
            QVERIFY2(rig.ui.messages.first().startsWith(writeMessageStart),
                qPrintable(rig.ui.messages.first().left(200)));
            QVERIFY(!rig.ui.gaugeVisible);
        }
        QCOMPARE(rig.uploadedNumbers(), sent);
        QVERIFY(rig.failures.isEmpty());
        QCOMPARE(digest(listPath), listDigest);
    }

private:
    static QByteArray listtestLines(const QStringList &lines)
    {
        QByteArray out;
        for (const QString &line : lines)
            out += *toCp1251(line) + "\r\n";
        return out;
    }
};

QTEST_GUILESS_MAIN(TestRelFiles)
#include "tst_rel_files.moc"
