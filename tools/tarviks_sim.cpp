// tarviks-sim: the Тарвикс controller on a pseudo-terminal. See tools/simcore.h for the frames,
// the replies, the log format and the dump; usage() below for the options.
#include "tools/ptyline.h"
#include "tools/simcore.h"

#include <QImage>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <getopt.h>
#include <optional>
#include <poll.h>
#include <random>
#include <string>
#include <sys/inotify.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace tarviks;

namespace {

constexpr int64_t kNsPerMs = 1000000;
constexpr int64_t kNsPerSecond = 1000000000;
constexpr int64_t kChunkGapNs = 3 * kNsPerMs;
constexpr int64_t kHangupPauseNs = 50 * kNsPerMs;
constexpr unsigned kBitsPerByte = 11; // start, 8 data, 2 stop
constexpr std::size_t kReadBlock = 65536;

volatile sig_atomic_t g_stop = 0;

void onStopSignal(int)
{
    g_stop = 1;
}

int64_t nowNs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * kNsPerSecond + ts.tv_nsec;
}

struct Options
{
    SimConfig sim;
    bool silent = false;
    int64_t delayMinMs = 0;
    int64_t delayMaxMs = 0;
    std::optional<uint64_t> seed;
    std::size_t chunk = 0;
    bool noise = false;
    bool garbage = false;
    unsigned baud = kControllerBaud;
    int64_t idleResetMs = 0;
    std::string logPath;
    std::string dumpDir;
    std::string linkPath;
};

void usage(FILE *to)
{
    std::fputs(
        "usage: tarviks-sim [options]\n"
        "Stands in for the Tarviks display controller on a pseudo-terminal; the first line of\n"
        "output is 'port: <path>' of the port to open.\n"
        "  --resolution WxH   connection-check answer (default 320x240)\n"
        "  --shifted          answer the connection check as FF FF W H ...\n"
        "  --protect          flash write-protected: uploads and erase refused\n"
        "  --capacity BYTES   refuse an upload that would store more than BYTES in all\n"
        "  --silent           never answer\n"
        "  --delay MS|MIN-MAX wait before each answer (random within MIN-MAX)\n"
        "  --seed N           seed of every random choice (default: random)\n"
        "  --chunk N          send answers in pieces of N bytes, 3 ms apart\n"
        "  --noise            1..5 random bytes (never FF) before each answer\n"
        "  --garbage          answer every frame with random non-reply bytes only\n"
        "  --baud RATE        read at the pace of RATE baud, 11 bits a byte (default 250000,\n"
        "                     0 = as fast as possible)\n"
        "  --idle-reset MS    forget a partial frame or payload after MS of silence (default off)\n"
        "  --log FILE         log every frame, payload and answer (format in tools/simcore.h)\n"
        "  --dump DIR         keep DIR/<n>.bin, DIR/<n>.png and DIR/table.txt up to date\n"
        "  --link PATH        symbolic link PATH to the port, removed at exit\n",
        to);
}

bool parseUnsigned(const char *text, uint64_t max, uint64_t &value)
{
    if (!text || !*text || *text == '-' || *text == '+')
        return false;
    errno = 0;
    char *end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || v > max)
        return false;
    value = v;
    return true;
}

bool parseOptions(int argc, char **argv, Options &o)
{
    enum {
        kResolution = 1000,
        kShifted,
        kProtect,
        kCapacity,
        kSilent,
        kDelay,
        kSeed,
        kChunk,
        kNoise,
        kGarbage,
        kBaud,
        kIdleReset,
        kLog,
        kDump,
        kLink,
        kHelp
    };
    static const option longOptions[] = { { "resolution", required_argument, nullptr, kResolution },
        { "shifted", no_argument, nullptr, kShifted },
        { "protect", no_argument, nullptr, kProtect },
        { "capacity", required_argument, nullptr, kCapacity },
        { "silent", no_argument, nullptr, kSilent },
        { "delay", required_argument, nullptr, kDelay },
        { "seed", required_argument, nullptr, kSeed },
        { "chunk", required_argument, nullptr, kChunk }, { "noise", no_argument, nullptr, kNoise },
        { "garbage", no_argument, nullptr, kGarbage },
        { "baud", required_argument, nullptr, kBaud },
        { "idle-reset", required_argument, nullptr, kIdleReset },
        { "log", required_argument, nullptr, kLog }, { "dump", required_argument, nullptr, kDump },
        { "link", required_argument, nullptr, kLink }, { "help", no_argument, nullptr, kHelp },
        { nullptr, 0, nullptr, 0 } };

    int c;
    while ((c = getopt_long(argc, argv, "", longOptions, nullptr)) != -1) {
        const std::string arg = optarg ? optarg : "";
        uint64_t a = 0, b = 0;
        bool ok = true;
        switch (c) {
        case kResolution: {
            const auto x = arg.find('x');
            ok = x != std::string::npos && parseUnsigned(arg.substr(0, x).c_str(), 0xFFFF, a)
                && parseUnsigned(arg.substr(x + 1).c_str(), 0xFFFF, b);
            o.sim.firstDimension = uint16_t(a);
            o.sim.secondDimension = uint16_t(b);
            break;
        }
        case kShifted:
            o.sim.shifted = true;
            break;
        case kProtect:
            o.sim.writeProtected = true;
            break;
        case kCapacity:
            ok = parseUnsigned(optarg, UINT64_MAX, a);
            o.sim.capacity = a;
            break;
        case kSilent:
            o.silent = true;
            break;
        case kDelay: {
            const auto dash = arg.find('-');
            if (dash == std::string::npos) {
                ok = parseUnsigned(optarg, 3600000, a);
                b = a;
            } else {
                ok = parseUnsigned(arg.substr(0, dash).c_str(), 3600000, a)
                    && parseUnsigned(arg.substr(dash + 1).c_str(), 3600000, b) && a <= b;
            }
            o.delayMinMs = int64_t(a);
            o.delayMaxMs = int64_t(b);
            break;
        }
        case kSeed:
            ok = parseUnsigned(optarg, UINT64_MAX, a);
            o.seed = a;
            break;
        case kChunk:
            ok = parseUnsigned(optarg, 1u << 20, a) && a > 0;
            o.chunk = std::size_t(a);
            break;
        case kNoise:
            o.noise = true;
            break;
        case kGarbage:
            o.garbage = true;
            break;
        case kBaud:
            ok = parseUnsigned(optarg, 100000000, a);
            o.baud = unsigned(a);
            break;
        case kIdleReset:
            ok = parseUnsigned(optarg, 3600000, a);
            o.idleResetMs = int64_t(a);
            break;
        case kLog:
            o.logPath = arg;
            break;
        case kDump:
            o.dumpDir = arg;
            break;
        case kLink:
            o.linkPath = arg;
            break;
        case kHelp:
            usage(stdout);
            std::exit(0);
        default:
            return false;
        }
        if (!ok) {
            std::fprintf(stderr, "tarviks-sim: bad value for --%s: %s\n",
                longOptions[c - kResolution].name, arg.c_str());
            return false;
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "tarviks-sim: unexpected argument %s\n", argv[optind]);
        return false;
    }
    return true;
}

class Log
{
public:
    bool open(const std::string &path)
    {
        if (path.empty())
            return true;
        m_file = std::fopen(path.c_str(), "w");
        return m_file != nullptr;
    }
    ~Log()
    {
        if (m_file)
            std::fclose(m_file);
    }
    void line(int64_t t, const std::string &text)
    {
        if (!m_file)
            return;
        std::fprintf(m_file, "%lld.%06lld %s\n", static_cast<long long>(t / kNsPerSecond),
            static_cast<long long>((t % kNsPerSecond) / 1000), text.c_str());
        std::fflush(m_file);
    }

private:
    FILE *m_file = nullptr;
};

// Reads at the pace of the line: a token bucket against the monotonic clock. The credit is
// counted from an anchor so that rounding never accumulates over a long payload; after a pause
// at most kBurstNs of credit is kept, as a line cannot deliver bytes it did not carry.
class Pacer
{
public:
    explicit Pacer(unsigned baud)
        : m_baud(baud)
    {
    }

    std::size_t allowance(int64_t now)
    {
        if (m_baud == 0)
            return SIZE_MAX;
        int64_t earned = earnedBytes(now);
        const int64_t burst
            = std::max<int64_t>(1, int64_t(__int128(kBurstNs) * m_baud / kByteTimeScale));
        if (earned - m_consumed > burst) {
            m_anchor = now - kBurstNs;
            m_consumed = 0;
            earned = earnedBytes(now);
        }
        return std::size_t(std::max<int64_t>(0, earned - m_consumed));
    }

    void consume(std::size_t n) { m_consumed += int64_t(n); }

    // Nanoseconds until the next batch may be read. Waking for every byte (44 us apart at
    // 250000 baud) would cost a fifth of a core; a batch of about 2 ms keeps the pace exact over a
    // payload and delays a frame's last byte by at most that.
    int64_t waitNs(int64_t now) const
    {
        const int64_t batch
            = std::max<int64_t>(1, int64_t(__int128(kBatchNs) * m_baud / kByteTimeScale));
        const __int128 due = __int128(m_consumed + batch) * kByteTimeScale;
        const int64_t at = m_anchor + int64_t((due + m_baud - 1) / m_baud);
        return std::max<int64_t>(0, at - now);
    }

private:
    static constexpr int64_t kBurstNs = 20 * kNsPerMs;
    static constexpr int64_t kBatchNs = 2 * kNsPerMs;
    static constexpr int64_t kByteTimeScale = int64_t(kBitsPerByte) * kNsPerSecond;

    int64_t earnedBytes(int64_t now) const
    {
        return int64_t(__int128(now - m_anchor) * m_baud / kByteTimeScale);
    }

    unsigned m_baud;
    int64_t m_anchor = nowNs();
    int64_t m_consumed = 0;
};

bool writeFileAtomically(const fs::path &path, const void *bytes, std::size_t size)
{
    const fs::path temp = path.string() + ".tmp";
    FILE *f = std::fopen(temp.c_str(), "wb");
    if (!f)
        return false;
    // An empty object is a valid upload: nothing to write, and no pointer to write it from.
    const bool written = size == 0 || std::fwrite(bytes, 1, size, f) == size;
    if (std::fclose(f) != 0 || !written) {
        std::remove(temp.c_str());
        return false;
    }
    return std::rename(temp.c_str(), path.c_str()) == 0;
}

class Dump
{
public:
    bool open(const std::string &dir)
    {
        if (dir.empty())
            return true;
        m_dir = dir;
        std::error_code ec;
        fs::create_directories(m_dir, ec);
        if (!fs::is_directory(m_dir))
            return false;
        // Left over from an earlier run: the directory shows this run's table only.
        removeObjectFiles();
        return true;
    }

    bool active() const { return !m_dir.empty(); }

    void stored(int number, const StoredObject &o)
    {
        const fs::path bin = m_dir / (std::to_string(number) + ".bin");
        if (!writeFileAtomically(bin, o.bytes.data(), o.bytes.size()))
            warn(bin);
        const fs::path png = m_dir / (std::to_string(number) + ".png");
        std::error_code ec;
        fs::remove(png, ec);
        if (o.code == 0x31 && o.kind == 0) {
            const std::vector<uint8_t> rgb = pixelsToRgb(o.bytes, o.width, o.height);
            if (!rgb.empty() && !writePicture(png, rgb, o.width, o.height))
                warn(png);
        }
    }

    void cleared() { removeObjectFiles(); }

    void table(const std::string &text)
    {
        const fs::path path = m_dir / "table.txt";
        if (!writeFileAtomically(path, text.data(), text.size()))
            warn(path);
    }

private:
    static bool writePicture(const fs::path &path, const std::vector<uint8_t> &rgb, int w, int h)
    {
        QImage image(w, h, QImage::Format_RGB888);
        if (image.isNull())
            return false;
        for (int y = 0; y < h; ++y)
            std::memcpy(image.scanLine(y), rgb.data() + std::size_t(y) * std::size_t(w) * 3,
                std::size_t(w) * 3);
        const fs::path temp = path.string() + ".tmp";
        if (!image.save(QString::fromStdString(temp.string()), "PNG"))
            return false;
        return std::rename(temp.c_str(), path.c_str()) == 0;
    }

    void removeObjectFiles()
    {
        std::error_code ec;
        for (const auto &entry : fs::directory_iterator(m_dir, ec)) {
            const fs::path p = entry.path();
            const std::string stem = p.stem().string();
            const bool numbered = !stem.empty()
                && std::all_of(
                    stem.begin(), stem.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
            if (numbered && (p.extension() == ".bin" || p.extension() == ".png"))
                fs::remove(p, ec);
        }
    }

    static void warn(const fs::path &path)
    {
        std::fprintf(stderr, "tarviks-sim: cannot write %s\n", path.c_str());
    }

    fs::path m_dir;
};

// Counts the clients that have the port open, from the opens and closes of the slave device
// that inotify reports (the simulator's own descriptor was opened before the watch). With no
// watch, a client is assumed to be there all the time.
class ClientWatch
{
public:
    ~ClientWatch()
    {
        if (m_fd >= 0)
            close(m_fd);
    }

    bool open(const std::string &path)
    {
        m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_fd < 0)
            return false;
        if (inotify_add_watch(m_fd, path.c_str(), IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)
            < 0) {
            close(m_fd);
            m_fd = -1;
            return false;
        }
        return true;
    }

    int fd() const { return m_fd; }
    bool connected() const { return m_fd < 0 || m_clients > 0; }

    // Calls changed(opened, clients) for each open and close reported since the last call.
    template <class F> void drain(F &&changed)
    {
        alignas(inotify_event) char buffer[4096];
        ssize_t n;
        while (m_fd >= 0 && (n = read(m_fd, buffer, sizeof buffer)) > 0) {
            for (char *p = buffer; p < buffer + n;) {
                const auto *e = reinterpret_cast<const inotify_event *>(p);
                if (e->mask & IN_OPEN) {
                    ++m_clients;
                    changed(true, m_clients);
                }
                if (e->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                    m_clients = std::max(0, m_clients - 1);
                    changed(false, m_clients);
                }
                p += sizeof(inotify_event) + e->len;
            }
        }
    }

private:
    int m_fd = -1;
    int m_clients = 0;
};

struct Outgoing
{
    int64_t due;
    std::vector<uint8_t> bytes;
    std::size_t written = 0;
    std::string logLine; // logged when this piece, the last of its answer, is written
};

class Answers
{
public:
    Answers(const Options &o, std::mt19937_64 &rng)
        : m_options(o)
        , m_rng(rng)
    {
    }

    void queue(const Event &e, int64_t at)
    {
        if (m_options.silent)
            return;
        std::vector<uint8_t> bytes;
        std::string line;
        if (m_options.garbage) {
            if (!e.completesCommand)
                return;
            bytes = randomNonReplyBytes(1, 12);
            line = "junk hex=" + hexText(bytes);
        } else {
            if (e.reply.empty())
                return;
            if (m_options.noise)
                bytes = randomNonReplyBytes(1, 5);
            const std::size_t noise = bytes.size();
            bytes.insert(bytes.end(), e.reply.begin(), e.reply.end());
            line = "reply noise=" + std::to_string(noise) + " hex=" + hexText(bytes);
        }
        int64_t due = at + delayMs() * kNsPerMs;
        // Random delays must not let a later answer overtake an earlier one.
        due = std::max(due, m_lastDue);
        const std::size_t piece = m_options.chunk ? m_options.chunk : bytes.size();
        for (std::size_t offset = 0; offset < bytes.size(); offset += piece) {
            const std::size_t n = std::min(piece, bytes.size() - offset);
            Outgoing o { due,
                std::vector<uint8_t>(bytes.begin() + std::ptrdiff_t(offset),
                    bytes.begin() + std::ptrdiff_t(offset + n)),
                0, {} };
            if (offset + n == bytes.size())
                o.logLine = line;
            m_pending.push_back(std::move(o));
            m_lastDue = due;
            due += kChunkGapNs;
        }
    }

    std::deque<Outgoing> &pending() { return m_pending; }

private:
    int64_t delayMs()
    {
        if (m_options.delayMaxMs <= m_options.delayMinMs)
            return m_options.delayMinMs;
        return std::uniform_int_distribution<int64_t>(m_options.delayMinMs, m_options.delayMaxMs)(
            m_rng);
    }

    std::vector<uint8_t> randomNonReplyBytes(int least, int most)
    {
        const int n = std::uniform_int_distribution<int>(least, most)(m_rng);
        std::uniform_int_distribution<int> value(0, 0xFE);
        std::vector<uint8_t> bytes;
        for (int i = 0; i < n; ++i)
            bytes.push_back(uint8_t(value(m_rng)));
        return bytes;
    }

    const Options &m_options;
    std::mt19937_64 &m_rng;
    std::deque<Outgoing> m_pending;
    int64_t m_lastDue = 0;
};

timespec toTimespec(int64_t ns)
{
    ns = std::max<int64_t>(0, ns);
    return timespec { time_t(ns / kNsPerSecond), long(ns % kNsPerSecond) };
}

class LinkGuard
{
public:
    bool make(const std::string &linkPath, const std::string &target)
    {
        if (linkPath.empty())
            return true;
        // A fresh link renamed over the old one: whoever follows the path never finds it missing.
        const std::string temp = linkPath + ".tarviks-sim." + std::to_string(getpid());
        unlink(temp.c_str());
        if (symlink(target.c_str(), temp.c_str()) != 0)
            return false;
        if (std::rename(temp.c_str(), linkPath.c_str()) != 0) {
            unlink(temp.c_str());
            return false;
        }
        m_path = linkPath;
        m_target = target;
        return true;
    }
    ~LinkGuard()
    {
        if (m_path.empty())
            return;
        // Another simulator may have taken the name over since; its link stays.
        std::error_code ec;
        if (fs::read_symlink(m_path, ec) == m_target)
            unlink(m_path.c_str());
    }

private:
    std::string m_path;
    std::string m_target;
};

int run(const Options &options)
{
    PtyPair pty;
    std::string error;
    if (!openControllerPty(pty, error)) {
        std::fprintf(stderr, "tarviks-sim: %s\n", error.c_str());
        return 1;
    }
    Log log;
    if (!log.open(options.logPath)) {
        std::fprintf(stderr, "tarviks-sim: cannot open log %s: %s\n", options.logPath.c_str(),
            std::strerror(errno));
        closePty(pty);
        return 1;
    }
    Dump dump;
    if (!dump.open(options.dumpDir)) {
        std::fprintf(
            stderr, "tarviks-sim: cannot use dump directory %s\n", options.dumpDir.c_str());
        closePty(pty);
        return 1;
    }
    LinkGuard link;
    if (!link.make(options.linkPath, pty.slavePath)) {
        std::fprintf(stderr, "tarviks-sim: cannot link %s: %s\n", options.linkPath.c_str(),
            std::strerror(errno));
        closePty(pty);
        return 1;
    }

    ClientWatch clients;
    if (!clients.open(pty.slavePath))
        std::fprintf(stderr, "tarviks-sim: cannot watch the port (%s): answers are always sent\n",
            std::strerror(errno));

    Simulator sim(options.sim);
    if (dump.active())
        dump.table(sim.tableText());
    std::mt19937_64 rng(options.seed ? *options.seed : std::random_device {}());
    Answers answers(options, rng);
    Pacer pacer(options.baud);

    std::printf("port: %s\n", pty.slavePath.c_str());
    std::fflush(stdout);
    log.line(nowNs(), "start port=" + pty.slavePath + " baud=" + std::to_string(options.baud));

    sigset_t waitMask;
    sigprocmask(SIG_SETMASK, nullptr, &waitMask);
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGHUP);

    std::vector<uint8_t> buffer(kReadBlock);
    int64_t lastRead = nowNs();
    const int64_t idleResetNs = options.idleResetMs * kNsPerMs;

    const auto handle = [&](const std::vector<Event> &events, int64_t at) {
        for (const Event &e : events) {
            log.line(at, e.line);
            if (dump.active() && e.stored >= 0) {
                dump.stored(e.stored, *e.object);
                dump.table(sim.tableText());
            }
            if (dump.active() && e.tableCleared) {
                dump.cleared();
                dump.table(sim.tableText());
            }
            answers.queue(e, at);
        }
    };

    while (!g_stop) {
        // Before any read: a client's open is always seen before the bytes it sends, and its
        // close before answers are written that nobody could read any more.
        clients.drain([&](bool opened, int count) {
            log.line(nowNs(),
                std::string(opened ? "open" : "close") + " clients=" + std::to_string(count));
            if (!opened && count == 0)
                releasePort(pty);
        });
        int64_t now = nowNs();

        bool waitWritable = false;
        auto &out = answers.pending();
        while (!out.empty() && out.front().due <= now) {
            Outgoing &o = out.front();
            // Like a closed port, an unopened one loses what the controller sends.
            if (!clients.connected()) {
                log.line(now,
                    "dropped hex="
                        + hexText(o.bytes.data() + o.written, o.bytes.size() - o.written));
                out.pop_front();
                continue;
            }
            const ssize_t n
                = write(pty.master, o.bytes.data() + o.written, o.bytes.size() - o.written);
            if (n < 0) {
                if (errno == EAGAIN || errno == EINTR) {
                    waitWritable = true;
                    break;
                }
                std::fprintf(stderr, "tarviks-sim: write: %s\n", std::strerror(errno));
                out.pop_front();
                continue;
            }
            o.written += std::size_t(n);
            if (o.written < o.bytes.size()) {
                waitWritable = true;
                break;
            }
            if (!o.logLine.empty())
                log.line(nowNs(), o.logLine);
            out.pop_front();
        }

        if (idleResetNs > 0 && sim.midFrame() && now - lastRead >= idleResetNs) {
            if (const auto e = sim.abandonPartial())
                log.line(now, e->line);
        }

        int64_t timeout = -1;
        const auto within = [&timeout](int64_t ns) {
            ns = std::max<int64_t>(0, ns);
            timeout = timeout < 0 ? ns : std::min(timeout, ns);
        };
        pollfd fds[2] = { { pty.master, 0, 0 }, { clients.fd(), POLLIN, 0 } };
        pollfd &pfd = fds[0];
        const std::size_t allowance = pacer.allowance(now);
        if (allowance > 0)
            pfd.events |= POLLIN;
        else
            within(pacer.waitNs(now));
        if (waitWritable)
            pfd.events |= POLLOUT;
        else if (!out.empty())
            within(out.front().due - now);
        if (idleResetNs > 0 && sim.midFrame())
            within(lastRead + idleResetNs - now);

        const timespec ts = toTimespec(timeout);
        const int rc
            = ppoll(fds, clients.fd() >= 0 ? 2 : 1, timeout < 0 ? nullptr : &ts, &waitMask);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "tarviks-sim: poll: %s\n", std::strerror(errno));
            break;
        }
        if (fds[1].revents & POLLIN)
            continue; // opens and closes first
        if (pfd.revents & POLLIN) {
            const ssize_t n = read(pty.master, buffer.data(), std::min(buffer.size(), allowance));
            if (n > 0) {
                const int64_t at = nowNs();
                pacer.consume(std::size_t(n));
                lastRead = at;
                handle(sim.feed(buffer.data(), std::size_t(n)), at);
                continue;
            }
        }
        if (pfd.revents & (POLLHUP | POLLERR)) {
            // Only if the own slave descriptor were lost: wait instead of spinning on the hang-up.
            const timespec pause = toTimespec(kHangupPauseNs);
            ppoll(nullptr, 0, &pause, &waitMask);
        }
    }

    closePty(pty);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!parseOptions(argc, argv, options)) {
        usage(stderr);
        return 2;
    }

    // SIGTERM, SIGINT and SIGHUP are held back except while the loop waits, so a stop request
    // always ends the wait and the loop finishes cleanly (link removed, exit status 0).
    struct sigaction stop
    {
    };
    stop.sa_handler = onStopSignal;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGHUP, &stop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t held;
    sigemptyset(&held);
    sigaddset(&held, SIGTERM);
    sigaddset(&held, SIGINT);
    sigaddset(&held, SIGHUP);
    sigprocmask(SIG_BLOCK, &held, nullptr);

    return run(options);
}
