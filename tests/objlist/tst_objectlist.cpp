#include "objlist/changemark.h"
#include "objlist/objectlist.h"

#include "fakeoperator.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

using namespace ormelin;

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
