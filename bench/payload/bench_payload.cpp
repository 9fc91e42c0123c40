// Loading and encoding a bitmap as large as the payload buffer allows: our decoder and encoder
// against Qt's QImage reader followed by the same 16-bit conversion over its scan lines.
//   bench_payload [rounds]
#include "payload/payload.h"
#include "payload/pixelformat.h"
#include "payloadpictures.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace ormelin;

namespace {

// 949,683 pixels: the largest picture near the buffer's 950,081 that is not a single line.
constexpr int kWidth = 1103;
constexpr int kHeight = 861;

int32_t encodeWithQt(const QString &path, PayloadBuffer &buffer)
{
    QImage image;
    if (!image.load(path, "BMP"))
        return -1;
    if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32)
        image.convertTo(QImage::Format_RGB32);
    uint8_t *out = buffer.data();
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const uint16_t value = encodePixel(qRed(line[x]), qGreen(line[x]), qBlue(line[x]));
            *out++ = uint8_t(value & 0xFF);
            *out++ = uint8_t(value >> 8);
        }
    }
    const int32_t size = int32_t(out - buffer.data());
    buffer.setSize(size);
    return size;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 21;

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.bmp"));
    const QByteArray file = payloadtest::bmp24(kWidth, kHeight, [](int x, int y) {
        return payloadtest::Rgb { uint8_t(x * 7 + y), uint8_t(x ^ (y * 3)), uint8_t((x + y) * 13) };
    });
    if (!payloadtest::writeFile(path, file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }

    PictureHolder holder;
    PayloadBuffer ours;
    PayloadBuffer theirs;
    // Both once before timing: page cache, allocations, plugin lookup.
    holder.load(path);
    holder.encodePixels(ours);
    if (encodeWithQt(path, theirs) != ours.size()
        || std::memcmp(ours.data(), theirs.data(), std::size_t(ours.size())) != 0) {
        std::fprintf(stderr, "payloads differ: the comparison would not be fair\n");
        return 1;
    }

    std::vector<double> loadTimes, encodeTimes, ourTimes, qtTimes;
    QElapsedTimer timer;
    for (int i = 0; i < rounds; ++i) {
        // Alternate which side runs first, so neither always meets a warm cache.
        for (int side = 0; side < 2; ++side) {
            if ((side == 0) == (i % 2 == 0)) {
                timer.start();
                holder.load(path);
                const double loaded = timer.nsecsElapsed() / 1e6;
                holder.encodePixels(ours);
                const double total = timer.nsecsElapsed() / 1e6;
                loadTimes.push_back(loaded);
                encodeTimes.push_back(total - loaded);
                ourTimes.push_back(total);
            } else {
                timer.start();
                encodeWithQt(path, theirs);
                qtTimes.push_back(timer.nsecsElapsed() / 1e6);
            }
        }
    }

    const double ourMedian = median(ourTimes);
    const double qtMedian = median(qtTimes);
    std::printf("bitmap %d x %d, 24 bpp, %d pixels, file %lld bytes, payload %d bytes, %d rounds\n",
        kWidth, kHeight, kWidth * kHeight, static_cast<long long>(file.size()), ours.size(),
        rounds);
    std::printf("ours: load + encode  median %8.2f ms  (load %.2f, encode %.2f; best %.2f)\n",
        ourMedian, median(loadTimes), median(encodeTimes),
        *std::min_element(ourTimes.begin(), ourTimes.end()));
    std::printf("Qt:   QImage + scan  median %8.2f ms  (best %.2f)\n", qtMedian,
        *std::min_element(qtTimes.begin(), qtTimes.end()));
    std::printf("ratio Qt / ours: %.2f (above 1: ours is faster)\n", qtMedian / ourMedian);
    std::printf("RESULT payload_ours_ms=%.2f\nRESULT payload_qt_ms=%.2f\n"
                "RESULT payload_qt_over_ours=%.2f\n",
        ourMedian, qtMedian, qtMedian / ourMedian);
    return 0;
}
