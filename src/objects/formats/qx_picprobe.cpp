// Header probe: format, size, alpha and EXIF orientation from the first
// 1024 bytes (and, for JPEG, TIFF and palette PNG, a walk of the file).
// Every field read from the buffer lies inside it; a field past it is not found.
#include <cstdlib>
#include <cstring>

#include "objects/formats/qx_picformats.h"
#include "objects/formats/qx_picio.h"
#include "platform/qx_errcodes.h"

using namespace qxpic;

namespace {

constexpr size_t kProbe = 1024;

// Offset of tag in buf such that the tag plus need bytes after it fit, or -1.
long findTag(const uint8_t *buf, const char *tag, size_t need)
{
    for (size_t i = 0; i + 4 + need <= kProbe; ++i)
        if (std::memcmp(buf + i, tag, 4) == 0) return long(i);
    return -1;
}

struct Reader {
    qxFileHandle *f;
    int64_t base;
    bool ok = true;
    bool bigEndian = false;
    void seek(int64_t at) { ok = ok && seekTo(f, base + at); }
    void skip(int64_t n) { ok = ok && qxSeek(f, n, 0) >= 0; }
    int64_t tell() { return qxSeek(f, 0, 0) - base; }
    int byte()
    {
        int c = ok ? qxGetC(f) : -1;
        if (c < 0) ok = false;
        return c;
    }
    uint32_t u16()
    {
        uint8_t b[2] = {uint8_t(byte()), uint8_t(byte())};
        return bigEndian ? be16(b) : le16(b);
    }
    uint32_t u32()
    {
        uint8_t b[4];
        for (auto &x : b) x = uint8_t(byte());
        return bigEndian ? be32(b) : le32(b);
    }
};

// APP1: the EXIF orientation, when still unknown. The walk stays inside the
// segment; order keeps the byte order of an earlier EXIF segment.
void readExif(Reader &r, int *order, uint32_t *orientation)
{
    int64_t start = r.tell();
    uint32_t length = r.u16();
    if (!r.ok || length < 2) return;
    int64_t end = start + length;
    uint8_t id[6];
    for (auto &x : id) x = uint8_t(r.byte());
    if (r.ok && std::memcmp(id, "Exif", 4) == 0 && length >= 16) {
        int64_t tiff = start + 8;
        int a = r.byte(), b = r.byte();
        if (a == 'I' && b == 'I') *order = 1;
        if (a == 'M' && b == 'M') *order = 2;
        if (*order) {
            r.bigEndian = *order == 2;
            r.skip(2);
            uint32_t ifd = r.u32();
            if (r.ok && tiff + int64_t(ifd) + 2 <= end) {
                r.seek(tiff + ifd);
                uint32_t count = r.u16();
                for (uint32_t i = 0; r.ok && i < count && *orientation == 0; ++i) {
                    if (r.tell() + 12 > end) break;
                    uint32_t tag = r.u16();
                    r.skip(6);
                    uint32_t value = r.u16();
                    r.skip(2);
                    if (r.ok && tag == 274) *orientation = value;
                }
            }
        }
    }
    r.ok = true;
    r.seek(end);
}

int probeJpeg(Reader &r, uint32_t *width, uint32_t *height, uint32_t *orientation)
{
    int order = 0;
    r.seek(2);
    for (;;) {
        // Next marker: a 0xFF, any further 0xFF, then a byte other than 0.
        int c = r.byte();
        while (r.ok && c != 0xFF) c = r.byte();
        while (r.ok && c == 0xFF) c = r.byte();
        if (!r.ok) return ERR_LOADPICTURE2;
        if (c == 0) continue;
        if ((c >= 0xC0 && c <= 0xCE && c != 0xC4 && c != 0xCC) || c == 0xDE) {
            r.skip(3);
            r.bigEndian = true;
            uint32_t h = r.u16(), w = r.u16();
            if (!r.ok) return ERR_LOADPICTURE2;
            bool swap = *orientation >= 5 && *orientation <= 8;
            *width = swap ? h : w;
            *height = swap ? w : h;
            return 0;
        }
        if (c == 0xD9 || c == 0xDA) return ERR_LOADPICTURE2; // no frame header before the data
        if ((c >= 0xD0 && c <= 0xD8) || c == 0x01) continue;      // markers without a length
        if (c == 0xE1) {
            readExif(r, &order, orientation);
            continue;
        }
        r.bigEndian = true;
        uint32_t length = r.u16();
        if (!r.ok || length < 2) return ERR_LOADPICTURE2;
        r.skip(length - 2);
    }
}

int probeTiff(Reader &r, bool big, uint32_t *width, uint32_t *height, uint32_t *hasAlpha)
{
    r.bigEndian = big;
    r.seek(4);
    uint32_t ifd = r.u32();
    r.seek(ifd);
    uint32_t count = r.u16();
    if (!r.ok || count == 0) return ERR_LOADPICTURE2;
    bool haveW = false, haveH = false;
    uint32_t photometric = 0, samples = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t tag = r.u16(), type = r.u16();
        r.skip(4);
        uint32_t value = type == 4 ? r.u32() : r.u16();
        if (type != 4) r.skip(2);
        if (!r.ok) break;
        if (tag == 256) *width = value, haveW = true;
        if (tag == 257) *height = value, haveH = true;
        if (tag == 262) photometric = value;
        if (tag == 277) samples = value;
    }
    if (!haveW && !haveH) return ERR_LOADPICTURE2;
    *hasAlpha = samples == 4 && photometric == 2;
    return 0;
}

} // namespace

extern "C" int qxProbePictureHeader(qxFileHandle *file, uint32_t *format, uint32_t *width, uint32_t *height,
                                    uint32_t *hasAlpha, uint32_t *transparency, uint32_t *orientation)
{
    uint8_t buf[kProbe] = {};
    Reader r{file, qxSeek(file, 0, 0)};
    if (r.base < 0 || qxRead(file, buf, kProbe) < 0) return ERR_LOADPICTURE2;
    uint32_t unusedOrientation = 0;
    if (!orientation) orientation = &unusedOrientation;
    *hasAlpha = 0;
    *transparency = 0;

    if (std::memcmp(buf, "FORM", 4) == 0 && std::memcmp(buf + 8, "ILBM", 4) == 0) {
        long at = findTag(buf, "BMHD", 18);
        if (at < 0) return ERR_LOADPICTURE2;
        *width = be16(buf + at + 8);
        *height = be16(buf + at + 10);
        *transparency = buf[at + 17] == 2;
        *format = QX_IMGFMT_ILBM;
        return 0;
    }
    if (buf[0] == 0xFF && buf[1] == 0xD8) {
        int e = probeJpeg(r, width, height, orientation);
        if (!e) *format = QX_IMGFMT_JPEG;
        return e;
    }
    if (buf[0] == 0x89 && std::memcmp(buf + 1, "PNG", 3) == 0) {
        long at = findTag(buf, "IHDR", 10);
        if (at < 0) return ERR_LOADPICTURE2;
        *width = be32(buf + at + 4);
        *height = be32(buf + at + 8);
        uint8_t type = buf[at + 13];
        if (type == 3) {
            // tRNS comes before the image data; a walk that meets the end stops with no alpha.
            r.bigEndian = true;
            r.seek(8);
            while (r.ok) {
                uint32_t length = r.u32();
                uint8_t name[4];
                for (auto &x : name) x = uint8_t(r.byte());
                if (!r.ok || std::memcmp(name, "IEND", 4) == 0 || std::memcmp(name, "IDAT", 4) == 0) break;
                if (std::memcmp(name, "tRNS", 4) == 0) {
                    *hasAlpha = 1;
                    break;
                }
                r.skip(int64_t(length) + 4);
            }
        } else {
            *hasAlpha = type == 4 || type == 6;
        }
        *format = QX_IMGFMT_PNG;
        return 0;
    }
    if (buf[0] == 'B' && buf[1] == 'M') {
        int32_t w = int32_t(le32(buf + 18)), h = int32_t(le32(buf + 22));
        if (w < 1 || h == 0) return ERR_LOADPICTURE2;
        *width = uint32_t(w);
        *height = uint32_t(std::llabs(int64_t(h)));
        *format = QX_IMGFMT_BMP;
        return 0;
    }
    if ((std::memcmp(buf, "MM\0\x2A", 4) == 0) || (std::memcmp(buf, "II\x2A\0", 4) == 0)) {
        int e = probeTiff(r, buf[0] == 'M', width, height, hasAlpha);
        if (!e) *format = QX_IMGFMT_TIFF;
        return e;
    }
    if (std::memcmp(buf, "GIF87a", 6) == 0 || std::memcmp(buf, "GIF89a", 6) == 0) {
        *width = le16(buf + 6);
        *height = le16(buf + 8);
        size_t pos = 13;
        if (buf[10] & 0x80) pos += 3u << ((buf[10] & 7) + 1);
        while (pos + 3 < kProbe && buf[pos] == 0x21) {
            if (buf[pos + 1] == 0xF9 && buf[pos + 2] > 3) {
                *transparency = buf[pos + 3] & 1;
                break;
            }
            pos += 2;
            while (pos < kProbe && buf[pos] != 0) pos += buf[pos] + 1;
            ++pos;
        }
        *format = QX_IMGFMT_GIF;
        return 0;
    }
    return ERR_LOADPICTURE2;
}
