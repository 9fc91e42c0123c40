#ifndef ORMELIN_PAYLOAD_JPEGHEADER_H
#define ORMELIN_PAYLOAD_JPEGHEADER_H
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Reads a JPEG stream's headers up to the first scan. Returns 1 with the frame's width and
 * height, or 0 with the message code of the libjpeg error that stopped it. */
int ormelin_read_jpeg_header(
    const unsigned char *data, size_t size, int *width, int *height, int *message_code);

#ifdef __cplusplus
}
#endif
#endif
