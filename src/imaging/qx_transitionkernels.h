// Pixel kernels of the transition engine: dissolve by a threshold map, and
// the roll that copies single rows or columns by a table of angles.
#pragma once
#include <cstdint>

struct qxDissolveRecord {
    const uint8_t *source; // alpha bytes or mask bits; may be none in mask mode
    uint8_t *destination;
    int32_t width, height;
    int32_t sourceBytesPerRow, destBytesPerRow;
    const uint8_t *map; // width x height bytes
    uint32_t alphaMode; // 1 alpha planes, 0 masks
    uint32_t direction;
};

struct qxCopyRecord {
    const void *source;
    void *destination;
    const uint8_t *sourceMask;
    uint8_t *destMask;
    const uint8_t *sourceAlpha;
    uint8_t *destAlpha;
    const double *angles;
    int32_t sourcePitch, destPitch; // pixels
    int32_t width, height;          // of the whole image
    int32_t sourceMaskBytesPerRow, destMaskBytesPerRow, sourceAlphaBytesPerRow, destAlphaBytesPerRow;
    uint32_t orientation; // non-zero: columns
    int32_t count, position;
    uint32_t bytesPerPixel;
    int32_t linesCopied, firstLine, resultPosition;
};

extern "C" {
void qxDissolveKernel(const qxDissolveRecord *record, int32_t level);
void qxRollKernel(qxCopyRecord *record);
int qxCopyRect32(const qxCopyRecord *record, int32_t sx, int32_t sy, int32_t width, int32_t height, int32_t dx,
                 int32_t dy);
int qxCopyRect16(const qxCopyRecord *record, int32_t sx, int32_t sy, int32_t width, int32_t height, int32_t dx,
                 int32_t dy);
}
