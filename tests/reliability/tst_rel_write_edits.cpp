// The write to flash while the operator keeps working: the button pressed again while an object
// is still on its way, and the list edited under a running write with the editor's and the
// document's own operations. The sequencer reads each row when its step runs, starts over from
// row 1 when asked, never sends rows hidden by a shorter list, and reports only what the
// controller answered.
#include "link_rig.h"

#include "objlist/listdocument.h"
#include "objlist/listeditor.h"
#include "objlist/listfile.h"

#include <QElapsedTimer>
#include <QTest>

using namespace ormelin;
using namespace linktest;
using testfiles::pattern;

namespace {

constexpr int kWait = 15000;
constexpr int kObjectBytes = 8192; // about 0.36 s on the line at 250000 baud
// The pause after an accepted object, less what the two clocks' readings can differ by.
constexpr double kAtLeast300ms = 0.29;

QStringList payloadResults(const SimProcess &sim)
{
    QStringList out;
    for (const QString &line : sim.log(QStringLiteral("payload")))
        out << line.section(QStringLiteral("result="), 1);
    return out;
}

// The numbers of the objects in the simulator's table, in number order.
QList<int> storedNumbers(const SimProcess &sim)
{
    QList<int> out;
    for (const QString &line : QString::fromLatin1(sim.dumpFile(QStringLiteral("table.txt")))
                                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (!line.startsWith(QLatin1Char('#')))
            out << line.section(QLatin1Char(' '), 0, 0).toInt();
    }
    return out;
}

} // namespace

class TestRelWriteEdits : public QObject
{
    Q_OBJECT

private slots:
    // Pressed again while the first object's payload is still going out: the controller will
    // answer that object first, so its reply must not be taken for the new write's first object.
    // The new write starts once that reply is in, every later reply is judged for its own object,
    // and the outcome reported is the last object's: a refusal when it was refused, the
    // completion message 300 ms after its acceptance otherwise.
    void pressedAgainWhileAnObjectIsOnItsWay_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QString>("lastResult");
        QTest::newRow("last object accepted") << QStringList() << "stored";
        // Room for two objects: the third is refused.
        QTest::newRow("last object refused")
            << QStringList { "--capacity", QString::number(2 * kObjectBytes + 100) }
            << "refused-capacity";
    }
    void pressedAgainWhileAnObjectIsOnItsWay()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QString, lastResult);
        LinkRig rig;
        QVERIFY(rig.startSim(simArgs << "--baud"
                                     << "250000"));
        QVERIFY(rig.connect());
        for (int row = 1; row <= 3; ++row)
            rig.setRow(row, QString::number(row), TypeScript,
                rig.file(QStringLiteral("%1.scr").arg(row), pattern(kObjectBytes, row)));

        rig.writeToFlash();
        // Whether the payload is still in the write queue depends on how soon the writer thread
        // ran; that the reply has not been taken cannot, as only this thread takes replies: the
        // new write is held.
        rig.writeToFlash();
        QCOMPARE(rig.ui.status(), kHeld);

        const bool refused = lastResult == QLatin1String("refused-capacity");
        QTRY_COMPARE_WITH_TIMEOUT(rig.ui.messages.size(), 1, kWait);
        QCOMPARE(rig.ui.messages.first(), refused ? kRefused : completion(24));
        QTRY_COMPARE_WITH_TIMEOUT(rig.sim->log(QStringLiteral("reply")).size(), 5, kWait);
        QCOMPARE(rig.uploadedNumbers(), QList<int>({ 1, 1, 2, 3 }));
        QCOMPARE(
            payloadResults(*rig.sim), QStringList({ "stored", "stored", "stored", lastResult }));
        // Row 1 went out again only once the controller had answered its first copy.
        const QList<double> frames = rig.times(QStringLiteral("frame"));
        QList<double> replies = rig.times(QStringLiteral("reply"));
        replies.removeFirst(); // the connection check's
        QVERIFY(frames[1] >= replies[0]);
        // The outcome comes after the last object's reply, plus the pause when it was accepted.
        const double after = rig.ui.messageTimes.first() - replies.last();
        QVERIFY2(after >= (refused ? 0.0 : kAtLeast300ms), qPrintable(QString::number(after)));
        QVERIFY(!rig.ui.gaugeVisible);
        QVERIFY(rig.failures.isEmpty());
        QCOMPARE(rig.ui.messages.size(), 1);
    }

    // Buttons pressed while the controller has not yet answered the command before: each reply
    // is judged for the command it answers, no press is lost, the gauge does not stay shown, and
    // the controller's table holds what the operator was told.
    void pressesWhileAReplyIsAwaited_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<int>("objects");
        QTest::addColumn<QString>("presses");
        QTest::addColumn<QString>("outcome"); // the one message, or the last status
        QTest::addColumn<QList<int>>("sent");
        QTest::addColumn<QList<int>>("table");
        QTest::newRow("write right behind a late check reply")
            << QStringList { "--delay", "200" } << 1 << "write" << completion(1) << QList<int> { 1 }
            << QList<int> { 1 };
        QTest::newRow("write right behind a late check reply, write-protected")
            << QStringList { "--delay", "200", "--protect" } << 1 << "write" << kRefused
            << QList<int> { 1 } << QList<int>();
        // The erase ends the write pressed before it: once the object on its way is answered,
        // nothing more of it goes out, and the emptied table is not reported as written.
        QTest::newRow("write, write 100 ms later, erase 50 ms later")
            << QStringList { "--delay", "300" } << 4 << "write write erase" << kErased
            << QList<int> { 1 } << QList<int>();
        QTest::newRow("write, write 100 ms later, erase 50 ms later, write")
            << QStringList { "--delay", "300" } << 4 << "write write erase write" << completion(3)
            << QList<int> { 1, 1, 2, 3, 4 } << QList<int> { 1, 2, 3, 4 };
        QTest::newRow("write again in the pause, list cleared")
            << QStringList() << 1 << "write clear" << QStringLiteral("Список пуст")
            << QList<int> { 1 } << QList<int> { 1 };
    }
    void pressesWhileAReplyIsAwaited()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(int, objects);
        QFETCH(QString, presses);
        QFETCH(QString, outcome);
        QFETCH(QList<int>, sent);
        QFETCH(QList<int>, table);
        LinkRig rig;
        QVERIFY(rig.startSim(simArgs));
        for (int row = 1; row <= objects; ++row)
            rig.setRow(row, QString::number(row), TypeScript,
                rig.file(QStringLiteral("%1.scr").arg(row), pattern(700, row)));
        QElapsedTimer clock;
        const auto waitUntil = [&](qint64 ms) {
            QVERIFY(QTest::qWaitFor([&] { return clock.elapsed() >= ms; }, 5000));
        };
        if (presses == QLatin1String("write")) {
            // Pressed as soon as the port is chosen: the check's reply is still 200 ms away.
            rig.selectPort();
            rig.writeToFlash();
            QCOMPARE(rig.ui.status(), kHeld);
        } else {
            QVERIFY(rig.connect());
            rig.writeToFlash();
            clock.start();
        }
        if (presses.startsWith(QLatin1String("write write erase"))) {
            waitUntil(100);
            rig.writeToFlash();
            QCOMPARE(rig.ui.status(), kHeld);
            waitUntil(150);
            rig.link.eraseObjectTable();
            QCOMPARE(rig.ui.status(), kWriteEnded);
            QVERIFY(!rig.ui.gaugeVisible);
            if (presses.endsWith(QLatin1String("erase write")))
                rig.writeToFlash();
            QTRY_VERIFY_WITH_TIMEOUT(rig.ui.statuses.contains(kErased), kWait);
        } else if (presses == QLatin1String("write clear")) {
            // In the pause after the accepted object.
            QTRY_COMPARE_WITH_TIMEOUT(rig.sim->log(QStringLiteral("reply")).size(), 2, kWait);
            clock.start();
            waitUntil(100);
            rig.list.setCell(1, ColNumber, QString());
            rig.writeToFlash();
        }
        if (outcome == kRefused || outcome.startsWith(QStringLiteral("Передача"))) {
            QTRY_COMPARE_WITH_TIMEOUT(rig.ui.messages, QStringList { outcome }, kWait);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(rig.ui.status(), outcome, kWait);
            QVERIFY(rig.ui.messages.isEmpty());
        }
        QTRY_VERIFY_WITH_TIMEOUT(!rig.ui.gaugeVisible, kWait);
        QCOMPARE(rig.uploadedNumbers(), sent);
        QCOMPARE(payloadResults(*rig.sim).size(), sent.size());
        QTRY_COMPARE_WITH_TIMEOUT(storedNumbers(*rig.sim), table, kWait);
        QVERIFY(rig.failures.isEmpty());
    }

    // Pressed again and again while the first object is unanswered: one new write, not one per
    // press.
    void pressedRepeatedlyStartsOneWrite()
    {
        LinkRig rig;
        QVERIFY(rig.startSim({ "--delay", "150" }));
        QVERIFY(rig.connect());
        rig.setRow(
            1, QStringLiteral("1"), TypeScript, rig.file(QStringLiteral("1.scr"), pattern(500, 1)));
        rig.setRow(
            2, QStringLiteral("2"), TypeScript, rig.file(QStringLiteral("2.scr"), pattern(600, 2)));
        rig.writeToFlash();
        for (int i = 0; i < 5; ++i)
            rig.writeToFlash();
        QTRY_COMPARE_WITH_TIMEOUT(rig.ui.messages, QStringList { completion(1) }, kWait);
        QCOMPARE(rig.uploadedNumbers(), QList<int>({ 1, 1, 2 }));
        QCOMPARE(rig.ui.gaugeVisibility, QList<bool>({ true, true, false }));
        QVERIFY(rig.failures.isEmpty());
    }

    // Edits made right after the first object went out; the objects that then go out, and how
    // the write ends, follow the list as each step finds it.
    void listEditedDuringWrite_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QList<int>>("sent");
        QTest::addColumn<bool>("completes"); // else the write ends when it runs out of rows
        // Rows 1..4 hold objects 1..4 at the start.
        QTest::newRow("row ahead cleared") << "clear row 3" << QList<int> { 1, 2, 4 } << false;
        QTest::newRow("row sent cleared") << "clear row 1" << QList<int> { 1, 2, 3, 4 } << true;
        // The count of objects is taken at the start: an added row is beyond it.
        QTest::newRow("row added") << "add 5" << QList<int> { 1, 2, 3, 4 } << true;
        // Added again under its number, with another file: the step reads the row as it is now.
        QTest::newRow("row ahead updated") << "update 3" << QList<int> { 1, 2, 3, 4 } << true;
        // One empty entry row is left: the cleared rows stay hidden and are never sent.
        QTest::newRow("list cleared") << "clear list" << QList<int> { 1 } << false;
        // Rows 1 and 2 of the loaded list hold 50 and 51; old rows 3 and 4 are hidden.
        QTest::newRow("shorter list loaded") << "load" << QList<int> { 1, 51 } << false;
        QTest::newRow("list appended") << "append" << QList<int> { 1, 2, 3, 4 } << true;
    }
    void listEditedDuringWrite()
    {
        QFETCH(QString, edit);
        QFETCH(QList<int>, sent);
        QFETCH(bool, completes);
        LinkRig rig;
        ListDocument document(rig.list, rig.ui);
        ListEditor editor(rig.list, document, rig.ui);
        QVERIFY(rig.startSim({ "--delay", "20" }));
        QVERIFY(rig.connect());
        for (int row = 1; row <= 4; ++row)
            rig.setRow(row, QString::number(row), TypeScript,
                rig.file(QStringLiteral("%1.scr").arg(row), pattern(100 * row, row)));
        // A list of two other objects, on disk.
        ObjectList other;
        other.setRowCount(3);
        for (int row = 1; row <= 2; ++row) {
            other.setCell(row, ColNumber, QString::number(49 + row));
            other.setCell(row, ColType, objectTypeTexts().at(TypeScript));
            other.setCell(row, ColFile,
                rig.file(QStringLiteral("%1.scr").arg(49 + row), pattern(50, 49 + row)));
        }
        const QString otherList = rig.dir.filePath(QStringLiteral("other.orm"));
        QVERIFY(listfile::write(otherList, other));

        rig.writeToFlash();
        QCOMPARE(rig.ui.status(), QStringLiteral("Передаем объект 1"));
        if (edit == QLatin1String("clear row 3") || edit == QLatin1String("clear row 1")) {
            rig.list.selectRow(edit.back().digitValue());
            editor.clearRow();
        } else if (edit == QLatin1String("add 5") || edit == QLatin1String("update 3")) {
            const bool update = edit == QLatin1String("update 3");
            editor.fields().number = update ? QStringLiteral("3") : QStringLiteral("5");
            editor.fields().type = TypeScript;
            editor.fields().fileName = rig.file(QStringLiteral("added.scr"), pattern(70, 33));
            if (update)
                rig.ui.answers.enqueue(true); // "Объект с таким номером существует. Обновить?"
            editor.addOrUpdateObject();
            QCOMPARE(rig.list.rowCount(), update ? 5 : 6);
        } else if (edit == QLatin1String("clear list")) {
            rig.ui.answers.enqueue(true);
            editor.clearList();
            QCOMPARE(rig.list.rowCount(), 2);
        } else if (edit == QLatin1String("load")) {
            rig.ui.openChoices.enqueue(otherList);
            document.loadList();
            QCOMPARE(rig.list.rowCount(), 3);
        } else if (edit == QLatin1String("append")) {
            rig.ui.openChoices.enqueue(otherList);
            document.appendList();
            QCOMPARE(rig.list.rowCount(), 7);
        }

        if (completes) {
            QTRY_COMPARE_WITH_TIMEOUT(rig.ui.messages.size(), 1, kWait);
            QVERIFY2(
                rig.ui.messages.first().startsWith(QStringLiteral("Передача успешно завершена")),
                qPrintable(rig.ui.messages.first()));
            QCOMPARE(rig.ui.gaugeProgress.last(), rig.ui.gaugeMaximum);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(!rig.ui.gaugeVisible, kWait);
            // Nothing is left to answer: an erase is not held behind anything.
            rig.link.eraseObjectTable();
            QTRY_COMPARE_WITH_TIMEOUT(
                rig.ui.status(), QStringLiteral("Таблица объектов во флэш очищена"), kWait);
            QVERIFY(!rig.ui.statuses.contains(kHeld));
            QVERIFY(rig.ui.messages.isEmpty());
        }
        QCOMPARE(rig.uploadedNumbers(), sent);
        if (edit == QLatin1String("update 3"))
            QCOMPARE(rig.sim->dumpFile(QStringLiteral("3.bin")), pattern(70, 33));
        QVERIFY(!rig.ui.gaugeVisible);
        QVERIFY(rig.failures.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRelWriteEdits)
#include "tst_rel_write_edits.moc"
