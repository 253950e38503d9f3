// Random item buffers through the inbuilt vector engine: every opcode with
// raw doubles (NaN, infinities, huge values), both fill rules, every cap and
// join, strokes of any width, matrices and small planes. Under ASan no byte
// outside a plane may be touched.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <vector>

#include "draw/vector/qx_ftengine.h"
#include "draw/vector/qx_path.h"

namespace {

struct Reader {
    const uint8_t *p;
    size_t n;
    uint32_t u8() { return n ? (--n, *p++) : 0; }
    uint32_t u32() { return u8() | u8() << 8 | u8() << 16 | u8() << 24; }
    double real()
    {
        if (u8() & 1) return double(int32_t(u8() % 100) - 20) + u8() / 64.0;
        uint64_t bits = uint64_t(u32()) | uint64_t(u32()) << 32;
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }
    qxPathValue d() { qxPathValue v{1, {}}; v.f64 = real(); return v; }
    qxPathValue u(uint32_t x) { qxPathValue v{0, {}}; v.u32 = x; return v; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Reader r{data, size};
    qxPathBuffer path{nullptr, 0, nullptr};
    for (int items = int(r.u8() % 24); items > 0 && r.n; items--) {
        uint32_t op = 1 + r.u8() % 9;
        std::vector<qxPathValue> v;
        switch (op) {
        case QX_PATH_MOVETO:
        case QX_PATH_LINETO: v = {r.u(r.u8() & 1), r.d(), r.d()}; break;
        case QX_PATH_CURVETO: v = {r.u(r.u8() & 1), r.d(), r.d(), r.d(), r.d(), r.d(), r.d()}; break;
        case QX_PATH_ARC: v = {r.d(), r.d(), r.d(), r.d(), r.d(), r.d(), r.u(r.u8() & 1)}; break;
        case QX_PATH_BOX: v = {r.d(), r.d(), r.d(), r.d(), r.u(r.u32()), r.u(r.u32()), r.u(r.u32()), r.u(r.u32())}; break;
        case QX_PATH_TEXT: {
            qxPathValue f{3, {}}, s{0, {}}, t{2, {}};
            f.u64 = 0, s.u32 = r.u8(), t.string = "ab";
            v = {f, s, t};
            break;
        }
        default: break; // opcodes 4 and above 9 included: skipped as 4 bytes
        }
        if (qxPathAppend(&path, op, v.data(), int32_t(v.size()))) break;
    }
    if (!path.items) return 0;
    qxEngineState st{};
    st.lineJoin = r.u8() % 4, st.lineCap = r.u8() % 4, st.fillRule = r.u8() & 1, st.antialias = r.u8() & 1;
    st.miterLimit = r.real();
    double m[4] = {1, 0, 0, 1};
    if (r.u8() & 1)
        for (double &x : m) x = r.real();
    uint32_t w = 1 + r.u8() % 40, h = 1 + r.u8() % 40, width = (r.u8() & 1) ? r.u32() : r.u8() % 12;
    std::vector<uint8_t> plane(size_t(w) * h);
    qxPathDrawRequest d{};
    d.items = path.items, d.state = &st, d.fill = r.u8() & 1, d.lineWidth = width, d.target = plane.data();
    d.stride = w, d.width = w, d.height = h, d.bx = r.real(), d.by = r.real(), d.matrix = m;
    qxFtDrawPath(&d);
    qxPathExtentsRequest e{};
    e.items = path.items, e.state = &st, e.fill = d.fill, e.lineWidth = width, e.matrix = m;
    qxFtGetPathExtents(&e);
    double x = 0, y = 0;
    qxFtGetCurrentPoint(path.items, &st, &x, &y);
    qxPathTranslateRequest t{path.items, 0, r.real(), r.real()};
    qxFtTranslatePath(&t);
    qxPathClear(&path);

    // A draw-library shape, measured and then drawn into a plane of at most 40 x 40.
    int32_t levels[4] = {int32_t(r.u32()), int32_t(r.u8()), int32_t(r.u8()) - 20, 100};
    qxFtShape sh{};
    sh.type = (r.u8() & 1) ? 14 : (r.u8() & 1) ? 31 : 15;
    sh.rx = int32_t(r.u8() % 30), sh.ry = int32_t(r.u8() % 30), sh.start = int32_t(r.u32()), sh.end = int32_t(r.u32());
    sh.width = int32_t(r.u8() % 50), sh.height = int32_t(r.u8() % 50), sh.clockwise = r.u8() & 1, sh.grow = r.u8() % 8;
    sh.matrix = m, sh.corners = levels, sh.filled = r.u8() & 1, sh.lineWidth = r.u8() % 10;
    if (qxFtRenderShape(&sh)) {
        sh.planeWidth = std::min(sh.planeWidth, w), sh.planeHeight = std::min(sh.planeHeight, h);
        sh.target = plane.data(), sh.stride = w;
        qxFtRenderShape(&sh);
    }
    return 0;
}
