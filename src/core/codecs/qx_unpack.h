// Packed blocks: a 4-byte tag, 4 bytes the reader skips, then one zlib
// stream. Used for packed applets, packed plug-ins and packed files.
#pragma once
#include <cstdint>

struct qxFileHandle;

extern "C" {
// Inflates the block at offset of the source into a new destination file or
// into buffer (at most bufferSize bytes; a longer stream is cut there).
// The source is the open file when given, else sourcePath. consumed (may
// be null) receives the bytes from offset to the end of the zlib stream,
// produced (may be null) the bytes inflated. Returns 0, 1045 (source cannot
// be opened), 1052 (destination cannot be made), 1009 (short read), 1005
// (short write), 1310 (tag differs), 1309 (stream damaged or cut short),
// 1000 or another zlib error. A failed destination file is removed.
int qxUnpackData(const char tag[4], const char *sourcePath, const char *destPath, qxFileHandle *source,
                 int64_t offset, uint64_t *consumed, void *buffer, uint64_t bufferSize, uint64_t *produced);
// The program's code for a zlib return value.
int qxZlibError(int z);
}
