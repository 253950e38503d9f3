// Small byte helpers shared by the picture readers and writers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/files/qx_file.h"

namespace qxpic {

inline uint16_t le16(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t le32(const uint8_t *p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
inline uint16_t be16(const uint8_t *p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t be32(const uint8_t *p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
inline void putLE16(uint8_t *p, uint32_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void putLE32(uint8_t *p, uint32_t v) { putLE16(p, v); putLE16(p + 2, v >> 16); }
inline void putBE16(uint8_t *p, uint32_t v) { p[0] = uint8_t(v >> 8); p[1] = uint8_t(v); }
inline void putBE32(uint8_t *p, uint32_t v) { putBE16(p, v >> 16); putBE16(p + 2, v); }

// Reads exactly n bytes; false on a short read.
inline bool readAll(qxFileHandle *f, void *buffer, int64_t n) { return n == 0 || qxRead(f, buffer, n) == n; }
inline bool writeAll(qxFileHandle *f, const void *buffer, int64_t n) { return n == 0 || qxWrite(f, buffer, n) == n; }
// qxSeek from the start of the file; false when it fails.
inline bool seekTo(qxFileHandle *f, int64_t offset) { return qxSeek(f, offset, 1) >= 0; }

// Shared by the IFF readers (defined with the ILBM reader).
// One ByteRun1 stream of n bytes from src; false when the data runs out.
bool unpackByteRun1(const uint8_t *&src, const uint8_t *end, uint8_t *out, size_t n);
// One row of bitplanes (plane p at row + p * planeStride) to width indices.
void planesToChunky(const uint8_t *row, size_t planeStride, uint32_t planes, uint32_t width, uint8_t *dst);
// One row of HAM6 (bits 6) or HAM8 (bits 8) codes to 0x00RRGGBB.
void hamRow(const uint8_t *codes, uint32_t width, const uint32_t *palette, int bits, uint32_t *dst);

// The 420-byte DHT segment (marker included) of the four standard Huffman
// tables (defined with the JPEG glue).
constexpr size_t kStandardDhtSize = 420;
const uint8_t *standardHuffmanSegment();

} // namespace qxpic
