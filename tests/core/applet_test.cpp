// The applet loader on applets that qxasm writes, plain, packed and
// appended to another file as in a linked executable.
#include <gtest/gtest.h>

#include "applet_helpers.h"
#include "core/files/qx_chunkname.h"
#include "platform/qx_tempfiles.h"
#include "core/errors/qx_errorreport.h"
#include "core/errors/qx_errors.h"
#include "core/files/qx_file.h"

using namespace applettest;

namespace {

const char *kFull = R"(
.version 7 5
.header 1 "Title"
.header 2 "\xFF Author"
.header 6 "Sixth"
.label Start top
.label Other 7
.constant MYTEXT "hello"
.constant MYNUM #2.5
.link "data/one.txt" "first file"
.linkext "two.txt" "second file"
.linkdrop "gone.txt"
.linemap 27 10 19 4 "inc.qxs" "main.qxs"
.linemap 33 20 29 0 "other.qxs" "main.qxs"
.section 3 u16:320 u16:200
.section 4 u16:5 hex:5469746c65
.section 18 u8:1
.section 28 u8:1 u32:100 u32:50 u8:1
.section 16 u8:2
.section 22 i16:-1 i16:768
.icon 16 16 2 "ICON16"
.icon 20 20 0 "SKIPPED"
.icon 32 32 1 "SEL32"
top:
    RETURN 0 1
)";

std::string readChunk(const char *name)
{
    qxFileHandle *h = qxOpen(name, QX_OPEN_READ, nullptr);
    if (!h) return "<cannot open>";
    std::string out;
    char buf[256];
    int64_t n;
    while ((n = qxRead(h, buf, sizeof buf)) > 0) out.append(buf, size_t(n));
    qxClose(h);
    return out;
}

std::string resolveAndRead(lua_State *L, const char *name)
{
    const char *resolved = qxResolveFileName(L, name, 0, nullptr);
    if (resolved == name) return "<not linked>";
    return readChunk(resolved);
}

// Everything the full listing declares arrives, whichever form it has.
void expectFullApplet(AppletRun &run)
{
    qxAppletInfo *a = run.applet;
    EXPECT_EQ(a->versionMajor, 7u);
    EXPECT_EQ(a->versionMinor, 5u);
    EXPECT_STREQ(a->header[0], "Title");
    EXPECT_STREQ(a->header[1], "$ Author");
    EXPECT_STREQ(a->header[5], "Sixth");
    EXPECT_NE(a->mainChunk, nullptr);
    EXPECT_GT(a->mainChunkSize, 0u);
    EXPECT_EQ(luaL_findlabel(run.L, "START"), 0);
    EXPECT_EQ(luaL_findlabel(run.L, "other"), 7);
    const char *str = nullptr;
    double num = 0;
    ASSERT_TRUE(luaL_getconstant(run.L, "mytext", &str, &num));
    EXPECT_STREQ(str, "hello");
    ASSERT_TRUE(luaL_getconstant(run.L, "MYNUM", &str, &num));
    EXPECT_EQ(num, 2.5);

    // Linked files are reached by their names; the dropped one is not kept.
    EXPECT_EQ(resolveAndRead(run.L, "DATA\\one.txt"), "first file");
    EXPECT_EQ(resolveAndRead(run.L, "two.txt"), "second file");
    EXPECT_EQ(resolveAndRead(run.L, "gone.txt"), "<not linked>");

    // Include lines: the error report names the include file and its line.
    ASSERT_EQ(a->includeLineCount, 2u);
    EXPECT_STREQ(a->includeLines->name, "inc.qxs");
    EXPECT_STREQ(a->includeLines->next->name, "other.qxs");
    EXPECT_STREQ(a->includeLines->next->source, "main.qxs");
    qxReportLineEntry map[2] = {{10, 19, 4, "inc.qxs", "main.qxs"}, {20, 29, 0, "other.qxs", "main.qxs"}};
    EXPECT_EQ(qxComputeReportLine(map, 2, "main.qxs", 12), 4 + 12 - 10 + 1);

    // The display sections share one definition of display 1.
    qxDisplayDef *d = qxFirstDisplayDef(a, 1);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->width, 320);
    EXPECT_EQ(d->height, 200);
    EXPECT_STREQ(d->title, "Title");
    EXPECT_EQ(d->flags & 0x1, 0x1u);
    EXPECT_EQ(d->flags & 0x1C0, 0x180u); // layer scaling, smooth
    EXPECT_EQ(d->scaleWidth, 100);
    EXPECT_EQ(qxAppletLoad.overrides.displayMode, 2u);
    EXPECT_EQ(qxAppletLoad.overrides.scrWidth, -1);
    EXPECT_EQ(qxAppletLoad.overrides.scrHeight, 768);

    // Icons: 16x16 normal and default, 20x20 matches nothing, 32x32 selected.
    ASSERT_NE(qxIconSlots[0].path, nullptr);
    EXPECT_EQ(qxIconSlots[0].isDefault, 1u);
    EXPECT_EQ(readChunk(qxIconSlots[0].path), "ICON16");
    EXPECT_EQ(qxIconSlots[2].path, nullptr);
    ASSERT_NE(qxIconSlots[12].path, nullptr);
    EXPECT_EQ(readChunk(qxIconSlots[12].path), "SEL32");
}

TEST(AppletLoad, PlainAppletFillsEverySection)
{
    AppletRun run;
    run.put("full.qxa", assemble(kFull));
    ASSERT_EQ(run.load(), 0);
    EXPECT_EQ(run.startup->isApplet, 1u);
    expectFullApplet(run);
    EXPECT_STREQ(luaL_getregstr(run.L, "script"), ":none:");
}

TEST(AppletLoad, PackedAppletReadsFromItsUnpackedCopy)
{
    AppletRun run;
    std::string path = run.put("full.qxa", assemble(kFull, qxAsmMode::Packed));
    ASSERT_EQ(run.load(), 0);
    expectFullApplet(run);
    // Linked files point into the unpacked copy, icons into the packed file.
    EXPECT_STREQ(run.applet->linkedFiles->container, qxAppletLoad.unpackedPath);
    EXPECT_NE(std::strstr(qxIconSlots[0].path, path.c_str()), nullptr);
    EXPECT_EQ(listDir(run.temp).size(), 1u);
    qxDeleteTempFiles();
    EXPECT_TRUE(listDir(run.temp).empty());
}

// The applet behind other bytes, as in a linked executable.
void linkedCase(qxAsmMode mode)
{
    AppletRun run;
    std::vector<uint8_t> bytes(777, 0x90);
    std::vector<uint8_t> applet = assemble(kFull, mode);
    bytes.insert(bytes.end(), applet.begin(), applet.end());
    std::string path = run.put("linked", bytes);
    std::snprintf(run.startup->programPath, sizeof run.startup->programPath, "%s", path.c_str());
    qxLinked = 1;
    qxAppendedOffset = 777;
    ASSERT_EQ(run.load(), 0);
    expectFullApplet(run);
}

TEST(AppletLoad, LinkedPlainApplet) { linkedCase(qxAsmMode::Applet); }
TEST(AppletLoad, LinkedPackedApplet) { linkedCase(qxAsmMode::Packed); }

TEST(AppletLoad, VersionGate)
{
    for (auto [major, minor, code] : {std::tuple{8, 1, 1209}, {9, 0, 1209}, {8, 0, 0}, {7, 9, 0}}) {
        AppletRun run;
        run.put("v.qxa", assemble(".version " + std::to_string(major) + " " + std::to_string(minor) +
                                  "\n RETURN 0 1\n"));
        EXPECT_EQ(run.load(), code) << major << "." << minor;
        if (code) {
            char text[64];
            qxFormatErrorCode(code, text, sizeof text);
            EXPECT_NE(std::strstr(text, (std::to_string(major) + "." + std::to_string(minor)).c_str()), nullptr);
        }
    }
}

TEST(AppletLoad, OldAppletsAndLatin1SectionSwitchTextMode)
{
    {
        AppletRun run;
        run.put("old.qxa", assemble(".version 6 0\n RETURN 0 1\n"));
        ASSERT_EQ(run.load(), 0);
        EXPECT_EQ(qxTextModeUtf8, 0);
    }
    {
        AppletRun run;
        run.put("enc.qxa", assemble(".encoding latin1\n RETURN 0 1\n"));
        ASSERT_EQ(run.load(), 0);
        EXPECT_EQ(qxTextModeUtf8, 0);
    }
    AppletRun run;
    run.put("utf.qxa", assemble(".encoding utf8\n RETURN 0 1\n"));
    ASSERT_EQ(run.load(), 0);
    EXPECT_EQ(qxTextModeUtf8, 1);
}

TEST(AppletLoad, BadFilesGiveTheirCodes)
{
    {
        AppletRun run;
        run.put("tag.qxa", assemble(".section 36 u8:0\n RETURN 0 1\n"));
        EXPECT_EQ(run.load(), ERR_UNKNOWNSEC);
    }
    {
        AppletRun run;
        run.put("magic.qxa", {'Q', 'X', 'B', 0, 1, 0, 0, 0, 0});
        EXPECT_EQ(run.load(), ERR_NOAPPLET);
    }
    {
        AppletRun run;
        std::snprintf(run.startup->appletPath, sizeof run.startup->appletPath, "%s/none.qxa", run.dir.c_str());
        EXPECT_EQ(run.load(), ERR_FILEEXIST);
    }
    {
        // A section whose length runs past the end of the file.
        AppletRun run;
        run.put("long.qxa", assemble(".section 0 u32:1000000 hex:00\n RETURN 0 1\n"));
        EXPECT_EQ(run.load(), ERR_UNEXPECTEDEOF);
    }
    {
        // A packed body that does not inflate; its copy is gone after exit.
        AppletRun run;
        std::vector<uint8_t> bytes = assemble(kFull, qxAsmMode::Packed);
        for (size_t i = 12; i < bytes.size(); i++) bytes[i] ^= 0x55;
        run.put("broken.qxa", bytes);
        EXPECT_EQ(run.load(), ERR_ZLIBDATA);
        qxDeleteTempFiles();
        EXPECT_TRUE(listDir(run.temp).empty());
    }
}

TEST(AppletLoad, EveryTruncationFailsCleanly)
{
    for (qxAsmMode mode : {qxAsmMode::Applet, qxAsmMode::Packed}) {
        std::vector<uint8_t> whole = assemble(kFull, mode);
        size_t step = mode == qxAsmMode::Applet ? 1 : 7;
        for (size_t n = 0; n + 1 < whole.size(); n += step) {
            AppletRun run;
            run.put("cut.qxa", std::vector<uint8_t>(whole.begin(), whole.begin() + long(n)));
            int r = run.load();
            // Cuts inside the data after the main chunk still load.
            if (r == 0) continue;
            EXPECT_TRUE(r == ERR_UNEXPECTEDEOF || r == ERR_NOAPPLET || r == ERR_ZLIBDATA || r == ERR_READ)
                << "cut at " << n << " gave " << r;
        }
    }
}

TEST(AppletLoad, OldLineMapNamesTheAppletAsSource)
{
    AppletRun run;
    std::string path = run.put("old.qxa", assemble(".linemap 8 10 30 4 \"inc.qxs\"\n RETURN 0 1\n"));
    ASSERT_EQ(run.load(), 0);
    ASSERT_EQ(run.applet->includeLineCount, 1u);
    const qxIncludeLine *l = run.applet->includeLines;
    EXPECT_EQ(l->first, 10u);
    EXPECT_EQ(l->last, 30u);
    EXPECT_EQ(l->offset, 4u);
    EXPECT_STREQ(l->name, "inc.qxs");
    EXPECT_EQ(std::string(l->source), path);
}

TEST(AppletLoad, LinkedFileWhoseDataRunsPastTheFile)
{
    AppletRun run;
    run.put("lf.qxa", assemble(".section 26 u32:1 u32:0 \"x.txt\" u32:5000 hex:00\n RETURN 0 1\n"));
    EXPECT_EQ(run.load(), ERR_UNEXPECTEDEOF);
}

TEST(AppletLoad, ChangesIntoTheAppletsDirectoryAndBack)
{
    AppletRun run;
    qxGlobalSettings.noChdir = 0;
    char *before = getcwd(nullptr, 0);
    run.put("cd.qxa", assemble("RETURN 0 1\n"));
    ASSERT_EQ(run.load(), 0);
    char *now = getcwd(nullptr, 0);
    EXPECT_EQ(std::string(now), run.dir);
    ASSERT_NE(qxAppletLoad.savedDir, nullptr);
    EXPECT_EQ(std::string(qxAppletLoad.savedDir), before);
    EXPECT_EQ(chdir(before), 0);
    std::free(before);
    std::free(now);
}

} // namespace
