/* libjpeg reports errors by calling error_exit, which must not return. We leave it with longjmp,
 * so this region is kept in C: nothing here has a destructor that a jump could skip. */
#include "payload/jpegheader.h"

#include <setjmp.h>
#include <stdio.h>
#include <string.h>

#include <jpeglib.h>

struct jump_error_mgr
{
    struct jpeg_error_mgr pub;
    jmp_buf jump;
};

static void jump_error_exit(j_common_ptr cinfo)
{
    struct jump_error_mgr *err = (struct jump_error_mgr *)cinfo->err;
    longjmp(err->jump, 1);
}

/* Warnings (corrupt but readable data) do not stop a header read; nothing goes to stderr. */
static void silent_emit_message(j_common_ptr cinfo, int msg_level)
{
    (void)cinfo;
    (void)msg_level;
}

static void silent_output_message(j_common_ptr cinfo)
{
    (void)cinfo;
}

int ormelin_read_jpeg_header(
    const unsigned char *data, size_t size, int *width, int *height, int *message_code)
{
    struct jpeg_decompress_struct cinfo;
    struct jump_error_mgr err;

    memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = jump_error_exit;
    err.pub.emit_message = silent_emit_message;
    err.pub.output_message = silent_output_message;
    if (setjmp(err.jump)) {
        *message_code = err.pub.msg_code;
        jpeg_destroy_decompress(&cinfo);
        return 0;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, (unsigned long)size);
    jpeg_read_header(&cinfo, TRUE);
    *width = (int)cinfo.image_width;
    *height = (int)cinfo.image_height;
    jpeg_destroy_decompress(&cinfo);
    return 1;
}
