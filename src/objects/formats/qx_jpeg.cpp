// JPEG through libjpeg: a source reading a virtual file or a memory block, a
// growing memory destination, a silent error manager that long-jumps back,
// EXIF orientation applied while rows are stored, and Adobe CMYK.
#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <jpeglib.h>
#include <jerror.h>

#include "objects/formats/qx_picformats.h"
#include "objects/formats/qx_picio.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

namespace {

constexpr size_t kTransfer = 4096;

struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
};

[[noreturn]] void errorExit(j_common_ptr c) { longjmp(reinterpret_cast<ErrorManager *>(c->err)->jump, 1); }
void emitMessage(j_common_ptr, int) {}
void outputMessage(j_common_ptr) {}
void formatMessage(j_common_ptr, char *buffer) { buffer[0] = 0; }
void resetError(j_common_ptr c)
{
    c->err->num_warnings = 0;
    c->err->msg_code = 0;
}

void installErrors(ErrorManager &e)
{
    jpeg_std_error(&e.pub);
    e.pub.error_exit = errorExit;
    e.pub.emit_message = emitMessage;
    e.pub.output_message = outputMessage;
    e.pub.format_message = formatMessage;
    e.pub.reset_error_mgr = resetError;
}

struct Source {
    jpeg_source_mgr pub;
    qxFileHandle *file;
    const uint8_t *memory;
    uint32_t position, size;
    JOCTET *buffer;
    bool startOfFile;
};

void initSource(j_decompress_ptr c) { reinterpret_cast<Source *>(c->src)->startOfFile = true; }

boolean fillInput(j_decompress_ptr c)
{
    auto *s = reinterpret_cast<Source *>(c->src);
    size_t n = 0;
    if (s->file) {
        int64_t got = qxRead(s->file, s->buffer, kTransfer);
        n = got > 0 ? size_t(got) : 0;
    } else {
        n = std::min<size_t>(kTransfer, s->size - s->position);
        std::memcpy(s->buffer, s->memory + s->position, n);
        s->position += uint32_t(n);
    }
    if (n == 0) {
        if (s->startOfFile) ERREXIT(c, JERR_INPUT_EMPTY);
        WARNMS(c, JWRN_JPEG_EOF);
        // A fake end of image: a cut file decodes as far as it goes.
        s->buffer[0] = 0xFF;
        s->buffer[1] = JPEG_EOI;
        n = 2;
    }
    s->pub.next_input_byte = s->buffer;
    s->pub.bytes_in_buffer = n;
    s->startOfFile = false;
    return TRUE;
}

void skipInput(j_decompress_ptr c, long count)
{
    auto *s = reinterpret_cast<Source *>(c->src);
    if (count <= 0) return;
    while (size_t(count) > s->pub.bytes_in_buffer) {
        count -= long(s->pub.bytes_in_buffer);
        fillInput(c);
    }
    s->pub.next_input_byte += count;
    s->pub.bytes_in_buffer -= size_t(count);
}

void termSource(j_decompress_ptr) {}

struct Destination {
    jpeg_destination_mgr pub;
    JOCTET *buffer;
    uint8_t *block;
    size_t length, capacity;
    bool failed;
};

// Appends to the output block, doubling it when the stream outgrows it.
void append(j_compress_ptr c, const JOCTET *data, size_t n)
{
    auto *d = reinterpret_cast<Destination *>(c->dest);
    if (d->length + n > d->capacity) {
        size_t grown = std::max(d->capacity * 2, d->length + n);
        auto *bigger = static_cast<uint8_t *>(qxAlloc(grown, 0));
        if (!bigger) ERREXIT(c, JERR_OUT_OF_MEMORY);
        std::memcpy(bigger, d->block, d->length);
        qxFree(d->block);
        d->block = bigger;
        d->capacity = grown;
    }
    std::memcpy(d->block + d->length, data, n);
    d->length += n;
}

void initDestination(j_compress_ptr c)
{
    auto *d = reinterpret_cast<Destination *>(c->dest);
    d->buffer = static_cast<JOCTET *>((*c->mem->alloc_small)(j_common_ptr(c), JPOOL_IMAGE, kTransfer));
    d->pub.next_output_byte = d->buffer;
    d->pub.free_in_buffer = kTransfer;
}

boolean emptyOutput(j_compress_ptr c)
{
    auto *d = reinterpret_cast<Destination *>(c->dest);
    append(c, d->buffer, kTransfer);
    d->pub.next_output_byte = d->buffer;
    d->pub.free_in_buffer = kTransfer;
    return TRUE;
}

void termDestination(j_compress_ptr c)
{
    auto *d = reinterpret_cast<Destination *>(c->dest);
    append(c, d->buffer, kTransfer - d->pub.free_in_buffer);
}

bool isAdobe(j_decompress_ptr c)
{
    for (jpeg_saved_marker_ptr m = c->marker_list; m; m = m->next)
        if (m->marker == JPEG_APP0 + 14 && m->data_length >= 12 && std::memcmp(m->data, "Adobe", 5) == 0) return true;
    return false;
}

// Where source pixel (r, c) goes for an EXIF orientation; W and H are the
// output size.
inline size_t place(uint32_t orientation, uint32_t r, uint32_t c, uint32_t W, uint32_t H)
{
    switch (orientation) {
    case 2: return size_t(r) * W + (W - 1 - c);
    case 3: return size_t(H - 1 - r) * W + (W - 1 - c);
    case 4: return size_t(H - 1 - r) * W + c;
    case 5: return size_t(c) * W + r;
    case 6: return size_t(c) * W + (W - 1 - r);
    case 7: return size_t(H - 1 - c) * W + (W - 1 - r);
    case 8: return size_t(H - 1 - c) * W + r;
    default: return size_t(r) * W + c;
    }
}

int decode(jpeg_decompress_struct &c, int headerOnly, uint32_t orientation, uint32_t *width, uint32_t *height,
           uint32_t **pixels, uint32_t *volatile *pending)
{
    jpeg_save_markers(&c, JPEG_APP0 + 14, 256);
    jpeg_read_header(&c, TRUE);
    bool cmyk = c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK;
    c.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
    if (orientation < 1 || orientation > 8) orientation = 1;
    if (cmyk) orientation = 1;
    bool swap = orientation >= 5;
    if (headerOnly) {
        *width = swap ? c.image_height : c.image_width;
        *height = swap ? c.image_width : c.image_height;
        return 0;
    }
    if (uint64_t(c.image_width) * c.image_height > qxPictureLimit()) return ERR_LOADPICTURE2;
    jpeg_start_decompress(&c);
    uint32_t sw = c.output_width, sh = c.output_height;
    uint32_t W = swap ? sh : sw, H = swap ? sw : sh;
    uint32_t *out = qxAllocPicture(W, H, 0);
    if (!out) return ERR_MEM;
    *pending = out;
    bool invert = cmyk && isAdobe(&c);
    JSAMPARRAY row = nullptr;
    if (orientation != 1 || cmyk)
        row = (*c.mem->alloc_sarray)(j_common_ptr(&c), JPOOL_IMAGE, sw * 4, 1);
    while (c.output_scanline < sh) {
        uint32_t r = c.output_scanline;
        if (!row) {
            // Upright pictures decode straight into place; X bytes become alpha 0.
            JSAMPROW target = reinterpret_cast<JSAMPROW>(out + size_t(r) * sw);
            jpeg_read_scanlines(&c, &target, 1);
            uint32_t *p = out + size_t(r) * sw;
            for (uint32_t x = 0; x < sw; ++x) p[x] &= 0x00FFFFFF;
            continue;
        }
        jpeg_read_scanlines(&c, row, 1);
        const uint8_t *s = row[0];
        if (cmyk) {
            uint32_t *p = out + size_t(r) * sw;
            uint32_t flip = invert ? 255 : 0;
            for (uint32_t x = 0; x < sw; ++x) {
                uint32_t C = s[4 * x] ^ flip, M = s[4 * x + 1] ^ flip, Y = s[4 * x + 2] ^ flip, K = s[4 * x + 3] ^ flip;
                uint32_t k = 255 - K;
                p[x] = ((255 - C) * k / 255) << 16 | ((255 - M) * k / 255) << 8 | (255 - Y) * k / 255;
            }
        } else {
            const uint32_t *p = reinterpret_cast<const uint32_t *>(s);
            for (uint32_t x = 0; x < sw; ++x) out[place(orientation, r, x, W, H)] = p[x] & 0x00FFFFFF;
        }
    }
    jpeg_finish_decompress(&c);
    *pending = nullptr;
    *pixels = out;
    *width = W;
    *height = H;
    return 0;
}

} // namespace

extern "C" int qxLoadJPEG(void *source, uint32_t memorySize, int headerOnly, uint32_t orientation,
                          uint32_t *width, uint32_t *height, uint32_t **pixels)
{
    jpeg_decompress_struct c;
    ErrorManager e;
    installErrors(e);
    c.err = &e.pub;
    uint32_t *volatile pending = nullptr;
    int result;
    if (setjmp(e.jump)) {
        result = ERR_LOADPICTURE2;
    } else {
        jpeg_CreateDecompress(&c, JPEG_LIB_VERSION, sizeof c);
        auto *s = static_cast<Source *>((*c.mem->alloc_small)(j_common_ptr(&c), JPOOL_PERMANENT, sizeof(Source)));
        std::memset(s, 0, sizeof *s);
        s->buffer = static_cast<JOCTET *>((*c.mem->alloc_small)(j_common_ptr(&c), JPOOL_PERMANENT, kTransfer));
        if (memorySize) {
            s->memory = static_cast<const uint8_t *>(source);
            s->size = memorySize;
        } else {
            s->file = static_cast<qxFileHandle *>(source);
        }
        s->pub.init_source = initSource;
        s->pub.fill_input_buffer = fillInput;
        s->pub.skip_input_data = skipInput;
        s->pub.resync_to_restart = jpeg_resync_to_restart;
        s->pub.term_source = termSource;
        c.src = &s->pub;
        result = decode(c, headerOnly, orientation, width, height, pixels, &pending);
    }
    qxFree(pending);
    jpeg_destroy_decompress(&c);
    return result;
}

extern "C" void qxSaveJPEG(qxJpegSaveRequest *request)
{
    const qxJpegSaveRequest r = *request;
    request->error = ERR_MEM;
    request->encoded = nullptr;
    request->encodedSize = 0;
    request->result = nullptr;
    uint64_t start = std::max<uint64_t>(uint64_t(r.width) * r.height * 3, kTransfer);
    if (start > 0xFFFFFFFFu) return;
    auto *result = static_cast<qxJpegResult *>(qxAlloc(sizeof(qxJpegResult), 1));
    Destination *volatile dest = nullptr;
    jpeg_compress_struct c;
    ErrorManager e;
    installErrors(e);
    c.err = &e.pub;
    bool ok = false;
    if (!result) return;
    if (!setjmp(e.jump)) {
        jpeg_CreateCompress(&c, JPEG_LIB_VERSION, sizeof c);
        auto *d = static_cast<Destination *>((*c.mem->alloc_small)(j_common_ptr(&c), JPOOL_PERMANENT, sizeof(Destination)));
        std::memset(d, 0, sizeof *d);
        dest = d;
        d->block = static_cast<uint8_t *>(qxAlloc(size_t(start), 0));
        if (!d->block) ERREXIT(&c, JERR_OUT_OF_MEMORY);
        d->capacity = size_t(start);
        d->pub.init_destination = initDestination;
        d->pub.empty_output_buffer = emptyOutput;
        d->pub.term_destination = termDestination;
        c.dest = &d->pub;
        c.image_width = r.width;
        c.image_height = r.height;
        // The words go in as they are: B, G, R, A in memory, or A, R, G, B.
        c.input_components = 4;
        c.in_color_space = r.byteOrder ? JCS_EXT_XRGB : JCS_EXT_BGRX;
        jpeg_set_defaults(&c);
        jpeg_set_quality(&c, r.quality, TRUE);
        jpeg_start_compress(&c, TRUE);
        const uint8_t *src = reinterpret_cast<const uint8_t *>(r.pixels);
        while (c.next_scanline < c.image_height) {
            JSAMPROW line = const_cast<JSAMPROW>(src + ptrdiff_t(c.next_scanline) * r.pitch);
            jpeg_write_scanlines(&c, &line, 1);
        }
        jpeg_finish_compress(&c);
        ok = true;
    }
    Destination *d = dest;
    if (ok && d->length <= 0xFFFFFFFFu) {
        result->data = d->block;
        result->size = uint32_t(d->length);
        request->result = result;
        request->encoded = d->block;
        request->encodedSize = uint32_t(d->length);
        request->error = 0;
    } else {
        if (d) qxFree(d->block);
        qxFree(result);
    }
    jpeg_destroy_compress(&c);
}

// The DHT segment of the four standard tables, taken from the tables libjpeg
// installs by default, for Motion-JPEG frames that carry none.
const uint8_t *qxpic::standardHuffmanSegment()
{
    static const std::array<uint8_t, kStandardDhtSize> segment = [] {
        std::array<uint8_t, kStandardDhtSize> s{};
        jpeg_compress_struct c;
        jpeg_error_mgr e;
        c.err = jpeg_std_error(&e);
        jpeg_create_compress(&c);
        c.in_color_space = JCS_RGB;
        c.input_components = 3;
        jpeg_set_defaults(&c);
        size_t at = 0;
        s[at++] = 0xFF, s[at++] = 0xC4, s[at++] = 0x01, s[at++] = 0xA2;
        const JHUFF_TBL *tables[4] = {c.dc_huff_tbl_ptrs[0], c.ac_huff_tbl_ptrs[0], c.dc_huff_tbl_ptrs[1],
                                      c.ac_huff_tbl_ptrs[1]};
        const uint8_t classes[4] = {0x00, 0x10, 0x01, 0x11};
        for (int t = 0; t < 4; ++t) {
            s[at++] = classes[t];
            size_t count = 0;
            for (int i = 1; i <= 16; ++i) count += s[at++] = tables[t]->bits[i];
            for (size_t i = 0; i < count && at < s.size(); ++i) s[at++] = tables[t]->huffval[i];
        }
        jpeg_destroy_compress(&c);
        return s;
    }();
    return segment.data();
}
