#include "tools/simoptions.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <getopt.h>

namespace tarviks {
namespace {

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

} // namespace

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

} // namespace tarviks
