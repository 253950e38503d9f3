#include "draw/vector/qx_path.h"

#include <algorithm>
#include <cstring>

#include "platform/qx_memory.h"

namespace {
constexpr int kOutOfMemory = 1000;
constexpr size_t kItemReserve = 128;
constexpr size_t kGrowStep = 1024;
} // namespace

void qxResetVectorState(qxVectorState *s)
{
    s->lineJoin = 0;
    s->lineCap = 0;
    s->dashOffset = 0;
    s->dashCount = 0;
    qxFree(s->dashArray);
    s->dashArray = nullptr;
    s->fillRule = 0;
    s->miterLimit = 10.0;
}

size_t qxPathStringField(const char *text) { return 4 * ((std::strlen(text) + 1) / 4 + 1); }

size_t qxPathItemSize(const uint8_t *p)
{
    uint32_t op;
    std::memcpy(&op, p, 4);
    switch (op) {
    case QX_PATH_MOVETO:
    case QX_PATH_LINETO: return 24;
    case QX_PATH_CURVETO: return 56;
    case QX_PATH_ARC: return 56;
    case QX_PATH_BOX: return 52;
    case QX_PATH_TEXT: return 16 + qxPathStringField(reinterpret_cast<const char *>(p + 16));
    default: return 4;
    }
}

int qxPathReserve(qxPathBuffer *path, size_t bytes)
{
    size_t used = path->items ? size_t(path->write - path->items) : 0;
    if (path->items && size_t(path->capacity) - used >= bytes) return 0;
    size_t grow = std::max(bytes, kGrowStep), capacity = 0;
    if (!qxAddSize(size_t(path->capacity), grow, &capacity) || capacity > size_t(INT32_MAX)) return kOutOfMemory;
    auto *fresh = static_cast<uint8_t *>(qxAlloc(capacity, 1));
    if (!fresh) return kOutOfMemory;
    if (path->items) std::memcpy(fresh, path->items, used + 4);
    qxFree(path->items);
    path->items = fresh;
    path->write = fresh + used;
    path->capacity = int32_t(capacity);
    return 0;
}

int qxPathAppend(qxPathBuffer *path, uint32_t opcode, const qxPathValue *values, int32_t count)
{
    size_t need = kItemReserve;
    for (int32_t i = 0; i < count; i++)
        if (values[i].type == 2 && !qxAddSize(need, qxPathStringField(values[i].string), &need)) return kOutOfMemory;
    if (int rc = qxPathReserve(path, need)) return rc;
    uint8_t *w = path->write;
    std::memcpy(w, &opcode, 4), w += 4;
    for (int32_t i = 0; i < count; i++) {
        const qxPathValue &v = values[i];
        switch (v.type) {
        case 0: std::memcpy(w, &v.u32, 4), w += 4; break;
        case 1: std::memcpy(w, &v.f64, 8), w += 8; break;
        case 3: std::memcpy(w, &v.u64, 8), w += 8; break;
        default: {
            size_t field = qxPathStringField(v.string);
            std::memset(w, 0, field);
            std::memcpy(w, v.string, std::strlen(v.string));
            w += field;
        }
        }
    }
    std::memset(w, 0, 4);
    path->write = w;
    return 0;
}

void qxPathClear(qxPathBuffer *path)
{
    qxFree(path->items);
    *path = {nullptr, 0, nullptr};
}
