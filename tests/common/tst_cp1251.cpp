#include "common/cp1251.h"

#include <QTest>

using namespace ormelin;

class TestCp1251 : public QObject
{
    Q_OBJECT
private slots:
    // Without a working converter no list file and no erase frame could be written: this must
    // fail loudly on a Qt built without ICU.
    void converterPresent() { QVERIFY(cp1251Available()); }

    void knownBytes()
    {
        const auto bytes = toCp1251(u"Удалить объекты");
        QVERIFY(bytes.has_value());
        QCOMPARE(bytes->toHex(), QByteArray("d3e4e0ebe8f2fc20eee1fae5eaf2fb"));
        QCOMPARE(bytes->size(), 15);
        QCOMPARE(toCp1251(u"Ёё№")->toHex(), QByteArray("a8b8b9"));
    }

    void everyByteRoundTrips()
    {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        const QString text = fromCp1251(all);
        QCOMPARE(text.size(), 256);
        const auto back = toCp1251(text);
        QVERIFY(back.has_value());
        QCOMPARE(*back, all);
    }

    void unmappableIsAnError_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("chinese") << QString::fromUtf8("файл_中文.jpg");
        QTest::newRow("greek") << QString::fromUtf8("αβγ");
        QTest::newRow("emoji") << QString::fromUtf8("😀");
        QTest::newRow("lone surrogate") << QString(QChar(0xD800));
    }
    void unmappableIsAnError()
    {
        QFETCH(QString, text);
        QVERIFY(!toCp1251(text).has_value());
        // The failure must not poison the next conversion.
        QCOMPARE(toCp1251(u"ok"), std::optional<QByteArray>("ok"));
    }

    void emptyText()
    {
        QCOMPARE(toCp1251(u""), std::optional<QByteArray>(QByteArray()));
        QCOMPARE(fromCp1251(QByteArray()), QString());
    }
};

QTEST_GUILESS_MAIN(TestCp1251)
#include "tst_cp1251.moc"
