// The clipboard commands against a stand-in clipboard: results by type,
// argument checks, errors passed through, and 1288 without a clipboard.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "libs/qx_sysclipboard.h"
#include "libs/qx_systemlib.h"
#include "libtest.h"
#include "platform/qx_memory.h"

namespace {

std::string held;
int heldType, failWith, cleared;

int fakeSet(const char *text)
{
    held = text;
    heldType = 1;
    return failWith;
}
int fakeGet(lua_State *, char **text, qxClipboardImage *, int *type)
{
    *type = heldType;
    if (heldType == 1) {
        *text = static_cast<char *>(qxAlloc(held.size() + 1, 0));
        std::memcpy(*text, held.c_str(), held.size() + 1);
    }
    return failWith;
}
int fakePeek(lua_State *, int *type)
{
    *type = heldType;
    return failWith;
}
int fakeClear(void)
{
    ++cleared;
    heldType = 0;
    return failWith;
}

struct ClipboardTest : libtest::LibTest {
    qxClipboardDispatch saved = qxClipboard;
    void SetUp() override
    {
        LibTest::SetUp();
        ASSERT_EQ(qxOpenSystemLib(L), 0);
        qxClipboard = {fakeSet, nullptr, fakeGet, fakePeek, fakeClear};
        held.clear();
        heldType = failWith = cleared = 0;
    }
    void TearDown() override
    {
        qxClipboard = saved;
        qxFreeSystemLib(L);
        LibTest::TearDown();
    }
};

} // namespace

TEST_F(ClipboardTest, TextRoadAndTypes)
{
    EXPECT_EQ(call("SetClipboard", {1, "Gr\xc3\xbc\xc3\x9f" "e"}).status, 0);
    EXPECT_EQ(held, "Gr\xc3\xbc\xc3\x9f" "e");
    auto r = call("GetClipboard");
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(r.v.size(), 2u);
    EXPECT_EQ(r.num(0), 1);
    EXPECT_EQ(r.str(1), "Gr\xc3\xbc\xc3\x9f" "e");
    EXPECT_EQ(num("PeekClipboard"), 1);

    EXPECT_EQ(call("ClearClipboard").status, 0);
    EXPECT_EQ(cleared, 1);
    r = call("GetClipboard");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.v.size(), 1u);
    EXPECT_EQ(r.num(0), 0);
    heldType = 2;
    EXPECT_EQ(num("PeekClipboard"), 2);
}

TEST_F(ClipboardTest, ArgumentsErrorsAndNoClipboard)
{
    EXPECT_EQ(status("SetClipboard", {3, "x"}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("SetClipboard", {2, 1}), ERR_FINDBRUSH);
    failWith = 1365;
    EXPECT_EQ(status("GetClipboard"), 1365);
    EXPECT_EQ(status("PeekClipboard"), 1365);
    failWith = 1364;
    EXPECT_EQ(status("SetClipboard", {1, "x"}), 1364);
    EXPECT_EQ(status("ClearClipboard"), 1364);
    qxClipboard = {};
    for (const char *c : {"GetClipboard", "PeekClipboard", "ClearClipboard"}) EXPECT_EQ(status(c), ERR_UNSUPPORTEDFEAT) << c;
    EXPECT_EQ(status("SetClipboard", {1, "x"}), ERR_UNSUPPORTEDFEAT);
}
