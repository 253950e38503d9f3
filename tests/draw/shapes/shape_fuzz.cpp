// Random shape records and draw states through the shape renderer: sizes,
// radii, angles, corners, polygons and matrices of any value must give an
// image or an error code, never an access outside the buffers.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "draw/qx_shaperender.h"
#include "draw/vector/qx_shapegeom.h"
#include "objects/qx_displayopts.h"

namespace {

struct Reader {
    const uint8_t *p;
    size_t n;
    template <typename T> T get()
    {
        T v{};
        size_t k = std::min(sizeof v, n);
        std::memcpy(&v, p, k);
        p += k, n -= k;
        return v;
    }
    // Mostly small values so that rendering happens, sometimes anything.
    int32_t small() { int32_t v = get<int32_t>(); return (v & 0x10000000) ? v : v % 300; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool init = (qxInitRotationPresets(), true);
    (void)init;
    Reader r{data, size};
    static const uint32_t types[] = {QX_SHAPE_BOX, QX_SHAPE_CIRCLE, QX_SHAPE_ELLIPSE, QX_SHAPE_POLYGON, QX_SHAPE_ARC};
    qxShapeRecord s{};
    s.type = types[r.get<uint8_t>() % 5];
    s.rx = std::abs(r.small() % 200) + 1, s.ry = std::abs(r.small() % 200) + 1;
    s.width = s.type == QX_SHAPE_BOX ? std::abs(r.small() % 400) + 1 : 2 * s.rx + 1;
    s.height = s.type == QX_SHAPE_BOX ? std::abs(r.small() % 400) + 1 : 2 * s.ry + 1;
    s.start = r.small(), s.end = r.small(), s.clockwise = r.get<uint8_t>() & 1;
    for (int32_t &c : s.corners) c = r.small();
    qxClampCorners(s.corners);
    std::vector<double> pts;
    const int n = r.get<uint8_t>() % 40 + 2;
    for (int i = 0; i < 2 * n; i++) pts.push_back(r.get<int16_t>() / 16.0);
    s.points = pts.data(), s.pointCount = n;
    s.colour = r.get<uint32_t>();
    qxTransformOptions t{};
    t.m11 = r.get<double>(), t.m12 = r.get<double>(), t.m21 = r.get<double>(), t.m22 = r.get<double>();
    if (r.get<uint8_t>() & 1) t.m11 = t.m22 = 1, t.m12 = t.m21 = 0;
    t.anchorx = 0.5, t.anchory = 0.5;
    s.transform = &t;
    qxDrawState st{};
    st.fillStyle = r.get<uint8_t>() % 3; // texture needs a script
    st.formStyle = r.get<uint8_t>();
    st.gradient.type = 2 + r.get<uint8_t>() % 3;
    st.borderSize = r.small(), st.shadowSize = r.small(), st.shadowDirection = r.get<uint8_t>();
    st.lineWidth = r.small();
    qxClampDrawStyle(&st);
    qxShapeImage im;
    if (qxRenderShapeImage(nullptr, &s, &st, &im) == 0 && im.w > 0) {
        volatile uint32_t sum = 0;
        sum = sum + im.pixels.back() + im.alpha.back() + uint32_t(im.pixels.size() == size_t(im.w) * im.h);
    }
    im = qxShapeImage();
    if (qxRenderShapeCoverage(nullptr, &s, &st, &im) == 0 && im.alpha.size() != size_t(im.w) * size_t(im.h))
        __builtin_trap(); // the coverage is the whole image's
    return 0;
}
