// tarviks-sim: the Тарвикс controller on a pseudo-terminal. See tools/simcore.h for the frames,
// the replies, the log format and the dump; usage() in tools/simoptions.cpp for the options.
// The parts: simoptions (the command line), simreader (reading the line at its pace into the
// decoder), simanswers (what is answered, when and in what pieces), simdump (the log and the
// dump), simport (who has the port open, the link to it); this file runs them.
#include "tools/ptyline.h"
#include "tools/simanswers.h"
#include "tools/simclock.h"
#include "tools/simcore.h"
#include "tools/simdump.h"
#include "tools/simoptions.h"
#include "tools/simport.h"
#include "tools/simreader.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <random>
#include <string>
#include <vector>

using namespace tarviks;

namespace {

constexpr int64_t kHangupPauseNs = 50 * kNsPerMs;

volatile sig_atomic_t g_stop = 0;

void onStopSignal(int)
{
    g_stop = 1;
}

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
    FrameReader reader(sim, options.baud, options.idleResetMs);

    std::printf("port: %s\n", pty.slavePath.c_str());
    std::fflush(stdout);
    log.line(nowNs(), "start port=" + pty.slavePath + " baud=" + std::to_string(options.baud));

    sigset_t waitMask;
    sigprocmask(SIG_SETMASK, nullptr, &waitMask);
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGHUP);

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
        const int64_t now = nowNs();
        const bool waitWritable = answers.send(pty.master, clients.connected(), log, now);
        if (const auto e = reader.abandonIfIdle(now))
            log.line(now, e->line);

        int64_t timeout = -1;
        const auto within = [&timeout](int64_t ns) {
            ns = std::max<int64_t>(0, ns);
            timeout = timeout < 0 ? ns : std::min(timeout, ns);
        };
        pollfd fds[2] = { { pty.master, 0, 0 }, { clients.fd(), POLLIN, 0 } };
        pollfd &pfd = fds[0];
        const std::size_t allowance = reader.allowance(now);
        if (allowance > 0)
            pfd.events |= POLLIN;
        else
            within(reader.waitNs(now));
        if (waitWritable)
            pfd.events |= POLLOUT;
        else if (const auto due = answers.nextDue())
            within(*due - now);
        if (const auto due = reader.idleResetDue())
            within(*due - now);

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
            std::vector<Event> events;
            int64_t at = 0;
            if (reader.read(pty.master, allowance, events, at) > 0) {
                handle(events, at);
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
