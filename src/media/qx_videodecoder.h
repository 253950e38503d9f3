// The player's decoder calls, dispatched to a video plug-in or the inbuilt
// CDXL reader. Packets travel as qxCdxlPacket records; a plug-in's packet
// handle rides in data.
#pragma once
#include <cstdint>

#include "core/plugins/qx_pluginapi.h"
#include "media/qx_video.h"

enum : uint32_t { QX_VIDEOSTREAM_SWAPPED = 1, QX_VIDEOSTREAM_FILESIZE = 2 };
constexpr uint32_t QX_VIDEO_SOUNDBUFFER = 0x40000;

extern "C" {
// Offers the file to the admitted video plug-ins in list order; the first
// that opens it, with its stream description and handle, or null.
qxPluginInfo *qxVideoPluginOpen(const char *fileName, const char *loaders, qxVideoStreamInfo *info,
                                void **handle);
// 0, -1 at the end, -2 out of memory, other values a failure.
int qxVideoReadPacket(qxVideo *v, qxCdxlPacket *packet);
void qxVideoFreePacket(qxVideo *v, qxCdxlPacket *packet);
// 0 with a picture and its time, 1 none, -2 out of memory.
int qxVideoDecodePicture(qxVideo *v, const qxCdxlPacket *packet, qxVideoPictureRecord *picture, double *time);
// The packet's sound as interleaved 16-bit samples, at most capacity.
uint32_t qxVideoDecodeSound(qxVideo *v, const qxCdxlPacket *packet, int16_t *samples, uint32_t capacity);
void qxVideoDecoderSeek(qxVideo *v, uint32_t milliseconds);
void qxVideoDecoderClose(qxVideo *v);
// A decoded picture into native rows: byte-swapped words are swapped back,
// YUV planes converted, at width x height scaled by nearest neighbour (a
// byte-swapped picture only at the video's size).
void qxVideoPictureToSlot(const qxVideo *v, uint32_t *dst, uint32_t dstPitch, uint32_t width, uint32_t height,
                          const qxVideoPictureRecord *picture);
}
