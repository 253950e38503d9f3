// Base64 (RFC 4648 alphabet, "=" padding) into a file, a VM string buffer
// or memory, and back.
#pragma once
#include <cstddef>
#include <cstdint>

struct qxFileHandle;
struct luaL_Buffer;

extern "C" {
// Encodes into exactly one sink. The memory destination needs
// 4 * ceil(length / 3) bytes; only the file sink breaks lines (after every
// 72 characters, CR LF with QX_BASE64_CRLF) unless QX_BASE64_NOBREAK is
// set. *counter (may be null) is raised by the characters written, line
// breaks included. 0 or 1005.
enum : int { QX_BASE64_NOBREAK = 1, QX_BASE64_CRLF = 2 };
int qxBase64Encode(qxFileHandle *file, luaL_Buffer *buffer, char *memory, const void *source, size_t length,
                   uint64_t *counter, int lineFlags);
// Decodes length bytes of text into the string buffer or into memory (at
// least length bytes); *decoded (may be null) receives the byte count.
// Bytes below 33 are skipped; decoding stops after a padded group.
// 0 or 1323.
int qxBase64Decode(const char *text, uint8_t *memory, luaL_Buffer *buffer, size_t length, size_t *decoded);
}
