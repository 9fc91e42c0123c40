#include "common/cp1251.h"
#include "objlist/cp1251table.h"

#include <QTest>

using namespace ormelin;

// The list file's fast conversion must say exactly what the general converter says.
class TestCp1251Table : public QObject
{
    Q_OBJECT
private slots:
    void everyByteDecodesAlike()
    {
        for (int b = 0; b < 256; ++b) {
            if (b == '\r')
                continue; // dropped from every line
            const QByteArray one(1, char(b));
            QCOMPARE(cp1251table::decodeLine(one), fromCp1251(one));
        }
    }

    void everyCodeUnitEncodesAlike()
    {
        int mapped = 0;
        for (int u = 0; u < 0x10000; ++u) {
            const QChar c(char16_t(u), 0);
            const QString one(c);
            const std::optional<QByteArray> expected = toCp1251(one);
            QByteArray viaTable = "x";
            const bool ok = cp1251table::appendEncoded(viaTable, one);
            QCOMPARE(ok, expected.has_value());
            if (!ok)
                continue;
            QCOMPARE(viaTable, "x" + *expected);
            char out = 0;
            if (cp1251table::encodeInto(&out, one)) {
                QCOMPARE(QByteArray(1, out), *expected);
                ++mapped;
            }
        }
        QVERIFY(mapped >= 255); // the table serves the whole code page
    }

    void mixedTextFallsBackWhole()
    {
        QByteArray out = "head";
        QVERIFY(!cp1251table::appendEncoded(out, u"абв中"));
        QByteArray ok = "head";
        QVERIFY(cp1251table::appendEncoded(ok, u"абв\u00a0"));
        QCOMPARE(ok, QByteArray("head\xe0\xe1\xe2\xa0"));
    }
};

QTEST_GUILESS_MAIN(TestCp1251Table)
#include "tst_cp1251table.moc"
