// The plug-in loader, discovery, activation and host table, driven with the
// C plug-ins of the kit (built as QX_KIT_DIR/<name>.qxp).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/commands/qx_commands.h"
#include "core/errors/qx_errors.h"
#include "core/files/qx_file.h"
#include "draw/fonts/qx_font.h"
#include "core/plugins/qx_hosttable.h"
#include "core/runtime/qx_options.h"
#include "core/plugins/qx_plugins.h"
#include "core/applet/qx_preproc.h"
#include "core/runtime/qx_startup.h"
#include "core/vm/lauxlib.h"
#include "core/vm/ldo.h"
#include "display/qx_picturesave.h"
#include "main/qx_globals.h"
#include "main/qx_hosttable.h"
#include "platform/qx_locale.h"
#include "platform/qx_memory.h"
#include "platform/qx_paths.h"

namespace fs = std::filesystem;

namespace {

std::string kit(const char *file) { return std::string(QX_KIT_DIR) + "/" + file; }

std::string errorText(int code)
{
    char buffer[1024];
    qxFormatErrorCode(code, buffer, sizeof buffer);
    return buffer;
}

struct PluginTest : ::testing::Test {
    lua_State *L = nullptr;
    fs::path dir;

    void SetUp() override
    {
        L = lua_open();
        ASSERT_NE(L, nullptr);
        dir = fs::temp_directory_path() / ("qxplug." + std::to_string(getpid()) + "." +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        qxSetTag(QX_TAG_QUIET, 1);
        qxLinkLayers();
    }
    void TearDown() override
    {
        qxFreeLibraryPlugins(L);
        lua_close(L);
        qxUnloadPlugins();
        qxSetErrorString(nullptr);
        fs::remove_all(dir);
    }

    // Calls the global function name with numeric arguments; the results stay on the stack.
    int call(const char *name, std::initializer_list<double> args, int results)
    {
        lua_pushstring(L, name);
        lua_gettable(L, LUA_GLOBALSINDEX);
        for (double a : args) lua_pushnumber(L, a);
        return lua_pcall(L, int(args.size()), results, 0);
    }

    int open(const char *file, qxPluginHandle **h)
    {
        uint32_t caps = 0;
        return qxOpenPluginLibrary(kit(file).c_str(), &caps, h);
    }

    double constant(const char *name)
    {
        const char *str = nullptr;
        lua_Number num = -1;
        EXPECT_TRUE(luaL_getconstant(L, name, &str, &num)) << name;
        return num;
    }
};

// ---- Loader checks and their error codes ----

TEST_F(PluginTest, LoaderRefusesBadPluginsWithTheirCodes)
{
    struct Case {
        const char *file;
        int code;
        const char *text;
    } cases[] = {
        {"kitnewer.qxp", ERR_NEWQXPLUGIN, "8.1"},
        {"kitnine.qxp", ERR_NEWQXPLUGIN, "9.0"},
        {"kitnoinit.qxp", ERR_LOADPLUGIN, "kitnoinit.qxp"},
        {"kitinitfails.qxp", ERR_LOADPLUGIN, "kitinitfails.qxp"},
        {"kitnosym.qxp", ERR_PLUGINSYMBOL, "GetConstants"},
        {"native.qxp", ERR_LOADPLUGIN, "native.qxp"},
        {"kitmismatch.qxp", ERR_LOADPLUGIN, "kitmismatch.qxp"},
        {"kitunknown.qxp", ERR_PLUGINTYPE, "80000000"},
        {"kitabi.qxp", ERR_LOADPLUGIN, "kitabi.qxp"},
        {"kitmainloop.qxp", ERR_PLUGINSYMBOL, "AdapterMainLoop"},
        {"missing.qxp", ERR_DLOPEN, "missing.qxp"},
    };
    for (const Case &c : cases) {
        qxPluginHandle *h = reinterpret_cast<qxPluginHandle *>(1);
        EXPECT_EQ(open(c.file, &h), c.code) << c.file;
        EXPECT_EQ(h, nullptr);
        std::string message = errorText(c.code);
        EXPECT_NE(message.find(c.text), std::string::npos) << c.file << ": " << message;
    }
}

// The test keeps its own reference to a kit library so that the plug-in's
// counters outlive the loader's dlclose.
struct KitCounters {
    void *library;
    int *close, *freeLibrary;
    explicit KitCounters(const char *file)
    {
        library = dlopen(kit(file).c_str(), RTLD_NOW | RTLD_LOCAL);
        close = library ? static_cast<int *>(dlsym(library, "KitClosePluginCalls")) : nullptr;
        freeLibrary = library ? static_cast<int *>(dlsym(library, "KitFreeLibraryCalls")) : nullptr;
    }
    ~KitCounters()
    {
        if (library) dlclose(library);
    }
};

TEST_F(PluginTest, ClosePluginRunsOnlyAfterASuccessfulInitPlugin)
{
    // Refused after InitPlugin succeeded: ClosePlugin runs once.
    for (const char *file : {"kitnewer.qxp", "native.qxp", "kitnosym.qxp", "kitunknown.qxp"}) {
        KitCounters kitc(file);
        ASSERT_NE(kitc.close, nullptr) << file;
        qxPluginHandle *h = nullptr;
        EXPECT_NE(open(file, &h), 0);
        EXPECT_EQ(*kitc.close, 1) << file;
    }
    // InitPlugin failed: no ClosePlugin.
    KitCounters failed("kitinitfails.qxp");
    ASSERT_NE(failed.close, nullptr);
    qxPluginHandle *h = nullptr;
    EXPECT_EQ(open("kitinitfails.qxp", &h), ERR_LOADPLUGIN);
    EXPECT_EQ(*failed.close, 0);
}

TEST_F(PluginTest, FreeLibraryBeforeTheVmClosesAndClosePluginAtUnload)
{
    KitCounters kitc("kitlib.qxp");
    ASSERT_NE(kitc.close, nullptr);
    qxPluginNode *node = nullptr;
    ASSERT_EQ(qxLoadPluginFile(kit("kitlib.qxp").c_str(), 0, &node), 0);
    ASSERT_EQ(qxActivatePlugin(L, node), 0);
    qxFreeLibraryPlugins(L);
    EXPECT_EQ(*kitc.freeLibrary, 1);
    EXPECT_EQ(*kitc.close, 0);
    qxFreeLibraryPlugins(L); // once only
    EXPECT_EQ(*kitc.freeLibrary, 1);
    auto pluginLibraries = [] {
        int n = 0;
        for (const qxLibraryEntry *e = qxLibraryNames; e; e = e->next) n += std::strcmp(e->name, "plugin") == 0;
        return n;
    };
    EXPECT_EQ(pluginLibraries(), 1);
    qxUnloadPlugins();
    EXPECT_EQ(*kitc.close, 1);
    EXPECT_EQ(qxPluginList, nullptr);
    // The library list no longer points into the unloaded object.
    EXPECT_EQ(pluginLibraries(), 0);
}

TEST_F(PluginTest, DisplayAdapterWithoutMainLoopExtensionLoads)
{
    qxPluginHandle *h = nullptr;
    ASSERT_EQ(open("kitdisplay.qxp", &h), 0);
    EXPECT_EQ(h->info->entry[QX_EP_AdapterMainLoop], nullptr);
    for (int slot = QX_EP_HandleEvents; slot <= QX_EP_GetBitMapAttr; slot++) {
        if (slot != QX_EP_AdapterMainLoop) {
            EXPECT_NE(h->info->entry[slot], nullptr) << slot;
        }
    }
    EXPECT_NE(h->info->entry[QX_EP_GetExtensions], nullptr);
    // Entry points of capabilities the plug-in does not declare stay empty.
    EXPECT_EQ(h->info->entry[QX_EP_GetCommands], nullptr);
    qxClosePluginLibrary(h);
}

TEST_F(PluginTest, InfoRecordLayoutAgreesWithTheCCompiler)
{
    qxPluginHandle *h = nullptr;
    ASSERT_EQ(open("kitlib.qxp", &h), 0);
    auto layout = reinterpret_cast<size_t (*)(int)>(dlsym(h->library, "KitInfoLayout"));
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout(0), sizeof(qxPluginInfo));
    EXPECT_EQ(layout(1), offsetof(qxPluginInfo, abiKind));
    EXPECT_EQ(layout(2), offsetof(qxPluginInfo, extensionFlags));
    EXPECT_EQ(layout(3), offsetof(qxPluginInfo, entry));
    // The fields in their fixed order.
    EXPECT_EQ(offsetof(qxPluginInfo, version), 4u);
    EXPECT_EQ(offsetof(qxPluginInfo, revision), 8u);
    EXPECT_EQ(offsetof(qxPluginInfo, name), 16u);
    EXPECT_LT(offsetof(qxPluginInfo, abiKind), offsetof(qxPluginInfo, disabled));
    EXPECT_LT(offsetof(qxPluginInfo, networkFlags), offsetof(qxPluginInfo, extensionFlags));
    EXPECT_EQ(offsetof(qxPluginInfo, explicitOnly), offsetof(qxPluginInfo, extensionFlags) + 32 * 4);
    EXPECT_EQ(offsetof(qxPluginInfo, selected) + 4, offsetof(qxPluginInfo, entry));
    EXPECT_EQ(sizeof(static_cast<qxPluginInfo *>(nullptr)->entry), 139 * sizeof(void *));
    EXPECT_EQ(offsetof(qxPluginHandle, library), 16u);
    qxClosePluginLibrary(h);
}

TEST_F(PluginTest, FileThatIsNoSharedObjectGives1520)
{
    fs::path bogus = dir / "bogus.qxp";
    std::ofstream(bogus) << "not a shared object\n";
    uint32_t caps = 0;
    qxPluginHandle *h = nullptr;
    EXPECT_EQ(qxOpenPluginLibrary(bogus.c_str(), &caps, &h), ERR_DLOPEN);
    EXPECT_NE(errorText(ERR_DLOPEN).find("bogus.qxp"), std::string::npos);
}

TEST_F(PluginTest, UnderscoreNameAndVersionEightLoad)
{
    qxPluginHandle *h = nullptr;
    ASSERT_EQ(open("_kitunder.qxp", &h), 0);
    EXPECT_STREQ(h->info->name, "kitunder");
    EXPECT_EQ(h->capabilities, QX_CAP_LIBRARY | QX_CAP_REQUIRE);
    EXPECT_NE(h->info->entry[QX_EP_GetCommands], nullptr);
    EXPECT_NE(h->info->entry[QX_EP_RequirePlugin], nullptr);
    // Optional members are looked up only when the extension flags ask.
    EXPECT_EQ(h->info->entry[QX_EP_GetLibraryCount], nullptr);
    qxClosePluginLibrary(h);
}

// ---- The host table ----

TEST_F(PluginTest, HostTableFrameAndSlotCounts)
{
    EXPECT_EQ(qxPluginBaseTable.version, 8u);
    EXPECT_EQ(qxPluginBaseTable.reserved, 0u);
    // The frame: two words, then sixteen pointers in order.
    EXPECT_EQ(offsetof(qxPluginBase, runtime), 8u);
    EXPECT_EQ(sizeof(qxPluginBase), 8u + 16 * sizeof(void *));
    const void *const order[16] = {qxHostRuntime,  qxHostSystem,    qxHostDos,        qxHostGraphics,
                                   qxHostAudio,    qxHostRequesters, qxHostFontLookup, qxHostFreeType,
                                   qxHostVM,       &qxHostFonts,     qxHostZlib,       qxHostJpeg,
                                   qxHostPluginList, qxHostEncoding, qxHostUnicode,    qxHostLocale};
    auto *slots = reinterpret_cast<const void *const *>(&qxPluginBaseTable.runtime);
    for (int i = 0; i < 16; i++) EXPECT_EQ(slots[i], order[i]) << "sub-table " << i;

    // Every function slot of every sub-table is filled.
    struct Table {
        const qxHostFunc *slots;
        size_t count, expected;
    } tables[] = {
        {qxHostRuntime, std::size(qxHostRuntime), 58},      {qxHostSystem, std::size(qxHostSystem), 55},
        {qxHostDos, std::size(qxHostDos), 36},              {qxHostGraphics, std::size(qxHostGraphics), 36},
        {qxHostAudio, std::size(qxHostAudio), 3},           {qxHostRequesters, std::size(qxHostRequesters), 4},
        {qxHostFontLookup, std::size(qxHostFontLookup), 1}, {qxHostFreeType, std::size(qxHostFreeType), 38},
        {qxHostVM, std::size(qxHostVM), 78},                {qxHostZlib, std::size(qxHostZlib), 13},
        {qxHostJpeg, std::size(qxHostJpeg), 25},            {qxHostPluginList, std::size(qxHostPluginList), 5},
        {qxHostEncoding, std::size(qxHostEncoding), 4},     {qxHostUnicode, std::size(qxHostUnicode), 21},
        {qxHostLocale, std::size(qxHostLocale), 3},
    };
    for (const Table &t : tables) {
        EXPECT_EQ(t.count, t.expected);
        for (size_t i = 0; i < t.count; i++) EXPECT_NE(t.slots[i], nullptr) << t.expected << "/" << i;
    }
    // Spot checks of slot positions.
    EXPECT_EQ(reinterpret_cast<void *>(qxHostVM[0]), reinterpret_cast<void *>(lua_gettop));
    EXPECT_EQ(reinterpret_cast<void *>(qxHostVM[77]), reinterpret_cast<void *>(lua_setgcthreshold));
    EXPECT_EQ(reinterpret_cast<void *>(qxHostZlib[12]), reinterpret_cast<void *>(crc32));
    EXPECT_EQ(reinterpret_cast<void *>(qxHostSystem[2]), reinterpret_cast<void *>(qxSetErrorString));
    // Services that are not there yet answer with failure results.
    // Installing a display adapter without a plug-in is a usage error.
    EXPECT_EQ(reinterpret_cast<int (*)(void *, uint32_t, void *)>(qxHostGraphics[13])(nullptr, 0, nullptr),
              ERR_WRONGUSAGE);
    EXPECT_EQ(reinterpret_cast<intptr_t (*)(void *, void *)>(qxHostGraphics[18])(nullptr, nullptr), -1);
}

TEST_F(PluginTest, PluginCallsBackThroughTheHostTable)
{
    qxPluginHandle *h = nullptr;
    ASSERT_EQ(open("kitlib.qxp", &h), 0);
    qxPluginNode node = {};
    node.handle = h;
    qxPluginList = &node; // the plug-in list slot must find it
    fs::path data = dir / "data.txt";
    std::ofstream(data) << "hello from the host";
    using SelfTest = int (*)(const char *, const char *, char *);
    auto selfTest = reinterpret_cast<SelfTest>(dlsym(h->library, "KitSelfTest"));
    ASSERT_NE(selfTest, nullptr);
    char md5[33] = "";
    EXPECT_EQ(selfTest(data.c_str(), "hello from the host", md5), 0);
    // The MD5 slot against Python's hashlib.
    FILE *p = popen("python3 -c \"import hashlib; print(hashlib.md5(b'abc').hexdigest())\"", "r");
    ASSERT_NE(p, nullptr);
    char want[64] = "";
    ASSERT_NE(fgets(want, sizeof want, p), nullptr);
    pclose(p);
    want[32] = 0;
    EXPECT_STREQ(md5, want);
    // The record the plug-in registered is kept with its texts.
    ASSERT_NE(h->info->records, nullptr);
    EXPECT_EQ(h->info->records->type, 3u);
    EXPECT_STREQ(h->info->records->text[0], "one");
    EXPECT_EQ(h->info->records->text[1], nullptr);
    EXPECT_STREQ(h->info->records->text[2], "three");
    EXPECT_EQ(h->info->records->value, 5u);
    qxPluginList = nullptr;
    while (qxPluginRecordNode *r = h->info->records) {
        h->info->records = r->next;
        qxFree(r);
    }
    qxClosePluginLibrary(h);
}

TEST_F(PluginTest, PluginWorksTheVmAndTheLibrariesThroughTheTable)
{
    qxPluginHandle *h = nullptr;
    ASSERT_EQ(open("kitlibs.qxp", &h), 0);
    auto vmTest = reinterpret_cast<int (*)(lua_State *)>(dlsym(h->library, "KitVmTest"));
    auto ftTest = reinterpret_cast<int (*)()>(dlsym(h->library, "KitFreeTypeTest"));
    auto jpegTest = reinterpret_cast<int (*)()>(dlsym(h->library, "KitJpegTest"));
    ASSERT_TRUE(vmTest && ftTest && jpegTest);
    lua_pushnumber(L, 1);
    EXPECT_EQ(vmTest(L), 0);
    EXPECT_EQ(lua_gettop(L), 1);
    lua_settop(L, 0);
    EXPECT_EQ(ftTest(), 0);
    EXPECT_EQ(jpegTest(), 0);
    auto locale = reinterpret_cast<void (*)(uint32_t *, uint32_t *, int *, int *)>(dlsym(h->library, "KitLocale"));
    ASSERT_NE(locale, nullptr);
    uint32_t language = 0, country = 0;
    int zone = 0, daylight = -1, ownDaylight = -1;
    locale(&language, &country, &zone, &daylight);
    EXPECT_EQ(language, qxGetLanguage());
    EXPECT_EQ(country, qxGetLocaleCountry());
    EXPECT_EQ(zone, qxGetTimeZone(&ownDaylight));
    EXPECT_EQ(daylight, ownDaylight);
    qxClosePluginLibrary(h);
}

TEST(HostTable, BuiltInFontsAndFontLookup)
{
    // Sub-table 9: the stored Vera Sans, Sans Mono and Serif and their sizes.
    EXPECT_EQ(offsetof(qxHostFontData, size), 3 * sizeof(void *));
    const uint32_t fontSizes[3] = {65932, 49224, 60280};
    for (int i = 0; i < 3; i++) {
        ASSERT_NE(qxHostFonts.font[i], nullptr);
        EXPECT_EQ(qxHostFonts.size[i], fontSizes[i]);
        EXPECT_EQ(memcmp(static_cast<const char *>(qxHostFonts.font[i]) + 12, "OS/2", 4) == 0 ||
                      memcmp(static_cast<const char *>(qxHostFonts.font[i]), "\0\1\0\0", 4) == 0,
                  true);
    }
    // Font lookup: the font database by full name (weight ~0) or by family.
    using Lookup = const char *(*)(const char *, uint32_t, uint32_t, uint32_t, uint32_t *, uint32_t *, uint32_t *);
    EXPECT_EQ(reinterpret_cast<Lookup>(qxHostFontLookup[0])("Sans", 0, 0, 0, nullptr, nullptr, nullptr), nullptr);
    uint32_t fontOffset = 1, fontSize = 1, fontTemporary = 1;
    ASSERT_EQ(qxAddFontPath("/usr/share/fonts/truetype/ttf-bitstream-vera"), 0);
    const char *vera = reinterpret_cast<Lookup>(qxHostFontLookup[0])("Bitstream Vera Sans Bold", ~0u, 0, 0,
                                                                      &fontOffset, &fontSize, &fontTemporary);
    ASSERT_NE(vera, nullptr);
    EXPECT_NE(strstr(vera, "VeraBd.ttf"), nullptr);
    EXPECT_EQ(fontOffset + fontSize + fontTemporary, 0u);
    qxClearFontPaths();
}

// ---- Call wrappers (system slots 21 to 26) ----

int plainHandler(lua_State *L)
{
    lua_pushstring(L, "plain");
    return 1;
}

int failingHandler(lua_State *L) { luaG_raisecode(L, ERR_WRONGUSAGE); }

int claimA(qxCallWrapper *, lua_State *L, lua_CFunction, void *, qxCallWrapper *)
{
    lua_pushstring(L, "A");
    return 1;
}

int claimB(qxCallWrapper *, lua_State *L, lua_CFunction, void *user, qxCallWrapper *)
{
    lua_pushstring(L, static_cast<const char *>(user));
    return 1;
}

int claimByRaising(qxCallWrapper *, lua_State *L, lua_CFunction, void *, qxCallWrapper *)
{
    luaG_raisecode(L, ERR_FINDPLUGIN);
}

int wrapperErrors, lastWrapperError;
void countError(qxCallWrapper *, lua_State *, int code, void *, qxCallWrapper *)
{
    wrapperErrors++;
    lastWrapperError = code;
}

TEST_F(PluginTest, CallWrappersClaimWatchedHandlersInOrder)
{
    using New = qxCallWrapper *(*)(void *, void *, qxWrapperCallback, qxWrapperErrorCallback, void *);
    using Free = void (*)(qxCallWrapper *);
    using Watch = int (*)(qxCallWrapper *, lua_CFunction);
    using SetError = void (*)(qxCallWrapper *, qxWrapperErrorCallback);
    using GetError = qxWrapperErrorCallback (*)(qxCallWrapper *);
    using Disable = void (*)(qxCallWrapper *, uint32_t);
    auto newWrapper = reinterpret_cast<New>(qxHostSystem[21]);
    auto freeWrapper = reinterpret_cast<Free>(qxHostSystem[22]);
    auto watch = reinterpret_cast<Watch>(qxHostSystem[23]);
    auto disable = reinterpret_cast<Disable>(qxHostSystem[26]);
    lua_register(L, "wrapped", plainHandler);
    lua_register(L, "failing", failingHandler);
    auto result = [&](const char *fn) {
        lua_pushstring(L, fn);
        lua_gettable(L, LUA_GLOBALSINDEX);
        int e = lua_pcall(L, 0, 1, 0);
        std::string r = e ? std::to_string(e) : lua_tostring(L, -1);
        lua_settop(L, 0);
        return r;
    };
    EXPECT_EQ(result("wrapped"), "plain");

    qxCallWrapper *a = newWrapper(nullptr, nullptr, claimA, nullptr, nullptr);
    qxCallWrapper *b = newWrapper(nullptr, nullptr, claimB, nullptr, const_cast<char *>("B"));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(watch(a, plainHandler), 1);
    EXPECT_EQ(watch(a, plainHandler), 1); // already watched: kept once
    EXPECT_EQ(a->watched->next, nullptr);
    EXPECT_EQ(watch(b, plainHandler), 1);
    EXPECT_EQ(result("wrapped"), "A"); // only the first
    disable(a, 1);
    EXPECT_EQ(result("wrapped"), "B");
    freeWrapper(b);
    EXPECT_EQ(result("wrapped"), "plain");
    freeWrapper(a);

    // An error thrown while a wrapper is current reaches its error callback,
    // and only then.
    wrapperErrors = 0;
    qxCallWrapper *c = newWrapper(nullptr, nullptr, claimByRaising, nullptr, nullptr);
    reinterpret_cast<SetError>(qxHostSystem[24])(c, countError);
    EXPECT_EQ(reinterpret_cast<GetError>(qxHostSystem[25])(c), countError);
    watch(c, plainHandler);
    EXPECT_EQ(result("wrapped"), std::to_string(ERR_FINDPLUGIN));
    EXPECT_EQ(wrapperErrors, 1);
    EXPECT_EQ(lastWrapperError, ERR_FINDPLUGIN);
    EXPECT_EQ(qxCurrentWrapper, nullptr);
    EXPECT_EQ(result("failing"), std::to_string(ERR_WRONGUSAGE));
    EXPECT_EQ(wrapperErrors, 1);
    // Left to the unload.
    qxUnloadPlugins();
    EXPECT_EQ(qxCallWrappers, nullptr);
}

TEST_F(PluginTest, RuntimeAndDosSlotsGuardNullRecords)
{
    using Stat = int (*)(const char *, qxHostStat *);
    EXPECT_EQ(reinterpret_cast<Stat>(qxHostRuntime[44])("/", nullptr), -1);
    qxHostStat st = {};
    EXPECT_EQ(reinterpret_cast<Stat>(qxHostRuntime[44])("/", &st), 0);
    EXPECT_TRUE(st.flags & 0x20000);
    using Strftime = size_t (*)(char *, size_t, const char *, const qxHostDate *);
    char buffer[32];
    EXPECT_EQ(reinterpret_cast<Strftime>(qxHostRuntime[37])(buffer, sizeof buffer, "%Y", nullptr), 0u);
    EXPECT_EQ(reinterpret_cast<char *(*)(const qxHostDate *)>(qxHostRuntime[34])(nullptr), nullptr);
    // localtime, then gmtime, leaves the first record; a second localtime overwrites it.
    using Time = qxHostDate *(*)(const time_t *);
    time_t a = 0, b = 86400 * 40;
    qxHostDate *first = reinterpret_cast<Time>(qxHostRuntime[32])(&a);
    int year = first->year, mday = first->mday;
    reinterpret_cast<Time>(qxHostRuntime[33])(&b);
    EXPECT_EQ(first->year, year);
    EXPECT_EQ(first->mday, mday);
    reinterpret_cast<Time>(qxHostRuntime[32])(&b);
    EXPECT_NE(first->mday, mday);
    // System slot 0: tags 35 and 36 give one handled tag.
    uint32_t rate = 0;
    qxHostTag tags[] = {{35, reinterpret_cast<uintptr_t>(&rate)}, {36, 0}, {0, 0}};
    EXPECT_EQ(reinterpret_cast<int (*)(qxHostTag *)>(qxHostSystem[0])(tags), 1);
    EXPECT_EQ(rate, 60u);
    // System slot 51: case-sensitive unless flag 1.
    using Cmp = int (*)(const char *, const char *, uint32_t);
    EXPECT_NE(reinterpret_cast<Cmp>(qxHostSystem[51])("abc", "ABC", 0), 0);
    EXPECT_EQ(reinterpret_cast<Cmp>(qxHostSystem[51])("abc", "ABC", 1), 0);
    // Dos slot 35: a temporary name that cannot be made is a failure and
    // leaves an empty text, whether the folder is missing or the buffer small.
    using TempName = int (*)(char *, size_t);
    char name[64] = "unwritten";
    ASSERT_TRUE(qxSetTempDirectory("/nonexistent/qx"));
    EXPECT_EQ(reinterpret_cast<TempName>(qxHostDos[35])(name, sizeof name), 0);
    EXPECT_STREQ(name, "");
    qxSetTempDirectory(nullptr);
    std::strcpy(name, "unwritten");
    EXPECT_EQ(reinterpret_cast<TempName>(qxHostDos[35])(name, 8), 0);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(reinterpret_cast<TempName>(qxHostDos[35])(name, sizeof name), 1);
    EXPECT_EQ(std::string(name).rfind("/tmp/zephyrane.", 0), 0u) << name;
    unlink(name);
}

// ---- Activation ----

TEST_F(PluginTest, LibraryCommandsAndConstantsBecomeGlobals)
{
    qxPluginNode *node = nullptr;
    ASSERT_EQ(qxLoadPluginFile(kit("kitlib.qxp").c_str(), 0, &node), 0);
    ASSERT_EQ(qxActivatePlugin(L, node), 0);
    EXPECT_TRUE(node->handle->info->libraryInitialised);
    ASSERT_EQ(call("kitadd", {2, 40}, 1), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 42);
    lua_pop(L, 1);
    EXPECT_EQ(constant("KIT_ANSWER"), 42);
    // A second load of the same file is refused with 1003 and the node.
    qxPluginNode *again = nullptr;
    EXPECT_EQ(qxLoadPluginFile(kit("kitlib.qxp").c_str(), 0, &again), ERR_USERABORT);
    EXPECT_EQ(again, node);
}

TEST_F(PluginTest, BaseNamesMakeTablesOrMethodTables)
{
    qxPluginNode *ns = nullptr, *gui = nullptr;
    ASSERT_EQ(qxLoadPluginFile(kit("kitns.qxp").c_str(), 0, &ns), 0);
    ASSERT_EQ(qxLoadPluginFile(kit("kitgui.qxp").c_str(), 0, &gui), 0);
    ASSERT_EQ(qxActivatePlugin(L, ns), 0);
    ASSERT_EQ(qxActivatePlugin(L, gui), 0);
    lua_pushstring(L, "kitns");
    lua_gettable(L, LUA_GLOBALSINDEX);
    ASSERT_TRUE(lua_istable(L, -1));
    lua_pushstring(L, "kitadd");
    lua_gettable(L, -2);
    EXPECT_TRUE(lua_isfunction(L, -1));
    lua_settop(L, 0);
    // gui: makes methods of "kitgui.qxp.gui", not globals.
    luaL_getmetatable(L, "kitgui.qxp.gui");
    ASSERT_TRUE(lua_istable(L, -1));
    lua_pushstring(L, "kitadd");
    lua_rawget(L, -2);
    EXPECT_TRUE(lua_isfunction(L, -1));
    lua_pop(L, 1);
    lua_pushstring(L, "__index");
    lua_rawget(L, -2);
    EXPECT_TRUE(lua_rawequal(L, -1, -2));
    lua_settop(L, 0);
}

TEST_F(PluginTest, SaverFormatsBecomeConstants)
{
    qxPluginNode *node = nullptr;
    ASSERT_EQ(qxLoadPluginFile(kit("kitsaver.qxp").c_str(), 0, &node), 0);
    ASSERT_EQ(qxActivatePlugin(L, node), 0);
    EXPECT_EQ(constant("IMGFMT_XYZ"), 7);
    EXPECT_EQ(constant("IMGFMT_ABC"), 9);
    qxSaverFormat *f = node->handle->info->imageFormats;
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(f[0].name, "imgfmt_xyz");
    EXPECT_STREQ(f[1].name, "imgfmt_abc");
    EXPECT_EQ(f[2].name, nullptr);
}

TEST_F(PluginTest, ImageSaversGetArgbOrPensWithPalette)
{
    qxPluginNode *node = nullptr;
    ASSERT_EQ(qxLoadPluginFile(kit("kitsaver.qxp").c_str(), 0, &node), 0);
    ASSERT_EQ(qxActivatePlugin(L, node), 0);
    void *lib = node->handle->library;
    auto *saved = static_cast<qxImageSaveRecord *>(dlsym(lib, "KitSaved"));
    auto *first = static_cast<uint32_t *>(dlsym(lib, "KitSavedFirst"));
    ASSERT_TRUE(saved && first);
    // Three colours, the last one transparent.
    const uint32_t px[6] = {0x80112233, 0xFF445566, 0xFF445566, 0xFF778899, 0xFF778899, 0xFF778899};
    qxSaveOptions o{1, 70, 256, 0};
    ASSERT_EQ(qxSaveImageFormat(7, px, 3, 2, "out.xyz", 0x778899, &o), 0);
    EXPECT_EQ(saved->pixels, static_cast<const void *>(px));
    EXPECT_EQ(*first, 0x80112233u);
    EXPECT_EQ(saved->bytesPerRow, 12u);
    EXPECT_EQ(saved->flags, 1u); // alpha asked for and taken
    EXPECT_EQ(saved->palette, nullptr);
    EXPECT_EQ(saved->quality, 70);
    EXPECT_EQ(saved->format, 7u);
    ASSERT_EQ(qxSaveImageFormat(9, px, 3, 2, "out.abc", 0x778899, &o), 0);
    EXPECT_EQ(saved->width, 3u);
    EXPECT_EQ(saved->height, 2u);
    EXPECT_EQ(saved->bytesPerRow, 3u);
    EXPECT_EQ(saved->flags, 2u); // no alpha on the pen road
    EXPECT_EQ(saved->colours, 3u);
    EXPECT_EQ(saved->transparentPen, 2u); // the transparent colour comes last
    EXPECT_EQ(*first, 0u);
    EXPECT_EQ(qxSaveImageFormat(9, px, 3, 2, "out.abc", 0xFFFFFFFF, &o), 0);
    EXPECT_EQ(saved->flags, 0u);
    EXPECT_EQ(qxSaveImageFormat(7, px, 3, 2, "fail.xyz", 0xFFFFFFFF, &o), ERR_SAVEIMAGE);
    EXPECT_EQ(qxSaveImageFormat(11, px, 3, 2, "out.x", 0xFFFFFFFF, &o), ERR_UNKNOWNIMGOUT);
}

// ---- Discovery and requirements ----

struct ScanTest : PluginTest {
    void place(const char *file, const char *as = nullptr)
    {
        fs::copy_file(kit(file), dir / (as ? as : file), fs::copy_options::overwrite_existing);
    }
};

TEST_F(ScanTest, ScanLoadsListsAndSkips)
{
    place("kitlib.qxp");
    place("kitgui.qxp");
    place("_kitunder.qxp");
    place("kitnoinit.qxp"); // fails, the scan goes on
    std::ofstream(dir / "readme.txt") << "x";
    fs::create_directories(dir / "sub.qxp");
    int count = 0;
    ASSERT_EQ(qxScanPluginDir(dir.c_str(), nullptr, &count), 0);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(qxPluginList, nullptr);

    char *skip = qxSplitList("KITGUI");
    ASSERT_EQ(qxScanPluginDir(dir.c_str(), skip, nullptr), 0);
    qxFree(skip);
    int loaded = 0, listed = 0;
    for (qxPluginNode *n = qxPluginList; n; n = n->next) {
        (n->handle ? loaded : listed)++;
        if (!std::strcmp(n->name, "kitunder.qxp") || !std::strcmp(n->name, "kitgui.qxp")) {
            EXPECT_EQ(n->handle, nullptr);
        }
    }
    EXPECT_EQ(loaded, 1);
    EXPECT_EQ(listed, 2);
    // A requirement loads the listed plug-in; one of a missing plug-in fails with 1494.
    uint32_t flags = 0;
    EXPECT_EQ(qxLoadPlugin(L, "kitunder.qxp", 0, 0, 0, 0, 0, nullptr, &flags), 0);
    EXPECT_EQ(call("kitadd", {1, 1}, 1), 0);
    lua_pop(L, 1);
    EXPECT_EQ(qxLoadPlugin(L, "nothere", 0, 0, 0, 0, 0, nullptr, &flags), ERR_REQUIREPLUGIN);
    EXPECT_NE(errorText(ERR_REQUIREPLUGIN).find("nothere.qxp"), std::string::npos);
    EXPECT_EQ(qxLoadPlugin(L, "kitlib", 9, 1, 0, 0, 0, nullptr, &flags), ERR_REQUIREPLUGIN);
    EXPECT_NE(errorText(ERR_REQUIREPLUGIN).find("kitlib 9.1"), std::string::npos);
}

TEST_F(ScanTest, StarSkipsEverythingAndRequireCallsOnce)
{
    place("kitflags.qxp");
    char *skip = qxSplitList("*");
    ASSERT_EQ(qxScanPluginDir(dir.c_str(), skip, nullptr), 0);
    qxFree(skip);
    ASSERT_NE(qxPluginList, nullptr);
    EXPECT_EQ(qxPluginList->handle, nullptr);
    qxRequireTag tag = {};
    tag.name = const_cast<char *>("speed");
    tag.number = 3;
    uint32_t flags = 0;
    ASSERT_EQ(qxLoadPlugin(L, "KITFLAGS", 0, 0, 0, 0, 0, &tag, &flags), 0);
    EXPECT_EQ(flags, 5u);
    EXPECT_EQ(qxLoadPlugin(L, "kitflags", 0, 0, 0, 0, 0, nullptr, &flags), 0);
    ASSERT_EQ(call("kitrequired", {}, 3), 0);
    EXPECT_EQ(lua_tonumber(L, -3), 1);
    EXPECT_STREQ(lua_tostring(L, -2), "speed");
    EXPECT_EQ(lua_tonumber(L, -1), 3);
    lua_settop(L, 0);
}

TEST_F(ScanTest, LibraryOnRequestRegistersWhenRequired)
{
    place("kitondemand.qxp");
    ASSERT_EQ(qxScanPluginDir(dir.c_str(), nullptr, nullptr), 0);
    ASSERT_NE(qxPluginList, nullptr);
    ASSERT_EQ(qxActivatePlugin(L, qxPluginList), 0);
    lua_pushstring(L, "kitadd");
    lua_gettable(L, LUA_GLOBALSINDEX);
    EXPECT_TRUE(lua_isnil(L, -1));
    lua_pop(L, 1);
    uint32_t flags = 0;
    ASSERT_EQ(qxLoadPlugin(L, "kitondemand", 0, 0, 0, 0, 0, nullptr, &flags), 0);
    EXPECT_EQ(call("kitadd", {3, 4}, 1), 0);
    EXPECT_EQ(lua_tonumber(L, -1), 7);
    lua_pop(L, 1);
}

TEST_F(ScanTest, SameNameInTwoDirectoriesLoadsOnce)
{
    fs::create_directories(dir / "a");
    fs::create_directories(dir / "b");
    fs::copy_file(kit("kitlib.qxp"), dir / "a" / "kitlib.qxp");
    fs::copy_file(kit("kitlib.qxp"), dir / "b" / "kitlib.qxp");
    ASSERT_EQ(qxScanPluginDir((dir / "a").c_str(), nullptr, nullptr), 0);
    ASSERT_EQ(qxScanPluginDir((dir / "b").c_str(), nullptr, nullptr), 0);
    ASSERT_NE(qxPluginList, nullptr);
    EXPECT_EQ(qxPluginList->next, nullptr);
    EXPECT_NE(std::string(qxPluginList->path).find("/a/"), std::string::npos);
}

TEST_F(ScanTest, LoadersJoinTheirListUnlessTheyAskToBeSelected)
{
    place("kitimage.qxp");
    place("kitimagex.qxp");
    ASSERT_EQ(qxScanPluginDir(dir.c_str(), nullptr, nullptr), 0);
    auto listed = [](const char *name) {
        int n = 0;
        for (qxPluginListNode *p = *qxCapabilityList(QX_CAP_IMAGELOADER); p; p = p->next)
            n += std::strcmp(static_cast<qxPluginInfo *>(p->item)->name, name) == 0;
        return n;
    };
    EXPECT_EQ(listed("kitimage"), 1);
    EXPECT_EQ(listed("kitimagex"), 0); // extension bit 1: only when named
    EXPECT_EQ(qxCapabilityList(QX_CAP_LIBRARY), nullptr);
    // Naming it in a loader list selects it, once; other words are no names.
    qxSelectAdapters("native|KITIMAGEX|plugin", QX_CAP_IMAGELOADER);
    qxSelectAdapters("kitimagex", QX_CAP_IMAGELOADER);
    EXPECT_EQ(listed("kitimagex"), 1);
    qxPluginNode *x = qxPluginList->next;
    if (std::strcmp(x->handle->info->name, "kitimagex") != 0) x = qxPluginList;
    EXPECT_EQ(x->handle->info->selected, 1u);
    // A disabled plug-in is not selected; a capability it lacks adds nothing.
    qxPluginInfo *plain = (x == qxPluginList ? qxPluginList->next : qxPluginList)->handle->info;
    qxSetPluginDisabled(plain, 1);
    qxSelectAdapters("kitimage", QX_CAP_IMAGELOADER);
    EXPECT_EQ(plain->selected, 0u);
    qxSetPluginDisabled(plain, 0);
    qxSelectAdapters("kitimage", QX_CAP_ANIMLOADER);
    EXPECT_EQ(*qxCapabilityList(QX_CAP_ANIMLOADER), nullptr);
    EXPECT_EQ(plain->selected, 0u);
    qxSelectAdapters("kitimage", QX_CAP_IMAGELOADER);
    EXPECT_EQ(plain->selected, 1u);
    EXPECT_EQ(listed("kitimage"), 1);
    // Unloading empties the list.
    qxUnloadPlugins();
    EXPECT_EQ(*qxCapabilityList(QX_CAP_IMAGELOADER), nullptr);
}

TEST_F(ScanTest, ExtractedDirectoryFirstThenPluginsBesideTheProgram)
{
    for (const char *d : {"linked", "bin/Plugins"}) fs::create_directories(dir / d);
    fs::copy_file(kit("kitlib.qxp"), dir / "linked" / "kitlib.qxp");
    fs::copy_file(kit("kitlib.qxp"), dir / "bin" / "Plugins" / "kitlib.qxp");
    fs::copy_file(kit("kitns.qxp"), dir / "bin" / "Plugins" / "kitns.qxp");
    fs::copy_file(kit("kitgui.qxp"), dir / "bin" / "kitgui.qxp");
    qxStrCopyN(qxLinkedPluginDir, sizeof qxLinkedPluginDir, (dir / "linked").c_str());
    std::string program = (dir / "bin" / "zephyrane").string();
    int count = 0;
    EXPECT_EQ(qxScanPluginDirs(program.c_str(), nullptr, &count), 0);
    EXPECT_EQ(count, 3);
    ASSERT_EQ(qxScanPluginDirs(program.c_str(), nullptr, nullptr), 0);
    ASSERT_TRUE(qxPluginList && qxPluginList->next);
    EXPECT_STREQ(qxPluginList->name, "kitlib.qxp");
    EXPECT_NE(std::string(qxPluginList->path).find("/linked/"), std::string::npos);
    EXPECT_STREQ(qxPluginList->next->name, "kitns.qxp");
    EXPECT_EQ(qxPluginList->next->next, nullptr); // the program's own folder is not scanned
    qxUnloadPlugins();
    // A linked executable scans its own folder; a bare program name nothing more.
    qxLinked = 1;
    ASSERT_EQ(qxScanPluginDirs(program.c_str(), nullptr, nullptr), 0);
    ASSERT_TRUE(qxPluginList && qxPluginList->next);
    EXPECT_STREQ(qxPluginList->next->name, "kitgui.qxp");
    EXPECT_EQ(qxPluginList->next->next, nullptr);
    qxUnloadPlugins();
    qxLinked = 0;
    ASSERT_EQ(qxScanPluginDirs("zephyrane", nullptr, nullptr), 0);
    ASSERT_NE(qxPluginList, nullptr);
    EXPECT_EQ(qxPluginList->next, nullptr);
    qxLinkedPluginDir[0] = 0;
}

TEST(PluginLists, LoaderListsAdmitByName)
{
    EXPECT_TRUE(qxLoaderAllowed("", "kitlib", 0));
    EXPECT_TRUE(qxLoaderAllowed("default", "kitlib", 0));
    EXPECT_FALSE(qxLoaderAllowed("native|inbuilt", "kitlib", 1));
    EXPECT_TRUE(qxLoaderAllowed("native|inbuilt", "native", 0));
    EXPECT_TRUE(qxLoaderAllowed("kitlib", "kitlib", 0));
    EXPECT_FALSE(qxLoaderAllowed("kitlib", "other", 0));
    EXPECT_TRUE(qxLoaderAllowed("native|plugin", "other", 1));
    EXPECT_FALSE(qxLoaderListAdmits("default", "kitlib"));
    EXPECT_TRUE(qxLoaderListAdmits("kitlib|native", "kitlib"));
}

} // namespace
