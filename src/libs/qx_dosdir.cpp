// Directory objects, the one-call listing, the DirectoryItems iterator,
// GetFileAttributes and MonitorDirectory.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>
#include <string>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/runtime/qx_startup.h"
#include "core/vm/lauxlib.h"
#include "core/vm/ldo.h"
#include "libs/qx_dos.h"
#include "libs/qx_dosfs.h"
#include "libs/qx_tablecmds.h"
#include "core/runtime/qx_lists.h"
#include "platform/qx_locale.h"
#include "platform/qx_memory.h"
#include "platform/qx_text.h"

namespace {

qxDirectory *dirList = nullptr;
bool dirListRegistered = false;
// Trees handed over by declarations; each may be taken once.
std::set<const void *> treesTaken;

constexpr size_t kTreePath = 1024;

void unlinkDir(qxDirectory *d)
{
    for (qxObjectHeader **link = reinterpret_cast<qxObjectHeader **>(&dirList); *link; link = &(*link)->next)
        if (*link == &d->header) {
            *link = d->header.next;
            return;
        }
}

void appendDir(qxDirectory *d)
{
    qxObjectHeader **link = reinterpret_cast<qxObjectHeader **>(&dirList);
    while (*link) link = &(*link)->next;
    *link = &d->header;
}

void releaseTree(qxDirTreeRef *ref)
{
    if (ref && --ref->users == 0) {
        qxFreeDirTree(ref->root);
        qxFree(ref);
    }
}

void freeDir(lua_State *L, qxDirectory *d)
{
    if (d->callbackRef >= 0 && L) luaL_unref(L, LUA_REGISTRYINDEX, d->callbackRef);
    if (d->handle) qxCloseDir(d->handle);
    releaseTree(d->treeRef);
    if (L) qxFreeRefList(L, &d->header.data);
    qxFree(d);
}

int findDir(qxObjectRef ref, qxDirectory **out)
{
    for (qxObjectHeader *h = reinterpret_cast<qxObjectHeader *>(dirList); h; h = h->next)
        if (ref.automatic ? h->automatic == ref.automatic : (!h->automatic && h->id == ref.number)) {
            *out = reinterpret_cast<qxDirectory *>(h);
            return 0;
        }
    if (ref.automatic) return ERR_FINDARRAY;
    qxSetErrorNumber(static_cast<int>(ref.number));
    return ERR_FINDDIR;
}

// The directory of argument idx; a listing command refuses a monitor (1055).
int dirArg(lua_State *L, int idx, bool listing, qxDirectory **out)
{
    if (int r = findDir(qxGetObjectIDArg(L, idx), out)) return r;
    return listing && (*out)->monitor ? ERR_WRONGUSAGE : 0;
}

// The tree node whose path (names joined by "/" from the top) equals wanted,
// compared without regard to case.
qxDirEntry *lookUp(qxDirEntry *node, const std::string &prefix, const std::string &wanted, int depth)
{
    if (depth > 64) return nullptr;
    for (; node; node = node->next) {
        std::string built = prefix.empty() ? std::string(node->name) : prefix + "/" + node->name;
        if (built.size() >= kTreePath) continue;
        for (char &c : built)
            if (c == '\\') c = '/';
        if (qxStrICmp(built.c_str(), wanted.c_str()) == 0) return node;
        if (!node->isFile)
            if (qxDirEntry *found = lookUp(node->entries, built, wanted, depth + 1)) return found;
    }
    return nullptr;
}

std::string treePath(const char *text)
{
    std::string s(text);
    for (char &c : s)
        if (c == '\\') c = '/';
    while (!s.empty() && s.front() == '/') s.erase(0, 1);
    while (!s.empty() && s.back() == '/') s.pop_back();
    return s;
}

// A tree a declaration handed over (the loader passes its address once).
bool declaredTree(const void *tree)
{
    if (!tree || treesTaken.count(tree)) return false;
    if (!qxApplet) return false;
    for (const qxObjectRecord *o = qxApplet->objects; o; o = o->next)
        if (o->kind == QX_OBJ_DIRECTORY && o->data == tree) return true;
    return false;
}

void pushNow(lua_State *L)
{
    char date[64];
    qxFormatFileDate(static_cast<uint64_t>(std::time(nullptr)), date, sizeof date);
    qxSetFieldStr(L, "time", date);
    qxSetFieldStr(L, "lastaccesstime", date);
}

// {name, type, size, flags} of a tree node; ":::" trees also get the date.
void pushTreeNode(lua_State *L, const qxDirEntry *node, bool treeFlag)
{
    lua_newtable(L);
    qxSetFieldStr(L, "name", node->name);
    qxSetFieldInt(L, "type", node->isFile ? 0 : 1);
    if (node->isFile) qxSetFieldNum(L, "size", node->value[1]);
    qxSetFieldInt(L, "flags", treeFlag ? 15 : 0);
    if (treeFlag) pushNow(L);
}

// The next entry of a handle object (directories skipped when asked);
// false at the end.
bool nextHandleEntry(qxDirectory *d, const char **name, qxFileInfo *info)
{
    int isDirectory = 0;
    while (qxReadDirEntry(d->handle, nullptr, name, &isDirectory, info)) {
        info->isDirectory = isDirectory ? 1 : 0;
        if (isDirectory && !d->includeDirectories) continue;
        return true;
    }
    return false;
}

const qxDirEntry *nextTreeEntry(qxDirectory *d)
{
    if (!d->started) {
        d->started = 1;
        d->current = d->tree;
    }
    const qxDirEntry *node = d->current;
    if (node) d->current = node->next;
    return node;
}

int rewindDir(qxDirectory *d)
{
    d->endFlag = 0;
    if (d->handle) return qxRewindDir(d->handle);
    d->started = 0;
    return 0;
}

// Opens path as a directory: the handle, or null with 1286 and the path stored.
qxDirHandle *openDirOrFail(const char *path, const char *adapter, int *error)
{
    qxDirHandle *h = qxOpenDir(path, QX_DIR_READLOCK | QX_DIR_ADAPTERS, adapter && *adapter ? adapter : nullptr);
    if (h && qxCheckIsDir(h, nullptr) == 0) return h;
    if (h) qxCloseDir(h);
    qxSetErrorString(path);
    *error = ERR_LOCK2;
    return nullptr;
}

int dirItemsIterator(lua_State *L)
{
    auto *state = static_cast<qxDirItemsState *>(lua_touserdata(L, lua_upvalueindex(1)));
    if (!state || !state->handle) return 0;
    const char *name = nullptr;
    int isDirectory = 0;
    qxFileInfo info{};
    if (!qxReadDirEntry(state->handle, nullptr, &name, &isDirectory, &info)) {
        qxCloseDir(state->handle);
        state->handle = nullptr;
        state->scan = nullptr;
        return 0;
    }
    info.isDirectory = isDirectory ? 1 : 0;
    lua_pushstring(L, name);
    qxPushFileAttrTable(L, &info);
    return 2;
}

} // namespace

extern "C" void qxDosRegisterDirectories(void)
{
    if (!dirListRegistered && qxRegisterObjectList(&dirList, QX_TYPE_DIRECTORY) == 0) dirListRegistered = true;
}

extern "C" void qxDosCloseDirectories(lua_State *L)
{
    while (dirList) {
        qxDirectory *d = dirList;
        dirList = reinterpret_cast<qxDirectory *>(d->header.next);
        freeDir(L, d);
    }
}

int qxCmdOpenDirectory(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 0, 0);
    int automatic = 0;
    uint32_t number = qxGetNewIDArg(L, 1, &automatic);
    std::string path = luaL_checkstring(L, 2);
    char adapter[257] = "";
    int recursive = 1, emptyDir = 0, haveTree = 0;
    void *tree = nullptr;
    if (lua_gettop(L) >= 3 && !lua_isnil(L, 3)) {
        luaL_checktable(L, 3);
        qxGetFieldStr(L, 3, "adapter", adapter, sizeof adapter, nullptr);
        qxGetFieldInt(L, 3, "recursive", &recursive, nullptr);
        qxGetFieldInt(L, 3, "__emptydir", &emptyDir, nullptr);
        lua_pushstring(L, "__direntries");
        lua_gettable(L, 3);
        if (!lua_isnil(L, -1)) {
            if (!lua_islightuserdata(L, -1)) return ERR_WRONGUSAGE;
            tree = lua_touserdata(L, -1);
            haveTree = 1;
        }
        lua_pop(L, 1);
    }
    if (!automatic) {
        qxDirectory *old = nullptr;
        if (findDir(qxObjectRef{number, nullptr}, &old) == 0) {
            unlinkDir(old);
            freeDir(L, old);
        }
        qxSetErrorNumber(0);
    }

    auto *d = static_cast<qxDirectory *>(qxAlloc(sizeof(qxDirectory), 1));
    if (!d) return ERR_MEM;
    d->header.type = QX_TYPE_DIRECTORY;
    d->includeDirectories = recursive ? 1 : 0;
    d->callbackRef = -1;
    int error = 0;
    if (haveTree && tree) {
        // Only a tree the loader handed over is walked: a light userdata from
        // a script could point anywhere.
        if (!declaredTree(tree)) {
            qxFree(d);
            return ERR_WRONGUSAGE;
        }
        d->treeRef = static_cast<qxDirTreeRef *>(qxAlloc(sizeof(qxDirTreeRef), 1));
        if (!d->treeRef) {
            qxFree(d);
            return ERR_MEM;
        }
        treesTaken.insert(tree);
        d->treeRef->root = static_cast<qxDirEntry *>(tree);
        d->treeRef->users = 1;
        d->tree = d->treeRef->root;
    } else if (emptyDir || haveTree) {
        // An empty declared directory: nothing to open.
    } else if (path.compare(0, 3, ":::") == 0) {
        const char *p = path.c_str() + 3;
        char *end = nullptr;
        unsigned long n = std::strtoul(p, &end, 10);
        qxDirectory *owner = nullptr;
        if (end == p || *end != ',' || n > UINT32_MAX) error = ERR_WRONGUSAGE;
        else if (int r = findDir(qxObjectRef{static_cast<uint32_t>(n), nullptr}, &owner)) error = r;
        else {
            qxDirEntry *node = owner->treeRef ? lookUp(owner->tree, "", treePath(end + 1), 0) : nullptr;
            if (!node || node->isFile) {
                qxSetErrorString(path.c_str());
                error = ERR_LOCK2;
            } else {
                d->treeRef = owner->treeRef;
                d->treeRef->users++;
                d->tree = node->entries;
                d->treeFlag = 1;
                d->borrowed = 1;
            }
        }
    } else {
        d->handle = openDirOrFail(path.c_str(), adapter, &error);
        d->scan = d->handle;
    }
    if (error) {
        qxFree(d);
        return error;
    }
    if (automatic) d->header.automatic = d;
    else d->header.id = number;
    appendDir(d);
    if (!automatic) return 0;
    lua_pushlightuserdata(L, d);
    return 1;
}

int qxCmdCloseDirectory(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxDirectory *d = nullptr;
    if (int r = dirArg(L, 1, false, &d)) return r;
    unlinkDir(d);
    freeDir(L, d);
    return 0;
}

int qxCmdNextDirectoryEntry(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxDirectory *d = nullptr;
    if (int r = dirArg(L, 1, true, &d)) return r;
    if (d->endFlag) return 0;
    if (d->handle) {
        const char *name = nullptr;
        qxFileInfo info{};
        if (!nextHandleEntry(d, &name, &info)) {
            d->endFlag = 1;
            return 0;
        }
        qxPushFileAttrTable(L, &info);
        qxSetFieldStr(L, "name", name);
        return 1;
    }
    const qxDirEntry *node = nextTreeEntry(d);
    if (!node) {
        d->endFlag = 1;
        return 0;
    }
    pushTreeNode(L, node, d->treeFlag != 0);
    return 1;
}

int qxCmdRewindDirectory(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxDirectory *d = nullptr;
    if (int r = dirArg(L, 1, true, &d)) return r;
    return rewindDir(d);
}

int qxCmdCountDirectoryEntries(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    qxDirectory *d = nullptr;
    if (int r = dirArg(L, 1, true, &d)) return r;
    int mode = luaL_optint(L, 2, 0);
    if (int r = rewindDir(d)) return r;
    double count = 0;
    if (d->handle) {
        const char *name;
        qxFileInfo info{};
        int isDirectory = 0;
        while (qxReadDirEntry(d->handle, nullptr, &name, &isDirectory, &info))
            if (isDirectory ? (mode == 1 || mode == 2) : (mode == 0 || mode == 2)) count++;
    } else {
        while (const qxDirEntry *node = nextTreeEntry(d))
            if (!node->isFile ? (mode == 1 || mode == 2) : (mode == 0 || mode == 2)) count++;
    }
    if (int r = rewindDir(d)) return r;
    lua_pushnumber(L, count);
    return 1;
}

int qxCmdGetDirectoryEntry(lua_State *L)
{
    qxCheckArgCount(L, 2, 2, 0, 0);
    qxDirectory *d = nullptr;
    if (int r = dirArg(L, 1, true, &d)) return r;
    const char *name = luaL_checkstring(L, 2);
    char out[QX_CHUNKNAME_MAX];
    if (d->treeRef) {
        std::string wanted = treePath(name);
        qxDirEntry *node = lookUp(d->tree, "", wanted, 0);
        if (!node) {
            qxSetErrorString(name);
            return ERR_READFILE;
        }
        if (!node->isFile) {
            if (std::snprintf(out, sizeof out, ":::%u,%s", d->header.id, wanted.c_str()) >= int(sizeof out))
                return ERR_MEM;
        } else if (!qxMakeChunkName(qxFilePart(node->name), out, sizeof out, node->value[0], node->value[1],
                                    qxAppletLoad.dataBase, qxAppletLoad.dataPath)) {
            return ERR_MEM;
        }
        lua_pushstring(L, out);
        return 1;
    }
    if (!d->handle || !qxGetDirName(d->handle, out, sizeof out) || !qxAddPart(out, name, sizeof out)) return ERR_MEM;
    lua_pushstring(L, out);
    return 1;
}

int qxCmdReadDirectory(lua_State *L)
{
    qxCheckArgCount(L, 3, 4, 0, 0);
    const char *path = luaL_checkstring(L, 1);
    for (int i = 2; i <= 3; i++)
        if (!lua_istable(L, i)) {
            qxSetErrorNumber(i);
            return ERR_TABEXPECTED;
        }
    int sort = luaL_optint(L, 4, 1);
    int error = 0;
    qxDirHandle *h = openDirOrFail(path, nullptr, &error);
    if (!h) return error;
    int counts[2] = {0, 0}; // files, directories
    const char *name;
    int isDirectory = 0;
    qxFileInfo info{};
    while (qxReadDirEntry(h, nullptr, &name, &isDirectory, &info)) {
        int which = isDirectory ? 1 : 0;
        lua_pushstring(L, name);
        lua_rawseti(L, 2 + which, counts[which]++);
    }
    qxCloseDir(h);
    for (int which = 0; which < 2; which++) {
        lua_pushstring(L, "");
        lua_rawseti(L, 2 + which, counts[which]);
        if (sort && counts[which] > 1) {
            lua_pushcfunction(L, qxCmdSort);
            lua_pushvalue(L, 2 + which);
            lua_call(L, 1, 0);
        }
    }
    lua_pushnumber(L, counts[0]);
    lua_pushnumber(L, counts[1]);
    return 2;
}

int qxCmdDirectoryItems(lua_State *L)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    const char *path = luaL_checkstring(L, 1);
    auto *state = static_cast<qxDirItemsState *>(lua_newuserdata(L, sizeof(qxDirItemsState)));
    std::memset(state, 0, sizeof *state);
    // The metatable first: the collector then closes a loop left early.
    luaL_getmetatable(L, "DIR*");
    lua_setmetatable(L, -2);
    int error = 0;
    state->handle = openDirOrFail(path, nullptr, &error);
    if (!state->handle) return error;
    state->scan = state->handle;
    lua_pushcclosure(L, dirItemsIterator, 1);
    return 1;
}

int qxCmdGetFileAttributes(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 0, 0);
    std::string name = qxGetFileNameArg(L, 1, 0, nullptr);
    const char *adapter = lua_gettop(L) >= 2 && !lua_isnil(L, 2) ? luaL_checkstring(L, 2) : nullptr;
    qxFileInfo info{};
    char full[QX_PATH_MAX];
    bool chunk = qxIsChunkName(name.c_str());
    if (qxDirHandle *h = qxOpenDir(name.c_str(), QX_DIR_READLOCK | QX_DIR_ADAPTERS, adapter);
        h && qxCheckIsDir(h, nullptr) == 0) {
        int ok = qxExamineDir(h, &info);
        if (ok && !qxGetDirName(h, full, sizeof full)) qxStrCopyN(full, sizeof full, name.c_str());
        qxCloseDir(h);
        if (!ok) {
            qxSetErrorString(name.c_str());
            return ERR_EXAMINE;
        }
        info.isDirectory = 1;
    } else {
        if (h) qxCloseDir(h);
        qxFileHandle *f = qxOpen(name.c_str(), QX_OPEN_READ | QX_OPEN_ADAPTERS, adapter);
        if (!f) {
            qxSetErrorString(name.c_str());
            return ERR_READFILE;
        }
        int ok = qxExamineFH(f, &info);
        qxClose(f);
        if (!ok) {
            qxSetErrorString(name.c_str());
            return ERR_EXAMINE;
        }
        if (chunk || !qxFullPath(name.c_str(), full, sizeof full)) qxStrCopyN(full, sizeof full, name.c_str());
    }
    qxPushFileAttrTable(L, &info);
    qxSetFieldStr(L, "path", chunk ? name.c_str() : full);
    qxSetFieldInt(L, "virtual", chunk ? 1 : 0);
    return 1;
}

int qxCmdMonitorDirectory(lua_State *L)
{
    qxCheckArgCount(L, 2, 3, 8, 0);
    int automatic = 0;
    qxGetNewIDArg(L, 1, &automatic);
    luaL_checkstring(L, 2);
    if (lua_gettop(L) >= 3 && !lua_isnil(L, 3)) luaL_checktable(L, 3);
    // No directory watching on this platform: the object would be removed
    // again at once, so none is made.
    return ERR_MONITORDIR;
}
