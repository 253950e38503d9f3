// Picture handles and the one size limit every reader checks before it
// allocates: a header may claim anything.
#include <atomic>

#include "objects/formats/qx_picformats.h"
#include "platform/qx_memory.h"

namespace {
constexpr uint64_t kDefaultLimit = uint64_t(1) << 28;
std::atomic<uint64_t> limit{kDefaultLimit};
} // namespace

extern "C" {
uint64_t qxPictureLimit(void) { return limit.load(std::memory_order_relaxed); }

void qxSetPictureLimit(uint64_t pixels) { limit.store(pixels ? pixels : kDefaultLimit, std::memory_order_relaxed); }

uint32_t *qxAllocPicture(uint64_t width, uint64_t height, int zero)
{
    if (width == 0 || height == 0 || width > qxPictureLimit() || height > qxPictureLimit() ||
        width * height > qxPictureLimit())
        return nullptr;
    return static_cast<uint32_t *>(qxAlloc(static_cast<size_t>(width * height * 4), zero));
}

void qxClearPictureHandle(qxPictureHandle *handle)
{
    if (!handle) return;
    if (handle->kind != QX_IMGFMT_NATIVE) qxFree(handle->pixels);
    handle->pixels = nullptr;
}

void qxFreePictureHeader(qxPictureHandle *handle)
{
    if (!handle) return;
    qxClearPictureHandle(handle);
    qxFree(handle);
}

void qxWrapPicturePixels(qxPictureHandle *handle, uint32_t *pixels)
{
    qxClearPictureHandle(handle);
    handle->nativeState = nullptr;
    handle->pixels = pixels;
    handle->kind = QX_IMGFMT_UNKNOWN;
}
}
