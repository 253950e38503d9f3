// Start-up pieces that need no VM: CRC-32, the link record, the applet
// preview and the runtime tags.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/applet/qx_applet.h"
#include "core/commands/qx_commands.h"
#include "main/qx_libtable.h"
#include "core/codecs/qx_crc32.h"
#include "core/applet/qx_linkrecord.h"

TEST(Crc32, MatchesZlib)
{
    qxCrc32Init();
    std::mt19937 rng(7);
    for (size_t len : {1u, 2u, 3u, 15u, 256u, 4097u}) {
        std::vector<unsigned char> data(len);
        for (auto &b : data)
            b = (unsigned char)rng();
        EXPECT_EQ(qxCrc32(data.data(), (long)len), (uint32_t)crc32(0, data.data(), (uInt)len));
    }
    EXPECT_EQ(qxCrc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(qxCrc32("x", 0), 0u);
    EXPECT_EQ(qxCrc32("x", -5), 0u);
}

TEST(LinkRecord, UnlinkedPlayerHoldsNothingBetweenItsMarkers)
{
    EXPECT_EQ(qxReadLinkOffset(), (uint32_t)QX_LINK_NOTHING);
    const uint8_t before[] = {0xDE, 0xAD, 0xBE, 0xEF, 0xFE, 0xED, 0xF0, 0x0D, 0xBE, 0xEF, 0xF0, 0x0D};
    const uint8_t after[] = {0xC0, 0xDE, 0xCA, 0xFE, 0xC0, 0xCA, 0xC0, 0x1A};
    EXPECT_EQ(std::memcmp((const void *)qxLinkBlock.before, before, sizeof before), 0);
    EXPECT_EQ(std::memcmp((const void *)qxLinkBlock.after, after, sizeof after), 0);
    EXPECT_EQ(sizeof(qxLinkRecord), 36u);
}

namespace {
std::vector<uint8_t> applet(std::initializer_list<std::string> parts)
{
    std::vector<uint8_t> v = {'Q', 'X', 'A', 0};
    for (const std::string &p : parts)
        v.insert(v.end(), p.begin(), p.end());
    return v;
}
std::string str(const char *s) { return std::string(s) + '\0'; }
} // namespace

TEST(AppletPreview, ReadsHeaderStringsUntilAnotherTag)
{
    qxAppletInfo info{};
    auto data = applet({std::string("\x0a\x08\x00", 3), "\x0b" + str("Title"), "\x0c" + str("\xff" "VER"),
                        "\x22" + str("Sixth"), "\x1d", "\x0d" + str("caf\xe9"), "\x02" + str("never")});
    qxReadAppletPreview(data.data(), data.size(), &info);
    EXPECT_STREQ(info.header[0], "Title");
    EXPECT_STREQ(info.header[5], "Sixth");
    EXPECT_STREQ(info.header[2], "caf\xc3\xa9"); // ISO-8859-1 converted to UTF-8
    EXPECT_STREQ(info.header[4], "");
}

TEST(AppletPreview, KeepFlagLeavesBytesAndLongStringsAreCut)
{
    qxAppletInfo info{};
    std::string longText(600, 'a');
    auto data = applet({"\x23\x01", "\x0b" + str("caf\xc3\xa9"), "\x0e" + str(longText.c_str())});
    qxReadAppletPreview(data.data(), data.size(), &info);
    EXPECT_STREQ(info.header[0], "caf\xc3\xa9");
    EXPECT_EQ(std::strlen(info.header[3]), 255u);
}

TEST(AppletPreview, UnterminatedOrTruncatedInputStopsSafely)
{
    qxAppletInfo info{};
    auto data = applet({"\x0b" "abc"}); // no zero byte before the end
    qxReadAppletPreview(data.data(), data.size(), &info);
    EXPECT_STREQ(info.header[0], "");
    auto tag35 = applet({"\x23"});
    qxReadAppletPreview(tag35.data(), tag35.size(), &info);
    qxReadAppletPreview(data.data(), 2, &info);
}

namespace {
int seenTag;
int testSetter(qxTagItem *item)
{
    if (item->tag != 77)
        return 0;
    seenTag = (int)item->data;
    return 1;
}
} // namespace

TEST(Tags, RuntimeTagsAndSetterChain)
{
    qxSetTag(QX_TAG_MAINRUNNING, 1);
    EXPECT_EQ(qxGetTag(QX_TAG_MAINRUNNING), 1u);
    qxSetTag(QX_TAG_MAINRUNNING, 0);
    EXPECT_EQ(qxGetTag(QX_TAG_RAISEONERROR), 1u); // raising is on by default

    // The callback counter counts up with 1 and down with 0.
    qxSetTag(QX_TAG_CALLBACKNEST, 1);
    qxSetTag(QX_TAG_CALLBACKNEST, 1);
    EXPECT_EQ(qxGetTag(QX_TAG_CALLBACKNEST), 2u);
    qxSetTag(QX_TAG_CALLBACKNEST, 0);
    qxSetTag(QX_TAG_CALLBACKNEST, 0);
    qxSetTag(QX_TAG_CALLBACKNEST, 0);
    EXPECT_EQ(qxGetTag(QX_TAG_CALLBACKNEST), 0u);

    ASSERT_EQ(qxRegisterAttrSetter(testSetter), 0);
    qxTagItem items[] = {{77, 42}, {9999, 1}, {QX_TAG_END, 0}};
    EXPECT_EQ(qxSetTags(items), 1); // the unknown tag is not handled
    EXPECT_EQ(seenTag, 42);
    qxFreeCommandRegistries();
}

TEST(LibraryTable, TwentyFourLibrariesInOpeningOrder)
{
    const char *order[] = {"string", "math", "graphics", "draw", "moveobject", "dos", "event", "system",
                           "layers", "text", "anim", "display", "sound", "brush", "bgpic",
                           "transitionfx", "sprite", "memblock", "vectorgraphics", "icon", "serial",
                           "network", "video", "arexx"};
    size_t n = 0;
    for (const qxLibraryDef *l = qxLibraryTable; l->name; l++, n++) {
        ASSERT_LT(n, 24u);
        EXPECT_STREQ(l->name, order[n]);
        EXPECT_NE(l->open, nullptr);
    }
    EXPECT_EQ(n, 24u);
}

#include <unistd.h>

#include "core/runtime/qx_startup.h"
#include "platform/qx_paths.h"
#include "platform/qx_tempfiles.h"

TEST(TempFiles, EveryRegisteredFileIsDeleted)
{
    char a[1100], b[1200];
    ASSERT_TRUE(qxTempFileName(a, sizeof a)); // registers itself
    std::snprintf(b, sizeof b, "%s.extra", a);
    FILE *f = std::fopen(b, "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    ASSERT_EQ(qxAddTempFile(b), 1);
    ASSERT_NE(qxTempFiles, nullptr);
    qxDeleteTempFiles();
    EXPECT_NE(access(a, F_OK), 0);
    EXPECT_NE(access(b, F_OK), 0);
    EXPECT_EQ(qxTempFiles, nullptr);
}
