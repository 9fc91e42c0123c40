#pragma once
// What the controller will show for a picture object, for the operator to see before writing:
// the upload's own loading and encoding run on the file, and a bitmap's 16-bit payload is turned
// back into colours, so the preview shows the colour reduction as well. A file the upload would
// refuse gives the upload's own failure text instead.
#include "payload/payload.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <memory>
#include <optional>

namespace ormelin {

struct PicturePreview
{
    QImage image; // fitted into kPreviewSize; null when there is nothing to show
    QString text; // "width × height, payload bytes", or the failure the upload would report
};

inline constexpr QSize kPreviewSize { 320, 240 };

// The colours of a 16-bit payload, top row first: each 5-bit channel widened back to 8 bits.
QImage decodePixelPayload(const uint8_t *payload, int width, int height);

// Scaled to fit kPreviewSize: larger pictures shrink smoothly, small ones grow by a whole factor
// so that their pixels stay sharp.
QImage fitPreview(const QImage &image);

class PicturePreviewer
{
public:
    PicturePreviewer();
    ~PicturePreviewer();

    // The preview of a file as an object of the given type; nothing for a type that is not a
    // picture or an empty name.
    std::optional<PicturePreview> preview(int type, const QString &path);

    // Rich text for a tooltip: the picture above its text.
    static QString toolTipHtml(const PicturePreview &preview);

private:
    // Separate from the upload's: a preview must not change what the upload holds (the size an
    // empty picture keeps, the payload of an object being sent).
    PictureHolder m_picture;
    std::unique_ptr<PayloadBuffer> m_payload; // made at the first preview
};

} // namespace ormelin
