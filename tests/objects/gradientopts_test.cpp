// The gradient readers on script tables: stop lists at their limits, the
// keys read per gradient type, the positional form, and a round trip
// through qxPushGradientFields.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "../core/errorstate.h"
#include "core/vm/lua.h"
#include "objects/qx_gradientopts.h"
#include "platform/qx_errcodes.h"

namespace {

struct GradientOpts : ::testing::Test {
    lua_State *L = nullptr;
    void SetUp() override
    {
        teststate::resetErrorState();
        L = lua_open();
        ASSERT_NE(L, nullptr);
    }
    void TearDown() override
    {
        lua_close(L);
        teststate::resetErrorState();
    }
    // Runs body in a protected call with the arguments push leaves; a
    // raised error's code or body's own result.
    int run(std::function<int(lua_State *)> body, std::function<void(lua_State *)> push)
    {
        static std::function<int(lua_State *)> *current;
        static int result;
        current = &body;
        result = 0;
        lua_settop(L, 0);
        lua_pushcfunction(L, [](lua_State *S) {
            result = (*current)(S);
            return 0;
        });
        push(L);
        int st = lua_pcall(L, lua_gettop(L) - 1, 0, 0);
        teststate::resetErrorState();
        lua_settop(L, 0);
        return st ? st : result;
    }
};

void setNum(lua_State *L, const char *key, double v)
{
    lua_pushstring(L, key);
    lua_pushnumber(L, v);
    lua_settable(L, -3);
}

// A colours list {c0, p0, c1, p1, ...} under key, from index first.
void setColours(lua_State *L, const char *key, const std::vector<double> &values, int first = 0)
{
    lua_pushstring(L, key);
    lua_newtable(L);
    for (size_t i = 0; i < values.size(); i++) {
        lua_pushnumber(L, values[i]);
        lua_rawseti(L, -2, first + int(i));
    }
    lua_settable(L, -3);
}

std::vector<double> evenStops(int n)
{
    std::vector<double> v;
    for (int i = 0; i < n; i++) {
        v.push_back(0x10000 * i + 7);
        v.push_back(n > 1 ? double(i) / (n - 1) : 0.0);
    }
    return v;
}

int readOptions(lua_State *S, qxGradient *g, int *hasStops)
{
    return qxReadGradientOptions(S, 1, g, "centerx", "centery", "balance", "border", "colors", hasStops);
}

TEST_F(GradientOpts, StopListLimits)
{
    for (auto [pairs, want] : std::vector<std::pair<int, int>>{{1, ERR_WRONGUSAGE}, {2, 0}, {64, 0},
                                                               {65, ERR_INTERNAL}}) {
        qxGradient g{};
        int has = 0;
        int r = run([&](lua_State *S) { return readOptions(S, &g, &has); },
                    [&](lua_State *S) {
                        lua_newtable(S);
                        setColours(S, "colors", evenStops(pairs));
                    });
        EXPECT_EQ(r, want) << pairs;
        if (!want) {
            EXPECT_EQ(g.stopCount, pairs);
            EXPECT_EQ(has, 1);
            EXPECT_EQ(g.stops[pairs - 1].colour, uint32_t(0x10000 * (pairs - 1) + 7));
            EXPECT_DOUBLE_EQ(g.stops[pairs - 1].position, 1.0);
        }
    }
}

TEST_F(GradientOpts, BadStopEntries)
{
    struct Case {
        std::vector<double> values;
        int first;
        int want;
        int count;
    };
    const std::vector<Case> cases = {
        {{0xFF0000, 0.0, 0x00FF00, 1.0}, 1, 0, 0}, // from index 1: nothing at index 0
        {{0xFF0000, 0.0, 0x00FF00}, 0, ERR_MISSINGPARAMTR, -1},
        {{0xFF0000, 0.0, 0x00FF00, 1.5}, 0, ERR_WRONGUSAGE, -1},
        {{0xFF0000, -0.1, 0x00FF00, 1.0}, 0, ERR_WRONGUSAGE, -1},
        {{}, 0, 0, 0},
    };
    for (size_t i = 0; i < cases.size(); i++) {
        qxGradient g{};
        const Case &c = cases[i];
        int r = run([&](lua_State *S) { return readOptions(S, &g, nullptr); },
                    [&](lua_State *S) {
                        lua_newtable(S);
                        setColours(S, "colors", c.values, c.first);
                    });
        EXPECT_EQ(r, c.want) << i;
        if (c.count >= 0) {
            EXPECT_EQ(g.stopCount, c.count) << i;
        }
    }
    qxGradient g{};
    // Wrong types: a colour that is no number names the key; a colours
    // value that is no table is a subtable error.
    EXPECT_EQ(run([&](lua_State *S) { return readOptions(S, &g, nullptr); },
                  [&](lua_State *S) {
                      lua_newtable(S);
                      lua_pushstring(S, "colors");
                      lua_newtable(S);
                      lua_pushstring(S, "red");
                      lua_rawseti(S, -2, 0);
                      lua_settable(S, -3);
                  }),
              ERR_NUMTABLEARG);
    EXPECT_EQ(run([&](lua_State *S) { return readOptions(S, &g, nullptr); },
                  [&](lua_State *S) {
                      lua_newtable(S);
                      setNum(S, "colors", 3);
                  }),
              ERR_TABEXPECTED2);
}

TEST_F(GradientOpts, CentreKeysOnlyForRadialAndConical)
{
    for (int32_t type : {QX_GRADIENT_LINEAR, QX_GRADIENT_RADIAL, QX_GRADIENT_CONICAL}) {
        qxGradient g{};
        qxInitFillStyle(&g, 0);
        g.type = type;
        int r = run([&](lua_State *S) { return readOptions(S, &g, nullptr); },
                    [&](lua_State *S) {
                        lua_newtable(S);
                        setNum(S, "centerx", 1.5);
                    });
        EXPECT_EQ(r, type == QX_GRADIENT_LINEAR ? 0 : ERR_WRONGUSAGE) << type;
        g.type = type;
        r = run([&](lua_State *S) { return readOptions(S, &g, nullptr); },
                [&](lua_State *S) {
                    lua_newtable(S);
                    setNum(S, "centery", 0.25);
                    setNum(S, "balance", 0.0);
                    setNum(S, "border", 1.0);
                });
        EXPECT_EQ(r, 0);
        const bool read = type != QX_GRADIENT_LINEAR;
        EXPECT_DOUBLE_EQ(g.centreY, read ? 0.25 : 0.5);
        EXPECT_DOUBLE_EQ(g.middle, read ? 0.0 : 0.5);
        EXPECT_DOUBLE_EQ(g.sizeFactor, read ? 1.0 : 0.0);
        EXPECT_DOUBLE_EQ(g.centreX, 0.5);
    }
}

TEST_F(GradientOpts, PositionalForm)
{
    struct Case {
        int32_t type;
        bool withAngle;
        int32_t wantType, wantAngle;
    };
    for (const Case &c : std::vector<Case>{{0, true, QX_GRADIENT_LINEAR, 0},
                                           {1, true, QX_GRADIENT_LINEAR, 90},
                                           {2, true, QX_GRADIENT_LINEAR, 33},
                                           {2, false, QX_GRADIENT_LINEAR, 0},
                                           {3, true, QX_GRADIENT_RADIAL, 0},
                                           {4, true, QX_GRADIENT_CONICAL, 33}}) {
        qxGradient g{};
        g.type = c.type;
        g.stopCount = 5;
        g.angle = 77;
        int r = run([&](lua_State *S) { return qxReadGradientTable(S, 1, &g); },
                    [&](lua_State *S) {
                        if (c.withAngle)
                            lua_pushnumber(S, 33);
                    });
        EXPECT_EQ(r, 0) << c.type;
        EXPECT_EQ(g.type, c.wantType) << c.type;
        EXPECT_EQ(g.angle, c.wantAngle) << c.type;
        EXPECT_EQ(g.stopCount, 0);
    }
    // The options table follows the angle and must be a table.
    qxGradient g{};
    g.type = QX_GRADIENT_RADIAL;
    EXPECT_EQ(run([&](lua_State *S) { return qxReadGradientTable(S, 1, &g); },
                  [&](lua_State *S) {
                      lua_pushnumber(S, 0);
                      lua_newtable(S);
                      setNum(S, "centerx", 0.0);
                      setColours(S, "colors", evenStops(3));
                  }),
              0);
    EXPECT_EQ(g.stopCount, 3);
    EXPECT_DOUBLE_EQ(g.centreX, 0.0);
    g.type = QX_GRADIENT_LINEAR;
    EXPECT_EQ(run([&](lua_State *S) { return qxReadGradientTable(S, 1, &g); },
                  [&](lua_State *S) {
                      lua_pushnumber(S, 0);
                      lua_pushnumber(S, 1);
                  }),
              ERR_TABEXPECTED);
    g.type = 9;
    EXPECT_EQ(run([&](lua_State *S) { return qxReadGradientTable(S, 1, &g); }, [](lua_State *) {}),
              ERR_WRONGUSAGE);
}

TEST_F(GradientOpts, PushedFieldsReadBack)
{
    qxGradient out{};
    qxInitFillStyle(&out, 0);
    out.type = QX_GRADIENT_CONICAL;
    out.startColour = 0x123456;
    out.endColour = 0xFEDCBA;
    out.angle = -45;
    out.centreX = 0.25, out.centreY = 0.75, out.middle = 0.125, out.sizeFactor = 0.5;
    out.stopCount = 3;
    out.stops[0] = {0xFF0000, 0.0};
    out.stops[1] = {0x00FF00, 0.5};
    out.stops[2] = {0x0000FF, 1.0};
    qxGradient in{};
    int r = run(
        [&](lua_State *S) {
            lua_newtable(S);
            qxPushGradientFields(S, "gradient", &out);
            return qxReadGradientFields(S, lua_gettop(S), &in, 0, 1);
        },
        [](lua_State *) {});
    ASSERT_EQ(r, 0);
    EXPECT_EQ(in.type, out.type);
    EXPECT_EQ(in.startColour, out.startColour);
    EXPECT_EQ(in.endColour, out.endColour);
    EXPECT_EQ(in.angle, out.angle);
    EXPECT_DOUBLE_EQ(in.centreX, out.centreX);
    EXPECT_DOUBLE_EQ(in.centreY, out.centreY);
    EXPECT_DOUBLE_EQ(in.middle, out.middle);
    EXPECT_DOUBLE_EQ(in.sizeFactor, out.sizeFactor);
    ASSERT_EQ(in.stopCount, 3);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(in.stops[i].colour, out.stops[i].colour);
        EXPECT_DOUBLE_EQ(in.stops[i].position, out.stops[i].position);
    }
    // A style the record cannot draw is refused.
    r = run(
        [&](lua_State *S) {
            lua_newtable(S);
            setNum(S, "gradientstyle", 7);
            return qxReadGradientFields(S, lua_gettop(S), &in, 0, 1);
        },
        [](lua_State *) {});
    EXPECT_EQ(r, ERR_WRONGUSAGE);
}

} // namespace
