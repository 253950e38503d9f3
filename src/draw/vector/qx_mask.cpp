// The mask calls: create and free here, drawing through the OpenCV module
// (maskcv/), whose status is left in qxMaskStatus.
#include "draw/vector/qx_mask.h"

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "draw/vector/qx_maskraster.h"
#include "platform/qx_memory.h"

// The OpenCV module, carried inside the player (qx_maskmodule.cpp).
extern "C" const unsigned char qxMaskModuleStart[], qxMaskModuleEnd[];

int qxMaskStatus = 0;

namespace {

constexpr int32_t kMaxThickness = 255;

// OpenCV fills a polygon by its edges and the rows between their crossings:
// an upright rectangle is exactly its pixels from corner to corner, so a
// plain box skips the edge walk. False when the points are no such rectangle.
bool fillUprightRect(QxMaskImage *m, const QxMaskPoint *p, int32_t count)
{
    if (count != 4 && !(count == 5 && p[4].x == p[0].x && p[4].y == p[0].y)) return false;
    for (int i = 0; i < 4; i++) {
        const QxMaskPoint &a = p[i], &b = p[(i + 1) % 4];
        if ((a.x != b.x) == (a.y != b.y)) return false; // each edge horizontal or vertical, none empty
    }
    const int64_t x0 = std::min(p[0].x, p[2].x), x1 = std::max(p[0].x, p[2].x);
    const int64_t y0 = std::min(p[0].y, p[2].y), y1 = std::max(p[0].y, p[2].y);
    const int64_t l = std::max<int64_t>(x0, 0), r = std::min<int64_t>(x1, m->width - 1);
    const int64_t t = std::max<int64_t>(y0, 0), b = std::min<int64_t>(y1, m->height - 1);
    for (int64_t y = t; l <= r && y <= b; y++) std::memset(m->data + size_t(y) * size_t(m->stride) + l, 255, size_t(r - l + 1));
    return true;
}

// Writes the module into an anonymous file and loads it from there, so that
// a player copied anywhere (a linked applet) still has it.
const QxMaskRaster *loadRaster(const char **why)
{
    const int fd = memfd_create("zephyrane-mask", MFD_CLOEXEC);
    if (fd < 0) {
        *why = std::strerror(errno);
        return nullptr;
    }
    for (const unsigned char *p = qxMaskModuleStart; p < qxMaskModuleEnd;) {
        const ssize_t n = write(fd, p, size_t(qxMaskModuleEnd - p));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *why = n < 0 ? std::strerror(errno) : "short write";
            close(fd);
            return nullptr;
        }
        p += n;
    }
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    void *library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    close(fd);
    if (!library) {
        *why = dlerror();
        return nullptr;
    }
    auto entry = reinterpret_cast<QxMaskRasterEntry>(dlsym(library, QX_MASK_RASTER_ENTRY));
    if (!entry) {
        *why = dlerror();
        dlclose(library);
        return nullptr;
    }
    return entry();
}

// The OpenCV calls, loaded on the first use; null (and said once on the
// error stream) when the module cannot be loaded.
const QxMaskRaster *raster()
{
    static const QxMaskRaster *table;
    static bool tried;
    if (!tried) {
        tried = true;
        const char *why = "unknown error";
        if (!(table = loadRaster(&why))) std::fprintf(stderr, "zephyrane: cannot load the shape rasteriser (OpenCV): %s\n", why);
    }
    return table;
}

} // namespace

void qxMaskCreate(int32_t width, int32_t height, QxMaskImage **image, uint8_t **data, int32_t *stride)
{
    if (!image) {
        qxMaskStatus = QX_MASK_NULL_POINTER;
        return;
    }
    *image = nullptr;
    if (width < 1 || height < 1 || width > INT32_MAX - 3) {
        qxMaskStatus = QX_MASK_BAD_SIZE;
        return;
    }
    int32_t st = (width + 3) & ~3;
    size_t bytes = 0;
    if (!qxMulSize(size_t(st), size_t(height), &bytes)) {
        qxMaskStatus = QX_MASK_NO_MEMORY;
        return;
    }
    auto *m = static_cast<QxMaskImage *>(qxAlloc(sizeof(QxMaskImage), 1));
    void *buf = nullptr;
    if (!m || posix_memalign(&buf, 32, std::max<size_t>(bytes, 32)) != 0) {
        qxFree(m);
        qxMaskStatus = QX_MASK_NO_MEMORY;
        return;
    }
    std::memset(buf, 0, bytes);
    *m = {width, height, st, static_cast<uint8_t *>(buf)};
    *image = m;
    if (data) *data = m->data;
    if (stride) *stride = st;
}

void qxMaskFree(QxMaskImage *image)
{
    qxMaskStatus = QX_MASK_OK;
    if (!image) return;
    std::free(image->data);
    qxFree(image);
}

void qxMaskFillPolygon(QxMaskImage *image, const QxMaskPoint *points, int32_t count, int antialias, int32_t thickness)
{
    qxMaskStatus = QX_MASK_OK;
    if (!image || !points) {
        qxMaskStatus = QX_MASK_NULL_POINTER;
        return;
    }
    if (count <= 0) return;
    if (thickness < -1 || thickness > kMaxThickness) {
        qxMaskStatus = QX_MASK_OUT_OF_RANGE;
        return;
    }
    size_t bytes = 0;
    void *copy = nullptr;
    if (!qxMulSize(size_t(count), sizeof(QxMaskPoint), &bytes) || !(copy = qxAlloc(bytes, 0))) {
        qxMaskStatus = QX_MASK_NO_MEMORY;
        return;
    }
    std::memcpy(copy, points, bytes);
    // A plain box needs no OpenCV at all.
    if (thickness != 0 || antialias || !fillUprightRect(image, points, count)) {
        const QxMaskRaster *r = raster();
        qxMaskStatus = r ? r->fillPolygon(image, copy, count, antialias, thickness) : QX_MASK_NOT_LOADED;
    }
    qxFree(copy);
}

void qxMaskDraw(QxMaskImage *image, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int antialias, int32_t thickness)
{
    qxMaskStatus = QX_MASK_OK;
    if (!image) {
        qxMaskStatus = QX_MASK_NULL_POINTER;
        return;
    }
    if (uint32_t(thickness) > uint32_t(kMaxThickness)) {
        qxMaskStatus = QX_MASK_OUT_OF_RANGE;
        return;
    }
    const QxMaskRaster *r = raster();
    qxMaskStatus = r ? r->draw(image, x1, y1, x2, y2, antialias, thickness) : QX_MASK_NOT_LOADED;
}
