// The display core on a display without a window: brushes put with
// anchors, position constants, parts, transparency and transforms into the
// shown picture, a selected brush, mask or alpha channel, and the double
// buffer's dirty rectangles, each against pixels worked out here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <vector>

#include "core/vm/lauxlib.h"
#include "core/vm/lua.h"
#include "display/qx_bgpic.h"
#include "display/qx_bitmapdraw.h"
#include "display/qx_bitmapscale.h"
#include "display/qx_display.h"
#include "objects/qx_bgpicdisplay.h"
#include "objects/qx_brush.h"
#include "objects/qx_displaycore.h"
#include "objects/qx_output.h"
#include "objects/qx_selection.h"
#include "platform/qx_errcodes.h"
#include "platform/qx_memory.h"

namespace {

struct DisplayCore : ::testing::Test {
    lua_State *L = lua_open();
    qxDisplay *d = qxNewDisplayRecord(1);
    qxBGPic *bgpic = nullptr;

    void SetUp() override
    {
        qxObjectRef ref{0, QX_NEW_AUTOMATIC};
        ASSERT_EQ(qxCreateBGPicFromBitmap(&ref, 100, 80, 0x000080, &bgpic), 0);
        d->bgpic = bgpic;
        d->width = 100, d->height = 80;
        qxCurrentDisplay = d;
        qxBitMapDisplay.currentView = qxOutputView;
    }
    void TearDown() override
    {
        qxFreeOutputState(d);
        qxCurrentDisplay = nullptr;
        qxCurrentOutput = nullptr;
        qxFreeAllBrushes(L);
        qxFreeBGPicList(nullptr);
        std::free(d);
        lua_close(L);
    }
    // A brush of w x h in one colour with an optional alpha level or mask
    // of its left half.
    void brush(uint32_t id, int32_t w, int32_t h, uint32_t colour, int alpha = -1, bool halfMask = false)
    {
        qxBitMap *bm = qxAllocBitMap(uint32_t(w), uint32_t(h), 0, nullptr);
        qxFillBitMapColour(bm, colour);
        qxBitMap *a = nullptr, *m = nullptr;
        if (alpha >= 0) {
            a = qxAllocAlphaBitMap(uint32_t(w), uint32_t(h), 0, nullptr, 0);
            qxFillBitMapRect(a, 0, 0, w, h, uint32_t(alpha));
        }
        if (halfMask) {
            m = qxAllocMaskBitMap(bm, uint32_t(w), uint32_t(h), 1, nullptr, 0);
            qxMaskRowOp(m, 0, 0, w / 2, h, 0);
        }
        qxObjectRef ref{id, nullptr};
        ASSERT_EQ(qxAddBrush(&ref, 0, uint32_t(w), uint32_t(h), uint32_t(w), 0, nullptr, bm, 0xFFFFFFFFu, m, a,
                             nullptr, nullptr),
                  0);
    }
    // Runs a command with arguments pushed by push; the code it ends with.
    int run(lua_CFunction f, std::function<void(lua_State *)> push)
    {
        lua_settop(L, 0);
        lua_pushcfunction(L, f);
        push(L);
        return lua_pcall(L, lua_gettop(L) - 1, 0, 0);
    }
    int displayBrush(double id, double x, double y, std::function<void(lua_State *)> tags = nullptr)
    {
        return run(qxCmdDisplayBrush, [&](lua_State *S) {
            lua_pushnumber(S, id), lua_pushnumber(S, x), lua_pushnumber(S, y);
            if (tags) lua_newtable(S), tags(S);
        });
    }
    uint32_t pixel(qxBitMap *bm, int32_t x, int32_t y)
    {
        uint32_t *p = qxBitMapToARGB(bm, x, y, 1, 1, 0);
        uint32_t v = p ? p[0] & 0xFFFFFF : 0xDEAD;
        qxFree(p);
        return v;
    }
    // What the display shows (its drawn-on copy of the BGPic).
    uint32_t shown(int32_t x, int32_t y) { return pixel(qxDisplayWorkBitmap(d, 1), x, y); }
};

void num(lua_State *L, const char *k, double v)
{
    lua_pushstring(L, k);
    lua_pushnumber(L, v);
    lua_settable(L, -3);
}

// OVER of an opaque colour at level a onto dst, per channel, rounded down.
uint32_t over(uint32_t src, uint32_t dst, uint32_t a)
{
    uint32_t out = 0;
    for (int s = 0; s < 24; s += 8) {
        uint32_t c = ((src >> s & 255) * a + (dst >> s & 255) * (255 - a)) / 255;
        out |= c << s;
    }
    return out;
}

void expectNear(uint32_t got, uint32_t want)
{
    for (int s = 0; s < 24; s += 8)
        EXPECT_LE(std::abs(int(got >> s & 255) - int(want >> s & 255)), 1) << std::hex << got << " vs " << want;
}

TEST_F(DisplayCore, PositionsAnchorsAndParts)
{
    brush(1, 10, 6, 0xFF0000);
    ASSERT_EQ(displayBrush(1, -100000, -100000), 0); // #CENTER
    EXPECT_EQ(shown(45, 37), 0xFF0000u);
    EXPECT_EQ(shown(54, 42), 0xFF0000u);
    EXPECT_EQ(shown(44, 37), 0x000080u);
    EXPECT_EQ(shown(55, 42), 0x000080u);
    // The anchor names the bottom-right corner.
    ASSERT_EQ(displayBrush(1, 20, 20, [](lua_State *S) { num(S, "anchorx", 1), num(S, "anchory", 1); }), 0);
    EXPECT_EQ(shown(10, 14), 0xFF0000u);
    EXPECT_EQ(shown(19, 19), 0xFF0000u);
    EXPECT_EQ(shown(20, 20), 0x000080u);
    EXPECT_EQ(shown(9, 14), 0x000080u);
    // Parts: -1 and the width are refused, a wide part is clipped.
    auto part = [&](double sx, double sy, double w) {
        return run(qxCmdDisplayBrushPart, [&](lua_State *S) {
            for (double v : {1.0, sx, sy, 70.0, 5.0, w, 2.0}) lua_pushnumber(S, v);
        });
    };
    EXPECT_EQ(part(-1, 0, 4), ERR_NEGCOORDS);
    EXPECT_EQ(part(10, 0, 4), ERR_COORDSRANGE);
    ASSERT_EQ(part(8, 0, 50), 0);
    EXPECT_EQ(shown(71, 6), 0xFF0000u);
    EXPECT_EQ(shown(72, 6), 0x000080u);
    EXPECT_EQ(shown(71, 7), 0x000080u);
    EXPECT_EQ(displayBrush(9, 0, 0), ERR_FINDBRUSH);
    // Far outside, with an anchor: nothing drawn, nothing wrapped.
    for (double far : {-1e12, 1e12, 2147483647.0})
        EXPECT_EQ(displayBrush(1, far, far, [](lua_State *S) { num(S, "anchorx", 1), num(S, "anchory", 1); }), 0);
    EXPECT_EQ(displayBrush(1, 0, 0, [](lua_State *S) { num(S, "scalex", 0); }), ERR_WRONGUSAGE);
}

TEST_F(DisplayCore, TransparencyMasksAndAlpha)
{
    brush(1, 8, 8, 0x00FF00);
    ASSERT_EQ(displayBrush(1, 0, 0, [](lua_State *S) { num(S, "transparency", 128); }), 0);
    expectNear(shown(3, 3), over(0x00FF00, 0x000080, 127));
    ASSERT_EQ(displayBrush(1, 10, 0, [](lua_State *S) { num(S, "transparency", 255); }), 0);
    EXPECT_EQ(shown(13, 3), 0x000080u);
    // A brush's own alpha channel, then scaled by a transparency.
    brush(2, 8, 8, 0xFFFFFF, 200);
    ASSERT_EQ(displayBrush(2, 20, 0), 0);
    expectNear(shown(23, 3), over(0xFFFFFF, 0x000080, 200));
    ASSERT_EQ(displayBrush(2, 30, 0, [](lua_State *S) { num(S, "transparency", 100); }), 0);
    expectNear(shown(33, 3), over(0xFFFFFF, 0x000080, 200 * 155 / 255));
    // A mask keeps its hidden half hidden, also with a transparency.
    brush(3, 8, 8, 0xFF0000, -1, true);
    ASSERT_EQ(displayBrush(3, 40, 0), 0);
    EXPECT_EQ(shown(41, 3), 0xFF0000u);
    EXPECT_EQ(shown(46, 3), 0x000080u);
    ASSERT_EQ(displayBrush(3, 50, 0, [](lua_State *S) { num(S, "transparency", 128); }), 0);
    expectNear(shown(51, 3), over(0xFF0000, 0x000080, 127));
    EXPECT_EQ(shown(56, 3), 0x000080u);
}

TEST_F(DisplayCore, ScaleAndRotate)
{
    brush(1, 4, 2, 0xFFFF00);
    ASSERT_EQ(displayBrush(1, 10, 10, [](lua_State *S) { num(S, "scalex", 3), num(S, "scaley", 2); }), 0);
    EXPECT_EQ(shown(10, 10), 0xFFFF00u);
    EXPECT_EQ(shown(21, 13), 0xFFFF00u);
    EXPECT_EQ(shown(22, 13), 0x000080u);
    EXPECT_EQ(shown(21, 14), 0x000080u);
    // A quarter turn stands the 4 x 2 brush upright: 2 x 4.
    ASSERT_EQ(displayBrush(1, 40, 40, [](lua_State *S) { num(S, "rotate", 90); }), 0);
    EXPECT_EQ(shown(40, 40), 0xFFFF00u);
    EXPECT_EQ(shown(41, 43), 0xFFFF00u);
    EXPECT_EQ(shown(42, 40), 0x000080u);
    EXPECT_EQ(shown(40, 44), 0x000080u);
    EXPECT_EQ(displayBrush(1, 0, 0, [](lua_State *S) { num(S, "scalex", 1e9), num(S, "scaley", 1e9); }),
              ERR_BITMAP);
}

TEST_F(DisplayCore, SelectedBrushMaskAndAlpha)
{
    brush(1, 20, 20, 0x000000);
    brush(2, 4, 4, 0xFFFFFF);
    qxObjectRef one{1, nullptr};
    qxBrush *target = nullptr;
    ASSERT_EQ(qxFindBrush(L, one, &target, 0), 0);
    ASSERT_EQ(run(qxCmdSelectBrush, [](lua_State *S) { lua_pushnumber(S, 1); }), 0);
    ASSERT_EQ(run(qxCmdSelectBrush, [](lua_State *S) { lua_pushnumber(S, 1); }), 0); // no change
    ASSERT_EQ(displayBrush(2, 2, 2), 0);
    EXPECT_EQ(pixel(target->bitmap, 2, 2), 0xFFFFFFu);
    EXPECT_EQ(shown(2, 2), 0x000080u); // the display is untouched
    // The selected brush cannot be freed; displaying it ends the selection.
    EXPECT_EQ(qxFreeBrush(L, one, 1), ERR_MODIFYABR);
    EXPECT_EQ(run(qxCmdBeginDoubleBuffer, [](lua_State *) {}), ERR_SELECTBRUSH);
    ASSERT_EQ(displayBrush(1, 0, 0), 0);
    EXPECT_EQ(d->targetType, uint32_t(QX_OUT_DISPLAY));
    EXPECT_EQ(shown(2, 2), 0xFFFFFFu);
    EXPECT_EQ(run(qxCmdEndSelect, [](lua_State *) {}), ERR_WRONGUSAGE);
    // A mask target is made at the first drawing; an alpha target frees it.
    ASSERT_EQ(run(qxCmdSelectMask, [](lua_State *S) { lua_pushnumber(S, 1); }), 0);
    EXPECT_EQ(target->mask, nullptr);
    ASSERT_EQ(displayBrush(2, 0, 0), 0);
    ASSERT_NE(target->mask, nullptr);
    ASSERT_EQ(run(qxCmdSelectAlphaChannel, [](lua_State *S) { lua_pushnumber(S, 1); }), 0);
    ASSERT_EQ(displayBrush(2, 0, 0), 0);
    EXPECT_EQ(target->mask, nullptr);
    ASSERT_NE(target->alpha, nullptr);
    ASSERT_EQ(run(qxCmdEndSelect, [](lua_State *) {}), 0);
    EXPECT_EQ(run(qxCmdSelectAlphaChannel, [](lua_State *S) { lua_pushnumber(S, 1), lua_pushnumber(S, 4); }),
              ERR_MISSINGPARAMTR);
    // No anim 1: it is looked for before its frame is checked.
    EXPECT_EQ(run(qxCmdSelectAlphaChannel,
                  [](lua_State *S) { lua_pushnumber(S, 1), lua_pushnumber(S, 4), lua_pushnumber(S, 0); }),
              ERR_FINDANIM);
    EXPECT_EQ(run(qxCmdSelectBGPic, [](lua_State *S) { lua_pushnil(S); }), ERR_NOLAYERS);
}

TEST_F(DisplayCore, DoubleBufferDirtyRectangles)
{
    brush(1, 4, 4, 0xFF00FF);
    EXPECT_EQ(run(qxCmdFlip, [](lua_State *) {}), ERR_NODOUBLEBUFFER);
    EXPECT_EQ(run(qxCmdEndDoubleBuffer, [](lua_State *) {}), ERR_NODOUBLEBUFFER);
    d->layersEnabled = 1;
    EXPECT_EQ(run(qxCmdBeginDoubleBuffer, [](lua_State *) {}), ERR_LAYERSOFF);
    d->layersEnabled = 0;
    ASSERT_EQ(run(qxCmdBeginDoubleBuffer, [](lua_State *) {}), 0);
    EXPECT_EQ(run(qxCmdBeginDoubleBuffer, [](lua_State *) {}), ERR_ENDDOUBLEBUFFER);
    EXPECT_EQ(run(qxCmdEndSelect, [](lua_State *) {}), ERR_WRONGUSAGE);
    qxOutputState *s = qxOutputOf(d, 0);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(displayBrush(1, 10, 10), 0);
    ASSERT_EQ(displayBrush(1, 12, 12), 0);
    ASSERT_EQ(displayBrush(1, -2, 78), 0); // clipped to the picture
    ASSERT_EQ(s->dirtyCount, 3u);
    EXPECT_EQ(s->dirty[2].left, 0);
    EXPECT_EQ(s->dirty[2].bottom, 79);
    EXPECT_EQ(shown(10, 10), 0x000080u); // nothing reaches the display
    // Flip merges the touching rectangles and copies only them.
    ASSERT_EQ(run(qxCmdFlip, [](lua_State *S) { lua_pushnumber(S, 0); }), 0);
    EXPECT_EQ(pixel(s->windowBuffer, 15, 15), 0xFF00FFu);
    EXPECT_EQ(pixel(s->windowBuffer, 16, 16), 0x000000u);
    EXPECT_EQ(s->dirtyCount, 0u);
    qxRectI r[3] = {{10, 10, 13, 13}, {12, 12, 15, 15}, {0, 78, 1, 79}};
    ASSERT_EQ(qxMergeRects(r, 3), 2u);
    EXPECT_EQ(r[0].right, 15);
    // A full list copies the whole back buffer.
    for (int i = 0; i < 1100; ++i) qxAddDirtyRect(d, 50, 50, 1, 1);
    EXPECT_EQ(s->dirtyCount, uint32_t(QX_DIRTY_CAPACITY));
    ASSERT_EQ(run(qxCmdFlip, [](lua_State *S) { lua_pushnumber(S, 0); }), 0);
    // A selection steps in and out of the double buffer.
    brush(2, 3, 3, 0x000000);
    ASSERT_EQ(run(qxCmdSelectBrush, [](lua_State *S) { lua_pushnumber(S, 2); }), 0);
    EXPECT_EQ(run(qxCmdFlip, [](lua_State *) {}), ERR_NODOUBLEBUFFER);
    ASSERT_EQ(run(qxCmdEndSelect, [](lua_State *) {}), 0);
    EXPECT_EQ(d->doubleBuffer, 1u);
    // The last back buffer stays on the display.
    ASSERT_EQ(run(qxCmdEndDoubleBuffer, [](lua_State *) {}), 0);
    EXPECT_EQ(shown(10, 10), 0xFF00FFu);
    EXPECT_EQ(shown(30, 30), 0x000000u);
    EXPECT_EQ(d->targetType, uint32_t(QX_OUT_DISPLAY));
}

TEST_F(DisplayCore, BGPicPartsRestoreTheBackground)
{
    brush(1, 10, 10, 0xFFFFFF);
    ASSERT_EQ(displayBrush(1, 0, 0), 0);
    EXPECT_EQ(pixel(bgpic->bitmap, 2, 2), 0x000080u); // the BGPic itself is kept
    auto part = [&](std::initializer_list<double> v) {
        return run(qxCmdDisplayBGPicPart, [&](lua_State *S) {
            for (double a : v) lua_pushnumber(S, a);
        });
    };
    ASSERT_EQ(part({-1, 0, 0, 4, 4}), 0);
    EXPECT_EQ(shown(2, 2), 0x000080u);
    EXPECT_EQ(shown(5, 5), 0xFFFFFFu);
    ASSERT_EQ(part({-1, 0, 0, 4, 4, 6, 6}), 0);
    EXPECT_EQ(shown(7, 7), 0x000080u);
    EXPECT_EQ(part({-1, 100, 0, 4, 4}), ERR_COORDSRANGE);
    EXPECT_EQ(part({5, 0, 0, 4, 4}), ERR_FINDBGPIC);
}

TEST_F(DisplayCore, DrawTargets)
{
    // The shown BGPic is its own draw target; another one is copied.
    qxBitMap *bm = nullptr;
    uint32_t owned = 9;
    ASSERT_EQ(qxGetBGPicDrawTarget(L, bgpic, 0, 0, 10, 10, &bm, &owned), 0);
    EXPECT_EQ(bm, bgpic->bitmap);
    EXPECT_EQ(owned, 0u);
    qxObjectRef ref{0, QX_NEW_AUTOMATIC};
    qxBGPic *other = nullptr;
    ASSERT_EQ(qxCreateBGPicFromBitmap(&ref, 30, 30, 0x123456, &other), 0);
    ASSERT_EQ(qxGetBGPicDrawTarget(L, other, 5, 5, 10, 10, &bm, &owned), 0);
    EXPECT_EQ(owned, 1u);
    EXPECT_EQ(pixel(bm, 6, 6), 0x123456u);
    qxFreeBitMap(bm);
}

TEST_F(DisplayCore, LayersGetTheObjectItself)
{
    brush(1, 4, 4, 0xFFFFFF);
    d->layersEnabled = 1;
    EXPECT_EQ(displayBrush(1, 0, 0), ERR_NOLAYERS); // no layer engine yet
    static int calls;
    static uint32_t seenType, seenFlags;
    static qxBitMap *seenBitmap;
    calls = 0;
    auto saved = qxDisplayCoreHook.addLayer;
    qxDisplayCoreHook.addLayer = [](lua_State *, uint32_t type, qxObjectRef, int32_t, int32_t, int32_t, int32_t,
                                    int32_t, int32_t, const qxTransformOptions *, const qxObjectStyle *,
                                    qxBitMap *bitmap, qxBitMap *, qxBitMap *, int32_t, uint32_t flags, void *) {
        ++calls, seenType = type, seenFlags = flags, seenBitmap = bitmap;
        return 0;
    };
    // A plain top layer is also drawn at once; a transformed one is not.
    ASSERT_EQ(displayBrush(1, 1, 1), 0);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seenType, uint32_t(QX_OBJ_BRUSH));
    EXPECT_EQ(seenBitmap, nullptr);
    EXPECT_TRUE(seenFlags & 2);
    EXPECT_EQ(shown(1, 1), 0xFFFFFFu);
    ASSERT_EQ(displayBrush(1, 20, 20, [](lua_State *S) { num(S, "scalex", 2); }), 0);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(shown(20, 20), 0x000080u);
    qxDisplayCoreHook.addLayer = saved;
    d->layersEnabled = 0;
}

TEST_F(DisplayCore, SelectedBGPicRebuildsItsScaledPlanes)
{
    // BGPic 7: 10 x 10 base planes shown to the script at 20 x 20.
    qxObjectRef ref{7, nullptr};
    qxBGPic *b = nullptr;
    ASSERT_EQ(qxCreateBGPicFromBitmap(&ref, 10, 10, 0x000000, &b), 0);
    qxBitMap *scaled = nullptr;
    ASSERT_EQ(qxScalePixels(b->baseBitmap, nullptr, nullptr, 0, 0, nullptr, 10, 10, 20, 20, 0, 0, &scaled, nullptr,
                            nullptr),
              0);
    b->bitmap = b->curBitmap = scaled;
    b->width = b->curWidth = b->height = b->curHeight = 20;
    brush(1, 2, 2, 0x00FFFF);
    // The display's own BGPic cannot be selected this way.
    EXPECT_EQ(run(qxCmdSelectBGPic, [](lua_State *S) { lua_pushnil(S), lua_pushnumber(S, 0); }),
              ERR_SELECTBGPIC2);
    ASSERT_EQ(run(qxCmdSelectBGPic, [](lua_State *S) { lua_pushnumber(S, 7), lua_pushnumber(S, 0); }), 0);
    ASSERT_EQ(displayBrush(1, 4, 4), 0);
    ASSERT_EQ(run(qxCmdEndSelect, [](lua_State *) {}), 0);
    EXPECT_EQ(pixel(b->baseBitmap, 4, 4), 0x00FFFFu);
    EXPECT_NE(b->bitmap, scaled);
    EXPECT_EQ(b->width, 20);
    EXPECT_EQ(pixel(b->bitmap, 9, 9), 0x00FFFFu);
    EXPECT_EQ(pixel(b->bitmap, 12, 12), 0x000000u);
    // A mask drawn into the base plane reaches the working planes too.
    ASSERT_EQ(run(qxCmdSelectMask, [](lua_State *S) { lua_pushnumber(S, 7), lua_pushnumber(S, 1); }), 0);
    ASSERT_EQ(displayBrush(1, 0, 0), 0);
    ASSERT_EQ(run(qxCmdEndSelect, [](lua_State *) {}), 0);
    ASSERT_NE(b->baseMask, nullptr);
    ASSERT_NE(b->mask, nullptr);
    EXPECT_NE(b->mask, b->baseMask);
}

} // namespace
