// The soak: many consecutive writes to flash of a 20-object list against tarviks-sim with seeded
// random reply delays, replies cut into pieces and noise before them. After every write the
// simulator's object table must equal the list (number, type, kind, sizes, payload CRC). Resident
// memory is printed after the first and the last write; built with AddressSanitizer, the leak
// check runs at exit. Not part of the test suite: scripts/soak runs it.
//   soak_flash [--writes N] [--seed S]
#include "eventwait.h"
#include "fakeoperator.h"
#include "link/devicelink.h"
#include "link_simprocess.h"
#include "objlist/objectlist.h"
#include "payload/payload.h"
#include "serial/vacomm.h"
#include "tools/simcore.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

using namespace ormelin;

namespace {

long residentKb()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

struct Expected
{
    int number, type, kind, width, height;
    qsizetype size;
    uint32_t crc;
};

QString tableLine(const Expected &e)
{
    static const int codes[] = { 0x31, 0x31, 0x41, 0x41, 0x58 };
    return QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8")
        .arg(e.number)
        .arg(e.type)
        .arg(QString::number(codes[e.type], 16))
        .arg(e.kind)
        .arg(e.width)
        .arg(e.height)
        .arg(e.size)
        .arg(e.crc, 8, 16, QLatin1Char('0'));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int writes = 300;
    quint32 seed = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (QByteArray(argv[i]) == "--writes")
            writes = atoi(argv[i + 1]);
        else if (QByteArray(argv[i]) == "--seed")
            seed = quint32(atoi(argv[i + 1]));
    }

    // Twenty objects, four of each type, of assorted sizes.
    QTemporaryDir dir;
    QRandomGenerator rng(seed);
    ObjectList list;
    list.setRowCount(21);
    QStringList expected;
    PayloadBuffer payload;
    PictureHolder picture;
    for (int i = 0; i < 20; ++i) {
        const int type = i % 5;
        const int number = 100 + i * 7;
        const int row = i + 1;
        QString path;
        Expected e { number, type, 0, 0, 0, 0, 0 };
        if (type == 0 || type == 1) {
            const int w = 16 + int(rng.bounded(80)), h = 8 + int(rng.bounded(60));
            QImage image(w, h, QImage::Format_RGB888);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    image.setPixelColor(x, y, QColor::fromRgb(rng.generate() & 0xFFFFFF));
            path = dir.filePath(QStringLiteral("p%1.%2").arg(i).arg(type == 0 ? "jpg" : "bmp"));
            if (!image.save(path, type == 0 ? "JPEG" : "BMP"))
                qFatal("cannot write %s", qPrintable(path));
            picture.load(path);
            e.kind = type == 0 ? 7 : 0;
            e.width = picture.width();
            e.height = picture.height();
            if (type == 1) {
                e.size = picture.encodePixels(payload);
                e.crc = tarviks::crc32(payload.data(), size_t(e.size));
            }
        } else {
            QByteArray bytes(int(rng.bounded(6000)) + (type == 4 ? 0 : 200), Qt::Uninitialized);
            for (char &c : bytes)
                c = char(rng.generate());
            path = dir.filePath(QStringLiteral("o%1.bin").arg(i));
            QFile f(path);
            if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
                qFatal("cannot write %s", qPrintable(path));
            if (type != 4) {
                e.kind = type == 2 ? 3 : 0;
                e.width = 4 + int(rng.bounded(28));
                e.height = 6 + int(rng.bounded(40));
                list.setCell(row, ColWidth, QString::number(e.width));
                list.setCell(row, ColHeight, QString::number(e.height));
            }
        }
        if (type != 1) {
            QFile f(path);
            f.open(QIODevice::ReadOnly);
            const QByteArray bytes = f.readAll();
            e.size = bytes.size();
            e.crc = tarviks::crc32(
                reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
        }
        list.setCell(row, ColNumber, QString::number(number));
        list.setCell(row, ColType, objectTypeTexts().at(type));
        list.setCell(row, ColFile, path);
        expected << tableLine(e);
    }
    std::sort(expected.begin(), expected.end(), [](const QString &a, const QString &b) {
        return a.section(' ', 0, 0).toInt() < b.section(' ', 0, 0).toInt();
    });

    SimProcess sim;
    if (!sim.start({ QStringLiteral("--delay"), QStringLiteral("0-250"), QStringLiteral("--seed"),
            QString::number(seed), QStringLiteral("--chunk"), QStringLiteral("3"),
            QStringLiteral("--noise") }))
        qFatal("%s", qPrintable(sim.error()));

    FakeOperator ui;
    QStringList failures;
    setFailureHandler([&](const QString &text) { failures << text; });
    TVaComm comm;
    configureCommForTarviks(comm);
    DeviceLink link(comm, list, ui);
    link.selectPort(sim.port());
    if (!waitInEventLoop([&] { return ui.connected; }, 10000))
        qFatal("no connection: %s", qPrintable(ui.status()));

    long firstRss = -1;
    int mismatches = 0;
    QElapsedTimer clock;
    clock.start();
    for (int n = 1; n <= writes; ++n) {
        // The scripted operator keeps every status and gauge step; dropped here so that the
        // resident memory reported is the program's, not this record's.
        ui.messages.clear();
        ui.statuses.clear();
        ui.gaugeProgress.clear();
        ui.gaugeVisibility.clear();
        link.writeToFlash();
        if (!waitInEventLoop(
                [&] { return !ui.messages.isEmpty() || !failures.isEmpty(); }, 120000)) {
            std::printf("write %d did not finish: %s\n", n, qPrintable(ui.status()));
            return 1;
        }
        if (!failures.isEmpty()
            || !ui.messages.first().startsWith(QStringLiteral("Передача успешно"))) {
            std::printf("write %d failed: %s %s\n", n, qPrintable(ui.messages.join('|')),
                qPrintable(failures.join('|')));
            return 1;
        }
        QStringList table = QString::fromUtf8(sim.dumpFile(QStringLiteral("table.txt")))
                                .split('\n', Qt::SkipEmptyParts);
        table.removeIf([](const QString &l) { return l.startsWith('#'); });
        if (table != expected) {
            ++mismatches;
            std::printf("write %d: the simulator's table differs from the list\n", n);
        }
        if (n == 1)
            firstRss = residentKb();
        if (n % 25 == 0 || n == writes) {
            std::printf("write %d/%d done, %.0f s, RSS %ld kB\n", n, writes, clock.elapsed() / 1e3,
                residentKb());
            std::fflush(stdout);
        }
    }
    const long lastRss = residentKb();
    std::printf("RSS after write 1: %ld kB, after write %d: %ld kB\n", firstRss, writes, lastRss);
    std::printf("fillers sent: %lld, table mismatches: %d\n", qsizetype(sim.log("filler").size()),
        mismatches);
    setFailureHandler({});
    return mismatches == 0 ? 0 : 1;
}
