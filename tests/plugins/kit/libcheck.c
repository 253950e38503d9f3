/* The kit's checks of the FreeType and libjpeg sub-tables: the plug-in
 * includes the installed libraries' headers for their types and version
 * macros only and calls the functions through the host table. */
#include <stdio.h>
#include <string.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include <jpeglib.h>

#include "core/plugins/qx_pluginapi.h"

extern const qxPluginBase *kitHostTable;

#define FT(slot, type) ((type)kitHostTable->freetype[slot])
#define JPEG(slot, type) ((type)kitHostTable->jpeg[slot])

/* FreeType: the library reports the headers' version; FT_MulFix works; a
 * face from bytes that are no font is refused. 0 when all passed. */
int KitFreeTypeTest(void)
{
    FT_Library library = NULL;
    if (FT(0, FT_Error (*)(FT_Library *))(&library) != 0 || !library) return 1;
    FT_Int major = 0, minor = 0, patch = 0;
    FT(31, void (*)(FT_Library, FT_Int *, FT_Int *, FT_Int *))(library, &major, &minor, &patch);
    int result = 0;
    if (major != FREETYPE_MAJOR || minor != FREETYPE_MINOR) result = 2;
    /* 1.5 * 2.0 in 16.16 fixed point. */
    if (!result && FT(21, FT_Long (*)(FT_Long, FT_Long))(0x18000, 0x20000) != 0x30000) result = 3;
    static const FT_Byte junk[64] = {1, 2, 3};
    FT_Face face = NULL;
    if (!result && FT(3, FT_Error (*)(FT_Library, const FT_Byte *, FT_Long, FT_Long, FT_Face *))(
                       library, junk, sizeof junk, 0, &face) == 0)
        result = 4;
    FT(1, FT_Error (*)(FT_Library))(library);
    return result;
}

/* ---- libjpeg through memory managers of our own (the table has no
 * jpeg_mem_dest) ---- */

typedef struct {
    struct jpeg_destination_mgr pub;
    unsigned char *buffer;
    size_t capacity;
    size_t used;
} KitDest;

static void destInit(j_compress_ptr c)
{
    KitDest *d = (KitDest *)c->dest;
    d->pub.next_output_byte = d->buffer;
    d->pub.free_in_buffer = d->capacity;
}

static boolean destFull(j_compress_ptr c)
{
    (void)c;
    return FALSE; /* the buffer is sized for the test picture */
}

static void destTerm(j_compress_ptr c)
{
    KitDest *d = (KitDest *)c->dest;
    d->used = d->capacity - d->pub.free_in_buffer;
}

static void srcInit(j_decompress_ptr c) { (void)c; }
static boolean srcFill(j_decompress_ptr c)
{
    /* Past the end: an end-of-image marker, as the library's own source does. */
    static const JOCTET eoi[2] = {0xFF, JPEG_EOI};
    c->src->next_input_byte = eoi;
    c->src->bytes_in_buffer = 2;
    return TRUE;
}
static void srcSkip(j_decompress_ptr c, long n)
{
    if (n <= 0) return;
    if ((size_t)n > c->src->bytes_in_buffer) n = (long)c->src->bytes_in_buffer;
    c->src->next_input_byte += n;
    c->src->bytes_in_buffer -= (size_t)n;
}
static void srcTerm(j_decompress_ptr c) { (void)c; }

/* Compresses a 16 x 8 grey ramp at quality 95 and decompresses it again;
 * every pixel must come back within a small error. 0 when all passed. */
int KitJpegTest(void)
{
    enum { W = 16, H = 8 };
    unsigned char pixels[W * H], back[W * H], encoded[8192];
    for (int i = 0; i < W * H; i++) pixels[i] = (unsigned char)((i % W) * 16);

    struct jpeg_compress_struct c;
    struct jpeg_error_mgr errors;
    memset(&c, 0, sizeof c);
    c.err = JPEG(3, struct jpeg_error_mgr *(*)(struct jpeg_error_mgr *))(&errors);
    JPEG(8, void (*)(j_compress_ptr, int, size_t))(&c, JPEG_LIB_VERSION, sizeof c);
    KitDest dest = {{0}, encoded, sizeof encoded, 0};
    dest.pub.init_destination = destInit;
    dest.pub.empty_output_buffer = destFull;
    dest.pub.term_destination = destTerm;
    c.dest = &dest.pub;
    c.image_width = W;
    c.image_height = H;
    c.input_components = 1;
    c.in_color_space = JCS_GRAYSCALE;
    JPEG(12, void (*)(j_compress_ptr))(&c);
    JPEG(14, void (*)(j_compress_ptr, int, boolean))(&c, 95, TRUE);
    JPEG(11, void (*)(j_compress_ptr, boolean))(&c, TRUE);
    for (int y = 0; y < H; y++) {
        JSAMPROW row = pixels + y * W;
        JPEG(13, JDIMENSION (*)(j_compress_ptr, JSAMPARRAY, JDIMENSION))(&c, &row, 1);
    }
    JPEG(9, void (*)(j_compress_ptr))(&c);
    JPEG(10, void (*)(j_compress_ptr))(&c);
    if (dest.used < 4 || encoded[0] != 0xFF || encoded[1] != 0xD8) return 1;

    struct jpeg_decompress_struct d;
    memset(&d, 0, sizeof d);
    d.err = JPEG(3, struct jpeg_error_mgr *(*)(struct jpeg_error_mgr *))(&errors);
    JPEG(0, void (*)(j_decompress_ptr, int, size_t))(&d, JPEG_LIB_VERSION, sizeof d);
    struct jpeg_source_mgr src;
    memset(&src, 0, sizeof src);
    src.init_source = srcInit;
    src.fill_input_buffer = srcFill;
    src.skip_input_data = srcSkip;
    src.resync_to_restart = JPEG(7, boolean (*)(j_decompress_ptr, int));
    src.term_source = srcTerm;
    src.next_input_byte = encoded;
    src.bytes_in_buffer = dest.used;
    d.src = &src;
    int result = 0;
    if (JPEG(4, int (*)(j_decompress_ptr, boolean))(&d, TRUE) != JPEG_HEADER_OK) result = 2;
    if (!result) {
        JPEG(24, void (*)(j_decompress_ptr))(&d);
        if (d.output_width != W || d.output_height != H || d.output_components != 1) result = 3;
    }
    if (!result) {
        JPEG(6, boolean (*)(j_decompress_ptr))(&d);
        while (d.output_scanline < d.output_height) {
            JSAMPROW row = back + d.output_scanline * W;
            JPEG(5, JDIMENSION (*)(j_decompress_ptr, JSAMPARRAY, JDIMENSION))(&d, &row, 1);
        }
        JPEG(1, boolean (*)(j_decompress_ptr))(&d);
        for (int i = 0; i < W * H && !result; i++) {
            int diff = (int)back[i] - (int)pixels[i];
            if (diff < -12 || diff > 12) result = 4;
        }
    }
    JPEG(2, void (*)(j_decompress_ptr))(&d);
    return result;
}
