// A W x H display with its own BGPic and no window, current for the test,
// that the layer and sprite tests draw on.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "display/qx_bgpic.h"
#include "display/qx_display.h"
#include "layers/qx_layer.h"
#include "objects/qx_output.h"

namespace layertest {

constexpr int W = 160, H = 120;

struct Free {
    void operator()(uint32_t *p) const { std::free(p); }
};
using Pixels = std::unique_ptr<uint32_t, Free>;

struct DisplayScene : ::testing::Test {
    qxDisplay *d = nullptr;
    void SetUp() override
    {
        qxLinkLayerEngine();
        d = qxNewDisplayRecord(1);
        qxObjectRef ref{0, QX_NEW_AUTOMATIC};
        ASSERT_EQ(qxCreateBGPicFromBitmap(&ref, W, H, 0x204060, &d->bgpic), 0);
        d->targetType = QX_OUT_DISPLAY;
        qxCurrentDisplay = d;
    }
    void TearDown() override
    {
        qxFreeOutputState(d);
        qxFreeBGPicRecord(nullptr, d->bgpic);
        qxFreeLayerBackgrounds();
        qxCurrentDisplay = nullptr;
        std::free(d);
    }
};

} // namespace layertest
