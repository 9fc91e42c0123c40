// Pictures and large files on their way to the controller: which size goes into the frame, which
// bytes follow it, which pictures are refused with a message, and which failures nobody in the
// write catches (they reach the general failure handler and leave the gauge shown).
#include "link/protocol.h"
#include "link_rig.h"
#include "payloadpictures.h"
#include "testpictures.h"

#include <QFileInfo>
#include <QTest>

using namespace ormelin;
using namespace payloadtest;
using linktest::le16;
using linktest::le24;
using testpictures::jpegFile;

namespace {

constexpr int kWait = 10000;

// A 24-bit bitmap whose pixels are all white, without building it pixel by pixel.
QByteArray whiteBitmap(int width, int height)
{
    BmpLayout l;
    l.width = width;
    l.height = height;
    l.pixels = QByteArray(((width * 3 + 3) / 4 * 4) * height, char(0xFF));
    return buildBmp(l);
}

QString imageFrame(int number, int width, int height, int kind, int size)
{
    return QStringLiteral("image-upload ")
        + QString::fromLatin1("aaaa31" + le16(uint32_t(number)) + le16(uint32_t(width))
            + le16(uint32_t(height)) + QByteArray(1, char(kind)).toHex() + le24(uint32_t(size))
            + "31");
}

} // namespace

class TestLinkPictures : public QObject
{
    Q_OBJECT

private slots:
    // Any picture the loader takes will do as a JPEG object: its bytes go as they are, behind
    // its width and height; an empty picture keeps the size before it (100 x 34 at first).
    void pictureAsJpegObject_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("JPEG 320 x 240") << "photo.jpg" << jpegFile(320, 240) << 320 << 240;
        QTest::newRow("JPEG, upper-case extension") << "PHOTO.JPEG" << jpegFile(16, 5) << 16 << 5;
        QTest::newRow("bitmap") << "three.bmp" << bmp24(3, 2, [](int, int) {
            return Rgb { 1, 2, 3 };
        }) << 3 << 2;
        QTest::newRow("icon") << "i.ico" << buildIcon({ { 48, 40 } }) << 48 << 40;
        QTest::newRow("Windows metafile")
            << "m.wmf" << buildPlaceableWmf(0, 0, 1440, 720, 1440) << 96 << 48;
        QTest::newRow("enhanced metafile") << "m.emf" << buildEmf(0, 0, 2540, 5080) << 96 << 192;
        QTest::newRow("zero-byte JPEG") << "empty.jpg" << QByteArray() << 100 << 34;
        QTest::newRow("zero-byte bitmap") << "empty.bmp" << QByteArray() << 100 << 34;
    }
    void pictureAsJpegObject()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(int, width);
        QFETCH(int, height);
        LinkRig rig;
        QVERIFY(rig.startConnected());
        rig.setRow(1, QStringLiteral("40"), TypeJpeg, rig.file(name, bytes));
        rig.writeToFlash();
        QTRY_COMPARE_WITH_TIMEOUT(rig.ui.messages.size(), 1, kWait);
        QCOMPARE(rig.ui.messages.first(),
            QStringLiteral("Передача успешно завершена. Передано %1 кБайт.")
                .arg(FlashWriter::kilobytesRoundedHalfEven(bytes.size())));
        QCOMPARE(rig.frames(), QStringList { imageFrame(40, width, height, 7, int(bytes.size())) });
        QVERIFY(rig.sim->log(QStringLiteral("payload"))
                    .first()
                    .startsWith(
                        QStringLiteral("payload code=31 number=40 size=%1 ").arg(bytes.size())));
        QVERIFY(QFile::exists(rig.sim->dumpDir() + QStringLiteral("/40.bin")));
        QCOMPARE(rig.sim->dumpFile(QStringLiteral("40.bin")), bytes);
    }

    // Empty pictures take the size of the picture loaded before them.
    void emptyPicturesKeepPreviousSize()
    {
        LinkRig rig;
        QVERIFY(rig.startConnected());
        rig.setRow(1, QStringLiteral("1"), TypeBitmap,
            rig.file(QStringLiteral("a.bmp"), bmp24(5, 3, [](int, int) {
                return Rgb { 255, 255, 255 };
            })));
        rig.setRow(2, QStringLiteral("2"), TypeJpeg, rig.file(QStringLiteral("e.bmp"), {}));
        rig.setRow(3, QStringLiteral("3"), TypeJpeg, rig.file(QStringLiteral("e.jpg"), {}));
        rig.writeToFlash();
        QTRY_COMPARE_WITH_TIMEOUT(rig.ui.messages.size(), 1, kWait);
        QCOMPARE(rig.frames(),
            QStringList({ imageFrame(1, 5, 3, 0, 30), imageFrame(2, 5, 3, 7, 0),
                imageFrame(3, 5, 3, 7, 0) }));
        // The controller stored both as objects of no bytes.
        for (const QString &empty : { QStringLiteral("/2.bin"), QStringLiteral("/3.bin") }) {
            QVERIFY(QFile::exists(rig.sim->dumpDir() + empty));
            QVERIFY(rig.sim->dumpFile(empty.mid(1)).isEmpty());
        }
    }

    // Bitmap objects travel as 16-bit pixels, top row first.
    void bitmapPixels_data()
    {
        QTest::addColumn<QByteArray>("bmp");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<QByteArray>("first"); // the top-left pixel
        QTest::addColumn<QByteArray>("last"); // the bottom-right pixel
        QTest::newRow("1 x 1 of (7, 7, 7)") << bmp24(1, 1,
            [](int, int) {
                return Rgb { 7, 7, 7 };
            }) << 1 << 1 << QByteArray::fromHex("0080")
                                            << QByteArray::fromHex("0080");
        // (0, 0, 100) at the top left; (198, 245, 100) at the bottom right, whose low bits
        // 6 + 5 + 4 exceed 10.
        QTest::newRow("100 x 50") << bmp24(100, 50,
            [](int x, int y) {
                return Rgb { uint8_t(2 * x), uint8_t(5 * y), 100 };
            }) << 100 << 50 << QByteArray::fromHex("0030")
                                  << QByteArray::fromHex("d8b3");
    }
    void bitmapPixels()
    {
        QFETCH(QByteArray, bmp);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, last);
        LinkRig rig;
        QVERIFY(rig.startConnected());
        rig.setRow(1, QStringLiteral("9"), TypeBitmap, rig.file(QStringLiteral("p.bmp"), bmp));
        rig.writeToFlash();
        QTRY_COMPARE_WITH_TIMEOUT(rig.ui.messages.size(), 1, kWait);
        const int size = width * height * 2;
        QCOMPARE(rig.frames(), QStringList { imageFrame(9, width, height, 0, size) });
        const QByteArray payload = rig.sim->dumpFile(QStringLiteral("9.bin"));
        QCOMPARE(payload.size(), size);
        QCOMPARE(payload.left(2).toHex(), first.toHex());
        QCOMPARE(payload.right(2).toHex(), last.toHex());
    }

    // The largest objects fit the write queue whole: a file of 2,000,000 bytes is cut to
    // 1,900,001, and a bitmap of 950,080 pixels fills the payload buffer all but two bytes.
    void largestObjects_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("frame");
        QByteArray big(2000000, '\0');
        for (int i = 0; i < big.size(); ++i)
            big[i] = char((i * 131) >> 3);
        QTest::newRow("2,000,000-byte script")
            << int(TypeScript) << "big.scr" << big << big.left(1900001)
            << QString::fromLatin1("script-upload aaaa58" + le16(77) + le24(1900001) + "58");
        QTest::newRow("320 x 2969 bitmap")
            << int(TypeBitmap) << "big.bmp" << whiteBitmap(320, 2969)
            << QByteArray(1900160, char(0xFF)) << imageFrame(77, 320, 2969, 0, 1900160);
    }
    void largestObjects()
    {
        QFETCH(int, type);
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, payload);
        QFETCH(QString, frame);
        LinkRig rig;
        QVERIFY(rig.startConnected());
        rig.setRow(1, QStringLiteral("77"), type, rig.file(name, bytes));
        rig.writeToFlash();
        QTRY_COMPARE_WITH_TIMEOUT(rig.ui.messages.size() + rig.failures.size(), 1, kWait);
        QCOMPARE(rig.failures, QStringList());
        QCOMPARE(rig.ui.messages.first(),
            QStringLiteral("Передача успешно завершена. Передано %1 кБайт.")
                .arg(FlashWriter::kilobytesRoundedHalfEven(payload.size())));
        QCOMPARE(rig.frames(), QStringList { frame });
        QVERIFY(rig.sim->dumpFile(QStringLiteral("77.bin")) == payload);
    }

    // Pictures refused with "Ошибка чтения изображения": nothing is sent, the gauge is hidden.
    void pictureRefused_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray pngBytes = testpictures::pictureFile(4, 4, qRgb(255, 255, 255), "PNG");
        BmpLayout twoPlanes;
        twoPlanes.width = 1;
        twoPlanes.height = 1;
        twoPlanes.planes = 2;
        twoPlanes.pixels = QByteArray(4, '\0');
        QTest::newRow("png as JPEG object") << int(TypeJpeg) << "p.png" << pngBytes;
        QTest::newRow("png as bitmap object") << int(TypeBitmap) << "p.png" << pngBytes;
        QTest::newRow("no extension") << int(TypeJpeg) << "photo" << jpegFile(8, 8);
        QTest::newRow("not a JPEG") << int(TypeJpeg) << "x.jpg" << QByteArray("not a picture");
        QTest::newRow("bitmap with two planes")
            << int(TypeBitmap) << "x.bmp" << buildBmp(twoPlanes);
        QTest::newRow("zero-byte bitmap as bitmap object")
            << int(TypeBitmap) << "e.bmp" << QByteArray();
        // 950,400 pixels: more than the payload buffer's 950,081.
        QTest::newRow("bitmap too large")
            << int(TypeBitmap) << "huge.bmp" << whiteBitmap(320, 2970);
    }
    void pictureRefused()
    {
        QFETCH(int, type);
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        LinkRig rig;
        QVERIFY(rig.startConnected());
        const QString path = rig.file(name, bytes);
        rig.setRow(1, QStringLiteral("5"), type, path);
        rig.writeToFlash();
        QCOMPARE(
            rig.ui.messages, QStringList { QStringLiteral("Ошибка чтения изображения ") + path });
        QCOMPARE(rig.ui.gaugeVisibility, QList<bool>({ true, false }));
        QCOMPARE(rig.comm.queuedBytes(), 0);
        QVERIFY(rig.failures.isEmpty());
        QVERIFY(rig.frames().isEmpty());
    }

    // Failures the write does not catch reach the general failure handler, whether the write's
    // first step (the button) or a later one (the pacing timer) meets them; nothing is sent for
    // the object, and the write ends there with the gauge hidden.
    void uncaughtFailure_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("name"); // "missing/..." is never created
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("failure"); // "%1" stands for the file's absolute path
        const QString notBitmap
            = QStringLiteral("Can only modify an image if it contains a bitmap");
        for (int row : { 1, 2 }) {
            const QByteArray at = row == 1 ? " (first step)" : " (later step)";
            QTest::newRow("JPEG as bitmap object" + at)
                << row << int(TypeBitmap) << "photo.jpg" << jpegFile(8, 8) << notBitmap;
            QTest::newRow("icon as bitmap object" + at)
                << row << int(TypeBitmap) << "i.ico" << buildIcon({ { 16, 16 } }) << notBitmap;
            QTest::newRow("missing JPEG" + at)
                << row << int(TypeJpeg) << "missing/p.jpg" << QByteArray() << "Cannot open file %1";
            QTest::newRow("missing bitmap" + at) << row << int(TypeBitmap) << "missing/p.bmp"
                                                 << QByteArray() << "Cannot open file %1";
            QTest::newRow("bitmap cut short" + at)
                << row << int(TypeBitmap) << "short.bmp" << QByteArray("BM\x10\0\0\0", 6)
                << "Stream read error";
        }
    }
    void uncaughtFailure()
    {
        QFETCH(int, row);
        QFETCH(int, type);
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, failure);
        LinkRig rig;
        QVERIFY(rig.startConnected());
        const QString path = name.startsWith(QLatin1String("missing/")) ? rig.dir.filePath(name)
                                                                        : rig.file(name, bytes);
        if (row == 2)
            rig.setRow(
                1, QStringLiteral("1"), TypeScript, rig.file(QStringLiteral("1.scr"), "one"));
        rig.setRow(row, QStringLiteral("6"), type, path);
        rig.setRow(
            row + 1, QStringLiteral("8"), TypeScript, rig.file(QStringLiteral("8.scr"), "8"));

        rig.writeToFlash();
        QTRY_COMPARE_WITH_TIMEOUT(rig.failures.size(), 1, kWait);
        QCOMPARE(rig.failures.first(),
            failure.contains(QLatin1String("%1")) ? failure.arg(QFileInfo(path).absoluteFilePath())
                                                  : failure);
        QVERIFY(rig.ui.messages.isEmpty());
        QCOMPARE(rig.ui.gaugeVisibility, QList<bool>({ true, false }));
        QCOMPARE(rig.ui.gaugeProgress.size(), row);
        QCOMPARE(rig.comm.queuedBytes(), 0);
        QCOMPARE(rig.frames().size(), row - 1);
    }
};

QTEST_GUILESS_MAIN(TestLinkPictures)
#include "tst_link_pictures.moc"
