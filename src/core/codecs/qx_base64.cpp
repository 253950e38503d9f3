// Base64 encoder and decoder shared by the dos and string libraries, the
// table files and the plug-in host.
#include "core/codecs/qx_base64.h"

#include <cstring>

#include "core/errors/qx_errors.h"
#include "core/files/qx_file.h"
#include "core/vm/lauxlib.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int kLineLength = 72;

// Collects output characters and hands them to the sink in pieces.
struct Sink {
    qxFileHandle *file = nullptr;
    luaL_Buffer *buffer = nullptr;
    char *memory = nullptr;
    int breakLines = 0;
    int crlf = 0;
    uint64_t written = 0;
    int column = 0;
    char pending[4096];
    size_t used = 0;
    bool failed = false;

    void flush()
    {
        if (!used) return;
        if (file) {
            if (!failed && qxWrite(file, pending, static_cast<int64_t>(used)) != static_cast<int64_t>(used))
                failed = true;
        } else if (buffer) {
            luaL_addlstring(buffer, pending, used);
        }
        used = 0;
    }
    void raw(char c)
    {
        if (memory) {
            *memory++ = c;
        } else {
            if (used == sizeof pending) flush();
            pending[used++] = c;
        }
        written++;
    }
    void put(char c)
    {
        if (breakLines && column == kLineLength) {
            if (crlf) raw('\r');
            raw('\n');
            column = 0;
        }
        raw(c);
        column++;
    }
};

} // namespace

extern "C" int qxBase64Encode(qxFileHandle *file, luaL_Buffer *buffer, char *memory, const void *source,
                              size_t length, uint64_t *counter, int lineFlags)
{
    Sink sink;
    sink.file = file;
    sink.buffer = buffer;
    sink.memory = memory;
    sink.breakLines = file && !(lineFlags & QX_BASE64_NOBREAK);
    sink.crlf = (lineFlags & QX_BASE64_CRLF) != 0;
    const uint8_t *s = static_cast<const uint8_t *>(source);
    for (size_t i = 0; i < length; i += 3) {
        size_t left = length - i;
        uint32_t group = static_cast<uint32_t>(s[i]) << 16;
        if (left > 1) group |= static_cast<uint32_t>(s[i + 1]) << 8;
        if (left > 2) group |= s[i + 2];
        sink.put(kAlphabet[group >> 18]);
        sink.put(kAlphabet[(group >> 12) & 63]);
        sink.put(left > 1 ? kAlphabet[(group >> 6) & 63] : '=');
        sink.put(left > 2 ? kAlphabet[group & 63] : '=');
    }
    sink.flush();
    if (counter) *counter += sink.written;
    return sink.failed ? ERR_WRITE : 0;
}

extern "C" int qxBase64Decode(const char *text, uint8_t *memory, luaL_Buffer *buffer, size_t length,
                              size_t *decoded)
{
    int8_t reverse[256];
    std::memset(reverse, -1, sizeof reverse);
    for (int i = 0; i < 64; i++) reverse[static_cast<uint8_t>(kAlphabet[i])] = static_cast<int8_t>(i);
    reverse[static_cast<uint8_t>('=')] = 0;

    size_t produced = 0;
    uint8_t chars[4];
    uint32_t values[4];
    int have = 0;
    auto emit = [&](const uint8_t *bytes, int n) {
        if (memory) std::memcpy(memory + produced, bytes, static_cast<size_t>(n));
        else if (buffer) luaL_addlstring(buffer, reinterpret_cast<const char *>(bytes), static_cast<size_t>(n));
        produced += static_cast<size_t>(n);
    };
    for (size_t i = 0; i < length; i++) {
        uint8_t c = static_cast<uint8_t>(text[i]);
        if (c < 33) continue;
        if (reverse[c] < 0) return ERR_BADBASE64;
        chars[have] = c;
        values[have] = static_cast<uint32_t>(reverse[c]);
        if (++have < 4) continue;
        have = 0;
        uint32_t group = values[0] << 18 | values[1] << 12 | values[2] << 6 | values[3];
        uint8_t out[3] = {static_cast<uint8_t>(group >> 16), static_cast<uint8_t>(group >> 8),
                          static_cast<uint8_t>(group)};
        int n = chars[2] == '=' ? 1 : chars[3] == '=' ? 2 : 3;
        emit(out, n);
        if (n < 3) break;
    }
    if (have) return ERR_BADBASE64;
    if (decoded) *decoded = produced;
    return 0;
}
