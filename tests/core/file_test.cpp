// The virtual file layer: memory files, native files and chunks, adapter
// streams, seek emulation, byte-order readers, whole files, directories and
// console output.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/commands/qx_commands.h"
#include "core/errors/qx_errors.h"
#include "core/files/qx_file.h"
#include "core/runtime/qx_startup.h"
#include "core/vm/lauxlib.h"
#include "core/vm/lua.h"
#include "platform/qx_memory.h"
#include "platform/qx_text.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> iota(size_t n)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; i++) v[i] = static_cast<uint8_t>(i * 7 + 3);
    return v;
}

std::string slurp(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void spit(const fs::path &p, const std::string &s)
{
    std::ofstream out(p, std::ios::binary);
    out << s;
}

class TempDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/qxfiletest.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string at(const char *name) const { return (dir / name).string(); }
    fs::path dir;
};

// ---- Memory files ----

TEST(FileMemory, DescriptorReadsAndClampsAtBothEnds)
{
    std::vector<uint8_t> data = iota(100);
    qxMemoryName d;
    qxMakeMemoryName(&d, data.data(), 100);
    EXPECT_EQ(qxOpen(d.tag, QX_OPEN_WRITE, nullptr), nullptr);
    EXPECT_EQ(qxOpen(d.tag, QX_OPEN_READWRITE, nullptr), nullptr);
    qxFileHandle *h = qxOpen(d.tag, QX_OPEN_READ, nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(qxFileSize(h), 100);

    uint8_t buf[16];
    EXPECT_EQ(qxSeek(h, 95, 1), 0);
    EXPECT_EQ(qxRead(h, buf, 10), 5);
    EXPECT_EQ(0, std::memcmp(buf, data.data() + 95, 5));
    EXPECT_TRUE(qxEOF(h));
    EXPECT_EQ(qxGetC(h), -1);

    EXPECT_EQ(qxSeek(h, 10, 2), 100); // returns the old position
    EXPECT_EQ(qxSeek(h, 0, 0), 100);  // past the end clamps to the end
    // Before the start clamps to 0: the next read is the first byte.
    EXPECT_EQ(qxSeek(h, -1000, 0), 100);
    EXPECT_EQ(qxSeek(h, 0, 0), 0);
    EXPECT_EQ(qxGetC(h), data[0]);
    EXPECT_EQ(qxSeek(h, -5, 1), 1);
    EXPECT_EQ(qxGetC(h), data[0]);
    EXPECT_EQ(qxSeek(h, INT64_MAX, 1), 1);
    EXPECT_EQ(qxSeek(h, INT64_MAX, 0), -1); // overflow
    EXPECT_EQ(qxSeek(h, 0, 0), 100);
    EXPECT_EQ(qxSeek(h, 0, 3), -1);

    // Borrowed memory is never written.
    qxSeek(h, 0, 1);
    EXPECT_EQ(qxWrite(h, "x", 1), 0);
    EXPECT_EQ(qxPutC(h, 'x'), 0);
    EXPECT_EQ(data[0], 3);

    qxFileInfo info;
    ASSERT_EQ(qxExamineFH(h, &info), 1);
    EXPECT_EQ(info.size, 100u);
    EXPECT_EQ(info.protection, 15u);
    EXPECT_EQ(qxFlush(h), 1);
    EXPECT_EQ(qxFileAdapterOf(h), nullptr);
    EXPECT_EQ(qxClose(h), 1);
}

qxMemRecord gBlock;
void *gLiveBlock;
qxMemRecord *fakeCheck(void *block, uint32_t) { return block == gLiveBlock ? &gBlock : nullptr; }

class FileMemoryBlock : public ::testing::Test {
protected:
    void SetUp() override
    {
        L = lua_open();
        ASSERT_NE(L, nullptr);
        saved = qxMainState;
        qxMainState = L;
        qxSetVirtualFileCheck(fakeCheck);
        gBlock = {qxAlloc(0x10000, 1), 0x10000, 0x10000, nullptr, 1};
        gLiveBlock = &gBlock;
        lua_pushlightuserdata(L, &gBlock);
        int ref = luaL_ref(L, LUA_REGISTRYINDEX);
        ASSERT_EQ(qxMakeChunkName("block.bin", name, sizeof name, -1, 0, ref, nullptr), 1);
    }
    void TearDown() override
    {
        qxFree(gBlock.data);
        qxSetVirtualFileCheck(nullptr);
        qxMainState = saved;
        lua_close(L);
    }
    lua_State *L = nullptr;
    lua_State *saved = nullptr;
    char name[128];
};

TEST_F(FileMemoryBlock, WritingPastCapacityGrowsBySteps)
{
    static_cast<uint8_t *>(gBlock.data)[0x1234] = 0xAB;
    qxFileHandle *h = qxOpen(name, QX_OPEN_READWRITE, nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(qxSeek(h, 0x10000, 1), 0);
    EXPECT_EQ(qxPutC(h, 0x5A), 1);
    EXPECT_EQ(gBlock.capacity, 0x20000);
    EXPECT_EQ(gBlock.size, 0x10001);
    EXPECT_EQ(static_cast<uint8_t *>(gBlock.data)[0x1234], 0xAB);
    EXPECT_EQ(static_cast<uint8_t *>(gBlock.data)[0x10000], 0x5A);

    // A big write grows by as many steps as it needs.
    std::vector<uint8_t> big(0x25000, 0xEE);
    EXPECT_EQ(qxWrite(h, big.data(), static_cast<int64_t>(big.size())), static_cast<int64_t>(big.size()));
    EXPECT_EQ(gBlock.capacity, 0x40000);
    EXPECT_EQ(gBlock.size, 0x35001);
    EXPECT_EQ(qxFileSize(h), 0x35001);

    // Overwriting inside the data does not change the size.
    qxSeek(h, 0, 1);
    EXPECT_EQ(qxWrite(h, "\x01\x02\x03\x04", 4), 4);
    EXPECT_EQ(gBlock.size, 0x35001);
    qxSeek(h, 0, 1);
    EXPECT_EQ(qxReadBE32(h), 0x01020304u);
    EXPECT_EQ(qxClose(h), 1);
    EXPECT_NE(gBlock.data, nullptr); // the block is not the handle's to free
}

TEST_F(FileMemoryBlock, BlockThatShrankUnderTheHandle)
{
    std::memset(gBlock.data, 0xCC, 0x10000);
    qxFileHandle *h = qxOpen(name, QX_OPEN_READWRITE, nullptr);
    ASSERT_NE(h, nullptr);
    qxSeek(h, 0x100, 1);
    gBlock.size = 0x10; // the memory-block library shrank it meanwhile
    uint8_t buf[4];
    EXPECT_EQ(qxRead(h, buf, 4), 0);
    EXPECT_EQ(qxGetC(h), -1);
    EXPECT_TRUE(qxEOF(h));
    EXPECT_EQ(qxPutC(h, 1), 1);
    EXPECT_EQ(gBlock.size, 0x101);
    auto *bytes = static_cast<uint8_t *>(gBlock.data);
    for (int i = 0x10; i < 0x100; i++) ASSERT_EQ(bytes[i], 0) << i;
    EXPECT_EQ(bytes[0x100], 1);
    qxClose(h);
}

TEST_F(FileMemoryBlock, ReadOnlyBlocksAndOpens)
{
    qxFileHandle *h = qxOpen(name, QX_OPEN_READ, nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(qxWrite(h, "abc", 3), 0); // opened for reading only
    qxClose(h);
    gBlock.writable = 0;
    EXPECT_EQ(qxOpen(name, QX_OPEN_WRITE, nullptr), nullptr);
    EXPECT_EQ(qxOpen(name, QX_OPEN_READWRITE, nullptr), nullptr);
    gLiveBlock = nullptr; // no longer a virtual file
    EXPECT_EQ(qxOpen(name, QX_OPEN_READ, nullptr), nullptr);
}

// ---- Native files and chunks ----

class FileNative : public TempDir {};

// Python's struct.pack of each (format, value) pair, joined.
std::string pythonPack(const std::vector<std::pair<std::string, uint64_t>> &items)
{
    std::string cmd = "python3 -c \"import struct,sys; sys.stdout.buffer.write(b''.join([";
    for (const auto &[format, value] : items) cmd += "struct.pack('" + format + "'," + std::to_string(value) + "),";
    cmd += "]))\"";
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return {};
    std::string out;
    char buf[256];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

TEST_F(FileNative, ByteOrderReadersMatchPythonStruct)
{
    std::mt19937 rng(11);
    std::vector<uint64_t> values;
    for (int i = 0; i < 40; i++) {
        uint32_t v = rng();
        values.push_back(i % 2 == 0 ? v : (v & 0xFFFF));
    }
    std::vector<std::pair<std::string, uint64_t>> items;
    for (size_t i = 0; i < values.size(); i++) items.emplace_back(i % 2 == 0 ? ">I" : ">H", values[i]);
    std::string path = at("order.bin");
    spit(path, pythonPack(items));

    qxFileHandle *h = qxOpen(path.c_str(), QX_OPEN_READ, nullptr);
    ASSERT_NE(h, nullptr);
    for (size_t i = 0; i < values.size(); i++) {
        uint32_t got = i % 2 == 0 ? qxReadBE32(h) : i % 4 == 1 ? qxReadBE16(h) : qxReadBE16ByBytes(h);
        EXPECT_EQ(got, values[i]) << i;
    }
    EXPECT_TRUE(qxEOF(h));
    qxClose(h);
}

TEST_F(FileNative, ReadersAtTheEndCarryTheEndMarker)
{
    std::string path = at("short.bin");
    spit(path, std::string("\x12\x34\x56", 3));
    qxFileHandle *h = qxOpen(path.c_str(), QX_OPEN_READ, nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(qxReadBE16(h), 0x1234);
    EXPECT_FALSE(qxEOF(h));
    EXPECT_EQ(qxReadBE16(h), 0xFFFFu); // 0x56 and the end marker over it
    EXPECT_TRUE(qxEOF(h));
    EXPECT_EQ(qxReadBE32(h), 0xFFFFFFFFu);
    qxClose(h);
}

TEST_F(FileNative, ChunkOfAContainerReadsOnlyItsRange)
{
    std::vector<uint8_t> data = iota(300);
    std::string path = at("container.dat");
    spit(path, std::string(data.begin(), data.end()));
    char name[1024];
    ASSERT_EQ(qxMakeChunkName("inner.png", name, sizeof name, 100, 50, 0, path.c_str()), 1);

    qxFileHandle *h = qxOpen(name, QX_OPEN_READ, nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(qxFileSize(h), 50);
    uint8_t buf[100];
    EXPECT_EQ(qxRead(h, buf, 100), 50);
    EXPECT_EQ(0, std::memcmp(buf, data.data() + 100, 50));
    EXPECT_EQ(qxGetC(h), -1);
    EXPECT_EQ(qxSeek(h, 1000, 1), 50);
    EXPECT_EQ(qxRead(h, buf, 1), 0);
    qxSeek(h, -1000, 1);
    EXPECT_EQ(qxGetC(h), data[100]);
    qxClose(h);

    // Malformed chunk names and missing containers fail to open.
    EXPECT_EQ(qxOpen(":::chunk1:2*x", QX_OPEN_READ, nullptr), nullptr);
    EXPECT_EQ(qxOpen(":::chunk1:2*x?/no/such/file", QX_OPEN_READ, nullptr), nullptr);
    EXPECT_EQ(qxOpen(":::chunkS-1:0*x?", QX_OPEN_READ, nullptr), nullptr);
}

TEST_F(FileNative, ReadUntilStopsAtTheDelimiterOnEveryKindOfHandle)
{
    std::string text = "one\ntwo\r\n\n" + std::string(70000, 'x') + "\nlast";
    std::string path = at("lines.txt");
    spit(path, "head" + text + "tail");
    char chunk[1024];
    ASSERT_EQ(qxMakeChunkName("lines.txt", chunk, sizeof chunk, 4, static_cast<uint32_t>(text.size()), 0,
                              path.c_str()),
              1);
    qxMemoryName memory;
    qxMakeMemoryName(&memory, text.data(), static_cast<uint32_t>(text.size()));
    std::string plain = at("plain.txt");
    spit(plain, text);
    // A plain file, a chunk that ends inside its container, and memory.
    for (const char *name : {plain.c_str(), static_cast<const char *>(chunk), static_cast<const char *>(memory.tag)}) {
        qxFileHandle *h = qxOpen(name, QX_OPEN_READ, nullptr);
        ASSERT_NE(h, nullptr);
        char *buffer = nullptr;
        size_t capacity = 0;
        std::vector<std::string> got;
        for (int64_t n; (n = qxReadUntil(h, '\n', &buffer, &capacity)) > 0;)
            got.emplace_back(buffer, static_cast<size_t>(n));
        ASSERT_EQ(got.size(), 5u) << name;
        EXPECT_EQ(got[0], "one\n");
        EXPECT_EQ(got[1], "two\r\n");
        EXPECT_EQ(got[2], "\n");
        EXPECT_EQ(got[3].size(), 70001u);
        EXPECT_EQ(got[4], "last"); // not the container's "tail"
        EXPECT_TRUE(qxEOF(h));
        EXPECT_EQ(qxSeek(h, 4, 1), static_cast<int64_t>(text.size()));
        EXPECT_EQ(qxReadUntil(h, 'w', &buffer, &capacity), 2); // the position is kept exactly
        EXPECT_EQ(qxGetC(h), 'o');
        std::free(buffer);
        qxClose(h);
    }
}

TEST_F(FileNative, ListsThatDoNotAdmitInbuiltRefuseNativeFiles)
{
    std::string path = at("a.txt");
    spit(path, "abc");
    EXPECT_EQ(qxOpen(path.c_str(), QX_OPEN_READ, "someplugin"), nullptr);
    EXPECT_EQ(qxOpen(path.c_str(), QX_OPEN_READ, "native"), nullptr);
    for (const char *list : {(const char *)nullptr, "", "default", "inbuilt", "plugin|inbuilt"}) {
        qxFileHandle *h = qxOpen(path.c_str(), QX_OPEN_READ, list);
        ASSERT_NE(h, nullptr) << (list ? list : "null");
        qxClose(h);
    }
    // A script's ":::memory" is an ordinary (here missing) file.
    EXPECT_EQ(qxOpen(":::memory", QX_OPEN_READ, nullptr), nullptr);
}

// ---- Adapters ----

struct FakeStream {
    std::string data;
    size_t pos = 0;
    int reads = 0;
};

struct FakeAdapter {
    std::map<std::string, std::string> files;
    bool seekable = true;
    std::string lastName;
    std::vector<qxFileTag> lastTags;
    uint32_t lastMode = 0;
    int opens = 0;
};
FakeAdapter *gFake;

void *fakeOpen(const char *name, uint32_t mode, qxFileTag *tags)
{
    gFake->opens++;
    gFake->lastName = name;
    gFake->lastMode = mode;
    gFake->lastTags.clear();
    uint32_t *streamFlags = nullptr;
    for (qxFileTag *t = tags; t->tag; t++) {
        gFake->lastTags.push_back(*t);
        if (t->tag == QX_FTAG_STREAMFLAGS) streamFlags = reinterpret_cast<uint32_t *>(t->data);
    }
    auto it = gFake->files.find(name);
    if (it == gFake->files.end()) return nullptr;
    if (streamFlags && !gFake->seekable) *streamFlags = QX_STREAM_NOSEEK;
    return new FakeStream{it->second};
}
int fakeClose(void *h)
{
    delete static_cast<FakeStream *>(h);
    return 7;
}
int64_t fakeRead(void *h, void *buffer, int64_t n)
{
    auto *s = static_cast<FakeStream *>(h);
    s->reads++;
    int64_t avail = static_cast<int64_t>(s->data.size() - s->pos);
    if (n > avail) n = avail;
    std::memcpy(buffer, s->data.data() + s->pos, static_cast<size_t>(n));
    s->pos += static_cast<size_t>(n);
    return n;
}
int fakeGetC(void *h)
{
    unsigned char c;
    return fakeRead(h, &c, 1) == 1 ? c : -1;
}
int64_t fakeWrite(void *, const void *, int64_t) { return 0; }
int fakePutC(void *, int) { return 0; }
int64_t fakeSeek(void *h, int64_t offset, int whence)
{
    auto *s = static_cast<FakeStream *>(h);
    int64_t old = static_cast<int64_t>(s->pos);
    // The stream itself only reports its position and rewinds.
    if (!gFake->seekable && !(whence == 0 && offset == 0) && !(whence == 1 && offset == 0)) return -1;
    int64_t from = whence == 1 ? 0 : whence == 2 ? static_cast<int64_t>(s->data.size()) : old;
    int64_t target = from + offset;
    if (target < 0 || target > static_cast<int64_t>(s->data.size())) return -1;
    s->pos = static_cast<size_t>(target);
    return old;
}
int fakeFlush(void *) { return 5; }
int fakeEof(void *h)
{
    auto *s = static_cast<FakeStream *>(h);
    return s->pos >= s->data.size();
}
int fakeFStat(void *h, qxAdapterFileInfo *info)
{
    info->size = static_cast<FakeStream *>(h)->data.size();
    return 1;
}
// Kinds other than 1 are files; the comment fills its field unterminated.
int fakeStat(const char *name, qxAdapterFileInfo *info)
{
    auto it = gFake->files.find(name);
    if (it == gFake->files.end()) return 0;
    info->size = it->second.size();
    info->kind = 7;
    std::memset(info->comment, 'c', sizeof info->comment);
    return 1;
}
// What an adapter leaves alone: flags 15, every date 4 Nov 2002 10:30 local.
void expectDefaults(const qxFileInfo &info)
{
    std::tm date{};
    date.tm_year = 102, date.tm_mon = 10, date.tm_mday = 4, date.tm_hour = 10, date.tm_min = 30, date.tm_isdst = -1;
    const auto when = static_cast<uint64_t>(std::mktime(&date));
    EXPECT_EQ(info.protection, 15u);
    EXPECT_EQ(info.modifyTime, when);
    EXPECT_EQ(info.accessTime, when);
    EXPECT_EQ(info.changeTime, when);
}

const qxFileAdapterFuncs kFakeFuncs = {fakeOpen, fakeClose, fakeRead, fakeGetC, fakeWrite, fakePutC, fakeSeek,
                                       fakeFlush, fakeEof, fakeFStat, fakeStat, nullptr, nullptr, nullptr, nullptr};

class FileAdapter : public TempDir {
protected:
    void SetUp() override
    {
        TempDir::SetUp();
        gFake = &fake;
        node = {nullptr, &pluginRecord, "fakefs", 0, 0, &kFakeFuncs};
        qxFileAdapters = &node;
        fake.files["remote.dat"] = std::string(reinterpret_cast<const char *>(iota(20000).data()), 20000);
    }
    void TearDown() override
    {
        qxFileAdapters = nullptr;
        gFake = nullptr;
        TempDir::TearDown();
    }
    FakeAdapter fake;
    qxAdapterNode node;
    int pluginRecord = 0;
};

TEST_F(FileAdapter, OpensOnlyWhenAskedAndAdmitted)
{
    EXPECT_EQ(qxOpen("remote.dat", QX_OPEN_READ, nullptr), nullptr); // adapters not asked
    EXPECT_EQ(fake.opens, 0);

    qxFileHandle *h = qxOpen("remote.dat", QX_OPEN_READ | QX_OPEN_ADAPTERS, nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(fake.lastMode, QX_ADAPTER_READ);
    ASSERT_EQ(fake.lastTags.size(), 1u);
    EXPECT_EQ(fake.lastTags[0].tag, QX_FTAG_STREAMFLAGS);
    EXPECT_EQ(reinterpret_cast<uint32_t *>(fake.lastTags[0].data), &h->streamFlags);
    EXPECT_EQ(qxFileAdapterOf(h), &pluginRecord);
    EXPECT_EQ(qxFileSize(h), 20000);
    qxFileInfo info;
    ASSERT_EQ(qxExamineFH(h, &info), 1);
    expectDefaults(info);
    EXPECT_EQ(qxFlush(h), 5);
    EXPECT_EQ(qxClose(h), 7);

    for (const char *list : {"fakefs", "plugin", "default", "fakefs|inbuilt"}) {
        h = qxOpen("remote.dat", QX_OPEN_READ | QX_OPEN_ADAPTERS, list);
        EXPECT_NE(h, nullptr) << list;
        qxClose(h);
    }
    EXPECT_EQ(qxOpen("remote.dat", QX_OPEN_READ | QX_OPEN_ADAPTERS, "inbuilt"), nullptr);
    EXPECT_EQ(qxOpen("remote.dat", QX_OPEN_READ | QX_OPEN_ADAPTERS, "other"), nullptr);

    node.disabled = 1;
    EXPECT_EQ(qxOpen("remote.dat", QX_OPEN_READ | QX_OPEN_ADAPTERS, nullptr), nullptr);
    node.disabled = 0;
    node.userFlags = QX_ADAPTER_ONLYNAMED;
    EXPECT_EQ(qxOpen("remote.dat", QX_OPEN_READ | QX_OPEN_ADAPTERS, nullptr), nullptr);
    EXPECT_EQ(qxOpen("remote.dat", QX_OPEN_READ | QX_OPEN_ADAPTERS, "plugin"), nullptr);
    h = qxOpen("remote.dat", QX_OPEN_READ | QX_OPEN_ADAPTERS, "inbuilt|fakefs");
    EXPECT_NE(h, nullptr);
    qxClose(h);

    // Write modes as the adapter sees them; a refused open falls back to the native file.
    std::string path = at("local.txt");
    h = qxOpen(path.c_str(), QX_OPEN_WRITE | QX_OPEN_ADAPTERS, "fakefs|inbuilt");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(fake.lastMode, QX_ADAPTER_WRITE);
    EXPECT_EQ(qxFileAdapterOf(h), nullptr);
    qxClose(h);
}

TEST_F(FileAdapter, ChunkSourcesGoOnlyToAdaptersThatTakeThem)
{
    fake.files["pic.png"] = "PNGDATA";
    char name[256];
    ASSERT_EQ(qxMakeChunkName("pic.png", name, sizeof name, 10, 7, 0, "/apps/x.qxa"), 1);
    EXPECT_EQ(qxOpen(name, QX_OPEN_READ | QX_OPEN_ADAPTERS, nullptr), nullptr); // no memory sources
    EXPECT_EQ(fake.opens, 0);

    node.userFlags = QX_ADAPTER_MEMORYSOURCES;
    qxFileHandle *h = qxOpen(name, QX_OPEN_READ | QX_OPEN_ADAPTERS, nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(fake.lastName, "pic.png"); // the inner name, not the chunk name
    ASSERT_EQ(fake.lastTags.size(), 4u);
    EXPECT_EQ(fake.lastTags[1].tag, QX_FTAG_CONTAINER);
    EXPECT_STREQ(reinterpret_cast<const char *>(fake.lastTags[1].data), "/apps/x.qxa");
    EXPECT_EQ(fake.lastTags[2].tag, QX_FTAG_OFFSET);
    EXPECT_EQ(fake.lastTags[2].data, 10u);
    EXPECT_EQ(fake.lastTags[3].tag, QX_FTAG_SIZE);
    EXPECT_EQ(fake.lastTags[3].data, 7u);
    qxClose(h);

    // A memory descriptor hands over its memory.
    static const char bytes[] = "0123456789";
    qxMemoryName d;
    qxMakeMemoryName(&d, bytes, 10);
    fake.files["Unnamed"] = "x";
    h = qxOpen(d.tag, QX_OPEN_READ | QX_OPEN_ADAPTERS, nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->memory, nullptr);
    ASSERT_EQ(fake.lastTags.size(), 3u);
    EXPECT_EQ(fake.lastTags[1].tag, QX_FTAG_MEMORY);
    EXPECT_EQ(fake.lastTags[1].data, reinterpret_cast<uintptr_t>(bytes));
    EXPECT_EQ(fake.lastTags[2].data, 10u);
    qxClose(h);
}

TEST_F(FileAdapter, NamesInFileSystemEncodingReachAdaptersAsLatin1)
{
    fake.files["caf\xe9.txt"] = "x";
    qxFileHandle *h = qxOpen("caf\xc3\xa9.txt", QX_OPEN_READ | QX_OPEN_ADAPTERS | QX_OPEN_NOCONVERT, nullptr);
    ASSERT_NE(h, nullptr);
    qxClose(h);
}

TEST_F(FileAdapter, UnseekableStreamsRefuseSeeksWithoutEmulation)
{
    fake.seekable = false;
    qxFileHandle *h = qxOpen("remote.dat", QX_OPEN_READ | QX_OPEN_ADAPTERS, nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(qxIsStreamHandle(h));
    EXPECT_EQ(qxGetOpenFlags(h), QX_STREAM_NOSEEK);
    EXPECT_EQ(qxSeek(h, 0, 0), 0);
    EXPECT_EQ(qxSeek(h, 10, 0), -1);
    EXPECT_EQ(qxSeek(h, 0, 1), -1);
    EXPECT_EQ(qxSeek(h, 10, 1), -1);
    EXPECT_EQ(qxSeek(h, 0, 2), -1);
    qxClose(h);
}

TEST_F(FileAdapter, EmulatedSeekReadsForwardAndRewindsBack)
{
    fake.seekable = false;
    std::vector<uint8_t> data = iota(20000);
    qxFileHandle *h = qxOpen("remote.dat", QX_OPEN_READ | QX_OPEN_ADAPTERS | QX_OPEN_EMULATESEEK, nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(qxSeek(h, 10000, 1), 0);
    EXPECT_EQ(qxGetC(h), data[10000]);
    EXPECT_EQ(qxSeek(h, 99, 0), 10001);
    EXPECT_EQ(qxGetC(h), data[10100]);
    EXPECT_EQ(qxSeek(h, -101, 0), 10101); // backwards: rewinds and reads again
    EXPECT_EQ(qxGetC(h), data[10000]);
    EXPECT_EQ(qxSeek(h, 5, 1), 10001);
    EXPECT_EQ(qxGetC(h), data[5]);
    int reads = static_cast<FakeStream *>(h->handle)->reads;
    EXPECT_EQ(qxSeek(h, 6, 1), 6); // already there: nothing read
    EXPECT_EQ(static_cast<FakeStream *>(h->handle)->reads, reads);
    EXPECT_EQ(qxSeek(h, 0, 2), -1);        // never from the end
    EXPECT_EQ(qxSeek(h, -100, 1), -1);     // before the start
    EXPECT_EQ(qxSeek(h, 30000, 1), -1);    // beyond the end
    qxClose(h);
}

TEST_F(FileAdapter, WholeStreamOfUnknownLengthIsRead)
{
    fake.seekable = false;
    void *buffer = nullptr;
    int64_t length = 0;
    ASSERT_EQ(qxReadWholeFile("remote.dat", nullptr, nullptr, &buffer, &length, 1, 1), 0);
    ASSERT_EQ(length, 20000);
    EXPECT_EQ(0, std::memcmp(buffer, iota(20000).data(), 20000));
    qxFree(buffer);

    std::string copy = at("copy.dat");
    ASSERT_EQ(qxCopyFile("remote.dat", nullptr, copy.c_str(), nullptr), 0);
    EXPECT_EQ(slurp(copy), fake.files["remote.dat"]);
}

TEST_F(FileAdapter, ExamineObjectAsksTheAdaptersFirst)
{
    qxFileInfo info;
    ASSERT_EQ(qxExamineObject("remote.dat", &info, 1), 1);
    EXPECT_EQ(info.size, 20000u);
    EXPECT_EQ(info.isDirectory, 0u);
    EXPECT_EQ(std::strlen(info.comment), 80u);
    expectDefaults(info);
    EXPECT_EQ(qxExamineObject("remote.dat", &info, 0), 0);

    qxDirHandle *d = qxOpenDir("remote.dat", QX_DIR_READLOCK | QX_DIR_ADAPTERS, nullptr);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->fileAdapter, &node);
    ASSERT_EQ(qxExamineDir(d, &info), 1);
    EXPECT_EQ(info.size, 20000u);
    int native = 1;
    EXPECT_EQ(qxCheckIsDir(d, &native), 1250);
    EXPECT_EQ(native, 0);
    qxCloseDir(d);
}

// ---- Whole files ----

class FileWhole : public TempDir {};

TEST_F(FileWhole, CopyAndReadNativeFiles)
{
    std::vector<uint8_t> data = iota(40000); // more than two blocks
    std::string src = at("src.bin"), dst = at("dst.bin");
    spit(src, std::string(data.begin(), data.end()));
    ASSERT_EQ(qxCopyFile(src.c_str(), nullptr, dst.c_str(), nullptr), 0);
    EXPECT_EQ(slurp(dst), slurp(src));

    void *buffer = nullptr;
    int64_t length = 0;
    ASSERT_EQ(qxReadWholeFile(src.c_str(), nullptr, nullptr, &buffer, &length, 0, 4), 0);
    ASSERT_EQ(length, 40000);
    EXPECT_EQ(0, std::memcmp(buffer, data.data(), 40000));
    static_cast<char *>(buffer)[40003] = 0; // the extra room is the caller's
    qxFree(buffer);

    // An open handle is rewound and left open.
    qxFileHandle *h = qxOpen(src.c_str(), QX_OPEN_READ, nullptr);
    ASSERT_NE(h, nullptr);
    qxSeek(h, 123, 1);
    ASSERT_EQ(qxReadWholeFile(nullptr, nullptr, h, &buffer, &length, 0, 0), 0);
    EXPECT_EQ(length, 40000);
    qxFree(buffer);
    std::string again = at("again.bin");
    ASSERT_EQ(qxCopyFile(nullptr, nullptr, again.c_str(), h), 0);
    EXPECT_EQ(slurp(again), slurp(src));
    qxClose(h);

    // Empty files.
    std::string empty = at("empty.bin");
    spit(empty, "");
    ASSERT_EQ(qxReadWholeFile(empty.c_str(), nullptr, nullptr, &buffer, &length, 0, 1), 0);
    EXPECT_EQ(length, 0);
    qxFree(buffer);
}

TEST_F(FileWhole, FailuresGiveTheirCodesAndNames)
{
    std::string missing = at("missing.bin");
    void *buffer = reinterpret_cast<void *>(1);
    int64_t length = 5;
    EXPECT_EQ(qxReadWholeFile(missing.c_str(), nullptr, nullptr, &buffer, &length, 0, 0), 1045);
    EXPECT_EQ(buffer, nullptr);
    char text[2048];
    qxFormatErrorCode(1045, text, sizeof text);
    EXPECT_NE(std::string(text).find("missing.bin"), std::string::npos);

    EXPECT_EQ(qxCopyFile(missing.c_str(), nullptr, at("x").c_str(), nullptr), 1045);
    std::string src = at("src.bin");
    spit(src, "data");
    std::string bad = (dir / "no" / "such" / "dir.bin").string();
    EXPECT_EQ(qxCopyFile(src.c_str(), nullptr, bad.c_str(), nullptr), 1052);
    qxFormatErrorCode(1052, text, sizeof text);
    EXPECT_NE(std::string(text).find("dir.bin"), std::string::npos);

    // A chunk that claims more than its container holds is a short read.
    char name[1024];
    ASSERT_EQ(qxMakeChunkName("x.bin", name, sizeof name, 2, 100, 0, src.c_str()), 1);
    EXPECT_EQ(qxReadWholeFile(name, nullptr, nullptr, &buffer, &length, 0, 0), 1009);
    EXPECT_EQ(qxCopyFile(name, nullptr, at("y").c_str(), nullptr), 1009);
}

// ---- Directories ----

class FileDirectory : public TempDir {};

TEST_F(FileDirectory, NativeDirectoriesListAndExamine)
{
    spit(at("one.txt"), "1");
    spit(at("two.txt"), "22");
    fs::create_directory(dir / "sub");
    qxDirHandle *d = qxOpenDir(dir.c_str(), QX_DIR_READLOCK | QX_DIR_ADAPTERS, nullptr);
    ASSERT_NE(d, nullptr);
    int native = 0;
    EXPECT_EQ(qxCheckIsDir(d, &native), 0);
    EXPECT_EQ(native, 1);
    std::map<std::string, int> seen;
    const char *name;
    int isDir;
    qxFileInfo info;
    while (qxReadDirEntry(d, nullptr, &name, &isDir, &info)) seen[name] = isDir;
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen["sub"], 1);
    EXPECT_EQ(seen["one.txt"], 0);
    EXPECT_EQ(qxRewindDir(d), 0);
    EXPECT_EQ(qxReadDirEntry(d, nullptr, &name, &isDir, &info), 1);
    char full[4096];
    ASSERT_EQ(qxGetDirName(d, full, sizeof full), 1);
    EXPECT_EQ(fs::path(full), fs::canonical(dir));
    ASSERT_EQ(qxExamineDir(d, &info), 1);
    EXPECT_EQ(info.isDirectory, 1u);
    EXPECT_EQ(qxDirAdapterOf(d), nullptr);
    qxCloseDir(d);

    d = qxOpenDir(at("two.txt").c_str(), QX_DIR_READLOCK, nullptr);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(qxCheckIsDir(d, &native), 1250);
    ASSERT_EQ(qxExamineDir(d, &info), 1);
    EXPECT_EQ(info.size, 2u);
    qxCloseDir(d);

    ASSERT_EQ(qxExamineObject(at("two.txt").c_str(), &info, 1), 1);
    EXPECT_EQ(info.size, 2u);
    EXPECT_EQ(qxExamineObject(at("none").c_str(), &info, 1), 0);
    EXPECT_EQ(qxOpenDir(at("none").c_str(), QX_DIR_READLOCK, nullptr), nullptr);
    EXPECT_EQ(qxOpenDir(dir.c_str(), QX_DIR_READLOCK, "plugin"), nullptr);

    testing::internal::CaptureStdout();
    EXPECT_EQ(qxOpenDir(dir.c_str(), QX_DIR_WRITELOCK, nullptr), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "QXOS_LOCK_WRITE unsupported.\n");
}

TEST_F(FileDirectory, ChunkNamesAreFiles)
{
    qxDirHandle *d = qxOpenDir(":::chunk10:77*a/b.png?/apps/demo.qxa", QX_DIR_READLOCK | QX_DIR_ADAPTERS, nullptr);
    ASSERT_NE(d, nullptr);
    qxFileInfo info;
    ASSERT_EQ(qxExamineDir(d, &info), 1);
    EXPECT_EQ(info.size, 77u);
    EXPECT_EQ(info.isDirectory, 0u);
    int native = 1;
    EXPECT_EQ(qxCheckIsDir(d, &native), 1250);
    EXPECT_EQ(qxRewindDir(d), 1626);
    const char *name;
    int isDir;
    EXPECT_EQ(qxReadDirEntry(d, nullptr, &name, &isDir, &info), 0);
    char full[4096], cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(qxGetDirName(d, full, sizeof full), 1);
    EXPECT_EQ(std::string(full), std::string(cwd) + "/demo.qxa");
    qxCloseDir(d);
    EXPECT_EQ(qxOpenDir(":::chunk10:77*broken", QX_DIR_READLOCK, nullptr), nullptr);
    ASSERT_EQ(qxExamineObject(":::chunk10:77*a/b.png?/apps/demo.qxa", &info, 0), 1);
    EXPECT_EQ(info.size, 77u);
}

// A directory adapter without a rewind entry.
struct FakeDir {
    int next = 0;
};
void *fakeOpenDir(const char *name, uint32_t) { return std::strcmp(name, "remote:") == 0 ? new FakeDir : nullptr; }
void fakeCloseDir(void *h) { delete static_cast<FakeDir *>(h); }
int fakeNextDirEntry(void *h, const char **name, int *isDir, qxAdapterFileInfo *)
{
    static std::string longName(3000, 'n');
    auto *d = static_cast<FakeDir *>(h);
    if (d->next >= 2) return 0;
    *name = d->next++ == 0 ? "first" : longName.c_str();
    *isDir = d->next == 2;
    return 1;
}
const qxFileAdapterFuncs kFakeDirFuncs = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                          nullptr, nullptr, nullptr, nullptr, fakeOpenDir, fakeCloseDir,
                                          fakeNextDirEntry, nullptr};

TEST_F(FileDirectory, DirectoryAdapters)
{
    int plugin = 0;
    qxAdapterNode node = {nullptr, &plugin, "fakedir", 0, 0, &kFakeDirFuncs};
    qxDirAdapters = &node;
    EXPECT_EQ(qxOpenDir("remote:", QX_DIR_READLOCK, nullptr), nullptr); // adapters not allowed
    qxDirHandle *d = qxOpenDir("remote:", QX_DIR_READLOCK | QX_DIR_ADAPTERS, nullptr);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(qxDirAdapterOf(d), &plugin);
    EXPECT_EQ(qxCheckIsDir(d, nullptr), 0);
    const char *name;
    int isDir;
    qxFileInfo info;
    ASSERT_EQ(qxReadDirEntry(d, nullptr, &name, &isDir, &info), 1);
    EXPECT_STREQ(name, "first");
    expectDefaults(info);
    ASSERT_EQ(qxReadDirEntry(d, nullptr, &name, &isDir, &info), 1);
    EXPECT_EQ(std::strlen(name), 1023u);
    EXPECT_EQ(isDir, 1);
    EXPECT_EQ(qxReadDirEntry(d, nullptr, &name, &isDir, &info), 0);
    EXPECT_EQ(qxRewindDir(d), 1625);
    char full[64];
    ASSERT_EQ(qxGetDirName(d, full, sizeof full), 1);
    EXPECT_STREQ(full, "remote:");
    qxCloseDir(d);
    qxDirAdapters = nullptr;
}

// ---- Console and small records ----

TEST(FileConsole, PrintsInTheTextModeAndKeepsPercentSigns)
{
    testing::internal::CaptureStdout();
    qxPrintF("%d-%s", 5, "x");
    qxSetTextModeUtf8(0);
    qxPrintF("caf\xe9");
    qxSetTextModeUtf8(1);
    qxDebugPrintLine("Loading brush %s", ":::chunk1:2*dir/pic.png?/x", 1);
    qxPrintDone();
    qxDebugPrintLine("100% %s %d %%", nullptr, 0);
    qxDebugPrintLine("at %s, 100%% %d", "a/b/file", 0);
    std::string big(3000, 'z');
    qxPrintF("%s", big.c_str());
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "5-xcaf\xc3\xa9Loading brush pic.png...done\n100% %s %d %%\nat file, 100% %d\n" + big);

    qxSetTag(QX_TAG_QUIET, 1);
    testing::internal::CaptureStdout();
    qxDebugPrintLine("Loading %s", "f", 1);
    qxPrintDone();
    qxPrintFailed();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    qxSetTag(QX_TAG_QUIET, 0);
}

TEST(FileRecords, LowestBitAndAbsolutePaths)
{
    EXPECT_EQ(qxLowestBit(0), -1);
    EXPECT_EQ(qxLowestBit(1), 0);
    EXPECT_EQ(qxLowestBit(0x4000), 14);
    EXPECT_EQ(qxLowestBit(0x80000000u), 31);
    EXPECT_EQ(qxLowestBit(0x8080), 7);
    EXPECT_TRUE(qxIsAbsolutePath("/x"));
    EXPECT_FALSE(qxIsAbsolutePath("x/y"));
    EXPECT_FALSE(qxIsAbsolutePath(nullptr));
}

} // namespace
