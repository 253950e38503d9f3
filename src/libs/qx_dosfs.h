// The "dos" library's file-system side: patterns, date texts, directory
// objects, copying and deleting, paths, virtual string files and programs.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "core/files/qx_chunkname.h"
#include "core/files/qx_file.h"
#include "core/commands/qx_objreg.h"
#include "core/applet/qx_preproc.h"
#include "core/vm/lua.h"

constexpr uint32_t QX_TYPE_DIRECTORY = 45;

// Longest pattern list (with its two terminating zero bytes).
constexpr size_t QX_PATTERN_BUFFER = 1032;

// An entry tree that directory objects walk; kept while any object uses it.
struct qxDirTreeRef {
    qxDirEntry *root;
    uint32_t users;
};

struct qxDirectory {
    qxObjectHeader header; // type 45, number, automatic identifier, next, attached data
    uint32_t endFlag;
    uint32_t includeDirectories;
    uint32_t treeFlag;
    qxDirHandle *handle;
    void *scan;
    uint32_t monitor;
    qxDirEntry *tree;
    qxDirEntry *current;
    uint32_t started;
    uint32_t borrowed;
    int32_t callbackRef;
    qxDirTreeRef *treeRef; // the tree's keeper, null for handle objects
};

// One DefineVirtualFileFromString; the chunk name's reference holds its address.
struct qxVirtualStringFile {
    qxVirtualStringFile *next;
    int32_t writable;
    int32_t stringRef;
    int32_t recordRef;
    qxMemRecord memory; // data, capacity and size as the file layer sees them
    char *name;
    uint64_t serial; // tells a record from a later one at the same address
};

extern "C" {
// 1 when string matches the ";"-separated pattern list, 0 when not, -1 when
// the list is too long for the pattern buffer (refused, never cut).
int qxMatchPatternList(const char *string, const char *patterns);

// 1 when record is a defined virtual string file.
int qxIsVirtualFile(const void *record);
// The virtual string file a chunk name refers to, or null.
qxVirtualStringFile *qxVirtualFileOfName(const char *name);
// The listed record with this serial number, or null once undefined.
qxVirtualStringFile *qxVirtualFileBySerial(uint64_t serial);

// Lets the chunk-name parser trust only listed records.
void qxDosInstallVirtualFiles(void);
void qxDosRegisterDirectories(void);
void qxDosCloseDirectories(lua_State *L);
void qxDosFreeVirtualFiles(lua_State *L);
// Frees the undefined virtual files no open file uses any more.
void qxDosFreeUnusedVirtualFiles(lua_State *L);
void qxDosFreePrograms(lua_State *L);

// For the event library on event 10: when record (the event's automatic
// identifier) is a running Run's, ends its thread, frees it and gives the
// registry reference of its user data (-1 for none; the caller releases
// it). 0 when the record is unknown.
int qxDosEndProgram(void *record, int *userRef);
// The program path and arguments (null for none) of a running Run's
// record; 0 when the record is unknown.
int qxDosProgramOf(void *record, const char **program, const char **arguments);

// Answers whether a "RunFinished" handler is installed; main points it at
// the event library. Null: none.
extern int (*qxRunFinishedHandlerInstalled)(lua_State *L);
}

// A callback of a long command: runs the function at index fn with the
// message table on the stack top, protected and counted as a callback
// level. 0 with the answer as a number (non-numbers count as 0), the
// callback's error, or 1003 when the user asked to quit.
int qxDosAskCallback(lua_State *L, int fn, double *answer);

// Directory commands (qx_dosdir.cpp).
int qxCmdOpenDirectory(lua_State *L);
int qxCmdCloseDirectory(lua_State *L);
int qxCmdNextDirectoryEntry(lua_State *L);
int qxCmdRewindDirectory(lua_State *L);
int qxCmdCountDirectoryEntries(lua_State *L);
int qxCmdGetDirectoryEntry(lua_State *L);
int qxCmdReadDirectory(lua_State *L);
int qxCmdDirectoryItems(lua_State *L);
int qxCmdGetFileAttributes(lua_State *L);
int qxCmdMonitorDirectory(lua_State *L);

// Copying, moving and deleting (qx_doscopy.cpp).
int qxCmdCopyFile(lua_State *L);
int qxCmdMoveFile(lua_State *L);
int qxCmdDeleteFile(lua_State *L);

// Single objects (qx_dosattr.cpp).
int qxCmdRename(lua_State *L);
int qxCmdMakeDirectory(lua_State *L);
int qxCmdSetFileAttributes(lua_State *L);
int qxCmdExists(lua_State *L);
int qxCmdIsDirectory(lua_State *L);
int qxCmdFileSize(lua_State *L);
int qxCmdHaveVolume(lua_State *L);
int qxCmdGetVolumeName(lua_State *L);
int qxCmdGetVolumeInfo(lua_State *L);
// Creates path with every missing parent: 0 or 1084.
int qxDosMakePath(const char *path);

// Paths, patterns, environment and virtual files (qx_dospath.cpp).
int qxCmdFilePart(lua_State *L);
int qxCmdPathPart(lua_State *L);
int qxCmdFullPath(lua_State *L);
int qxCmdGetCurrentDirectory(lua_State *L);
int qxCmdChangeDirectory(lua_State *L);
int qxCmdMatchPattern(lua_State *L);
int qxCmdGetTempFileName(lua_State *L);
int qxCmdGetEnv(lua_State *L);
int qxCmdSetEnv(lua_State *L);
int qxCmdUnsetEnv(lua_State *L);
int qxCmdDefineVirtualFile(lua_State *L);
int qxCmdDefineVirtualFileFromString(lua_State *L);
int qxCmdUndefineVirtualStringFile(lua_State *L);

// Programs (qx_dosrun.cpp).
int qxCmdRun(lua_State *L);
int qxCmdExecute(lua_State *L);

#define QX_DOSFS_COMMAND_ROWS                                                                      \
    {"OpenDirectory", qxCmdOpenDirectory}, {"CloseDirectory", qxCmdCloseDirectory},                \
        {"NextDirectoryEntry", qxCmdNextDirectoryEntry}, {"RewindDirectory", qxCmdRewindDirectory}, \
        {"CountDirectoryEntries", qxCmdCountDirectoryEntries},                                     \
        {"GetDirectoryEntry", qxCmdGetDirectoryEntry}, {"ReadDirectory", qxCmdReadDirectory},      \
        {"DirectoryItems", qxCmdDirectoryItems}, {"GetFileAttributes", qxCmdGetFileAttributes},    \
        {"MonitorDirectory", qxCmdMonitorDirectory}, {"CopyFile", qxCmdCopyFile},                  \
        {"MoveFile", qxCmdMoveFile}, {"DeleteFile", qxCmdDeleteFile}, {"Rename", qxCmdRename},     \
        {"MakeDirectory", qxCmdMakeDirectory}, {"SetFileAttributes", qxCmdSetFileAttributes},      \
        {"Exists", qxCmdExists}, {"IsDirectory", qxCmdIsDirectory}, {"FileSize", qxCmdFileSize},   \
        {"HaveVolume", qxCmdHaveVolume}, {"GetVolumeName", qxCmdGetVolumeName},                    \
        {"GetVolumeInfo", qxCmdGetVolumeInfo}, {"FilePart", qxCmdFilePart},                        \
        {"PathPart", qxCmdPathPart}, {"FullPath", qxCmdFullPath},                                  \
        {"GetCurrentDirectory", qxCmdGetCurrentDirectory},                                         \
        {"ChangeDirectory", qxCmdChangeDirectory}, {"MatchPattern", qxCmdMatchPattern},            \
        {"GetTempFileName", qxCmdGetTempFileName}, {"GetEnv", qxCmdGetEnv}, {"SetEnv", qxCmdSetEnv}, \
        {"UnsetEnv", qxCmdUnsetEnv}, {"DefineVirtualFile", qxCmdDefineVirtualFile},                \
        {"DefineVirtualFileFromString", qxCmdDefineVirtualFileFromString},                         \
        {"UndefineVirtualStringFile", qxCmdUndefineVirtualStringFile}, {"Run", qxCmdRun},          \
        {"Execute", qxCmdExecute}
