// The "dos" library: open-file objects, byte movers shared with other
// libraries, and the handlers that its command table lists.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>

#include "core/files/qx_file.h"
#include "core/commands/qx_objreg.h"
#include "core/vm/lua.h"
#include "platform/qx_objectref.h"

#include <string>

constexpr uint32_t QX_TYPE_FILE = 44;

// Access kinds of an open file.
constexpr uint32_t QX_ACCESS_READ = 1, QX_ACCESS_WRITE = 2, QX_ACCESS_READWRITE = 4;

// Modes of OpenFile.
constexpr int QX_MODE_READWRITE = 1004, QX_MODE_READ = 1005, QX_MODE_WRITE = 1006;

// One open file; the header lets the generic object functions walk the list.
struct qxDosFile {
    qxObjectHeader header; // type 44, number, automatic identifier, next, attached data
    uint32_t mode;
    uint32_t access;
    qxFileHandle *handle;
};

// A position in memory that the byte movers read from or write to instead
// of a file; end bounds it.
struct qxMemCursor {
    uint8_t *p;
    uint8_t *end;
};

// A DirectoryItems userdata ("DIR*"): directory handle, scan state, spare.
struct qxDirItemsState {
    qxDirHandle *handle;
    void *scan;
    void *spare;
};

extern "C" {
// Set by UseCarriageReturn: line ends written by this library are CR LF.
extern int qxDosCarriageReturn;
// Set by SetIOMode: 0 buffered, 1 unbuffered.
extern int qxDosIOMode;

// 0 with *file, else 1041 (automatic identifier) or 1179 (number).
int qxFindFile(qxObjectRef ref, qxDosFile **file);
// Reads size bytes from h, or from *cursor when h is null; sizes 1, 2, 4
// and 8 are turned from big-endian unless raw or endian is set. 0 or 1009.
int qxFileReadBytes(qxFileHandle *h, void *destination, int raw, size_t size, int endian, qxMemCursor *cursor);
// The mirror image; 0 or 1005.
int qxFileWriteBytes(qxFileHandle *h, const void *source, int raw, size_t size, int endian, qxMemCursor *cursor);
// Frees one file object (closing its handle and its attached data); it must
// already be out of the list.
void qxFreeDosObject(lua_State *L, qxDosFile *file);
// The open file of argument idx and its access check: need 1 refuses
// write-only files (1142), need 2 read-only ones (1141), 0 checks nothing.
// Returns 0 (with the file in *out when given) or the code, which the
// command returns so that status calls and error handlers see it.
int qxDosFileArg(lua_State *L, int idx, int need, qxDosFile **out);
// Pushes the attribute table of a file or directory.
void qxPushFileAttrTable(lua_State *L, const qxFileInfo *info);
// Reads that form: 1 with *out filled (local time fields; mktime gives
// the time), 0 for any other text or an impossible date. Reads nothing past
// the text's terminator.
int qxParseDateTime(const char *text, struct tm *out);
// Creates the "FILE*" and "DIR*" metatables.
void qxDosCreateMetatables(lua_State *L);
void qxDosCloseFiles(lua_State *L);
}

// Reads exactly n bytes from h (or the cursor) into out, growing it in
// pieces so that a length read from a damaged file allocates no more than
// the data that is really there. 0, 1009 (short read) or 1000.
int qxDosReadBlock(qxFileHandle *h, qxMemCursor *cursor, uint64_t n, std::string &out);
// Drops every CR of the n bytes at p; the bytes left.
size_t qxDropCarriageReturns(char *p, size_t n);
// A file's default encoding argument: the default encoding (qxDefaultEncoding).
int qxDosEncodingArg(lua_State *L, int idx);

// File objects and whole files (qx_dosfile.cpp).
int qxCmdOpenFile(lua_State *L);
int qxCmdCloseFile(lua_State *L);
int qxCmdFlushFile(lua_State *L);
int qxCmdFilePos(lua_State *L);
int qxCmdFileLength(lua_State *L);
int qxCmdEof(lua_State *L);
int qxCmdSeek(lua_State *L);
int qxCmdFileAttributes(lua_State *L);
int qxCmdUseCarriageReturn(lua_State *L);
int qxCmdSetIOMode(lua_State *L);
int qxCmdFileLines(lua_State *L);
int qxCmdFileToString(lua_State *L);
int qxCmdStringToFile(lua_State *L);
int qxCmdGetAsset(lua_State *L);

// Reading and writing (qx_dosio.cpp).
int qxCmdReadLine(lua_State *L);
int qxCmdWriteLine(lua_State *L);
int qxCmdReadBytes(lua_State *L);
int qxCmdReadString(lua_State *L);
int qxCmdReadByte(lua_State *L);
int qxCmdReadChr(lua_State *L);
int qxCmdReadShort(lua_State *L);
int qxCmdReadInt(lua_State *L);
int qxCmdReadFloat(lua_State *L);
int qxCmdWriteBytes(lua_State *L);
int qxCmdWriteString(lua_State *L);
int qxCmdWriteByte(lua_State *L);
int qxCmdWriteChr(lua_State *L);
int qxCmdWriteShort(lua_State *L);
int qxCmdWriteInt(lua_State *L);
int qxCmdWriteFloat(lua_State *L);

// Checksums, packing and patching (qx_checksum.cpp, qx_packfile.cpp, qx_patch.cpp).
int qxCmdCRC32(lua_State *L);
int qxCmdMD5(lua_State *L);
int qxCmdCompressFile(lua_State *L);
int qxCmdDecompressFile(lua_State *L);
int qxCmdApplyPatch(lua_State *L);

// Tables and functions in files (qx_serialize.cpp).
int qxCmdWriteTable(lua_State *L);
int qxCmdReadTable(lua_State *L);
int qxCmdWriteFunction(lua_State *L);
int qxCmdReadFunction(lua_State *L);
