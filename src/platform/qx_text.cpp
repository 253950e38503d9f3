// Text mode, the UTF-8 codec, ISO-8859-1 <-> UTF-8 conversions and reading
// text files.
#include "platform/qx_text.h"

#include <cstdio>
#include <cstring>

#include "platform/qx_memory.h"
#include "platform/qx_paths.h"

extern "C" {
int qxTextModeUtf8 = 1;
uint32_t qxDefaultEncoding = 1;
}

void qxSetTextModeUtf8(int utf8) { qxDefaultEncoding = qxTextModeUtf8 = utf8 ? 1 : 0; }

namespace {

using uchar = unsigned char;

inline bool isCont(uchar c) { return (c & 0xC0) == 0x80; }

// Sequence length announced by a lead byte; 0 for bytes that cannot start
// a well-formed sequence (continuation bytes, C0, C1, F5-FF).
inline int leadLength(uchar c)
{
    if (c < 0x80) return 1;
    if (c < 0xC2) return 0;
    if (c < 0xE0) return 2;
    if (c < 0xF0) return 3;
    if (c < 0xF5) return 4;
    return 0;
}

// Validated decode of the sequence at s (avail > 0 bytes). Returns its
// length, or 0 when it is malformed, overlong, a surrogate, above U+10FFFF
// or truncated.
int decodeValid(const uchar *s, size_t avail, uint32_t *cp)
{
    uchar c = s[0];
    int len = leadLength(c);
    if (len == 1) {
        *cp = c;
        return 1;
    }
    if (len == 0 || static_cast<size_t>(len) > avail) return 0;
    for (int i = 1; i < len; i++)
        if (!isCont(s[i])) return 0;
    uchar c1 = s[1];
    // Second-byte ranges that rule out overlong forms, surrogates and
    // values above U+10FFFF.
    if (c == 0xE0 && c1 < 0xA0) return 0;
    if (c == 0xED && c1 > 0x9F) return 0;
    if (c == 0xF0 && c1 < 0x90) return 0;
    if (c == 0xF4 && c1 > 0x8F) return 0;
    uint32_t v;
    if (len == 2)
        v = ((c & 0x1Fu) << 6) | (c1 & 0x3Fu);
    else if (len == 3)
        v = ((c & 0x0Fu) << 12) | ((c1 & 0x3Fu) << 6) | (s[2] & 0x3Fu);
    else
        v = ((c & 0x07u) << 18) | ((c1 & 0x3Fu) << 12) | ((s[2] & 0x3Fu) << 6) | (s[3] & 0x3Fu);
    *cp = v;
    return len;
}

// Length-based ISO-8859-1 -> UTF-8; dst needs up to 2 * n bytes.
size_t latin1ToUtf8N(const uchar *s, size_t n, char *dst)
{
    size_t o = 0;
    for (size_t i = 0; i < n; i++) {
        uchar c = s[i];
        if (c < 0x80) {
            dst[o++] = static_cast<char>(c);
        } else {
            dst[o++] = static_cast<char>(c < 0xC0 ? 0xC2 : 0xC3);
            dst[o++] = static_cast<char>(c < 0xC0 ? c : c - 0x40);
        }
    }
    return o;
}

// UTF-8 -> ISO-8859-1 over at most limit source bytes (stops at a zero
// byte), writing at most capacity - 1 bytes and a terminator.
size_t utf8ToLatin1(const uchar *s, size_t limit, char *dst, size_t capacity, char **marker)
{
    if (capacity == 0) return 0;
    const char *mark = marker ? *marker : nullptr;
    const char *src = reinterpret_cast<const char *>(s);
    char *newMark = nullptr;
    size_t i = 0, o = 0;
    while (i < limit && s[i] && o + 1 < capacity) {
        size_t start = i;
        uchar c = s[i];
        if (c < 0x80) {
            dst[o] = static_cast<char>(c);
            i++;
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < limit && isCont(s[i + 1])) {
            dst[o] = static_cast<char>(((c & 3) << 6) | (s[i + 1] & 0x3F));
            i += 2;
        } else {
            // Not representable: one "?" for the whole sequence.
            dst[o] = '?';
            int len = leadLength(c);
            i++;
            for (int k = 1; k < len && i < limit && isCont(s[i]); k++) i++;
        }
        if (mark && mark >= src + start && mark < src + i) newMark = dst + o;
        o++;
    }
    if (mark && !newMark && mark == src + i) newMark = dst + o;
    if (newMark) *marker = newMark;
    dst[o] = 0;
    return o;
}

} // namespace

// ---- UTF-8 codec ----

int qxUtf8Encode(char *buffer, uint32_t cp)
{
    uchar *b = reinterpret_cast<uchar *>(buffer);
    int n;
    if (cp < 0x80) {
        b[0] = static_cast<uchar>(cp);
        n = 1;
    } else if (cp < 0x800) {
        b[0] = static_cast<uchar>(0xC0 | (cp >> 6));
        b[1] = static_cast<uchar>(0x80 | (cp & 0x3F));
        n = 2;
    } else if (cp < 0x10000) {
        b[0] = static_cast<uchar>(0xE0 | (cp >> 12));
        b[1] = static_cast<uchar>(0x80 | ((cp >> 6) & 0x3F));
        b[2] = static_cast<uchar>(0x80 | (cp & 0x3F));
        n = 3;
    } else if (cp < 0x110000) {
        b[0] = static_cast<uchar>(0xF0 | (cp >> 18));
        b[1] = static_cast<uchar>(0x80 | ((cp >> 12) & 0x3F));
        b[2] = static_cast<uchar>(0x80 | ((cp >> 6) & 0x3F));
        b[3] = static_cast<uchar>(0x80 | (cp & 0x3F));
        n = 4;
    } else {
        n = 0;
    }
    b[n] = 0;
    return n;
}

uint32_t qxUtf8DecodeAt(const char *text, size_t *position)
{
    static const uint32_t offsets[4] = {0, 0x3080, 0xE2080, 0x3C82080};
    const uchar *s = reinterpret_cast<const uchar *>(text) + *position;
    uint32_t cp = s[0];
    size_t n = 1;
    if (cp >= 0x80) {
        // At most three continuation bytes; a zero byte is never one.
        while (n < 4 && isCont(s[n])) cp = (cp << 6) + s[n++];
        cp -= offsets[n - 1];
    }
    *position += n;
    return cp;
}

int qxUtf8DecodeN(const char *text, const char *end, uint32_t *codePoint)
{
    if (text >= end) {
        *codePoint = 0;
        return 0;
    }
    const uchar *s = reinterpret_cast<const uchar *>(text);
    int n = decodeValid(s, static_cast<size_t>(end - text), codePoint);
    if (n == 0) {
        *codePoint = s[0];
        n = 1;
    }
    return n;
}

int qxUtf8Scan(const char *text, size_t length, size_t *count)
{
    const uchar *s = reinterpret_cast<const uchar *>(text);
    size_t i = 0, chars = 0;
    int valid = 1;
    while (i < length) {
        if (s[i] < 0x80) {
            i++;
        } else {
            uint32_t cp;
            int n = decodeValid(s + i, length - i, &cp);
            if (n == 0) {
                valid = 0;
                break;
            }
            i += static_cast<size_t>(n);
        }
        chars++;
    }
    if (count) *count = chars;
    return valid;
}

long qxUtf8CountN(const char *text, size_t length, int *malformed)
{
    size_t count;
    int ok = qxUtf8Scan(text, length, &count);
    if (malformed) *malformed = !ok;
    return ok ? static_cast<long>(count) : -1;
}

long qxUtf8Length(const char *text, int *malformed) { return qxUtf8CountN(text, strlen(text), malformed); }

size_t qxUtf8Offset(const char *text, size_t n)
{
    const uchar *s = reinterpret_cast<const uchar *>(text);
    size_t pos = 0;
    for (size_t i = 0; i < n && s[pos]; i++) {
        pos++;
        for (int k = 0; k < 3 && isCont(s[pos]); k++) pos++;
    }
    return pos;
}

size_t qxUtf8OffsetFast(const char *text, size_t n)
{
    const uchar *s = reinterpret_cast<const uchar *>(text);
    size_t pos = 0;
    for (size_t i = 0; i < n && s[pos]; i++) {
        int len = leadLength(s[pos]);
        if (len == 0) len = 1;
        pos++;
        // Trusts the lead byte but never steps over the terminator.
        for (int k = 1; k < len && s[pos]; k++) pos++;
    }
    return pos;
}

const char *qxUtf8Next(const char *p, const char *end)
{
    if (p >= end) return end;
    p++;
    while (p < end && isCont(static_cast<uchar>(*p))) p++;
    return p;
}

const char *qxUtf8Prev(const char *start, const char *p)
{
    if (p <= start) return start;
    p--;
    while (p > start && isCont(static_cast<uchar>(*p))) p--;
    return p;
}

size_t qxUtf8CountRange(const char *from, const char *to)
{
    size_t n = 0;
    for (const char *p = from; p < to; p++)
        if (!isCont(static_cast<uchar>(*p))) n++;
    return n;
}

// ---- Conversions ----

size_t qxLatin1ToUtf8Size(const char *source)
{
    size_t n = 1;
    for (const uchar *s = reinterpret_cast<const uchar *>(source); *s; s++)
        if (!qxAddSize(n, *s >= 0x80 ? 2 : 1, &n)) return 0;
    return n;
}

size_t qxLatin1ToUtf8(const char *source, char *destination)
{
    size_t o = latin1ToUtf8N(reinterpret_cast<const uchar *>(source), strlen(source), destination);
    destination[o] = 0;
    return o;
}

size_t qxLatin1ToUtf8Length(const char *source, size_t length, char *destination)
{
    return latin1ToUtf8N(reinterpret_cast<const uchar *>(source), length, destination);
}

char *qxLatin1ToUtf8Dup(const char *source)
{
    size_t size = qxLatin1ToUtf8Size(source);
    if (size == 0) return nullptr;
    char *out = static_cast<char *>(qxAlloc(size, 0));
    if (out) qxLatin1ToUtf8(source, out);
    return out;
}

size_t qxUtf8ToLatin1(const char *source, char *destination, size_t limit, char **marker)
{
    size_t capacity;
    if (!qxAddSize(limit, 1, &capacity)) capacity = limit;
    return utf8ToLatin1(reinterpret_cast<const uchar *>(source), limit, destination, capacity, marker);
}

char *qxUtf8ToLatin1Dup(const char *source)
{
    size_t n = strlen(source);
    char *out = static_cast<char *>(qxAlloc(n + 1, 0));
    if (out) utf8ToLatin1(reinterpret_cast<const uchar *>(source), n, out, n + 1, nullptr);
    return out;
}

size_t qxUtf8ToLatin1Buf(const char *source, char *buffer, size_t capacity)
{
    return utf8ToLatin1(reinterpret_cast<const uchar *>(source), strlen(source), buffer, capacity, nullptr);
}

char *qxConvertText(const char *text, int from, int to)
{
    if (from == 0 && to == 1) return qxLatin1ToUtf8Dup(text);
    if (from == 1 && to == 0) return qxUtf8ToLatin1Dup(text);
    return nullptr;
}

// ---- Text files ----

int qxReadTextFile(const char *path, char **text, size_t *length)
{
    *text = nullptr;
    *length = 0;
    FILE *f = qxFOpen(path, "rb", 0);
    if (!f) return 1045;

    // Read in growing blocks: the file need not be seekable.
    size_t cap = 4096, len = 0;
    uchar *buf = static_cast<uchar *>(qxAlloc(cap, 0));
    int err = buf ? 0 : 1000;
    while (!err) {
        if (len == cap) {
            size_t ncap;
            uchar *nbuf = nullptr;
            if (qxMulSize(cap, 2, &ncap)) nbuf = static_cast<uchar *>(qxAlloc(ncap, 0));
            if (!nbuf) {
                err = 1000;
                break;
            }
            memcpy(nbuf, buf, len);
            qxFree(buf);
            buf = nbuf;
            cap = ncap;
        }
        size_t got = fread(buf + len, 1, cap - len, f);
        len += got;
        if (got == 0) {
            if (ferror(f)) err = 1009;
            break;
        }
    }
    fclose(f);
    if (err) {
        qxFree(buf);
        return err;
    }

    const uchar *body = buf;
    if (len >= 3 && buf[0] == 0xEF && buf[1] == 0xBB && buf[2] == 0xBF) {
        body += 3;
        len -= 3;
    }
    size_t outSize;
    char *out;
    if (qxUtf8Scan(reinterpret_cast<const char *>(body), len, nullptr)) {
        out = static_cast<char *>(qxAlloc(len + 1, 0));
        if (!out) {
            qxFree(buf);
            return 1000;
        }
        memcpy(out, body, len);
        out[len] = 0;
        *length = len;
    } else {
        // Not UTF-8: taken as ISO-8859-1.
        if (!qxMulSize(len, 2, &outSize) || !qxAddSize(outSize, 1, &outSize)) {
            qxFree(buf);
            return 1303;
        }
        out = static_cast<char *>(qxAlloc(outSize, 0));
        if (!out) {
            qxFree(buf);
            return 1000;
        }
        *length = latin1ToUtf8N(body, len, out);
        out[*length] = 0;
    }
    qxFree(buf);
    *text = out;
    return 0;
}
