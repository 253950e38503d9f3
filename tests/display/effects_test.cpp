// The effect front-ends on bitmap handles: the shared lock-and-dispatch
// shape, the parameter rules each applies before locking, and the mends
// for numbers that would never end.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <vector>

#include "core/errors/qx_errors.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapeffects.h"
#include "display/qx_bitmapplanes.h"

namespace {

struct Pic {
    qxBitMap *bm;
    int w, h;
    Pic(int w_, int h_, uint32_t format = 10) : w(w_), h(h_)
    {
        int saved = qxScreenPixelFormat;
        qxScreenPixelFormat = int(format);
        bm = qxAllocBitMap(uint32_t(w), uint32_t(h), 0, nullptr);
        qxScreenPixelFormat = saved;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) qxWritePixel(bm, x, y, uint32_t(x * 37 + y * 91) * 0x010307u, 0);
    }
    ~Pic() { qxFreeBitMap(bm); }
    std::vector<uint32_t> pixels() const
    {
        std::vector<uint32_t> v;
        qxBitMapLock l;
        if (!qxLockBitMap(bm, 1, &l)) return v;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) v.push_back(qxReadPixelRGB(&l, x, y));
        qxUnLockBitMap(&l);
        return v;
    }
};

} // namespace

TEST(EffectFrontEnds, LockShapeAndNoOps)
{
    // No bitmap: the lock fails with 1152.
    EXPECT_EQ(qxInvertBitmap(nullptr, 4, 4, nullptr), ERR_LOCKBMAP);
    EXPECT_EQ(qxSolarizeBitmap(nullptr, 4, 4, 9), ERR_LOCKBMAP);
    EXPECT_EQ(qxFlipBitmap(nullptr, nullptr, nullptr, 4, 4, 1), 0); // planes only, none given
    // Three bytes per pixel: nothing runs, still success.
    Pic three(6, 5, 8);
    auto before = three.pixels();
    EXPECT_EQ(qxInvertBitmap(three.bm, 6, 5, nullptr), 0);
    EXPECT_EQ(qxConvolve('b', three.bm, nullptr, 6, 5, nullptr, 2, 1), 0);
    EXPECT_EQ(qxModulateBitmap(three.bm, 6, 5, 2, 1, 1), 0);
    EXPECT_EQ(three.pixels(), before);
    // Parameters that make the effect a no-op return before locking.
    EXPECT_EQ(qxGammaBitmap(nullptr, 4, 4, 1.0, 1.0, 1.0), 0);
    EXPECT_EQ(qxModulateBitmap(nullptr, 4, 4, 1.0, 1.0, 1.0), 0);
    EXPECT_EQ(qxContrastBitmap(nullptr, 4, 4, 1, 0, nullptr), 0);
    EXPECT_EQ(qxPixelateBitmap(nullptr, nullptr, nullptr, 4, 4, 1), 0);
    // Sizes beyond the bitmap are cut to it, in both depths.
    for (uint32_t format : {10u, 4u}) {
        Pic p(7, 3, format);
        auto px = p.pixels();
        EXPECT_EQ(qxInvertBitmap(p.bm, 1000, 1000, nullptr), 0);
        EXPECT_EQ(qxInvertBitmap(p.bm, 7, 3, nullptr), 0);
        EXPECT_EQ(p.pixels(), px);
        EXPECT_EQ(qxSepiaBitmap(p.bm, 1 << 30, -5, 80), 0);
        EXPECT_EQ(qxConvolve('s', p.bm, nullptr, 1 << 30, 1 << 30, nullptr, 1, 1), 0);
    }
}

TEST(EffectFrontEnds, AreaEffectsAndTransparency)
{
    Pic p(9, 7);
    auto px = p.pixels();
    // Swirl by 0 degrees and a ripple of amplitude 0 leave every pixel.
    EXPECT_EQ(qxSwirlBitmap(p.bm, nullptr, nullptr, 9, 7, 0), 0);
    EXPECT_EQ(qxWaterRippleBitmap(p.bm, nullptr, nullptr, 9, 7, 10, 0, 1, 0.5, 0.5), 0);
    EXPECT_EQ(p.pixels(), px);
    // Ripples whose phase or amplitude never reduce return at once.
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(qxWaterRippleBitmap(p.bm, nullptr, nullptr, 9, 7, 10, 5, 1e300, 0.5, 0.5), 0);
    EXPECT_EQ(qxWaterRippleBitmap(p.bm, nullptr, nullptr, 9, 7, 10, 5, NAN, 0.5, 0.5), 0);
    EXPECT_EQ(qxWaterRippleBitmap(p.bm, nullptr, nullptr, 9, 7, 1e-300, 1e300, 3, 0, 0), 0);
    EXPECT_EQ(qxSwirlBitmap(p.bm, nullptr, nullptr, 9, 7, NAN), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    // Pixelate larger than the image: everything takes the top-left pixel.
    // (The block is cut to the smaller side, so the image is square.)
    Pic q(5, 5);
    uint32_t corner = q.pixels()[0];
    EXPECT_EQ(qxPixelateBitmap(q.bm, nullptr, nullptr, 5, 5, 100), 0);
    EXPECT_EQ(q.pixels(), std::vector<uint32_t>(25, corner));
    // A colour that matches nothing: every mask bit set.
    qxBitMap *m = qxSetBitmapTransparency(p.bm, 9, 7, 0x00ABCDEF);
    ASSERT_NE(m, nullptr);
    qxPlane mp = qxPlaneOf(m);
    for (int y = 0; y < 7; ++y) {
        EXPECT_EQ(mp.bytes[y * mp.bytesPerRow], 0xFF);
        EXPECT_EQ(mp.bytes[y * mp.bytesPerRow + 1] & 0x80, 0x80);
    }
    qxFreeMaskBitMap(m);
    // A shadow with the hard flag makes every pixel the blur reached opaque.
    qxBitMap *s = qxMakeShadowBitmap(nullptr, nullptr, 0, 0, 4, 4, 200, 1, 0, 3, 1.0);
    ASSERT_NE(s, nullptr);
    qxPlane sp = qxPlaneOf(s);
    EXPECT_EQ(sp.width, 10);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) {
            uint8_t v = sp.bytes[y * sp.bytesPerRow + x];
            EXPECT_TRUE(v == 0 || v == 255);
        }
    EXPECT_EQ(sp.bytes[5 * sp.bytesPerRow + 5], 255);
    qxFreeAlphaBitMap(s);
}

#include <cstring>

#include "display/qx_bitmaptransform.h"
#include "imaging/qx_distort.h"
#include "display/qx_gfxgeom.h"

TEST(Transforms, RoadsAndBadMatrices)
{
    Pic p(3, 2);
    auto px = p.pixels();
    double m[4];
    qxSetupTransform(m, 0, 0, 0, 0, 1, 1, 90);
    qxBitMap *b = nullptr, *mk = nullptr, *al = nullptr;
    int32_t w = 0, h = 0;
    ASSERT_EQ(qxTransformPixels(p.bm, nullptr, nullptr, 0, 0, 3, 2, m, 0, 0, &b, &mk, &al, &w, &h), 0);
    EXPECT_EQ(w, 2);
    EXPECT_EQ(h, 3);
    EXPECT_EQ(mk, nullptr); // quarter turns make a mask only for a mask
    qxFreeBitMap(b);
    // The half turn, and a matrix one bit away from it on the general road:
    // the same pixels, the general road with a full mask.
    double half[4];
    qxSetupTransform(half, 0, 0, 0, 0, 1, 1, 180);
    Pic q(6, 5);
    auto qp = q.pixels();
    qxBitMap *h1 = nullptr, *h2 = nullptr, *m2 = nullptr;
    ASSERT_EQ(qxTransformPixels(q.bm, nullptr, nullptr, 0, 0, 6, 5, half, 0, 0, &h1, nullptr, nullptr, &w, &h), 0);
    double nudged[4];
    std::memcpy(nudged, half, sizeof half);
    uint64_t bits;
    std::memcpy(&bits, &nudged[0], 8);
    bits ^= 1;
    std::memcpy(&nudged[0], &bits, 8);
    ASSERT_EQ(qxTransformPixels(q.bm, nullptr, nullptr, 0, 0, 6, 5, nudged, 0, 0, &h2, &m2, nullptr, &w, &h), 0);
    ASSERT_NE(m2, nullptr);
    EXPECT_EQ(w, 6);
    EXPECT_EQ(h, 5);
    qxBitMapLock l1, l2;
    ASSERT_TRUE(qxLockBitMap(h1, 1, &l1) && qxLockBitMap(h2, 1, &l2));
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) {
            EXPECT_EQ(qxReadPixelRGB(&l1, x, y), qp[size_t((4 - y) * 6 + (5 - x))]);
            EXPECT_EQ(qxReadPixelRGB(&l2, x, y), qp[size_t((4 - y) * 6 + (5 - x))]) << x << "," << y;
        }
    qxUnLockBitMap(&l1), qxUnLockBitMap(&l2);
    qxPlane mp = qxPlaneOf(m2);
    EXPECT_EQ(mp.bytes[0] & 0xFC, 0xFC);
    qxFreeBitMap(h1), qxFreeBitMap(h2), qxFreeMaskBitMap(m2);
    // A rotation by 30 degrees, smooth, with an alpha plane: every visible
    // result pixel is sampled, nothing breaks.
    double r30[4];
    qxSetupTransform(r30, 0, 0, 0, 0, 1.5, 0.7, 30);
    qxBitMap *alpha = qxAllocAlphaBitMap(6, 5, 0, nullptr, 0);
    qxFillBitMapRect(alpha, 0, 0, 6, 5, 200);
    qxBitMap *rb = nullptr, *ra = nullptr;
    ASSERT_EQ(qxTransformPixels(q.bm, nullptr, alpha, 0, 0, 6, 5, r30, 1, 0, &rb, nullptr, &ra, &w, &h), 0);
    EXPECT_GT(w, 6);
    qxPlane ap = qxPlaneOf(ra);
    int visible = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) visible += ap.bytes[y * ap.bytesPerRow + x] == 200;
    EXPECT_GT(visible, 20);
    qxFreeBitMap(rb), qxFreeAlphaBitMap(ra), qxFreeAlphaBitMap(alpha);
    // Matrices that cannot be inverted or hold NaN: 1055.
    double zero[4] = {1, 2, 2, 4}, nan[4] = {NAN, 0, 0, 1};
    EXPECT_EQ(qxTransformPixels(q.bm, nullptr, nullptr, 0, 0, 6, 5, zero, 0, 0, &rb, nullptr, nullptr, &w, &h),
              ERR_WRONGUSAGE);
    EXPECT_EQ(qxTransformPixels(q.bm, nullptr, nullptr, 0, 0, 6, 5, nan, 1, 0, &rb, nullptr, nullptr, &w, &h),
              ERR_WRONGUSAGE);
    (void)px;
}

#include <opencv2/imgproc.hpp>

#include "../imaging/effects_peers.h"

TEST(Distort, FitsEdgeCasesAndImageMagick)
{
    Pic p(24, 16);
    auto px = p.pixels();
    qxBitMap *b = nullptr, *mk = nullptr, *al = nullptr;
    int32_t w = 0, h = 0;
    auto same = [&](qxBitMap *bm) {
        qxBitMapLock l;
        if (!qxLockBitMap(bm, 1, &l)) return false;
        bool ok = true;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 24; ++x) ok = ok && qxReadPixelRGB(&l, x, y) == px[size_t(y * 24 + x)];
        qxUnLockBitMap(&l);
        return ok;
    };
    // Barrel with A = B = C = 0 and D = 1, and a perspective mapping the
    // corners onto themselves, reproduce the source with a full mask.
    double barrel[4] = {0, 0, 0, 1};
    ASSERT_EQ(qxDistortBitmap(p.bm, nullptr, nullptr, 24, 16, 12, 4, barrel, 0, &b, &mk, &al, &w, &h), 0);
    EXPECT_EQ(w, 24);
    EXPECT_TRUE(same(b));
    ASSERT_NE(mk, nullptr);
    EXPECT_EQ(qxPlaneOf(mk).bytes[0], 0xFF);
    qxFreeBitMap(b), qxFreeMaskBitMap(mk);
    double persp[16] = {0, 0, 0, 0, 24, 0, 24, 0, 0, 16, 0, 16, 24, 16, 24, 16};
    ASSERT_EQ(qxDistortBitmap(p.bm, nullptr, nullptr, 24, 16, 4, 16, persp, 0, &b, &mk, &al, &w, &h), 0);
    EXPECT_EQ(w, 26); // the origin is floor(-0.5) = -1
    qxFreeBitMap(b), qxFreeMaskBitMap(mk);
    // Polar: outer radius -1 reaches the farthest corner, 0 the nearest edge.
    double polarFar[1] = {-1}, polarNear[1] = {0};
    ASSERT_EQ(qxDistortBitmap(p.bm, nullptr, nullptr, 24, 16, 10, 1, polarFar, 1, &b, &mk, &al, &w, &h), 0);
    int32_t far = w;
    EXPECT_NE(al, nullptr);
    qxFreeBitMap(b), qxFreeAlphaBitMap(al), al = nullptr;
    ASSERT_EQ(qxDistortBitmap(p.bm, nullptr, nullptr, 24, 16, 10, 1, polarNear, 0, &b, &mk, &al, &w, &h), 0);
    EXPECT_GT(far, w);
    EXPECT_EQ(w, 18);
    qxFreeBitMap(b), qxFreeMaskBitMap(mk);
    // A full ring and the default quarter arc.
    double ring[1] = {360};
    ASSERT_EQ(qxDistortBitmap(p.bm, nullptr, nullptr, 24, 16, 9, 1, ring, 1, &b, &mk, &al, &w, &h), 0);
    EXPECT_NEAR(double(w), double(h), 1.0);
    qxFreeBitMap(b), qxFreeAlphaBitMap(al), al = nullptr;
    ASSERT_EQ(qxDistortBitmap(p.bm, nullptr, nullptr, 24, 16, 9, 0, nullptr, 0, &b, &mk, &al, &w, &h), 0);
    qxFreeBitMap(b), qxFreeMaskBitMap(mk);
    // Bad counts, radii, singular fits and points at infinity: 1055.
    double bad[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, flat[16] = {0, 0, 5, 5, 0, 0, 5, 5, 0, 0, 5, 5, 0, 0, 5, 5},
           inf[16] = {INFINITY, 0, 0, 0, 24, 0, 24, 0, 0, 16, 0, 16, 24, 16, 24, 16};
    EXPECT_EQ(qxDistortBitmap(p.bm, nullptr, nullptr, 24, 16, 12, 7, bad, 0, &b, &mk, &al, &w, &h), ERR_WRONGUSAGE);
    EXPECT_EQ(qxDistortBitmap(p.bm, nullptr, nullptr, 24, 16, 10, 3, bad, 0, &b, &mk, &al, &w, &h), ERR_WRONGUSAGE);
    EXPECT_EQ(qxDistortBitmap(p.bm, nullptr, nullptr, 24, 16, 4, 16, flat, 0, &b, &mk, &al, &w, &h), ERR_WRONGUSAGE);
    EXPECT_EQ(qxDistortBitmap(p.bm, nullptr, nullptr, 24, 16, 4, 16, inf, 1, &b, &mk, &al, &w, &h), ERR_WRONGUSAGE);
    EXPECT_EQ(qxDistortBitmap(p.bm, nullptr, nullptr, 24, 16, 99, 0, nullptr, 0, &b, &mk, &al, &w, &h), ERR_WRONGUSAGE);
    // A pixel that the perspective's horizon crosses (w = 1 - 0.105 x is 0
    // inside column 9) is partly the picture's: smooth, its alpha is that
    // part; without smooth it is whole, as its centre lies on the picture's side.
    const std::vector<uint8_t> white(8 * 8 * 4, 255);
    const qxDistortSource src{white.data(), 8, 8};
    qxDistortRequest hr{};
    hr.method = QX_DISTORT_PERSPECTIVE, hr.sourceWidth = hr.sourceHeight = 8;
    const double hc[9] = {0, 0, 0.01, 0, 0, 0.01, -0.105, 0, 1}; // column 9 samples (4, 4)
    std::copy(hc, hc + 9, hr.coefficients);
    uint8_t o[4];
    hr.smooth = 1;
    qxDistortSample(&hr, &src, 9, 0, o);
    EXPECT_EQ(o[3], uint8_t(255 * (0.5 + (1 - 0.105 * 9.5) / 0.105) + 0.5));
    hr.smooth = 0;
    qxDistortSample(&hr, &src, 9, 0, o);
    EXPECT_EQ(o[3], 255);
    // Against ImageMagick on a smooth picture: the two differ by half a
    // pixel in where the centre lies, a mean channel error of 2.5-3.1 here;
    // shifting the sample points a quarter pixel more makes Polar 5.2.
    Pic g(48, 32);
    std::vector<uint32_t> gp;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 48; ++x) {
            uint32_t c = uint32_t(x * 5) << 16 | uint32_t(y * 7) << 8 | uint32_t((x + y) * 3);
            qxWritePixel(g.bm, x, y, c, 0);
            gp.push_back(c);
        }
    struct Peer {
        uint32_t method;
        std::vector<double> args;
        const char *magick;
    } peers[] = {{12, {0.1, 0.0, -0.05, 0.95}, "Barrel \"0.1 0.0 -0.05 0.95\""},
                 {9, {60}, "Arc 60"},
                 {10, {0}, "Polar 0"}};
    for (const Peer &pe : peers) {
        ASSERT_EQ(qxDistortBitmap(g.bm, nullptr, nullptr, 48, 32, pe.method, uint32_t(pe.args.size()), pe.args.data(), 0,
                                  &b, &mk, &al, &w, &h), 0) << pe.magick;
        int rw = 0, rh = 0;
        auto ref = magick(gp, 48, 32, std::string("-filter point -virtual-pixel black +distort ") + pe.magick, &rw, &rh);
        qxBitMapLock l;
        ASSERT_TRUE(qxLockBitMap(b, 1, &l));
        double sum = 0;
        int n = 0;
        for (int y = 0; y < std::min(h, rh); ++y)
            for (int x = 0; x < std::min(w, rw); ++x) {
                uint32_t a = qxReadPixelRGB(&l, x, y), c = ref[size_t(y * rw + x)];
                for (int sh = 0; sh < 24; sh += 8) sum += std::abs(int(a >> sh & 255) - int(c >> sh & 255));
                n += 3;
            }
        qxUnLockBitMap(&l);
        EXPECT_LT(n ? sum / n : 99.0, 4.0) << pe.magick;
        printf("%-70s ours %dx%d, ImageMagick %dx%d, mean channel error %.2f\n", pe.magick, w, h, rw, rh,
               n ? sum / n : -1.0);
        qxFreeBitMap(b), qxFreeMaskBitMap(mk);
    }
    // Point-sampled perspective against OpenCV's warpPerspective given the
    // same reverse map. The player floors the source point of each pixel
    // centre, OpenCV rounds the point of the pixel's corner: the matrix
    // moves both by half a pixel, after which the two agree except where a
    // source point lies within rounding error of a pixel edge.
    for (const auto &args : {std::vector<double>{0, 0, 3, 2, 48, 0, 44, 4, 0, 32, 0, 32, 48, 32, 46, 30},
                             std::vector<double>{0, 0, -6, 5, 48, 0, 50, -3, 0, 32, 4, 36, 48, 32, 40, 28}}) {
        qxDistortRequest rq{};
        rq.method = QX_DISTORT_PERSPECTIVE, rq.argumentCount = 16, rq.arguments = args.data();
        rq.sourceWidth = 48, rq.sourceHeight = 32;
        qxDistortFit(&rq);
        ASSERT_EQ(rq.error, 0u);
        const double *c = rq.coefficients;
        cv::Matx33d reverse(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], 1),
            centre(1, 0, rq.xOrigin + 0.5, 0, 1, rq.yOrigin + 0.5, 0, 0, 1), corner(1, 0, -0.5, 0, 1, -0.5, 0, 0, 1);
        cv::Mat source(32, 48, CV_8UC4, const_cast<uint32_t *>(gp.data())), ref;
        cv::warpPerspective(source, ref, cv::Mat(corner * reverse * centre), cv::Size(rq.outputWidth, rq.outputHeight),
                            cv::INTER_NEAREST | cv::WARP_INVERSE_MAP, cv::BORDER_CONSTANT, cv::Scalar::all(0));
        ASSERT_EQ(qxDistortBitmap(g.bm, nullptr, nullptr, 48, 32, 4, 16, args.data(), 0, &b, &mk, &al, &w, &h), 0);
        ASSERT_EQ(w, ref.cols);
        ASSERT_EQ(h, ref.rows);
        qxBitMapLock l;
        ASSERT_TRUE(qxLockBitMap(b, 1, &l));
        int differ = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) differ += qxReadPixelRGB(&l, x, y) != (ref.at<uint32_t>(y, x) & 0xFFFFFF);
        qxUnLockBitMap(&l);
        EXPECT_LE(differ, 2) << "of " << w * h << " pixels";
        qxFreeBitMap(b), qxFreeMaskBitMap(mk);
    }
}

TEST(ReadBack, RowsBecomeNativeArgb)
{
    for (uint32_t format : {10u, 11u, 12u, 13u}) {
        Pic p(5, 3, format);
        auto px = p.pixels();
        uint32_t *buf = nullptr, synced = 9;
        ASSERT_EQ(qxReadBitmapPixels(p.bm, 1, 1, 4, 3, &synced, &buf), 0);
        ASSERT_NE(buf, nullptr);
        for (int j = 0; j < 2; ++j)
            for (int i = 0; i < 4; ++i) EXPECT_EQ(buf[j * 4 + i] & 0xFFFFFF, px[size_t((j + 1) * 5 + i + 1)]) << format;
        delete[] buf;
    }
}
