// The system library's plug-in commands: HavePlugin, EnablePlugin,
// DisablePlugin, LoadPlugin and GetPlugins.
#include "libs/qx_plugincmds.h"

#include <strings.h>

#include <cstring>
#include <string>

#include "core/commands/qx_args.h"
#include "core/commands/qx_cmdcall.h"
#include "core/errors/qx_errors.h"
#include "core/runtime/qx_lists.h"
#include "core/plugins/qx_plugins.h"
#include "core/applet/qx_preproc.h"
#include "core/vm/lauxlib.h"
#include "platform/qx_memory.h"
#include "platform/qx_text.h"

namespace {

bool endsWithQxp(const std::string &s) { return s.size() >= 4 && strcasecmp(s.c_str() + s.size() - 4, ".qxp") == 0; }

std::string withQxp(const char *name)
{
    std::string s = name;
    if (!endsWithQxp(s)) s += ".qxp";
    return s;
}

std::string withoutQxp(const char *name)
{
    std::string s = name;
    if (endsWithQxp(s)) s.resize(s.size() - 4);
    return s;
}

qxPluginInfo *findOpen(const std::string &name)
{
    for (qxPluginNode *n = qxPluginList; n; n = n->next)
        if (n->handle && n->handle->info->name && strcasecmp(n->handle->info->name, name.c_str()) == 0)
            return n->handle->info;
    return nullptr;
}

// A plug-in's text in the script's text mode.
void pushText(lua_State *L, const char *text)
{
    if (!text) {
        lua_pushstring(L, "");
        return;
    }
    bool valid = qxUtf8Scan(text, std::strlen(text), nullptr);
    char *converted = nullptr;
    if (qxTextModeUtf8 && !valid) converted = qxLatin1ToUtf8Dup(text);
    else if (!qxTextModeUtf8 && valid) converted = qxUtf8ToLatin1Dup(text);
    lua_pushstring(L, converted ? converted : text);
    qxFree(converted);
}

void setText(lua_State *L, const char *key, const char *text)
{
    lua_pushstring(L, key);
    pushText(L, text);
    lua_settable(L, -3);
}

void pushFileTypes(lua_State *L, const qxPluginFileType *types)
{
    lua_newtable(L);
    for (int i = 0; types && types[i].name; i++) {
        lua_pushnumber(L, i);
        lua_newtable(L);
        qxSetFieldUInt(L, "type", types[i].type);
        setText(L, "name", types[i].name);
        setText(L, "extensions", types[i].extensions);
        setText(L, "mimetype", types[i].mimeType);
        qxSetFieldUInt(L, "formatid", types[i].formatId);
        qxSetFieldUInt(L, "flags", types[i].flags);
        lua_settable(L, -3);
    }
}

int setPluginDisabled(lua_State *L, uint32_t flag)
{
    qxCheckArgCount(L, 1, 1, 0, 0);
    std::string name = withoutQxp(luaL_checkstring(L, 1));
    qxPluginInfo *info = findOpen(name);
    if (!info) {
        qxSetErrorString(name.c_str());
        return ERR_FINDPLUGIN;
    }
    qxSetPluginDisabled(info, flag);
    return 0;
}

void freeTags(qxRequireTag *tags) { qxFreeRequireTags(tags); }

// Every string-keyed field other than the three options becomes a tag.
int readOptions(lua_State *L, int t, int *version, int *revision, int *skip, qxRequireTag **tags)
{
    qxRequireTag **tail = tags;
    lua_pushnil(L);
    while (lua_next(L, t)) {
        if (lua_type(L, -2) != LUA_TSTRING) {
            lua_pop(L, 2);
            return ERR_WRONGUSAGE;
        }
        const char *key = lua_tostring(L, -2);
        int type = lua_type(L, -1);
        if (type != LUA_TNUMBER && type != LUA_TSTRING) {
            lua_pop(L, 2);
            return ERR_WRONGUSAGE;
        }
        if (!strcasecmp(key, "version")) *version = int(lua_tonumber(L, -1));
        else if (!strcasecmp(key, "revision")) *revision = int(lua_tonumber(L, -1));
        else if (!strcasecmp(key, "skiprequire")) *skip = int(lua_tonumber(L, -1));
        else {
            auto *tag = static_cast<qxRequireTag *>(qxAlloc(sizeof(qxRequireTag), 1));
            size_t klen = std::strlen(key) + 1;
            if (tag) tag->name = static_cast<char *>(qxAlloc(klen, 0));
            if (tag && tag->name) {
                std::memcpy(tag->name, key, klen);
                if (type == LUA_TSTRING) {
                    const char *v = lua_tostring(L, -1);
                    size_t vlen = std::strlen(v) + 1;
                    tag->text = static_cast<char *>(qxAlloc(vlen, 0));
                    if (tag->text) std::memcpy(tag->text, v, vlen);
                } else {
                    tag->number = lua_tonumber(L, -1);
                }
            }
            if (!tag || !tag->name || (type == LUA_TSTRING && !tag->text)) {
                if (tag) {
                    qxFree(tag->name);
                    qxFree(tag);
                }
                lua_pop(L, 2);
                return ERR_MEM;
            }
            *tail = tag;
            tail = &tag->next;
        }
        lua_pop(L, 1);
    }
    return 0;
}

} // namespace

extern "C" {

void qxPushPluginTable(lua_State *L)
{
    lua_newtable(L);
    int index = 0;
    for (qxPluginNode *n = qxPluginList; n; n = n->next) {
        if (!n->handle) continue;
        const qxPluginInfo *info = n->handle->info;
        lua_pushnumber(L, index++);
        lua_newtable(L);
        qxSetFieldInt(L, "version", info->version);
        qxSetFieldInt(L, "revision", info->revision);
        qxSetFieldUInt(L, "capabilities", info->capabilities);
        setText(L, "name", info->name);
        setText(L, "author", info->author);
        setText(L, "description", info->description);
        setText(L, "copyright", info->copyright);
        setText(L, "url", info->url);
        setText(L, "date", info->date);
        setText(L, "settings", info->settings);
        setText(L, "helpfile", info->helpFile);
        setText(L, "modulename", info->moduleName);
        qxSetFieldUInt(L, "disabled", info->disabled);
        setText(L, "path", n->path);
        lua_pushstring(L, "filetypes");
        pushFileTypes(L, info->fileTypes);
        lua_settable(L, -3);
        lua_settable(L, -3);
    }
}

int qxCmdHavePlugin(lua_State *L)
{
    qxCheckArgCount(L, 1, 3, 0, 0);
    std::string file = withQxp(luaL_checkstring(L, 1));
    int version = luaL_optint(L, 2, 0);
    int revision = luaL_optint(L, 3, 0);
    int listed = 0, open = 0;
    for (qxPluginNode *n = qxPluginList; n; n = n->next) {
        if (strcasecmp(n->name, file.c_str()) != 0) continue;
        if (!n->handle) {
            listed = 1;
            break;
        }
        const qxPluginInfo *info = n->handle->info;
        if (info->version > version || (info->version == version && info->revision >= revision)) listed = open = 1;
        break;
    }
    lua_pushnumber(L, listed);
    lua_pushnumber(L, open);
    return 2;
}

int qxCmdEnablePlugin(lua_State *L) { return setPluginDisabled(L, 0); }
int qxCmdDisablePlugin(lua_State *L) { return setPluginDisabled(L, 1); }

int qxCmdLoadPlugin(lua_State *L)
{
    qxCheckArgCount(L, 1, 2, 6, 0);
    std::string file = withQxp(luaL_checkstring(L, 1));
    int version = 0, revision = 0, skip = 0;
    qxRequireTag *tags = nullptr;
    if (lua_type(L, 2) == LUA_TTABLE) {
        if (int e = readOptions(L, 2, &version, &revision, &skip, &tags)) {
            freeTags(tags);
            return e;
        }
    }
    qxPluginNode *node = nullptr;
    int e = qxLoadPluginFile(file.c_str(), 1, &node);
    if (e == 0) {
        e = qxActivatePlugin(L, node);
    } else if (e == ERR_USERABORT && node) {
        e = (skip || node->required) ? ERR_PLUGINDOUBLET : 0;
        if (e) qxSetErrorString(qxFilePart(file.c_str()));
    }
    if (!e) {
        uint32_t flags = 0;
        e = qxLoadPlugin(L, withoutQxp(node->name).c_str(), version, revision, skip, 0, 1, tags, &flags);
    }
    freeTags(tags);
    return e;
}

int qxCmdGetPlugins(lua_State *L)
{
    qxCheckArgCount(L, 0, 0, 0, 0);
    qxPushPluginTable(L);
    return 1;
}
}
