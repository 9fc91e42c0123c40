#include "objlist/changemark.h"
#include "objlist/cp1251table.h"
#include "objlist/objectlist.h"

#include "fakeoperator.h"
#include "listtestutil.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <vector>

using namespace ormelin;

namespace {

// The lines of `bytes` as a list file reader hands them over: split at LF, CRs left in.
std::vector<QByteArrayView> splitLines(const QByteArray &bytes)
{
    std::vector<QByteArrayView> lines;
    qsizetype start = 0;
    for (qsizetype lf = bytes.indexOf('\n'); lf >= 0; lf = bytes.indexOf('\n', start)) {
        lines.push_back(QByteArrayView(bytes).sliced(start, lf - start));
        start = lf + 1;
    }
    return lines;
}

QStringList rowTexts(const ObjectList &list, int row)
{
    QStringList texts;
    for (int c = 0; c < kColumnCount; ++c)
        texts << list.cell(row, c);
    return texts;
}

} // namespace

class TestObjectList : public QObject
{
    Q_OBJECT
private slots:
    void typeLookup_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("type");
        const QStringList &texts = objectTypeTexts();
        for (int i = 0; i < texts.size(); ++i)
            QTest::newRow(qPrintable(QStringLiteral("exact %1").arg(i))) << texts[i] << i;
        QTest::newRow("lower case") << "изображение jpeg" << 0;
        QTest::newRow("upper case") << "ДВОИЧНОЕ ИЗОБРАЖЕНИЕ" << 1;
        QTest::newRow("mixed case") << "шРИФТ В ФОРМАТЕ мИКРОЧИП" << 2;
        QTest::newRow("upper script") << "СКРИПТ" << 4;
        QTest::newRow("leading blank") << " Скрипт" << -1;
        QTest::newRow("trailing blank") << "Скрипт " << -1;
        QTest::newRow("double blank inside") << "Изображение  JPEG" << -1;
        QTest::newRow("prefix only") << "Скрип" << -1;
        QTest::newRow("latin look-alike") << "Cкрипт" << -1; // first letter is Latin C
        QTest::newRow("empty") << "" << -1;
    }
    void typeLookup()
    {
        QFETCH(QString, text);
        QFETCH(int, type);
        QCOMPARE(lookupObjectType(text), type);
    }

    void fontTest_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("font");
        QTest::newRow("jpeg") << objectTypeTexts()[TypeJpeg] << false;
        QTest::newRow("bitmap") << objectTypeTexts()[TypeBitmap] << false;
        QTest::newRow("microchip") << objectTypeTexts()[TypeMicrochipFont] << true;
        QTest::newRow("mono") << objectTypeTexts()[TypeMonoFont] << true;
        QTest::newRow("script") << objectTypeTexts()[TypeScript] << false;
        // The substring test does not ignore case, unlike the lookup.
        QTest::newRow("upper case font") << "МОНОШИРИННЫЙ ШРИФТ" << false;
        QTest::newRow("bare substring") << "рифт" << true;
    }
    void fontTest()
    {
        QFETCH(QString, text);
        QFETCH(bool, font);
        QCOMPARE(isFontTypeText(text), font);
    }

    void hiddenRowsKeepTheirTexts()
    {
        ObjectList list;
        list.setRowCount(5);
        for (int c = 0; c < kColumnCount; ++c)
            list.setCell(4, c, QStringLiteral("r4c%1").arg(c));
        list.setRowCount(2);
        // Hidden, still readable and still stored.
        QCOMPARE(list.cell(4, ColFile), QStringLiteral("r4c4"));
        list.setRowCount(5);
        for (int c = 0; c < kColumnCount; ++c)
            QCOMPARE(list.cell(4, c), QStringLiteral("r4c%1").arg(c));
    }

    void cellsOutOfRange()
    {
        ObjectList list;
        QCOMPARE(list.cell(-1, 0), QString());
        QCOMPARE(list.cell(1, -1), QString());
        QCOMPARE(list.cell(1, kColumnCount), QString());
        QCOMPARE(list.cell(1000000, 0), QString());
        QSignalSpy changed(&list, &ObjectList::cellChanged);
        list.setCell(-1, 0, QStringLiteral("x"));
        list.setCell(1, kColumnCount, QStringLiteral("x"));
        QCOMPARE(changed.count(), 0);
        // A cell set to the empty text reads as empty, like one never written.
        list.setCell(3, ColType, QStringLiteral("x"));
        list.setCell(3, ColType, QString());
        QCOMPARE(list.cell(3, ColType), QString());
    }

    void rowCountNeverBelowTwo_data()
    {
        QTest::addColumn<int>("requested");
        QTest::addColumn<int>("count");
        QTest::newRow("zero") << 0 << 2;
        QTest::newRow("one") << 1 << 2;
        QTest::newRow("negative") << -7 << 2;
        QTest::newRow("two") << 2 << 2;
        QTest::newRow("many") << 1319 << 1319;
    }
    void rowCountNeverBelowTwo()
    {
        QFETCH(int, requested);
        QFETCH(int, count);
        ObjectList list;
        QCOMPARE(list.rowCount(), 2);
        list.setRowCount(requested);
        QCOMPARE(list.rowCount(), count);
        QVERIFY(list.selectedRow() >= 1 && list.selectedRow() < list.rowCount());
    }

    void selectionFollowsRowCount()
    {
        ObjectList list;
        QCOMPARE(list.selectedRow(), 1);
        list.setRowCount(10);
        list.selectRow(7);
        QCOMPARE(list.selectedRow(), 7);

        QSignalSpy moved(&list, &ObjectList::selectionChanged);
        list.setRowCount(20); // growing keeps it
        QCOMPARE(list.selectedRow(), 7);
        list.setRowCount(8); // 7 is still the last row
        QCOMPARE(list.selectedRow(), 7);
        QCOMPARE(moved.count(), 0);
        list.setRowCount(5); // falls below: moves to the last row
        QCOMPARE(list.selectedRow(), 4);
        QCOMPARE(moved.count(), 1);
        QCOMPARE(moved.first().first().toInt(), 4);
    }

    void onlyEntryRowsAreSelectable_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("selected");
        QTest::newRow("header") << 0 << 2;
        QTest::newRow("negative") << -1 << 2;
        QTest::newRow("first") << 1 << 1;
        QTest::newRow("last") << 4 << 4;
        QTest::newRow("hidden") << 5 << 2;
    }
    void onlyEntryRowsAreSelectable()
    {
        QFETCH(int, row);
        QFETCH(int, selected);
        ObjectList list;
        list.setRowCount(5);
        list.selectRow(2);
        list.selectRow(row);
        QCOMPARE(list.selectedRow(), selected);
    }

    void batchCollectsChanges()
    {
        ObjectList list;
        list.setRowCount(30);
        QSignalSpy single(&list, &ObjectList::cellChanged);
        QSignalSpy many(&list, &ObjectList::cellsChanged);
        {
            ObjectList::Batch outer(list);
            list.setCell(12, ColFile, QStringLiteral("a"));
            {
                ObjectList::Batch inner(list);
                list.setCell(3, ColNumber, QStringLiteral("b"));
            }
            QCOMPARE(many.count(), 0); // the inner end is not the end
            list.setCell(20, ColType, QStringLiteral("c"));
        }
        QCOMPARE(single.count(), 0);
        QCOMPARE(many.count(), 1);
        QCOMPARE(many.first(), QVariantList({ 3, 20 }));

        {
            ObjectList::Batch empty(list);
        }
        QCOMPARE(many.count(), 1);

        list.setCell(5, ColWidth, QStringLiteral("8"));
        QCOMPARE(single.count(), 1);
        QCOMPARE(single.first(), QVariantList({ 5, int(ColWidth) }));
    }

    // ---- Cells loaded as bytes ------------------------------------------------------------

    void encodedLines_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << QByteArray("abc") << "abc";
        QTest::newRow("Cyrillic") << QByteArray("\xd4\xe0\xe9\xeb") << "Файл";
        QTest::newRow("0x98 and NUL")
            << QByteArray("a\x98\0b", 4) << QStringLiteral("a\u0098") + QChar(0) + "b";
        QTest::newRow("CR inside") << QByteArray("a\rb") << "ab";
        QTest::newRow("CR first") << QByteArray("\ra") << "a";
        QTest::newRow("CR last") << QByteArray("a\r") << "a";
        QTest::newRow("nothing but CRs") << QByteArray("\r\r") << "";
        QTest::newRow("empty") << QByteArray() << "";
    }
    void encodedLines()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, text);
        const QByteArray bytes = "x" + line + "y";
        ObjectList list;
        const QByteArrayView inside = QByteArrayView(bytes).sliced(1, line.size());
        list.setCellsEncoded(1, ColFile, bytes, { &inside, 1 });
        QCOMPARE(list.cell(1, ColFile), text);
        QCOMPARE(list.cell(1, ColFile), cp1251table::decodeLine(line));
        // An empty text holds nothing; anything else keeps to the bytes.
        QCOMPARE(list.storedCell(1, ColFile).isEncoded(), !text.isEmpty());
        QCOMPARE(list.heldEncodedBytes() > 0, !text.isEmpty());

        // A line outside the bytes given is taken as text at once.
        ObjectList other;
        const QByteArray elsewhere = line;
        const QByteArrayView outside(elsewhere);
        other.setCellsEncoded(1, ColFile, bytes, { &outside, 1 });
        QCOMPARE(other.cell(1, ColFile), text);
        QVERIFY(!other.storedCell(1, ColFile).isEncoded());
        QCOMPARE(other.heldEncodedBytes(), 0);
    }

    // Whatever the cells held and wherever the lines start, the cells read as the lines' texts
    // set one by one inside a batch would, and the list tells of it the same way.
    void encodedCellsActLikeTexts()
    {
        QRandomGenerator rng(11);
        const QByteArray alphabet("ab \r\xe0\x98", 6);
        for (int round = 0; round < 300; ++round) {
            QByteArray bytes;
            const int lineCount = rng.bounded(1, 24);
            for (int i = 0; i < lineCount; ++i) {
                const int length = rng.bounded(4) == 0 ? 0 : rng.bounded(1, 6);
                for (int k = 0; k < length; ++k)
                    bytes += alphabet[rng.bounded(int(alphabet.size()))];
                bytes += rng.bounded(3) == 0 ? "\n" : "\r\n";
            }
            std::vector<QByteArrayView> lines = splitLines(bytes);
            const QByteArray elsewhere = "a\rb";
            if (rng.bounded(4) == 0)
                lines[size_t(rng.bounded(int(lines.size())))] = elsewhere;

            ObjectList loaded;
            ObjectList typed;
            const int storedRows = rng.bounded(0, 8);
            loaded.setRowCount(30);
            typed.setRowCount(30);
            for (int r = 0; r < storedRows; ++r) {
                const int c = rng.bounded(kColumnCount);
                loaded.setCell(r, c, QStringLiteral("old"));
                typed.setCell(r, c, QStringLiteral("old"));
            }
            // Some cells of the loaded list come from an earlier load.
            const QByteArray earlier = "e1\r\ne2\r\ne3\r\n";
            const std::vector<QByteArrayView> earlierLines = splitLines(earlier);
            loaded.setCellsEncoded(2, 3, earlier, earlierLines);
            {
                ObjectList::Batch batch(typed);
                for (size_t i = 0; i < earlierLines.size(); ++i)
                    typed.setCell(2 + int(3 + i) / 5, int(3 + i) % 5,
                        cp1251table::decodeLine(earlierLines[i]));
            }

            const int row = rng.bounded(-1, 9);
            const int column = rng.bounded(kColumnCount);
            QSignalSpy loadedSignals(&loaded, &ObjectList::cellsChanged);
            QSignalSpy typedSignals(&typed, &ObjectList::cellsChanged);
            loaded.setCellsEncoded(row, column, bytes, lines);
            {
                ObjectList::Batch batch(typed);
                for (size_t i = 0; i < lines.size(); ++i) {
                    const qsizetype at = qsizetype(row) * kColumnCount + column + qsizetype(i);
                    typed.setCell(int(at / kColumnCount), int(at % kColumnCount),
                        cp1251table::decodeLine(lines[i]));
                }
            }
            for (int r = 0; r < 30; ++r)
                QCOMPARE(rowTexts(loaded, r), rowTexts(typed, r));
            QCOMPARE(loadedSignals, typedSignals);
            QVERIFY(loaded.heldEncodedBytes() <= 4 * listtest::encodedBytesInUse(loaded, 30));
        }
    }

    void encodedCellsBeyondTheColumnsAreIgnored()
    {
        const QByteArray bytes = "a\r\nb\r\n";
        ObjectList list;
        QSignalSpy changed(&list, &ObjectList::cellsChanged);
        list.setCellsEncoded(1, kColumnCount, bytes, splitLines(bytes));
        list.setCellsEncoded(1, -1, bytes, splitLines(bytes));
        QCOMPARE(rowTexts(list, 1), QStringList({ "", "", "", "", "" }));
        QCOMPARE(rowTexts(list, 2), QStringList({ "", "", "", "", "" }));
        QCOMPARE(changed.count(), 0);
        QCOMPARE(list.heldEncodedBytes(), 0);
    }

    // The list holds a share of the buffer: a later change to the caller's copy is not seen.
    void loadedBytesAreShared()
    {
        QByteArray bytes = "first\r\nsecond\r\n";
        ObjectList list;
        list.setCellsEncoded(1, 0, bytes, splitLines(bytes));
        bytes[0] = 'F';
        bytes.replace("second", "SECOND");
        QCOMPARE(list.cell(1, 0), QStringLiteral("first"));
        QCOMPARE(list.cell(1, 1), QStringLiteral("second"));
    }

    void storedCells()
    {
        const QByteArray bytes = "loaded\r\na\rb\r\n";
        ObjectList list;
        list.setCellsEncoded(1, 0, bytes, splitLines(bytes));
        list.setCell(1, 2, QStringLiteral("typed"));
        // CRs are for the writer to leave out.
        QCOMPARE(list.storedCell(1, 0).encoded, QByteArrayView("loaded\r"));
        QCOMPARE(list.storedCell(1, 1).encoded, QByteArrayView("a\rb\r"));
        QVERIFY(!list.storedCell(1, 2).isEncoded());
        QCOMPARE(list.storedCell(1, 2).text, QStringView(u"typed"));
        for (const auto &[r, c] : { std::pair { 1, 3 }, { 9, 0 }, { -1, 0 }, { 1, 5 } }) {
            QVERIFY(!list.storedCell(r, c).isEncoded());
            QVERIFY(list.storedCell(r, c).text.isEmpty());
        }
        // Written over, a cell is its text again.
        list.setCell(1, 0, QStringLiteral("new"));
        QCOMPARE(list.storedCell(1, 0).text, QStringView(u"new"));
        QVERIFY(!list.storedCell(1, 0).isEncoded());
    }

    // Once no cell uses a buffer it is let go; while few do, they get texts of their own.
    void loadedBuffersAreLetGo()
    {
        QByteArray bytes;
        for (int i = 0; i < 100; ++i)
            bytes += "line " + QByteArray::number(i) + "\r\n";
        ObjectList list;
        list.setRowCount(21);
        list.setCellsEncoded(1, 0, bytes, splitLines(bytes));
        const qsizetype held = list.heldEncodedBytes();
        QVERIFY(held >= bytes.size());
        bytes = QByteArray(); // the list's share is all that is left

        // Cells written one by one: the buffer stays while a quarter of it or more is in use.
        int written = 0;
        for (int r = 1; r <= 20; ++r) {
            for (int c = 0; c < kColumnCount; ++c) {
                const bool wasHeld = list.heldEncodedBytes() > 0;
                list.setCell(r, c, QStringLiteral("typed %1").arg(++written));
                QVERIFY(list.heldEncodedBytes() <= 4 * listtest::encodedBytesInUse(list, 21));
                if (wasHeld && list.heldEncodedBytes() == 0) {
                    // The cells left have their texts, and are texts now.
                    for (int i = written; i < 100; ++i) {
                        QCOMPARE(list.cell(1 + i / 5, i % 5), QStringLiteral("line %1").arg(i));
                        QVERIFY(!list.storedCell(1 + i / 5, i % 5).isEncoded());
                    }
                    QVERIFY(written > 60 && written < 90);
                }
            }
        }
        QCOMPARE(list.heldEncodedBytes(), 0);
    }

    void clearedCellsLetGoOfTheirBuffer()
    {
        const QByteArray bytes = "a\r\nb\r\nc\r\nd\r\ne\r\n";
        ObjectList list;
        list.setCellsEncoded(1, 0, bytes, splitLines(bytes));
        QVERIFY(list.heldEncodedBytes() > 0);
        list.clearRow(1);
        QCOMPARE(list.heldEncodedBytes(), 0);
        QCOMPARE(rowTexts(list, 1), QStringList({ "", "", "", "", "" }));
    }

    void changeMark_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("marked");
        QTest::newRow("initial") << "Ормелин для Тарвикса"
                                 << "Ормелин для Тарвикса *";
        QTest::newRow("with path") << "Ормелин для Тарвикса /tmp/a.orm"
                                   << "Ормелин для Тарвикса /tmp/a.orm *";
        QTest::newRow("already marked") << "Ормелин для Тарвикса x *"
                                        << "Ормелин для Тарвикса x *";
        // A star anywhere counts as the mark.
        QTest::newRow("star in path") << "Ормелин для Тарвикса /a*b"
                                      << "Ормелин для Тарвикса /a*b";
    }
    void changeMark()
    {
        QFETCH(QString, title);
        QFETCH(QString, marked);
        FakeOperator ui;
        ui.windowTitle = title;
        QCOMPARE(isChanged(ui), title.contains(u'*'));
        markChanged(ui);
        QCOMPARE(ui.windowTitle, marked);
        QVERIFY(isChanged(ui));
        markChanged(ui);
        QCOMPARE(ui.windowTitle, marked);
    }
};

QTEST_GUILESS_MAIN(TestObjectList)
#include "tst_objectlist.moc"
