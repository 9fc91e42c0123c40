#include "objlist/listdocument.h"
#include "objlist/listeditor.h"
#include "objlist/listfile.h"
#include "objlist/objectlist.h"
#include "objlist/objectlistmodel.h"

#include "fakeoperator.h"
#include "listrows.h"
#include "testfiles.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QSize>
#include <QTemporaryDir>
#include <QTest>

using namespace ormelin;

class TestObjectListModel : public QObject
{
    Q_OBJECT
private slots:
    void headers_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::newRow("number") << 0 << "Номер" << 52;
        QTest::newRow("type") << 1 << "Тип объекта" << 162;
        QTest::newRow("width") << 2 << "" << 43;
        QTest::newRow("height") << 3 << "" << 44;
        QTest::newRow("file") << 4 << "Имя файла с объектом" << 567;
    }
    void headers()
    {
        QFETCH(int, column);
        QFETCH(QString, text);
        QFETCH(int, width);
        ObjectList list;
        ObjectListModel model(list);
        QCOMPARE(model.headerData(column, Qt::Horizontal).toString(), text);
        QCOMPARE(
            model.headerData(column, Qt::Horizontal, Qt::SizeHintRole).toSize(), QSize(width, 20));
        QCOMPARE(ObjectListModel::columnWidth(column), width);
    }

    void cellsMapToEntryRows()
    {
        ObjectList list;
        ObjectListModel model(list);
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(model.columnCount(), kColumnCount);
        list.setCell(0, ColNumber, QStringLiteral("header cell"));
        list.setCell(1, ColFile, QStringLiteral("/a.jpg"));
        QCOMPARE(model.index(0, ColFile).data().toString(), QStringLiteral("/a.jpg"));
        QCOMPARE(model.index(0, ColNumber).data().toString(), QString());
        QVERIFY(!(model.flags(model.index(0, 0)) & Qt::ItemIsEditable));
        QVERIFY(model.flags(model.index(0, 0)) & Qt::ItemIsSelectable);
    }

    // The tester checks every signal and answer of the model while the list is worked on the
    // way the window works on it.
    void modelStaysConsistent()
    {
        QTemporaryDir tmp;
        FakeOperator ui;
        ObjectList list;
        ListDocument document(list, ui);
        ListEditor editor(list, document, ui);
        ObjectListModel model(list);
        QAbstractItemModelTester tester(
            &model, QAbstractItemModelTester::FailureReportingMode::QtTest);

        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

        for (int n = 0; n < 5; ++n) {
            editor.fields().number = QString::number(n);
            editor.fields().fileName = QStringLiteral("f%1").arg(n);
            editor.addOrUpdateObject();
        }
        QCOMPARE(model.rowCount(), 5);
        QCOMPARE(inserted.count(), 4);
        QCOMPARE(model.index(4, ColFile).data().toString(), QStringLiteral("f4"));

        list.selectRow(3);
        editor.clearRow();
        QCOMPARE(model.index(2, ColNumber).data().toString(), QString());

        const QString p = tmp.filePath(QStringLiteral("m.orm"));
        ui.saveChoices.enqueue(p);
        QVERIFY(document.saveList());

        ui.answers.enqueue(true);
        editor.clearList();
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(removed.count(), 1);

        // A load is one insertion and one change, however many cells it fills.
        inserted.clear();
        changed.clear();
        ui.openChoices.enqueue(p);
        document.loadList();
        QCOMPARE(ui.messages, QStringList());
        QCOMPARE(model.rowCount(), 5);
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(model.index(4, ColFile).data().toString(), QStringLiteral("f4"));

        ui.openChoices.enqueue(p);
        document.appendList();
        QCOMPARE(model.rowCount(), 10);
        QCOMPARE(model.index(9, ColFile).data().toString(), QStringLiteral("f4"));

        // Cells of hidden rows change without the view hearing of rows it does not have.
        changed.clear();
        list.setCell(40, ColFile, QStringLiteral("hidden"));
        QCOMPARE(changed.count(), 0);
        list.setRowCount(2);
        QCOMPARE(model.rowCount(), 1);
    }
};

QTEST_GUILESS_MAIN(TestObjectListModel)
#include "tst_objectlistmodel.moc"
