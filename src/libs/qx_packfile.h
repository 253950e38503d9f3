// Packing files into the "QXPK" frame (unpacking: qx_unpack.h).
#pragma once
#include <cstdint>

struct qxFileHandle;

extern "C" {
// Packs the file source behind tag and four zero bytes into destination
// (or the open destHandle, from its position); *packedSize receives the
// bytes written. 0, 1045, 1052, 1005, 1009, 1000 or a zlib error.
int qxPackFile(const char tag[4], const char *source, const char *destination, qxFileHandle *destHandle,
               int64_t *packedSize);
}
