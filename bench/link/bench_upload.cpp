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
#include "serial/vacomm.h"
#include "uploadlist.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>

using namespace ormelin;
using namespace uploadlist;

namespace {

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

int frameSize(int type)
{
    return type <= TypeBitmap ? proto::kImageUploadFrameSize
        : type == TypeScript  ? proto::kScriptUploadFrameSize
                              : proto::kFontUploadFrameSize;
}

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
    const QList<Object> objects = writeObjects(dir);

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
    fillList(list, objects, 100);

    const int64_t payload = payloadBytes(objects);
    int64_t wireBytes = payload;
    for (const Object &o : objects)
        wireBytes += frameSize(o.type);
    std::printf("bench_upload: %lld payload bytes in %lld objects (%d of each type), %lld bytes "
                "on the wire with the frames, to tarviks-sim at %d baud\n",
        static_cast<long long>(payload), static_cast<long long>(objects.size()), kObjectsPerType,
        static_cast<long long>(wireBytes), kBaud);
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
