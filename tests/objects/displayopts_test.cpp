// Draw-tag parsing: sizes, rotation, explicit matrices, anchors, style
// keys with their limits, insert positions, templates, transformed sizes.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>

#include "core/vm/lauxlib.h"
#include "core/vm/lua.h"
#include "display/qx_bitmapplanes.h"
#include "objects/qx_displayopts.h"
#include "platform/qx_errcodes.h"

namespace {

struct DisplayOptsTest : ::testing::Test {
    lua_State *L = nullptr;
    qxTransformOptions o{};
    qxObjectStyle s{};
    void SetUp() override
    {
        qxResetDrawTagTemplates();
        L = lua_open();
    }
    void TearDown() override
    {
        lua_close(L);
        qxResetDrawTagTemplates();
        qxDisplayOptsHook = {};
    }
    // Parses a table that fill builds (nothing pushed: no argument) for a
    // w x h object; returns the code, raised or returned.
    int parse(std::function<void(lua_State *)> fill, int32_t w = 32, int32_t h = 32, uint32_t flags = 3,
              int32_t tw = 0, int32_t th = 0)
    {
        static DisplayOptsTest *self;
        static std::function<void(lua_State *)> *build;
        static int32_t W, H, TW, TH;
        static uint32_t F;
        self = this, build = &fill, W = w, H = h, F = flags, TW = tw, TH = th;
        lua_settop(L, 0);
        lua_pushcfunction(L, [](lua_State *S) {
            (*build)(S);
            return qxGetTransformOptions(S, 1, W, H, TW, TH, 1, &self->o, &self->s, F);
        });
        return lua_pcall(L, 0, 0, 0);
    }
};

void table(lua_State *L) { lua_newtable(L); }
void num(lua_State *L, const char *k, double v)
{
    lua_pushstring(L, k);
    lua_pushnumber(L, v);
    lua_settable(L, -3);
}
void str(lua_State *L, const char *k, const char *v)
{
    lua_pushstring(L, k);
    lua_pushstring(L, v);
    lua_settable(L, -3);
}

TEST_F(DisplayOptsTest, SizesRotationAndMatrix)
{
    ASSERT_EQ(parse([](lua_State *S) { table(S), num(S, "width", 64); }), 0);
    EXPECT_EQ(o.m11, 2.0);
    EXPECT_EQ(o.m22, 1.0);
    EXPECT_EQ(o.m12, 0.0);

    ASSERT_EQ(parse([](lua_State *S) { table(S), num(S, "rotate", 450); }), 0);
    EXPECT_EQ(o.rotate, 90.0);
    EXPECT_NEAR(o.m11, 0.0, 1e-12);
    EXPECT_NEAR(o.m12, -1.0, 1e-12);
    EXPECT_NEAR(o.m21, 1.0, 1e-12);
    EXPECT_EQ(o.smooth, 1u); // the default, stored by the reset

    // With flag 16 only a rotation takes the default smooth value.
    ASSERT_EQ(parse([](lua_State *S) { table(S), num(S, "rotate", 0); }, 32, 32, 3 | QX_OPT_ROTATESMOOTH), 0);
    EXPECT_EQ(o.smooth, 0u);
    ASSERT_EQ(parse([](lua_State *S) { table(S), num(S, "rotate", 30); }, 32, 32, 3 | QX_OPT_ROTATESMOOTH), 0);
    EXPECT_EQ(o.smooth, 1u);

    // An explicit matrix wins over scale keys.
    ASSERT_EQ(parse([](lua_State *S) {
                  table(S), num(S, "scalex", 5);
                  lua_pushstring(S, "transform");
                  lua_newtable(S);
                  for (int i = 0; i < 4; ++i) lua_pushnumber(S, std::array<double, 4>{2, 0.5, 0, 3}[i]), lua_rawseti(S, -2, i);
                  lua_settable(S, -3);
              }),
              0);
    EXPECT_EQ(o.transformed, 1u);
    EXPECT_EQ(o.m11, 2.0);
    EXPECT_EQ(o.m12, 0.5);
    EXPECT_EQ(o.m22, 3.0);
    EXPECT_EQ(o.scalex, 1.0);

    // A target size equal to the source's is no target size.
    ASSERT_EQ(parse([](lua_State *) {}, 32, 32, 1, 32, 64), 0);
    EXPECT_EQ(o.m11, 1.0);
    EXPECT_EQ(o.m22, 2.0);
}

TEST_F(DisplayOptsTest, RefusedValues)
{
    EXPECT_EQ(parse([](lua_State *S) { table(S), num(S, "scalex", 0); }), ERR_WRONGUSAGE);
    EXPECT_EQ(parse([](lua_State *S) { table(S), num(S, "anchorx", 1.5); }), ERR_WRONGUSAGE);
    EXPECT_EQ(parse([](lua_State *S) { table(S), num(S, "anchory", -0.1); }), ERR_WRONGUSAGE);
    EXPECT_EQ(parse([](lua_State *S) { lua_pushnumber(S, 3); }), ERR_TABEXPECTED);
    EXPECT_EQ(parse([](lua_State *S) { lua_pushnumber(S, 3); }, 32, 32, 1), 0);
    EXPECT_EQ(parse([](lua_State *S) { table(S), num(S, "transform", 1); }), ERR_TABEXPECTED);
    auto matrix = [](std::initializer_list<double> v) {
        return [v](lua_State *S) {
            table(S);
            lua_pushstring(S, "transform");
            lua_newtable(S);
            int i = 0;
            for (double d : v) lua_pushnumber(S, d), lua_rawseti(S, -2, i++);
            lua_settable(S, -3);
        };
    };
    EXPECT_EQ(parse(matrix({1, 0, 0})), ERR_MISSINGPARAMTR);
    EXPECT_EQ(parse(matrix({0, 1, 1, 1})), ERR_WRONGUSAGE);
    EXPECT_EQ(parse([](lua_State *S) { table(S), num(S, "rotate", 1.0 / 0.0); }), ERR_WRONGUSAGE);
    // Shadow keys are read only with the shadow on.
    EXPECT_EQ(parse([](lua_State *S) { table(S), num(S, "shadow", 0), num(S, "shadowradius", 0); }), 0);
    EXPECT_EQ(parse([](lua_State *S) { table(S), num(S, "shadow", 1), num(S, "shadowradius", 0.5); }),
              ERR_WRONGUSAGE);
    EXPECT_EQ(parse([](lua_State *S) { table(S), num(S, "shadow", 1), num(S, "shadowsigma", 0); }), ERR_WRONGUSAGE);
    EXPECT_EQ(parse([](lua_State *S) { table(S), num(S, "border", 1), num(S, "bordersize", 0); }), ERR_WRONGUSAGE);
    EXPECT_EQ(parse([](lua_State *S) { table(S), num(S, "insertpos", -1); }), ERR_INVINSERT);
    EXPECT_EQ(parse([](lua_State *S) { table(S), str(S, "name", std::string(256, 'n').c_str()); }),
              ERR_NAMETOOLONG);
    EXPECT_EQ(parse([](lua_State *S) { table(S), str(S, "name", std::string(255, 'n').c_str()); }), 0);
    EXPECT_EQ(std::string(s.name).size(), 255u);
}

TEST_F(DisplayOptsTest, StyleAndInsertPositions)
{
    qxDisplayOptsHook.currentLayerCount = [] { return 3u; };
    ASSERT_EQ(parse([](lua_State *S) { table(S), num(S, "insertpos", 99); }), 0);
    EXPECT_EQ(s.insertpos, 4);
    EXPECT_EQ(s.needslayer, 0u);
    ASSERT_EQ(parse([](lua_State *S) { table(S), num(S, "insertpos", 2); }), 0);
    EXPECT_EQ(s.needslayer, 1u);
    ASSERT_EQ(parse([](lua_State *S) { table(S), str(S, "transparency", "50%"), num(S, "tint", 300); }), 0);
    EXPECT_EQ(s.transparency, 127u);
    EXPECT_EQ(s.filters.filter[QX_FILTER_TINT].enabled, 1u);
    EXPECT_EQ(s.filters.filter[QX_FILTER_TINT].iargs[1], 255);
    EXPECT_EQ(s.needslayer, 1u);
    // Filters need the layer engine, which is not there.
    EXPECT_EQ(parse([](lua_State *S) { table(S), lua_pushstring(S, "filters"), lua_newtable(S), lua_settable(S, -3); }),
              ERR_NOLAYERS);
}

TEST_F(DisplayOptsTest, SetDrawTagsDefaultChangesTheTemplates)
{
    lua_pushcfunction(L, qxCmdSetDrawTagsDefault);
    table(L), num(L, "shadow", 1), num(L, "shadowsize", 9), str(L, "name", "kept?"), num(L, "width", 99);
    ASSERT_EQ(lua_pcall(L, 1, 0, 0), 0);
    EXPECT_EQ(qxStyleTemplate.shadow.shadow, 1u);
    EXPECT_EQ(qxStyleTemplate.shadow.shadowsize, 9u);
    EXPECT_STREQ(qxStyleTemplate.name, "");
    EXPECT_EQ(qxTransformTemplate.width, 0u); // sizes are not template keys
    // Every parse now starts with the shadow on, unless the table turns it off.
    ASSERT_EQ(parse([](lua_State *S) { table(S); }), 0);
    EXPECT_EQ(s.shadow.shadow, 1u);
    EXPECT_EQ(s.needslayer, 1u);
    ASSERT_EQ(parse([](lua_State *S) { table(S), num(S, "shadow", 0); }), 0);
    EXPECT_EQ(s.shadow.shadow, 0u);
    // A failing table leaves the templates alone.
    lua_pushcfunction(L, qxCmdSetDrawTagsDefault);
    table(L), num(L, "anchorx", 2);
    EXPECT_EQ(lua_pcall(L, 1, 0, 0), ERR_WRONGUSAGE);
    EXPECT_EQ(qxTransformTemplate.anchorx, 0.0);
}

TEST_F(DisplayOptsTest, TransformedSizes)
{
    int32_t w = 0, h = 0;
    const double id[4] = {1, 0, 0, 1}, scale[4] = {2.5, 0, 0, 0.01}, quarter[4] = {0, -1, 1, 0};
    qxTransformedSize(id, 30, 20, &w, &h);
    EXPECT_EQ(w, 30);
    EXPECT_EQ(h, 20);
    qxTransformedSize(scale, 30, 20, &w, &h);
    EXPECT_EQ(w, 75);
    EXPECT_EQ(h, 1); // at least 1
    qxTransformedSize(quarter, 30, 20, &w, &h);
    EXPECT_EQ(w, 20);
    EXPECT_EQ(h, 30);
    const double huge[4] = {1e12, 0, 0, 1};
    qxTransformedSize(huge, 30, 20, &w, &h);
    EXPECT_EQ(w, INT32_MAX);
}

TEST_F(DisplayOptsTest, BlendMultipliesOrMakesTheAlphaChannel)
{
    qxObjectStyle style;
    qxInitObjectStyle(&style);
    style.transparency = 100;
    qxBitMap *bm = qxAllocBitMap(4, 4, 0, nullptr), *alpha = nullptr;
    ASSERT_EQ(qxBlendWithOptions(&style, L, &bm, &alpha, 4, 4), 0);
    ASSERT_NE(alpha, nullptr);
    auto at = [](qxBitMap *a) { return qxPlaneOf(a).bytes[qxPlaneOf(a).bytesPerRow + 1]; };
    EXPECT_EQ(at(alpha), 155);
    ASSERT_EQ(qxBlendWithOptions(&style, L, &bm, &alpha, 4, 4), 0);
    EXPECT_EQ(at(alpha), 155 * 155 / 255);
    style.filters.filter[0].enabled = 1; // filters need the layer engine
    EXPECT_EQ(qxBlendWithOptions(&style, L, &bm, &alpha, 4, 4), ERR_NOLAYERS);
    qxFreeAlphaBitMap(alpha);
    qxFreeBitMap(bm);
}

} // namespace
