#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/applet/qx_applet.h"
#include "core/errors/qx_errors.h"
#include "core/files/qx_file.h"
#include "core/codecs/qx_unpack.h"
#include "platform/qx_memory.h"
#include "platform/qx_text.h"

namespace {

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
    errno = 0;
    qxFileHandle *f = qxOpen(startup->appletPath, QX_OPEN_READ, nullptr);
    if (!f) {
        if (errno == ENOMEM) return 1000; // the file may well be there
        qxSetErrorString(startup->appletPath);
        return 1213;
    }
    auto done = [f](int code) {
        qxClose(f);
        return code;
    };
    uint8_t magic[4];
    if (qxRead(f, magic, 4) != 4) return done(1009);
    if (!isAppletMagic(magic)) {
        qxSetErrorString(startup->appletPath);
        return done(1211);
    }
    if (quiet) return done(0);
    auto *buf = static_cast<uint8_t *>(qxAlloc(QX_APPLET_PREVIEW_SIZE, 1));
    if (!buf) return done(1000);
    uint64_t n = 0;
    int r = 0;
    if (magic[2] == 'Z') {
        // The packed part inflates to a whole plain applet, magic included.
        r = qxUnpackData("QXZ", nullptr, nullptr, f, 0, nullptr, buf, QX_APPLET_PREVIEW_SIZE, &n);
    } else {
        std::memcpy(buf, magic, 4);
        int64_t got = qxRead(f, buf + 4, QX_APPLET_PREVIEW_SIZE - 4);
        n = 4 + uint64_t(got > 0 ? got : 0);
    }
    if (!r) qxReadAppletPreview(buf, size_t(n), applet);
    qxFree(buf);
    return done(r);
}

}
