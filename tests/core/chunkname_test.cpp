// Chunk names, memory descriptors and file-name resolution.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/files/qx_chunkname.h"
#include "core/runtime/qx_startup.h"
#include "core/vm/lauxlib.h"
#include "core/vm/lua.h"
#include "platform/qx_paths.h"

namespace {

struct Parsed {
    int ok;
    uint32_t offset = 77, size = 77;
    char inner[64] = "x", container[64] = "x", ext[16] = "x";
    qxMemRecord *block = reinterpret_cast<qxMemRecord *>(1);
};

Parsed parse(const char *name)
{
    Parsed p;
    p.ok = qxParseChunkName(name, &p.offset, &p.size, p.inner, sizeof p.inner, p.container, sizeof p.container,
                            p.ext, sizeof p.ext, &p.block);
    return p;
}

TEST(ChunkName, BuildsPlainFormWithAbsoluteOffset)
{
    char buf[128];
    ASSERT_EQ(qxMakeChunkName("pics/a.png", buf, sizeof buf, 100, 5, 1000, "/x/app.qxa"), 1);
    EXPECT_STREQ(buf, ":::chunk1100:5*pics/a.png?/x/app.qxa");
    // Offsets wrap in 32 bits.
    ASSERT_EQ(qxMakeChunkName("n", buf, sizeof buf, 10, 1, 0xFFFFFFFFll, nullptr), 1);
    EXPECT_STREQ(buf, ":::chunk9:1*n?");
    ASSERT_EQ(qxMakeChunkName("mem.bin", buf, sizeof buf, -1, 42, 17, ""), 1);
    EXPECT_STREQ(buf, ":::chunkS17:42*mem.bin?");
}

TEST(ChunkName, BuildRefusesWhatDoesNotFit)
{
    std::string want = ":::chunk1:2*abc?def";
    std::vector<char> buf(want.size() + 1);
    EXPECT_EQ(qxMakeChunkName("abc", buf.data(), buf.size(), 1, 2, 0, "def"), 1);
    EXPECT_EQ(qxMakeChunkName("abc", buf.data(), buf.size() - 1, 1, 2, 0, "def"), 0);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(qxMakeChunkName("a?b", buf.data(), buf.size(), 1, 2, 0, "d"), 0);
    EXPECT_EQ(qxMakeChunkName("a", buf.data(), 0, 1, 2, 0, "d"), 0);
}

TEST(ChunkName, ParsesPlainForm)
{
    Parsed p = parse(":::chunk1100:5*pics/a.b.png?/x/app.qxa");
    ASSERT_EQ(p.ok, 1);
    EXPECT_EQ(p.offset, 1100u);
    EXPECT_EQ(p.size, 5u);
    EXPECT_STREQ(p.inner, "pics/a.b.png");
    EXPECT_STREQ(p.container, "/x/app.qxa");
    EXPECT_STREQ(p.ext, ".png");
    EXPECT_EQ(p.block, nullptr);

    p = parse(":::chunk0:0*noext?c");
    ASSERT_EQ(p.ok, 1);
    EXPECT_STREQ(p.ext, "");
    // Every output is optional.
    EXPECT_EQ(qxParseChunkName(":::chunk1:2*a?b", nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, 0, nullptr), 1);
}

TEST(ChunkName, ParsesMemoryFormWithoutBlock)
{
    Parsed p = parse(":::chunkS-1:0*virtual.txt?");
    ASSERT_EQ(p.ok, 1);
    EXPECT_EQ(p.offset, 0u);
    EXPECT_EQ(p.size, 0u);
    EXPECT_STREQ(p.inner, "virtual.txt");
    EXPECT_STREQ(p.container, "");
    EXPECT_STREQ(p.ext, ".txt");
    EXPECT_EQ(p.block, nullptr);
    // The S form never has a container, whatever follows the "?".
    p = parse(":::chunkS-1:3*v?/etc/passwd");
    ASSERT_EQ(p.ok, 1);
    EXPECT_STREQ(p.container, "");
}

TEST(ChunkName, OutputsThatDoNotFitFail)
{
    const char *name = ":::chunk1:2*abcd.ext?container";
    char small[4];
    EXPECT_EQ(qxParseChunkName(name, nullptr, nullptr, small, sizeof small, nullptr, 0, nullptr, 0, nullptr), 0);
    EXPECT_EQ(qxParseChunkName(name, nullptr, nullptr, small, 0, nullptr, 0, nullptr, 0, nullptr), 0);
    EXPECT_EQ(qxParseChunkName(name, nullptr, nullptr, nullptr, 0, small, sizeof small, nullptr, 0, nullptr), 0);
    EXPECT_EQ(qxParseChunkName(name, nullptr, nullptr, nullptr, 0, nullptr, 0, small, sizeof small, nullptr), 0);
    char five[5];
    EXPECT_EQ(qxParseChunkName(name, nullptr, nullptr, nullptr, 0, nullptr, 0, five, sizeof five, nullptr), 1);
    EXPECT_STREQ(five, ".ext");
}

TEST(ChunkName, MalformedNamesAreRefused)
{
    const char *bad[] = {
        "", ":::chunk", ":::chunk12", ":::chunk1:", ":::chunk1:2", ":::chunk1:2*name", ":::chunk:2*a?b",
        ":::chunk1:*a?b", ":::chunkx:2*a?b", ":::chunk1x:2*a?b", ":::chunk1:2x*a?b", ":::chunk-1:2*a?b",
        ":::chunk4294967296:1*a?b", ":::chunk1:4294967296*a?b", ":::chunk99999999999999999999999:1*a?b",
        ":::chunkS:1*a?b", ":::chunkS-:1*a?b", ":::chunkS2147483648:1*a?b", ":::chunkS--1:1*a?b",
        "::chunk1:2*a?b", "plain/file.txt",
    };
    for (const char *name : bad) {
        EXPECT_EQ(parse(name).ok, 0) << name;
        char out[64];
        EXPECT_EQ(qxChunkNameBaseName(name, out, sizeof out), 0) << name;
    }
    EXPECT_EQ(qxParseChunkName(nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, 0, nullptr), 0);
    EXPECT_EQ(parse(":::chunk4294967295:4294967295*a?b").ok, 1);
    EXPECT_EQ(parse(":::chunkS-2147483648:1*a?b").ok, 0); // no such block
}

TEST(ChunkName, BuildAndParseRoundTrip)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<uint32_t> any;
    const char *names[] = {"a", "dir/file.tar.gz", "C:\\x\\y.png", "sp ace.", ".hidden"};
    for (int i = 0; i < 200; i++) {
        uint32_t offset = any(rng), size = any(rng);
        const char *inner = names[i % 5];
        char buf[256];
        ASSERT_EQ(qxMakeChunkName(inner, buf, sizeof buf, offset, size, 0, "/c?d"), 1);
        Parsed p = parse(buf);
        ASSERT_EQ(p.ok, 1) << buf;
        EXPECT_EQ(p.offset, offset);
        EXPECT_EQ(p.size, size);
        EXPECT_STREQ(p.inner, inner);
        EXPECT_STREQ(p.container, "/c?d");
    }
}

TEST(ChunkName, IsChunkName)
{
    EXPECT_TRUE(qxIsChunkName(":::chunk1:2*a?b"));
    EXPECT_TRUE(qxIsChunkName(":::chunkS1:2*a?b"));
    EXPECT_TRUE(qxIsChunkName(":::chunk"));
    EXPECT_FALSE(qxIsChunkName(":::chun"));
    EXPECT_FALSE(qxIsChunkName("x:::chunk"));
    EXPECT_FALSE(qxIsChunkName(nullptr));
}

TEST(ChunkName, BaseNames)
{
    EXPECT_STREQ(qxChunkBaseName("dir/sub/file.png"), "file.png");
    EXPECT_STREQ(qxChunkBaseName("dir\\sub\\file.png"), "file.png");
    EXPECT_STREQ(qxChunkBaseName("PROGDIR:file.png"), "file.png");
    EXPECT_STREQ(qxChunkBaseName("a:b:c"), "b:c");
    EXPECT_STREQ(qxChunkBaseName("x"), "x");
    EXPECT_STREQ(qxChunkBaseName("/"), "/");
    EXPECT_STREQ(qxChunkBaseName(""), "");
    EXPECT_STREQ(qxChunkBaseName(":::chunk10:2*pics/logo.png?/apps/x.qxa"), "logo.png");
    EXPECT_STREQ(qxChunkBaseName(":::chunkS5:2*mem.dat?"), "mem.dat"); // no live block needed
    // A malformed chunk name is shown by its own base name.
    EXPECT_STREQ(qxChunkBaseName(":::chunk1:2*no/question"), "question");

    char out[16];
    ASSERT_EQ(qxChunkNameBaseName(":::chunk1:2*a/b/c.txt?z", out, sizeof out), 1);
    EXPECT_STREQ(out, "c.txt");
    EXPECT_EQ(qxChunkNameBaseName(":::chunk1:2*a/b/c.txt?z", out, 5), 0);
    EXPECT_EQ(qxChunkNameBaseName(":::chunk1:2*?z", out, sizeof out), 0);
}

// ---- Memory descriptors ----

TEST(ChunkMemoryName, OnlyDescriptorsMadeHereAreRecognised)
{
    static const char data[] = "hello";
    qxMemoryName d;
    qxMakeMemoryName(&d, data, 5);
    void *p = nullptr;
    uint32_t n = 0;
    ASSERT_EQ(qxReadMemoryName(d.tag, &p, &n), 1);
    EXPECT_EQ(p, data);
    EXPECT_EQ(n, 5u);

    // The same bytes elsewhere (say, a script's string) are an ordinary name.
    std::vector<char> copy(reinterpret_cast<char *>(&d), reinterpret_cast<char *>(&d) + sizeof d);
    EXPECT_EQ(qxReadMemoryName(copy.data(), &p, &n), 0);
    // A forged pointer in a descriptor of ours fails its key.
    qxMemoryName forged = d;
    qxMakeMemoryName(&forged, data, 5);
    forged.size[0] ^= 0x40;
    EXPECT_EQ(qxReadMemoryName(forged.tag, &p, &n), 0);
    // A text that merely starts with the tag is never read past its end.
    EXPECT_EQ(qxReadMemoryName(":::memory", &p, &n), 0);
    EXPECT_EQ(qxReadMemoryName(":::memoryX", &p, &n), 0);
    EXPECT_EQ(qxReadMemoryName(nullptr, &p, &n), 0);
}

// ---- Memory blocks through the registry ----

qxMemRecord gBlock;
void *gLiveBlock;
uint32_t gStamp;
qxMemRecord *fakeVirtualFileCheck(void *block, uint32_t stamp)
{
    gStamp = stamp;
    return block == gLiveBlock ? &gBlock : nullptr;
}

class ChunkRegistry : public ::testing::Test {
protected:
    void SetUp() override
    {
        L = lua_open();
        ASSERT_NE(L, nullptr);
        saved = qxMainState;
        qxMainState = L;
        qxSetVirtualFileCheck(fakeVirtualFileCheck);
    }
    void TearDown() override
    {
        qxSetVirtualFileCheck(nullptr);
        qxMainState = saved;
        lua_close(L);
    }
    int ref(void *p)
    {
        lua_pushlightuserdata(L, p);
        return luaL_ref(L, LUA_REGISTRYINDEX);
    }
    lua_State *L = nullptr;
    lua_State *saved = nullptr;
};

TEST_F(ChunkRegistry, LiveVirtualFileGivesItsBlockAndSize)
{
    static char storage[32];
    gBlock = {storage, 32, 12, nullptr, 1};
    gLiveBlock = storage;
    int r = ref(storage);
    char name[128];
    ASSERT_EQ(qxMakeChunkName("data.bin", name, sizeof name, -1, 999, r, nullptr), 1);
    int top = lua_gettop(L);
    Parsed p = parse(name);
    EXPECT_EQ(lua_gettop(L), top);
    ASSERT_EQ(p.ok, 1);
    EXPECT_EQ(p.block, &gBlock);
    EXPECT_EQ(p.size, 12u); // the block's current size, not the written one
    EXPECT_EQ(gStamp, 999u); // the written one goes to the check
    EXPECT_EQ(p.offset, 0u);

    // A block that is no longer a virtual file, or a reference to nothing.
    gLiveBlock = nullptr;
    EXPECT_EQ(parse(name).ok, 0);
    ASSERT_EQ(qxMakeChunkName("x", name, sizeof name, -1, 1, r + 100, nullptr), 1);
    EXPECT_EQ(parse(name).ok, 0);
    // Without a check installed no S-form block is believed.
    gLiveBlock = storage;
    qxSetVirtualFileCheck(nullptr);
    ASSERT_EQ(qxMakeChunkName("x", name, sizeof name, -1, 1, r, nullptr), 1);
    EXPECT_EQ(parse(name).ok, 0);
}

// ---- File-name resolution ----

qxLinkedFile *linked(const char *name, const char *container, uint32_t offset, uint32_t size, qxLinkedFile *next)
{
    auto *f = new qxLinkedFile{};
    f->next = next;
    std::snprintf(f->name, sizeof f->name, "%s", name);
    std::snprintf(f->container, sizeof f->container, "%s", container);
    f->offset = offset;
    f->size = size;
    return f;
}

class ChunkResolve : public ::testing::Test {
protected:
    void SetUp() override
    {
        L = lua_open();
        ASSERT_NE(L, nullptr);
        applet = new qxAppletInfo{};
        startup = new qxStartupInfo{};
        std::snprintf(startup->programPath, sizeof startup->programPath, "/opt/player/zephyrane");
        applet->linkedFiles =
            linked("::font:DejaVu Sans", "", 300, 40, linked("Data\\Pics\\Logo.PNG", "/apps/demo.qxa", 100, 20,
                                                                linked("fonts/serif.ttf", "", 200, 30, nullptr)));
        lua_pushstring(L, "applet");
        lua_pushlightuserdata(L, applet);
        lua_settable(L, LUA_REGISTRYINDEX);
        lua_pushstring(L, "clargs");
        lua_pushlightuserdata(L, startup);
        lua_settable(L, LUA_REGISTRYINDEX);
        savedOffset = qxAppendedOffset;
        qxAppendedOffset = 5000;
    }
    void TearDown() override
    {
        qxAppendedOffset = savedOffset;
        for (qxLinkedFile *f = applet->linkedFiles; f;) {
            qxLinkedFile *next = f->next;
            delete f;
            f = next;
        }
        delete applet;
        delete startup;
        lua_close(L);
    }
    lua_State *L = nullptr;
    qxAppletInfo *applet = nullptr;
    qxStartupInfo *startup = nullptr;
    uint32_t savedOffset = 0;
};

TEST_F(ChunkResolve, LinkedFileBecomesItsChunkName)
{
    int isFont = 7;
    const char *r = qxResolveFileName(L, "data/pics/logo.png", 0, &isFont);
    EXPECT_STREQ(r, ":::chunk5100:20*Data\\Pics\\Logo.PNG?/apps/demo.qxa");
    EXPECT_EQ(isFont, 0);
    // Without a container of its own the entry lives in the program.
    r = qxResolveFileName(L, "FONTS\\SERIF.TTF", 1, &isFont);
    EXPECT_STREQ(r, ":::chunk5200:30*fonts/serif.ttf?/opt/player/zephyrane");
    EXPECT_EQ(isFont, 0);
}

TEST_F(ChunkResolve, FontModeMatchesOnlyFontEntries)
{
    int isFont = 0;
    const char *r = qxResolveFileName(L, "dejavu sans.FONT", 1, &isFont);
    EXPECT_STREQ(r, ":::chunk5300:40*DejaVu Sans?/opt/player/zephyrane");
    EXPECT_EQ(isFont, 1);
    // Outside font mode the font entry takes no part.
    const char *name = "DejaVu Sans";
    EXPECT_EQ(qxResolveFileName(L, name, 0, &isFont), name);
    EXPECT_EQ(isFont, 0);
    // ".ttf" switches font mode off.
    EXPECT_STREQ(qxResolveFileName(L, "fonts/serif.ttf", 1, &isFont), ":::chunk5200:30*fonts/serif.ttf?/opt/player/zephyrane");
    EXPECT_EQ(isFont, 0);
}

TEST_F(ChunkResolve, UnknownNamesAreReturnedUnchanged)
{
    const char *name = "elsewhere.png";
    int isFont = 3;
    EXPECT_EQ(qxResolveFileName(L, name, 0, &isFont), name);
    EXPECT_EQ(isFont, 0);
    EXPECT_EQ(qxResolveFileName(L, nullptr, 0, nullptr), nullptr);
}

TEST_F(ChunkResolve, ScriptNamesAreNeverMemoryDescriptors)
{
    const char *r = qxResolveFileName(L, ":::memory", 0, nullptr);
    EXPECT_STREQ(r, "./:::memory");
    EXPECT_EQ(qxReadMemoryName(r, nullptr, nullptr), 0);
}

TEST_F(ChunkResolve, FileNameArgumentReadsAString)
{
    lua_settop(L, 0);
    lua_pushstring(L, "data/pics/logo.png");
    EXPECT_STREQ(qxGetFileNameArg(L, 1, 0, nullptr), ":::chunk5100:20*Data\\Pics\\Logo.PNG?/apps/demo.qxa");
}

} // namespace
