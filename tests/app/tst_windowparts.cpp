// The window's own small parts, without a window: the failure box text, the anchors, the gauge,
// the picture previews.
#include "app/anchors.h"
#include "app/failurebox.h"
#include "app/gauge.h"
#include "app/picturepreview.h"
#include "objlist/objectlist.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace ormelin;

class TestWindowParts : public QObject
{
    Q_OBJECT
private slots:
    void failureBoxText_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << "Stream read error"
                               << "Stream read error.";
        QTest::newRow("full stop kept") << "Specified device not found (COM9)."
                                        << "Specified device not found (COM9).";
        QTest::newRow("bracket sorts before") << "Read error (5), Input/output error)"
                                              << "Read error (5), Input/output error)";
        QTest::newRow("blank") << "text "
                               << "text ";
        QTest::newRow("exclamation") << "Stop!"
                                     << "Stop!";
        QTest::newRow("comma sorts before") << "a,"
                                            << "a,";
        QTest::newRow("slash sorts after") << "a/"
                                           << "a/.";
        QTest::newRow("digit") << "Error 5"
                               << "Error 5.";
        QTest::newRow("cyrillic") << "Ошибка"
                                  << "Ошибка.";
    }
    void failureBoxText()
    {
        QFETCH(QString, failure);
        QFETCH(QString, shown);
        QCOMPARE(ormelin::failureBoxText(failure), shown);
    }

    void anchors_data()
    {
        QTest::addColumn<int>("anchors");
        QTest::addColumn<QRect>("expected");
        const QRect design(100, 200, 50, 20);
        // The client grows by 40 x 30.
        QTest::newRow("left top stays") << int(Anchor::Left | Anchor::Top) << design;
        QTest::newRow("right top moves right")
            << int(Anchor::Top | Anchor::Right) << QRect(140, 200, 50, 20);
        QTest::newRow("left right stretches")
            << int(Anchor::Left | Anchor::Top | Anchor::Right) << QRect(100, 200, 90, 20);
        QTest::newRow("all four stretch both ways")
            << int(Anchor::Left | Anchor::Top | Anchor::Right | Anchor::Bottom)
            << QRect(100, 200, 90, 50);
        QTest::newRow("left bottom moves down")
            << int(Anchor::Left | Anchor::Bottom) << QRect(100, 230, 50, 20);
        QTest::newRow("right bottom moves both")
            << int(Anchor::Right | Anchor::Bottom) << QRect(140, 230, 50, 20);
    }
    void anchors()
    {
        QFETCH(int, anchors);
        QFETCH(QRect, expected);
        const QRect got = AnchorLayout::arrange(
            QRect(100, 200, 50, 20), Anchors::fromInt(anchors), QSize(500, 400), QSize(540, 430));
        QCOMPARE(got, expected);
    }

    void anchorsNeverNegative()
    {
        const QRect got = AnchorLayout::arrange(QRect(0, 0, 50, 20),
            Anchor::Left | Anchor::Right | Anchor::Top | Anchor::Bottom, QSize(500, 400),
            QSize(100, 100));
        QCOMPARE(got.width(), 0);
        QCOMPARE(got.height(), 0);
    }

    void gaugePercent_data()
    {
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("progress");
        QTest::addColumn<QString>("text");
        QTest::newRow("start") << 3 << 0 << "0%";
        QTest::newRow("one third truncated") << 3 << 1 << "33%";
        QTest::newRow("two thirds truncated") << 3 << 2 << "66%";
        QTest::newRow("done") << 3 << 3 << "100%";
        QTest::newRow("no maximum") << 0 << 0 << "0%";
        QTest::newRow("large") << 1319 << 1318 << "99%";
    }
    void gaugePercent()
    {
        QFETCH(int, maximum);
        QFETCH(int, progress);
        QFETCH(QString, text);
        ProgressGauge g;
        g.setMaximum(maximum);
        g.setProgress(progress);
        QCOMPARE(g.text(), text);
    }

    void gaugeDrawsMaroonBarOnWhite()
    {
        ProgressGauge g;
        g.resize(200, 20);
        g.setMaximum(2);
        g.setProgress(1);
        const QImage image = g.grab().toImage();
        QCOMPARE(image.pixelColor(10, 3), ProgressGauge::kBarColour);
        QCOMPARE(image.pixelColor(190, 3), QColor(Qt::white));
    }

    // The preview runs the upload's steps and says what the upload would: the payload's size,
    // or its failure text.
    void picturePreview_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("text"); // %1 is the file's path, %2 its absolute path
        QTest::addColumn<QSize>("shown");
        QTest::newRow("bitmap") << "small.bmp" << int(TypeBitmap) << "4 × 3, 24 байт"
                                << QSize(320, 240);
        QTest::newRow("large bitmap shrinks")
            << "large.bmp" << int(TypeBitmap) << "640 × 200, 256000 байт" << QSize(320, 100);
        QTest::newRow("JPEG sends the file")
            << "photo.jpg" << int(TypeJpeg) << "8 × 8, %3 байт"
            << QSize(320, 320).scaled(320, 240, Qt::KeepAspectRatio);
        QTest::newRow("bitmap as a JPEG object is sent as its bytes")
            << "small.bmp" << int(TypeJpeg) << "4 × 3, %3 байт" << QSize(320, 240);
        QTest::newRow("JPEG as a bitmap object")
            << "photo.jpg" << int(TypeBitmap) << "Can only modify an image if it contains a bitmap."
            << QSize(0, 0);
        QTest::newRow("unknown extension")
            << "p.png" << int(TypeBitmap) << "Ошибка чтения изображения %1" << QSize(0, 0);
        QTest::newRow("not a bitmap")
            << "bad.bmp" << int(TypeBitmap) << "Ошибка чтения изображения %1" << QSize(0, 0);
        QTest::newRow("empty bitmap")
            << "empty.bmp" << int(TypeBitmap) << "Ошибка чтения изображения %1" << QSize(0, 0);
        QTest::newRow("missing file")
            << "missing.bmp" << int(TypeBitmap) << "Cannot open file %2." << QSize(0, 0);
        QTest::newRow("folder given as a JPEG")
            << "folder.jpg" << int(TypeJpeg) << "Cannot open file %2." << QSize(0, 0);
    }
    void picturePreview()
    {
        QFETCH(QString, file);
        QFETCH(int, type);
        QFETCH(QString, text);
        QFETCH(QSize, shown);
        QTemporaryDir dir;
        QImage small(4, 3, QImage::Format_RGB888);
        small.fill(QColor(7, 7, 7));
        QVERIFY(small.save(dir.filePath("small.bmp"), "BMP"));
        QImage large(640, 200, QImage::Format_RGB888);
        large.fill(Qt::blue);
        QVERIFY(large.save(dir.filePath("large.bmp"), "BMP"));
        QImage photo(8, 8, QImage::Format_RGB888);
        photo.fill(Qt::red);
        QVERIFY(photo.save(dir.filePath("photo.jpg"), "JPEG"));
        QVERIFY(photo.save(dir.filePath("p.png"), "PNG"));
        QFile bad(dir.filePath("bad.bmp"));
        QVERIFY(bad.open(QIODevice::WriteOnly) && bad.write("XX not a bitmap at all") > 0);
        bad.close();
        QFile empty(dir.filePath("empty.bmp"));
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        QVERIFY(QDir(dir.path()).mkdir("folder.jpg"));

        const QString path = dir.filePath(file);
        PicturePreviewer previewer;
        const std::optional<PicturePreview> preview = previewer.preview(type, path);
        QVERIFY(preview);
        text.replace("%1", path)
            .replace("%2", QFileInfo(path).absoluteFilePath())
            .replace("%3", QString::number(QFileInfo(path).size()));
        QCOMPARE(preview->text, text);
        QCOMPARE(preview->image.size(), shown);
        if (file == QLatin1String("small.bmp") && type == TypeBitmap)
            QCOMPARE(preview->image.pixelColor(319, 239), QColor(0, 0, 0)); // 7 is cut off
        if (file == QLatin1String("large.bmp"))
            QCOMPARE(preview->image.pixelColor(160, 50), QColor(0, 0, 255));
        const QString html = PicturePreviewer::toolTipHtml(*preview);
        QCOMPARE(html.contains(QLatin1String("data:image/png;base64,")), !shown.isEmpty());
        QVERIFY(html.contains(preview->text.toHtmlEscaped()));
    }

    void previewFit_data()
    {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QSize>("shown");
        QTest::newRow("tall shrinks to the height") << QSize(100, 480) << QSize(50, 240);
        QTest::newRow("wide shrinks to the width") << QSize(1000, 10) << QSize(320, 3);
        QTest::newRow("small grows by a whole factor") << QSize(30, 20) << QSize(300, 200);
        QTest::newRow("just under half stays") << QSize(200, 100) << QSize(200, 100);
    }
    void previewFit()
    {
        QFETCH(QSize, picture);
        QFETCH(QSize, shown);
        QImage image(picture, QImage::Format_RGB32);
        image.fill(Qt::green);
        QCOMPARE(fitPreview(image).size(), shown);
    }
};

QTEST_MAIN(TestWindowParts)
#include "tst_windowparts.moc"
