/* The binary interface between the player and its plug-ins: the plug-in
 * information record, the entry-point slots and the host table. Plain C so
 * that plug-ins written in C include it as it is; the layouts are fixed. */
#ifndef QX_PLUGINAPI_H
#define QX_PLUGINAPI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The host's interface version, handed to InitPlugin in version/revision. */
#define QX_PLUGIN_VERSION 8
#define QX_PLUGIN_REVISION 0

/* Capability bits. */
#define QX_CAP_SCRIPT 0x1u
#define QX_CAP_LIBRARY 0x2u
#define QX_CAP_IMAGELOADER 0x4u
#define QX_CAP_ANIMLOADER 0x8u
#define QX_CAP_SOUNDLOADER 0x10u
#define QX_CAP_VECTORGRAPHICS 0x20u
#define QX_CAP_VIDEO 0x40u
#define QX_CAP_IMAGESAVER 0x80u
#define QX_CAP_ANIMSAVER 0x100u
#define QX_CAP_SAMPLESAVER 0x200u
#define QX_CAP_REQUIRE 0x400u
#define QX_CAP_DISPLAYADAPTER 0x800u
#define QX_CAP_TIMERADAPTER 0x1000u
#define QX_CAP_REQUESTERADAPTER 0x2000u
#define QX_CAP_FILEADAPTER 0x4000u
#define QX_CAP_DIRADAPTER 0x8000u
#define QX_CAP_AUDIOADAPTER 0x10000u
#define QX_CAP_EXTENSIONS 0x20000u
#define QX_CAP_NETWORKADAPTER 0x40000u
#define QX_CAP_KNOWN 0x7FFFFu

/* Entry-point slots, in their fixed order (words 14 and 19 and 24 are the
 * saver registrations' own words). */
enum {
    QX_EP_InitPlugin, QX_EP_ClosePlugin,
    QX_EP_IsImage, QX_EP_LoadImage, QX_EP_GetImage, QX_EP_FreeImage, QX_EP_TransformImage,
    QX_EP_OpenAnim, QX_EP_LoadFrame, QX_EP_FreeFrame, QX_EP_GetFrameDelay, QX_EP_CloseAnim,
    QX_EP_OpenStream, QX_EP_CloseStream, QX_EP_SeekStream, QX_EP_StreamSamples, QX_EP_GetFormatName,
    QX_EP_GetPathExtents, QX_EP_DrawPath, QX_EP_TranslatePath, QX_EP_GetCurrentPoint,
    QX_EP_CreateVectorFont, QX_EP_FreeVectorFont, QX_EP_OpenFont, QX_EP_CloseFont,
    QX_EP_OpenVideo, QX_EP_CloseVideo, QX_EP_NextPacket, QX_EP_FreePacket, QX_EP_DecodeVideoFrame,
    QX_EP_DecodeAudioFrame, QX_EP_SeekVideo, QX_EP_FlushAudio, QX_EP_FlushVideo, QX_EP_GetVideoFrames,
    QX_EP_GetVideoFormat,
    QX_EP_GetBaseTable, QX_EP_GetCommands, QX_EP_GetConstants, QX_EP_InitLibrary, QX_EP_FreeLibrary,
    QX_EP_GetLibraryCount, QX_EP_SetCurrentLibrary, QX_EP_GetHelpStrings, QX_EP_PushUpvalues,
    QX_EP_GetScript, QX_EP_FreeScript,
    QX_EP_RegisterImageSaver, QX_EP_SaveImage, QX_EP_ImageSaverWord,
    QX_EP_RegisterAnimSaver, QX_EP_BeginAnimStream, QX_EP_WriteAnimFrame, QX_EP_FinishAnimStream,
    QX_EP_AnimSaverWord,
    QX_EP_RegisterSampleSaver, QX_EP_SaveSample, QX_EP_SampleSaverWord,
    QX_EP_RequirePlugin,
    QX_EP_HandleEvents, QX_EP_WaitEvents, QX_EP_ForceEventLoopIteration, QX_EP_Sleep, QX_EP_VWait,
    QX_EP_DetermineBorderSizes, QX_EP_OpenDisplay, QX_EP_CloseDisplay, QX_EP_ChangeBufferSize,
    QX_EP_ShowHideDisplay, QX_EP_SizeMoveDisplay, QX_EP_SetDisplayTitle, QX_EP_ActivateDisplay,
    QX_EP_SetDisplayAttributes, QX_EP_CreatePointer, QX_EP_FreePointer, QX_EP_SetPointer,
    QX_EP_ShowHidePointer, QX_EP_MovePointer, QX_EP_GetMousePos, QX_EP_GetQualifiers, QX_EP_BltBitMap,
    QX_EP_RectFill, QX_EP_WritePixel, QX_EP_Line, QX_EP_GetMonitorInfo, QX_EP_FreeMonitorInfo,
    QX_EP_GrabScreenPixels, QX_EP_FreeGrabScreenPixels, QX_EP_AdapterMainLoop, QX_EP_BeginDoubleBuffer,
    QX_EP_EndDoubleBuffer, QX_EP_Flip, QX_EP_Cls, QX_EP_AllocVideoBitMap, QX_EP_FreeVideoBitMap,
    QX_EP_ReadVideoPixels, QX_EP_FreeVideoPixels, QX_EP_DoVideoBitMapMethod, QX_EP_AllocBitMap,
    QX_EP_FreeBitMap, QX_EP_LockBitMap, QX_EP_UnLockBitMap, QX_EP_GetBitMapAttr,
    QX_EP_RegisterTimer, QX_EP_FreeTimer,
    QX_EP_SystemRequest, QX_EP_FileRequest, QX_EP_PathRequest, QX_EP_StringRequest, QX_EP_ListRequest,
    QX_EP_FontRequest, QX_EP_ColorRequest, QX_EP_FreeRequest,
    QX_EP_FOpen, QX_EP_FClose, QX_EP_FRead, QX_EP_FGetC, QX_EP_FWrite, QX_EP_FPutC, QX_EP_FSeek,
    QX_EP_FFlush, QX_EP_FEof, QX_EP_FStat, QX_EP_Stat,
    QX_EP_OpenDir, QX_EP_CloseDir, QX_EP_NextDirEntry, QX_EP_RewindDir,
    QX_EP_OpenAudio, QX_EP_CloseAudio, QX_EP_AllocAudioChannel, QX_EP_FreeAudioChannel,
    QX_EP_SetChannelAttributes,
    QX_EP_GetExtensions,
    QX_EP_OpenConnection, QX_EP_CloseConnection, QX_EP_GetConnectionInfo, QX_EP_ReceiveData,
    QX_EP_SendData,
    QX_EP_COUNT /* 139 */
};

struct lua_State;
struct qxPluginBase;
struct qxPluginRecordNode;
struct qxSaverFormat;

/* One file type a plug-in handles (GetPlugins' "filetypes"); a row with a
 * null name ends the array. */
typedef struct qxPluginFileType {
    uint32_t type;
    const char *name;
    const char *extensions;
    const char *mimeType;
    uint32_t formatId;
    uint32_t flags;
} qxPluginFileType;

typedef struct qxPluginInfo {
    uint32_t capabilities;
    int32_t version;  /* host version before InitPlugin, the required one after */
    int32_t revision;
    /* The description texts, in the order plug-ins fill them. */
    const char *name;
    const char *author;
    const char *description;
    const char *copyright;
    const char *url;
    const char *date;
    const char *settings;
    const char *helpFile;
    const char *moduleName;
    const qxPluginFileType *fileTypes; /* or null */
    uint32_t abiKind;  /* 2: a calling convention this platform does not run */
    uint32_t disabled;
    uint32_t audioSetting;
    uint32_t displayAdapterFlags;
    uint32_t requesterAdapterFlags;
    uint32_t timerAdapterFlags;
    /* Per-capability user flags. */
    uint32_t fileAdapterFlags;
    uint32_t dirAdapterFlags;
    uint32_t imageFlags;
    uint32_t animFlags;
    uint32_t soundFlags;
    uint32_t videoFlags;
    uint32_t networkFlags;
    uint32_t extensionFlags[32]; /* by bit number of the capability */
    uint32_t explicitOnly;
    uint32_t libraryInitialised;
    uint32_t selected;
    void *entry[QX_EP_COUNT];
    /* The host's own bookkeeping. */
    uint32_t required;
    uintptr_t userValue;
    struct qxPluginRecordNode *records;
    struct qxSaverFormat *imageFormats;
    struct qxSaverFormat *animFormats;
    struct qxSaverFormat *sampleFormats;
} qxPluginInfo;

/* A record a plug-in registers through the host table; freed at unload. */
typedef struct qxPluginRecordNode {
    struct qxPluginRecordNode *next;
    uint32_t type;
    char *text[3];
    uint32_t value;
    uint32_t flags;
} qxPluginRecordNode;

/* What a saver's Register... call fills; the more-bit in flags asks for
 * another call. */
typedef struct qxSaverRegistration {
    uint32_t flags;
    uint32_t identifier;
    const char *name;
} qxSaverRegistration;

/* One frame handed to an anim saver's WriteAnimFrame. Flags: 1 the ARGB
 * pixels carry alpha, 2 a transparent index is set. */
typedef struct qxAnimFrameRecord {
    void *pixels;      /* palette indices (one byte each) or ARGB words */
    uint32_t *palette; /* palette streams, else null */
    uint32_t bytesPerRow;
    uint32_t colourCount;
    uint32_t transparentIndex;
    uint32_t delay;
    uint32_t flags;
    uint32_t format;
} qxAnimFrameRecord;

/* A kept saver format: an array of these ends with a null name. The format
 * number is the registration's identifier, which the savers look up. */
typedef struct qxSaverFormat {
    uint32_t flags;
    char *name;
    uint32_t format;
} qxSaverFormat;

/* Image saver format flags: 1 takes 32-bit ARGB words (else pens with a
 * palette), 4 can store the alpha byte. */
#define QX_SAVER_ARGB 0x1u
#define QX_SAVER_ALPHA 0x4u

/* What SaveImage(fileName, record) receives; non-zero is success. */
typedef struct qxImageSaveRecord {
    const void *pixels;      /* ARGB words, or one pen byte per pixel */
    uint32_t width;
    uint32_t height;
    uint32_t bytesPerRow;
    uint32_t flags;          /* 1: the alpha byte is meant; 2: transparentPen holds */
    const uint32_t *palette; /* 0xRRGGBB per pen, or null for ARGB input */
    uint32_t colours;        /* palette entries */
    uint32_t transparentPen;
    int32_t quality;
    uint32_t format;
} qxImageSaveRecord;
typedef int (*qxSaveImageFunc)(const char *fileName, qxImageSaveRecord *record);

/* A video decoder plug-in's description of an opened stream (OpenVideo and
 * GetVideoFormat fill it). Flags: 1 pictures are 32-bit words whose bytes
 * are 0, R, G, B in memory (else YUV 4:2:0 planes), 2 the host is to store
 * the file's size in fileSize (-1 when unreadable). Sound is 16-bit signed
 * interleaved PCM; channels 0 means none. */
typedef struct qxVideoStreamInfo {
    uint32_t width, height;
    uint32_t frames;
    uint32_t seekable;
    uint32_t channels, rate, bits;
    uint32_t flags;
    double fps;
    int64_t fileSize;
} qxVideoStreamInfo;

/* A decoded picture, owned by the decoder until its next DecodeVideoFrame:
 * the Y, U (Cb) and V (Cr) planes of 8-bit samples with their row lengths in
 * bytes, U and V one sample per 2 x 2 block; a picture of flag 1 has its
 * 32-bit words in plane 0. NextPacket runs on another thread than the
 * decoding calls. */
typedef struct qxVideoPictureRecord {
    const uint8_t *planes[3];
    int32_t strides[3];
} qxVideoPictureRecord;

/* The video entry points. GetVideoFormat (0: the record is filled) is asked
 * right after OpenVideo. NextPacket: 0, -1 at the end, other values are
 * failures; DecodeVideoFrame: 0 with a picture, 1 a packet without one,
 * negative on failure; DecodeAudioFrame writes at most 0x40000 bytes. */
typedef void *(*qxOpenVideoFunc)(const char *fileName, qxVideoStreamInfo *info);
typedef void (*qxCloseVideoFunc)(void *handle);
typedef int (*qxNextPacketFunc)(void *handle, void **packet, int *isAudio, uint32_t *size, double *time);
typedef void (*qxFreePacketFunc)(void *handle, void *packet);
typedef int (*qxDecodeVideoFrameFunc)(void *handle, void *packet, qxVideoPictureRecord *frame, double *time);
typedef int (*qxDecodeAudioFrameFunc)(void *handle, void *packet, uint8_t *buffer, uint32_t *size);
typedef int (*qxSeekVideoFunc)(void *handle, int64_t milliseconds);
typedef void (*qxFlushVideoFunc)(void *handle);
typedef int (*qxGetVideoFramesFunc)(void *handle);
typedef int (*qxGetVideoFormatFunc)(void *handle, qxVideoStreamInfo *info);

/* What a sound loader's OpenStream is handed: the subsong (from 0), the
 * record's version (1) and the file adapter list; the plug-in fills the
 * rest. Flags: 1 the 16-bit data is big-endian, 2 the data is signed, 4 the
 * stream can seek. length is the frames to play, subsongs 0 counts as 1 and
 * bitRate 0 as unknown. Data is interleaved PCM of bits 8 or 16. */
typedef struct qxSoundStreamRequest {
    uint32_t subsong;
    uint32_t version;
    const char *adapter;
    uint32_t bits;
    uint32_t channels;
    uint32_t frequency;
    uint32_t length;
    uint32_t totalFrames;
    uint32_t flags;
    uint32_t userFlag; /* 1 when handed over */
    uint32_t subsongs;
    uint32_t bitRate;
} qxSoundStreamRequest;

/* The sound loader entry points. StreamSamples delivers at most frames
 * frames at the current position and sets *end when fewer were left. */
typedef void *(*qxOpenStreamFunc)(const char *fileName, qxSoundStreamRequest *request);
typedef void (*qxCloseStreamFunc)(void *handle);
typedef int (*qxSeekStreamFunc)(void *handle, uint32_t frame);
typedef uint32_t (*qxStreamSamplesFunc)(void *handle, void *buffer, uint32_t frames, int *end);
typedef const char *(*qxGetFormatNameFunc)(void *handle);

/* What SaveSample(fileName, record) receives; non-zero is success. The data
 * is the sample's as held: flags 1 big-endian 16-bit data, 2 signed. */
typedef struct qxSampleSaveRecord {
    const void *data;
    uint32_t bytes;
    uint32_t frames;
    uint32_t channels;
    uint32_t bits;
    uint32_t frequency;
    uint32_t flags;
    uint32_t format;
} qxSampleSaveRecord;
typedef int (*qxSaveSampleFunc)(const char *fileName, const qxSampleSaveRecord *record);

typedef struct qxPluginHandle {
    uint32_t capabilities;
    qxPluginInfo *info;
    void *library;
} qxPluginHandle;

/* Rows of GetCommands and GetConstants (the runtime's own row layouts). */
typedef struct qxPluginCommand {
    const char *name;
    int (*func)(struct lua_State *L);
} qxPluginCommand;

typedef struct qxPluginConstant {
    const char *name;
    const char *str; /* null: the constant is the number */
    double num;
} qxPluginConstant;

/* A requirement tag (REQUIRETAGS and the applet's plug-in objects). */
typedef struct qxPluginRequireTag {
    struct qxPluginRequireTag *next;
    uint32_t size;
    char *name;
    char *text; /* null: the number */
    double number;
} qxPluginRequireTag;

/* The record RequirePlugin receives. */
typedef struct qxRequireRecord {
    qxPluginRequireTag *tags;
    uint32_t *displayFlags; /* bit 0 hidden first display, 1 system scale, 2 smooth */
} qxRequireRecord;

/* Entry points the loader itself calls. */
typedef int (*qxInitPluginFunc)(qxPluginInfo *info, const struct qxPluginBase *base, const char *path);
typedef void (*qxClosePluginFunc)(void);
typedef uint32_t (*qxGetExtensionsFunc)(uint32_t capability, uint32_t reserved);
typedef const char *(*qxGetBaseTableFunc)(void);
typedef const qxPluginCommand *(*qxGetCommandsFunc)(void);
typedef const qxPluginConstant *(*qxGetConstantsFunc)(void);
typedef int (*qxInitLibraryFunc)(struct lua_State *L);
typedef void (*qxFreeLibraryFunc)(struct lua_State *L);
typedef int (*qxGetLibraryCountFunc)(void);
typedef void (*qxSetCurrentLibraryFunc)(int index);
typedef int (*qxPushUpvaluesFunc)(struct lua_State *L);
typedef int (*qxRegisterSaverFunc)(qxSaverRegistration *record);
typedef int (*qxRequirePluginFunc)(struct lua_State *L, int version, int revision, uint32_t flags,
                                   qxRequireRecord *record);

/* What a file adapter's FStat, Stat and NextDirEntry fill in. The host
 * hands it over with defaults: the kind and size it knows, flags 15, no
 * comment and every date 4 Nov 2002 10:30:00 local time, so that an
 * adapter may leave out what it does not know. */
typedef struct qxAdapterFileInfo {
    uint32_t kind;  /* 1: a directory; any other value: a file */
    int64_t size;   /* bytes */
    uint32_t flags; /* protection bits */
    char comment[256];
    int64_t accessTime, modifyTime, changeTime; /* seconds since 1970 */
} qxAdapterFileInfo;

/* Items of a tag list handed to host functions: every slot that takes a
 * tag list, the audio adapter's installer (audio slot 2) included, reads
 * this layout, ended by tag 0. */
typedef struct qxHostTag {
    uint32_t tag;
    uint64_t value;
} qxHostTag;

/* Tags of a display adapter's BltBitMap(source, destination, record,
 * flags, tags), the list ended by tag 0 (or none at all). They come with a
 * hardware brush's own bitmap when the adapter does the work:
 * QX_BLTTAG_ALPHA (capability 0x400): the opacity 0..255 to blend the
 *   source with (255 minus the script's transparency).
 * QX_BLTTAG_MATRIX and QX_BLTTAG_ANCHOR (capability 0x200): pointers to
 *   four doubles {sx, rx, ry, sy} and to two {anchor x, anchor y}; the
 *   source turned by the matrix about its anchor fills a box whose top-left
 *   corner is the record's destination; the record's source position and
 *   size name the part of that box to draw. */
enum { QX_BLTTAG_ALPHA = 1, QX_BLTTAG_MATRIX = 2, QX_BLTTAG_ANCHOR = 3 };

/* A display adapter's own double buffering, offered with adapter flag 0x40
 * and asked for by the script's BeginDoubleBuffer(True). Drawing reaches
 * the window through BltBitMap (and the drawing entry points) as always;
 * the adapter keeps it back until Flip shows it.
 * BeginDoubleBuffer(window, BGPic width, height, tags): tag 1 the adapter
 *   display flags; 0 takes the display over, any other value leaves the
 *   double buffering to the player.
 * Flip(window, tags): tag 1 is 1 when the flip waits for the vertical
 *   blank; the result reaches the script.
 * EndDoubleBuffer(window, tags): no tags yet; also called before the
 *   window closes. */
typedef int (*qxBeginDoubleBufferFunc)(void *window, uint32_t width, uint32_t height, const qxHostTag *tags);
typedef int (*qxFlipFunc)(void *window, const qxHostTag *tags);
typedef int (*qxEndDoubleBufferFunc)(void *window, const qxHostTag *tags);

/* A display adapter's video bitmaps read back (hardware brushes backed up,
 * copies, pixel reads): ReadVideoPixels(bitmap, record) fills the record,
 * whose version is 2 on entry, and returns non-zero; FreeVideoPixels
 * (bitmap, record) releases what it handed out. */
typedef struct qxVideoPixelsRecord {
    uint32_t version; /* 2 */
    const void *pixels;
    uint32_t pixelFormat;  /* 10 to 13 */
    uint32_t pixelsPerRow;
    uint32_t synced;
} qxVideoPixelsRecord;
typedef int (*qxReadVideoPixelsFunc)(void *bitmap, qxVideoPixelsRecord *record);
typedef void (*qxFreeVideoPixelsFunc)(void *bitmap, qxVideoPixelsRecord *record);

/* Slot counts of the sixteen sub-tables. */
#define QX_HOST_RUNTIME_SLOTS 58
#define QX_HOST_SYSTEM_SLOTS 55
#define QX_HOST_DOS_SLOTS 36
#define QX_HOST_GRAPHICS_SLOTS 36
#define QX_HOST_AUDIO_SLOTS 3
#define QX_HOST_REQUESTER_SLOTS 4
#define QX_HOST_FONTLOOKUP_SLOTS 1
#define QX_HOST_FREETYPE_SLOTS 38
#define QX_HOST_VM_SLOTS 78
#define QX_HOST_ZLIB_SLOTS 13
#define QX_HOST_JPEG_SLOTS 25
#define QX_HOST_PLUGINLIST_SLOTS 5
#define QX_HOST_ENCODING_SLOTS 4
#define QX_HOST_UNICODE_SLOTS 21
#define QX_HOST_LOCALE_SLOTS 3

/* Sub-table 9 holds data: the built-in fonts and their sizes. */
typedef struct qxHostFontData {
    const void *font[3];
    uint32_t size[3];
} qxHostFontData;

typedef void (*qxHostFunc)(void);

typedef struct qxPluginBase {
    uint32_t version; /* 8 */
    uint32_t reserved;
    const qxHostFunc *runtime;
    const qxHostFunc *system;
    const qxHostFunc *dos;
    const qxHostFunc *graphics;
    const qxHostFunc *audio;
    const qxHostFunc *requesters;
    const qxHostFunc *fontLookup;
    const qxHostFunc *freetype;
    const qxHostFunc *vm;
    const qxHostFontData *fonts;
    const qxHostFunc *zlib;
    const qxHostFunc *jpeg;
    const qxHostFunc *pluginList;
    const qxHostFunc *encoding;
    const qxHostFunc *unicode;
    const qxHostFunc *locale;
} qxPluginBase;

/* Node of the list that plug-in list slot 0 returns. */
typedef struct qxPluginInfoNode {
    struct qxPluginInfoNode *next;
    qxPluginInfo *info;
} qxPluginInfoNode;

/* Host stat record (runtime slots 43 and 44). */
typedef struct qxHostStat {
    uint64_t reserved;
    uint32_t flags;
    uint64_t size;
    uint64_t accessTime;
    uint64_t modifyTime;
    uint64_t changeTime;
} qxHostStat;

/* Host date record (runtime slots 32 to 37). */
typedef struct qxHostDate {
    uint64_t size; /* 64 */
    int32_t sec, min, hour, mday, mon, year, wday, yday, isdst;
    int64_t gmtOffset;
    const char *zone;
} qxHostDate;

/* Host file record (dos slots 12 and 15). */
typedef struct qxHostFileRecord {
    uint64_t reserved;
    const char *name;
    uint32_t isDirectory;
    uint32_t size;
    uint32_t protection;
} qxHostFileRecord;

/* Examine record (dos slots 24 and 27). */
typedef struct qxHostDateSix {
    int32_t sec, min, hour, mday, mon, year;
} qxHostDateSix;

typedef struct qxHostExamine {
    uint32_t isDirectory;
    uint64_t size;
    uint32_t protection;
    qxHostDateSix date[3];
    char *name;
    char *comment;
} qxHostExamine;

/* Dos slot 29's record, every field in its own 8-byte word. */
typedef struct qxHostChunkRecord {
    char *innerName;
    uint64_t innerCapacity;
    char *extension;
    uint64_t extensionCapacity;
    char *container;
    uint64_t containerCapacity;
    void *memory;
    uint64_t offset;
    uint64_t size;
} qxHostChunkRecord;

/* Dos slot 34's source record. */
typedef struct qxHostSourceRecord {
    const char *container;
    const void *memory;
    const char *extension;
    uint64_t offset;
    uint64_t size;
} qxHostSourceRecord;

/* System slot 47's record. */
typedef struct qxHostReportLine {
    uint32_t line;
    const char *command;
    const char *file;
} qxHostReportLine;

/* VM slot 69's record. */
typedef struct qxHostNewId {
    uint32_t number;
    uint64_t flag;
} qxHostNewId;

#ifdef __cplusplus
}
#endif
#endif
