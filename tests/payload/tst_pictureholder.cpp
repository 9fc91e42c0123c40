// The off-screen picture holder on real files: choosing the format by extension, the size rules,
// keeping the previous picture on failure, the two failure classes, and the encoded pixels.
#include "common/filepath.h"
#include "payload/payload.h"
#include "payloadpictures.h"
#include "testpictures.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <jerror.h>
#include <jpeglib.h>

using namespace ormelin;
using namespace payloadtest;

Q_DECLARE_METATYPE(payloadtest::Thrown::Kind)

namespace {

QByteArray payloadBytes(const PayloadBuffer &buffer)
{
    return QByteArray(reinterpret_cast<const char *>(buffer.data()), buffer.size());
}

// A JPEG file as Qt writes it, at its default quality.
QByteArray jpegOf(int width, int height)
{
    return testpictures::pictureFile(width, height, qRgb(0, 128, 128), "JPEG");
}

QByteArray onePixel(Rgb colour)
{
    return bmp24(1, 1, [&](int, int) { return colour; });
}

} // namespace

class TestPictureHolder : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString file(const QString &name, const QByteArray &bytes) const
    {
        const QString p = path(name);
        if (!writeFile(p, bytes))
            qFatal("cannot write %s", qPrintable(p));
        return p;
    }
    // A real file at a path longer than the file layer takes (the nesting keeps each name short).
    QString longPath(const QString &name, const QByteArray &bytes) const
    {
        QString dir = m_dir.path();
        while (dir.toUtf8().size() < kMaxPathBytes)
            dir += QStringLiteral("/folder-with-a-long-name-%1").arg(dir.size());
        QDir().mkpath(dir);
        return file(QDir(m_dir.path()).relativeFilePath(dir) + QLatin1Char('/') + name, bytes);
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void encodesEachPixel_data()
    {
        QTest::addColumn<int>("r");
        QTest::addColumn<int>("g");
        QTest::addColumn<int>("b");
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("white") << 255 << 255 << 255 << QByteArray::fromHex("FFFF");
        QTest::newRow("red, low bits 7") << 255 << 0 << 0 << QByteArray::fromHex("1F00");
        QTest::newRow("200, 100, 50") << 200 << 100 << 50 << QByteArray::fromHex("9919");
        QTest::newRow("7, 7, 7 sets only bit 15") << 7 << 7 << 7 << QByteArray::fromHex("0080");
        QTest::newRow("black") << 0 << 0 << 0 << QByteArray::fromHex("0000");
        QTest::newRow("low bits sum 10") << 3 << 3 << 4 << QByteArray::fromHex("0000");
        QTest::newRow("low bits sum 11") << 3 << 4 << 4 << QByteArray::fromHex("0080");
        QTest::newRow("green") << 0 << 255 << 0 << QByteArray::fromHex("E003");
        QTest::newRow("blue") << 0 << 0 << 255 << QByteArray::fromHex("007C");
        QTest::newRow("8, 16, 24") << 8 << 16 << 24 << QByteArray::fromHex("410C");
    }
    void encodesEachPixel()
    {
        QFETCH(int, r);
        QFETCH(int, g);
        QFETCH(int, b);
        QFETCH(QByteArray, stored);
        PictureHolder holder;
        holder.load(
            file(QStringLiteral("pixel.bmp"), onePixel({ uint8_t(r), uint8_t(g), uint8_t(b) })));
        QCOMPARE(holder.width(), 1);
        QCOMPARE(holder.height(), 1);
        PayloadBuffer buffer;
        QCOMPARE(holder.encodePixels(buffer), 2);
        QCOMPARE(payloadBytes(buffer), stored);
    }

    void encodesRowsTopFirst()
    {
        // Stored bottom-up; the payload starts at the top-left pixel and runs along rows.
        const QString p
            = file(QStringLiteral("100x50.bmp"), bmp24(100, 50, [](int x, int y) -> Rgb {
                  if (x == 0 && y == 0)
                      return { 255, 255, 255 };
                  if (x == 1 && y == 0)
                      return { 255, 0, 0 };
                  if (x == 0 && y == 1)
                      return { 200, 100, 50 };
                  if (x == 99 && y == 49)
                      return { 7, 7, 7 };
                  return { 0, 0, 0 };
              }));
        PictureHolder holder;
        holder.load(p);
        QCOMPARE(holder.width(), 100);
        QCOMPARE(holder.height(), 50);
        QVERIFY(holder.isBitmap());
        PayloadBuffer buffer;
        QCOMPARE(holder.encodePixels(buffer), 10000);
        QCOMPARE(buffer.size(), 10000);
        const QByteArray bytes = payloadBytes(buffer);
        QCOMPARE(bytes.left(4), QByteArray::fromHex("FFFF1F00"));
        QCOMPARE(bytes.mid(200, 2), QByteArray::fromHex("9919"));
        QCOMPARE(bytes.right(2), QByteArray::fromHex("0080"));
        QCOMPARE(bytes.count(QByteArray(1, '\0')), 10000 - 6); // everything else black
    }

    void largestBitmapFillsTheBufferExactly()
    {
        BmpLayout l;
        l.width = 1;
        l.height = 950081;
        l.bitCount = 8;
        l.palette = { { 255, 255, 255 } };
        l.coloursUsed = 1;
        l.pixels = QByteArray(950081 * 4, '\0');
        PictureHolder holder;
        holder.load(file(QStringLiteral("tall.bmp"), buildBmp(l)));
        PayloadBuffer buffer;
        QCOMPARE(holder.encodePixels(buffer), kPayloadBufferSize);
        QVERIFY(payloadBytes(buffer) == QByteArray(kPayloadBufferSize, char(0xFF)));
    }

    void sizeBeforeAnyPicture()
    {
        PictureHolder holder;
        QCOMPARE(holder.width(), 100);
        QCOMPARE(holder.height(), 34);
        QVERIFY(!holder.isBitmap());
        PayloadBuffer buffer;
        QCOMPARE(thrownBy([&] { holder.encodePixels(buffer); }).kind, Thrown::Picture);
    }

    void extensions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("failure"); // empty: loads
        QTest::newRow("bmp") << "a.bmp" << QString();
        QTest::newRow("BMP") << "b.BMP" << QString();
        QTest::newRow("jpg") << "c.jpg" << QString();
        QTest::newRow("Jpeg") << "d.Jpeg" << QString();
        QTest::newRow("two dots") << "e.tar.bmp" << QString();
        QTest::newRow("png") << "f.png"
                             << "Unknown picture file extension (.png)";
        QTest::newRow("PNG keeps its case") << "g.PNG"
                                            << "Unknown picture file extension (.PNG)";
        QTest::newRow("gif") << "h.gif"
                             << "Unknown picture file extension (.gif)";
        QTest::newRow("none") << "noext"
                              << "Unknown picture file extension (.)";
        QTest::newRow("trailing dot") << "i."
                                      << "Unknown picture file extension (.)";
        QTest::newRow("dot in a folder only") << "dir.bmp/j"
                                              << "Unknown picture file extension (.)";
        QTest::newRow("jpe") << "k.jpe"
                             << "Unknown picture file extension (.jpe)";
    }
    void extensions()
    {
        QFETCH(QString, name);
        QFETCH(QString, failure);
        const QString p = path(name);
        if (failure.isEmpty()) {
            const bool jpeg = name.contains(QLatin1String("jp"), Qt::CaseInsensitive);
            file(name, jpeg ? jpegOf(8, 6) : bmp24(8, 6, [](int, int) { return Rgb { 1, 2, 3 }; }));
        }
        PictureHolder holder;
        const Thrown thrown = thrownBy([&] { holder.load(p); });
        if (failure.isEmpty()) {
            QCOMPARE(thrown.text, QString());
            QCOMPARE(holder.width(), 8);
            QCOMPARE(holder.height(), 6);
        } else {
            // Refused before any open: none of these files exists.
            QVERIFY(!QFile::exists(p));
            QCOMPARE(thrown.kind, Thrown::Picture);
            QCOMPARE(thrown.text, failure);
        }
    }

    void jpegGivesFrameSizeAndCannotBeEncoded()
    {
        PictureHolder holder;
        holder.load(file(QStringLiteral("frame.jpg"), jpegOf(320, 240)));
        QCOMPARE(holder.width(), 320);
        QCOMPARE(holder.height(), 240);
        QVERIFY(!holder.isBitmap());
        PayloadBuffer buffer;
        buffer.setSize(7);
        const Thrown thrown = thrownBy([&] { holder.encodePixels(buffer); });
        QCOMPARE(thrown.kind, Thrown::Plain);
        QCOMPARE(thrown.text, QStringLiteral("Can only modify an image if it contains a bitmap"));
        QCOMPARE(buffer.size(), 7);
    }

    void jpegHeadersPastLargeMarkers()
    {
        // An application segment of 60 KB before the frame header, as cameras write.
        QByteArray jpeg = jpegOf(33, 17);
        QByteArray app;
        app.append("\xFF\xE1", 2);
        const int length = 60000;
        app.append(char(length >> 8)).append(char(length & 0xFF));
        app.append(QByteArray(length - 2, 'e'));
        jpeg.insert(2, app);
        PictureHolder holder;
        holder.load(file(QStringLiteral("marker.jpeg"), jpeg));
        QCOMPARE(holder.width(), 33);
        QCOMPARE(holder.height(), 17);
    }

    void jpegErrorsCarryLibjpegCodes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("code");
        QTest::newRow("not a JPEG") << QByteArray("BM this is a bitmap") << int(JERR_NO_SOI);
        QTest::newRow("start then end") << QByteArray::fromHex("FFD8FFD9") << int(JERR_NO_IMAGE);
        QTest::newRow("cut before the frame") << jpegOf(16, 16).left(40) << int(JERR_NO_IMAGE);
        QByteArray zeroHeight = jpegOf(16, 16);
        const qsizetype sof = zeroHeight.indexOf("\xFF\xC0");
        QVERIFY(sof > 0);
        zeroHeight[sof + 5] = 0;
        zeroHeight[sof + 6] = 0;
        QTest::newRow("frame of height 0") << zeroHeight << int(JERR_EMPTY_IMAGE);
    }
    void jpegErrorsCarryLibjpegCodes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, code);
        PictureHolder holder;
        const Thrown thrown
            = thrownBy([&] { holder.load(file(QStringLiteral("bad.jpg"), bytes)); });
        QCOMPARE(thrown.kind, Thrown::Picture);
        QCOMPARE(thrown.text, QStringLiteral("JPEG error #%1").arg(code));
    }

    void emptyFilesKeepTheSize_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("bitmap");
        QTest::newRow("bmp") << "empty.bmp" << true;
        QTest::newRow("jpg") << "empty.jpg" << false;
    }
    void emptyFilesKeepTheSize()
    {
        QFETCH(QString, name);
        QFETCH(bool, bitmap);
        const QString empty = file(name, QByteArray());
        PictureHolder holder;
        holder.load(empty);
        QCOMPARE(holder.width(), 100);
        QCOMPARE(holder.height(), 34);
        QCOMPARE(holder.isBitmap(), bitmap);

        holder.load(file(QStringLiteral("20x10.bmp"), bmp24(20, 10, [](int, int) {
            return Rgb { 9, 9, 9 };
        })));
        holder.load(empty);
        QCOMPARE(holder.width(), 20);
        QCOMPARE(holder.height(), 10);
        QCOMPARE(holder.isBitmap(), bitmap);

        // Sending the 20 x 10 size with no pixels behind it would be a picture of nothing: an
        // empty bitmap is refused as a picture; an empty JPEG is no bitmap at all.
        PayloadBuffer buffer;
        buffer.setSize(11);
        const Thrown thrown = thrownBy([&] { holder.encodePixels(buffer); });
        if (bitmap) {
            QCOMPARE(thrown.kind, Thrown::Picture);
            QCOMPARE(thrown.text, QStringLiteral("Bitmap image is empty"));
        } else {
            QCOMPARE(thrown.kind, Thrown::Plain);
            QCOMPARE(
                thrown.text, QStringLiteral("Can only modify an image if it contains a bitmap"));
        }
        QCOMPARE(buffer.size(), 11);
    }

    void zeroWidthBitmapKeepsTheSize()
    {
        BmpLayout l;
        l.width = 0;
        l.height = 40;
        PictureHolder holder;
        holder.load(file(QStringLiteral("narrow.bmp"), buildBmp(l)));
        QCOMPARE(holder.width(), 100);
        QCOMPARE(holder.height(), 34);
        PayloadBuffer buffer;
        QCOMPARE(thrownBy([&] { holder.encodePixels(buffer); }).kind, Thrown::Picture);
    }

    void zeroWidthMetafileKeepsTheSize()
    {
        // One dimension of 0 is enough to leave the size alone.
        PictureHolder holder;
        holder.load(file(QStringLiteral("line.wmf"), buildPlaceableWmf(0, 0, 0, 720, 1440)));
        QCOMPARE(holder.width(), 100);
        QCOMPARE(holder.height(), 34);
    }

    void failureKeepsThePreviousPicture_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Thrown::Kind>("kind");
        QTest::addColumn<QString>("text");
        BmpLayout notBm;
        notBm.signature = "MB";
        notBm.width = notBm.height = 2;
        notBm.pixels = QByteArray(16, '\0');
        QTest::newRow("not BM") << "bad.bmp" << buildBmp(notBm) << Thrown::Picture
                                << "Bitmap image is not valid";
        BmpLayout planes = notBm;
        planes.signature = "BM";
        planes.planes = 3;
        QTest::newRow("3 planes") << "planes.bmp" << buildBmp(planes) << Thrown::Picture
                                  << "Bitmap image is not valid";
        QTest::newRow("5 bytes") << "short.bmp" << QByteArray("BM\0\0\0", 5) << Thrown::Plain
                                 << "Stream read error";
        BmpLayout cut = planes;
        cut.planes = 1;
        cut.pixels = cut.pixels.left(10);
        QTest::newRow("pixels cut short")
            << "cut.bmp" << buildBmp(cut) << Thrown::Picture << "Bitmap pixel data is cut short";
        BmpLayout huge;
        huge.width = 2000;
        huge.height = 2000;
        QTest::newRow("too large for its file")
            << "huge.bmp" << buildBmp(huge) << Thrown::Picture << "Bitmap pixel data is cut short";
        QTest::newRow("bad JPEG") << "bad.jpg" << QByteArray("nope") << Thrown::Picture
                                  << QStringLiteral("JPEG error #%1").arg(JERR_NO_SOI);
        QTest::newRow("bad icon") << "bad.ico" << QByteArray(30, '\0') << Thrown::Picture
                                  << "Icon image is not valid";
        QTest::newRow("bad metafile")
            << "bad.wmf" << QByteArray(60, '\0') << Thrown::Picture << "Metafile is not valid";
        QTest::newRow("png") << "pic.png" << QByteArray("\x89PNG") << Thrown::Picture
                             << "Unknown picture file extension (.png)";
        QTest::newRow("missing") << "" << QByteArray() << Thrown::Plain << "Cannot open file";
        QTest::newRow("long path")
            << "long" << QByteArray() << Thrown::Picture << "File name is too long";
    }
    void failureKeepsThePreviousPicture()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(Thrown::Kind, kind);
        QFETCH(QString, text);

        PictureHolder holder;
        holder.load(file(QStringLiteral("previous.bmp"), bmp24(3, 2, [](int x, int y) {
            return Rgb { uint8_t(x * 80), uint8_t(y * 90), 200 };
        })));
        PayloadBuffer buffer;
        holder.encodePixels(buffer);
        const QByteArray before = payloadBytes(buffer);

        QString target;
        if (name.isEmpty())
            target = path(QStringLiteral("missing.bmp"));
        else if (name == QLatin1String("long"))
            target = longPath(QStringLiteral("ok.bmp"), onePixel({ 1, 1, 1 }));
        else
            target = file(name, bytes);
        const Thrown thrown = thrownBy([&] { holder.load(target); });
        QCOMPARE(thrown.kind, kind);
        QVERIFY2(thrown.text.startsWith(text), qPrintable(thrown.text));

        QCOMPARE(holder.width(), 3);
        QCOMPARE(holder.height(), 2);
        QVERIFY(holder.isBitmap());
        buffer.setSize(0);
        QCOMPARE(holder.encodePixels(buffer), 12);
        QCOMPARE(payloadBytes(buffer), before);
    }

    void failureAfterJpegKeepsTheJpeg()
    {
        PictureHolder holder;
        holder.load(file(QStringLiteral("kept.jpg"), jpegOf(40, 30)));
        QCOMPARE(
            thrownBy([&] { holder.load(file(QStringLiteral("x.bmp"), QByteArray("XX", 2))); }).kind,
            Thrown::Plain);
        QCOMPARE(
            thrownBy([&] { holder.load(file(QStringLiteral("y.bmp"), QByteArray(20, 'X'))); }).kind,
            Thrown::Picture);
        QCOMPARE(holder.width(), 40);
        QCOMPARE(holder.height(), 30);
        QVERIFY(!holder.isBitmap());
    }

    void cannotOpenNamesTheFullPath()
    {
        const QString previous = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        PictureHolder holder;
        const Thrown missing = thrownBy([&] { holder.load(QStringLiteral("nowhere.bmp")); });
        QDir().mkdir(QStringLiteral("folder.jpg"));
        const Thrown folder = thrownBy([&] { holder.load(QStringLiteral("folder.jpg")); });
        QDir::setCurrent(previous);

        QCOMPARE(missing.kind, Thrown::Plain);
        QCOMPARE(missing.text,
            QStringLiteral("Cannot open file ") + m_dir.filePath(QStringLiteral("nowhere.bmp")));
        QCOMPARE(folder.kind, Thrown::Plain);
        QCOMPARE(folder.text,
            QStringLiteral("Cannot open file ") + m_dir.filePath(QStringLiteral("folder.jpg")));
    }

    void longPathIsRefusedBeforeOpening()
    {
        const QString p = longPath(QStringLiteral("real.bmp"), onePixel({ 5, 5, 5 }));
        QVERIFY(QFile::exists(p));
        QVERIFY(QFile::encodeName(p).size() > kMaxPathBytes);
        PictureHolder holder;
        const Thrown thrown = thrownBy([&] { holder.load(p); });
        QCOMPARE(thrown.kind, Thrown::Picture);
        QVERIFY(thrown.text.startsWith(QLatin1String("File name is too long")));
    }

    void iconsAndMetafiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("icon") << "one.ico" << buildIcon({ { 32, 16 } }) << 32 << 16;
        QTest::newRow("icon, largest entry")
            << "many.ico" << buildIcon({ { 16, 16 }, { 48, 40 }, { 32, 32 } }) << 48 << 40;
        QTest::newRow("icon, first of equal areas")
            << "tie.ico" << buildIcon({ { 32, 16 }, { 16, 32 } }) << 32 << 16;
        QTest::newRow("icon, 0 is 256")
            << "big.ico" << buildIcon({ { 0, 0 }, { 64, 64 } }) << 256 << 256;
        QTest::newRow("placeable wmf, 1440 per inch")
            << "a.wmf" << buildPlaceableWmf(0, 0, 1440, 720, 1440) << 96 << 48;
        QTest::newRow("placeable wmf, offset box")
            << "b.WMF" << buildPlaceableWmf(-100, 50, 900, 550, 1000) << 96 << 48;
        QTest::newRow("emf") << "c.emf" << buildEmf(0, 0, 2540, 5080) << 96 << 192;
        QTest::newRow("emf, rounded") << "d.emf" << buildEmf(100, 100, 10000, 5000) << 374 << 185;
    }
    void iconsAndMetafiles()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(int, width);
        QFETCH(int, height);
        PictureHolder holder;
        holder.load(file(name, bytes));
        QCOMPARE(holder.width(), width);
        QCOMPARE(holder.height(), height);
        QVERIFY(!holder.isBitmap());
        PayloadBuffer buffer;
        QCOMPARE(thrownBy([&] { holder.encodePixels(buffer); }).kind, Thrown::Plain);
    }

    void invalidIconsAndMetafiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        const QString icon = QStringLiteral("x.ico"), wmf = QStringLiteral("x.wmf"),
                      emf = QStringLiteral("x.emf");
        QTest::newRow("empty icon") << icon << QByteArray();
        QTest::newRow("cursor") << icon << buildIcon({ { 32, 32 } }, 2);
        QTest::newRow("no entries") << icon << buildIcon({});
        QTest::newRow("directory cut short")
            << icon << buildIcon({ { 32, 32 }, { 16, 16 } }).left(30);
        QTest::newRow("image past the end") << icon << buildIcon({ { 32, 32 } }).chopped(1);
        QTest::newRow("empty image") << icon << buildIcon({ { 32, 32, 0 } });
        QTest::newRow("bitmap as icon") << icon << onePixel({ 1, 2, 3 });
        QTest::newRow("empty wmf") << wmf << QByteArray();
        QTest::newRow("wmf bad checksum") << wmf << buildPlaceableWmf(0, 0, 100, 100, 1440, false);
        QTest::newRow("wmf no units") << wmf << buildPlaceableWmf(0, 0, 100, 100, 0);
        QTest::newRow("wmf inverted box") << wmf << buildPlaceableWmf(100, 0, 0, 100, 1440);
        QTest::newRow("wmf without placeable header")
            << wmf << buildPlaceableWmf(0, 0, 100, 100, 1440).mid(22);
        QTest::newRow("wmf cut short") << wmf << buildPlaceableWmf(0, 0, 100, 100, 1440).left(30);
        QTest::newRow("emf as wmf") << wmf << buildEmf(0, 0, 100, 100);
        QTest::newRow("empty emf") << emf << QByteArray();
        QTest::newRow("emf cut short") << emf << buildEmf(0, 0, 100, 100).left(87);
        QByteArray badSignature = buildEmf(0, 0, 100, 100);
        badSignature[40] = 'X';
        QTest::newRow("emf bad signature") << emf << badSignature;
        QTest::newRow("emf inverted frame") << emf << buildEmf(0, 500, 100, 100);
        QByteArray hugeRecord = buildEmf(0, 0, 100, 100);
        hugeRecord[6] = 1; // header record larger than the file
        QTest::newRow("emf header past the end") << emf << hugeRecord;
        QTest::newRow("wmf as emf")
            << emf << buildPlaceableWmf(0, 0, 100, 100, 1440) + QByteArray(60, '\0');
    }
    void invalidIconsAndMetafiles()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        PictureHolder holder;
        const Thrown thrown = thrownBy([&] { holder.load(file(name, bytes)); });
        QCOMPARE(thrown.kind, Thrown::Picture);
        QCOMPARE(thrown.text,
            name.endsWith(QLatin1String("ico")) ? QStringLiteral("Icon image is not valid")
                                                : QStringLiteral("Metafile is not valid"));
        QCOMPARE(holder.width(), 100);
    }
};

QTEST_GUILESS_MAIN(TestPictureHolder)
#include "tst_pictureholder.moc"
