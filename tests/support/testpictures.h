#pragma once
// Pictures made with QtGui for the tests and benchmarks that send them: include it only where
// Qt6::Gui is linked.
#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QRandomGenerator>

namespace testpictures {

// A picture file of one colour in a format QImage writes ("JPG", "PNG", "BMP", ...).
inline QByteArray pictureFile(
    int width, int height, QRgb colour, const char *format, int quality = -1)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

// A JPEG file of one colour.
inline QByteArray jpegFile(int width, int height, QRgb colour = qRgb(40, 90, 160), int quality = 80)
{
    return pictureFile(width, height, colour, "JPG", quality);
}

// A JPEG file of noise: it hardly compresses, so its size is near the worst a picture can have.
inline QByteArray noiseJpeg(QRandomGenerator &random, int width, int height, int quality = 70)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, random.generate() | 0xFF000000u);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", quality);
    return bytes;
}

} // namespace testpictures
