#pragma once
// What tarviks-sim leaves behind for whoever checks a run: the log of every event and the dump of
// the stored objects. Both formats are described in tools/simcore.h.
#include "tools/simcore.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace tarviks {

class Log
{
public:
    Log() = default;
    Log(const Log &) = delete;
    Log &operator=(const Log &) = delete;
    ~Log();

    // No path: nothing is logged.
    bool open(const std::string &path);
    // Written and flushed at once, so that a reader never waits for a buffer.
    void line(int64_t t, const std::string &text);

private:
    FILE *m_file = nullptr;
};

class Dump
{
public:
    // No directory: the dump is off. Object files left over from an earlier run are removed.
    bool open(const std::string &dir);
    bool active() const { return !m_dir.empty(); }

    void stored(int number, const StoredObject &o);
    void cleared() { removeObjectFiles(); }
    void table(const std::string &text);

private:
    void removeObjectFiles();

    std::filesystem::path m_dir;
};

} // namespace tarviks
