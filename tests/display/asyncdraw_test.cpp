// Async-draw objects driven frame by frame with a creator written here.
#include <gtest/gtest.h>

#include "display/qx_asyncdraw.h"
#include "display/qx_display.h"
#include "platform/qx_displayrecord.h"
#include "platform/qx_errcodes.h"

namespace {

struct Effect {
    int frames = 3, current = 0, freedWith = -99, finishes = 0;
};

int drawFrame(void *u, uint32_t *finished)
{
    auto *e = static_cast<Effect *>(u);
    e->current++;
    *finished = e->current >= e->frames;
    return 0;
}

void finish(void *u, uint32_t, uint32_t)
{
    static_cast<Effect *>(u)->finishes++;
}

void freeEffect(void *u, int code)
{
    static_cast<Effect *>(u)->freedWith = code;
}

intptr_t method(int op, void *arg, void *u)
{
    auto *e = static_cast<Effect *>(u);
    if (op == QX_ADOP_COUNT)
        return e->frames;
    if (op == QX_ADOP_CURRENT)
        return e->current;
    if (op == QX_ADOP_SEEK)
        e->current = *static_cast<int *>(arg);
    return 0;
}

struct AsyncDraw : ::testing::Test {
    qxDisplay display{};
    qxDisplay *saved = nullptr;
    void SetUp() override
    {
        saved = qxCurrentDisplay;
        display.targetType = 21;
        qxCurrentDisplay = &display;
    }
    void TearDown() override
    {
        qxFreeAllAsyncDraws();
        qxCurrentDisplay = saved;
    }
};

TEST_F(AsyncDraw, FramesThenFinishOnTheCallAfterTheLast)
{
    Effect e;
    qxAsyncDraw *o;
    ASSERT_EQ(qxAddAsyncDraw(0, drawFrame, nullptr, finish, freeEffect, method, &e, &o), 0);
    int pushed;
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(qxAsyncDrawFrameOn(nullptr, &display, o, -1, &pushed), 0);
        EXPECT_EQ(pushed, 0);
    }
    EXPECT_EQ(e.current, 3);
    EXPECT_EQ(qxAsyncDrawFrameOn(nullptr, &display, o, -1, &pushed), 0);
    EXPECT_EQ(pushed, 1);
    EXPECT_EQ(e.finishes, 1);
    EXPECT_EQ(e.freedWith, 1);
    EXPECT_EQ(qxAsyncDrawCount(), 0u);
}

TEST_F(AsyncDraw, CancelPassesZeroAndOtherDisplaysAreRefused)
{
    Effect e;
    qxAsyncDraw *o;
    ASSERT_EQ(qxAddAsyncDraw(0, drawFrame, nullptr, nullptr, freeEffect, method, &e, &o), 0);
    qxDisplay other{};
    int pushed;
    EXPECT_EQ(qxAsyncDrawFrameOn(nullptr, &other, o, -1, &pushed), ERR_ADFWRONGDISP);
    display.targetType = 28;
    EXPECT_EQ(qxAsyncDrawFrameOn(nullptr, &display, o, -1, &pushed), ERR_SELECTMASK);
    display.targetType = 21;
    qxAsyncDraw *found;
    EXPECT_EQ(qxFindAsyncDraw(o->id, &found), 0);
    EXPECT_EQ(qxFindAsyncDraw({7, nullptr}, &found), ERR_FINDASYNCDRAW);
    EXPECT_EQ(qxRemoveAsyncDraw(o, 0), 0);
    EXPECT_EQ(e.freedWith, 0);
}

TEST_F(AsyncDraw, ExplicitFrames)
{
    Effect e;
    e.frames = 5;
    qxAsyncDraw *o;
    ASSERT_EQ(qxAddAsyncDraw(2, drawFrame, nullptr, nullptr, freeEffect, method, &e, &o), 0);
    int pushed;
    EXPECT_EQ(qxAsyncDrawFrameOn(nullptr, &display, o, 2, &pushed), ERR_NOLAYERS);
    display.layersEnabled = 1;
    EXPECT_EQ(qxAsyncDrawFrameOn(nullptr, &display, o, 0, &pushed), 0); // next
    EXPECT_EQ(e.current, 1);
    EXPECT_EQ(qxAsyncDrawFrameOn(nullptr, &display, o, 1, &pushed), 0); // current: nothing
    EXPECT_EQ(e.current, 1);
    EXPECT_EQ(pushed, 0);
    EXPECT_EQ(qxAsyncDrawFrameOn(nullptr, &display, o, 5, &pushed), 0); // seek to the last
    EXPECT_EQ(e.current, 5);
    EXPECT_EQ(pushed, 1);
    EXPECT_EQ(qxAsyncDrawFrameOn(nullptr, &display, o, 6, &pushed), 0); // finished: removed
    EXPECT_EQ(pushed, 1);
    EXPECT_EQ(e.freedWith, 1);
}

} // namespace
