// Requester dispatch to an adapter plug-in: the flags and tags it is
// handed, results copied and given back, kinds it does not claim left to
// the platform.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/commands/qx_commands.h"
#include "display/qx_reqdispatch.h"
#include "platform/qx_errcodes.h"

namespace {

struct Seen {
    uint32_t flags = 0;
    std::vector<uint32_t> tags;
    std::vector<int> freed;
    std::string answer;
} seen;

void noteTags(const qxReqTag *t)
{
    seen.tags.clear();
    for (; t->tag; t++)
        seen.tags.push_back(t->tag);
}

extern "C" int fakeSystem(void *, const char *, const char *, uint32_t flags, int *button,
                          const qxReqTag *tags)
{
    seen.flags = flags;
    noteTags(tags);
    *button = 2;
    return 0;
}

extern "C" int fakeFile(void *, const char *, int, char **out, const qxReqTag *tags, const char *)
{
    noteTags(tags);
    *out = static_cast<char *>(std::malloc(seen.answer.size() + 1));
    std::memcpy(*out, seen.answer.data(), seen.answer.size() + 1);
    return 0;
}

extern "C" int fakeList(void *, const char *, const char *, const char *, int, int *index,
                        const qxReqTag *tags)
{
    noteTags(tags);
    *index = 1;
    return 0;
}

extern "C" void fakeFree(int kind, void *result)
{
    seen.freed.push_back(kind);
    std::free(result);
}

struct Dispatch : ::testing::Test {
    qxPluginInfo info{};
    void SetUp() override
    {
        info.requesterAdapterFlags = QX_REQADAPTER_MESSAGE | QX_REQADAPTER_FILE | QX_REQADAPTER_LIST;
        info.entry[QX_EP_SystemRequest] = reinterpret_cast<void *>(fakeSystem);
        info.entry[QX_EP_FileRequest] = reinterpret_cast<void *>(fakeFile);
        info.entry[QX_EP_ListRequest] = reinterpret_cast<void *>(fakeList);
        info.entry[QX_EP_FreeRequest] = reinterpret_cast<void *>(fakeFree);
        qxRequesterAdapter = &info;
        seen = {};
    }
    void TearDown() override { qxRequesterAdapter = nullptr; }
};

TEST_F(Dispatch, MessageBoxFlags)
{
    EXPECT_EQ(qxMessageBoxFlags("yes|NO", 4), 4u | 0x200u);
    EXPECT_EQ(qxMessageBoxFlags(nullptr, 0), 1u | 32u);
    EXPECT_EQ(qxMessageBoxFlags("Ok|cancel", 2), 2u | 128u);
    EXPECT_EQ(qxMessageBoxFlags("Yes|No|Cancel", 1), 8u | 64u);
    int choice = -1;
    ASSERT_EQ(qxSystemRequest(nullptr, "T", "B", "Go|Stay|Leave", 3, 0, &choice), 0);
    EXPECT_EQ(choice, 2);
    EXPECT_EQ(seen.flags, 16u | 0x100u);
    EXPECT_EQ(seen.tags, (std::vector<uint32_t>{1, 2})); // custom buttons as tag 2
}

TEST_F(Dispatch, FilesSplitCopiedAndGivenBack)
{
    seen.answer = "/tmp/dir/a.txt";
    qxFileRequestResult r;
    ASSERT_EQ(qxFileRequest(nullptr, "T", "#?", 0, "/tmp", "", 0, &r), 0);
    EXPECT_EQ(seen.tags, (std::vector<uint32_t>{1, 3, 4})); // "#?" is no pattern
    EXPECT_STREQ(r.path, "/tmp/dir/");
    EXPECT_STREQ(r.file, "a.txt");
    EXPECT_EQ(r.count, 1u);
    EXPECT_EQ(seen.freed, std::vector<int>{0});
    qxFreeFileResult(&r);
    seen.answer = std::string("/d/x\0/d/y\0/d/z\0", 15);
    ASSERT_EQ(qxSplitFileAnswer(seen.answer.data(), 1, &r), 0);
    EXPECT_EQ(r.count, 3u);
    EXPECT_EQ(std::string(r.file, 6), std::string("x\0y\0z\0", 6));
    qxFreeFileResult(&r);
    ASSERT_EQ(qxSplitFileAnswer(nullptr, 0, &r), 0);
    EXPECT_EQ(r.completed, 0u);
}

TEST_F(Dispatch, ListPreselection)
{
    int index = -1;
    ASSERT_EQ(qxListRequest(nullptr, "T", "B", "a\0b\0", -1, 0, &index), 0);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(seen.tags, std::vector<uint32_t>{1});
    qxListRequest(nullptr, "T", "B", "a\0b\0", 0, 0, &index);
    EXPECT_EQ(seen.tags, (std::vector<uint32_t>{1, 2}));
}

TEST_F(Dispatch, UnreachableAdapterAnswersCancelled)
{
    // Its kinds still belong to it: no platform requester shows.
    info.abiKind = 2;
    int choice = 5, index = 5;
    EXPECT_EQ(qxSystemRequest(nullptr, "T", "B", "OK", 0, 0, &choice), 0);
    EXPECT_EQ(choice, 0);
    EXPECT_EQ(qxListRequest(nullptr, "T", "B", "a\0b\0", 0, 0, &index), 0);
    EXPECT_EQ(index, -1);
    qxFileRequestResult r{};
    EXPECT_EQ(qxFileRequest(nullptr, "T", "", 0, "", "", 0, &r), 0);
    EXPECT_EQ(r.completed, 0u);
    EXPECT_EQ(seen.flags, 0u);
    EXPECT_TRUE(seen.tags.empty());
}

} // namespace

namespace {

TEST(RequesterAdapter, Installation)
{
    qxPluginInfo a{}, b{};
    a.capabilities = b.capabilities = QX_CAP_REQUESTERADAPTER;
    qxSetTag(QX_TAG_STORED, 0);
    EXPECT_EQ(qxInstallRequesterAdapter(&a, 0), ERR_SETADAPTER); // too early
    qxSetTag(QX_TAG_STORED, 1);
    qxPluginInfo none{};
    EXPECT_EQ(qxInstallRequesterAdapter(&none, 0), ERR_WRONGUSAGE);
    EXPECT_EQ(qxInstallRequesterAdapter(&a, 0), 0);
    EXPECT_EQ(qxInstallRequesterAdapter(&b, QX_REQADAPTER_EXCLUSIVE), 0); // a was not exclusive
    EXPECT_EQ(qxRequesterAdapter, &b);
    EXPECT_EQ(qxInstallRequesterAdapter(&a, 0), ERR_SETADAPTER);
    EXPECT_EQ(qxInstallRequesterAdapter(&b, QX_REQADAPTER_EXCLUSIVE), ERR_SETADAPTER); // nor itself again
    qxRequesterAdapter = nullptr;
    qxSetTag(QX_TAG_STORED, 0);
}

} // namespace
