// OpenCV's drawing for the masks: value 255, shift 0, the 8-connected or
// the anti-aliased line type. OpenCV's errors are caught and returned as
// the mask status; the mask then stays as far as it was drawn.
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <new>

#include "draw/vector/qx_maskraster.h"

namespace {

static_assert(sizeof(cv::Point) == sizeof(QxMaskPoint));

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

// The points were copied byte for byte into storage of their own, which
// holds them as cv::Point from then on.
int fillPolygon(QxMaskImage *image, const void *points, int32_t count, int antialias, int32_t thickness)
{
    try {
        cv::Mat m = header(image);
        const cv::Point *contours[1] = {static_cast<const cv::Point *>(points)};
        const int counts[1] = {count};
        if (thickness == 0)
            cv::fillPoly(m, contours, counts, 1, cv::Scalar(255), lineType(antialias), 0);
        else
            cv::polylines(m, contours, counts, 1, true, cv::Scalar(255), thickness, lineType(antialias), 0);
    } catch (const cv::Exception &e) {
        return statusOf(e);
    } catch (const std::bad_alloc &) {
        return QX_MASK_NO_MEMORY;
    }
    return QX_MASK_OK;
}

int draw(QxMaskImage *image, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int antialias, int32_t thickness)
{
    try {
        cv::Mat m = header(image);
        cv::line(m, cv::Point(x1, y1), cv::Point(x2, y2), cv::Scalar(255), thickness, lineType(antialias), 0);
    } catch (const cv::Exception &e) {
        return statusOf(e);
    } catch (const std::bad_alloc &) {
        return QX_MASK_NO_MEMORY;
    }
    return QX_MASK_OK;
}

const QxMaskRaster table = {fillPolygon, draw};

} // namespace

extern "C" __attribute__((visibility("default"))) const QxMaskRaster *qxMaskRasterTable(void) { return &table; }
