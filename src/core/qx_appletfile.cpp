#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "core/qx_applet.h"
#include "core/qx_errors.h"
#include "platform/qx_memory.h"
#include "platform/qx_text.h"

namespace {

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Copies text into a 256-byte field without splitting a UTF-8 sequence.
void copyHeaderField(char *field, const char *text)
{
    size_t n = std::strlen(text);
    if (n > 255) {
        n = 255;
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            n--;
    }
    std::memcpy(field, text, n);
    field[n] = 0;
}

bool isAppletMagic(const uint8_t *m) { return m[0] == 'Q' && m[1] == 'X' && (m[2] == 'A' || m[2] == 'Z') && m[3] == 0; }

// Inflates the start of a packed applet (after its 8-byte prefix) into out.
size_t inflatePreview(FILE *f, uint8_t *out, size_t size)
{
    uint8_t in[4096];
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK)
        return 0;
    zs.next_out = out;
    zs.avail_out = (uInt)size;
    int r = Z_OK;
    while (zs.avail_out > 0 && r == Z_OK) {
        size_t n = std::fread(in, 1, sizeof in, f);
        if (n == 0)
            break;
        zs.next_in = in;
        zs.avail_in = (uInt)n;
        r = inflate(&zs, Z_NO_FLUSH);
    }
    size_t produced = size - zs.avail_out;
    inflateEnd(&zs);
    return produced;
}

} // namespace

extern "C" {

int qxReadHeaderString(const uint8_t **cursor, const uint8_t *end, char *field, int keep)
{
    const uint8_t *p = *cursor;
    const uint8_t *zero = static_cast<const uint8_t *>(std::memchr(p, 0, end - p));
    if (!zero)
        return 0;
    const char *text = reinterpret_cast<const char *>(p);
    if (keep) {
        copyHeaderField(field, text);
    } else {
        char *converted = qxLatin1ToUtf8Dup(text);
        if (!converted)
            return 0;
        copyHeaderField(field, converted);
        qxFree(converted);
    }
    *cursor = zero + 1;
    return 1;
}

void qxReadAppletPreview(const uint8_t *data, size_t size, qxAppletInfo *applet)
{
    if (size < 4)
        return;
    const uint8_t *p = data + 4, *end = data + size;
    int keep = 0;
    while (p < end) {
        uint8_t tag = *p++;
        if (tag == 10) {
            p += 2;
        } else if (tag >= 11 && tag <= 15) {
            if (!qxReadHeaderString(&p, end, applet->header[tag - 11], keep))
                return;
        } else if (tag == 34) {
            if (!qxReadHeaderString(&p, end, applet->header[5], keep))
                return;
        } else if (tag == 35) {
            if (p >= end)
                return;
            keep = *p++;
        } else if (tag != 29) {
            return;
        }
    }
}

int qxCheckAppletFile(qxStartupInfo *startup, qxAppletInfo *applet, int quiet)
{
    FilePtr f(std::fopen(startup->appletPath, "rb"));
    if (!f) {
        qxSetErrorString(startup->appletPath);
        return 1213;
    }
    uint8_t magic[4];
    if (std::fread(magic, 1, 4, f.get()) != 4)
        return 1009;
    if (!isAppletMagic(magic)) {
        qxSetErrorString(startup->appletPath);
        return 1211;
    }
    if (quiet)
        return 0;
    auto *buf = static_cast<uint8_t *>(qxAlloc(QX_APPLET_PREVIEW_SIZE, 1));
    if (!buf)
        return 1000;
    size_t n;
    if (magic[2] == 'Z') {
        // The packed part inflates to a whole plain applet, magic included.
        uint8_t skip[4];
        n = std::fread(skip, 1, 4, f.get()) == 4 ? inflatePreview(f.get(), buf, QX_APPLET_PREVIEW_SIZE) : 0;
    } else {
        std::memcpy(buf, magic, 4);
        n = 4 + std::fread(buf + 4, 1, QX_APPLET_PREVIEW_SIZE - 4, f.get());
    }
    qxReadAppletPreview(buf, n, applet);
    qxFree(buf);
    return 0;
}

}
