// What a loaded plug-in adds to the running system: command libraries,
// saver format constants, and the name lists that pick loaders and adapters.
#include <strings.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "core/commands/qx_commands.h"
#include "core/errors/qx_errors.h"
#include "core/files/qx_fileadapter.h"
#include "core/plugins/qx_plugins.h"
#include "core/vm/lauxlib.h"
#include "platform/qx_memory.h"

namespace {

static_assert(sizeof(qxPluginCommand) == sizeof(qxCommandDef), "command row layout");
static_assert(sizeof(qxPluginConstant) == sizeof(qxConstantDef), "constant row layout");

constexpr size_t kMaxBaseName = 63;
constexpr int kMaxFormats = 4096; // ends a register function that never clears its more-bit

template <typename F> F entry(const qxPluginInfo *info, int slot) { return reinterpret_cast<F>(info->entry[slot]); }

std::string lower(const char *name)
{
    std::string s = name;
    for (char &c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Stores the commands as methods of the metatable "<plug-in>.qxp.<base>";
// the upvalues sit on top of the stack.
int registerMethods(lua_State *L, const qxPluginInfo *info, const char *base, const qxPluginCommand *cmds, int nup)
{
    size_t len = std::strlen(base);
    if (len > kMaxBaseName) return ERR_INTERNAL;
    std::string tname = std::string(info->name ? info->name : "") + ".qxp." + std::string(base, len - 1);
    luaL_newmetatable(L, tname.c_str());
    lua_pushstring(L, "__index");
    lua_pushvalue(L, -2);
    lua_rawset(L, -3);
    for (; cmds->name; cmds++) {
        if (!cmds->func) continue;
        lua_pushstring(L, lower(cmds->name).c_str());
        for (int i = 0; i < nup; i++) lua_pushvalue(L, -(nup + 2));
        lua_pushcclosure(L, cmds->func, nup);
        lua_rawset(L, -3);
    }
    return 0;
}

} // namespace

extern "C" {

int qxRegisterPluginLibrary(lua_State *L, qxPluginHandle *handle, int constants, int commands)
{
    qxPluginInfo *info = handle->info;
    if (info->abiKind == 2) return 0;
    int count = 1;
    if (auto getCount = entry<qxGetLibraryCountFunc>(info, QX_EP_GetLibraryCount)) count = getCount();
    auto setCurrent = entry<qxSetCurrentLibraryFunc>(info, QX_EP_SetCurrentLibrary);
    auto pushUpvalues = entry<qxPushUpvaluesFunc>(info, QX_EP_PushUpvalues);
    for (int i = 0; i < count; i++) {
        if (setCurrent) setCurrent(i);
        const char *base = entry<qxGetBaseTableFunc>(info, QX_EP_GetBaseTable)();
        const qxPluginCommand *cmds = entry<qxGetCommandsFunc>(info, QX_EP_GetCommands)();
        const qxPluginConstant *consts = entry<qxGetConstantsFunc>(info, QX_EP_GetConstants)();
        if (cmds && commands && L) {
            int top = lua_gettop(L);
            lua_pushvalue(L, LUA_GLOBALSINDEX);
            int nup = pushUpvalues ? pushUpvalues(L) : 0;
            if (nup < 0 || lua_gettop(L) != top + 1 + nup) {
                lua_settop(L, top);
                return ERR_WRONGUSAGE;
            }
            auto *rows = reinterpret_cast<const qxCommandDef *>(cmds);
            int e = 0;
            if (!base) {
                luaL_openlib(L, nullptr, rows, nup);
                e = qxRegisterLibName(rows, "plugin");
            } else if (*base && base[std::strlen(base) - 1] == ':') {
                e = registerMethods(L, info, base, cmds, nup);
            } else {
                luaL_openlib(L, base, rows, nup);
                e = qxRegisterLibName(rows, base);
            }
            lua_settop(L, top);
            if (e) return e;
        }
        if (consts && constants && L)
            luaL_registerconstants(L, reinterpret_cast<const qxConstantDef *>(consts), 0);
    }
    if (!commands || count < 1) return 0;
    info->libraryInitialised = 1;
    return entry<qxInitLibraryFunc>(info, QX_EP_InitLibrary)(L);
}

int qxRegisterFormatNames(lua_State *L, const char *prefix, qxRegisterSaverFunc reg, qxSaverFormat **list,
                          uint32_t moreBit, uint32_t abiKind)
{
    struct Format {
        uint32_t flags, identifier;
        std::string name;
    };
    std::vector<Format> found;
    qxSaverRegistration record = {};
    do {
        if (abiKind == 2) break; // no call reaches such a plug-in
        reg(&record);
        found.push_back({record.flags, record.identifier, record.name ? record.name : ""});
    } while ((record.flags & moreBit) && found.size() < kMaxFormats);

    auto *formats = static_cast<qxSaverFormat *>(qxAlloc((found.size() + 3) * sizeof(qxSaverFormat), 1));
    auto *rows = static_cast<qxConstantDef *>(qxAlloc((found.size() + 1) * sizeof(qxConstantDef), 1));
    if (!formats || !rows) {
        qxFree(formats);
        qxFree(rows);
        return ERR_MEM;
    }
    int e = 0;
    size_t n = 0;
    for (const Format &f : found) {
        std::string full = std::string(prefix) + f.name;
        char *copy = static_cast<char *>(qxAlloc(full.size() + 1, 0));
        if (!copy) {
            e = ERR_MEM;
            break;
        }
        std::memcpy(copy, full.c_str(), full.size() + 1);
        formats[n] = {f.flags, copy, f.identifier};
        rows[n] = {copy, nullptr, double(f.identifier)};
        n++;
    }
    if (!e && L) luaL_registerconstants(L, rows, 0);
    qxFree(rows);
    if (e) {
        for (size_t i = 0; i < n; i++) qxFree(formats[i].name);
        qxFree(formats);
        return e;
    }
    if (*list) {
        for (qxSaverFormat *f = *list; f->name; f++) qxFree(f->name);
        qxFree(*list);
    }
    *list = formats;
    return 0;
}

int qxActivatePlugin(lua_State *L, qxPluginNode *node)
{
    if (!node || !node->handle) return 0;
    qxPluginInfo *info = node->handle->info;
    uint32_t caps = node->capabilities;
    if ((caps & QX_CAP_LIBRARY) && !(info->extensionFlags[__builtin_ctz(QX_CAP_LIBRARY)] & 2))
        if (int e = qxRegisterPluginLibrary(L, node->handle, 1, 1)) return e;
    struct Saver {
        uint32_t cap;
        const char *prefix;
        int slot;
        qxSaverFormat **list;
        uint32_t more;
    };
    const Saver savers[] = {
        {QX_CAP_IMAGESAVER, "imgfmt_", QX_EP_RegisterImageSaver, &info->imageFormats, 0x8},
        {QX_CAP_ANIMSAVER, "anmfmt_", QX_EP_RegisterAnimSaver, &info->animFormats, 0x10},
        {QX_CAP_SAMPLESAVER, "smpfmt_", QX_EP_RegisterSampleSaver, &info->sampleFormats, 0x1},
    };
    for (const Saver &s : savers) {
        if (!(caps & s.cap)) continue;
        auto reg = entry<qxRegisterSaverFunc>(info, s.slot);
        if (int e = qxRegisterFormatNames(L, s.prefix, reg, s.list, s.more, info->abiKind)) return e;
    }
    return 0;
}

// ---- Loader and adapter name lists ----

int qxLoaderAllowed(const char *list, const char *name, int pluginMeansAll)
{
    return qxfile::listAdmits(list, name, pluginMeansAll != 0);
}

int qxLoaderListAdmits(const char *list, const char *name)
{
    if (!list || !*list || strcasecmp(list, "default") == 0) return 0;
    return qxLoaderAllowed(list, name, 0);
}

int qxPluginAdmitted(const qxPluginInfo *p, const char *list)
{
    if (!p || p->disabled || p->abiKind == 2) return 0;
    const char *name = p->name ? p->name : "";
    if (!qxLoaderAllowed(list, name, 1)) return 0;
    return !p->explicitOnly || qxLoaderListAdmits(list, name);
}

void qxSelectAdapters(const char *list, uint32_t capability)
{
    qxPluginListNode **selection = qxCapabilityList(capability);
    if (!list || !*list || strcasecmp(list, "default") == 0 || !selection) return;
    std::string rest = list;
    size_t start = 0;
    while (start <= rest.size()) {
        size_t bar = rest.find('|', start);
        std::string token = rest.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        start = bar == std::string::npos ? rest.size() + 1 : bar + 1;
        if (token.empty() || token.size() > 255) continue;
        if (!strcasecmp(token.c_str(), "plugin") || !strcasecmp(token.c_str(), "native") ||
            !strcasecmp(token.c_str(), "inbuilt"))
            continue;
        for (qxPluginNode *n = qxPluginList; n; n = n->next) {
            if (!n->handle || !(n->capabilities & capability)) continue;
            qxPluginInfo *info = n->handle->info;
            if (info->disabled || !info->name || strcasecmp(info->name, token.c_str()) != 0) continue;
            bool present = false;
            for (qxPluginListNode *s = *selection; s; s = s->next) present |= s->item == info;
            if (!present && qxAddToPluginList(selection, info) != 0) return;
            info->selected = 1;
        }
    }
}

uint32_t qxAdapterCaps(uint32_t mask)
{
    if (!qxDisplayAdapter) return 0;
    uint32_t offered = 0;
    uint32_t flags = qxDisplayAdapter->displayAdapterFlags;
    if (flags & 0x10) offered |= 0x8;
    if (flags & 0x2) offered |= 0x20;
    uint32_t byte = qxDisplayAdapter->extensionFlags[__builtin_ctz(QX_CAP_DISPLAYADAPTER)] & 0xFF;
    const uint32_t map[][2] = {{0x1, 0x4}, {0x2, 0x10}, {0x4, 0x40}, {0x8, 0x80}, {0x10, 0x200}, {0x20, 0x400}};
    for (auto &m : map)
        if (byte & m[0]) offered |= m[1];
    return mask & offered;
}
}
