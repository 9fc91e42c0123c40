#include "common/numparse.h"

#include <QTest>

using ormelin::parseNumber;

class TestNumParse : public QObject
{
    Q_OBJECT
private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("value");

        QTest::newRow("plain") << "12" << true << 12;
        QTest::newRow("leading zeros") << "007" << true << 7;
        QTest::newRow("leading blank") << " 12" << true << 12;
        QTest::newRow("many leading blanks") << "    5" << true << 5;
        QTest::newRow("trailing blank") << "12 " << false << 0;
        QTest::newRow("leading tab") << "\t12" << false << 0;
        QTest::newRow("leading nbsp") << QString(QChar(0xA0)) + "12" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("blanks only") << "   " << false << 0;
        QTest::newRow("plus") << "+5" << true << 5;
        QTest::newRow("minus") << "-3" << true << -3;
        QTest::newRow("sign alone") << "-" << false << 0;
        QTest::newRow("blank after sign") << "- 3" << false << 0;
        QTest::newRow("double sign") << "--3" << false << 0;
        QTest::newRow("max") << "2147483647" << true << 2147483647;
        QTest::newRow("above max") << "2147483648" << false << 0;
        QTest::newRow("min") << "-2147483648" << true << int(-2147483647 - 1);
        QTest::newRow("below min") << "-2147483649" << false << 0;
        QTest::newRow("huge") << "99999999999999999999999" << false << 0;
        QTest::newRow("dollar hex") << "$10" << true << 16;
        QTest::newRow("x hex") << "x1f" << true << 31;
        QTest::newRow("X hex") << "XFF" << true << 255;
        QTest::newRow("0x hex") << "0x10" << true << 16;
        QTest::newRow("0X hex mixed case") << "0XaB" << true << 171;
        QTest::newRow("hex bit pattern -1") << "$FFFFFFFF" << true << -1;
        QTest::newRow("hex min") << "$80000000" << true << int(-2147483647 - 1);
        QTest::newRow("hex leading zeros") << "$000000001" << true << 1;
        QTest::newRow("hex above 32 bits") << "$100000000" << false << 0;
        QTest::newRow("hex prefix alone") << "$" << false << 0;
        QTest::newRow("0x alone") << "0x" << false << 0;
        QTest::newRow("hex bad digit") << "$1G" << false << 0;
        QTest::newRow("signed hex") << "-$10" << false << 0;
        QTest::newRow("plus hex") << "+0x10" << false << 0;
        QTest::newRow("hex after blank") << "  $10" << true << 16;
        QTest::newRow("hex trailing blank") << "$10 " << false << 0;
        QTest::newRow("zero") << "0" << true << 0;
        QTest::newRow("letters") << "abc" << false << 0;
        QTest::newRow("digits then letters") << "12a" << false << 0;
        QTest::newRow("fullwidth digit") << QString(QChar(0xFF11)) << false << 0;
        QTest::newRow("arabic-indic digit") << QString(QChar(0x0661)) << false << 0;
        QTest::newRow("decimal point") << "1.0" << false << 0;
        QTest::newRow("65537") << "65537" << true << 65537;
    }
    void parse()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(int, value);
        const auto result = parseNumber(text);
        QCOMPARE(result.has_value(), ok);
        if (ok)
            QCOMPARE(*result, value);
    }
};

QTEST_GUILESS_MAIN(TestNumParse)
#include "tst_numparse.moc"
