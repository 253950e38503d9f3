// Fuzzes the UTF-8 decoder and validator, the conversions, the in-place case
// changes, the comparisons and qxReadTextFile's decoding of a whole file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "platform/qx_memory.h"
#include "platform/qx_text.h"

namespace {

void check(bool ok)
{
    if (!ok) abort();
}

// Decoding every character of valid text and encoding it again gives the
// same bytes; invalid text has a sequence the decoder refuses.
void checkCodec(const char *data, size_t size)
{
    size_t count = 0;
    int valid = qxUtf8Scan(data, size, &count);
    const char *p = data, *end = data + size;
    std::string again;
    size_t chars = 0;
    bool sawBad = false;
    while (p < end) {
        uint32_t cp;
        int n = qxUtf8DecodeN(p, end, &cp);
        check(n >= 1 && n <= 4 && p + n <= end);
        char enc[5];
        int k = qxUtf8Encode(enc, cp);
        if (k != n || memcmp(enc, p, static_cast<size_t>(n)) != 0) sawBad = true;
        if (!sawBad) chars++;
        again.append(enc, static_cast<size_t>(k));
        p += n;
    }
    check(valid == !sawBad);
    check(count == chars);
    if (valid) check(again == std::string(data, size));
}

void checkTerminated(const char *s)
{
    size_t len = strlen(s);
    // Unvalidated walks stay inside the text.
    for (size_t pos = 0; pos < len;) {
        size_t before = pos;
        qxUtf8DecodeAt(s, &pos);
        check(pos > before && pos <= len);
    }
    check(qxUtf8Offset(s, len + 1) == len);
    check(qxUtf8OffsetFast(s, len + 1) == len);
    int malformed = 0;
    long n = qxUtf8Length(s, &malformed);
    check(malformed ? n == -1 : n >= 0);
    if (!malformed) check(qxUtf8CountRange(s, s + len) == static_cast<size_t>(n));
    for (const char *q = s; q < s + len;) {
        const char *next = qxUtf8Next(q, s + len);
        check(next > q && next <= s + len);
        check(qxUtf8Prev(s, next) <= q);
        q = next;
    }

    // ISO-8859-1 round trip, and the UTF-8 form is always valid.
    char *utf8 = qxLatin1ToUtf8Dup(s);
    if (utf8) {
        check(qxUtf8Scan(utf8, strlen(utf8), nullptr));
        char *latin = qxUtf8ToLatin1Dup(utf8);
        if (latin) check(strcmp(latin, s) == 0);
        qxFree(latin);
        qxFree(utf8);
    }
    char small[8];
    check(qxUtf8ToLatin1Buf(s, small, sizeof small) < sizeof small);

    // Case changes never make the text longer.
    std::string up(s), low(s);
    qxStrUpper(up.data());
    qxStrLower(low.data());
    check(strlen(up.c_str()) <= len && strlen(low.c_str()) <= len);

    // Comparisons are antisymmetric.
    std::string a(s, len / 2), b(s + len / 2);
    for (int cs = 0; cs < 2; cs++)
        check(qxStrCompare(a.c_str(), b.c_str(), cs) == -qxStrCompare(b.c_str(), a.c_str(), cs));
    int i1 = qxStrICmp(a.c_str(), b.c_str()), i2 = qxStrICmp(b.c_str(), a.c_str());
    check((i1 < 0) == (i2 > 0));
}

void checkReadTextFile(const uint8_t *data, size_t size)
{
    static std::string path = "/tmp/qx_utf8_fuzz_" + std::to_string(getpid());
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return;
    fwrite(data, 1, size, f);
    fclose(f);
    char *text = nullptr;
    size_t length = 0;
    int err = qxReadTextFile(path.c_str(), &text, &length);
    unlink(path.c_str());
    if (err) {
        check(err == 1000 && !text);
        return;
    }
    check(text[length] == 0);
    check(qxUtf8Scan(text, length, nullptr));
    const uint8_t *body = data;
    size_t bodySize = size;
    if (size >= 3 && !memcmp(data, "\xEF\xBB\xBF", 3)) {
        body += 3;
        bodySize -= 3;
    }
    if (qxUtf8Scan(reinterpret_cast<const char *>(body), bodySize, nullptr))
        check(length == bodySize && !memcmp(text, body, bodySize));
    else
        check(length >= bodySize);
    qxFree(text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An exact-size copy: the sanitizer catches any read past the end.
    char *buf = static_cast<char *>(malloc(size ? size : 1));
    if (!buf) return 0;
    memcpy(buf, data, size);
    qxSetTextModeUtf8(size > 0 && (data[0] & 1));
    checkCodec(buf, size);
    free(buf);

    std::string terminated(reinterpret_cast<const char *>(data), size);
    checkTerminated(terminated.c_str());
    if (size < 4096) checkReadTextFile(data, size);
    return 0;
}
