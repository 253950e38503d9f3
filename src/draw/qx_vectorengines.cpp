#include "draw/qx_vectorengines.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <strings.h>

#include <algorithm>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/plugins/qx_plugins.h"
#include "draw/vector/qx_path.h"
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

// A plug-in engine's vector font of one face.
struct FontLink {
    void *face;
    const qxVectorEngine *engine;
    void *font;
};
std::vector<FontLink> gLinks;

void freeLink(const FontLink &l)
{
    if (l.engine->abiKind != 2 && l.engine->FreeVectorFont) l.engine->FreeVectorFont(l.font);
}

// FreeType calls this as the face closes: its vector fonts go with it.
void dropFaceLinks(void *face)
{
    std::erase_if(gLinks, [face](const FontLink &l) {
        if (l.face != face) return false;
        freeLink(l);
        return true;
    });
}

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

void *qxPathVectorFont(void *face, const qxVectorEngine *engine, int *error)
{
    *error = 0;
    if (!engine || qxIsInbuiltVectorEngine(engine)) {
        if (!face) *error = ERR_VFONT;
        return face;
    }
    for (const FontLink &l : gLinks)
        if (l.face == face && l.engine == engine) return l.font;
    void *font = face && engine->CreateVectorFont ? engine->CreateVectorFont(face) : nullptr;
    if (!font) {
        *error = ERR_VFONT;
        return nullptr;
    }
    try {
        gLinks.push_back({face, engine, font});
    } catch (const std::bad_alloc &) {
        freeLink({face, engine, font});
        *error = ERR_MEM;
        return nullptr;
    }
    auto f = static_cast<FT_Face>(face);
    if (!f->generic.finalizer) f->generic.finalizer = dropFaceLinks;
    return font;
}

void *qxFaceOfVectorFont(void *font)
{
    for (const FontLink &l : gLinks)
        if (l.font == font) return l.face;
    return font; // the inbuilt engine's vector font is the face
}

void qxFreeVectorFontLinks(void)
{
    std::vector<FontLink> links;
    links.swap(gLinks);
    for (const FontLink &l : links) freeLink(l);
}

int qxItemsForEngine(const uint8_t *buffer, int32_t capacity, const qxVectorEngine *engine,
                     std::vector<uint8_t> &copy, const uint8_t **items)
{
    *items = buffer;
    const size_t size = buffer ? size_t(std::max(capacity, 0)) : 0;
    for (size_t at = 0; at + 4 <= size;) {
        const uint8_t *p = (copy.empty() ? buffer : copy.data()) + at;
        uint32_t op = 0;
        std::memcpy(&op, p, 4);
        if (op == 0) break;
        const size_t step = qxPathItemSize(p);
        if (op == QX_PATH_TEXT && at + 12 <= size) {
            try {
                if (copy.empty()) copy.assign(buffer, buffer + size);
            } catch (const std::bad_alloc &) {
                return ERR_MEM;
            }
            uint64_t font = 0;
            std::memcpy(&font, copy.data() + at + 4, 8);
            int error = 0;
            void *own = qxPathVectorFont(qxFaceOfVectorFont(reinterpret_cast<void *>(uintptr_t(font))), engine, &error);
            if (!own) return error;
            font = uint64_t(reinterpret_cast<uintptr_t>(own));
            std::memcpy(copy.data() + at + 4, &font, 8);
        }
        at += step;
    }
    if (!copy.empty()) *items = copy.data();
    return 0;
}
