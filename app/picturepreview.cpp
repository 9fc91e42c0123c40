#include "app/picturepreview.h"

#include "app/failurebox.h"
#include "objlist/objectlist.h"

#include <QBuffer>
#include <QImageReader>

#include <algorithm>

namespace ormelin {

namespace {

// 5 bits back to 8: the stored bits on top, repeated below so that 0 stays 0 and 31 gives 255.
// Bit 15 is not a colour of its own and is left out.
constexpr uint32_t widen(uint32_t five)
{
    return (five << 3) | (five >> 2);
}

QString sizeText(int width, int height, int32_t bytes)
{
    return QStringLiteral("%1 × %2, %3 байт").arg(width).arg(height).arg(bytes);
}

} // namespace

QImage decodePixelPayload(const uint8_t *payload, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        const uint8_t *in = payload + std::size_t(y) * std::size_t(width) * 2;
        for (int x = 0; x < width; ++x) {
            const uint32_t value = uint32_t(in[2 * x]) | (uint32_t(in[2 * x + 1]) << 8);
            line[x] = qRgb(int(widen(value & 0x1F)), int(widen((value >> 5) & 0x1F)),
                int(widen((value >> 10) & 0x1F)));
        }
    }
    return image;
}

QImage fitPreview(const QImage &image)
{
    if (image.isNull())
        return image;
    const int w = image.width();
    const int h = image.height();
    if (w > kPreviewSize.width() || h > kPreviewSize.height())
        return image.scaled(kPreviewSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    const int factor = std::min(kPreviewSize.width() / w, kPreviewSize.height() / h);
    if (factor < 2)
        return image;
    return image.scaled(w * factor, h * factor, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

PicturePreviewer::PicturePreviewer() = default;
PicturePreviewer::~PicturePreviewer() = default;

std::optional<PicturePreview> PicturePreviewer::preview(int type, const QString &path)
{
    if ((type != TypeJpeg && type != TypeBitmap) || path.isEmpty())
        return std::nullopt;
    if (!m_payload)
        m_payload = std::make_unique<PayloadBuffer>();

    // The same steps, and the same failures, as the upload of the object.
    PicturePreview out;
    try {
        m_picture.load(path);
        if (type == TypeBitmap) {
            const int32_t size = m_picture.encodePixels(*m_payload);
            out.image
                = decodePixelPayload(m_payload->data(), m_picture.width(), m_picture.height());
            out.text = sizeText(m_picture.width(), m_picture.height(), size);
        } else {
            const std::optional<int32_t> size = readFilePayload(path, *m_payload);
            if (!size) {
                out.text = QStringLiteral("Ошибка чтения файла ") + path;
                return out;
            }
            // The controller gets the file's bytes and decodes them itself; shown here as any
            // viewer would show them.
            const QByteArray bytes
                = QByteArray::fromRawData(reinterpret_cast<const char *>(m_payload->data()), *size);
            QBuffer device;
            device.setData(bytes);
            device.open(QIODevice::ReadOnly);
            QImageReader reader(&device);
            // A photograph is decoded straight to the preview's size, not in full.
            const QSize full = reader.size();
            if (full.width() > kPreviewSize.width() || full.height() > kPreviewSize.height())
                reader.setScaledSize(full.scaled(kPreviewSize, Qt::KeepAspectRatio));
            out.image = reader.read();
            out.text = sizeText(m_picture.width(), m_picture.height(), *size);
        }
    } catch (const PictureError &) {
        out.text = QStringLiteral("Ошибка чтения изображения ") + path;
        return out;
    } catch (const std::exception &e) {
        // What the upload leaves to the general failure box.
        out.text = failureBoxText(failureText(e));
        return out;
    }
    out.image = fitPreview(out.image);
    return out;
}

QString PicturePreviewer::toolTipHtml(const PicturePreview &preview)
{
    QString html = QStringLiteral("<div style=\"white-space:pre\">");
    if (!preview.image.isNull()) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        // Uncompressed: the tooltip decodes it at once, and compressing would cost more than
        // the whole decode of a large bitmap.
        preview.image.save(&buffer, "PNG", 100);
        html += QStringLiteral(
            "<img src=\"data:image/png;base64,%1\" width=\"%2\" height=\"%3\"><br>")
                    .arg(QString::fromLatin1(png.toBase64()))
                    .arg(preview.image.width())
                    .arg(preview.image.height());
    }
    html += preview.text.toHtmlEscaped() + QStringLiteral("</div>");
    return html;
}

} // namespace ormelin
