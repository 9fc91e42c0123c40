#pragma once
// tarviks-sim's command line.
#include "tools/ptyline.h"
#include "tools/simcore.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace tarviks {

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

void usage(FILE *to);

// False, with the reason on standard error, for an unknown option, a bad value or a stray
// argument. --help prints the usage and ends the program.
bool parseOptions(int argc, char **argv, Options &o);

} // namespace tarviks
