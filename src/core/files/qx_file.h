// The virtual file layer: one handle for native files (and plain chunk
// names), memory files and streams of file-adapter plug-ins; directories
// the same way; whole-file helpers, console output and small records.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/files/qx_chunkname.h"
#include "core/applet/qx_linkrecord.h"
#include "core/plugins/qx_pluginapi.h"
#include "platform/qx_files.h"

// Open flags (besides read 1, write 2 and read-write 4 of the native layer).
constexpr uint32_t QX_OPEN_ADAPTERS = 8;     // try the file adapters first
constexpr uint32_t QX_OPEN_EMULATESEEK = 16; // seek on unseekable adapter streams by reading

// Stream flags an adapter reports at open time.
constexpr uint32_t QX_STREAM_NOSEEK = 2;

// Directory open flags.
constexpr uint32_t QX_DIR_READLOCK = 1, QX_DIR_WRITELOCK = 2, QX_DIR_ADAPTERS = 4;

// Items of the tag list handed to an adapter's FOpen, ended by tag 0.
struct qxFileTag {
    uint32_t tag;
    uint64_t data;
};
constexpr uint32_t QX_FTAG_END = 0;
constexpr uint32_t QX_FTAG_STREAMFLAGS = 1; // address of the handle's streamFlags
constexpr uint32_t QX_FTAG_CONTAINER = 2;   // path of the file that holds the data
constexpr uint32_t QX_FTAG_OFFSET = 3;
constexpr uint32_t QX_FTAG_SIZE = 4;
constexpr uint32_t QX_FTAG_MEMORY = 5;      // pointer to the data in memory

// Adapter modes handed to FOpen and OpenDir.
constexpr uint32_t QX_ADAPTER_WRITE = 1, QX_ADAPTER_READWRITE = 2, QX_ADAPTER_READ = 4;

// Entry points of a file- or directory-adapter plug-in.
struct qxFileAdapterFuncs {
    void *(*FOpen)(const char *name, uint32_t mode, qxFileTag *tags);
    int (*FClose)(void *h);
    int64_t (*FRead)(void *h, void *buffer, int64_t n);
    int (*FGetC)(void *h);
    int64_t (*FWrite)(void *h, const void *buffer, int64_t n);
    int (*FPutC)(void *h, int byte);
    int64_t (*FSeek)(void *h, int64_t offset, int whence); // position before, or -1
    int (*FFlush)(void *h);
    int (*FEof)(void *h);
    int (*FStat)(void *h, qxAdapterFileInfo *info);          // 1 or 0
    int (*Stat)(const char *name, qxAdapterFileInfo *info);  // 1 when the adapter knows the object
    void *(*OpenDir)(const char *name, uint32_t mode);
    void (*CloseDir)(void *h);
    int (*NextDirEntry)(void *h, const char **name, int *isDirectory, qxAdapterFileInfo *info);
    int (*RewindDir)(void *h); // optional; 1 on success
};

// Adapter user flags.
constexpr uint32_t QX_ADAPTER_MEMORYSOURCES = 1, QX_ADAPTER_ONLYNAMED = 2;

// A node of the file-adapter or directory-adapter list, in plug-in order.
struct qxAdapterNode {
    qxAdapterNode *next;
    void *plugin;      // the plug-in's information record
    const char *name;  // matched against adapter lists
    uint32_t disabled;
    uint32_t userFlags;
    const qxFileAdapterFuncs *funcs;
};

struct qxFileHandle {
    qxAdapterNode *adapter;
    void *handle; // the adapter's handle or a qxNativeFile
    uint32_t mode;
    uint32_t streamFlags;
    qxMemRecord *memory;
    int64_t position;
    uint32_t ownsMemory;
    qxMemRecord *held;       // the virtual file opened, kept while the handle is open
    qxFileHandle *nextHeld;  // list of handles holding one
};

struct qxDirHandle {
    qxAdapterNode *dirAdapter;
    qxAdapterNode *fileAdapter; // set when a file adapter examined the object
    void *handle;               // the adapter's handle or a qxNativeDir
    char name[1024];
    char entryName[1024];
    qxFileInfo examined;
    qxMemRecord *block;
    uint32_t isChunk;
};

extern "C" {
// Filled by the plug-in loader; empty until plug-ins are loaded.
extern qxAdapterNode *qxFileAdapters;
extern qxAdapterNode *qxDirAdapters;

// ---- Files ----
qxFileHandle *qxOpen(const char *name, uint32_t flags, const char *adapterList);
int qxClose(qxFileHandle *h);
// 1 while a handle opened on record (a virtual file's) is not closed yet.
int qxMemRecordInUse(const qxMemRecord *record);
int64_t qxRead(qxFileHandle *h, void *buffer, int64_t n);
int64_t qxWrite(qxFileHandle *h, const void *buffer, int64_t n);
int qxGetC(qxFileHandle *h);            // 0-255, or -1 at the end
int qxPutC(qxFileHandle *h, int byte);  // 1 on success
// Reads up to and including the next delimiter byte, or to the end, into
// *buffer (malloc'd and grown as needed, *capacity bytes; free it with
// free). The bytes read, 0 at the end, -1 on a read error.
int64_t qxReadUntil(qxFileHandle *h, int delimiter, char **buffer, size_t *capacity);
// whence 0 current, 1 beginning, 2 end; the position before, or -1.
int64_t qxSeek(qxFileHandle *h, int64_t offset, int whence);
int qxEOF(qxFileHandle *h);
int qxFlush(qxFileHandle *h);
int64_t qxFileSize(qxFileHandle *h);
int qxExamineFH(qxFileHandle *h, qxFileInfo *info);
void *qxFileAdapterOf(qxFileHandle *h);
int qxIsStreamHandle(qxFileHandle *h);
uint32_t qxGetOpenFlags(qxFileHandle *h);

// Byte-order readers from qxGetC: an end of file (-1) becomes part of the
// value; callers check qxEOF. Writers through qxPutC return 1 on success.
uint32_t qxReadBE32(qxFileHandle *h);
uint16_t qxReadBE16(qxFileHandle *h);
uint16_t qxReadBE16ByBytes(qxFileHandle *h);

// ---- Whole files: 0 or an error code ----
int qxCopyFile(const char *source, const char *adapterList, const char *destination, qxFileHandle *open);
// *buffer (qxFree) holds *length bytes and extra uninitialised bytes after them.
int qxReadWholeFile(const char *name, const char *adapterList, qxFileHandle *open, void **buffer,
                    int64_t *length, int allowAdapters, size_t extra);
int qxExamineObject(const char *name, qxFileInfo *info, int allowAdapters);
// The record handed to an adapter's examine entries, with its defaults.
void qxInitFileInfo(qxAdapterFileInfo *record, uint32_t kind, int64_t size);
// An adapter's answer as the runtime keeps it.
void qxCopyFileInfo(const qxAdapterFileInfo *source, qxFileInfo *record);

// ---- Directories ----
qxDirHandle *qxOpenDir(const char *name, uint32_t flags, const char *adapterList);
void qxCloseDir(qxDirHandle *h);
void *qxDirAdapterOf(qxDirHandle *h);
int qxGetDirName(qxDirHandle *h, char *buffer, size_t capacity); // 1 or 0
int qxExamineDir(qxDirHandle *h, qxFileInfo *info);               // 1 or 0
int qxCheckIsDir(qxDirHandle *h, int *isNative);                  // 0 or 1250
int qxRewindDir(qxDirHandle *h);                                  // 0, 1625 or 1626
// 1 with the next entry; the name stays valid until the next call.
int qxReadDirEntry(qxDirHandle *h, void *reserved, const char **name, int *isDirectory, qxFileInfo *info);
int qxIsAbsolutePath(const char *path);

// ---- Console ----
void qxPrintF(const char *format, ...) __attribute__((format(printf, 1, 2)));
// A progress line: format filled with file's base name (or printed as it is
// without a file); with progress "..." and no line end, for qxPrintDone.
void qxDebugPrintLine(const char *format, const char *file, int progress);
void qxPrintDone(void);
void qxPrintFailed(void);
void qxPrintSkipped(void);
// Ends a progress line a failed step left open with "failed".
void qxEndOpenProgressLine(void);

int qxLowestBit(uint32_t word); // 0-31, -1 for 0
}
