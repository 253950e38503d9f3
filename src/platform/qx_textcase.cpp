// Character classes, case mapping and the case-insensitive comparisons of
// both text modes.
#include <algorithm>
#include <cstring>

#include "platform/qx_text.h"
#include "platform/qx_unicode_tables.h"

namespace {

using uchar = unsigned char;

enum { L1_GRAPH = 1, L1_ALPHA = 2, L1_LOWER = 4, L1_UPPER = 8 };

// Row whose first is the largest not above c, or nullptr.
template <typename Row>
const Row *findRow(const Row *table, size_t count, uint32_t c)
{
    const Row *end = table + count;
    const Row *it = std::upper_bound(table, end, c, [](uint32_t v, const Row &r) { return v < r.first; });
    if (it == table) return nullptr;
    --it;
    if (c > it->last || (c - it->first) % it->step != 0) return nullptr;
    return it;
}

inline int inClass(const qxClassRange *table, size_t count, uint32_t c) { return findRow(table, count, c) != nullptr; }

inline uint32_t mapCase(const qxCaseRange *table, size_t count, uint32_t c)
{
    const qxCaseRange *r = findRow(table, count, c);
    return r ? static_cast<uint32_t>(static_cast<int64_t>(c) + r->delta) : c;
}

inline int latin1Has(uint32_t c, int flag) { return c < 256 && (qxLatin1Class[c] & flag) != 0; }

// In-place UTF-8 case change: a character is replaced only when its new
// encoding is not longer than the old one.
void utf8MapInPlace(char *text, uint32_t (*map)(uint32_t))
{
    char *end = text + strlen(text);
    char *r = text, *w = text;
    while (r < end) {
        uint32_t cp;
        int n = qxUtf8DecodeN(r, end, &cp);
        char enc[5];
        int k = 0;
        // A stray byte (decoded as itself) is never rewritten.
        if (!(n == 1 && cp >= 0x80)) k = qxUtf8Encode(enc, map(cp));
        if (k > 0 && k <= n) {
            memcpy(w, enc, static_cast<size_t>(k));
            w += k;
        } else {
            memmove(w, r, static_cast<size_t>(n));
            w += n;
        }
        r += n;
    }
    *w = 0;
}

void latin1MapInPlace(char *text, const uint8_t *table)
{
    for (uchar *p = reinterpret_cast<uchar *>(text); *p; p++) *p = table[*p];
}

} // namespace

// ---- Unicode classes ----

int qxUniIsAlpha(uint32_t c) { return inClass(qxUniAlphaTable, qxUniAlphaCount, c); }
int qxUniIsLower(uint32_t c) { return inClass(qxUniLowerTable, qxUniLowerCount, c); }
int qxUniIsUpper(uint32_t c) { return inClass(qxUniUpperTable, qxUniUpperCount, c); }
int qxUniIsCntrl(uint32_t c) { return inClass(qxUniCntrlTable, qxUniCntrlCount, c); }
int qxUniIsDigit(uint32_t c) { return inClass(qxUniDigitTable, qxUniDigitCount, c); }
int qxUniIsXDigit(uint32_t c) { return inClass(qxUniXDigitTable, qxUniXDigitCount, c); }
int qxUniIsPunct(uint32_t c) { return inClass(qxUniPunctTable, qxUniPunctCount, c); }
int qxUniIsSpace(uint32_t c) { return inClass(qxUniSpaceTable, qxUniSpaceCount, c); }

int qxUniIsGraph(uint32_t c)
{
    if (qxUniIsSpace(c)) return 0;
    return inClass(qxUniGraphTable, qxUniGraphCount, c) || inClass(qxUniCombiningTable, qxUniCombiningCount, c);
}

// Separators (white space that is no control character) print as well.
int qxUniIsPrint(uint32_t c) { return qxUniIsGraph(c) || (qxUniIsSpace(c) && !qxUniIsCntrl(c)); }

int qxUniIsAlnum(uint32_t c) { return qxUniIsAlpha(c) || inClass(qxUniNumberTable, qxUniNumberCount, c); }

// ---- ISO-8859-1 classes ----

int qxIsGraphLatin1(uint32_t c) { return latin1Has(c, L1_GRAPH); }
int qxIsAlphaLatin1(uint32_t c) { return latin1Has(c, L1_ALPHA); }
int qxIsAlnumLatin1(uint32_t c) { return latin1Has(c, L1_ALPHA) || (c >= '0' && c <= '9'); }
int qxIsLowerLatin1(uint32_t c) { return latin1Has(c, L1_LOWER); }
int qxIsUpperLatin1(uint32_t c) { return latin1Has(c, L1_UPPER); }

// ---- Current mode ----

int qxIsGraph(uint32_t c) { return qxTextModeUtf8 ? qxUniIsGraph(c) : qxIsGraphLatin1(c); }
int qxIsAlpha(uint32_t c) { return qxTextModeUtf8 ? qxUniIsAlpha(c) : qxIsAlphaLatin1(c); }
int qxIsAlnum(uint32_t c) { return qxTextModeUtf8 ? qxUniIsAlnum(c) : qxIsAlnumLatin1(c); }

// ---- Case ----

uint32_t qxUniToLower(uint32_t c) { return mapCase(qxUniToLowerTable, qxUniToLowerCount, c); }
uint32_t qxUniToUpper(uint32_t c) { return mapCase(qxUniToUpperTable, qxUniToUpperCount, c); }
uint32_t qxUniFold(uint32_t c) { return mapCase(qxUniFoldTable, qxUniFoldCount, c); }
uint32_t qxToLowerLatin1(uint32_t c) { return c < 256 ? qxLatin1ToLower[c] : c; }
uint32_t qxToUpperLatin1(uint32_t c) { return c < 256 ? qxLatin1ToUpper[c] : c; }
uint32_t qxToLower(uint32_t c) { return qxTextModeUtf8 ? qxUniToLower(c) : qxToLowerLatin1(c); }
uint32_t qxToUpper(uint32_t c) { return qxTextModeUtf8 ? qxUniToUpper(c) : qxToUpperLatin1(c); }

void qxStrLower(char *text)
{
    if (qxTextModeUtf8)
        utf8MapInPlace(text, qxUniToLower);
    else
        latin1MapInPlace(text, qxLatin1ToLower);
}

void qxStrUpper(char *text)
{
    if (qxTextModeUtf8)
        utf8MapInPlace(text, qxUniToUpper);
    else
        latin1MapInPlace(text, qxLatin1ToUpper);
}

int qxPutChar(char *buffer, uint32_t c)
{
    if (qxTextModeUtf8) return qxUtf8Encode(buffer, c);
    buffer[0] = c < 256 ? static_cast<char>(c) : '?';
    buffer[1] = 0;
    return 1;
}

// ---- Case-insensitive comparisons ----

int qxUtf8StrNICmp(const char *a, const char *b, size_t n)
{
    if (a == b) return 0;
    const char *ea = a + strlen(a), *eb = b + strlen(b);
    for (size_t i = 0; i < n; i++) {
        if (a == ea || b == eb) return (a == ea) == (b == eb) ? 0 : (a == ea ? -1 : 1);
        uint32_t ca, cb;
        a += qxUtf8DecodeN(a, ea, &ca);
        b += qxUtf8DecodeN(b, eb, &cb);
        ca = qxUniFold(ca);
        cb = qxUniFold(cb);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return 0;
}

int qxUtf8StrICmp(const char *a, const char *b) { return qxUtf8StrNICmp(a, b, SIZE_MAX); }

int qxStrNICmp(const char *a, const char *b, size_t n)
{
    if (qxTextModeUtf8) return qxUtf8StrNICmp(a, b, n);
    if (a == b) return 0;
    const uchar *s = reinterpret_cast<const uchar *>(a), *t = reinterpret_cast<const uchar *>(b);
    for (size_t i = 0; i < n; i++) {
        int d = qxLatin1ToUpper[s[i]] - qxLatin1ToUpper[t[i]];
        if (d != 0 || s[i] == 0) return d;
    }
    return 0;
}

int qxStrICmp(const char *a, const char *b) { return qxStrNICmp(a, b, SIZE_MAX); }

