// System library: the requester commands.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/applet/qx_applet.h"
#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/runtime/qx_lists.h"
#include "core/vm/lauxlib.h"
#include "libs/qx_requestdispatch.h"
#include "libs/qx_systemlib.h"
#include "platform/qx_memory.h"
#include "platform/qx_paths.h"
#include "platform/qx_text.h"

namespace {

enum { REQ_NORMAL = 0, REQ_MULTISELECT = 1, REQ_SAVEMODE = 2, REQ_HIDEICONS = 65536 };
constexpr size_t LAST_CHOICE_SIZE = 1025;

char lastDirectory[LAST_CHOICE_SIZE];
char lastFile[LAST_CHOICE_SIZE];

// Frees a platform allocation however the command leaves.
struct Owned {
    char *p = nullptr;
    ~Owned() { qxFree(p); }
};

struct FileResult {
    qxFileRequestResult r{};
    ~FileResult() { qxFreeFileResult(&r); }
};

void remember(char *slot, const char *path) {
    if (std::strlen(path) < LAST_CHOICE_SIZE) std::strcpy(slot, path);
}

// The title argument; an empty one becomes the applet's title.
const char *titleArg(lua_State *L) {
    const char *title = luaL_checkstring(L, 1);
    if (*title) return title;
    const qxAppletInfo *applet = qxGetAppletRecord(L);
    return applet ? applet->header[0] : "";
}

// Runs one requester with the display flagged as showing it.
template <typename F> int ask(lua_State *L, F &&request) {
    if (qxRequesters.requesterOpen) qxRequesters.requesterOpen(L, 1);
    int r = request();
    if (qxRequesters.requesterOpen) qxRequesters.requesterOpen(L, 0);
    return r;
}

bool isWholeNumber(const char *text) {
    if (!*text) return true;
    char *end;
    std::strtod(text, &end);
    return end != text && !*end;
}

// The byte length of the first maxLength bytes, ended at a whole character
// in UTF-8 mode.
size_t cutLength(const char *text, size_t length, size_t maxLength) {
    if (length <= maxLength) return length;
    size_t n = maxLength;
    if (qxTextModeUtf8)
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) n--;
    return n;
}

// Directory joined with a file name; 0 when the path is too long.
int joinPath(const char *directory, const char *name, std::string &out) {
    char path[QX_PATH_MAX];
    if (!qxStrCopyN(path, sizeof path, directory)) return 0;
    if (!qxAddPart(path, name, sizeof path)) return 0;
    out = path;
    return 1;
}

// Default entries: the platform requesters.
int platformSystem(lua_State *L, const char *title, const char *body, const char *buttons, int icon, int,
                   int *choice) {
    return qxPlatformMessageBox(L, title, body, buttons, icon, choice);
}

int platformPath(lua_State *L, const char *title, int mode, const char *defaultPath, int, char **path) {
    return qxPlatformPathRequest(L, title, mode, defaultPath, path);
}

int platformString(lua_State *L, const char *title, const char *body, const char *defaultText, int type,
                   int maxLength, int password, int, char **text) {
    return qxPlatformStringRequest(L, title, body, defaultText, type, maxLength, password, text);
}

int platformList(lua_State *L, const char *title, const char *body, const char *entries, int preselected, int,
                 int *index) {
    return qxPlatformListRequest(L, title, body, entries, preselected, index);
}

int platformColor(lua_State *L, const char *title, int32_t defaultColor, int, int32_t *color) {
    return qxPlatformColorRequest(L, title, defaultColor, color);
}

int platformFile(lua_State *L, const char *title, const char *filter, int mode, const char *dir, const char *file,
                 int, qxFileRequestResult *result) {
    return qxPlatformFileRequest(L, title, filter, mode, dir, file, result);
}

int platformFont(lua_State *L, const char *title, const char *defaultFont, int, qxFontRequestResult *result) {
    const int e = qxPlatformFontRequest(L, title, defaultFont, result->size, result);
    result->number = -1;
    return e;
}

} // namespace

qxRequesterDispatch qxRequesters = {
    platformSystem, platformPath, platformFile, platformString, platformList, platformFont, platformColor, nullptr,
};

int qxCmdSystemRequest(lua_State *L) {
    qxCheckArgCount(L, 3, 4, 0, 0);
    const char *title = titleArg(L);
    const char *body = luaL_checkstring(L, 2);
    const char *buttons = luaL_checkstring(L, 3);
    int icon = luaL_optint(L, 4, 0);
    int choice = 0;
    int r = ask(L, [&] { return qxRequesters.system(L, title, body, buttons, icon, 0, &choice); });
    // A quit request while the requester was open: the answer still
    // counts, and the script ends at its next poll.
    if (r && r != ERR_USERABORT) return r;
    lua_pushnumber(L, choice);
    return 1;
}

int qxCmdStringRequest(lua_State *L) {
    qxCheckArgCount(L, 2, 6, 0, 0);
    const char *title = titleArg(L);
    const char *body = luaL_checkstring(L, 2);
    size_t length = 0;
    const char *def = lua_isnoneornil(L, 3) ? "" : luaL_checklstring(L, 3, &length);
    int type = luaL_optint(L, 4, 0);
    double maxLength = luaL_optnumber(L, 5, 0);
    int password = luaL_optint(L, 6, 0);
    if (type != 0 && type != QX_REQINPUT_NUMERICAL) return ERR_WRONGUSAGE;
    if (!(maxLength >= 0 && maxLength <= 1e9)) return ERR_WRONGUSAGE;
    std::string cut;
    try {
        cut.assign(def, maxLength > 0 ? cutLength(def, length, static_cast<size_t>(maxLength)) : length);
    } catch (const std::bad_alloc &) {
        return ERR_MEM;
    }
    if (type == QX_REQINPUT_NUMERICAL && !isWholeNumber(cut.c_str())) return ERR_WRONGUSAGE;
    Owned text;
    if (int r = ask(L, [&] {
            return qxRequesters.string(L, title, body, cut.c_str(), type, static_cast<int>(maxLength), password, 0,
                                       &text.p);
        }))
        return r;
    lua_pushstring(L, text.p ? text.p : "");
    lua_pushnumber(L, text.p ? 1 : 0);
    return 2;
}

int qxCmdListRequest(lua_State *L) {
    qxCheckArgCount(L, 3, 4, 0, 0);
    const char *title = titleArg(L);
    const char *body = luaL_checkstring(L, 2);
    luaL_checktable(L, 3);
    double def = luaL_optnumber(L, 4, -1);
    std::string block;
    int count = 0;
    try {
        for (;; count++) {
            lua_rawgeti(L, 3, count);
            int type = lua_type(L, -1);
            if (type == LUA_TNIL) {
                lua_pop(L, 1);
                break;
            }
            if (type != LUA_TSTRING && type != LUA_TNUMBER) {
                lua_pop(L, 1);
                return ERR_WRONGUSAGE;
            }
            const char *entry = lua_tostring(L, -1);
            // Zero bytes would end the entry early; an empty entry shows as a blank.
            size_t shown = std::strlen(entry);
            block.append(shown ? entry : " ", shown ? shown : 1);
            block.push_back('\0');
            lua_pop(L, 1);
            if (count == 0x7FFFFFFE) break;
        }
        block.push_back('\0');
    } catch (const std::bad_alloc &) {
        return ERR_MEM;
    }
    if (count == 0) return ERR_WRONGUSAGE;
    int preselected = def >= -1 && def <= count - 1 ? static_cast<int>(def) : -1;
    int index = -1;
    if (int r = ask(L, [&] { return qxRequesters.list(L, title, body, block.data(), preselected, 0, &index); }))
        return r;
    lua_pushnumber(L, index);
    return 1;
}

int qxCmdPathRequest(lua_State *L) {
    qxCheckArgCount(L, 1, 3, 0, 0);
    const char *title = titleArg(L);
    int mode = luaL_optint(L, 2, REQ_NORMAL);
    const char *def = lua_isnoneornil(L, 3) ? "" : luaL_checkstring(L, 3);
    if (mode != REQ_NORMAL && mode != REQ_SAVEMODE) return ERR_WRONGUSAGE;
    if (!*def && *lastDirectory) def = lastDirectory;
    std::string defCopy(def);
    Owned path;
    if (int r = ask(L, [&] { return qxRequesters.path(L, title, mode, defCopy.c_str(), 0, &path.p); })) return r;
    if (path.p) remember(lastDirectory, path.p);
    lua_pushstring(L, path.p ? path.p : "");
    return 1;
}

int qxCmdFileRequest(lua_State *L) {
    qxCheckArgCount(L, 1, 5, 0, 0);
    const char *title = titleArg(L);
    const char *filter = lua_isnoneornil(L, 2) ? "" : luaL_checkstring(L, 2);
    double modeArg = luaL_optnumber(L, 3, REQ_NORMAL);
    std::string dir = lua_isnoneornil(L, 4) ? "" : luaL_checkstring(L, 4);
    std::string file = lua_isnoneornil(L, 5) ? "" : luaL_checkstring(L, 5);
    if (!(modeArg >= 0 && modeArg < 4294967296.0)) return ERR_WRONGUSAGE;
    uint32_t mode = static_cast<uint32_t>(modeArg);
    int hideIcons = (mode & REQ_HIDEICONS) ? 1 : 0;
    mode &= ~static_cast<uint32_t>(REQ_HIDEICONS);
    if (mode > REQ_SAVEMODE) return ERR_WRONGUSAGE;
    if (dir.empty() && file.empty() && *lastFile) {
        const char *name = qxFilePart(lastFile);
        dir.assign(lastFile, static_cast<size_t>(name - lastFile));
        file = name;
    }
    FileResult result;
    if (int r = ask(L, [&] {
            return qxRequesters.file(L, title, filter, static_cast<int>(mode), dir.c_str(), file.c_str(), hideIcons,
                                     &result.r);
        }))
        return r;
    bool multi = mode == REQ_MULTISELECT;
    const qxFileRequestResult &res = result.r;
    if (!res.completed || !res.file || res.count == 0) {
        if (!multi) {
            lua_pushstring(L, "");
            return 1;
        }
        lua_newtable(L);
        lua_pushstring(L, "");
        lua_rawseti(L, -2, 0);
        return 1;
    }
    std::string path;
    const char *directory = res.path ? res.path : "";
    if (!joinPath(directory, res.file, path)) return ERR_WRONGUSAGE;
    remember(lastFile, path.c_str());
    if (!multi) {
        lua_pushstring(L, path.c_str());
        return 1;
    }
    lua_newtable(L);
    const char *name = res.file;
    for (uint32_t i = 0; i < res.count; i++, name += std::strlen(name) + 1) {
        if (!joinPath(directory, name, path)) return ERR_WRONGUSAGE;
        lua_pushstring(L, path.c_str());
        lua_rawseti(L, -2, static_cast<int>(i));
    }
    lua_pushstring(L, "");
    lua_rawseti(L, -2, static_cast<int>(res.count));
    return 1;
}

int qxCmdFontRequest(lua_State *L) {
    qxCheckArgCount(L, 1, 3, 0, 0);
    const char *title = titleArg(L);
    const char *def = lua_isnoneornil(L, 2) ? "" : luaL_checkstring(L, 2);
    int flags = luaL_optint(L, 3, 0);
    qxFontRequestResult a{};
    a.weight = 80;
    a.number = -1;
    // The size the requester starts with (the desktop's own default): with
    // none, GTK preselected the font at size 0 and answered 0 unchanged.
    a.size = 10;
    if (int r = ask(L, [&] { return qxRequesters.font(L, title, def, flags, &a); })) return r;
    a.name[sizeof a.name - 1] = 0;
    char name[sizeof a.name + 64];
    qxFontDisplayName(a.name, a.weight, a.slant, name, sizeof name);
    lua_newtable(L);
    qxSetFieldStr(L, "name", name);
    qxSetFieldStr(L, "family", a.name);
    qxSetFieldInt(L, "size", a.size);
    qxSetFieldInt(L, "weight", a.weight);
    qxSetFieldInt(L, "slant", a.slant);
    qxSetFieldInt(L, "underline", a.underline);
    qxSetFieldInt(L, "strikeout", a.strikeout);
    qxSetFieldInt(L, "bold", int(a.bold));
    qxSetFieldInt(L, "italic", int(a.italic));
    qxSetFieldInt(L, "color", a.number);
    return 1;
}

int qxCmdColorRequest(lua_State *L) {
    qxCheckArgCount(L, 1, 2, 0, 0);
    const char *title = titleArg(L);
    int32_t def = static_cast<int32_t>(luaL_optint(L, 2, -1));
    int32_t color = -1;
    if (int r = ask(L, [&] { return qxRequesters.color(L, title, def, 0, &color); })) return r;
    lua_pushnumber(L, color);
    return 1;
}

