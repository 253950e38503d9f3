#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "draw/vector/qx_mask.h"

namespace {

struct Mask {
    QxMaskImage *img = nullptr;
    uint8_t *data = nullptr;
    int32_t stride = 0;
    Mask(int w, int h) { qxMaskCreate(w, h, &img, &data, &stride); }
    ~Mask() { qxMaskFree(img); }
    uint8_t at(int x, int y) const { return data[size_t(y) * size_t(stride) + size_t(x)]; }
    int count(bool (*pred)(uint8_t)) const
    {
        int n = 0;
        for (int y = 0; y < img->height; y++)
            for (int x = 0; x < img->width; x++) n += pred(at(x, y));
        return n;
    }
};

} // namespace

TEST(MaskRaster, CreateStrideClearingAndRefusals)
{
    Mask m(5, 3);
    ASSERT_NE(m.img, nullptr);
    EXPECT_EQ(m.stride, 8);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(m.data) % 32, 0u);
    EXPECT_EQ(m.count([](uint8_t v) { return v != 0; }), 0);

    QxMaskImage *img = reinterpret_cast<QxMaskImage *>(1);
    qxMaskCreate(0, 10, &img, nullptr, nullptr);
    EXPECT_EQ(img, nullptr);
    qxMaskCreate(10, -1, &img, nullptr, nullptr);
    EXPECT_EQ(img, nullptr);
    qxMaskCreate(INT32_MAX, INT32_MAX, &img, nullptr, nullptr); // far more than memory: refused, not crashed
    EXPECT_EQ(img, nullptr);
    qxMaskFree(nullptr);

    Mask l(20, 20);
    qxMaskDraw(l.img, 0, 0, 19, 19, 1, 256);
    qxMaskDraw(l.img, 0, 0, 19, 19, 1, -1);
    const QxMaskPoint tri[3] = {{2, 2}, {17, 2}, {10, 17}};
    qxMaskFillPolygon(l.img, tri, 3, 1, -2);
    qxMaskFillPolygon(l.img, tri, 3, 1, 256);
    qxMaskFillPolygon(l.img, tri, 0, 1, 0);
    EXPECT_EQ(l.count([](uint8_t v) { return v != 0; }), 0);
}

TEST(MaskRaster, PolygonValuesAndClosedOutline)
{
    const QxMaskPoint tri[3] = {{2, 2}, {37, 5}, {12, 33}};
    Mask hard(40, 40), soft(40, 40);
    qxMaskFillPolygon(hard.img, tri, 3, 0, 0);
    qxMaskFillPolygon(soft.img, tri, 3, 1, 0);
    EXPECT_EQ(hard.count([](uint8_t v) { return v != 0 && v != 255; }), 0);
    EXPECT_GT(hard.count([](uint8_t v) { return v == 255; }), 300);
    EXPECT_GT(soft.count([](uint8_t v) { return v != 0 && v != 255; }), 20);

    // The closing edge from the last point back to the first is drawn.
    Mask outline(40, 40);
    qxMaskFillPolygon(outline.img, tri, 3, 0, 1);
    EXPECT_EQ(outline.at(7, 17), 255); // on the edge (12,33)-(2,2)
    EXPECT_EQ(outline.at(2, 2), 255);
    EXPECT_EQ(outline.at(15, 12), 0); // inside, not filled
}

TEST(MaskRaster, LinesAreClippedAndSafeWithHugeCoordinates)
{
    Mask m(30, 30);
    qxMaskDraw(m.img, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 0, 1);
    EXPECT_EQ(m.at(10, 10), 255);
    qxMaskDraw(m.img, -2000000000, 15, 2000000000, 15, 1, 5);
    EXPECT_EQ(m.at(0, 15), 255);
    EXPECT_EQ(m.at(29, 13), 255);
    EXPECT_EQ(m.at(29, 20), 0);

}

namespace {

// OpenCV's own drawing into a plain image of the mask's size.
cv::Mat reference(int w, int h, const std::vector<cv::Point> &q, bool aa, int thickness)
{
    cv::Mat ref(h, w, CV_8UC1, cv::Scalar(0));
    const int type = aa ? cv::LINE_AA : cv::LINE_8;
    if (thickness == 0) cv::fillPoly(ref, std::vector<std::vector<cv::Point>>{q}, cv::Scalar(255), type);
    else cv::polylines(ref, std::vector<std::vector<cv::Point>>{q}, true, cv::Scalar(255), thickness, type);
    return ref;
}

int differences(const Mask &m, const cv::Mat &ref)
{
    int n = 0;
    for (int y = 0; y < ref.rows; y++)
        for (int x = 0; x < ref.cols; x++) n += m.at(x, y) != ref.at<uint8_t>(y, x);
    return n;
}

} // namespace

// Fills, outlines and lines are OpenCV's, bit for bit, with and without
// anti-aliasing, on a mask whose rows are padded (width 61, stride 64).
TEST(MaskRaster, DrawingIsOpenCvsBitForBit)
{
    std::mt19937 rng(7);
    const int w = 61, h = 48;
    for (int round = 0; round < 40; round++) {
        std::vector<QxMaskPoint> p(3 + rng() % 6);
        std::vector<cv::Point> q;
        for (auto &pt : p) pt = {int32_t(rng() % (w + 20)) - 10, int32_t(rng() % (h + 20)) - 10}, q.push_back({pt.x, pt.y});
        const bool aa = round & 1;
        const int thick = round % 3 == 0 ? 0 : 1 + int(rng() % 6);
        Mask m(w, h);
        qxMaskFillPolygon(m.img, p.data(), int32_t(p.size()), aa, thick);
        EXPECT_EQ(differences(m, reference(w, h, q, aa, thick)), 0) << "round " << round;
        Mask l(w, h);
        qxMaskDraw(l.img, p[0].x, p[0].y, p[1].x, p[1].y, aa, thick + 1);
        cv::Mat lref(h, w, CV_8UC1, cv::Scalar(0));
        cv::line(lref, q[0], q[1], cv::Scalar(255), thick + 1, aa ? cv::LINE_AA : cv::LINE_8);
        EXPECT_EQ(differences(l, lref), 0) << "round " << round;
    }
}

// Upright rectangles skip OpenCV's edge walk: the same pixels, also when
// reaching past the mask, given in either order, closed or not.
TEST(MaskRaster, RectangleFastPathMatchesOpenCv)
{
    std::mt19937 rng(11);
    const int w = 37, h = 29;
    for (int round = 0; round < 200; round++) {
        const int32_t x0 = int32_t(rng() % 60) - 10, x1 = int32_t(rng() % 60) - 10;
        const int32_t y0 = int32_t(rng() % 50) - 10, y1 = int32_t(rng() % 50) - 10;
        std::vector<QxMaskPoint> p = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
        if (round & 1) p.push_back(p[0]);
        std::vector<cv::Point> q;
        for (const QxMaskPoint &pt : p) q.push_back({pt.x, pt.y});
        Mask m(w, h);
        qxMaskFillPolygon(m.img, p.data(), int32_t(p.size()), 0, 0);
        ASSERT_EQ(differences(m, reference(w, h, q, false, 0)), 0) << x0 << "," << y0 << " " << x1 << "," << y1;
    }
}
