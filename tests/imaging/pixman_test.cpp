// Our kernels against pixman on seeded random rectangles: fills, copies,
// 1-bit and byte-masked copies, nearest scaling, and the alpha blend.
#include <gtest/gtest.h>

#include <pixman.h>

#include <random>
#include <vector>

#include "imaging/qx_blit.h"
#include "imaging/qx_scale.h"

namespace {

struct Case {
    int pitch, height; // the planes' pitch in pixels and rows
    int sx, sy, dx, dy, w, h;
};

// Rectangles of 1-300 pixels at edge offsets inside planes with odd (or,
// for 16 bits, word-aligned but not 8-aligned) pitches.
Case randomCase(std::mt19937 &rng, int bpp)
{
    Case c;
    c.w = 1 + int(rng() % 300), c.h = 1 + int(rng() % 40);
    int extra = int(rng() % 5);
    c.pitch = c.w + extra + 1;
    if (bpp == 4) c.pitch |= 1;
    else c.pitch = (c.pitch + 1) & ~1;
    c.height = c.h + int(rng() % 3);
    auto pos = [&](int room) { return rng() % 3 == 0 ? room : int(rng() % unsigned(room + 1)); };
    c.sx = pos(c.pitch - c.w), c.dx = pos(c.pitch - c.w);
    c.sy = pos(c.height - c.h), c.dy = pos(c.height - c.h);
    return c;
}

int bppOf(pixman_format_code_t f) { return f == PIXMAN_r5g6b5 ? 2 : 4; }

template <typename P> std::vector<P> randomPlane(std::mt19937 &rng, size_t n, bool opaque)
{
    std::vector<P> v(n);
    for (auto &p : v) p = P(rng() | (opaque && sizeof(P) == 4 ? 0xFF000000u : 0));
    return v;
}

pixman_image_t *wrap(pixman_format_code_t f, void *bits, const Case &c)
{
    return pixman_image_create_bits(f, c.pitch, c.height, static_cast<uint32_t *>(bits), c.pitch * bppOf(f));
}

template <typename P> void fillAndCopy(pixman_format_code_t f, std::mt19937 &rng)
{
    for (int iter = 0; iter < 400; ++iter) {
        Case c = randomCase(rng, sizeof(P));
        size_t n = size_t(c.pitch) * c.height;
        auto src = randomPlane<P>(rng, n, false), ours = randomPlane<P>(rng, n, false), theirs = ours;
        uint32_t value = rng();
        if (sizeof(P) == 2) value &= 0xFFFF;
        // Fills.
        qxBlitRecord fill{nullptr, ours.data(), 0, 0, c.dx, c.dy, c.w, c.h, 0, c.pitch, nullptr, 0, value};
        sizeof(P) == 4 ? qxFillRect32(&fill) : qxFillRect16(&fill);
        pixman_fill(reinterpret_cast<uint32_t *>(theirs.data()), c.pitch * int(sizeof(P)) / 4, int(sizeof(P)) * 8,
                    c.dx, c.dy, c.w, c.h, value);
        ASSERT_EQ(ours, theirs) << "fill " << iter;
        // Plain copies.
        qxBlitRecord copy{src.data(), ours.data(), c.sx, c.sy, c.dx, c.dy, c.w, c.h, c.pitch, c.pitch, nullptr, 0, 0};
        sizeof(P) == 4 ? qxBlitConvert32(&copy) : qxBlitConvert16(&copy);
        pixman_image_t *s = wrap(f, src.data(), c), *d = wrap(f, theirs.data(), c);
        pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, c.sx, c.sy, 0, 0, c.dx, c.dy, c.w, c.h);
        ASSERT_EQ(ours, theirs) << "copy " << iter;
        pixman_image_unref(s), pixman_image_unref(d);
    }
}

template <typename P> void maskedCopies(pixman_format_code_t f, std::mt19937 &rng)
{
    // An opaque source makes OVER a copy wherever the mask is set.
    pixman_format_code_t sf = f == PIXMAN_a8r8g8b8 ? PIXMAN_x8r8g8b8 : f;
    for (int iter = 0; iter < 300; ++iter) {
        Case c = randomCase(rng, sizeof(P));
        size_t n = size_t(c.pitch) * c.height;
        auto src = randomPlane<P>(rng, n, true), ours = randomPlane<P>(rng, n, false), theirs = ours;
        int maskRow = ((c.pitch + 15) >> 3) & ~1, a1Stride = ((c.pitch + 31) / 32) * 4;
        std::vector<uint8_t> bits(size_t(maskRow) * c.height);
        std::vector<uint32_t> a1(size_t(a1Stride / 4) * c.height, 0);
        const int byteRow = (c.pitch + 3) & ~3; // a8 rows need whole words
        std::vector<uint8_t> bytes(size_t(byteRow) * c.height);
        int density = int(rng() % 3);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.pitch; ++x) {
                bool on = density == 0 ? rng() % 2 : density == 1 ? rng() % 16 != 0 : rng() % 16 == 0;
                qxSetMaskBit(&bits[size_t(y * maskRow)], x, on);
                // pixman's a1 on little-endian: bit x & 31 of word x >> 5.
                if (on) a1[size_t(y * (a1Stride / 4) + x / 32)] |= 1u << (x & 31);
                bytes[size_t(y * byteRow + x)] = on ? 255 : 0;
            }
        pixman_image_t *s = wrap(sf, src.data(), c);
        pixman_image_t *m1 = pixman_image_create_bits(PIXMAN_a1, c.pitch, c.height, a1.data(), a1Stride);
        pixman_image_t *m8 = pixman_image_create_bits(PIXMAN_a8, c.pitch, c.height,
                                                      reinterpret_cast<uint32_t *>(bytes.data()), byteRow);
        auto theirs8 = theirs;
        pixman_image_t *d = wrap(f, theirs.data(), c);
        qxBlitRecord r{src.data(), ours.data(), c.sx, c.sy, c.dx, c.dy, c.w, c.h, c.pitch, c.pitch, bits.data(),
                       maskRow, 0};
        auto ours8 = ours;
        sizeof(P) == 4 ? qxBlitMasked32(&r) : qxBlitMasked16(&r);
        pixman_image_composite32(PIXMAN_OP_OVER, s, m1, d, c.sx, c.sy, c.sx, c.sy, c.dx, c.dy, c.w, c.h);
        ASSERT_EQ(ours, theirs) << "a1 " << iter;
        {
            qxBlendRecord b{src.data(), c.sx, c.sy, c.pitch, ours8.data(), c.dx, c.dy, c.pitch, c.w, c.h, bytes.data(),
                            c.sx, c.sy, byteRow, nullptr, 0, sizeof(P) == 4 ? 10u : 4u};
            sizeof(P) == 4 ? qxCopyMasked32(&b) : qxCopyMasked16(&b);
            pixman_image_t *d8 = wrap(f, theirs8.data(), c);
            pixman_image_composite32(PIXMAN_OP_OVER, s, m8, d8, c.sx, c.sy, c.sx, c.sy, c.dx, c.dy, c.w, c.h);
            ASSERT_EQ(ours8, theirs8) << "a8 " << iter;
            pixman_image_unref(d8), pixman_image_unref(m8);
        }
        pixman_image_unref(s), pixman_image_unref(m1), pixman_image_unref(d);
    }
}

} // namespace

TEST(Pixman, FillsAndCopies)
{
    std::mt19937 rng(2024);
    fillAndCopy<uint32_t>(PIXMAN_a8r8g8b8, rng);
    fillAndCopy<uint32_t>(PIXMAN_x8r8g8b8, rng);
    fillAndCopy<uint16_t>(PIXMAN_r5g6b5, rng);
}

TEST(Pixman, MaskedCopies)
{
    std::mt19937 rng(77);
    maskedCopies<uint32_t>(PIXMAN_a8r8g8b8, rng);
    maskedCopies<uint32_t>(PIXMAN_x8r8g8b8, rng);
    maskedCopies<uint16_t>(PIXMAN_r5g6b5, rng);
}

// Our nearest sampling takes column trunc(i * step); pixman samples pixel
// centres, so its transform is shifted by half a destination pixel.
TEST(Pixman, NearestUpAndDown)
{
    std::mt19937 rng(31);
    for (int iter = 0; iter < 200; ++iter) {
        bool up = iter % 2;
        int sw = 2 + int(rng() % 150) * 2, sh = 2 + int(rng() % 30) * 2;
        int dw = up ? sw * 2 : sw / 2, dh = up ? sh * 2 : sh / 2;
        auto src = randomPlane<uint32_t>(rng, size_t(sw * sh), true);
        std::vector<uint32_t> ours(size_t(dw * dh)), theirs(size_t(dw * dh));
        qxScaleRecord r{};
        r.sourcePixels = src.data(), r.destPixels = ours.data(), r.sourceWidth = sw, r.sourceHeight = sh;
        r.destWidth = dw, r.destHeight = dh, r.sourcePitch = sw, r.destPitch = dw, r.layout = 10, r.bytesPerPixel = 4;
        qxScaleBitmap(&r);
        pixman_image_t *s = pixman_image_create_bits(PIXMAN_a8r8g8b8, sw, sh, src.data(), sw * 4);
        pixman_image_t *d = pixman_image_create_bits(PIXMAN_a8r8g8b8, dw, dh, theirs.data(), dw * 4);
        pixman_transform_t t;
        pixman_fixed_t scale = up ? pixman_fixed_1 / 2 : pixman_fixed_1 * 2;
        pixman_transform_init_scale(&t, scale, scale);
        pixman_fixed_t shift = -scale / 2 + pixman_fixed_e;
        t.matrix[0][2] = shift, t.matrix[1][2] = shift;
        pixman_image_set_transform(s, &t);
        pixman_image_set_filter(s, PIXMAN_FILTER_NEAREST, nullptr, 0);
        pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, dw, dh);
        ASSERT_EQ(ours, theirs) << (up ? "up " : "down ") << sw << "x" << sh;
        pixman_image_unref(s), pixman_image_unref(d);
    }
}

// Blend mode 0 against OVER of an opaque source through an a8 mask: pixman
// divides by 255 with rounding, we shift by 8; at most 2 apart per colour.
TEST(Pixman, BlendWithinTwo)
{
    std::mt19937 rng(8);
    for (int iter = 0; iter < 300; ++iter) {
        Case c = randomCase(rng, 4);
        c.pitch = (c.pitch + 3) & ~3; // a8 rows need whole words
        if (c.sx + c.w > c.pitch || c.dx + c.w > c.pitch) continue;
        size_t n = size_t(c.pitch) * c.height;
        auto src = randomPlane<uint32_t>(rng, n, true), ours = randomPlane<uint32_t>(rng, n, true), theirs = ours;
        std::vector<uint8_t> a(n);
        for (auto &v : a) v = uint8_t(rng());
        qxBlendRecord b{src.data(), c.sx, c.sy, c.pitch, ours.data(), c.dx, c.dy, c.pitch, c.w, c.h, a.data(),
                        c.sx, c.sy, c.pitch, nullptr, 0, 10};
        qxBlendAlpha32(&b);
        pixman_image_t *s = wrap(PIXMAN_x8r8g8b8, src.data(), c), *d = wrap(PIXMAN_x8r8g8b8, theirs.data(), c);
        pixman_image_t *m = pixman_image_create_bits(PIXMAN_a8, c.pitch, c.height,
                                                     reinterpret_cast<uint32_t *>(a.data()), c.pitch);
        pixman_image_composite32(PIXMAN_OP_OVER, s, m, d, c.sx, c.sy, c.sx, c.sy, c.dx, c.dy, c.w, c.h);
        for (size_t i = 0; i < n; ++i)
            for (int sh = 0; sh < 24; sh += 8)
                ASSERT_LE(std::abs(int((ours[i] >> sh) & 255) - int((theirs[i] >> sh) & 255)), 2) << iter;
        pixman_image_unref(s), pixman_image_unref(d), pixman_image_unref(m);
    }
}
