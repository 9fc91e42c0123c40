// The real window, driven by its own buttons and boxes on the offscreen platform: start-up,
// the port box, list editing, saving and loading across a restart, a write to flash against the
// controller simulator, shutdown, and the general failure box.
#include "app/mainwindow.h"
#include "link_simprocess.h"
#include "objlist/listfile.h"
#include "windowdriver.h"

#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using namespace ormelin;

namespace {

constexpr int kWait = 10000;

void setField(QWidget *w, const char *name, const QString &text)
{
    auto *edit = child<QLineEdit>(w, name);
    edit->selectAll();
    edit->del();
    // Typed as the operator would; QTest can type Latin-1 only, so other texts are inserted.
    if (text == QString::fromLatin1(text.toLatin1()))
        QTest::keyClicks(edit, text);
    else
        edit->insert(text);
}

QStringList row(TSendForm &window, int r)
{
    QStringList cells;
    for (int c = 0; c < kColumnCount; ++c)
        cells << window.objectList().cell(r, c);
    return cells;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_startDir;

    QString path(const QString &name) const { return m_dir->filePath(name); }

    // Adds an object through the entry fields and the add button.
    void addObject(TSendForm &w, const QString &number, int type, const QString &file,
                   const QString &width = {}, const QString &height = {})
    {
        setField(&w, "NumEdit", number);
        child<QComboBox>(&w, "TypeCombo")->setCurrentIndex(type);
        if (child<QLineEdit>(&w, "WidthEdit")->isVisibleTo(&w)) {
            setField(&w, "WidthEdit", width);
            setField(&w, "HeightEdit", height);
        }
        setField(&w, "FNameEdit", file);
        click(&w, "AddBtn");
    }

private slots:
    void init()
    {
        // Each test starts in a folder of its own: the settings file lives in the current
        // directory.
        m_startDir = QDir::currentPath();
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QVERIFY(QDir::setCurrent(m_dir->path()));
    }
    void cleanup()
    {
        QDir::setCurrent(m_startDir);
        m_dir.reset();
    }

    void startUpWithoutPortOrSettings()
    {
        BoxAnswerer boxes;
        TSendForm w;
        w.show();
        QCOMPARE(w.statusText(), QStringLiteral("Не могу открыть порт COM3"));
        // The reason is one hover away.
        QVERIFY(w.statusBar()->toolTip().contains(QStringLiteral("COM3")));
        QVERIFY(!child<QLabel>(&w, "ConnLabel")->isEnabled());
        QCOMPARE(w.windowTitle(), QStringLiteral("Ормелин для Тарвикса"));
        QCOMPARE(w.objectList().rowCount(), 2);
        QCOMPARE(child<QWidget>(&w, "ProgrBar")->isVisible(), false);
        QCOMPARE(child<QWidget>(&w, "WidthEdit")->isVisible(), false);
        QCOMPARE(child<QLineEdit>(&w, "NumEdit")->text(), QStringLiteral("100"));
        QCOMPARE(child<QComboBox>(&w, "PortCombo")->currentText(), QStringLiteral("COM3"));
        QCOMPARE(child<QComboBox>(&w, "PortCombo")->itemText(0), QStringLiteral("COM1"));
        QCOMPARE(child<QComboBox>(&w, "PortCombo")->itemText(8), QStringLiteral("COM9"));
        auto *grid = child<QTableView>(&w, "StringGrid");
        QCOMPARE(grid->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Номер"));
        QCOMPARE(grid->model()->headerData(4, Qt::Horizontal).toString(),
                 QStringLiteral("Имя файла с объектом"));
        QCOMPARE(grid->columnWidth(1), 162);
        QVERIFY(boxes.seen.isEmpty());
    }

    void controlsFollowTheirEdges()
    {
        BoxAnswerer boxes;
        TSendForm w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto *exit = child<QWidget>(&w, "ExitBtn");
        auto *grid = child<QWidget>(&w, "StringGrid");
        auto *write = child<QWidget>(&w, "WriteBtn");
        auto *add = child<QWidget>(&w, "AddBtn");
        QCOMPARE(exit->geometry(), QRect(824, 651, 105, 25));
        QCOMPARE(grid->geometry(), QRect(8, 216, 744, 385));
        const QRect addBefore = add->geometry();
        w.resize(w.width() + 100, w.height() + 50);
        QTRY_COMPARE(exit->geometry(), QRect(924, 701, 105, 25));
        QCOMPARE(grid->geometry(), QRect(8, 216, 844, 435));
        QCOMPARE(write->geometry(), QRect(224, 698, 137, 25));
        QCOMPARE(add->geometry(), addBefore);
    }

    void startUpLoadsTheRememberedList()
    {
        ObjectList list;
        list.setRowCount(3);
        list.setCell(1, ColNumber, "7");
        list.setCell(1, ColType, objectTypeTexts().at(4));
        list.setCell(1, ColFile, "скрипт.scr");
        list.setCell(2, ColNumber, "8");
        list.setCell(2, ColType, objectTypeTexts().at(3));
        list.setCell(2, ColWidth, "8");
        list.setCell(2, ColHeight, "16");
        list.setCell(2, ColFile, "mono.fnt");
        const QString listPath = path("список.orm");
        QVERIFY(listfile::write(listPath, list));
        QVERIFY(listfile::writeSettings(listPath));

        BoxAnswerer boxes;
        TSendForm w;
        QCOMPARE(w.windowTitle(), QStringLiteral("Ормелин для Тарвикса ") + listPath);
        QCOMPARE(w.objectList().rowCount(), 3);
        QCOMPARE(row(w, 2), QStringList({"8", objectTypeTexts().at(3), "8", "16", "mono.fnt"}));
        QCOMPARE(child<QTableView>(&w, "StringGrid")->model()->rowCount(), 2);
        QVERIFY(boxes.seen.isEmpty());
    }

    void portBoxSelectsThePortAtEveryKeystroke()
    {
        BoxAnswerer boxes;
        TSendForm w;
        w.show();
        QSignalSpy statuses(&w, &TSendForm::statusShown);
        auto *port = child<QComboBox>(&w, "PortCombo");
        port->lineEdit()->selectAll();
        port->lineEdit()->del();
        statuses.clear();
        QTest::keyClicks(port->lineEdit(), "COM1");
        QCOMPARE(statuses.size(), 4);
        const QStringList expected = {"Не могу открыть порт C", "Не могу открыть порт CO",
                                      "Не могу открыть порт COM", "Не могу открыть порт COM1"};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(statuses.at(i).at(0).toString(), expected.at(i));
        QCOMPARE(w.comm().DeviceName(), QStringLiteral("COM1"));
    }

    void editingThroughTheButtons()
    {
        BoxAnswerer boxes;
        TSendForm w;
        w.show();
        addObject(w, "5", 0, "a.jpg");
        addObject(w, "$10", 2, "font.fnt", "8", "12");
        QCOMPARE(row(w, 1), QStringList({"5", objectTypeTexts().at(0), "", "", "a.jpg"}));
        QCOMPARE(row(w, 2), QStringList({"16", objectTypeTexts().at(2), "8", "12", "font.fnt"}));
        QVERIFY(w.windowTitle().endsWith(QStringLiteral(" *")));
        // The font fields appeared with the font type.
        QVERIFY(child<QWidget>(&w, "WidthEdit")->isVisible());

        // A duplicate number asks first; No changes nothing.
        boxes.answers.enqueue({false, {}});
        addObject(w, "5", 4, "other.scr");
        QCOMPARE(boxes.texts("question"),
                 QStringList({"Объект с таким номером существует. Обновить?"}));
        QCOMPARE(boxes.seen.last().caption, QStringLiteral("Хороший вопрос"));
        QCOMPARE(w.objectList().cell(1, ColFile), QStringLiteral("a.jpg"));

        // A bad number is refused with a message box captioned with the program's title.
        addObject(w, "1320", 4, "x.scr");
        QCOMPARE(boxes.texts("message").last(), QStringLiteral("Максимальный номер объекта 1319"));
        QCOMPARE(boxes.seen.last().caption, QStringLiteral("Ормелин"));
        QVERIFY(!boxes.seen.last().hasIcon);

        // Double click on row 2 copies it into the entry fields.
        auto *grid = child<QTableView>(&w, "StringGrid");
        const QRect cell = grid->visualRect(grid->model()->index(1, 0));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(w.objectList().selectedRow(), 2);
        setField(&w, "NumEdit", "");
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(child<QLineEdit>(&w, "NumEdit")->text(), QStringLiteral("16"));
        QCOMPARE(child<QComboBox>(&w, "TypeCombo")->currentIndex(), 2);
        QCOMPARE(child<QLineEdit>(&w, "HeightEdit")->text(), QStringLiteral("12"));
        QCOMPARE(child<QLineEdit>(&w, "FNameEdit")->text(), QStringLiteral("font.fnt"));

        // Clear row empties the selected row and keeps it as a free row.
        click(&w, "ClearRowBtn");
        QCOMPARE(row(w, 2), QStringList({"", "", "", "", ""}));
        QCOMPARE(w.objectList().rowCount(), 3);

        // Clear list: No keeps everything, Yes leaves one empty row and the plain title.
        boxes.answers.enqueue({false, {}});
        click(&w, "ClearListBtn");
        QCOMPARE(w.objectList().rowCount(), 3);
        QVERIFY(w.windowTitle().contains(QLatin1Char('*')));
        boxes.answers.enqueue({true, {}});
        click(&w, "ClearListBtn");
        QCOMPARE(boxes.texts("question").last(), QStringLiteral("Удалить все записи из списка?"));
        QCOMPARE(w.objectList().rowCount(), 2);
        QCOMPARE(row(w, 1), QStringList({"", "", "", "", ""}));
        QCOMPARE(w.windowTitle(), QStringLiteral("Ормелин для Тарвикса "));
        QCOMPARE(w.objectList().selectedRow(), 1);
    }

    void saveAndReloadAcrossARestart()
    {
        const QString listPath = path("сохранённый.orm");
        {
            BoxAnswerer boxes;
            TSendForm w;
            w.show();
            addObject(w, "1", 4, "один.scr");
            addObject(w, "2", 3, "моно.fnt", "-1", "255");
            boxes.answers.enqueue({true, listPath});
            click(&w, "SaveListBtn");
            QCOMPARE(boxes.texts("save").size(), 1);
            QCOMPARE(w.windowTitle(), QStringLiteral("Ормелин для Тарвикса ") + listPath);
            w.close(); // unchanged now: no question
            QVERIFY(boxes.texts("question").isEmpty());
        }
        QVERIFY(QFile::exists(listPath));
        BoxAnswerer boxes;
        TSendForm again;
        QCOMPARE(again.windowTitle(), QStringLiteral("Ормелин для Тарвикса ") + listPath);
        QCOMPARE(row(again, 2), QStringList({"2", objectTypeTexts().at(3), "-1", "255", "моно.fnt"}));

        // Load list through the open dialog replaces the list; append adds after the last row.
        boxes.answers.enqueue({true, listPath});
        click(&again, "AppendListBtn");
        QCOMPARE(again.objectList().rowCount(), 5);
        QCOMPARE(again.objectList().cell(4, ColFile), QStringLiteral("моно.fnt"));
        boxes.answers.enqueue({true, listPath});
        click(&again, "LoadListBtn");
        QCOMPARE(again.objectList().rowCount(), 3);
        QCOMPARE(boxes.seen.last().caption, QStringLiteral("Выберите файл"));
    }

    void shutdownOffersToSaveAChangedList_data()
    {
        QTest::addColumn<bool>("save");
        QTest::newRow("yes") << true;
        QTest::newRow("no") << false;
    }
    void shutdownOffersToSaveAChangedList()
    {
        QFETCH(bool, save);
        const QString listPath = path("при_выходе.orm");
        BoxAnswerer boxes;
        {
            TSendForm w;
            w.show();
            addObject(w, "3", 4, "s.scr");
            boxes.answers.enqueue({save, {}});
            if (save)
                boxes.answers.enqueue({true, listPath});
            click(&w, "ExitBtn");
            QVERIFY(!w.isVisible());
        }
        QCOMPARE(boxes.texts("question"), QStringList({"Сохранить измененный список в файле?"}));
        QCOMPARE(QFile::exists(listPath), save);
        const auto remembered = listfile::readSettings();
        QVERIFY(remembered.has_value());
        QCOMPARE(*remembered, save ? listPath : QString());
    }

    void writeToFlashThroughTheButtons()
    {
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.error()));
        const QByteArray script("SHOW 1\r\n");
        writeFile(path("s.scr"), script);
        QImage picture(4, 3, QImage::Format_RGB888);
        picture.fill(QColor(200, 100, 50));
        QVERIFY(picture.save(path("p.bmp"), "BMP"));

        BoxAnswerer boxes;
        TSendForm w;
        w.show();
        auto *port = child<QComboBox>(&w, "PortCombo");
        port->setEditText(sim.port());
        QTRY_COMPARE_WITH_TIMEOUT(w.statusText(),
                                  QStringLiteral("Тарвикс на связи. Разрешение экрана: 320x240"),
                                  kWait);
        QVERIFY(child<QLabel>(&w, "ConnLabel")->isEnabled());

        addObject(w, "20", 4, path("s.scr"));
        addObject(w, "21", 1, path("p.bmp"));
        click(&w, "WriteBtn");
        QVERIFY(child<QWidget>(&w, "ProgrBar")->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(boxes.texts("message").size(), 1, kWait);
        QCOMPARE(boxes.texts("message").first(),
                 QStringLiteral("Передача успешно завершена. Передано 0 кБайт."));
        QVERIFY(!child<QWidget>(&w, "ProgrBar")->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(w.statusText().startsWith(QStringLiteral("Записано за ")), kWait);
        QVERIFY2(w.statusText().endsWith(
                     QStringLiteral("% предельной скорости линии (22,7 кБайт/с)")),
                 qPrintable(w.statusText()));
        QCOMPARE(sim.dumpFile("20.bin"), script);
        QCOMPARE(sim.dumpFile("21.bin"), QByteArray("\x99\x19", 2).repeated(12));

        // Erase, answered by the controller.
        click(&w, "EraseBtn");
        QTRY_COMPARE_WITH_TIMEOUT(w.statusText(), QStringLiteral("Таблица объектов во флэш очищена"),
                                  kWait);
        // Output the selected object (row 1, the script).
        click(&w, "ExecBtn");
        QCOMPARE(w.statusText(), QStringLiteral("Команда на вывод объекта 20 отправлена"));
        QTRY_VERIFY_WITH_TIMEOUT(!sim.log("frame").filter("output-script number=20").isEmpty(),
                                 kWait);
        QVERIFY(boxes.texts("failure").isEmpty());
    }

    void uncaughtFailureIsShownAndTheProgramGoesOn()
    {
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.error()));
        QImage picture(8, 8, QImage::Format_RGB888);
        picture.fill(Qt::red);
        QVERIFY(picture.save(path("picture.jpg"), "JPEG"));

        BoxAnswerer boxes;
        TSendForm w;
        w.show();
        child<QComboBox>(&w, "PortCombo")->setEditText(sim.port());
        QTRY_VERIFY_WITH_TIMEOUT(child<QLabel>(&w, "ConnLabel")->isEnabled(), kWait);

        // A JPEG given as a bitmap object cannot be encoded: nothing catches that on the way.
        addObject(w, "30", 1, path("picture.jpg"));
        click(&w, "WriteBtn");
        QCOMPARE(boxes.texts("failure"),
                 QStringList({"Can only modify an image if it contains a bitmap."}));
        const SeenBox failure = boxes.seen.last();
        QCOMPARE(failure.caption, QStringLiteral("Ормелин"));
        QVERIFY(failure.hasIcon);
        // The write stops where it stood, gauge left shown; nothing was sent.
        QVERIFY(child<QWidget>(&w, "ProgrBar")->isVisible());
        QVERIFY(sim.log("payload").isEmpty());

        // The program goes on.
        addObject(w, "31", 4, path("picture.jpg"));
        QCOMPARE(w.objectList().cell(2, ColNumber), QStringLiteral("31"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
