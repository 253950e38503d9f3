// MD5 message digest (RFC 1321).
#pragma once
#include <cstddef>
#include <cstdint>

struct qxMD5Context {
    uint32_t count[2]; // bits, low word first, modulo 2^64
    uint32_t state[4];
    uint8_t block[64];
};

extern "C" {
void qxMD5Init(qxMD5Context *ctx);
void qxMD5Update(qxMD5Context *ctx, const void *data, size_t length);
void qxMD5Final(qxMD5Context *ctx, uint8_t digest[16]);
// Runs one 64-byte block through the state.
void qxMD5Transform(uint32_t state[4], const uint8_t block[64]);
// 32 lower-case hexadecimal digits and a terminator.
void qxMD5Hex(const uint8_t digest[16], char out[33]);
}
