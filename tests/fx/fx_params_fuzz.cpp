// Random effect requests run off-screen: id, size up to 64x64, speed,
// parameter, reverse and planes from the input; every run must end on the
// new picture within a bounded number of frames.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fxharness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    uint8_t b[16] = {};
    std::memcpy(b, data, size < sizeof b ? size : sizeof b);
    const int32_t id = b[0] % 145 - 2; // a few ids without a renderer too
    const int32_t w = b[1] % 64 + 1, h = b[2] % 64 + 1;
    int32_t speed;
    std::memcpy(&speed, b + 3, 4);
    if (b[7] & 1) speed = int32_t(b[3] % 5) - 4; // the codes and their neighbours
    int32_t parameter;
    std::memcpy(&parameter, b + 8, 4);
    if (b[12] & 1) parameter = -1;
    const bool reverse = b[12] & 2;
    const auto planes = fxtest::Planes(b[13] % 3);
    const qxFXEffect *e = qxFXFindEffect(reverse ? qxFXReverseEffect(id) : id);
    if (!e) return 0;
    fxtest::FxRun run(id, w, h, speed, planes, reverse);
    run.fx.parameter = parameter;
    // Frames are bounded by the area: no effect needs more than this.
    const bool done = run.play(4 * 64 * 64 + 64, [](int32_t) {});
    if (run.error) return 0;
    if (!done || fxtest::readPixels(run.target) != run.expected) std::abort();
    return 0;
}
