// Command line, configuration file and option rules.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/errors/qx_messages.h"
#include "core/runtime/qx_options.h"
#include "platform/qx_memory.h"
#include "platform/qx_paths.h"
#include "platform/qx_text.h"

namespace {

struct QxFreeDeleter {
    void operator()(void *p) const { qxFree(p); }
};
using QxText = std::unique_ptr<char, QxFreeDeleter>;

// One start-up's worth of option state; frees what the parsers allocate.
struct OptRun {
    qxOptionValues vals{};
    std::unique_ptr<qxStartupInfo> startup = std::make_unique<qxStartupInfo>();
    std::unique_ptr<qxAppletInfo> applet = std::make_unique<qxAppletInfo>();
    QxText line;
    std::string config;

    OptRun() {
        *startup = qxStartupInfo{};
        *applet = qxAppletInfo{};
        qxInitDisplayDefaults(applet.get());
    }
    ~OptRun() {
        qxFreeNameValues(startup.get());
        qxFreeOptionSettings();
        qxGlobalSettings = qxSettings{"default", 0, 0, 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr};
    }

    int parse(std::vector<std::string> args) {
        std::vector<char *> argv{const_cast<char *>("zephyrane")};
        for (auto &a : args) argv.push_back(a.data());
        line.reset(qxJoinCommandLine(int(argv.size()), argv.data()));
        if (!line) return -1;
        return qxParseCommandLine(line.get(), &vals, startup.get());
    }
    int parseConfig(const std::string &text) {
        config = text;
        return qxParseConfigText(config.data(), &vals, startup.get());
    }
    int apply() { return qxApplyOptions(&vals, startup.get(), applet.get()); }
    int parseAndApply(std::vector<std::string> args) {
        int err = parse(std::move(args));
        return err ? err : apply();
    }

    std::vector<std::pair<std::string, std::string>> extras() const {
        std::vector<std::pair<std::string, std::string>> out;
        for (auto *n = startup->extraArgs; n; n = n->next) out.emplace_back(n->name, n->value);
        return out;
    }
    std::string slot(uint32_t id) const { return vals.slot[id] ? vals.slot[id] : "<none>"; }
};

using Pairs = std::vector<std::pair<std::string, std::string>>;

// ---------------------------------------------------------------------------

TEST(OptionTable, SixtyFiveRowsWithUniqueIdentifiers) {
    bool seen[QX_OPTION_SLOTS] = {};
    int rows = 0, sections = 0;
    for (const qxOptionDef *row = qxOptionTable; row->name; ++row, ++rows) {
        ASSERT_GE(row->id, 1u);
        ASSERT_LE(row->id, 111u);
        EXPECT_FALSE(seen[row->id]) << row->name;
        seen[row->id] = true;
        EXPECT_EQ(row->takesValue, row->valueName ? 1u : 0u) << row->name;
        EXPECT_EQ(qxFindOption(row->name, std::strlen(row->name)), row);
        sections += row->sectionMsg != 0;
    }
    EXPECT_EQ(rows, 65);
    EXPECT_EQ(sections, 8);
    EXPECT_STREQ(qxOptionTable[0].name, "WINDOW");
    EXPECT_STREQ(qxOptionTable[64].name, "SOFTTIMER");
    const qxOptionDef *bf = qxFindOption("backfill", 8);
    ASSERT_NE(bf, nullptr);
    EXPECT_STREQ(bf->valueName, "<mode>");
    EXPECT_STREQ(bf->choices, "color|gradient|texture|picture");
    EXPECT_STREQ(qxFindOption("Encoding", 8)->choices, "utf8|iso8859_1");
    EXPECT_STREQ(qxFindOption("PICTRANS", 8)->choices, "$RRGGBB");
    EXPECT_EQ(qxFindOption("WINDOWX", 7), nullptr);
    EXPECT_EQ(qxFindOption("WIN", 3), nullptr);
}

TEST(OptionTable, HelpTextsAreTheMessageRows) {
    auto text = [](uint32_t index) -> std::string {
        for (const qxErrorMessage &m : qxErrorMessages)
            if (m.index == index) return m.text;
        return "<missing>";
    };
    const qxOptionDef *first = &qxOptionTable[0];
    EXPECT_EQ(text(first->sectionMsg), "Arguments controlling the window style:");
    EXPECT_EQ(text(first->helpMsg), "open script in a window (default)");
    EXPECT_EQ(text(qxFindOption("TEMPDIR", 7)->helpMsg), "store temporary files in this directory");
    EXPECT_EQ(text(qxFindOption("HELP", 4)->sectionMsg), "Miscellaneous arguments:");
    EXPECT_EQ(text(qxOptionTable[64].helpMsg), "use low resolution software timer");
}

TEST(StrToNumber, FormsAndConsumedLength) {
    struct Case {
        const char *text;
        double value;
        int consumed;
    } cases[] = {
        {"$280", 640, 4},     {"-$10", -16, 4},  {"-$-10", 16, 5},   {"$-ff", -255, 4},
        {"%101", 5, 4},       {"-%11", -3, 4},   {"0x1F", 31, 4},    {"0Xa", 10, 3},
        {"50%", 50, 2},       {".5x", 0.5, 2},   {"12.25 ", 12.25, 5}, {"-7", -7, 2},
        {"0", 0, 1},          {"1e3", 1000, 3},  {"$FFFFFFFF", 4294967295.0, 9},
    };
    for (const Case &c : cases) {
        int used = -1, err = -1;
        EXPECT_EQ(qxStrToNumber(c.text, &used, &err), c.value) << c.text;
        EXPECT_EQ(err, 0) << c.text;
        EXPECT_EQ(used, c.consumed) << c.text;
    }
}

TEST(StrToNumber, Errors) {
    for (const char *t : {"", "-", "abc", ".", ".e1", " 5", "+5", "%", "%2", "--1"}) {
        int used, err;
        qxStrToNumber(t, &used, &err);
        EXPECT_EQ(err, 1024) << '"' << t << '"';
    }
    for (const char *t : {"$", "$g", "-$-", "0x", "0xg", "-0X"}) {
        int used, err;
        qxStrToNumber(t, &used, &err);
        EXPECT_EQ(err, 1018) << '"' << t << '"';
    }
}

TEST(StrToNumber, DecimalsAgreeWithStrtodAndIgnoreLocale) {
    const char *samples[] = {"3.14159", "0.1", "123456789.987654321", "1e-5", "2.5e+10",
                             "0.0000001", "99999999999999999999", "7.", "1e400", "1e-400"};
    for (const char *t : samples) {
        int used, err;
        char *end;
        double expected = std::strtod(t, &end);
        EXPECT_EQ(qxStrToNumber(t, &used, &err), expected) << t;
        EXPECT_EQ(err, 0);
        EXPECT_EQ(used, int(end - t)) << t;
    }
    // A locale with a decimal comma must not change how options read.
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
        int used, err;
        EXPECT_EQ(qxStrToNumber("1.5", &used, &err), 1.5);
        std::setlocale(LC_NUMERIC, "C");
    }
    // Very long hexadecimal runs are read without overflow traps.
    std::string hex = "$" + std::string(400, 'F');
    int used, err;
    double v = qxStrToNumber(hex.c_str(), &used, &err);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(used, 401);
    EXPECT_GT(v, 1e300);
}

TEST(SplitList, BarsBecomeTerminators) {
    QxText list(qxSplitList("a.qxp|bb||c"));
    ASSERT_TRUE(list);
    EXPECT_EQ(std::memcmp(list.get(), "a.qxp\0bb\0\0c\0", 13), 0);
    QxText empty(qxSplitList(""));
    EXPECT_EQ(std::memcmp(empty.get(), "\0", 2), 0);
}

// ---------------------------------------------------------------------------

TEST(CommandLine, JoinQuotesWordsAndKeepsOptions) {
    std::vector<std::string> args{"-WINWIDTH", "640", "my game.qxa", "-FOO", ""};
    std::vector<char *> argv{const_cast<char *>("x")};
    for (auto &a : args) argv.push_back(a.data());
    QxText line(qxJoinCommandLine(int(argv.size()), argv.data()));
    EXPECT_STREQ(line.get(), "-WINWIDTH \"640\" \"my game.qxa\" -FOO \"\"");
    QxText none(qxJoinCommandLine(1, argv.data()));
    EXPECT_STREQ(none.get(), "");
}

TEST(CommandLine, SpecExamples) {
    {
        OptRun r;
        ASSERT_EQ(r.parseAndApply({"-WINWIDTH", "50%", "-winheight", "$280", "game.qxa"}), 0);
        EXPECT_EQ(r.applet->winWidth, -50);
        EXPECT_EQ(r.applet->winHeight, 640);
        EXPECT_EQ(r.slot(QX_OPT_APPLET), "game.qxa");
    }
    {
        OptRun r;
        EXPECT_EQ(r.parse({"game.qxa", "-WINWIDTH"}), 1060);
    }
    {
        OptRun r;
        EXPECT_EQ(r.parse({"a.qxa", "b.qxa"}), 1060);
    }
    {
        OptRun r;
        ASSERT_EQ(r.parse({"-FOO", "7", "game.qxa", "-bar"}), 0);
        EXPECT_EQ(r.extras(), (Pairs{{"FOO", "7"}, {"bar", ""}}));
        EXPECT_EQ(r.slot(QX_OPT_APPLET), "game.qxa");
    }
}

TEST(CommandLine, WordAssignmentAndErrors) {
    {
        // An extra name followed by an option keeps an empty value.
        OptRun r;
        ASSERT_EQ(r.parse({"-FOO", "-Quiet", "x.qxa", "-BAR", "1", "-BAR", "2"}), 0);
        EXPECT_EQ(r.extras(), (Pairs{{"FOO", ""}, {"BAR", "1"}, {"BAR", "2"}}));
        EXPECT_EQ(r.vals.slot[QX_OPT_QUIET], QX_OPTION_SET);
    }
    {
        OptRun r; // an option still waiting when the next option comes
        EXPECT_EQ(r.parse({"-WINWIDTH", "-WINDOW"}), 1060);
    }
    {
        OptRun r; // a minus that names nothing
        EXPECT_EQ(r.parse({"-", "x"}), 1060);
    }
    {
        OptRun r; // a quote inside an option word opens a word it never closes
        EXPECT_EQ(r.parse({"-FOO\"bar"}), 1060);
    }
    char raw1[] = "\"abc";
    char raw2[] = "-WINWIDTH \"\" app";
    char raw3[] = "\"\"\"";
    OptRun r1, r2, r3;
    EXPECT_EQ(qxParseCommandLine(raw1, &r1.vals, r1.startup.get()), 1060);
    EXPECT_EQ(qxParseCommandLine(raw2, &r2.vals, r2.startup.get()), 0);
    EXPECT_EQ(r2.slot(QX_OPT_WINWIDTH), "");
    EXPECT_EQ(r2.slot(QX_OPT_APPLET), "app");
    EXPECT_EQ(qxParseCommandLine(raw3, &r3.vals, r3.startup.get()), 1060);
}

TEST(CommandLine, ArgumentsWithSpacesAndQuotesSurvive) {
    OptRun r;
    ASSERT_EQ(r.parse({"-BRUSHFILE", "/pics/my \"best\" pic.png", "-FOO", "\"", "dir with space/a.qxa",
                       "-BAR", "\"\"", "-BAZ", ""}),
              0);
    EXPECT_EQ(r.slot(QX_OPT_BRUSHFILE), "/pics/my \"best\" pic.png");
    EXPECT_EQ(r.slot(QX_OPT_APPLET), "dir with space/a.qxa");
    EXPECT_EQ(r.extras(), (Pairs{{"FOO", "\""}, {"BAR", "\"\""}, {"BAZ", ""}}));
}

TEST(CommandLine, LongLinesKeepEveryArgument) {
    std::vector<std::string> args;
    for (int i = 0; i < 600; ++i) {
        args.push_back("-NAME" + std::to_string(i));
        args.push_back(std::string(20, char('a' + i % 26)) + std::to_string(i));
    }
    args.push_back("final game.qxa");
    OptRun r;
    ASSERT_EQ(r.parse(args), 0);
    auto extras = r.extras();
    ASSERT_EQ(extras.size(), 600u);
    EXPECT_EQ(extras[599].first, "NAME599");
    EXPECT_EQ(extras[599].second, std::string(20, char('a' + 599 % 26)) + "599");
    EXPECT_EQ(r.slot(QX_OPT_APPLET), "final game.qxa");
}

// ---------------------------------------------------------------------------

TEST(ConfigFile, PathOfTheApplet) {
    char out[64];
    ASSERT_EQ(qxConfigFilePath("/data/game.v2.qxa", out, sizeof out), 1);
    EXPECT_STREQ(out, "/data/game.v2.ini");
    qxConfigFilePath("/my.dir/game", out, sizeof out);
    EXPECT_STREQ(out, "/my.dir/game.ini");
    qxConfigFilePath("game.qxa", out, sizeof out);
    EXPECT_STREQ(out, "game.ini");
    ASSERT_EQ(qxLinkedConfigFilePath("/opt/app.bin", out, sizeof out), 1);
    EXPECT_STREQ(out, "/opt/app.bin.ini");
    // Exactly fitting, and one byte short.
    EXPECT_EQ(qxConfigFilePath("/a/bc.qxa", out, 10), 1);
    EXPECT_STREQ(out, "/a/bc.ini");
    EXPECT_EQ(qxConfigFilePath("/a/bc.qxa", out, 9), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(qxLinkedConfigFilePath("/a/b", out, 8), 0);
}

TEST(ConfigFile, OverridesTheCommandLine) {
    OptRun r;
    ASSERT_EQ(r.parse({"-NOSOUND", "-WINWIDTH", "100", "g.qxa"}), 0);
    ASSERT_EQ(r.parseConfig("# settings\n[Display]\nNOSOUND = no\r\nwinwidth=  320  \n"
                            "quiet=1\nforcesound = On\nnochdir = 0\nFOO = \"a # b\"  \nBAR=\n"),
              0);
    EXPECT_EQ(r.vals.slot[QX_OPT_NOSOUND], nullptr);
    EXPECT_EQ(r.slot(QX_OPT_WINWIDTH), "320");
    EXPECT_EQ(r.vals.slot[QX_OPT_QUIET], QX_OPTION_SET);
    EXPECT_EQ(r.vals.slot[QX_OPT_FORCESOUND], QX_OPTION_SET);
    EXPECT_EQ(r.vals.slot[QX_OPT_NOCHDIR], nullptr);
    EXPECT_EQ(r.extras(), (Pairs{{"FOO", "a # b"}, {"BAR", ""}}));
    ASSERT_EQ(r.apply(), 0);
    EXPECT_EQ(r.startup->noSound, 0u);
    EXPECT_EQ(r.applet->winWidth, 320);
}

TEST(ConfigFile, SwitchWords) {
    struct Case {
        const char *value;
        bool on;
    } cases[] = {{"true", true}, {"YES", true}, {"on", true}, {"1", true}, {"-2", true},
                 {"0.5", true},  {"0", false},  {"0.0", false}, {"no", false}, {"off", false},
                 {"", false},    {"1x", false}, {"\"yes\"", true}};
    for (const Case &c : cases) {
        OptRun r;
        ASSERT_EQ(r.parseConfig(std::string("nosound=") + c.value), 0) << c.value;
        EXPECT_EQ(r.vals.slot[QX_OPT_NOSOUND] != nullptr, c.on) << c.value;
    }
}

TEST(ConfigFile, SyntaxErrors) {
    const char *bad[] = {
        "1nosound = 1\n",        // name starts with a digit
        "_x = 1\n",              // ... or with an underscore
        "NOSOUND 1\n",           // no "="
        "NOSOUND\n= 1\n",        // "=" on the next line
        "FOO = \"open\n\"\n",    // line end inside quotes
        "FOO = \"open",          // end of file inside quotes
        "FOO-BAR = 1\n",
    };
    for (const char *text : bad) {
        OptRun r;
        EXPECT_EQ(r.parseConfig(text), 1363) << text;
    }
    std::string name127(127, 'N'), name128(128, 'N');
    OptRun ok, tooLong;
    EXPECT_EQ(ok.parseConfig(name127 + "=1"), 0);
    EXPECT_EQ(ok.extras(), (Pairs{{name127, "1"}}));
    EXPECT_EQ(tooLong.parseConfig(name128 + "=1"), 1363);
}

TEST(ConfigFile, EmptyValueDoesNotTakeTheNextLine) {
    OptRun r;
    ASSERT_EQ(r.parseConfig("TEMPDIR =\nXSERVER = :1\n\n   \t"), 0);
    EXPECT_EQ(r.slot(QX_OPT_TEMPDIR), "");
    EXPECT_EQ(r.slot(QX_OPT_XSERVER), ":1");
}

// ---------------------------------------------------------------------------

TEST(ApplyOptions, DisplayModes) {
    {
        OptRun r;
        EXPECT_EQ(r.parseAndApply({"-FULLSCREEN", "-WINDOW"}), 1569);
    }
    {
        OptRun r;
        EXPECT_EQ(r.parseAndApply({"-AUTOSCALE", "-LAYERSCALE"}), 1569);
    }
    {
        OptRun r;
        ASSERT_EQ(r.parseAndApply({"-FAKEFULLSCREEN"}), 0);
        EXPECT_EQ(r.applet->displayMode, QX_DISPMODE_FAKEFULLSCREEN);
    }
    {
        OptRun r;
        ASSERT_EQ(r.parseAndApply({}), 0);
        EXPECT_EQ(r.applet->displayMode, QX_DISPMODE_NONE);
    }
}

TEST(ApplyOptions, DisplayFlagsAndScaling) {
    OptRun r;
    ASSERT_EQ(r.parseAndApply({"-BORDERLESS", "-SIZEABLE", "-NATIVEUNITS", "-LAYERSCALE",
                               "-SCALEWIDTH", "50%", "-SCALEHEIGHT", "480", "-SMOOTHSCALE",
                               "-NOSCALEENGINE", "-MAXIMIZED", "-SYSTEMSCALE"}),
              0);
    EXPECT_EQ(r.applet->displayFlags, 0x1u | 0x2u | 0x80000000u | 0x100u | 0x80u | 0x40000000u |
                                          0x10000000u);
    EXPECT_EQ(r.applet->scaleWidth, -50);
    EXPECT_EQ(r.applet->scaleHeight, 480);
    EXPECT_EQ(r.applet->displayMode, QX_DISPMODE_SYSTEMSCALE);

    OptRun f; // the factor wins over sizes
    ASSERT_EQ(f.parseAndApply({"-AUTOSCALE", "-SCALEFACTOR", "1.5", "-SCALEWIDTH", "800"}), 0);
    EXPECT_EQ(f.applet->scaleFactor, 1.5);
    EXPECT_EQ(f.applet->scaleWidth, 0);

    OptRun n; // scaling values without a scaling engine are not read at all
    ASSERT_EQ(n.parseAndApply({"-SCALEFACTOR", "junk", "-SCALEWIDTH", "800"}), 0);
    EXPECT_EQ(n.applet->scaleFactor, 1.0);
    EXPECT_EQ(n.applet->scaleWidth, 0);
}

TEST(ApplyOptions, NumbersAndRanges) {
    struct Case {
        std::vector<std::string> args;
        int err;
    } cases[] = {
        {{"-WINWIDTH", "wide"}, 1024}, {{"-WINWIDTH", "$"}, 1018},  {{"-SCRDEPTH", "0x"}, 1018},
        {{"-MONITOR", "0"}, 1557},     {{"-MONITOR", "-1"}, 1060},   {{"-NUMCHANNELS", "0"}, 1569},
        {{"-NUMCHANNELS", "."}, 1024}, {{"-ENCODING", "latin1"}, 1584},
    };
    for (auto &c : cases) {
        OptRun r;
        EXPECT_EQ(r.parseAndApply(c.args), c.err) << c.args[0] << ' ' << c.args[1];
    }
    OptRun r;
    ASSERT_EQ(r.parseAndApply({"-MONITOR", "2.9", "-NUMCHANNELS", "16", "-SCRWIDTH", "1e12",
                               "-SCRHEIGHT", "-$0", "-WINWIDTH", "-0", "-WINHEIGHT", "99999999999%"}),
              1060); // "-$0" and "-0" start options
    OptRun ok;
    ASSERT_EQ(ok.parseAndApply({"-MONITOR", "2.9", "-NUMCHANNELS", "16", "-SCRWIDTH", "1e12",
                                "-WINHEIGHT", "99999999999%", "-ENCODING", "UTF8"}),
              0);
    EXPECT_EQ(ok.applet->monitor, 1);
    EXPECT_EQ(ok.startup->numChannels, 16u);
    EXPECT_EQ(ok.applet->scrWidth, INT32_MAX);
    EXPECT_EQ(ok.applet->winHeight, -INT32_MAX);
    EXPECT_EQ(ok.applet->scrDepth, -1);
    EXPECT_EQ(qxTextModeUtf8, 1);
}

TEST(ApplyOptions, Backfill) {
    {
        OptRun r;
        EXPECT_EQ(r.parseAndApply({"-BACKFILL", "gradient", "-STARTCOLOR", "$FF0000"}), 1243);
    }
    for (auto args : std::vector<std::vector<std::string>>{
             {"-BACKFILL", "stripes"},
             {"-BACKFILL", "COLOR"},
             {"-BACKFILL", "texture"},
             {"-BACKFILL", "picture", "-BRUSH", "1", "-BRUSHFILE", "a.png"}}) {
        OptRun r;
        EXPECT_EQ(r.parseAndApply(args), 1243) << args[1];
    }
    {
        OptRun r;
        ASSERT_EQ(r.parseAndApply({"-BACKFILL", "Rainbow", "-STARTCOLOR", "$FF0000", "-ENDCOLOR",
                                   "$80FF0000", "-HIDETITLEBAR"}),
                  0);
        EXPECT_EQ(r.applet->backfill.mode, 2u);
        EXPECT_EQ(r.applet->backfill.startColor, 0xFF0000);
        EXPECT_EQ(uint32_t(r.applet->backfill.endColor), 0x80FF0000u);
        EXPECT_EQ(r.applet->backfill.hideTitleBar, 1u);
        EXPECT_EQ(r.applet->backfill.x, -100000);
        EXPECT_EQ(r.applet->backfill.transColor, -1);
    }
    {
        OptRun r;
        ASSERT_EQ(r.parseAndApply({"-BACKFILL", "picture", "-BRUSHFILE", "/p/back ground.png",
                                   "-SCALEPICTURE", "-PICXPOS", "10", "-PICYPOS", "$20",
                                   "-PICTRANS", "$00FF00"}),
                  0);
        const qxBackfill &bf = r.applet->backfill;
        EXPECT_EQ(bf.mode, 4u);
        EXPECT_STREQ(bf.imagePath, "/p/back ground.png");
        EXPECT_EQ(bf.scale, 1u);
        EXPECT_EQ(bf.x, 10);
        EXPECT_EQ(bf.y, 32);
        EXPECT_EQ(bf.transColor, 0x00FF00);
        EXPECT_EQ(bf.startColor, -1);
    }
    {
        OptRun r; // without BACKFILL the group is ignored, even when malformed
        ASSERT_EQ(r.parseAndApply({"-STARTCOLOR", "red", "-BRUSH", "1", "-BRUSHFILE", "x"}), 0);
        EXPECT_EQ(r.applet->backfill.mode, 0u);
        EXPECT_EQ(r.applet->backfill.brushId, 0);
    }
    {
        OptRun r; // a path longer than the record's field is refused, not cut
        ASSERT_EQ(r.parseAndApply({"-BACKFILL", "picture", "-BRUSHFILE", std::string(1024, 'p')}),
                  1569);
    }
}

TEST(ApplyOptions, ProcessSettings) {
    std::string oldTemp = qxGetTempDirectory();
    {
        OptRun r;
        ASSERT_EQ(r.parseAndApply({"-SKIPPLUGINS", "a.qxp|b.qxp", "-REQUIREPLUGINS", "c",
                                   "-REQUIRETAGS", "c=x|y", "-SETCONSTANTS", "A=1|B", "-DEBUGDEVICE",
                                   "con", "-DEBUGOUTPUT", "-NODEBUG", "-FORCEFLUSH",
                                   "-OVERRIDEPLACEMENT", "-AUDIODEVICE", "hw:1,0", "-XSERVER",
                                   ":2", "-NOMOUSEHOOK", "-SOFTTIMER", "-NOCHDIR", "-TEMPDIR",
                                   "/var/tmp", "-QUIET", "-NOSOUND", "-FORCESOUND",
                                   "-ALLDISPLAYS", "-HELP"}),
                  0);
        const qxSettings &g = qxGlobalSettings;
        EXPECT_EQ(std::memcmp(g.skipList, "a.qxp\0b.qxp\0", 13), 0);
        EXPECT_EQ(std::memcmp(g.requireList, "c\0", 3), 0);
        EXPECT_STREQ(g.requireTags, "c=x|y");
        EXPECT_STREQ(g.setConstants, "A=1|B");
        EXPECT_EQ(g.consoleReport + g.debugOutput + g.noDebug + g.forceFlush +
                      g.overridePlacement + g.noPointerWatch + g.noChdir,
                  7u);
        EXPECT_EQ(g.backendFlags, 1u);
        EXPECT_STREQ(g.alsaDevice, "hw:1,0");
        EXPECT_STREQ(r.applet->xServer, ":2");
        EXPECT_STREQ(qxGetTempDirectory(), "/var/tmp");
        EXPECT_EQ(r.startup->quiet + r.startup->noSound + r.startup->forceSound +
                      r.startup->allDisplays,
                  4u);
        // Shutdown frees the texts before the error report, which still
        // needs to know where the report goes.
        qxFreeOptionSettings();
        EXPECT_EQ(g.skipList, nullptr);
        EXPECT_EQ(g.setConstants, nullptr);
        EXPECT_EQ(g.consoleReport, 1u);
        EXPECT_STREQ(g.alsaDevice, "hw:1,0");
    }
    EXPECT_STREQ(qxGlobalSettings.alsaDevice, "default");
    EXPECT_EQ(qxGlobalSettings.skipList, nullptr);
    qxSetTempDirectory(oldTemp.c_str());

    OptRun longDevice;
    EXPECT_EQ(longDevice.parseAndApply({"-AUDIODEVICE", std::string(256, 'd')}), 1569);
    EXPECT_STREQ(qxGlobalSettings.alsaDevice, "default");
    OptRun longServer;
    EXPECT_EQ(longServer.parseAndApply({"-XSERVER", std::string(300, 'x')}), 1569);
    OptRun longTemp;
    EXPECT_EQ(longTemp.parseAndApply({"-TEMPDIR", "/" + std::string(1100, 't')}), 1569);
    EXPECT_STREQ(qxGetTempDirectory(), oldTemp.c_str());
}

TEST(ApplyOptions, Latin1Encoding) {
    OptRun r;
    ASSERT_EQ(r.parseAndApply({"-ENCODING", "ISO8859_1"}), 0);
    EXPECT_EQ(qxTextModeUtf8, 0);
    qxSetTextModeUtf8(1);
}

TEST(ApplyOptions, Defaults) {
    OptRun r;
    const qxAppletInfo &a = *r.applet;
    EXPECT_EQ(a.scaleFactor, 1.0);
    EXPECT_EQ(a.scrWidth, -1);
    EXPECT_EQ(a.scrHeight, -1);
    EXPECT_EQ(a.scrDepth, -1);
    EXPECT_EQ(a.backfill.startColor, -1);
    EXPECT_EQ(a.backfill.endColor, -1);
    EXPECT_EQ(a.backfill.x, -100000);
    EXPECT_EQ(a.backfill.y, -100000);
    EXPECT_EQ(a.backfill.transColor, -1);
    EXPECT_EQ(sizeof(qxBackfill), 1064u);
}

} // namespace
