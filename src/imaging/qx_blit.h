// Blit and blend kernels on locked planes: blends through alpha planes,
// copies through byte and bit masks, colour through a coverage plane, the
// combination of alpha planes and masks, fills and palette rows. They own
// nothing, take no locks and report nothing; a width or height below 1
// does nothing.
#pragma once
#include <cstdint>
#include <cstring>

// Record of the blend-kernel table. The alpha (or byte mask) plane is read
// at the source position, the destination alpha at the destination one.
struct qxBlendRecord {
    const void *source;
    int32_t sx, sy, sourcePitch; // pitch in pixels
    void *destination;
    int32_t dx, dy, destPitch;
    int32_t width, height;
    const uint8_t *alpha;
    int32_t ax, ay, alphaBytesPerRow;
    const uint8_t *destAlpha;
    int32_t destAlphaBytesPerRow;
    uint32_t layout;
};
typedef void (*qxBlendKernel)(const qxBlendRecord *record);

// Record of the copy, masked copy and fill kernels. The mask is read at
// the source position.
struct qxBlitRecord {
    const void *source;
    void *destination;
    int32_t sx, sy, dx, dy;
    int32_t width, height;
    int32_t sourcePitch, destPitch; // in pixels
    const uint8_t *mask;
    int32_t maskBytesPerRow;
    uint32_t value; // pixel of the fills
};
typedef void (*qxBlitKernel)(const qxBlitRecord *record);

// Colour (or texture) through a coverage plane.
struct qxAlphaChannelRecord {
    const uint8_t *coverage;
    int32_t cx, cy, coverageBytesPerRow;
    const uint16_t *coverage16; // mode 3
    int32_t coverage16Pitch;    // in entries
    void *destination;
    int32_t dx, dy, destPitch;
    uint8_t *destAlpha; // at the destination position, may be none
    int32_t destAlphaBytesPerRow;
    int32_t width, height;
    uint32_t colour; // in the destination layout
    uint32_t factor; // 0-255
    const void *texture; // plane base, read at the destination position; may be none
    int32_t texturePitch;
    int32_t mode;
    uint32_t layout;
};

// Combination of two alpha planes.
struct qxAlphaBlitRecord {
    const uint8_t *source;
    int32_t sx, sy;
    uint8_t *destination;
    int32_t dx, dy, width, height;
    int32_t sourceBytesPerRow, destBytesPerRow;
    int32_t mode;
    uint32_t value;
};

// One plane rectangle: pointer, position and row size in bytes.
struct qxPlaneRef {
    uint8_t *bytes;
    int32_t x, y, bytesPerRow;
};

extern "C" {

// [0] 2 bytes per pixel, [1] 4 bytes; modes 0-2 then an empty slot.
extern const qxBlendKernel qxBlendKernels[2][4];

void qxBlendAlpha16(const qxBlendRecord *r);
void qxBlendAlpha32(const qxBlendRecord *r);
void qxCopyMasked16(const qxBlendRecord *r);
void qxCopyMasked32(const qxBlendRecord *r);
void qxBlendOverAlpha16(const qxBlendRecord *r);
void qxBlendOverAlpha32(const qxBlendRecord *r);

void qxBlitConvert16(const qxBlitRecord *r);
void qxBlitConvert32(const qxBlitRecord *r);
void qxBlitMasked16(const qxBlitRecord *r);
void qxBlitMasked32(const qxBlitRecord *r);
void qxFillThroughMask16(const qxBlitRecord *r);
void qxFillThroughMask32(const qxBlitRecord *r);
void qxFillRect16(const qxBlitRecord *r);
void qxFillRect32(const qxBlitRecord *r);

void qxBltAlphaChannel16(const qxAlphaChannelRecord *r);
void qxBltAlphaChannel32(const qxAlphaChannelRecord *r);

void qxBlitPixels(const qxAlphaBlitRecord *r);
void qxAlphaToMaskBits(const qxPlaneRef *alpha, const qxPlaneRef *mask, int32_t width, int32_t height,
                       int32_t mode);
void qxExpandMaskBits(const qxPlaneRef *mask, const qxPlaneRef *plane, int32_t width, int32_t height,
                      uint32_t value);
void qxFillBytePlane(const qxPlaneRef *plane, int32_t width, int32_t height, uint32_t value);
// Combines the clip mask (placed at clipX, clipY) with the source mask or
// alpha plane over the rectangle; the output plane has the geometry of the
// source plane it replaces.
void qxSafeBltKernel(const uint8_t *clipMask, int32_t clipBytesPerRow, int32_t clipX, int32_t clipY,
                     int32_t clipWidth, int32_t clipHeight, const qxPlaneRef *sourceMask,
                     const qxPlaneRef *sourceAlpha, const qxPlaneRef *out, int32_t width, int32_t height);
// Palette rows to 0xRRGGBB words; mode 6 and 8 are hold-and-modify. The
// palette has 16 (mode 6), 64 (mode 8) or 256 entries.
void qxChunkyToARGB(const uint8_t *source, int32_t sourceBytesPerRow, uint32_t *destination, int32_t destPitch,
                    int32_t width, int32_t height, const uint32_t *palette, int32_t mode);

// The SIMD level the kernels use: 0 scalar, 1 SSE2, 2 AVX2. Asking for a
// level above what the processor has gives the highest it has.
int qxSetKernelLevel(int level);
int qxKernelLevel(void);
// h rows of w pixels of one value, pitch pixels apart, in the widest vector
// stores the processor has.
void qxFillPixelRows32(uint32_t *d, size_t w, size_t h, size_t pitch, uint32_t v);
}

// Mask bit x of a row (the leftmost pixel is bit 7).
inline bool qxMaskBit(const uint8_t *row, int64_t x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }
inline void qxSetMaskBit(uint8_t *row, int64_t x, bool on)
{
    uint8_t bit = uint8_t(0x80 >> (x & 7));
    row[x >> 3] = on ? uint8_t(row[x >> 3] | bit) : uint8_t(row[x >> 3] & ~bit);
}

// Builds a kernel for AVX2 beside its plain x86-64 build; qxPickKernel
// chooses between the two.
#define QX_AVX2 __attribute__((target("avx2")))

// The AVX2 build where the kernel level allows it, else the plain one.
template <class Fn> inline Fn qxPickKernel(Fn plain, Fn avx2) { return qxKernelLevel() >= 2 ? avx2 : plain; }

// n pixels of one value in whole vector stores, the last eight (or four)
// stored again overlapping rather than one by one. Inline, so that a
// caller's AVX2 build widens the stores; explicit vectors, as at -O2
// the compiler leaves a plain loop scalar.
inline void qxFillPixels32(uint32_t *d, size_t n, uint32_t v)
{
    typedef uint32_t Eight __attribute__((vector_size(32)));
    typedef uint32_t Four __attribute__((vector_size(16)));
    const Eight e = {v, v, v, v, v, v, v, v};
    const Four f = {v, v, v, v};
    if (n >= 8) {
        size_t i = 0;
        for (; i + 8 <= n; i += 8) std::memcpy(d + i, &e, sizeof e);
        if (i < n) std::memcpy(d + n - 8, &e, sizeof e);
    } else if (n >= 4) {
        std::memcpy(d, &f, sizeof f);
        std::memcpy(d + n - 4, &f, sizeof f);
    } else {
        for (size_t i = 0; i < n; i++) d[i] = v;
    }
}
