// Graphics host slots 0 to 3: pictures for plug-ins through the loading
// dispatch, as 0xAABBGGRR unless the plug-in keeps our layout.
#include <algorithm>
#include <climits>
#include <cmath>

#include "core/commands/qx_commands.h"
#include "core/plugins/qx_pluginapi.h"
#include "imaging/qx_scale.h"
#include "objects/formats/qx_picformats.h"
#include "platform/qx_memory.h"

namespace {

enum : uint32_t { TAG_KEEPARGB = 1, TAG_SCALE = 2, TAG_SMOOTH = 3 };

const qxTagItem *findTag(const qxTagItem *tags, uint32_t tag)
{
    for (; tags && tags->tag != QX_TAG_END; ++tags)
        if (tags->tag == tag) return tags;
    return nullptr;
}

bool flag(const qxTagItem *tags, uint32_t tag)
{
    const qxTagItem *t = findTag(tags, tag);
    return t && t->data;
}

} // namespace

extern "C" {

int qxHostIdentifyPicture(const char *fileName, uint32_t *width, uint32_t *height, uint32_t *hasAlpha)
{
    uint32_t w = 0, h = 0, a = 0;
    if (qxLoadPictureAny(fileName, "", nullptr, nullptr, 0xFFFFFFFF, 0, nullptr, nullptr, nullptr, &w, &h, &a, nullptr,
                         nullptr) != 0)
        return 0;
    if (width) *width = w;
    if (height) *height = h;
    if (hasAlpha) *hasAlpha = a;
    return 1;
}

qxPictureHandle *qxHostLoadPicture(const char *fileName, const qxTagItem *tags, uint32_t *width, uint32_t *height,
                                   uint32_t *hasAlpha)
{
    double scale = 1.0;
    if (const qxTagItem *t = findTag(tags, TAG_SCALE); t && t->data) scale = *reinterpret_cast<const double *>(t->data);
    if (!(scale > 0)) return nullptr;
    qxPictureHandle *handle = nullptr;
    uint32_t w = 0, h = 0, a = 0, transparent = 0xFFFFFFFF;
    if (qxLoadPictureAny(fileName, "", nullptr, nullptr, 0xFFFFFFFF, 2, &handle, nullptr, &transparent, &w, &h, &a,
                         nullptr, nullptr) != 0)
        return nullptr;
    if (transparent == 0xFFFFFFFE) a = 1;
    uint32_t *pixels = qxPictureFileHandle(handle);
    if (pixels && scale != 1.0) {
        // Sized in floating point first: a huge or infinite scale must be
        // refused before any conversion to an integer.
        const double fw = std::max(1.0, std::trunc(w * scale)), fh = std::max(1.0, std::trunc(h * scale));
        const double most = std::min(double(qxPictureLimit()), double(INT32_MAX));
        const bool fits = fw <= most && fh <= most && fw * fh <= double(qxPictureLimit());
        const uint32_t nw = fits ? uint32_t(fw) : 0, nh = fits ? uint32_t(fh) : 0;
        uint32_t *scaled = nullptr;
        if (fits)
            scaled = static_cast<uint32_t *>(qxConvertPixelBuffer(pixels, 0, 0, int32_t(w), int32_t(h), nullptr, 0, 0,
                                                                  int32_t(nw), int32_t(nh), int32_t(w), 0, 10,
                                                                  flag(tags, TAG_SMOOTH)));
        pixels = scaled;
        if (scaled) {
            qxWrapPicturePixels(handle, scaled);
            w = nw, h = nh;
        }
    }
    if (!pixels) {
        qxFreePictureHeader(handle);
        return nullptr;
    }
    if (!flag(tags, TAG_KEEPARGB)) {
        const uint32_t opaque = a ? 0 : 0xFF000000u;
        for (size_t i = 0, n = size_t(w) * h; i < n; ++i) {
            uint32_t v = pixels[i];
            pixels[i] = (v & 0xFF00FF00u) | (v >> 16 & 0xFF) | (v & 0xFF) << 16 | opaque;
        }
    }
    if (width) *width = w;
    if (height) *height = h;
    if (hasAlpha) *hasAlpha = a;
    return handle;
}

void qxInstallPictureHostSlots(qxHostFunc *g)
{
    g[0] = reinterpret_cast<qxHostFunc>(qxHostIdentifyPicture);
    g[1] = reinterpret_cast<qxHostFunc>(qxHostLoadPicture);
    g[2] = reinterpret_cast<qxHostFunc>(qxPictureFileHandle);
    g[3] = reinterpret_cast<qxHostFunc>(qxFreePictureHeader);
}
}
