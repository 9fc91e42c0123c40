#include "tools/simdump.h"

#include "tools/simclock.h"

#include <QImage>
#include <QString>

#include <algorithm>
#include <cstring>
#include <vector>

namespace fs = std::filesystem;

namespace tarviks {
namespace {

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

bool writePicture(const fs::path &path, const std::vector<uint8_t> &rgb, int w, int h)
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

void warn(const fs::path &path)
{
    std::fprintf(stderr, "tarviks-sim: cannot write %s\n", path.c_str());
}

} // namespace

Log::~Log()
{
    if (m_file)
        std::fclose(m_file);
}

bool Log::open(const std::string &path)
{
    if (path.empty())
        return true;
    m_file = std::fopen(path.c_str(), "w");
    return m_file != nullptr;
}

void Log::line(int64_t t, const std::string &text)
{
    if (!m_file)
        return;
    std::fprintf(m_file, "%lld.%06lld %s\n", static_cast<long long>(t / kNsPerSecond),
        static_cast<long long>((t % kNsPerSecond) / 1000), text.c_str());
    std::fflush(m_file);
}

bool Dump::open(const std::string &dir)
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

void Dump::stored(int number, const StoredObject &o)
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

void Dump::table(const std::string &text)
{
    const fs::path path = m_dir / "table.txt";
    if (!writeFileAtomically(path, text.data(), text.size()))
        warn(path);
}

void Dump::removeObjectFiles()
{
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(m_dir, ec)) {
        const fs::path p = entry.path();
        const std::string stem = p.stem().string();
        const bool numbered = !stem.empty() && std::all_of(stem.begin(), stem.end(), [](char ch) {
            return ch >= '0' && ch <= '9';
        });
        if (numbered && (p.extension() == ".bin" || p.extension() == ".png"))
            fs::remove(p, ec);
    }
}

} // namespace tarviks
