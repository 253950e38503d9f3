// CRC-32 (reflected, polynomial 0xEDB88320) of the file layer and CRC32Str.
#pragma once
#include <cstddef>
#include <cstdint>

extern "C" {
void qxCrc32Init(void);
// Standard CRC-32: initial value 0xFFFFFFFF, final complement; 0 for length < 1.
uint32_t qxCrc32(const void *data, long length);
}
