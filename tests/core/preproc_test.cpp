// Preparing the main chunk and creating the declared objects: recording
// commands stand in for the libraries that own the real ones and show what
// start-up hands them.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "applet_helpers.h"
#include "core/applet/qx_preproc.h"
#include "core/commands/qx_cmdcall.h"
#include "core/files/qx_file.h"
#include "core/errors/qx_errors.h"
#include "core/vm/qx_vmregs.h"

using namespace applettest;

namespace {

std::vector<std::string> calls;
int failWith;

std::string describe(lua_State *L, int idx, int depth = 0)
{
    if (idx < 0) idx = lua_gettop(L) + idx + 1;
    char buf[64];
    switch (lua_type(L, idx)) {
    case LUA_TNUMBER:
        std::snprintf(buf, sizeof buf, "%.10g", lua_tonumber(L, idx));
        return buf;
    case LUA_TSTRING: return std::string("\"") + lua_tostring(L, idx) + "\"";
    case LUA_TLIGHTUSERDATA: return lua_touserdata(L, idx) ? "ptr" : "null";
    case LUA_TTABLE: {
        if (depth > 8) return "{...}";
        std::map<std::string, std::string> items;
        lua_pushnil(L);
        while (lua_next(L, idx)) {
            std::string key = lua_type(L, -2) == LUA_TSTRING ? lua_tostring(L, -2) : describe(L, -2, depth + 1);
            items[key] = describe(L, -1, depth + 1);
            lua_pop(L, 1);
        }
        std::string out = "{";
        for (auto &[k, v] : items) out += (out.size() > 1 ? "," : "") + k + "=" + v;
        return out + "}";
    }
    default: return "nil";
    }
}

int record(lua_State *L)
{
    std::string line = lua_tostring(L, lua_upvalueindex(1));
    line += "(";
    for (int i = 1; i <= lua_gettop(L); i++) line += (i > 1 ? ", " : "") + describe(L, i);
    calls.push_back(line + ")");
    // A directory object that is made owns its tree.
    if (!failWith && std::strcmp(lua_tostring(L, lua_upvalueindex(1)), "opendirectory") == 0) {
        lua_pushstring(L, "__direntries");
        lua_gettable(L, 3);
        qxFreeDirTree(static_cast<qxDirEntry *>(lua_touserdata(L, -1)));
        lua_pop(L, 1);
    }
    return failWith;
}

void registerRecorders(lua_State *L)
{
    for (const char *name : {"loadbgpic", "loadbrush", "loadanim", "openmusic", "loadsample", "createbutton",
                             "createkeydown", "loadsprite", "openfile", "openfont", "createdisplay", "openvideo",
                             "createmenu", "loadicon", "createicon", "opendirectory"}) {
        lua_pushstring(L, name);
        lua_pushstring(L, name);
        lua_pushcclosure(L, record, 1);
        lua_settable(L, LUA_GLOBALSINDEX);
    }
}

// Loads a listing and runs both start-up steps.
int runSteps(AppletRun &run, const std::string &listing)
{
    calls.clear();
    failWith = 0;
    registerRecorders(run.L);
    run.put("pre.qxa", assemble(listing));
    if (int r = run.load()) return r;
    if (int r = qxPrepareMainChunk(run.L, run.startup, run.applet)) return r;
    return qxRunPreprocessorObjects(run.L, run.startup, run.applet, 0);
}

const char *kDefaultDisplay =
    "createdisplay(1, {__restoreheight=0,__restorewidth=0,active=1,backfill={hidetitlebar=0},color=0,"
    "desktop=0,fillstyle=1,height=480,mode=\"windowed\",monitor=1,orientation=0,scrdepth=-1,scrheight=-1,"
    "scrwidth=-1,title=\"Zephyrane\",width=640,x=-100000,y=-100000})";

TEST(Preprocessor, AppletWithoutDisplayGetsTheDefaultOne)
{
    AppletRun run;
    ASSERT_EQ(runSteps(run, "RETURN 0 1\n"), 0);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], kDefaultDisplay);
    EXPECT_EQ(run.applet->objects, nullptr); // the records are freed after creation
    // The main chunk is left on the stack for the run.
    EXPECT_TRUE(lua_isfunction(run.L, -1));
    EXPECT_EQ(lua_pcall(run.L, 0, 0, 0), 0);
}

TEST(Preprocessor, ObjectsAreMadeInFileOrderDisplaysLast)
{
    AppletRun run;
    const char *listing = R"(
.object 10 2 u32:0 u32:10 u32:20 u32:800 u32:600 u32:0x112233 u32:0x1002 u32:0 u32:0 u32:0 u32:0 u32:0 pstr:"Second" u8:1 u32:0 u16:0 u32:0 u32:0 u32:0 u8:2 u32:0 u32:0 u32:0 u32:0 u8:0 pstr:"" u8:0 u8:0 u8:0 u32:0 u8:1 u8:0 i16:-1 i16:-1 u8:0 u8:0 u8:0 pstr:"" pstr:"" pstr:"" pstr:"" u32:65536 u32:0
.object 1 3 text:"pics/a.png" a:-1 flags:1 line:12 u16:10 u16:20 u16:1 u16:2 i16:-1 u8:0 u32:0 u32:0 u32:0 u32:0
.object 1 4 text:"PICS/A.PNG" a:-1 flags:0 line:13 u16:0 u16:0 u16:0 u16:0 i16:128 u8:1 u32:0 u32:0 u32:0 u32:2
.object 5 7 line:20 u16:1 u16:2 u16:3 u16:4
.object 6 8 text:"ESC" line:21
.object 8 9 text:"log.txt" adapter:"zip" line:22
.object 9 1 text:"Serif" a:12 flags:0x20003 line:23
.object 13 1 line:24 u16:4 hex:46696c65 pstr:"f" pstr:"" u32:0 u8:2 u16:4 hex:51756974 pstr:"q" pstr:"Q" u32:1 u8:0 u8:0
.object 16 1 line:25 u8:3 u32:3 u32:5 u32:6 u8:44 u32:2 textref:"i.png" dataref:"" pstr:"" pstr:"" u8:0
.object 18 1 text:"dir" a:1 line:26 u8:1 u16:1 hex:61 u32:3 u32:4 u8:0
.object 14 0 text:"careful" line:27
.object 17 0 line:28
    RETURN 0 1
)";
    testing::internal::CaptureStdout();
    ASSERT_EQ(runSteps(run, listing), 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "*** WARNING careful ***\n");
    std::vector<std::string> want = {
        "loadbrush(3, \"pics/a.png\", {cache=\"pics/a.png\",hardware=0,height=20,loadalpha=1,scaleheight=0,"
        "scalewidth=0,smoothscale=0,width=10,x=1,y=2})",
        "loadbrush(4, \"PICS/A.PNG\", {cachedload=\"PICS/A.PNG\",display=2,globalalpha=128,hardware=1,height=0,"
        "scaleheight=0,scalewidth=0,smoothscale=0,width=0,x=0,y=0})",
        "createbutton(7, 1, 2, 3, 4)",
        "createkeydown(8, \"ESC\")",
        "openfile(9, \"log.txt\", 1005, {adapter=\"zip\"})",
        "openfont(1, \"Serif\", 12, {cache=0,engine=2,usepoints=1})",
        "createmenu(1, {0={0=\"File\",1={0={0=\"Quit\",flags=1,hotkey=\"Q\",id=\"q\"}},flags=0,id=\"f\"}})",
        "createicon(1, {0={image=5,selimage=6,standard=1,type=3},1={image=\"i.png\",standard=1,type=44}})",
        "opendirectory(1, \"dir\", {__direntries=ptr,recursive=1})",
    };
    ASSERT_GE(calls.size(), want.size() + 2);
    for (size_t i = 0; i < want.size(); i++) EXPECT_EQ(calls[i], want[i]);
    EXPECT_EQ(calls[want.size()],
              "createdisplay(2, {__restoreheight=0,__restorewidth=0,backfill={hidetitlebar=0},"
              "color=1122867,desktop=0,fillstyle=1,height=600,layers=1,mode=\"windowed\",monitor=1,orientation=0,"
              "scrdepth=0,scrheight=-1,scrwidth=-1,sizeable=1,title=\"Second\",width=800,x=10,y=20})");
    EXPECT_EQ(calls[want.size() + 1], kDefaultDisplay);
}

TEST(Preprocessor, LinkedObjectsGetChunkNames)
{
    AppletRun run;
    ASSERT_EQ(runSteps(run, ".object 4 1 text:\"boom.wav\" data:\"RIFFDATA\" line:3\n RETURN 0 1\n"), 0);
    ASSERT_EQ(calls.size(), 2u);
    std::string c = calls[0];
    ASSERT_EQ(c.rfind("loadsample(1, \":::chunk", 0), 0u) << c;
    size_t q = c.find('"') + 1;
    std::string name = c.substr(q, c.find('"', q) - q);
    EXPECT_NE(name.find(":8*boom.wav?"), std::string::npos);
    qxFileHandle *h = qxOpen(name.c_str(), QX_OPEN_READ, nullptr);
    ASSERT_NE(h, nullptr);
    char buf[16] = {};
    EXPECT_EQ(qxRead(h, buf, sizeof buf), 8);
    qxClose(h);
    EXPECT_STREQ(buf, "RIFFDATA");
}

TEST(Preprocessor, FailingCommandEndsTheStepWithItsCodeAndLine)
{
    AppletRun run;
    calls.clear();
    registerRecorders(run.L);
    run.put("f.qxa", assemble(".object 4 1 text:\"a.wav\" line:41\n.object 4 2 text:\"b.wav\" line:42\n RETURN 0 1\n"));
    ASSERT_EQ(run.load(), 0);
    ASSERT_EQ(qxPrepareMainChunk(run.L, run.startup, run.applet), 0);
    failWith = ERR_LOADSOUND;
    EXPECT_EQ(qxRunPreprocessorObjects(run.L, run.startup, run.applet, 0), ERR_LOADSOUND);
    EXPECT_EQ(calls.size(), 1u);
    EXPECT_EQ(qxVmErrorLine, 41);
    EXPECT_STREQ(qxGetErrorCommandName(), "LoadSample");
    failWith = 0;
}

TEST(Preprocessor, CommandLineSettingsReachDisplayOneOnlyUnlessAllDisplays)
{
    for (int all : {0, 1}) {
        AppletRun run;
        run.applet->displayMode = QX_DISPMODE_FULLSCREEN;
        run.startup->allDisplays = uint32_t(all);
        ASSERT_EQ(runSteps(run, ".object 10 2 u32:0 u32:0 u32:0 u32:64 u32:64 u32:0 u32:0 u32:0 u32:0 u32:0 "
                                "u32:0 u32:0 pstr:\"\" u8:1 u32:0 u16:0 u32:0 u32:0 u32:0 u8:2 u32:0 u32:0 u32:0 u32:0 u8:0 pstr:\"\" u8:0 u8:0 u8:0 u32:0 u8:1 u8:0 i16:-1 i16:-1 u8:0 u8:0 u8:0 pstr:\"\" pstr:\"\" pstr:\"\" pstr:\"\" u32:65536 u32:0\n RETURN 0 1\n"),
                  0);
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[0].find("mode=\"fullscreen\"") != std::string::npos, all == 1) << calls[0];
        EXPECT_NE(calls[1].find("mode=\"fullscreen\""), std::string::npos) << calls[1];
    }
}

TEST(Preprocessor, DisplayOverridesSectionsAndNoDebugWarnings)
{
    AppletRun run;
    qxGlobalSettings.noDebug = 1;
    testing::internal::CaptureStdout();
    ASSERT_EQ(runSteps(run, ".section 7\n.section 16 u8:7\n.section 21 u8:1\n.section 23 u8:24\n"
                            ".object 14 0 text:\"hidden\"\n RETURN 0 1\n"),
              0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ASSERT_EQ(calls.size(), 1u);
    for (const char *key : {"desktop=1", "mode=\"fullscreenscale\"", "hidetitlebar=1", "scrdepth=24"})
        EXPECT_NE(calls[0].find(key), std::string::npos) << key << " in " << calls[0];
}

TEST(Preprocessor, BGPicFillAndFirstDisplayUsesBGPicOne)
{
    AppletRun run;
    ASSERT_EQ(runSteps(run, ".object 0 1 text:\"bg.png\" a:0x00FF00 u8:2 u32:0 u32:0 u16:0 u32:0 u32:0 u32:0 "
                            "u8:1 u32:500000 u32:0 u32:0 u32:0 u8:1 u32:0xFF u32:250000 u32:0 u32:0 u32:0\n"
                            " RETURN 0 1\n"),
              0);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], "loadbgpic(1, \"bg.png\", {fillstyle=2,gradient={balance=0,border=0,centerx=0.5,"
                        "centery=0,colors={0=255,1=0.25},style=1},scaleheight=0,scalewidth=0,smoothscale=0,"
                        "transparency=65280})");
    EXPECT_NE(calls[1].find("bgpic=1"), std::string::npos);
    EXPECT_EQ(calls[1].find(",width="), std::string::npos);
}

// The payloads of older applets are shorter: each field is read only from
// the version that introduced it, and the stream stays in step (the key
// declared last arrives intact).
struct VersionCase {
    const char *version;
    std::string objects;
    std::vector<std::string> want;      // the calls before the displays, in order
    std::vector<std::string> display3;  // parts of CreateDisplay(3, ...)
};

const char *kDisplayHead = ".object 10 3 u32:0 u32:5 u32:6 u32:320 u32:240 u32:255 u32:1 u32:0 u32:0 u32:0 "
                           "u32:0 u32:0 pstr:\"Old\"";
const char *kGradient = " u8:2 u32:0 u32:0 u32:0 u32:0 u8:0";

TEST(Preprocessor, ObjectPayloadsAreReadByVersion)
{
    std::string fill47 = " u8:3 u32:0 u16:0 u32:21 u32:22 u32:23";
    std::vector<VersionCase> cases = {
        {"4 1",
         ".object 1 1 text:\"b.png\" u16:10 u16:20 u16:3 u16:4 i16:-1\n"
         ".object 2 2 text:\"a.gif\" u8:1 u16:8 u16:9 u16:5 u16:2 u16:1 i16:-7\n"
         ".object 0 1 text:\"bg.png\"\n" + std::string(kDisplayHead) + "\n",
         {"loadbrush(1, \"b.png\", {hardware=0,height=20,scaleheight=0,scalewidth=0,smoothscale=0,width=10,x=3,y=4})",
          "loadanim(2, \"a.gif\", {deinterlace=0,fpr=2,frames=5,fromdisk=1,height=9,skiploopframes=0,width=8,x=1,"
          "y=-7})",
          "loadbgpic(1, \"bg.png\", {scaleheight=0,scalewidth=0,smoothscale=0})"},
         {"color=255", "fillstyle=1", "borderless=1", "title=\"Old\"", "orientation=0", "scrwidth=-1", "monitor=1"}},
        {"5 0",
         ".object 1 1 text:\"b.png\" u16:10 u16:20 u16:3 u16:4 i16:200 u8:1\n"
         ".object 2 2 text:\"a.gif\" u8:0 u16:8 u16:9 u16:5 u16:2 u16:1 i16:7\n"
         ".object 0 1 text:\"bg.png\" u8:3 u32:0 u32:0 u16:0 u32:12 u32:13 u32:14" + std::string(kGradient) + "\n" +
             kDisplayHead + fill47 + kGradient + "\n",
         {"loadbrush(1, \"b.png\", {globalalpha=200,hardware=1,height=20,scaleheight=0,scalewidth=0,smoothscale=0,"
          "width=10,x=3,y=4})",
          "loadanim(2, \"a.gif\", {deinterlace=0,fpr=2,frames=5,fromdisk=0,height=9,skiploopframes=0,width=8,x=1,"
          "y=7})",
          "loadbgpic(1, \"bg.png\", {fillstyle=3,scaleheight=0,scalewidth=0,smoothscale=0,texturebrush=12,texturex=13,"
          "texturey=14})"},
         {"fillstyle=3", "texturebrush=21", "texturex=22", "texturey=23", "orientation=0"}},
        {"5 3",
         ".object 1 1 text:\"b.png\" u16:10 u16:20 u16:3 u16:4 i16:-1 u8:0 u32:100 u32:50 u32:1\n"
         ".object 2 2 text:\"a.gif\" u8:0 u16:8 u16:9 u16:5 u16:2 u16:1 i16:7 u8:1 u8:1\n"
         ".object 0 1 text:\"bg.png\" u8:1 u32:0xABC u32:0 u16:0 u32:0 u32:0 u32:0" + std::string(kGradient) +
             " u32:640 u32:480 u32:1\n" + kDisplayHead + fill47 + kGradient + " pstr:\"unused\" u8:2\n",
         {"loadbrush(1, \"b.png\", {hardware=0,height=20,scaleheight=50,scalewidth=100,smoothscale=1,width=10,x=3,"
          "y=4})",
          "loadanim(2, \"a.gif\", {deinterlace=1,fpr=2,frames=5,fromdisk=0,height=9,skiploopframes=1,width=8,x=1,"
          "y=7})",
          "loadbgpic(1, \"bg.png\", {fillcolor=2748,fillstyle=1,scaleheight=480,scalewidth=640,smoothscale=1})"},
         {"orientation=2", "texturebrush=21", "scrwidth=-1", "menu"}},
        {"6 0",
         ".object 1 1 text:\"b.png\" loader:\"png\" u16:10 u16:20 u16:3 u16:4 i16:-1 u8:0 u32:0 u32:0 u32:0 u32:2\n"
         ".object 2 2 text:\"a.gif\" adapter:\"zip\" u8:0 u16:8 u16:9 u16:5 u16:2 u16:1 i16:7 u8:0 u8:0\n"
         ".object 0 1 text:\"bg.png\" u8:0 u32:0 u32:0 u16:0 u32:0 u32:0 u32:0" + std::string(kGradient) +
             " u32:0 u32:0 u32:0\n" + kDisplayHead + fill47 + kGradient +
             " pstr:\"\" u8:0 u8:1 u8:1 u32:7 u8:2 u8:1 i16:1024 i16:768 u8:32 u8:1 u8:1 u32:0x123"
             " pstr:\"host:0\" pstr:\"x\" pstr:\"y\"\n",
         {"loadbrush(1, \"b.png\", {display=2,hardware=0,height=20,loader=\"png\",scaleheight=0,scalewidth=0,"
          "smoothscale=0,width=10,x=3,y=4})",
          "loadanim(2, \"a.gif\", {adapter=\"zip\",deinterlace=0,fpr=2,frames=5,fromdisk=0,height=9,skiploopframes=0,"
          "width=8,x=1,y=7})",
          "loadbgpic(1, \"bg.png\", {scaleheight=0,scalewidth=0,smoothscale=0})"},
         {"monitor=2", "menu=7", "mode=\"fullscreen\"", "desktop=1", "scrwidth=1024", "scrheight=768", "scrdepth=32",
          "hidetitlebar=1", "type=\"color\"", "color=291", "xserver=\"host:0\""}},
    };
    for (const VersionCase &c : cases) {
        AppletRun run;
        std::string listing = std::string(".version ") + c.version + "\n" + c.objects +
                              ".object 6 9 text:\"END\"\n RETURN 0 1\n";
        ASSERT_EQ(runSteps(run, listing), 0) << c.version;
        std::vector<std::string> want = c.want;
        want.push_back("createkeydown(9, \"END\")");
        ASSERT_EQ(calls.size(), want.size() + 2) << c.version;
        for (size_t i = 0; i < want.size(); i++) EXPECT_EQ(calls[i], want[i]) << c.version;
        const std::string &d3 = calls[want.size()];
        EXPECT_EQ(d3.rfind("createdisplay(3, {", 0), 0u) << d3;
        for (const std::string &part : c.display3) {
            if (part == "menu") EXPECT_EQ(d3.find("menu="), std::string::npos) << c.version << ": " << d3;
            else EXPECT_NE(d3.find(part), std::string::npos) << c.version << ": " << part << " in " << d3;
        }
        // Display 1 comes from the defaults and shows BGPic 1.
        EXPECT_NE(calls.back().find("bgpic=1"), std::string::npos) << calls.back();
    }
}

TEST(Preprocessor, BackfillSectionWinsOverHideTitleBarAndScreenSizeReachesDisplayOne)
{
    AppletRun run;
    ASSERT_EQ(runSteps(run, ".section 17 u8:2 u32:1 u32:2\n.section 21 u8:1\n.section 22 i16:800 i16:600\n"
                            " RETURN 0 1\n"),
              0);
    ASSERT_EQ(calls.size(), 1u);
    for (const char *part : {"backfill={brush=0,color=1,endcolor=2,", "hidetitlebar=0", "startcolor=1", "type=\"gradient\"",
                             "scrwidth=800", "scrheight=600"})
        EXPECT_NE(calls[0].find(part), std::string::npos) << part << " in " << calls[0];
}

TEST(Preprocessor, DefaultDisplayWaitsForADisplayLibrary)
{
    // Display sections fill the default display 1; with no CreateDisplay
    // registered the script still runs and opens its display itself. A
    // declared display needs the command.
    const std::string declared =
        ".object 10 1 u32:0 u32:0 u32:0 u32:64 u32:64 u32:0 u32:0 u32:0 u32:0 u32:0 u32:0 u32:0 pstr:\"\" u8:1 u32:0 "
        "u16:0 u32:0 u32:0 u32:0 u8:2 u32:0 u32:0 u32:0 u32:0 u8:0 pstr:\"\" u8:0 u8:0 u8:0 u32:0 u8:1 u8:0 i16:-1 "
        "i16:-1 u8:0 u8:0 u8:0 pstr:\"\" pstr:\"\" pstr:\"\" pstr:\"\" u32:65536 u32:0\n";
    for (auto [listing, code] : {std::pair<std::string, int>{".section 3 u16:320 u16:200\n.section 16 u8:2\n", 0},
                                 {declared, ERR_FUNCDECLA}}) {
        AppletRun run;
        run.put("d.qxa", assemble(listing + " RETURN 0 1\n"));
        ASSERT_EQ(run.load(), 0);
        ASSERT_EQ(qxPrepareMainChunk(run.L, run.startup, run.applet), 0);
        EXPECT_EQ(qxRunPreprocessorObjects(run.L, run.startup, run.applet, 0), code);
    }
}

TEST(Preprocessor, BackendFlagsReturnToThePreviousDirectoryAndSilenceDebug)
{
    char *before = getcwd(nullptr, 0);
    {
        AppletRun run;
        qxGlobalSettings.noChdir = 0;
        run.put("b.qxa", assemble(".section 32 u32:0x18 u32:0 u32:0 u8:0\n RETURN 0 1\n"));
        ASSERT_EQ(run.load(), 0);
        char *during = getcwd(nullptr, 0);
        EXPECT_EQ(std::string(during), run.dir);
        std::free(during);
        ASSERT_EQ(qxPrepareMainChunk(run.L, run.startup, run.applet), 0);
        char *after = getcwd(nullptr, 0);
        EXPECT_STREQ(after, before);
        std::free(after);
        EXPECT_EQ(qxGlobalSettings.noDebug, 1u);
    }
    EXPECT_EQ(chdir(before), 0);
    std::free(before);
}

TEST(Preprocessor, RequirementsNameTheMissingPlugin)
{
    AppletRun run;
    EXPECT_EQ(runSteps(run, ".object 12 0 text:\"gui\" a:2 u32:1 u32:9 str:\"k\" u8:0 f64:1.5\n RETURN 0 1\n"),
              ERR_REQUIREPLUGIN);
    char text[256];
    qxFormatErrorCode(ERR_REQUIREPLUGIN, text, sizeof text);
    EXPECT_STREQ(text, "This program requires gui 2.0!");
}

TEST(SetConstants, NumbersStringsAndErrors)
{
    lua_State *L = lua_open();
    const char *s = nullptr;
    double n = 0;
    EXPECT_EQ(qxApplySetConstants(L, " A = 1 | B=[x]]y] | Flag_1$! | hex=$FF"), 0);
    ASSERT_TRUE(luaL_getconstant(L, "a", &s, &n));
    EXPECT_EQ(n, 1);
    EXPECT_EQ(s, nullptr);
    ASSERT_TRUE(luaL_getconstant(L, "B", &s, &n));
    EXPECT_STREQ(s, "x]y");
    ASSERT_TRUE(luaL_getconstant(L, "flag_1$!", &s, &n));
    EXPECT_EQ(n, 1);
    ASSERT_TRUE(luaL_getconstant(L, "hex", &s, &n));
    EXPECT_EQ(n, 255);
    EXPECT_EQ(qxApplySetConstants(L, "C=[[[a]]]"), 0);
    ASSERT_TRUE(luaL_getconstant(L, "c", &s, &n));
    EXPECT_STREQ(s, "[a]");
    EXPECT_EQ(qxApplySetConstants(L, "a=2"), ERR_CSTDOUBLEDEF);
    for (const char *bad : {"", "   ", "1a=2", "x=[a[b]", "x=[open", "x=12abc", "x=", "x|", "x y", "x=1|"})
        EXPECT_EQ(qxApplySetConstants(L, bad), ERR_ARGS) << bad;
    std::string longName(64, 'n');
    EXPECT_EQ(qxApplySetConstants(L, longName.c_str()), ERR_ARGS);
    lua_close(L);
}

TEST(RequireTags, GroupsKeysAndValues)
{
    qxRequireTag *tags = nullptr;
    ASSERT_EQ(qxRequireTagsFor("other[a=1] GUI[on=true, off=false,n=-2.5 , s='a b', w=word] x[]", "gui", &tags),
              0);
    std::vector<std::string> got;
    for (qxRequireTag *t = tags; t; t = t->next)
        got.push_back(std::string(t->name) + "=" + (t->text ? std::string("'") + t->text + "'" : std::to_string(t->number)));
    qxFreeRequireTags(tags);
    EXPECT_EQ(got, (std::vector<std::string>{"on=1.000000", "off=0.000000", "n=-2.500000", "s='a b'", "w='word'"}));
    ASSERT_EQ(qxRequireTagsFor("a[x=1]", "b", &tags), 0);
    EXPECT_EQ(tags, nullptr);
    for (const char *bad : {"a b[x=1]", "a[1=2]", "a[x=1", "a[x]", "a[x='open]", "[x=1]", "a[x=1]b[y=2]", "a[x=]"}) {
        EXPECT_EQ(qxRequireTagsFor(bad, "a", &tags), ERR_REQUIRETAGFMT) << bad;
        EXPECT_EQ(tags, nullptr);
    }
    // A value runs to a comma, blank or "]": other characters belong to it.
    ASSERT_EQ(qxRequireTagsFor("a[x=1;]", "a", &tags), 0);
    ASSERT_NE(tags, nullptr);
    EXPECT_STREQ(tags->text, "1;");
    qxFreeRequireTags(tags);
}

} // namespace

namespace {

// The preferences a display left when it last closed: display 1 windowed
// at 10,20 with a 300x200 window.
int placementPrefs(lua_State *L, int)
{
    lua_newtable(L);
    lua_pushstring(L, "__placement");
    lua_newtable(L);
    lua_newtable(L);
    for (auto [key, value] : {std::pair{"active", 1}, {"x", 10}, {"y", 20}, {"width", 300}, {"height", 200},
                              {"scalewidth", 0}, {"scaleheight", 0}, {"autoscale", 0}, {"layerscale", 0},
                              {"sizeable", 0}, {"scalefactor", 1}}) {
        lua_pushstring(L, key);
        lua_pushnumber(L, value);
        lua_settable(L, -3);
    }
    lua_pushstring(L, "osdata");
    lua_pushstring(L, "os");
    lua_settable(L, -3);
    lua_rawseti(L, -2, 1);
    lua_settable(L, -3);
    return 0;
}

// Display 1 declared with "rememberposition" and "fitscale"; flags2 extra.
std::string rememberingDisplay(uint32_t extraFlags)
{
    char flags[32];
    std::snprintf(flags, sizeof flags, "u32:0x%X", 0x8010400u | extraFlags);
    return std::string(".object 10 1 u32:0 u32:0 u32:0 u32:64 u32:64 u32:0 ") + flags +
           " u32:0 u32:0 u32:0 u32:0 u32:0 pstr:\"\" u8:1 u32:0 u16:0 u32:0 u32:0 u32:0 u8:2 u32:0 u32:0 u32:0 "
           "u32:0 u8:0 pstr:\"\" u8:0 u8:0 u8:0 u32:0 u8:1 u8:0 i16:-1 i16:-1 u8:0 u8:0 u8:0 pstr:\"\" pstr:\"\" "
           "pstr:\"\" pstr:\"\" u32:65536 u32:0\n RETURN 0 1\n";
}

} // namespace

TEST(Preprocessor, StoredPlacementOfARememberingDisplay)
{
    qxPreprocLoadPrefs = placementPrefs;
    struct Case {
        uint32_t extraFlags, override;
        bool used;
    } cases[] = {{0, 0, true}, {0x2 /* sizeable: stored without */, 0, false}, {0, 1, false}};
    for (const Case &c : cases) {
        AppletRun run;
        qxGlobalSettings.overridePlacement = c.override;
        ASSERT_EQ(runSteps(run, rememberingDisplay(c.extraFlags)), 0);
        ASSERT_EQ(calls.size(), 1u);
        const std::string &d = calls[0];
        EXPECT_EQ(d.find("__placement=\"os\"") != std::string::npos, c.used) << d;
        EXPECT_EQ(d.find("x=10,y=20") != std::string::npos, c.used) << d;
        EXPECT_EQ(d.find("__restoreheight=200,__restorewidth=300") != std::string::npos, c.used) << d;
        // A stored size is kept: "fitscale" would refit the window.
        EXPECT_EQ(d.find("fitscale=1") == std::string::npos, c.used) << d;
    }
    qxGlobalSettings.overridePlacement = 0;
    qxPreprocLoadPrefs = nullptr;
}
