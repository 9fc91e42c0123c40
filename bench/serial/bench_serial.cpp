// How close the serial component comes to the line's own speed on the largest upload, and what
// it costs in CPU meanwhile. One script upload of 1.9 MB in all (frame and payload) goes through
// TVaComm to tarviks-sim reading at 250000 baud, 11 bits a byte. The transfer is timed from the
// first byte queued to the moment the simulator has read the last payload byte (its log line,
// on the same monotonic clock); the simulator's reply ends the wait.
//
// Prints: efficiency = wire time (bytes x 11 / 250000) / measured time  (target >= 0.97)
//         CPU time / wall time of this process during the transfer      (target <= 0.03)
// It measures and prints; it does not judge.
#include "eventwait.h"
#include "serial/vacomm.h"
#include "simpath.h"
#include "tools/simcore.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>

extern char **environ;

namespace {

constexpr int kBaud = 250000;
constexpr int kBitsPerByte = 11;
constexpr int kTotalBytes = 1900000; // frame + payload, the write queue's capacity
constexpr int kFrameBytes = 9;
constexpr int kReplyBytes = 10;

// The simulator, started by this program and ended by it.
class Simulator
{
public:
    bool start(const QString &logPath)
    {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        const QByteArray program = simulatorPath();
        const QByteArray log = logPath.toLocal8Bit();
        const QByteArray baud = QByteArray::number(kBaud);
        char *argv[] = { const_cast<char *>(program.constData()), const_cast<char *>("--baud"),
            const_cast<char *>(baud.constData()), const_cast<char *>("--log"),
            const_cast<char *>(log.constData()), nullptr };
        const int rc = ::posix_spawn(&m_pid, program.constData(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (rc != 0) {
            ::close(out[0]);
            m_pid = -1;
            return false;
        }
        m_stdout = out[0];
        return true;
    }

    // The "port: <path>" line the simulator starts with.
    QString port()
    {
        QByteArray line;
        char c;
        while (!line.endsWith('\n')) {
            pollfd p { m_stdout, POLLIN, 0 };
            if (::poll(&p, 1, 10000) <= 0 || ::read(m_stdout, &c, 1) != 1)
                return {};
            line += c;
        }
        if (!line.startsWith("port: "))
            return {};
        return QString::fromLocal8Bit(line.mid(6).trimmed());
    }

    ~Simulator()
    {
        if (m_stdout >= 0)
            ::close(m_stdout);
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

private:
    pid_t m_pid = -1;
    int m_stdout = -1;
};

// The simulator's "payload" line: when it read the last byte, and the checksum of what it got.
bool findPayloadLine(const QString &logPath, double &readAt, QByteArray &crcText)
{
    QFile log(logPath);
    if (!log.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : log.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 2 || fields[1] != "payload")
            continue;
        readAt = fields[0].toDouble();
        for (const QByteArray &f : fields)
            if (f.startsWith("crc32="))
                crcText = f.mid(6);
        return true;
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString logPath = dir.filePath(QStringLiteral("sim.log"));
    Simulator sim;
    if (!sim.start(logPath)) {
        std::fprintf(stderr, "bench_serial: cannot start %s\n", simulatorPath());
        return 1;
    }
    const QString port = sim.port();
    if (port.isEmpty()) {
        std::fprintf(stderr, "bench_serial: the simulator named no port\n");
        return 1;
    }

    ormelin::TVaComm comm;
    comm.SetUserBaudrate(kBaud);
    comm.SetStopbits(ormelin::TVaStopbits::sb2);
    ormelin::TVaBuffers buffers;
    buffers.ReadSize = 2048;
    buffers.WriteSize = kTotalBytes;
    comm.SetBuffers(buffers);
    comm.SetDeviceName(port);

    // Script upload, object 7: AA AA 58 N(2) S(3) 58, then S bytes.
    const int payloadSize = kTotalBytes - kFrameBytes;
    QByteArray payload(payloadSize, Qt::Uninitialized);
    for (int i = 0; i < payloadSize; ++i)
        payload[i] = char((i * 131 + (i >> 9)) & 0xFF);
    const QByteArray frame = QByteArray::fromHex("aaaa580700") + char(payloadSize & 0xFF)
        + char((payloadSize >> 8) & 0xFF) + char((payloadSize >> 16) & 0xFF) + char(0x58);

    QByteArray reply;
    double replyAt = 0, txEmptyAt = 0, cpuAtReply = 0;
    comm.OnRxChar = [&](int32_t count) {
        QByteArray b(count, 0);
        b.resize(comm.ReadBytes(b.data(), count));
        reply += b;
        if (reply.size() >= kReplyBytes && replyAt == 0) {
            replyAt = monotonicSeconds();
            cpuAtReply = cpuSeconds();
            app.quit();
        }
    };
    comm.OnTxEmpty = [&] { txEmptyAt = monotonicSeconds(); };
    try {
        comm.Open();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "bench_serial: %s\n", e.what());
        return 1;
    }

    const double wireSeconds = double(kTotalBytes) * kBitsPerByte / kBaud;
    std::printf("bench_serial: %d bytes (frame %d + payload %d) to tarviks-sim at %d baud;\n"
                "  wire time %.3f s, so this takes about a minute and a half\n",
        kTotalBytes, kFrameBytes, payloadSize, kBaud, wireSeconds);
    std::fflush(stdout);

    const double cpuStart = cpuSeconds();
    const double start = monotonicSeconds();
    for (char c : frame)
        comm.WriteByte(uint8_t(c));
    comm.WriteBytes(payload.constData(), payloadSize);
    const double queuedAt = monotonicSeconds();

    QTimer::singleShot(std::chrono::seconds(int(wireSeconds * 3) + 30), &app, [&] {
        std::fprintf(stderr, "bench_serial: no reply from the simulator\n");
        app.exit(1);
    });
    if (app.exec() != 0)
        return 1;

    double readAt = 0;
    QByteArray simCrc;
    if (!findPayloadLine(logPath, readAt, simCrc)) {
        std::fprintf(stderr, "bench_serial: the simulator logged no payload\n");
        return 1;
    }
    const double measured = readAt - start;
    const double wall = replyAt - start;
    const double cpu = cpuAtReply - cpuStart;
    const QByteArray ourCrc
        = QByteArray::number(tarviks::crc32(reinterpret_cast<const uint8_t *>(payload.constData()),
                                 size_t(payload.size())),
            16)
              .rightJustified(8, '0');

    std::printf("  queueing took           %9.3f ms\n", (queuedAt - start) * 1e3);
    std::printf(
        "  measured transfer       %9.3f s  (first byte queued -> simulator read the last)\n",
        measured);
    std::printf("  efficiency              %9.4f    (wire time / measured; target >= 0.97)\n",
        wireSeconds / measured);
    std::printf("  CPU / wall              %9.4f    (%.3f s CPU in %.3f s; target <= 0.03)\n",
        cpu / wall, cpu, wall);
    std::printf("  transmit-empty          %+9.3f s  relative to the simulator's last read\n",
        txEmptyAt > 0 ? txEmptyAt - readAt : 0.0);
    std::printf("  reply                   %9.3f ms after the last read; payload crc32 %s (%s)\n",
        (replyAt - readAt) * 1e3, simCrc.constData(), simCrc == ourCrc ? "matches" : "MISMATCH");
    std::printf("RESULT serial_efficiency=%.4f\nRESULT serial_cpu_share=%.4f\n",
        wireSeconds / measured, cpu / wall);
    return simCrc == ourCrc ? 0 : 1;
}
