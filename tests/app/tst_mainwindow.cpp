// The real window, driven by its own buttons and boxes on the offscreen platform: start-up,
// the port box, list editing, saving and loading across a restart, a write to flash against the
// controller simulator, shutdown, and the general failure box.
#include "app/mainwindow.h"
#include "app/portbox.h"
#include "link_simprocess.h"
#include "listrows.h"
#include "objlist/listfile.h"
#include "testfiles.h"
#include "windowdriver.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QToolTip>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using namespace ormelin;
using testfiles::readFile;
using testfiles::writeFile;

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
    return listtest::rowCells(window.objectList(), r);
}

// The control that has the keyboard focus: the focus widget or the named control it belongs to
// (the port box's text field).
QString focusedControl()
{
    for (QWidget *w = QApplication::focusWidget(); w; w = w->parentWidget())
        if (!w->objectName().isEmpty() && !w->objectName().startsWith(QLatin1String("qt_")))
            return w->objectName();
    return QString();
}

// The picture a tooltip shows, decoded from the image it carries.
QImage toolTipImage()
{
    static const QRegularExpression png(QStringLiteral("data:image/png;base64,([A-Za-z0-9+/=]+)"));
    const QRegularExpressionMatch m = png.match(QToolTip::text());
    if (!m.hasMatch())
        return QImage();
    return QImage::fromData(QByteArray::fromBase64(m.captured(1).toLatin1()), "PNG");
}

// A 5-bit channel of the controller's pixel, widened back to 8 bits.
int reduced(int channel)
{
    const int five = channel >> 3;
    return (five << 3) | (five >> 2);
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
        TSendForm w(testStartUp());
        w.show();
        QCOMPARE(w.statusText(), QStringLiteral("Не могу открыть порт COM3"));
        // The reason is one hover away.
        QVERIFY(w.statusBar()->toolTip().contains(QStringLiteral("COM3")));
        QVERIFY(!child<QLabel>(&w, "ConnLabel")->isEnabled());
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QCOMPARE(focusedControl(), QStringLiteral("PortCombo"));
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
        TSendForm w(testStartUp());
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

    // Tab runs through every control in the window's order and comes back round; Shift+Tab
    // runs the same way backwards. The grid passes Tab on; the flat picture buttons are left out.
    void keyboardOrder_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QStringList>("order");
        const QStringList before
            = { "PortCombo", "StringGrid", "NumEdit", "TypeCombo", "FNameEdit" };
        const QStringList after = { "AddBtn", "ClearListBtn", "SaveListBtn", "LoadListBtn",
            "AppendListBtn", "ClearRowBtn", "ExecBtn", "WriteBtn", "EraseBtn", "ExitBtn" };
        QTest::newRow("picture type") << int(TypeJpeg) << before + after;
        QTest::newRow("font type, size fields shown")
            << int(TypeMonoFont) << before + QStringList { "HeightEdit", "WidthEdit" } + after;
    }
    void keyboardOrder()
    {
        QFETCH(int, type);
        QFETCH(QStringList, order);
        BoxAnswerer boxes;
        TSendForm w(testStartUp());
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QCOMPARE(focusedControl(), QStringLiteral("PortCombo"));
        child<QComboBox>(&w, "TypeCombo")->setCurrentIndex(type);

        QStringList forward = { focusedControl() };
        for (int i = 0; i < order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            forward << focusedControl();
        }
        QCOMPARE(forward, order + QStringList { order.first() });

        QStringList backward = { focusedControl() };
        for (int i = 0; i < order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
            backward << focusedControl();
        }
        std::reverse(backward.begin(), backward.end());
        QCOMPARE(backward, order + QStringList { order.first() });

        // Inside the grid the arrow keys move between cells.
        auto *grid = child<QTableView>(&w, "StringGrid");
        grid->setFocus();
        grid->setCurrentIndex(grid->model()->index(0, 0));
        QTest::keyClick(grid, Qt::Key_Right);
        QCOMPARE(grid->currentIndex().column(), 1);
        QCOMPARE(focusedControl(), QStringLiteral("StringGrid"));
        QVERIFY(boxes.seen.isEmpty());
        // The browse button, out of the Tab order, answers its key.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_O, Qt::ControlModifier);
        QTRY_COMPARE(boxes.texts("open").size(), 1);
    }

    void labelsStandWhereTheyBelong_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QPoint>("position");
        QTest::newRow("number") << "Номер объекта:" << QPoint(32, 48);
        QTest::newRow("type") << "Тип объекта:" << QPoint(32, 72);
        QTest::newRow("file") << "Файл с объектом:" << QPoint(32, 96);
        QTest::newRow("width") << "Ширина символа:" << QPoint(40, 128);
        QTest::newRow("height") << "Высота символа:" << QPoint(208, 128);
        QTest::newRow("port") << "Порт для связи с Тарвиксом:" << QPoint(8, 623);
        QTest::newRow("entry heading") << "Добавить запись" << QPoint(136, 16);
    }
    void labelsStandWhereTheyBelong()
    {
        QFETCH(QString, text);
        QFETCH(QPoint, position);
        BoxAnswerer boxes;
        TSendForm w(testStartUp());
        w.show();
        QLabel *found = nullptr;
        for (QLabel *label : w.findChildren<QLabel *>())
            if (label->text() == text)
                found = label;
        QVERIFY(found);
        QCOMPARE(found->pos(), position);
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
        TSendForm w(testStartUp());
        QCOMPARE(w.windowTitle(), QStringLiteral("Ормелин для Тарвикса ") + listPath);
        QCOMPARE(w.objectList().rowCount(), 3);
        QCOMPARE(row(w, 2), QStringList({ "8", objectTypeTexts().at(3), "8", "16", "mono.fnt" }));
        QCOMPARE(child<QTableView>(&w, "StringGrid")->model()->rowCount(), 2);
        QVERIFY(boxes.seen.isEmpty());
    }

    void portBoxSelectsThePortAtEveryKeystroke()
    {
        BoxAnswerer boxes;
        TSendForm w(testStartUp());
        w.show();
        QSignalSpy statuses(&w, &TSendForm::statusShown);
        auto *port = child<QComboBox>(&w, "PortCombo");
        port->lineEdit()->selectAll();
        port->lineEdit()->del();
        statuses.clear();
        QTest::keyClicks(port->lineEdit(), "ttyA");
        QCOMPARE(statuses.size(), 4);
        const QStringList expected = { "Не могу открыть порт t", "Не могу открыть порт tt",
            "Не могу открыть порт tty", "Не могу открыть порт ttyA" };
        for (int i = 0; i < 4; ++i)
            QCOMPARE(statuses.at(i).at(0).toString(), expected.at(i));
        QCOMPARE(w.comm().DeviceName(), QStringLiteral("ttyA"));
    }

    // Choosing from the list the port already shown selects it again: the way to retry.
    void choosingTheShownPortAgainReopensIt()
    {
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.error()));
        BoxAnswerer boxes;
        TSendForm w(testStartUp());
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w)); // the text has the focus, as at the bench
        auto *port = child<QComboBox>(&w, "PortCombo");
        port->setEditText(sim.port());
        const QString connected = QStringLiteral("Тарвикс на связи. Разрешение экрана: 320x240");
        QTRY_COMPARE_WITH_TIMEOUT(w.statusText(), connected, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(sim.log("frame").filter("connection-check").size(), 1, kWait);

        QSignalSpy statuses(&w, &TSendForm::statusShown);
        QSignalSpy chosen(static_cast<PortBox *>(port), &PortBox::portChanged);

        port->showPopup();
        const int shown = port->findText(sim.port());
        QVERIFY(shown >= 0); // a typed port is among the choices, to be chosen again
        port->view()->setCurrentIndex(port->model()->index(shown, 0));
        QTest::keyClick(port->view(), Qt::Key_Return);
        QCOMPARE(port->currentText(), sim.port());
        QCOMPARE(chosen.size(), 1); // once, though Enter in the list activates twice
        QTRY_COMPARE_WITH_TIMEOUT(sim.log("frame").filter("connection-check").size(), 2, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(!statuses.isEmpty() && statuses.last().at(0) == connected, kWait);
        QVERIFY(w.comm().IsOpen());
        QVERIFY(boxes.seen.isEmpty());
    }

    // Opening the list only looks: the list is brought up to date, and the port stays as it is
    // when the operator leaves without choosing, or leaves the box.
    void openingThePortListSelectsNothing_data()
    {
        QTest::addColumn<bool>("escape"); // left with Escape, or the popup hidden
        QTest::newRow("Escape") << true;
        QTest::newRow("hidden") << false;
    }
    void openingThePortListSelectsNothing()
    {
        QFETCH(bool, escape);
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.error()));
        BoxAnswerer boxes;
        TSendForm w(testStartUp());
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        auto *port = child<QComboBox>(&w, "PortCombo");
        port->setEditText(sim.port());
        QTRY_VERIFY_WITH_TIMEOUT(child<QLabel>(&w, "ConnLabel")->isEnabled(), kWait);
        QCOMPARE(sim.log("frame").filter("connection-check").size(), 1);
        QCOMPARE(focusedControl(), QStringLiteral("PortCombo"));

        QSignalSpy chosen(static_cast<PortBox *>(port), &PortBox::portChanged);
        QSignalSpy statuses(&w, &TSendForm::statusShown);
        port->showPopup();
        QTRY_VERIFY(port->view()->isVisible());
        if (escape)
            QTest::keyClick(port->view(), Qt::Key_Escape);
        else
            port->hidePopup();
        QTRY_VERIFY(!port->view()->isVisible());
        // Leaving the box is no choice either.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(focusedControl(), QStringLiteral("StringGrid"));
        QCOMPARE(chosen.size(), 0);
        QCOMPARE(statuses.size(), 0);
        QCOMPARE(port->currentText(), sim.port());
        QVERIFY(w.comm().IsOpen());
        QVERIFY(child<QLabel>(&w, "ConnLabel")->isEnabled());
        QVERIFY(boxes.seen.isEmpty());
    }

    // A port name that is not a path is looked up in the system's device folder, not in the
    // current one: pts/N is /dev/pts/N, here the simulator's pseudo-terminal.
    void portNamesInTheDeviceFolder()
    {
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.error()));
        QVERIFY(sim.port().startsWith(QStringLiteral("/dev/pts/")));
        const QString inFolder = sim.port().mid(5);
        QVERIFY(QDir().mkpath(QStringLiteral("pts")));
        QVERIFY(writeFile(path(inFolder), QByteArray())); // a decoy in the current folder
        StartUpOptions options;
        options.port = sim.port(); // never COM3 of the machine
        options.deviceFolder = QStringLiteral("/dev");
        BoxAnswerer boxes;
        TSendForm w(options);
        QTRY_COMPARE_WITH_TIMEOUT(sim.log("frame").filter("connection-check").size(), 1, kWait);
        child<QComboBox>(&w, "PortCombo")->setEditText(inFolder);
        QCOMPARE(w.comm().DevicePath(), sim.port());
        QTRY_COMPARE_WITH_TIMEOUT(sim.log("frame").filter("connection-check").size(), 2, kWait);
        QCOMPARE(QFileInfo(path(inFolder)).size(), 0);
        QVERIFY(boxes.seen.isEmpty());
    }

    // ormelin LIST --port P: the given list instead of the remembered one, the given port first.
    void commandLineListAndPort()
    {
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.error()));
        ObjectList list;
        list.setCell(1, ColNumber, "12");
        list.setCell(1, ColType, objectTypeTexts().at(TypeScript));
        list.setCell(1, ColFile, "a.scr");
        const QString listPath = path("из командной строки.orm");
        QVERIFY(listfile::write(listPath, list));
        QVERIFY(listfile::write(path("remembered.orm"), ObjectList()));
        QVERIFY(listfile::writeSettings(path("remembered.orm")));

        const CommandLine commandLine
            = parseCommandLine({ "ormelin", QFileInfo(listPath).fileName(), "--port", sim.port() });
        QVERIFY(commandLine.start);
        StartUpOptions options = *commandLine.start;
        options.deviceFolder = testStartUp().deviceFolder;
        BoxAnswerer boxes;
        TSendForm w(options);
        w.show();
        QCOMPARE(child<QComboBox>(&w, "PortCombo")->currentText(), sim.port());
        QTRY_VERIFY_WITH_TIMEOUT(child<QLabel>(&w, "ConnLabel")->isEnabled(), kWait);
        QCOMPARE(w.windowTitle(), QStringLiteral("Ормелин для Тарвикса ") + listPath);
        QCOMPARE(
            row(w, 1), QStringList({ "12", objectTypeTexts().at(TypeScript), "", "", "a.scr" }));
        QCOMPARE(w.document().listPath(), listPath);
        QVERIFY(boxes.seen.isEmpty());
    }

    void editingThroughTheButtons()
    {
        BoxAnswerer boxes;
        TSendForm w(testStartUp());
        w.show();
        addObject(w, "5", 0, "a.jpg");
        addObject(w, "$10", 2, "font.fnt", "8", "12");
        QCOMPARE(row(w, 1), QStringList({ "5", objectTypeTexts().at(0), "", "", "a.jpg" }));
        QCOMPARE(row(w, 2), QStringList({ "16", objectTypeTexts().at(2), "8", "12", "font.fnt" }));
        QVERIFY(w.windowTitle().endsWith(QStringLiteral(" *")));
        // The font fields appeared with the font type.
        QVERIFY(child<QWidget>(&w, "WidthEdit")->isVisible());

        // A duplicate number asks first; No changes nothing.
        boxes.answers.enqueue({ false, {} });
        addObject(w, "5", 4, "other.scr");
        QCOMPARE(boxes.texts("question"),
            QStringList({ "Объект с таким номером существует. Обновить?" }));
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
        QCOMPARE(row(w, 2), QStringList({ "", "", "", "", "" }));
        QCOMPARE(w.objectList().rowCount(), 3);

        // Clear list: No keeps everything, Yes leaves one empty row and the plain title.
        boxes.answers.enqueue({ false, {} });
        click(&w, "ClearListBtn");
        QCOMPARE(w.objectList().rowCount(), 3);
        QVERIFY(w.windowTitle().contains(QLatin1Char('*')));
        boxes.answers.enqueue({ true, {} });
        click(&w, "ClearListBtn");
        QCOMPARE(boxes.texts("question").last(), QStringLiteral("Удалить все записи из списка?"));
        QCOMPARE(w.objectList().rowCount(), 2);
        QCOMPARE(row(w, 1), QStringList({ "", "", "", "", "" }));
        QCOMPARE(w.windowTitle(), QStringLiteral("Ормелин для Тарвикса "));
        QCOMPARE(w.objectList().selectedRow(), 1);
    }

    void saveAndReloadAcrossARestart()
    {
        const QString listPath = path("сохранённый.orm");
        {
            BoxAnswerer boxes;
            TSendForm w(testStartUp());
            w.show();
            addObject(w, "1", 4, "один.scr");
            addObject(w, "2", 3, "моно.fnt", "-1", "255");
            boxes.answers.enqueue({ true, listPath });
            click(&w, "SaveListBtn");
            QCOMPARE(boxes.texts("save").size(), 1);
            QCOMPARE(w.windowTitle(), QStringLiteral("Ормелин для Тарвикса ") + listPath);
            w.close(); // unchanged now: no question
            QVERIFY(boxes.texts("question").isEmpty());
        }
        QVERIFY(QFile::exists(listPath));
        BoxAnswerer boxes;
        TSendForm again(testStartUp());
        QCOMPARE(again.windowTitle(), QStringLiteral("Ормелин для Тарвикса ") + listPath);
        QCOMPARE(
            row(again, 2), QStringList({ "2", objectTypeTexts().at(3), "-1", "255", "моно.fnt" }));

        // Load list through the open dialog replaces the list; append adds after the last row.
        boxes.answers.enqueue({ true, listPath });
        click(&again, "AppendListBtn");
        QCOMPARE(again.objectList().rowCount(), 5);
        QCOMPARE(again.objectList().cell(4, ColFile), QStringLiteral("моно.fnt"));
        boxes.answers.enqueue({ true, listPath });
        click(&again, "LoadListBtn");
        QCOMPARE(again.objectList().rowCount(), 3);
        QCOMPARE(boxes.seen.last().caption, QStringLiteral("Выберите файл"));
    }

    // The question left unanswered (Escape, its close button) calls the close off: the window
    // and the changed list stay, nothing is written, and the next close asks again.
    void shutdownOffersToSaveAChangedList_data()
    {
        QTest::addColumn<bool>("save");
        QTest::addColumn<QString>("dismissBy"); // first left unanswered this way, then answered
        QTest::newRow("yes") << true << "";
        QTest::newRow("no") << false << "";
        QTest::newRow("Escape, then yes") << true << "escape";
        QTest::newRow("close button, then no") << false << "close";
    }
    void shutdownOffersToSaveAChangedList()
    {
        QFETCH(bool, save);
        QFETCH(QString, dismissBy);
        const QString listPath = path("при_выходе.orm");
        BoxAnswerer boxes;
        {
            TSendForm w(testStartUp());
            w.show();
            addObject(w, "3", 4, "s.scr");
            if (!dismissBy.isEmpty()) {
                boxes.answers.enqueue({ false, dismissBy });
                click(&w, "ExitBtn");
                QCOMPARE(boxes.texts("question").size(), 1);
                QVERIFY(w.isVisible());
                QCOMPARE(w.objectList().cell(1, ColNumber), QStringLiteral("3"));
                QVERIFY(w.windowTitle().endsWith(QStringLiteral(" *")));
                QVERIFY(!QFile::exists(path("ormelin.ini")));
            }
            boxes.answers.enqueue({ save, {} });
            if (save)
                boxes.answers.enqueue({ true, listPath });
            click(&w, "ExitBtn");
            QVERIFY(!w.isVisible());
        }
        QCOMPARE(boxes.texts("question"),
            QStringList(dismissBy.isEmpty() ? 1 : 2,
                QStringLiteral("Сохранить измененный список в файле?")));
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
        TSendForm w(testStartUp());
        w.show();
        addObject(w, "1", 4, "s.scr");
        addObject(w, "2", 0, "/home/Müller/фото.jpg");
        boxes.answers.enqueue({ true, {} });
        boxes.answers.enqueue({ true, first });
        click(&w, "ExitBtn");
        QVERIFY(w.isVisible());
        QCOMPARE(boxes.texts("message"),
            QStringList({ "Ошибка записи файла " + first
                + "\nСтрока 2: символ \"ü\" (U+00FC) нельзя записать в кодировке "
                  "Windows-1251" }));
        QVERIFY(boxes.seen.last().plainText);
        QVERIFY(!QFile::exists(first));
        QVERIFY(!QFile::exists(path("ormelin.ini")));
        QCOMPARE(row(w, 2)[ColFile], QStringLiteral("/home/Müller/фото.jpg"));
        QVERIFY(w.windowTitle().contains(u'*'));

        const QString saved = mendTheRow ? first : elsewhere;
        if (mendTheRow) {
            boxes.answers.enqueue({ true, {} }); // update object 2
            addObject(w, "2", 0, "/home/Muller/фото.jpg");
            boxes.answers.enqueue({ true, {} });
            boxes.answers.enqueue({ true, first });
            click(&w, "ExitBtn");
        } else {
            w.objectList().selectRow(2);
            click(&w, "ClearRowBtn");
            boxes.answers.enqueue({ true, elsewhere });
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
            TSendForm w(testStartUp());
            w.show();
            addObject(w, "7", 4, "/home/Müller/скрипт.scr");
            // What is said on standard error is caught in a file.
            const QString errPath = path("stderr.txt");
            std::fflush(stderr);
            const int savedErr = ::dup(2);
            const int errFile = ::open(
                QFile::encodeName(errPath).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            QVERIFY(savedErr >= 0 && errFile >= 0);
            ::dup2(errFile, 2);
            w.closeUnattended();
            std::fflush(stderr);
            ::dup2(savedErr, 2);
            ::close(savedErr);
            ::close(errFile);
            said = QString::fromUtf8(readFile(errPath));
            QVERIFY(!w.isVisible());
            QVERIFY(boxes.seen.isEmpty());
            const QStringList kept = QDir(TSendForm::recoveryFolder()).entryList(QDir::Files);
            QCOMPARE(kept.filter(QStringLiteral(".txt")).size(), 1);
            keptIn = QDir(TSendForm::recoveryFolder()).filePath(kept.filter(".txt").first());
        }
        QVERIFY(keptIn.startsWith(path("data")));
        QVERIFY2(said.contains(keptIn), qPrintable(said));
        const QString text = QString::fromUtf8(readFile(keptIn));
        QVERIFY2(
            text.contains(QStringLiteral("\r\n7\r\nСкрипт\r\n\r\n\r\n/home/Müller/скрипт.scr\r\n")),
            qPrintable(text));
        // The settings file still names the list last saved, which was written.
        QCOMPARE(listfile::readSettings(), std::optional<QString>(remembered));

        // Said in the status line, and, the status line being taken by the port's news soon, in a
        // box once the window is up; once.
        const QString notice
            = "Список, не сохраненный при прошлом закрытии, записан в файл " + keptIn;
        TSendForm again(testStartUp());
        QCOMPARE(again.statusText(), notice);
        QCOMPARE(again.objectList().cell(1, ColNumber), QStringLiteral("9"));
        QVERIFY(boxes.seen.isEmpty());
        again.show();
        QTRY_COMPARE(boxes.texts("message"), QStringList { notice });
        QCOMPARE(boxes.seen.last().caption, QStringLiteral("Ормелин"));
        again.hide();
        again.show();
        QCoreApplication::processEvents();
        QCOMPARE(boxes.texts("message").size(), 1);
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
            TSendForm w(testStartUp());
            w.show();
            addObject(w, "1", 4, "s.scr");
            boxes.answers.enqueue({ true, before });
            click(&w, "SaveListBtn");
            addObject(w, "2", 4, "t.scr");
            boxes.answers.enqueue({ true, muller });
            click(&w, "SaveListBtn");
            QCOMPARE(w.windowTitle(), "Ормелин для Тарвикса " + muller);
            w.close();
            QCOMPARE(boxes.texts("message"), QStringList());
        }
        QVERIFY(QFile::exists(muller));
        QCOMPARE(readFile(path("ormelin.ini")), QByteArray("\r\n"));
        TSendForm again(testStartUp());
        QCOMPARE(again.objectList().cell(1, ColNumber), QString());
        QCOMPARE(again.windowTitle(), QStringLiteral("Ормелин для Тарвикса "));
    }

    // Texts go into boxes as they are: a path is never taken for markup.
    void boxesShowTextsAsTheyAre()
    {
        const QString odd = path("<b>жирный<i> &amp;.orm");
        QVERIFY(writeFile(odd, "not a list"));
        BoxAnswerer boxes;
        TSendForm w(testStartUp());
        w.show();
        boxes.answers.enqueue({ true, odd });
        click(&w, "LoadListBtn");
        QCOMPARE(boxes.texts("message"),
            QStringList(
                { "Ошибка чтения файла " + odd + ". Файл имеет неверный формат или поврежден" }));
        QVERIFY(boxes.seen.last().plainText);
        addObject(w, "3", 4, "<b>s</b>.scr");
        boxes.answers.enqueue({ false, {} });
        click(&w, "ExitBtn");
        QCOMPARE(boxes.seen.last().kind, QStringLiteral("question"));
        QVERIFY(boxes.seen.last().plainText);
    }

    // The status line and its tooltip show a typed port name as it is, never as markup.
    void statusShowsTextsAsTheyAre()
    {
        BoxAnswerer boxes;
        TSendForm w(testStartUp());
        w.show();
        const QString odd = QStringLiteral("/nonexistent/<b>x</b> &amp;");
        child<QComboBox>(&w, "PortCombo")->setEditText(odd);
        auto *status = child<QLabel>(&w, "StatBar");
        QCOMPARE(status->text(), "Не могу открыть порт " + odd);
        QCOMPARE(status->textFormat(), Qt::PlainText);
        // What a tooltip shows: markup when it looks like markup, else the text itself.
        const auto shown = [](const QString &tip) {
            if (!Qt::mightBeRichText(tip))
                return tip;
            QTextDocument document;
            document.setHtml(tip);
            return document.toPlainText();
        };
        for (const QString &tip : { status->toolTip(), w.statusBar()->toolTip() })
            QVERIFY2(shown(tip).contains(odd), qPrintable(tip));
        QVERIFY(boxes.seen.isEmpty());
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
        QVERIFY(writeFile(scriptPath, script));
        QImage large(1000, 1000, QImage::Format_Mono);
        large.fill(1);
        for (int i = 0; i < 1000; ++i)
            large.setPixel(i, i, 0);
        QVERIFY(large.save(bitmapPath, "BMP"));
        const QByteArray bitmap = readFile(bitmapPath);
        QVERIFY(bitmap.size() > 125000);

        BoxAnswerer boxes;
        {
            TSendForm w(testStartUp());
            w.show();
            addObject(w, "40", 0, bitmapPath);
            addObject(w, "41", 4, scriptPath);
            boxes.answers.enqueue({ true, listPath });
            click(&w, "SaveListBtn");
            QCOMPARE(w.windowTitle(), "Ормелин для Тарвикса " + listPath);
            w.close();
        }
        TSendForm w(testStartUp());
        w.show();
        QCOMPARE(w.windowTitle(), "Ормелин для Тарвикса " + listPath);
        QCOMPARE(row(w, 1), QStringList({ "40", objectTypeTexts().at(0), "", "", bitmapPath }));
        QCOMPARE(row(w, 2)[ColFile], scriptPath);
        child<QComboBox>(&w, "PortCombo")->setEditText(sim.port());
        QTRY_VERIFY_WITH_TIMEOUT(child<QLabel>(&w, "ConnLabel")->isEnabled(), kWait);
        click(&w, "WriteBtn");
        QTRY_COMPARE_WITH_TIMEOUT(boxes.texts("message").size(), 1, kWait);
        QVERIFY2(boxes.texts("message").first().startsWith(
                     QStringLiteral("Передача успешно завершена.")),
            qPrintable(boxes.texts("message").first()));
        QCOMPARE(sim.log("frame")
                     .filter(QStringLiteral("image-upload number=40 width=1000 "
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
        QVERIFY(writeFile(path("s.scr"), script));
        QImage picture(4, 3, QImage::Format_RGB888);
        picture.fill(QColor(200, 100, 50));
        QVERIFY(picture.save(path("p.bmp"), "BMP"));

        BoxAnswerer boxes;
        TSendForm w(testStartUp());
        w.show();
        auto *port = child<QComboBox>(&w, "PortCombo");
        port->setEditText(sim.port());
        QTRY_COMPARE_WITH_TIMEOUT(
            w.statusText(), QStringLiteral("Тарвикс на связи. Разрешение экрана: 320x240"), kWait);
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
        QVERIFY2(
            w.statusText().endsWith(QStringLiteral("% предельной скорости линии (22,7 кБайт/с)")),
            qPrintable(w.statusText()));
        QCOMPARE(sim.dumpFile("20.bin"), script);
        QCOMPARE(sim.dumpFile("21.bin"), QByteArray("\x99\x19", 2).repeated(12));

        // Erase, answered by the controller.
        click(&w, "EraseBtn");
        QTRY_COMPARE_WITH_TIMEOUT(
            w.statusText(), QStringLiteral("Таблица объектов во флэш очищена"), kWait);
        // Output the selected object (row 1, the script).
        click(&w, "ExecBtn");
        QCOMPARE(w.statusText(), QStringLiteral("Команда на вывод объекта 20 отправлена"));
        QTRY_VERIFY_WITH_TIMEOUT(
            !sim.log("frame").filter("output-script number=20").isEmpty(), kWait);
        QVERIFY(boxes.texts("failure").isEmpty());
    }

    // Hovering a bitmap row's file cell shows what the controller will show: the payload the
    // upload sends, decoded back, with its size.
    void bitmapToolTipShowsThePayloadDecoded()
    {
        QImage picture(320, 240, QImage::Format_RGB888);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                picture.setPixelColor(x, y, QColor(x * 255 / 319, y * 255 / 239, (x + y) % 256));
        picture.setPixelColor(0, 0, QColor(200, 100, 50));
        QVERIFY(picture.save(path("p.bmp"), "BMP"));

        BoxAnswerer boxes;
        TSendForm w(testStartUp());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        addObject(w, "21", TypeBitmap, path("p.bmp"));
        addObject(w, "22", TypeScript, path("p.bmp"));
        auto *grid = child<QTableView>(&w, "StringGrid");

        const auto hover = [&](int modelRow, int column) {
            const QPoint at = grid->visualRect(grid->model()->index(modelRow, column)).center();
            QHelpEvent help(QEvent::ToolTip, at, grid->viewport()->mapToGlobal(at));
            QApplication::sendEvent(grid->viewport(), &help);
        };
        hover(0, ColFile);
        QTRY_VERIFY(QToolTip::isVisible());
        QVERIFY2(QToolTip::text().contains(QStringLiteral("320 × 240, 153600 байт")),
            qPrintable(QToolTip::text().right(80)));
        const QImage shown = toolTipImage();
        QCOMPARE(shown.size(), QSize(320, 240));
        QCOMPARE(shown.pixelColor(0, 0), QColor(206, 99, 49)); // 0x1999 widened back
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x) {
                const QColor c = picture.pixelColor(x, y);
                const QColor expected(reduced(c.red()), reduced(c.green()), reduced(c.blue()));
                if (shown.pixelColor(x, y) != expected)
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
            }

        hover(1, ColFile); // a script row has none
        QTRY_VERIFY(!QToolTip::isVisible());

        // The file name field shows the same while a picture type is chosen.
        setField(&w, "FNameEdit", path("p.bmp"));
        auto *field = child<QLineEdit>(&w, "FNameEdit");
        const auto hoverField = [&] {
            QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), field->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(field, &help);
        };
        hoverField(); // the script type of the last object added is still chosen
        QVERIFY(!QToolTip::isVisible());
        child<QComboBox>(&w, "TypeCombo")->setCurrentIndex(TypeBitmap);
        hoverField();
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(toolTipImage(), shown);
        QVERIFY(boxes.seen.isEmpty());
    }

    // One file dropped on the entry area fills the file name field and, where the extension
    // says, the type; dropped on the grid it is loaded as Load list loads it.
    void droppedFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("type");
        QTest::newRow("JPEG") << "снимок.JPG" << int(TypeJpeg);
        QTest::newRow("jpeg") << "a.jpeg" << int(TypeJpeg);
        QTest::newRow("bitmap") << "b.bmp" << int(TypeBitmap);
        QTest::newRow("font keeps the type") << "c.fnt" << int(TypeMonoFont);
    }
    void droppedFiles()
    {
        QFETCH(QString, file);
        QFETCH(int, type);
        BoxAnswerer boxes;
        TSendForm w(testStartUp());
        w.show();
        child<QComboBox>(&w, "TypeCombo")->setCurrentIndex(TypeMonoFont);
        const auto drop = [&](QWidget *on, const QStringList &files) {
            QMimeData mime;
            QList<QUrl> urls;
            for (const QString &f : files)
                urls << QUrl::fromLocalFile(path(f));
            mime.setUrls(urls);
            const QPoint at = on->rect().center();
            QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
            QDropEvent dropped(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
            return QApplication::sendEvent(on, &enter) && QApplication::sendEvent(on, &dropped)
                && enter.isAccepted() && dropped.isAccepted();
        };
        auto *number = child<QLineEdit>(&w, "NumEdit");
        QVERIFY(!drop(number, { "x.bmp", "y.bmp" })); // two files: nothing
        QVERIFY(drop(number, { file }));
        QCOMPARE(child<QLineEdit>(&w, "FNameEdit")->text(), path(file));
        QCOMPARE(child<QComboBox>(&w, "TypeCombo")->currentIndex(), type);
        QCOMPARE(child<QWidget>(&w, "WidthEdit")->isVisible(), type == TypeMonoFont);
        QCOMPARE(number->text(), QStringLiteral("100"));

        ObjectList list;
        list.setCell(1, ColNumber, "9");
        QVERIFY(listfile::write(path("dropped.orm"), list));
        QVERIFY(drop(child<QTableView>(&w, "StringGrid")->viewport(), { "dropped.orm" }));
        QCOMPARE(w.objectList().cell(1, ColNumber), QStringLiteral("9"));
        QCOMPARE(w.windowTitle(), QStringLiteral("Ормелин для Тарвикса ") + path("dropped.orm"));
        QVERIFY(boxes.seen.isEmpty());
    }

    void uncaughtFailureIsShownAndTheProgramGoesOn()
    {
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.error()));
        QImage picture(8, 8, QImage::Format_RGB888);
        picture.fill(Qt::red);
        QVERIFY(picture.save(path("picture.jpg"), "JPEG"));

        BoxAnswerer boxes;
        TSendForm w(testStartUp());
        w.show();
        child<QComboBox>(&w, "PortCombo")->setEditText(sim.port());
        QTRY_VERIFY_WITH_TIMEOUT(child<QLabel>(&w, "ConnLabel")->isEnabled(), kWait);

        // A JPEG given as a bitmap object cannot be encoded: nothing catches that on the way.
        addObject(w, "30", 1, path("picture.jpg"));
        click(&w, "WriteBtn");
        QCOMPARE(boxes.texts("failure"),
            QStringList({ "Can only modify an image if it contains a bitmap." }));
        const SeenBox failure = boxes.seen.last();
        QCOMPARE(failure.caption, QStringLiteral("Ормелин"));
        QVERIFY(failure.hasIcon);
        QVERIFY(failure.plainText);
        // The write ends there, the gauge hidden; nothing was sent.
        QVERIFY(!child<QWidget>(&w, "ProgrBar")->isVisible());
        QVERIFY(sim.log("payload").isEmpty());

        // The program goes on.
        addObject(w, "31", 4, path("picture.jpg"));
        QCOMPARE(w.objectList().cell(2, ColNumber), QStringLiteral("31"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
