// Anim and video files read frame by frame (IFF ANIM, AVI, CDXL video), and
// the Motion-JPEG AVI writer. Frames are width x
// height words 0xAARRGGBB in machine order, top row first, qxAlloc'd.
#pragma once
#include <cstdint>

struct qxFileHandle;
struct qxPluginInfo;
struct qxGifReader;
struct qxAnimIff;
struct qxAvi;
struct qxCdxl;
struct qxAviWriter;

struct qxCdxlVideoInfo {
    uint32_t width, height;
    uint32_t durationMs;
    uint32_t audioRate;
    uint32_t hasAudio;
    uint32_t reserved[3];
    uint32_t one;
    uint32_t seekable;
};

// A packet's data is qxAlloc'd: 1024 bytes of palette words then the
// bitplanes (kind 0, video), or the 8-bit samples (kind 1, audio).
struct qxCdxlPacket {
    uint32_t kind;
    uint8_t *data;
    uint32_t size;
    double time; // seconds
};

struct qxCdxlFrame {
    uint32_t *pixels; // owned by the decoder until the next frame; bytes 0, R, G, B
    int32_t pitch;
    double time;
};

// Kinds of an anim reader handle.
enum : uint32_t {
    QX_ANIMREADER_IFF = 1,
    QX_ANIMREADER_GIF = 2,
    QX_ANIMREADER_AVI = 3,
    QX_ANIMREADER_NATIVE = 4,
    QX_ANIMREADER_PLUGIN = 5,
};

struct qxAnimReader {
    void *state;
    uint32_t kind;
    uint32_t loadAlpha; // handed to a plug-in's LoadFrame; set by the handle's owner
    qxPluginInfo *plugin;
};

// What an anim loader plug-in's OpenAnim fills in.
struct qxAnimLoaderRequest {
    uint32_t width, height;
    uint32_t reserved;
    uint32_t frameCount;
    uint32_t pluginValue;
    uint32_t openFlags;
    uint32_t loadAlpha;
};

// Handed to a plug-in's LoadFrame, zero-filled.
struct qxAnimFrameRequest {
    uint32_t argument;
    uint32_t loadAlpha;
    uint32_t transparency; // set by the plug-in
};

extern "C" {
// ---- Dispatch ----
// 0, 1000, 1009 (under 12 bytes), 1045, 1356 (name stored) or 1529. pluginOut
// receives the plug-in, none for an inbuilt reader, 1 for the native one.
int qxOpenAnimReader(const char *fileName, const char *loaders, uint32_t openFlags, uint32_t interlace,
                     uint32_t loadAlpha, qxAnimReader **readerOut, uint32_t *width, uint32_t *height,
                     uint32_t *frameCount, uint32_t *pluginValue, qxPluginInfo **pluginOut);
uint32_t *qxAnimReaderFrame(qxAnimReader *reader, int32_t frame, uint32_t pluginArgument, uint32_t *transparency);
void qxAnimReaderFreeFrame(qxAnimReader *reader, uint32_t *pixels);
// Milliseconds, 0 when the reader does not know.
uint32_t qxAnimReaderDelay(qxAnimReader *reader, int32_t frame);
void qxCloseAnimReader(qxAnimReader *reader);
// 1 for an anim of more than one frame or any non-GIF anim; a still GIF is a picture.
int qxIsAnimFile(const char *fileName, const char *loaders, uint32_t openFlags);
int qxAnimReaderIsIff(const qxAnimReader *reader);

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

// ---- AVI writer (OpenDML, Motion-JPEG video and silent 16-bit stereo PCM) ----
// 0, 1000, 1052 (name stored) or 1055 (frame rate below 1 or above 44100, no size).
int qxAviWriterOpen(const char *fileName, uint32_t fps, uint32_t flags, uint32_t width, uint32_t height,
                    uint32_t quality, uint32_t smooth, const char *title, qxAviWriter **writer);
// The same with other segment size limits than 1,000,000,000 bytes for the
// first RIFF segment and 2,000,000,000 for each later one.
int qxAviWriterOpenSegmented(const char *fileName, uint32_t fps, uint32_t flags, uint32_t width, uint32_t height,
                             uint32_t quality, uint32_t smooth, const char *title, uint64_t firstLimit,
                             uint64_t laterLimit, qxAviWriter **writer);
// One frame of the writer's size, rows pitch bytes apart (byteOrder as for
// qxSaveJPEG); no pixels repeats the last frame. 0, 1000, 1005, 1055, or 1066
// when the super indexes are full.
int qxAviWriteFrame(qxAviWriter *writer, const uint32_t *pixels, int32_t pitch, uint32_t byteOrder);
// Completes the file and frees the writer: 0 or 1005.
int qxAviWriterClose(qxAviWriter *writer);
void qxAviWriterFree(qxAviWriter *writer);

// ---- CDXL video ----
qxCdxl *qxCdxlOpen(const char *fileName, qxCdxlVideoInfo *info);
// 0, -1 at the end, a short read or a chunk laid out otherwise, -2 out of memory.
int qxCdxlReadPacket(qxCdxl *decoder, qxCdxlPacket *packet);
void qxCdxlFreePacket(qxCdxlPacket *packet);
int qxCdxlDecodeVideo(qxCdxl *decoder, const qxCdxlPacket *packet, qxCdxlFrame *frame);
// At most capacity 16-bit mono samples; their number into count.
int qxCdxlDecodeAudio(qxCdxl *decoder, const qxCdxlPacket *packet, int16_t *samples, uint32_t capacity,
                      uint32_t *count);
// To the frame at that time, clamped to the last frame.
int qxCdxlSeek(qxCdxl *decoder, uint32_t milliseconds);
uint32_t qxCdxlFrameCount(qxCdxl *decoder);
double qxCdxlFramesPerSecond(qxCdxl *decoder);
const char *qxCdxlName(void);
void qxCdxlClose(qxCdxl *decoder);
}
