#include "objlist/changemark.h"
#include "objlist/listdocument.h"
#include "objlist/listeditor.h"
#include "objlist/objectlist.h"

#include "fakeoperator.h"
#include "listrows.h"

#include <QSignalSpy>
#include <QTest>

using namespace ormelin;

namespace {

const QString kNumberError = QStringLiteral("Ошибка в поле \"Номер объекта\"");
const QString kMaxNumber = QStringLiteral("Максимальный номер объекта 1319");
const QString kSizeParse
    = QStringLiteral("Ошибка в поле \"Высота символа\" и/или \"Ширина символа\"");
const QString kSizeRange = QStringLiteral("Недопустимая ширина или высота символа");
const QString kNoFile = QStringLiteral("В поле \"Файл с объектом\" должно быть имя файла");
const QString kUpdate = QStringLiteral("Объект с таким номером существует. Обновить?");
const QString kClearAll = QStringLiteral("Удалить все записи из списка?");

// Everything an editor works on, wired the way the window wires it.
struct Bench
{
    FakeOperator ui;
    ObjectList list;
    ListDocument document { list, ui };
    ListEditor editor { list, document, ui };

    // Entry rows 1.. hold these numbers (other columns marked so that overwrites show).
    void fillNumbers(const QStringList &numbers)
    {
        list.setRowCount(int(numbers.size()) + 1);
        for (int i = 0; i < numbers.size(); ++i) {
            const int row = i + 1;
            list.setCell(row, ColNumber, numbers[i]);
            list.setCell(row, ColType, QStringLiteral("old type %1").arg(row));
            list.setCell(row, ColFile, QStringLiteral("old file %1").arg(row));
        }
    }
    void add(const QString &number, int type, const QString &file, const QString &width = {},
        const QString &height = {})
    {
        EntryFields &f = editor.fields();
        f.number = number;
        f.type = type;
        f.fileName = file;
        f.width = width;
        f.height = height;
        editor.addOrUpdateObject();
    }
    QStringList row(int r) const { return listtest::rowCells(list, r); }
};

} // namespace

class TestListEditor : public QObject
{
    Q_OBJECT
private slots:
    // Add or update: which row the new object lands in.
    void addScan_data()
    {
        QTest::addColumn<QStringList>("numbers");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QList<bool>>("answers");
        QTest::addColumn<int>("target"); // 0: nothing written
        QTest::addColumn<int>("rowCount");
        QTest::addColumn<int>("questions");

        QTest::newRow("empty list") << QStringList { "" } << "100" << QList<bool> {} << 1 << 2 << 0;
        QTest::newRow("appends after last")
            << QStringList { "1", "2" } << "3" << QList<bool> {} << 3 << 4 << 0;
        QTest::newRow("free row reused")
            << QStringList { "1", "", "9" } << "4" << QList<bool> {} << 2 << 4 << 0;
        QTest::newRow("free row ends the duplicate search")
            << QStringList { "1", "", "5" } << "5" << QList<bool> {} << 2 << 4 << 0;
        QTest::newRow("unparsable number overwritten")
            << QStringList { "abc" } << "7" << QList<bool> {} << 1 << 2 << 0;
        QTest::newRow("trailing blank number overwritten")
            << QStringList { "3", "4 " } << "7" << QList<bool> {} << 2 << 3 << 0;
        QTest::newRow("above 1319 overwritten")
            << QStringList { "1", "2000" } << "7" << QList<bool> {} << 2 << 3 << 0;
        QTest::newRow("-1 is 65535, overwritten")
            << QStringList { "-1" } << "7" << QList<bool> {} << 1 << 2 << 0;
        QTest::newRow("1319 is kept")
            << QStringList { "1319" } << "7" << QList<bool> {} << 2 << 3 << 0;
        QTest::newRow("duplicate, yes")
            << QStringList { "1", "5", "9" } << "5" << QList<bool> { true } << 2 << 4 << 1;
        QTest::newRow("duplicate, no")
            << QStringList { "1", "5", "9" } << "5" << QList<bool> { false } << 0 << 4 << 1;
        QTest::newRow("duplicate by 16 bits")
            << QStringList { "65537" } << "1" << QList<bool> { true } << 1 << 2 << 1;
        QTest::newRow("duplicate by hex")
            << QStringList { "$10" } << "16" << QList<bool> { true } << 1 << 2 << 1;
        QTest::newRow("first duplicate wins")
            << QStringList { "5", "5" } << "5" << QList<bool> { true } << 1 << 3 << 1;
    }
    void addScan()
    {
        QFETCH(QStringList, numbers);
        QFETCH(QString, number);
        QFETCH(QList<bool>, answers);
        QFETCH(int, target);
        QFETCH(int, rowCount);
        QFETCH(int, questions);

        Bench b;
        b.fillNumbers(numbers);
        for (bool a : answers)
            b.ui.answers.enqueue(a);
        const QString titleBefore = b.ui.windowTitle;
        QList<QStringList> before;
        for (int r = 0; r <= numbers.size() + 1; ++r)
            before << b.row(r);

        b.add(number, TypeScript, QStringLiteral("/objects/s.bin"));

        QCOMPARE(b.ui.messages, QStringList());
        QCOMPARE(b.ui.questions.size(), questions);
        if (questions)
            QCOMPARE(b.ui.questions.first(), kUpdate);
        QCOMPARE(b.list.rowCount(), rowCount);
        for (int r = 0; r < before.size(); ++r) {
            if (r == target)
                continue;
            QCOMPARE(b.row(r), before[r]);
        }
        if (target == 0) {
            QCOMPARE(b.ui.windowTitle, titleBefore);
            return;
        }
        QCOMPARE(b.list.cell(target, ColNumber), number);
        QCOMPARE(b.list.cell(target, ColType), QStringLiteral("Скрипт"));
        QCOMPARE(b.list.cell(target, ColFile), QStringLiteral("/objects/s.bin"));
        QVERIFY(isChanged(b.ui));
    }

    // Add or update: the number field.
    void numberField_data()
    {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("message"); // empty: accepted
        QTest::addColumn<QString>("written");
        QTest::newRow("plain") << "12"
                               << ""
                               << "12";
        QTest::newRow("leading blank") << " 12"
                                       << ""
                                       << "12";
        QTest::newRow("trailing blank") << "12 " << kNumberError << "";
        QTest::newRow("hex") << "$10"
                             << ""
                             << "16";
        QTest::newRow("leading zeros") << "007"
                                       << ""
                                       << "7";
        QTest::newRow("zero") << "0"
                              << ""
                              << "0";
        QTest::newRow("1319") << "1319"
                              << ""
                              << "1319";
        QTest::newRow("1320") << "1320" << kMaxNumber << "";
        QTest::newRow("-3 is 65533") << "-3" << kMaxNumber << "";
        QTest::newRow("65537 is 1") << "65537"
                                    << ""
                                    << "1";
        QTest::newRow("65536 is 0") << "65536"
                                    << ""
                                    << "0";
        QTest::newRow("empty") << "" << kNumberError << "";
        QTest::newRow("letters") << "abc" << kNumberError << "";
        QTest::newRow("too big for 32 bits") << "4294967296" << kNumberError << "";
    }
    void numberField()
    {
        QFETCH(QString, number);
        QFETCH(QString, message);
        QFETCH(QString, written);
        Bench b;
        b.add(number, TypeJpeg, QStringLiteral("a.jpg"));
        if (message.isEmpty()) {
            QCOMPARE(b.ui.messages, QStringList());
            QCOMPARE(b.list.cell(1, ColNumber), written);
            QCOMPARE(b.list.cell(1, ColType), QStringLiteral("Изображение JPEG"));
        } else {
            QCOMPARE(b.ui.messages, QStringList { message });
            QCOMPARE(b.list.cell(1, ColNumber), QString());
            QVERIFY(!isChanged(b.ui));
        }
    }

    // Add or update: the character width and height of font types.
    void fontSize_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("width");
        QTest::addColumn<QString>("height");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QStringList>("written"); // width, height; empty when refused

        const int mono = TypeMonoFont;
        QTest::newRow("plain") << mono << "8"
                               << "16" << QStringList {} << QStringList { "8", "16" };
        QTest::newRow("255 both") << mono << "255"
                                  << "255" << QStringList {} << QStringList { "255", "255" };
        QTest::newRow("width 256") << mono << "256"
                                   << "8" << QStringList { kSizeRange } << QStringList {};
        QTest::newRow("height 256") << mono << "8"
                                    << "256" << QStringList { kSizeRange } << QStringList {};
        QTest::newRow("negative passes") << mono << "-1"
                                         << "8" << QStringList {} << QStringList { "-1", "8" };
        QTest::newRow("hex and blank") << int(TypeMicrochipFont) << " 8"
                                       << "$10" << QStringList {} << QStringList { "8", "16" };
        QTest::newRow("width 300, height unparsable")
            << mono << "300"
            << "x" << QStringList { kSizeParse, kSizeRange } << QStringList {};
        // The height is not parsed once the width failed, so its 300 is never seen.
        QTest::newRow("width unparsable, height 300")
            << mono << "x"
            << "300" << QStringList { kSizeParse } << QStringList {};
        QTest::newRow("both empty") << mono << ""
                                    << "" << QStringList { kSizeParse } << QStringList {};
        QTest::newRow("not checked for pictures")
            << int(TypeBitmap) << "abc"
            << "999" << QStringList {} << QStringList { "old w", "old h" };
        QTest::newRow("not checked for scripts")
            << int(TypeScript) << "300"
            << "" << QStringList {} << QStringList { "old w", "old h" };
    }
    void fontSize()
    {
        QFETCH(int, type);
        QFETCH(QString, width);
        QFETCH(QString, height);
        QFETCH(QStringList, messages);
        QFETCH(QStringList, written);
        Bench b;
        b.list.setCell(1, ColWidth, QStringLiteral("old w"));
        b.list.setCell(1, ColHeight, QStringLiteral("old h"));
        b.add(QStringLiteral("3"), type, QStringLiteral("f.fnt"), width, height);
        QCOMPARE(b.ui.messages, messages);
        if (written.isEmpty()) {
            QCOMPARE(b.row(1), QStringList({ "", "", "old w", "old h", "" }));
            QVERIFY(!isChanged(b.ui));
        } else {
            QCOMPARE(b.row(1),
                QStringList({ "3", objectTypeTexts()[type], written[0], written[1], "f.fnt" }));
        }
    }

    // The checks run in order and the first failing step ends the operation.
    void checkOrder_data()
    {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("width");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("number first") << "x"
                                      << "x"
                                      << "" << QStringList { kNumberError };
        QTest::newRow("range before size") << "5000"
                                           << "x"
                                           << "" << QStringList { kMaxNumber };
        QTest::newRow("size before file") << "5"
                                          << "x"
                                          << "" << QStringList { kSizeParse };
        QTest::newRow("file last") << "5"
                                   << "8"
                                   << "" << QStringList { kNoFile };
    }
    void checkOrder()
    {
        QFETCH(QString, number);
        QFETCH(QString, width);
        QFETCH(QString, file);
        QFETCH(QStringList, messages);
        Bench b;
        b.fillNumbers({ "5" }); // a duplicate that must never be asked about
        b.add(number, TypeMonoFont, file, width, QStringLiteral("8"));
        QCOMPARE(b.ui.messages, messages);
        QCOMPARE(b.ui.questions, QStringList());
        QCOMPARE(b.list.cell(1, ColType), QStringLiteral("old type 1"));
    }

    void fontToPictureKeepsOldSize()
    {
        Bench b;
        b.add(QStringLiteral("4"), TypeMonoFont, QStringLiteral("f.fnt"), QStringLiteral("8"),
            QStringLiteral("12"));
        b.ui.answers.enqueue(true);
        b.add(QStringLiteral("4"), TypeJpeg, QStringLiteral("p.jpg"));
        QCOMPARE(b.row(1), QStringList({ "4", "Изображение JPEG", "8", "12", "p.jpg" }));
        QCOMPARE(b.list.rowCount(), 2);
    }

    void fileNameAsTyped()
    {
        Bench b;
        const QString name = QStringLiteral("  C:\\Тарвикс\\картинка 1.jpg ");
        b.add(QStringLiteral("1"), TypeJpeg, name);
        QCOMPARE(b.list.cell(1, ColFile), name);
    }

    void clearRowLeavesAFreeRow()
    {
        Bench b;
        b.fillNumbers({ "1", "2", "3" });
        b.list.selectRow(2);
        b.editor.clearRow();
        QCOMPARE(b.row(2), QStringList({ "", "", "", "", "" }));
        QCOMPARE(b.list.rowCount(), 4);
        QVERIFY(isChanged(b.ui));
        b.add(QStringLiteral("9"), TypeScript, QStringLiteral("s"));
        QCOMPARE(b.list.cell(2, ColNumber), QStringLiteral("9"));
        QCOMPARE(b.list.rowCount(), 4);
    }

    void clearListAnsweredNo()
    {
        Bench b;
        b.fillNumbers({ "1", "2" });
        b.document.setListPath(QStringLiteral("/l.orm"));
        b.ui.windowTitle = QStringLiteral("Ормелин для Тарвикса /l.orm *");
        b.ui.answers.enqueue(false);
        b.editor.clearList();
        QCOMPARE(b.ui.questions, QStringList { kClearAll });
        QCOMPARE(b.list.rowCount(), 3);
        QCOMPARE(b.list.cell(2, ColNumber), QStringLiteral("2"));
        QCOMPARE(b.ui.windowTitle, QStringLiteral("Ормелин для Тарвикса /l.orm *"));
        QCOMPARE(b.document.listPath(), QStringLiteral("/l.orm"));
    }

    void clearListAnsweredYes()
    {
        Bench b;
        b.fillNumbers({ "1", "2", "3" });
        b.list.selectRow(3);
        b.document.setListPath(QStringLiteral("/l.orm"));
        b.ui.windowTitle = QStringLiteral("Ормелин для Тарвикса /l.orm *");
        b.ui.answers.enqueue(true);
        b.editor.clearList();
        QCOMPARE(b.list.rowCount(), 2);
        QCOMPARE(b.list.selectedRow(), 1);
        QCOMPARE(b.row(1), QStringList({ "", "", "", "", "" }));
        QCOMPARE(b.ui.windowTitle, QStringLiteral("Ормелин для Тарвикса "));
        QVERIFY(!isChanged(b.ui));
        QCOMPARE(b.document.listPath(), QString());
        QCOMPARE(b.list.cell(3, ColNumber), QStringLiteral("3")); // only hidden
    }

    // After Clear list, a font row 2 that held width 8 comes back under two new pictures.
    void hiddenRowsReappear()
    {
        Bench b;
        b.add(QStringLiteral("1"), TypeJpeg, QStringLiteral("a.jpg"));
        b.add(QStringLiteral("2"), TypeMonoFont, QStringLiteral("m.fnt"), QStringLiteral("8"),
            QStringLiteral("16"));
        QCOMPARE(b.list.rowCount(), 3);
        b.ui.answers.enqueue(true);
        b.editor.clearList();
        b.add(QStringLiteral("10"), TypeJpeg, QStringLiteral("x.jpg"));
        b.add(QStringLiteral("11"), TypeJpeg, QStringLiteral("y.jpg"));
        QCOMPARE(b.list.rowCount(), 3);
        QCOMPARE(b.row(1), QStringList({ "10", "Изображение JPEG", "", "", "x.jpg" }));
        QCOMPARE(b.row(2), QStringList({ "11", "Изображение JPEG", "8", "16", "y.jpg" }));
    }

    void editRowCopiesTheRow()
    {
        Bench b;
        b.list.setRowCount(3);
        const QStringList cells = { "007", "моноширинный шрифт", "8", "-1", "/f/моно.fnt" };
        for (int c = 0; c < kColumnCount; ++c)
            b.list.setCell(2, c, cells[c]);
        b.list.selectRow(2);
        QSignalSpy spy(&b.editor, &ListEditor::fieldsChanged);
        b.editor.editRow();
        QCOMPARE(spy.count(), 1);
        const EntryFields &f = b.editor.fields();
        QCOMPARE(f.number, QStringLiteral("007")); // copied as stored, not reparsed
        QCOMPARE(f.type, int(TypeMonoFont));
        QVERIFY(f.fontFieldsVisible);
        QCOMPARE(f.width, QStringLiteral("8"));
        QCOMPARE(f.height, QStringLiteral("-1"));
        QCOMPARE(f.fileName, QStringLiteral("/f/моно.fnt"));
        QCOMPARE(b.ui.messages, QStringList());
        QVERIFY(!isChanged(b.ui));
    }

    void editRowRefusals_data()
    {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("unknown type")
            << "5"
            << "Картинка" << QStringList { "Неверный тип объекта: Картинка" };
        QTest::newRow("type with blank")
            << "5"
            << "Скрипт " << QStringList { "Неверный тип объекта: Скрипт " };
        QTest::newRow("empty type") << "5"
                                    << "" << QStringList { "Неверный тип объекта: " };
        QTest::newRow("free row") << ""
                                  << "Скрипт" << QStringList {};
    }
    void editRowRefusals()
    {
        QFETCH(QString, number);
        QFETCH(QString, type);
        QFETCH(QStringList, messages);
        Bench b;
        b.list.setCell(1, ColNumber, number);
        b.list.setCell(1, ColType, type);
        b.list.setCell(1, ColFile, QStringLiteral("x"));
        const EntryFields before = b.editor.fields();
        QSignalSpy spy(&b.editor, &ListEditor::fieldsChanged);
        b.editor.editRow();
        QCOMPARE(b.ui.messages, messages);
        QVERIFY(b.editor.fields() == before);
        QCOMPARE(spy.count(), 0);
    }

    void typeChangedShowsFontFields_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("visible");
        for (int t = 0; t < kObjectTypeCount; ++t)
            QTest::newRow(qPrintable(objectTypeTexts()[t]))
                << t << isFontTypeText(objectTypeTexts()[t]);
        QTest::newRow("no type") << -1 << false;
    }
    void typeChangedShowsFontFields()
    {
        QFETCH(int, type);
        QFETCH(bool, visible);
        Bench b;
        QVERIFY(!b.editor.fields().fontFieldsVisible); // JPEG at start
        QSignalSpy spy(&b.editor, &ListEditor::fieldsChanged);
        b.editor.fields().type = type;
        b.editor.typeChanged();
        QCOMPARE(b.editor.fields().fontFieldsVisible, visible);
        QCOMPARE(spy.count(), visible ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestListEditor)
#include "tst_listeditor.moc"
