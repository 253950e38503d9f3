// Anim and video files read frame by frame: IFF ANIM, AVI. Frames are width x
// height words 0xAARRGGBB in machine order, top row first, qxAlloc'd.
#pragma once
#include <cstdint>

struct qxFileHandle;
struct qxAnimIff;
struct qxAvi;

extern "C" {
// ---- IFF ANIM ----
// Takes the file (closed on failure); none when it cannot be read.
qxAnimIff *qxAnimIffOpen(qxFileHandle *file, uint32_t interlace, uint32_t *width, uint32_t *height,
                         uint32_t *frameCount, uint32_t loadAlpha);
// A new frame, or none when it cannot be decoded; transparency is set to 1
// when the frame carries alpha.
uint32_t *qxAnimIffGetFrame(qxAnimIff *state, uint32_t frame, uint32_t *transparency);
// Milliseconds; 0 until the frame has been decoded.
uint32_t qxAnimIffFrameDelay(qxAnimIff *state, uint32_t frame);
void qxAnimIffClose(qxAnimIff *state);

// ---- AVI (uncompressed 24-bit or Motion-JPEG video) ----
// Takes the file (closed on failure); none when it cannot be read.
qxAvi *qxAviOpen(qxFileHandle *file, uint32_t *width, uint32_t *height, uint32_t *frameCount);
// A new frame of 0x00RRGGBB words, or none.
uint32_t *qxAviGetFrame(qxAvi *state, uint32_t frame);
void qxAviClose(qxAvi *state);
}
