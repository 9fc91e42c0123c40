// Reading an object's file as its payload: bytes as they stand, cut at 1,900,001, and nothing
// at all on any failure.
#include "common/filepath.h"
#include "payload/payload.h"
#include "payloadpictures.h"
#include "testfiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace ormelin;
using testfiles::pattern;

namespace {

// Bytes that differ from their neighbours, so a shifted or repeated block shows.
// A path of `length` Cyrillic letters (two bytes each in UTF-8, one in Windows-1251) below
// `root`, in folders short enough for the file system.
QString cyrillicPath(const QString &root, int length)
{
    QString p = root;
    while (length - p.size() - 1 > 100) {
        p += u'/' + QString(60, u'ж');
        QDir().mkpath(p);
    }
    return p + u'/' + QString(length - p.size() - 1, u'ф');
}

} // namespace

class TestFilePayload : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    PayloadBuffer m_buffer; // one buffer for every case, as in the program

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void readsTheFirstBytes_data()
    {
        QTest::addColumn<int>("fileSize");
        QTest::addColumn<int>("expected");
        QTest::addColumn<int>("pathLength"); // of Cyrillic letters; 0 for a short Latin name
        QTest::newRow("empty script") << 0 << 0 << 0;
        QTest::newRow("one byte") << 1 << 1 << 0;
        QTest::newRow("a font") << 4099 << 4099 << 0;
        QTest::newRow("one under the cut") << 1900000 << 1900000 << 0;
        QTest::newRow("exactly the cut") << 1900001 << 1900001 << 0;
        QTest::newRow("one over the cut") << 1900002 << 1900001 << 0;
        QTest::newRow("2,000,000 bytes") << 2000000 << 1900001 << 0;
        // Lengths count Windows-1251 bytes, whatever the file system's encoding.
        QTest::newRow("259 Cyrillic letters") << 4099 << 4099 << 259;
    }
    void readsTheFirstBytes()
    {
        QFETCH(int, fileSize);
        QFETCH(int, expected);
        QFETCH(int, pathLength);
        const QByteArray content = pattern(fileSize);
        const QString path = pathLength > 0 ? cyrillicPath(m_dir.path(), pathLength)
                                            : m_dir.filePath(QStringLiteral("object.bin"));
        QCOMPARE(pathBytes(path), pathLength > 0 ? pathLength : pathBytes(path));
        QVERIFY(payloadtest::writeFile(path, content));
        m_buffer.setSize(123);
        const auto size = readFilePayload(path, m_buffer);
        QVERIFY(size.has_value());
        QCOMPARE(*size, expected);
        QCOMPARE(m_buffer.size(), expected);
        QVERIFY(std::memcmp(m_buffer.data(), content.constData(), std::size_t(expected)) == 0);
    }

    void failsWithNothing_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("missing file") << "missing";
        QTest::newRow("a folder") << "folder";
        QTest::newRow("no permission") << "unreadable";
        QTest::newRow("path too long") << "long";
        QTest::newRow("260 Cyrillic letters") << "long Cyrillic";
    }
    void failsWithNothing()
    {
        QFETCH(QString, what);
        QString path = m_dir.filePath(what);
        if (what == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(path));
        } else if (what == QLatin1String("unreadable")) {
            QVERIFY(payloadtest::writeFile(path, "secret"));
            QFile::setPermissions(path, QFileDevice::WriteOwner);
            QFile probe(path);
            if (probe.open(QIODevice::ReadOnly))
                QSKIP("running with rights that read any file");
        } else if (what == QLatin1String("long")) {
            // A real, readable file: refused for its path alone.
            QString dir = m_dir.path();
            while (dir.toUtf8().size() < kMaxPathBytes)
                dir += QStringLiteral("/a-rather-long-folder-name-%1").arg(dir.size());
            QVERIFY(QDir().mkpath(dir));
            path = dir + QStringLiteral("/script.txt");
            QVERIFY(payloadtest::writeFile(path, "print"));
        } else if (what == QLatin1String("long Cyrillic")) {
            path = cyrillicPath(m_dir.path(), 260);
            QVERIFY(payloadtest::writeFile(path, "print"));
        }
        m_buffer.setSize(77);
        QCOMPARE(readFilePayload(path, m_buffer), std::nullopt);
        QCOMPARE(m_buffer.size(), 0);
    }

    void relativePathsFollowTheCurrentFolder()
    {
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("one"))));
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("two"))));
        QVERIFY(payloadtest::writeFile(m_dir.filePath(QStringLiteral("one/s.txt")), "first"));
        QVERIFY(payloadtest::writeFile(m_dir.filePath(QStringLiteral("two/s.txt")), "second!"));
        const QString previous = QDir::currentPath();
        QDir::setCurrent(m_dir.filePath(QStringLiteral("one")));
        const auto first = readFilePayload(QStringLiteral("s.txt"), m_buffer);
        QDir::setCurrent(m_dir.filePath(QStringLiteral("two")));
        const auto second = readFilePayload(QStringLiteral("s.txt"), m_buffer);
        QDir::setCurrent(previous);
        QCOMPARE(first, std::optional<int32_t>(5));
        QCOMPARE(second, std::optional<int32_t>(7));
        QCOMPARE(
            QByteArray(reinterpret_cast<const char *>(m_buffer.data()), 7), QByteArray("second!"));
    }
};

QTEST_GUILESS_MAIN(TestFilePayload)
#include "tst_filepayload.moc"
