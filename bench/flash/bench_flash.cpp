// ormelin-flash writing the same list of 20 objects, about 2 MB, to four tarviks-sim at once,
// each reading at 250000 baud, 11 bits a byte. It measures how close each port comes to the
// least time the protocol allows, and what the one process driving all four costs in CPU.
// It measures and prints; it does not judge.
//
//   floor (per port) = wire time of every frame and payload the simulator read
//                      (bytes x 11 / 250000, sizes from its log)
//                    + 300 ms pacing after each accepted object
//                    + the simulator's reply times (last byte read to reply written)
//   measured         = the port's "seconds" in the report: from the start of its write to the
//                      completion message
//   ratio            = measured / floor                              (target <= 1.05)
//                      (the simulator reads the first 20 ms of each object at once after a
//                      pause, so the measured time may come out a little under this floor;
//                      the ratio against the floor less that credit is printed as well)
//   CPU per port     = the program's user + system time over its wall time, divided by the
//                      number of ports                               (target <= 0.02)
// Fillers: as in bench_upload, the pseudo-terminal's buffer lets the transmit-empty event come
// before the simulator has read the last byte; replies due more than 300 ms after it find a
// filler behind the payload. They are counted from each simulator's log.
#include "eventwait.h"
#include "link_simprocess.h"
#include "objlist/listfile.h"
#include "objlist/objectlist.h"
#include "uploadlist.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char **environ;

using namespace ormelin;
using namespace uploadlist;

namespace {

constexpr int kPorts = 4;

struct PortFigures
{
    double floor = 0;
    double wire = 0;
    double replies = 0;
    int objects = 0;
    int fillers = 0;
};

// The port's floor from what its simulator read and answered.
PortFigures figuresFromLog(const SimProcess &sim)
{
    PortFigures f;
    int64_t wireBytes = 0;
    double payloadAt = -1;
    for (const auto &[t, text] : sim.timedLog()) {
        if (text.startsWith(QLatin1String("frame ")) && text.contains(QLatin1String("-upload "))) {
            wireBytes += text.section(QStringLiteral("hex="), 1).size() / 2;
        } else if (text.startsWith(QLatin1String("payload "))) {
            wireBytes += text.section(QStringLiteral("size="), 1)
                             .section(QLatin1Char(' '), 0, 0)
                             .toLongLong();
            payloadAt = t;
            ++f.objects;
        } else if (text.startsWith(QLatin1String("reply ")) && payloadAt >= 0) {
            f.replies += t - payloadAt;
            payloadAt = -1;
        } else if (text == QLatin1String("filler")) {
            ++f.fillers;
        }
    }
    f.wire = double(wireBytes) * kBitsPerByte / kBaud;
    f.floor = f.wire + kPacingSeconds * f.objects + f.replies;
    return f;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    QTemporaryDir dir;
    const QList<Object> objects = writeObjects(dir);
    ObjectList list;
    fillList(list, objects, 101);
    const QString listPath = dir.filePath(QStringLiteral("bench.orm"));
    if (!listfile::write(listPath, list)) {
        std::fprintf(stderr, "cannot write the list file\n");
        return 1;
    }

    std::vector<std::unique_ptr<SimProcess>> sims;
    QStringList args;
    for (int i = 0; i < kPorts; ++i) {
        sims.push_back(std::make_unique<SimProcess>(SimProcess::Launch::Spawn));
        sims.back()->setDump(false);
        if (!sims.back()->start({ QStringLiteral("--baud"), QString::number(kBaud) })) {
            std::fprintf(stderr, "tarviks-sim: %s\n", qPrintable(sims.back()->error()));
            return 1;
        }
        args << QStringLiteral("--port") << sims.back()->port();
    }
    const QString reportPath = dir.filePath(QStringLiteral("report.json"));
    args << QStringLiteral("--json") << reportPath << listPath;
    std::printf("bench_flash: %lld payload bytes in %d objects, to %d tarviks-sim at %d baud at "
                "once\n",
        static_cast<long long>(payloadBytes(objects)), int(objects.size()), kPorts, kBaud);
    std::fflush(stdout);

    std::vector<QByteArray> storage { QByteArray(ORMELIN_FLASH) };
    for (const QString &a : args)
        storage.push_back(a.toLocal8Bit());
    std::vector<char *> argvOut;
    for (QByteArray &a : storage)
        argvOut.push_back(a.data());
    argvOut.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const double wallStart = monotonicSeconds();
    const int spawned = ::posix_spawn(&pid, argvOut[0], &actions, nullptr, argvOut.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        std::fprintf(stderr, "cannot start %s\n", ORMELIN_FLASH);
        return 1;
    }
    int status = 0;
    rusage usage {};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) { }
    const double wall = monotonicSeconds() - wallStart;
    const double cpu = double(usage.ru_utime.tv_sec) + usage.ru_utime.tv_usec / 1e6
        + double(usage.ru_stime.tv_sec) + usage.ru_stime.tv_usec / 1e6;
    const int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;

    QFile reportFile(reportPath);
    reportFile.open(QIODevice::ReadOnly);
    const QJsonObject report = QJsonDocument::fromJson(reportFile.readAll()).object();
    if (exitCode != 0) {
        std::printf("ormelin-flash ended with %d\n", exitCode);
        return 1;
    }

    double worst = 0;
    double worstLessBurst = 0;
    for (const auto &sim : sims) {
        QJsonObject port;
        for (const QJsonValue &v : report.value(QStringLiteral("ports")).toArray()) {
            if (v.toObject().value(QStringLiteral("port")).toString() == sim->port())
                port = v.toObject();
        }
        const PortFigures f = figuresFromLog(*sim);
        const double measured = port.value(QStringLiteral("seconds")).toDouble();
        const double ratio = measured / f.floor;
        worst = std::max(worst, ratio);
        worstLessBurst
            = std::max(worstLessBurst, measured / (f.floor - kSimBurstSeconds * f.objects));
        std::printf("%-12s %2d objects  floor %.3f s (wire %.3f + pacing %.3f + replies %.3f)  "
                    "measured %.3f s  ratio %.4f  fillers %d\n",
            qPrintable(sim->port()), f.objects, f.floor, f.wire, kPacingSeconds * f.objects,
            f.replies, measured, ratio, f.fillers);
    }
    std::printf("  against the floor less the simulator's burst credit (20 ms an object)  %.4f\n",
        worstLessBurst);
    const double share = cpu / wall / kPorts;
    std::printf("worst ratio measured / floor                    %.4f   (target <= 1.05)\n", worst);
    std::printf("CPU %.3f s / wall %.3f s / %d ports            %.4f   (target <= 0.02)\n", cpu,
        wall, kPorts, share);
    std::printf("RESULT flash4_floor_ratio=%.4f\nRESULT flash4_cpu_share=%.4f\n", worst, share);
    return 0;
}
