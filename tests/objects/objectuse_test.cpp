// Objects shown by layers: copy-on-write, pending deletion, flushes and the
// find flags, with layer nodes the test keeps (type and layerid only) and
// answers through the layer query hooks.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "display/qx_display.h"
#include "objects/qx_bgpicobj.h"
#include "objects/qx_brush.h"
#include "objects/qx_objargs.h"
#include "objects/qx_objectuse.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"

namespace {

struct FakeLayer {
    qxBGPic *bgpic;
    uint32_t type;
    qxObjectRef layerid;
};
std::vector<FakeLayer> layers;

bool counts(uint32_t layerType, uint32_t type)
{
    if (type == QX_TYPE_BRUSH)
        return layerType == QX_TYPE_BRUSH || layerType == QX_TYPE_BRUSHPART;
    return layerType == type || layerType == QX_TYPE_NOOBJECT;
}

int findLayer(uint32_t type, qxObjectRef ref, const void *skip, qxBGPic **bgpic, void **layer)
{
    for (FakeLayer &l : layers)
        if (&l != skip && counts(l.type, type) && l.layerid.number == ref.number &&
            l.layerid.automatic == ref.automatic) {
            if (bgpic)
                *bgpic = l.bgpic;
            if (layer)
                *layer = &l;
            return 1;
        }
    return 0;
}

int repoint(uint32_t type, qxObjectRef ref, void *automatic)
{
    int changed = 0;
    for (FakeLayer &l : layers)
        if (counts(l.type, type) && l.layerid.number == ref.number && l.layerid.automatic == ref.automatic) {
            l.layerid = {0, automatic};
            changed = 1;
        }
    return changed;
}

int brushCount()
{
    int n = 0;
    for (qxBrush *b = qxBrushes; b; b = b->next)
        n++;
    return n;
}

class ObjectUse : public ::testing::Test {
protected:
    void SetUp() override
    {
        layers.clear();
        qxLayerQueries = {};
        qxLayerQueries.findLayerUsing = findLayer;
        qxLayerQueries.repointLayers = repoint;
        qxObjectRef one{1, nullptr};
        ASSERT_EQ(qxFillBrushPixels(&one, 4, 4, 0x112233, 0, 0, 0, 0, 0, 0, nullptr), 0);
    }
    void TearDown() override
    {
        qxFreeAllBrushes(nullptr);
        qxFreeAllBGPics(nullptr);
        layers.clear();
        qxLayerQueries = {};
    }
    qxBGPic *canvas()
    {
        qxObjectRef ref{50, nullptr};
        qxBGPic *b = nullptr;
        EXPECT_EQ(qxCreateBGPicFromBitmap(&ref, 8, 8, 0, &b), 0);
        return b;
    }
};

TEST_F(ObjectUse, ModificationCopiesOnlyWhileALayerShowsTheObject)
{
    qxBrush *b = nullptr;
    // Nobody shows it: no duplicate.
    ASSERT_EQ(qxFindBrush(nullptr, {1, nullptr}, &b, QX_FIND_MODIFY), 0);
    EXPECT_EQ(brushCount(), 1);

    layers.push_back({canvas(), QX_TYPE_BRUSHPART, {1, nullptr}});
    ASSERT_EQ(qxFindBrush(nullptr, {1, nullptr}, &b, QX_FIND_MODIFY), 0);
    EXPECT_EQ(b->id, 1u); // the script's record is the one to modify
    ASSERT_EQ(brushCount(), 2);
    qxBrush *dup = b->next;
    EXPECT_EQ(dup->automatic, dup);
    EXPECT_EQ(dup->id, 0u);
    EXPECT_EQ(dup->pendingDeletion, 1u);
    EXPECT_NE(dup->bitmap, b->bitmap);
    EXPECT_EQ(layers[0].layerid.automatic, dup);

    // The layer moved away: a second modification makes nothing.
    ASSERT_EQ(qxFindBrush(nullptr, {1, nullptr}, &b, QX_FIND_MODIFY), 0);
    EXPECT_EQ(brushCount(), 2);

    // The duplicate is invisible without flag 2.
    qxBrush *found = nullptr;
    EXPECT_EQ(qxFindBrush(nullptr, {0, dup}, &found, 0), ERR_FINDARRAY);
    EXPECT_EQ(qxFindBrush(nullptr, {0, dup}, &found, QX_FIND_PENDING), 0);
    EXPECT_EQ(found, dup);

    // Flushes keep it while the layer shows it, then free it.
    qxFlushDeletedBrushes(nullptr);
    EXPECT_EQ(brushCount(), 2);
    layers.clear();
    qxFlushDeletedBrushes(nullptr);
    EXPECT_EQ(brushCount(), 1);
}

TEST_F(ObjectUse, LockedFlagsAndKinds)
{
    qxBrush *b = nullptr;
    ASSERT_EQ(qxFindBrush(nullptr, {1, nullptr}, &b, 0), 0);
    b->locked = 1;
    EXPECT_EQ(qxFindBrush(nullptr, {1, nullptr}, &b, QX_FIND_MODIFY), ERR_LOCKEDOBJ);
    EXPECT_EQ(qxFindBrush(nullptr, {1, nullptr}, &b, QX_FIND_MODIFY | QX_FIND_NOCOPY), ERR_LOCKEDOBJ);
    EXPECT_EQ(qxFreeBrush(nullptr, {1, nullptr}, 0), ERR_LOCKEDOBJ); // reported even when not strict
    EXPECT_EQ(qxFindBrush(nullptr, {1, nullptr}, &b, 0), 0);
    b->locked = 0;
    b->kind = QX_BRUSH_VECTOR;
    EXPECT_EQ(qxFindBrush(nullptr, {1, nullptr}, &b, QX_FIND_NOVECTOR), ERR_BRUSHTYPE);
    ASSERT_EQ(qxFindBrush(nullptr, {1, nullptr}, &b, 0), 0);
    b->kind = QX_BRUSH_PIXELS;
    b->hardware = 1;
    EXPECT_EQ(qxFindBrush(nullptr, {1, nullptr}, &b, 0), ERR_HWBRUSH);
    EXPECT_EQ(qxFindBrush(nullptr, {1, nullptr}, &b, QX_FIND_HARDWARE), 0);
    b->hardware = 0;
    EXPECT_EQ(qxFindBrush(nullptr, {7, nullptr}, &b, 0), ERR_FINDBRUSH);
    EXPECT_EQ(b, nullptr);
}

TEST_F(ObjectUse, FreeingAShownObjectLeavesAnAnonymousRecordUntilTheLayerGoes)
{
    layers.push_back({canvas(), QX_TYPE_BRUSH, {1, nullptr}});
    ASSERT_EQ(qxFreeBrush(nullptr, {1, nullptr}, 1), 0);
    ASSERT_EQ(brushCount(), 1);
    qxBrush *old = qxBrushes;
    EXPECT_EQ(old->automatic, old);
    EXPECT_EQ(old->pendingDeletion, 1u);
    EXPECT_EQ(layers[0].layerid.automatic, old);
    // The number is free at once.
    qxBrush *b = nullptr;
    EXPECT_EQ(qxFindBrush(nullptr, {1, nullptr}, &b, 0), ERR_FINDBRUSH);
    qxObjectRef one{1, nullptr};
    ASSERT_EQ(qxFillBrushPixels(&one, 2, 2, 0, 0, 0, 0, 0, 0, 0, nullptr), 0);
    EXPECT_EQ(qxFindBrush(nullptr, {1, nullptr}, &b, 0), 0);
    EXPECT_NE(b, old);
    // Second free of a missing number: reported only when strict.
    EXPECT_EQ(qxFreeBrush(nullptr, {1, nullptr}, 1), 0);
    EXPECT_EQ(qxFreeBrush(nullptr, {1, nullptr}, 1), ERR_FINDBRUSH);
    EXPECT_EQ(qxFreeBrush(nullptr, {1, nullptr}, 0), 0);
    layers.clear();
    qxFlushDeletedBrushes(nullptr);
    EXPECT_EQ(brushCount(), 0);
}

int failingCopy(lua_State *, void *, qxObjectRef *)
{
    return ERR_MEM;
}

TEST_F(ObjectUse, AFailedCopyLeavesObjectAndLayersAlone)
{
    layers.push_back({canvas(), QX_TYPE_BRUSH, {1, nullptr}});
    qxBrush *b = nullptr;
    ASSERT_EQ(qxFindBrush(nullptr, {1, nullptr}, &b, 0), 0);
    void *dup = nullptr;
    EXPECT_EQ(qxCopyOnWrite(nullptr, QX_TYPE_BRUSH, {1, nullptr}, failingCopy, b, &dup), ERR_MEM);
    EXPECT_EQ(dup, nullptr);
    EXPECT_EQ(layers[0].layerid.number, 1u);
    EXPECT_EQ(brushCount(), 1);
}

TEST_F(ObjectUse, BGPicsFollowTheSameRulesAndDisplaysKeepTheirs)
{
    qxObjectRef ref{2, nullptr};
    qxBGPic *b = nullptr;
    ASSERT_EQ(qxCreateBGPicFromBitmap(&ref, 6, 3, 0x445566, &b), 0);
    layers.push_back({b, QX_TYPE_NOOBJECT, {2, nullptr}});
    qxBGPic *found = nullptr;
    ASSERT_EQ(qxFindBGPic(nullptr, {2, nullptr}, &found, 1), 0);
    EXPECT_EQ(found, b);
    ASSERT_NE(layers[0].layerid.automatic, nullptr);
    auto *dup = static_cast<qxBGPic *>(layers[0].layerid.automatic);
    EXPECT_EQ(dup->pendingDeletion, 1u);
    EXPECT_EQ(dup->width, 6);
    EXPECT_NE(dup->bitmap, b->bitmap);
    EXPECT_EQ(qxFindBGPic(nullptr, {9, nullptr}, &found, 0), ERR_FINDBGPIC);

    // A BGPic a display shows becomes anonymous instead of being freed.
    qxDisplay *d = qxNewDisplayRecord(77);
    ASSERT_NE(d, nullptr);
    qxAppendDisplay(d);
    d->bgpic = b;
    ASSERT_EQ(qxFreeBGPic(nullptr, {2, nullptr}, 1), 0);
    EXPECT_EQ(b->automatic, b);
    EXPECT_EQ(b->pendingDeletion, 1u);
    qxFlushDeletedBGPics(nullptr);
    EXPECT_EQ(qxFindBGPicRecord({0, b}), b);
    d->bgpic = nullptr;
    layers.clear();
    qxFlushDeletedBGPics(nullptr);
    EXPECT_EQ(qxFindBGPicRecord({0, b}), nullptr);
    EXPECT_EQ(qxFindBGPicRecord({0, dup}), nullptr);
    qxFreeAllDisplays(nullptr);
}

TEST(ObjectArgs, TruncationIsDefinedForEveryDouble)
{
    EXPECT_EQ(qxTruncToInt64(-2.9), -2);
    EXPECT_EQ(qxTruncToInt64(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_GT(qxTruncToInt64(1e300), int64_t(1) << 52);
    EXPECT_LT(qxTruncToInt64(-std::numeric_limits<double>::infinity()), -(int64_t(1) << 52));
}

} // namespace
