// The window's own small parts, without a window: the failure box text, the anchors, the gauge.
#include "app/anchors.h"
#include "app/failurebox.h"
#include "app/gauge.h"

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
        QTest::newRow("plain") << "Stream read error" << "Stream read error.";
        QTest::newRow("full stop kept") << "Specified device not found (COM9)."
                                        << "Specified device not found (COM9).";
        QTest::newRow("bracket sorts before") << "Read error (5), Input/output error)"
                                              << "Read error (5), Input/output error)";
        QTest::newRow("blank") << "text " << "text ";
        QTest::newRow("exclamation") << "Stop!" << "Stop!";
        QTest::newRow("comma sorts before") << "a," << "a,";
        QTest::newRow("slash sorts after") << "a/" << "a/.";
        QTest::newRow("digit") << "Error 5" << "Error 5.";
        QTest::newRow("cyrillic") << "Ошибка" << "Ошибка.";
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
        const QRect got = AnchorLayout::arrange(QRect(100, 200, 50, 20),
                                                Anchors::fromInt(anchors), QSize(500, 400),
                                                QSize(540, 430));
        QCOMPARE(got, expected);
    }

    void anchorsNeverNegative()
    {
        const QRect got = AnchorLayout::arrange(QRect(0, 0, 50, 20),
                                                Anchor::Left | Anchor::Right | Anchor::Top | Anchor::Bottom,
                                                QSize(500, 400), QSize(100, 100));
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
};

QTEST_MAIN(TestWindowParts)
#include "tst_windowparts.moc"
