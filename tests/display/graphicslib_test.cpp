// The graphics library's tables, attribute tags and colour helpers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "core/commands/qx_commands.h"
#include "display/qx_displaylibs.h"

namespace {

double constant(const char *name)
{
    for (const qxConstantDef *c = qxGraphicsConstantTable(); c->name; c++)
        if (!std::strcmp(c->name, name))
            return c->num;
    ADD_FAILURE() << "missing " << name;
    return 0;
}

TEST(GraphicsLib, ConstantsAreAllThereOnceEach)
{
    std::set<std::string> names;
    int count = 0;
    for (const qxConstantDef *c = qxGraphicsConstantTable(); c->name; c++, count++) {
        EXPECT_EQ(c->str, nullptr);
        names.insert(c->name);
    }
    EXPECT_EQ(count, 195);
    EXPECT_EQ(names.size(), 195u);
    EXPECT_EQ(constant("CENTER"), -100000);
    EXPECT_EQ(constant("NOTRANSPARENCY"), 4294967295.0);
    EXPECT_EQ(constant("NOCOLOR"), 4294967295.0);
    EXPECT_EQ(constant("JUSTIFIED"), -110001);
    EXPECT_EQ(constant("ATTRHOSTSCALE"), 100);
    EXPECT_EQ(constant("POINTER"), 36);
    EXPECT_EQ(constant("ATTRTEXT"), 36);
    EXPECT_EQ(constant("SERIAL"), 60);
}

TEST(GraphicsLib, CommandTableInOrder)
{
    const char *order[] = {"Red", "Green", "Blue", "RGB", "ARGB", "MovePointer", "HidePointer",
                           "SetPointer", "ShowPointer", "GetAttribute", "GetPen", "VWait",
                           "SetFPSLimit", "GetFPSLimit", "IsPicture", "GetRealColor",
                           "SaveSnapshot", "MixRGB", "CreateClipRegion", "SetClipRegion",
                           "FreeClipRegion", "CreatePointer", "FreePointer", "AsyncDrawFrame",
                           "CancelAsyncDraw", "FinishAsyncDraw", "DumpVideoTime",
                           "GetRandomColor", "SetDrawTagsDefault", "BeginRefresh", "EndRefresh",
                           "Intersection"};
    const qxCommandDef *t = qxGraphicsCommandTable();
    for (const char *name : order) {
        ASSERT_NE(t->name, nullptr);
        EXPECT_STREQ(t->name, name);
        EXPECT_NE(t->func, nullptr);
        t++;
    }
    EXPECT_EQ(t->name, nullptr);
}

TEST(GraphicsLib, MaskModeAndAlphaIntensityTags)
{
    qxTagItem mask{4, 0}, alpha{6, 0}, other{5, 0};
    EXPECT_EQ(qxGraphicsAttrGetter(&alpha), 1);
    EXPECT_EQ(alpha.data, 0xFFFFFFFFu);
    mask.data = 3;
    EXPECT_EQ(qxGraphicsAttrSetter(&mask), 1);
    mask.data = 0;
    EXPECT_EQ(qxGraphicsAttrGetter(&mask), 1);
    EXPECT_EQ(mask.data, 3u);
    EXPECT_EQ(qxGraphicsAttrGetter(&other), 0);
    EXPECT_EQ(qxGraphicsAttrSetter(&other), 0);
    mask.data = 0;
    qxGraphicsAttrSetter(&mask);
}

TEST(GraphicsLib, ColourHelpers)
{
    EXPECT_EQ(qxRealColorForDepth(0x123456, 16), 0x103450u);
    EXPECT_EQ(qxRealColorForDepth(0x123456, 15), 0x103050u);
    EXPECT_EQ(qxRealColorForDepth(0x123456, 24), 0x123456u);
    EXPECT_EQ(qxMixColor(0xFF112233, 0x00112233, 200), 0x112233u);
    int r[4];
    EXPECT_EQ(qxIntersectRects(0, 0, 10, 10, 10, 0, 5, 5, r), 0);
    EXPECT_EQ(qxIntersectRects(-5, -5, 10, 10, 0, 0, 10, 10, r), 1);
    EXPECT_EQ(r[0], 0);
    EXPECT_EQ(r[2], 5);
    EXPECT_EQ(qxIntersectRects(0x7FFFFFF0, 0, 0x7FFFFFFF, 1, 0x7FFFFFF8, 0, 100, 1, r), 1);
    EXPECT_EQ(r[0], 0x7FFFFFF8);
}

} // namespace

#include "display/qx_snapshot.h"
#include "platform/qx_errcodes.h"

namespace {

TEST(GraphicsSavers, FormatDispatch)
{
    uint32_t px = 0x123456;
    qxSaveOptions o{0, 90, 256, 0};
    EXPECT_EQ(qxSaveImageFormat(9, &px, 1, 1, "/nonexistent/x", 0xFFFFFFFFu, &o),
              ERR_UNKNOWNIMGOUT);
    EXPECT_EQ(qxSaveImageFormat(0, nullptr, 1, 1, "x", 0xFFFFFFFFu, &o), ERR_WRONGUSAGE);
    EXPECT_EQ(qxSaveImageFormat(0, &px, 0, 1, "x", 0xFFFFFFFFu, &o), ERR_WRONGUSAGE);
}

TEST(GraphicsSavers, GrabsWidenToARGB)
{
    const uint16_t g16[2] = {0xF800, 0x07FF};
    uint32_t *a = qxGrabToARGB(g16, 2, 2, 1);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a[0], 0xFFF80000u);
    EXPECT_EQ(a[1], 0xFF00FCF8u);
    std::free(a);
    const uint32_t g32[1] = {0x00ABCDEF};
    a = qxGrabToARGB(g32, 4, 1, 1);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a[0], 0xFFABCDEFu);
    std::free(a);
    EXPECT_EQ(qxGrabToARGB(g32, 4, 0, 1), nullptr);
}

} // namespace
