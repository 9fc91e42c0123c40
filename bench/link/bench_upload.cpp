// A whole write to flash at the line's own speed: 20 objects of every type, about 2 MB of
// payload, through DeviceLink and the serial component to tarviks-sim reading at 250000 baud,
// 11 bits a byte. It measures how close the write comes to the least time the protocol allows,
// and what it costs in CPU meanwhile. It measures and prints; it does not judge.
//
//   floor    = wire time of every frame and payload (bytes x 11 / 250000)
//            + 300 ms pacing after each accepted object (the last one's pause ends in the
//              completion message)
//            + the simulator's reply times (from reading an object's last byte to writing its
//              reply, from its log; it writes replies at once, not at line rate)
//   measured = from the button (writeToFlash) to the completion message
//   ratio    = measured / floor                                   (target <= 1.05)
//              (the simulator reads the first 20 ms of each object at once after a pause, so
//              the measured time may come out a little under this floor; printed as well)
//   CPU      = this process's CPU time / wall time during the write (target <= 0.03)
//
// Fillers: the pseudo-terminal holds several KB that the simulator has not read yet when the
// writer's queue has drained, so the transmit-empty event (and the 300 ms response timer it
// starts) comes before the line has really carried the last byte. A reply due more than 300 ms
// after that event finds a filler sent behind the payload: that is the program's behaviour on
// such a line, counted here from the simulator's log rather than hidden. A transmit-empty event
// that comes between the frame's bytes (the writer drained its queue before the payload was
// queued) starts the timer at the frame, and its filler also goes out behind the payload.
// --trace prints every object's events.
#include "common/failure.h"
#include "eventwait.h"
#include "fakeoperator.h"
#include "link/devicelink.h"
#include "link/protocol.h"
#include "link_simprocess.h"
#include "objlist/objectlist.h"
#include "payloadpictures.h"
#include "serial/vacomm.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QEventLoop>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

using namespace ormelin;

namespace {

constexpr int kBaud = 250000;
constexpr int kBitsPerByte = 11;
constexpr double kPacingSeconds = 0.3;
constexpr int kObjectsPerType = 4;
constexpr int kTargetPayload = 2000000;
constexpr int kFontBytes = 40000;
constexpr int kBitmapWidth = 320, kBitmapHeight = 240;
constexpr int kJpegWidth = 320, kJpegHeight = 240;
// tarviks-sim keeps up to 20 ms of line time as credit over a pause, as a line's receiver has
// bytes waiting: after each 300 ms pause it reads that much of the next object at once.
constexpr double kSimBurstSeconds = 0.020;
// Transmit-empty events this soon after the simulator read a frame came between its bytes.
constexpr double kEarlyEventWindow = 0.050;

// Ends the event loop at the completion message, at "Нет ответа от Тарвикса" and at the
// connection indicator coming on, and notes when.
class BenchOperator : public FakeOperator
{
public:
    QEventLoop *loop = nullptr;
    double doneAt = 0;

    void showMessage(const QString &text) override
    {
        doneAt = monotonicSeconds();
        FakeOperator::showMessage(text);
        quit();
    }
    void setStatus(const QString &text) override
    {
        FakeOperator::setStatus(text);
        if (text == QStringLiteral("Нет ответа от Тарвикса")) {
            doneAt = monotonicSeconds();
            quit();
        }
    }
    void setConnected(bool on) override
    {
        FakeOperator::setConnected(on);
        if (on)
            quit();
    }

private:
    void quit()
    {
        if (loop)
            loop->quit();
    }
};

QByteArray randomBytes(QRandomGenerator &random, int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(random.bounded(256));
    return bytes;
}

QByteArray noiseJpeg(QRandomGenerator &random)
{
    QImage image(kJpegWidth, kJpegHeight, QImage::Format_RGB32);
    for (int y = 0; y < kJpegHeight; ++y) {
        for (int x = 0; x < kJpegWidth; ++x)
            image.setPixel(x, y, random.generate() | 0xFF000000u);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 70);
    return bytes;
}

QByteArray randomBitmap(QRandomGenerator &random)
{
    payloadtest::BmpLayout l;
    l.width = kBitmapWidth;
    l.height = kBitmapHeight;
    l.pixels = randomBytes(random, kBitmapWidth * 3 * kBitmapHeight);
    return payloadtest::buildBmp(l);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

struct Object
{
    int type;
    QString path;
    int payload; // bytes after the frame
    int frame; // frame bytes
};

// Runs the loop until the operator ends it or `seconds` pass; false on the time limit.
bool runUntilDone(BenchOperator &ui, double seconds)
{
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    bool timedOut = false;
    QObject::connect(&limit, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    limit.start(int(seconds * 1000));
    ui.loop = &loop;
    loop.exec();
    ui.loop = nullptr;
    return !timedOut;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    QTemporaryDir dir;
    QRandomGenerator random(20240601);
    QList<Object> objects;
    const auto add = [&](int type, const QString &name, const QByteArray &bytes, int payload) {
        const QString path = dir.filePath(name);
        if (!writeFile(path, bytes)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            std::exit(1);
        }
        const int frame = type <= TypeBitmap ? proto::kImageUploadFrameSize
            : type == TypeScript             ? proto::kScriptUploadFrameSize
                                             : proto::kFontUploadFrameSize;
        objects.append({ type, path, payload, frame });
    };

    // Pictures and fonts first, then scripts sized to bring the payload to about 2 MB.
    QList<QByteArray> jpegs;
    int fixed = 0;
    for (int i = 0; i < kObjectsPerType; ++i) {
        jpegs.append(noiseJpeg(random));
        fixed += int(jpegs.last().size()) + kBitmapWidth * kBitmapHeight * 2 + 2 * kFontBytes;
    }
    const int scriptBytes = std::max(1000, (kTargetPayload - fixed) / kObjectsPerType);
    for (int i = 0; i < kObjectsPerType; ++i) {
        add(TypeJpeg, QStringLiteral("p%1.jpg").arg(i), jpegs[i], int(jpegs[i].size()));
        add(TypeBitmap, QStringLiteral("b%1.bmp").arg(i), randomBitmap(random),
            kBitmapWidth * kBitmapHeight * 2);
        add(TypeMicrochipFont, QStringLiteral("m%1.fnt").arg(i), randomBytes(random, kFontBytes),
            kFontBytes);
        add(TypeMonoFont, QStringLiteral("f%1.fnt").arg(i), randomBytes(random, kFontBytes),
            kFontBytes);
        add(TypeScript, QStringLiteral("s%1.scr").arg(i), randomBytes(random, scriptBytes),
            scriptBytes);
    }

    SimProcess sim(SimProcess::Launch::Spawn);
    if (!sim.start({ QStringLiteral("--baud"), QString::number(kBaud) })) {
        std::fprintf(stderr, "tarviks-sim: %s\n", qPrintable(sim.error()));
        return 1;
    }

    BenchOperator ui;
    ObjectList list;
    TVaComm comm;
    configureCommForTarviks(comm);
    DeviceLink link(comm, list, ui);
    QStringList failures;
    setFailureHandler([&](const QString &text) {
        failures << text;
        if (ui.loop)
            ui.loop->quit();
    });
    QList<double> transmitEmpty;
    auto emptied = comm.OnTxEmpty;
    comm.OnTxEmpty = [&, emptied] {
        transmitEmpty.append(monotonicSeconds());
        emptied();
    };

    link.selectPort(sim.port());
    if (!comm.IsOpen() || !runUntilDone(ui, 10) || !ui.connected) {
        std::fprintf(stderr, "no connection to the simulator on %s\n", qPrintable(sim.port()));
        return 1;
    }
    for (int i = 0; i < objects.size(); ++i) {
        const int row = i + 1;
        list.setRowCount(row + 1);
        list.setCell(row, ColNumber, QString::number(100 + i));
        list.setCell(row, ColType, objectTypeTexts().at(objects[i].type));
        if (objects[i].type == TypeMicrochipFont || objects[i].type == TypeMonoFont) {
            list.setCell(row, ColWidth, QStringLiteral("12"));
            list.setCell(row, ColHeight, QStringLiteral("16"));
        }
        list.setCell(row, ColFile, objects[i].path);
    }

    int64_t wireBytes = 0, payloadBytes = 0;
    for (const Object &o : objects) {
        wireBytes += o.frame + o.payload;
        payloadBytes += o.payload;
    }
    std::printf("bench_upload: %lld payload bytes in %lld objects (%d of each type), %lld bytes "
                "on the wire with the frames, to tarviks-sim at %d baud\n",
        static_cast<long long>(payloadBytes), static_cast<long long>(objects.size()),
        kObjectsPerType, static_cast<long long>(wireBytes), kBaud);
    std::fflush(stdout);

    const double wallStart = monotonicSeconds();
    const double cpuStart = cpuSeconds();
    transmitEmpty.clear();
    guarded([&] { link.writeToFlash(); });
    const bool finished = runUntilDone(ui, 600);
    const double cpuEnd = cpuSeconds();
    const double wallEnd = ui.doneAt > 0 ? ui.doneAt : monotonicSeconds();

    if (!finished || !failures.isEmpty() || ui.messages.size() != 1
        || !ui.messages.first().startsWith(QStringLiteral("Передача успешно завершена"))) {
        std::printf("the write did not complete: %s %s %s\n",
            qPrintable(ui.messages.join(QLatin1Char('|'))),
            qPrintable(failures.join(QLatin1Char('|'))), qPrintable(ui.status()));
        return 1;
    }

    // The simulator's view of the write, on the same monotonic clock.
    QList<double> payloadAt, replyAt, fillerAt;
    for (const auto &[t, text] : sim.timedLog()) {
        if (t < wallStart)
            continue;
        if (text.startsWith(QLatin1String("payload ")))
            payloadAt << t;
        else if (text.startsWith(QLatin1String("reply ")))
            replyAt << t;
        else if (text == QLatin1String("filler"))
            fillerAt << t;
    }
    if (payloadAt.size() != objects.size() || replyAt.size() != objects.size()) {
        std::printf("the simulator's log holds %lld payloads and %lld replies\n",
            static_cast<long long>(payloadAt.size()), static_cast<long long>(replyAt.size()));
        return 1;
    }

    double replyTimes = 0;
    for (int i = 0; i < objects.size(); ++i)
        replyTimes += replyAt[i] - payloadAt[i];
    const double wire = double(wireBytes) * kBitsPerByte / kBaud;
    const double pacing = kPacingSeconds * double(objects.size());
    const double floor = wire + pacing + replyTimes;
    const double measured = wallEnd - wallStart;
    const double cpu = cpuEnd - cpuStart;

    // How far ahead of the line the transmit-empty event came: for each object, the first one
    // after its frame went out (the early one between the frame's bytes aside) against the
    // simulator reading the object's last byte.
    QList<double> frameAt;
    for (const auto &[t, text] : sim.timedLog(QStringLiteral("frame"))) {
        if (t >= wallStart)
            frameAt << t;
    }
    QList<double> ahead;
    for (int i = 0; i < objects.size() && i < frameAt.size(); ++i) {
        for (double t : transmitEmpty) {
            if (t > frameAt[i] + kEarlyEventWindow && t <= payloadAt[i]) {
                ahead << payloadAt[i] - t;
                break;
            }
        }
    }
    std::sort(ahead.begin(), ahead.end());
    QList<int> fillersPerObject(objects.size(), 0);
    for (double t : fillerAt) {
        for (int i = 0; i < objects.size(); ++i) {
            if (t >= payloadAt[i] && (i + 1 == objects.size() || t < payloadAt[i + 1])) {
                ++fillersPerObject[i];
                break;
            }
        }
    }
    QStringList perObject;
    for (int n : fillersPerObject)
        perObject << QString::number(n);

    std::printf("floor = wire %.3f s (%lld bytes x %d bits / %d baud) + pacing %.3f s (%lld x "
                "300 ms) + simulator replies %.3f s = %.3f s\n",
        wire, static_cast<long long>(wireBytes), kBitsPerByte, kBaud, pacing,
        static_cast<long long>(objects.size()), replyTimes, floor);
    std::printf("measured (button to completion message)            %.3f s\n", measured);
    std::printf("ratio measured / floor                             %.4f   (target <= 1.05)\n",
        measured / floor);
    const double burst = kSimBurstSeconds * double(objects.size());
    std::printf("  the simulator reads %.0f ms of each object at once after the pause (its burst "
                "credit);\n  against the floor less %.3f s the ratio is     %.4f\n",
        1000 * kSimBurstSeconds, burst, measured / (floor - burst));
    std::printf("CPU time %.3f s / wall time %.3f s                  %.4f   (target <= 0.03)\n",
        cpu, measured, cpu / measured);
    std::printf("fillers sent during the write                      %lld (per object: %s)\n",
        static_cast<long long>(fillerAt.size()), qPrintable(perObject.join(' ')));
    if (!ahead.isEmpty())
        std::printf("transmit-empty ahead of the simulator's last read  median %.0f ms, max %.0f "
                    "ms (the pseudo-terminal's buffer)\n",
            1000 * ahead[ahead.size() / 2], 1000 * ahead.last());
    std::printf("completion message: %s\n", qPrintable(ui.messages.first()));
    std::printf("RESULT upload_floor_ratio=%.4f\nRESULT upload_cpu_share=%.4f\n", measured / floor,
        cpu / measured);

    // With --trace: each object's events, in seconds from the simulator reading its frame.
    if (app.arguments().contains(QStringLiteral("--trace"))) {
        for (int i = 0; i < objects.size() && i < frameAt.size(); ++i) {
            const double from = frameAt[i];
            const double to = i + 1 < frameAt.size() ? frameAt[i + 1] : 1e300;
            QStringList events;
            for (double t : transmitEmpty) {
                if (t >= from - 0.05 && t < to)
                    events << QStringLiteral("tx-empty %1").arg(t - from, 0, 'f', 3);
            }
            events << QStringLiteral("payload-end %1").arg(payloadAt[i] - from, 0, 'f', 3);
            events << QStringLiteral("reply %1").arg(replyAt[i] - from, 0, 'f', 3);
            for (double t : fillerAt) {
                if (t >= from && t < to)
                    events << QStringLiteral("filler %1").arg(t - from, 0, 'f', 3);
            }
            std::sort(events.begin(), events.end(), [](const QString &a, const QString &b) {
                return a.section(QLatin1Char(' '), 1).toDouble()
                    < b.section(QLatin1Char(' '), 1).toDouble();
            });
            std::printf("  object %2d, %7d bytes: %s\n", i + 1, objects[i].payload,
                qPrintable(events.join(QStringLiteral(", "))));
        }
    }
    return 0;
}
