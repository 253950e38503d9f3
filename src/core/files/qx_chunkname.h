// Chunk names: ":::chunk<offset>:<size>*<name>?<container>" for data inside
// a file, ":::chunkS<reference>:<size>*<name>?<container>" for a memory block
// held in the VM registry. Also the memory-file descriptor, the linked-file
// list of an applet and the resolution of script file names against it.
#pragma once
#include <cstddef>
#include <cstdint>

struct lua_State;

// The memory record behind a memory file. A memory block of the memblock
// library begins with these fields, in this order.
struct qxMemRecord {
    void *data;       // qxAlloc'd (blocks that may grow) or borrowed
    int64_t capacity; // bytes allocated
    int64_t size;     // bytes valid
    char *name;
    uint32_t writable;
};

// A file linked into the applet (filled by the applet loader).
struct qxLinkedFile {
    qxLinkedFile *next;
    char name[1024];
    char container[1024]; // file holding the data; empty: the program itself
    uint32_t offset;      // relative to the start of the applet
    uint32_t size;
};

// Memory-file descriptor: passed to qxOpen in place of a file name. Only
// descriptors made by qxMakeMemoryName are recognised; the trailing key
// keeps a name from elsewhere (a script's text) from passing as one.
struct qxMemoryName {
    char tag[10];        // ":::memory" and its terminator
    uint8_t pointer[8];  // native-endian data pointer
    uint8_t size[4];     // native-endian u32 size
    uint8_t key[8];
};

// Answers whether a memory block (the userdata a registry reference holds)
// is still defined as a virtual file, and gives its memory record; null
// when it is not. Installed by the memory-block library. The reference comes
// from a name a script may write, so the pointer can be any userdata: it
// must be looked up among the library's own blocks, never trusted. stamp is
// the size field of the name, in which the virtual-file commands write the
// block's serial: a reference freed and taken again by a later block gives
// that block, which the stamp tells apart.
typedef qxMemRecord *(*qxVirtualFileCheck)(void *block, uint32_t stamp);

enum : size_t { QX_CHUNKNAME_MAX = 1024 };

extern "C" {
void qxSetVirtualFileCheck(qxVirtualFileCheck check);

// True for both forms (the name begins with ":::chunk").
int qxIsChunkName(const char *name);

// offset -1: S form with base as the registry reference; otherwise the
// plain form at offset base + offset (32-bit unsigned). 1, or 0 when the
// name holds "?" or the result does not fit into capacity.
int qxMakeChunkName(const char *name, char *buffer, size_t capacity, int64_t offset, uint32_t size,
                    int64_t base, const char *container);

// Every output is optional. For the S form offset is 0, the container empty
// and, unless the reference is -1, the block must still be a virtual file:
// it is stored in block and its current size replaces size. 1 or 0
// (malformed, a dead block, or an output that does not fit).
int qxParseChunkName(const char *name, uint32_t *offset, uint32_t *size, char *innerName,
                     size_t innerCapacity, char *container, size_t containerCapacity,
                     char *extension, size_t extensionCapacity, qxMemRecord **block);

// The name shown in messages: a chunk's inner name (the chunk name itself
// when malformed), then the part after the last "/" or "\", else after the
// first ":". The result may live in a static buffer that the next call
// overwrites.
const char *qxChunkBaseName(const char *path);
// The same for a chunk name into a caller's buffer; 0 when the text is not
// a well-formed chunk name, its inner name is empty, or it does not fit.
int qxChunkNameBaseName(const char *chunk, char *out, size_t size);


// Fills a descriptor for size bytes at pointer.
void qxMakeMemoryName(qxMemoryName *descriptor, const void *pointer, uint32_t size);
// True when name is a descriptor made by qxMakeMemoryName; its pointer and
// size are then stored. Reads nothing past the text of any other name.
int qxReadMemoryName(const char *name, void **pointer, uint32_t *size);

// The name to open for a script's file name: a linked file becomes its
// chunk name (in a static buffer). In font mode (fontMode set and no
// ".ttf"/".otf" ending) only "::font:" entries match.
const char *qxResolveFileName(lua_State *L, const char *name, int fontMode, int *isFont);
// Reads string argument index (1139 when it is not a string) and resolves it.
const char *qxGetFileNameArg(lua_State *L, int index, int fontMode, int *isFont);
}
