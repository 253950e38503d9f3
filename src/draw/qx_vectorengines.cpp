#include "draw/qx_vectorengines.h"

#include <strings.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/plugins/qx_plugins.h"
#include "platform/qx_errcodes.h"

namespace {

// A plug-in's engine record, with the file name it was found by. Records
// stay for the program's life: path layers keep pointing at them.
struct PluginEngine {
    qxVectorEngine engine;
    const qxPluginInfo *info;
    char name[256];
};
std::vector<std::unique_ptr<PluginEngine>> gEngines;

// Entry points of an ABI this platform cannot call: nothing happens.
void kind2Extents(qxPathExtentsRequest *) {}
int32_t kind2Draw(qxPathDrawRequest *) { return 0; }
void kind2Translate(qxPathTranslateRequest *) {}
void kind2CurrentPoint(const uint8_t *, const qxEngineState *, double *, double *) {}
void *kind2CreateFont(void *) { return nullptr; }
void kind2FreeFont(void *) {}
void *kind2OpenFont(const void *, size_t) { return nullptr; }
void kind2CloseFont(void *) {}

template <typename T> void take(T &field, void *entry) { field = reinterpret_cast<T>(entry); }

} // namespace

const qxVectorEngine *qxPluginVectorEngine(const qxPluginInfo *info, const char *fileName)
{
    PluginEngine *pe = nullptr;
    for (auto &e : gEngines)
        if (e->info == info) pe = e.get();
    if (!pe) {
        gEngines.push_back(std::make_unique<PluginEngine>());
        pe = gEngines.back().get();
        pe->info = info;
    }
    // Filled again at each look-up: a plug-in loaded anew may sit at the same address.
    qxVectorEngine &e = pe->engine;
    e.abiKind = info->abiKind;
    e.flags = info->extensionFlags[5]; // the flag word of capability bit 5
    if (info->abiKind == 2) {
        e.GetPathExtents = kind2Extents, e.DrawPath = kind2Draw, e.TranslatePath = kind2Translate;
        e.GetCurrentPoint = kind2CurrentPoint, e.CreateVectorFont = kind2CreateFont;
        e.FreeVectorFont = kind2FreeFont, e.OpenFont = kind2OpenFont, e.CloseFont = kind2CloseFont;
    } else {
        void *const *slot = info->entry;
        take(e.GetPathExtents, slot[QX_EP_GetPathExtents]);
        take(e.DrawPath, slot[QX_EP_DrawPath]);
        take(e.TranslatePath, slot[QX_EP_TranslatePath]);
        take(e.GetCurrentPoint, slot[QX_EP_GetCurrentPoint]);
        take(e.CreateVectorFont, slot[QX_EP_CreateVectorFont]);
        take(e.FreeVectorFont, slot[QX_EP_FreeVectorFont]);
        take(e.OpenFont, slot[QX_EP_OpenFont]);
        take(e.CloseFont, slot[QX_EP_CloseFont]);
    }
    std::strncpy(pe->name, fileName, sizeof pe->name - 1);
    return &e;
}

const qxVectorEngine *qxFindVectorEngine(const char *name)
{
    if (strcasecmp(name, "default") == 0) return &qxInbuiltVectorEngine;
    std::string file(name, strnlen(name, 255));
    if (file.size() < 4 || strcasecmp(file.c_str() + file.size() - 4, ".qxp") != 0) file += ".qxp";
    for (qxPluginNode *n = qxPluginList; n; n = n->next)
        if (n->handle && n->handle->info && (n->capabilities & QX_CAP_VECTORGRAPHICS) &&
            strcasecmp(n->name, file.c_str()) == 0)
            return qxPluginVectorEngine(n->handle->info, n->name);
    qxSetErrorString(file.c_str());
    return nullptr;
}

const char *qxVectorEngineName(const qxVectorEngine *engine)
{
    for (auto &e : gEngines)
        if (&e->engine == engine) return e->name;
    return "default";
}
