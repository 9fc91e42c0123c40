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

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

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

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
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
    // A path of `length` characters ending in `name`, through Cyrillic folders short enough for
    // the file system; the folders are created.
    QString longPath(int length, const QString &name) const
    {
        QString p = m_dir->path();
        QString file = name;
        int rest = length - int(p.size()) - 1 - int(file.size());
        if (rest == 1) {
            file.prepend(u'ё');
            rest = 0;
        }
        while (rest > 0) {
            int take = std::min(rest - 1, 60);
            if (rest - take - 1 == 1)
                --take; // no room is left for a folder of one letter and its slash
            p += u'/' + QString(take, u'ё');
            rest -= take + 1;
        }
        QDir().mkpath(p);
        return p + u'/' + file;
    }

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
        // A list kept at an unattended close goes below the user's data folder.
        qputenv("XDG_DATA_HOME", QFile::encodeName(path(QStringLiteral("data"))));
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

    // A save asked for at close that fails keeps the window and the list: the row can be mended
    // or the list saved elsewhere, and a later close saves it.
    void closeWithAnUnwritableCellKeepsTheList_data()
    {
        QTest::addColumn<bool>("mendTheRow");
        QTest::newRow("row mended, then closed") << true;
        QTest::newRow("row cleared, list saved elsewhere") << false;
    }
    void closeWithAnUnwritableCellKeepsTheList()
    {
        QFETCH(bool, mendTheRow);
        const QString first = path("первый.orm");
        const QString elsewhere = path("другой.orm");
        BoxAnswerer boxes;
        TSendForm w;
        w.show();
        addObject(w, "1", 4, "s.scr");
        addObject(w, "2", 0, "/home/Müller/фото.jpg");
        boxes.answers.enqueue({true, {}});
        boxes.answers.enqueue({true, first});
        click(&w, "ExitBtn");
        QVERIFY(w.isVisible());
        QCOMPARE(boxes.texts("message"),
                 QStringList({"Ошибка записи файла " + first
                              + "\nСтрока 2: символ \"ü\" (U+00FC) нельзя записать в кодировке "
                                "Windows-1251"}));
        QVERIFY(boxes.seen.last().plainText);
        QVERIFY(!QFile::exists(first));
        QVERIFY(!QFile::exists(path("ormelin.ini")));
        QCOMPARE(row(w, 2)[ColFile], QStringLiteral("/home/Müller/фото.jpg"));
        QVERIFY(w.windowTitle().contains(u'*'));

        const QString saved = mendTheRow ? first : elsewhere;
        if (mendTheRow) {
            boxes.answers.enqueue({true, {}}); // update object 2
            addObject(w, "2", 0, "/home/Muller/фото.jpg");
            boxes.answers.enqueue({true, {}});
            boxes.answers.enqueue({true, first});
            click(&w, "ExitBtn");
        } else {
            w.objectList().selectRow(2);
            click(&w, "ClearRowBtn");
            boxes.answers.enqueue({true, elsewhere});
            click(&w, "SaveListBtn");
            click(&w, "ExitBtn"); // saved: nothing asked
        }
        QVERIFY(!w.isVisible());
        QCOMPARE(boxes.texts("message").size(), 1);
        QCOMPARE(listfile::readSettings().value_or("(none)"), saved);
        ObjectList back;
        QCOMPARE(listfile::read(saved, back, 0), listfile::ReadResult::Ok);
        QCOMPARE(back.cell(1, ColFile), QStringLiteral("s.scr"));
        QCOMPARE(back.cell(2, ColFile),
                 mendTheRow ? QStringLiteral("/home/Muller/фото.jpg") : QString());
    }

    // Ended by the system, with nobody to answer: the list is kept in a file of its own, and the
    // next start says where. One the list file cannot hold goes as UTF-8 text.
    void unattendedCloseKeepsTheList()
    {
        const QString remembered = path("прежний.orm");
        {
            ObjectList old;
            old.setCell(1, ColNumber, QStringLiteral("9"));
            QVERIFY(listfile::write(remembered, old));
            QVERIFY(listfile::writeSettings(remembered));
        }
        BoxAnswerer boxes;
        QString keptIn;
        QString said;
        {
            TSendForm w;
            w.show();
            addObject(w, "7", 4, "/home/Müller/скрипт.scr");
            // What is said on standard error is caught in a file.
            const QString errPath = path("stderr.txt");
            std::fflush(stderr);
            const int savedErr = ::dup(2);
            const int errFile = ::open(QFile::encodeName(errPath).constData(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0600);
            QVERIFY(savedErr >= 0 && errFile >= 0);
            ::dup2(errFile, 2);
            w.closeUnattended();
            std::fflush(stderr);
            ::dup2(savedErr, 2);
            ::close(savedErr);
            ::close(errFile);
            said = QString::fromUtf8(readAll(errPath));
            QVERIFY(!w.isVisible());
            QVERIFY(boxes.seen.isEmpty());
            const QStringList kept = QDir(TSendForm::recoveryFolder()).entryList(QDir::Files);
            QCOMPARE(kept.filter(QStringLiteral(".txt")).size(), 1);
            keptIn = QDir(TSendForm::recoveryFolder()).filePath(kept.filter(".txt").first());
        }
        QVERIFY(keptIn.startsWith(path("data")));
        QVERIFY2(said.contains(keptIn), qPrintable(said));
        const QString text = QString::fromUtf8(readAll(keptIn));
        QVERIFY2(text.contains(QStringLiteral("\r\n7\r\nСкрипт\r\n\r\n\r\n/home/Müller/скрипт.scr\r\n")),
                 qPrintable(text));
        // The settings file still names the list last saved, which was written.
        QCOMPARE(listfile::readSettings(), std::optional<QString>(remembered));

        TSendForm again;
        QCOMPARE(again.statusText(),
                 "Список, не сохраненный при прошлом закрытии, записан в файл " + keptIn);
        QCOMPARE(again.objectList().cell(1, ColNumber), QStringLiteral("9"));
    }

    // A list saved under a path the settings file cannot hold: the next start shows an empty
    // list, never the one before.
    void listPathWithoutAFormLeavesAnEmptySettingsLine()
    {
        const QString before = path("прежний.orm");
        const QString muller = path("Müller/список.orm");
        QVERIFY(QDir().mkpath(path("Müller")));
        {
            BoxAnswerer boxes;
            TSendForm w;
            w.show();
            addObject(w, "1", 4, "s.scr");
            boxes.answers.enqueue({true, before});
            click(&w, "SaveListBtn");
            addObject(w, "2", 4, "t.scr");
            boxes.answers.enqueue({true, muller});
            click(&w, "SaveListBtn");
            QCOMPARE(w.windowTitle(), "Ормелин для Тарвикса " + muller);
            w.close();
            QCOMPARE(boxes.texts("message"), QStringList());
        }
        QVERIFY(QFile::exists(muller));
        QCOMPARE(readAll(path("ormelin.ini")), QByteArray("\r\n"));
        TSendForm again;
        QCOMPARE(again.objectList().cell(1, ColNumber), QString());
        QCOMPARE(again.windowTitle(), QStringLiteral("Ормелин для Тарвикса "));
    }

    // Texts go into boxes as they are: a path is never taken for markup.
    void boxesShowTextsAsTheyAre()
    {
        const QString odd = path("<b>жирный<i> &amp;.orm");
        writeFile(odd, "not a list");
        BoxAnswerer boxes;
        TSendForm w;
        w.show();
        boxes.answers.enqueue({true, odd});
        click(&w, "LoadListBtn");
        QCOMPARE(boxes.texts("message"),
                 QStringList({"Ошибка чтения файла " + odd
                              + ". Файл имеет неверный формат или поврежден"}));
        QVERIFY(boxes.seen.last().plainText);
        addObject(w, "3", 4, "<b>s</b>.scr");
        boxes.answers.enqueue({false, {}});
        click(&w, "ExitBtn");
        QCOMPARE(boxes.seen.last().kind, QStringLiteral("question"));
        QVERIFY(boxes.seen.last().plainText);
    }

    // Paths count Windows-1251 bytes: 200 Cyrillic letters (400 bytes of UTF-8) save, load and
    // upload; a 1-bit bitmap of 1000 x 1000 given as a JPEG object goes as its bytes.
    void longCyrillicPathsAndALargeBitmapReachTheController()
    {
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.error()));
        const QString listPath = longPath(200, "список.orm");
        const QString scriptPath = longPath(200, "скрипт.scr");
        const QString bitmapPath = longPath(200, "большой.bmp");
        QCOMPARE(listPath.size(), 200);
        QCOMPARE(bitmapPath.size(), 200);
        const QByteArray script("SHOW 41\r\n");
        writeFile(scriptPath, script);
        QImage large(1000, 1000, QImage::Format_Mono);
        large.fill(1);
        for (int i = 0; i < 1000; ++i)
            large.setPixel(i, i, 0);
        QVERIFY(large.save(bitmapPath, "BMP"));
        const QByteArray bitmap = readAll(bitmapPath);
        QVERIFY(bitmap.size() > 125000);

        BoxAnswerer boxes;
        {
            TSendForm w;
            w.show();
            addObject(w, "40", 0, bitmapPath);
            addObject(w, "41", 4, scriptPath);
            boxes.answers.enqueue({true, listPath});
            click(&w, "SaveListBtn");
            QCOMPARE(w.windowTitle(), "Ормелин для Тарвикса " + listPath);
            w.close();
        }
        TSendForm w;
        w.show();
        QCOMPARE(w.windowTitle(), "Ормелин для Тарвикса " + listPath);
        QCOMPARE(row(w, 1), QStringList({"40", objectTypeTexts().at(0), "", "", bitmapPath}));
        QCOMPARE(row(w, 2)[ColFile], scriptPath);
        child<QComboBox>(&w, "PortCombo")->setEditText(sim.port());
        QTRY_VERIFY_WITH_TIMEOUT(child<QLabel>(&w, "ConnLabel")->isEnabled(), kWait);
        click(&w, "WriteBtn");
        QTRY_COMPARE_WITH_TIMEOUT(boxes.texts("message").size(), 1, kWait);
        QVERIFY2(boxes.texts("message").first().startsWith(
                     QStringLiteral("Передача успешно завершена.")),
                 qPrintable(boxes.texts("message").first()));
        QCOMPARE(sim.log("frame").filter(QStringLiteral("image-upload number=40 width=1000 "
                                                        "height=1000 kind=7 size=%1")
                                             .arg(bitmap.size()))
                     .size(),
                 1);
        QCOMPARE(sim.dumpFile("40.bin"), bitmap);
        QCOMPARE(sim.dumpFile("41.bin"), script);
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
        QVERIFY(failure.plainText);
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
