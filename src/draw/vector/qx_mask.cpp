// The mask calls over OpenCV's drawing: value 255, shift 0, the
// 8-connected or the anti-aliased line type. OpenCV's errors are caught and
// left in qxMaskStatus; the mask then stays as far as it was drawn.
#include "draw/vector/qx_mask.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/qx_memory.h"

int qxMaskStatus = 0;

namespace {

constexpr int32_t kMaxThickness = 255;

cv::Mat header(QxMaskImage *m) { return cv::Mat(m->height, m->width, CV_8UC1, m->data, size_t(m->stride)); }

int lineType(int antialias) { return antialias ? cv::LINE_AA : cv::LINE_8; }

int statusOf(const cv::Exception &e)
{
    switch (e.code) {
    case cv::Error::StsNullPtr: return QX_MASK_NULL_POINTER;
    case cv::Error::StsBadSize: return QX_MASK_BAD_SIZE;
    case cv::Error::StsOutOfRange: return QX_MASK_OUT_OF_RANGE;
    case cv::Error::StsNoMem: return QX_MASK_NO_MEMORY;
    default: return e.code < 0 ? e.code : QX_MASK_BAD_ARGUMENT;
    }
}

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
    cv::Point *copy = nullptr;
    static_assert(sizeof(cv::Point) == sizeof(QxMaskPoint));
    if (!qxMulSize(size_t(count), sizeof(cv::Point), &bytes) || !(copy = static_cast<cv::Point *>(qxAlloc(bytes, 0)))) {
        qxMaskStatus = QX_MASK_NO_MEMORY;
        return;
    }
    for (int32_t i = 0; i < count; i++) copy[i] = cv::Point(points[i].x, points[i].y);
    try {
        cv::Mat m = header(image);
        const cv::Point *contours[1] = {copy};
        const int counts[1] = {count};
        if (thickness == 0) {
            if (antialias || !fillUprightRect(image, points, count))
                cv::fillPoly(m, contours, counts, 1, cv::Scalar(255), lineType(antialias), 0);
        } else {
            cv::polylines(m, contours, counts, 1, true, cv::Scalar(255), thickness, lineType(antialias), 0);
        }
    } catch (const cv::Exception &e) {
        qxMaskStatus = statusOf(e);
    } catch (const std::bad_alloc &) {
        qxMaskStatus = QX_MASK_NO_MEMORY;
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
    try {
        cv::Mat m = header(image);
        cv::line(m, cv::Point(x1, y1), cv::Point(x2, y2), cv::Scalar(255), thickness, lineType(antialias), 0);
    } catch (const cv::Exception &e) {
        qxMaskStatus = statusOf(e);
    } catch (const std::bad_alloc &) {
        qxMaskStatus = QX_MASK_NO_MEMORY;
    }
}
