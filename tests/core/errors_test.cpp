// Error codes, the message table, message formatting and the report texts.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "core/files/qx_chunkname.h"
#include "core/errors/qx_errors.h"
#include "core/errors/qx_messages.h"

namespace {

std::string format(int code) {
    char buf[2048];
    std::memset(buf, 'Z', sizeof buf);
    qxFormatErrorCode(code, buf, sizeof buf);
    return buf;
}

std::string formatWith(int code, const char *str, int number = 0) {
    qxSetErrorString(str);
    qxSetErrorNumber(number);
    return format(code);
}

bool isUnassigned(int code) {
    return code == 1249 || (code >= 1406 && code <= 1408) || (code >= 1603 && code <= 1606);
}

// --- tables ---------------------------------------------------------------

TEST(ErrorTables, MessageRowsAreInIndexOrder) {
    for (unsigned i = 0; i < QX_MSG_COUNT; ++i) {
        ASSERT_EQ(qxErrorMessages[i].index, i);
        ASSERT_NE(qxErrorMessages[i].text, nullptr) << i;
    }
    EXPECT_STREQ(qxGetErrorText(QX_MSG_NOERROR), "No error occurred!");
    EXPECT_STREQ(qxGetErrorText(91), "Unknown error code!");
    EXPECT_STREQ(qxGetErrorText(92), "current line");
    EXPECT_STREQ(qxGetErrorText(194), "File");
    EXPECT_STREQ(qxGetErrorText(280), "In function");
    EXPECT_STREQ(qxGetErrorText(402), "Error");
    EXPECT_STREQ(qxGetErrorText(781), "Select Zephyrane applet to run");
    EXPECT_STREQ(qxGetErrorText(QX_MSG_COUNT), "");
    EXPECT_STREQ(qxGetErrorText(~0u), "");
}

TEST(ErrorTables, EveryCodeHasATextOrTheErrorString) {
    EXPECT_EQ(qxErrorCodeMap[0], 0);
    std::set<int32_t> used;
    const std::set<unsigned> notErrors = {QX_MSG_CURRENTLINE, QX_MSG_FILE, QX_MSG_INFUNCTION,
                                          QX_MSG_ERROR, QX_MSG_SELECTAPPLET};
    for (int code = 1000; code <= 1629; ++code) {
        int32_t index = qxErrorCodeMap[code - 999];
        if (code == 1064 || code == 1239 || code == 1265) {
            EXPECT_EQ(index, -1) << code;
            continue;
        }
        ASSERT_GE(index, 0) << code;
        ASSERT_LT(index, static_cast<int32_t>(QX_MSG_COUNT)) << code;
        EXPECT_STRNE(qxGetErrorText(index), "") << code;
        EXPECT_EQ(notErrors.count(index), 0u) << code;
        if (isUnassigned(code)) {
            EXPECT_EQ(index, static_cast<int32_t>(QX_MSG_UNKNOWNCODE)) << code;
        } else {
            EXPECT_TRUE(used.insert(index).second) << code << " shares row " << index;
        }
    }
}

TEST(ErrorTables, TemplatesUseOnlyKnownPlaceholders) {
    // A stray "%" would show literally; at most one "%s" and one "%d" each.
    for (const qxErrorMessage &row : qxErrorMessages) {
        std::string t = row.text;
        int s = 0, d = 0;
        for (size_t i = 0; i < t.size(); ++i) {
            if (t[i] != '%') continue;
            ASSERT_LT(i + 1, t.size()) << row.index;
            char c = t[++i];
            ASSERT_TRUE(c == 's' || c == 'd' || c == '%') << row.index << ": " << t;
            s += c == 's';
            d += c == 'd';
        }
        EXPECT_LE(s, 1) << row.index;
        EXPECT_LE(d, 1) << row.index;
    }
}

TEST(ErrorTables, ConstantsCoverEveryNamedCode) {
    std::set<std::string> names;
    std::set<int> codes;
    size_t n = 0;
    for (; qxErrorConstants[n].name; ++n) {
        const qxConstantDef &c = qxErrorConstants[n];
        EXPECT_EQ(std::strncmp(c.name, "ERR_", 4), 0) << c.name;
        EXPECT_EQ(c.str, nullptr);
        int code = static_cast<int>(c.num);
        EXPECT_EQ(c.num, code);
        EXPECT_TRUE(code == 0 || (code >= 1000 && code <= 1629)) << c.name;
        EXPECT_FALSE(isUnassigned(code)) << c.name;
        EXPECT_TRUE(names.insert(c.name).second) << c.name;
        EXPECT_TRUE(codes.insert(code).second) << c.name;
    }
    EXPECT_EQ(n, 1u + 630u - 8u);
    EXPECT_EQ(ERR_MEM, 1000);
    EXPECT_EQ(ERR_NUMBEREXPECTED, 1629);
    EXPECT_STREQ(qxErrorConstants[0].name, "ERR_NONE");
    EXPECT_STREQ(qxErrorConstants[n - 1].name, "ERR_NUMBEREXPECTED");
}

TEST(ErrorTables, OptionHelpFollowsTheOptionOrder) {
    EXPECT_STREQ(qxGetErrorText(QX_MSG_OPTHELP_FIRST), "open script in a window (default)");
    EXPECT_EQ(QX_MSG_OPTHELP_WINDOW, QX_MSG_OPTHELP_FIRST);
    EXPECT_EQ(QX_MSG_OPTHELP_SOFTTIMER, QX_MSG_OPTHELP_FIRST + 64);
    EXPECT_STREQ(qxGetErrorText(QX_MSG_OPTHELP_SOFTTIMER), "use low resolution software timer");
    EXPECT_STREQ(qxGetErrorText(QX_MSG_OPTSECTION_MISC), "Miscellaneous arguments:");
    EXPECT_STREQ(qxGetErrorText(QX_MSG_LOADINGPLUGIN), "Loading plugin %s");
    EXPECT_STREQ(qxGetErrorText(QX_MSG_DONE), "done");
}

// --- formatting -----------------------------------------------------------

TEST(FormatErrorCode, NumberArgument) {
    EXPECT_EQ(formatWith(ERR_NUMEXPECTED, "", 3), "Number expected in argument 3!");
    EXPECT_EQ(formatWith(ERR_STREXPECTED, "", -7), "String expected in argument -7!");
}

TEST(FormatErrorCode, BaseNameCodesAndWholeText) {
    EXPECT_EQ(formatWith(ERR_LOADPICTURE, "/a/b/c.png"), "Cannot load picture c.png !");
    EXPECT_EQ(formatWith(ERR_READFILE, "/a/b/c.png"), "Cannot read file c.png !");
    EXPECT_EQ(formatWith(ERR_NOALPHA, "x/y.png"), "Image \"y.png\" does not have an alpha channel!");
    EXPECT_EQ(formatWith(ERR_TABLEDECLA, "/a/b/c.png"), "Table /a/b/c.png not found!");
    EXPECT_EQ(formatWith(ERR_WRITEFILE, "/a/b/c.png"), "Cannot write to file /a/b/c.png !");
    EXPECT_EQ(formatWith(ERR_READFILE, "plain.txt"), "Cannot read file plain.txt !");
    EXPECT_EQ(formatWith(ERR_READFILE, "/dir/"), "Cannot read file  !");
}

TEST(FormatErrorCode, ChunkNamesShowTheirInnerBaseName) {
    const char *chunk = ":::chunk1100:5*gfx/title.png?/opt/game/game.qxa";
    EXPECT_EQ(formatWith(ERR_TABLEDECLA, chunk), "Table title.png not found!");
    EXPECT_EQ(formatWith(ERR_READFILE, chunk), "Cannot read file title.png !");
    EXPECT_EQ(formatWith(ERR_READFILE, ":::chunkS-1:0*mem.iff?"), "Cannot read file mem.iff !");
    EXPECT_EQ(formatWith(ERR_READFILE, ":::chunk12:x*a.png?b"), "Cannot read file unknown !");
    EXPECT_EQ(formatWith(ERR_READFILE, ":::chunk"), "Cannot read file unknown !");
}

TEST(FormatErrorCode, StoredMessageCodesShowTheStringAsItStands) {
    EXPECT_EQ(formatWith(ERR_ERRORCALLED, "Custom %s and %d and %n"), "Custom %s and %d and %n");
    EXPECT_EQ(formatWith(ERR_OPENFONT, "Cannot open font Vera with size 12!"),
              "Cannot open font Vera with size 12!");
    EXPECT_EQ(formatWith(ERR_CONFIG2, "bad line"), "bad line");
}

TEST(FormatErrorCode, NonErrorsAndUnassignedCodes) {
    EXPECT_EQ(format(ERR_NONE), "No error occurred!");
    for (int code : {1, 999, -1, -2, -100000, 1249, 1406, 1606})
        EXPECT_EQ(format(code), "Unknown error code!") << code;
}

TEST(FormatErrorCode, PercentSignsAndTemplateWithoutArguments) {
    EXPECT_EQ(formatWith(ERR_MALFORMPAT1, "ignored"), "Malformed pattern! (ends with \"%\")");
    EXPECT_EQ(formatWith(ERR_MISSINGOPBRACK, "ignored"), "Missing \"[\" after \"%f\" in pattern!");
    EXPECT_EQ(formatWith(ERR_MEM, "ignored", 5), "Out of memory!");
    EXPECT_EQ(formatWith(ERR_WRITE, ""),
              "Could not write all characters to file!\nCheck if there is enough free space!");
}

TEST(FormatErrorCode, CutsToTheBufferWithoutSplittingCharacters) {
    qxSetErrorString("\xC3\xA4\xC3\xA4\xC3\xA4");  // three a-umlauts
    char buf[10];
    qxFormatErrorCode(ERR_TABLEDECLA, buf, sizeof buf);  // "Table " + 2 bytes + cut
    EXPECT_STREQ(buf, "Table \xC3\xA4");
    qxFormatErrorCode(ERR_TABLEDECLA, buf, 1);
    EXPECT_STREQ(buf, "");
    buf[0] = 'x';
    qxFormatErrorCode(ERR_TABLEDECLA, buf, 0);  // nothing written
    EXPECT_EQ(buf[0], 'x');
    qxFormatErrorCode(ERR_TABLEDECLA, nullptr, 100);
}

TEST(FormatErrorCode, ErrorStringKeepsAtMost1023Bytes) {
    std::string longText(5000, 'x');
    std::string msg = formatWith(ERR_TABLEDECLA, longText.c_str());
    EXPECT_EQ(msg, "Table " + std::string(1023, 'x') + " not found!");
    EXPECT_EQ(formatWith(ERR_TABLEDECLA, nullptr), "Table  not found!");
}

TEST(FormatErrorCode, RegisteredMessages) {
    qxFreeErrorMessages();
    int a = qxRegisterErrorMessage("Level %s is broken!");
    int b = qxRegisterErrorMessage("Code %d, 100%% sure %x");
    EXPECT_EQ(a, 1630);
    EXPECT_EQ(b, 1631);
    EXPECT_EQ(formatWith(a, "/levels/one.lvl"), "Level /levels/one.lvl is broken!");
    EXPECT_EQ(formatWith(b, "", 42), "Code 42, 100% sure %x");
    EXPECT_EQ(format(1632), "Unknown error code!");
    EXPECT_EQ(format(2000000000), "Unknown error code!");
    EXPECT_EQ(qxRegisterErrorMessage(nullptr), 1632);
    EXPECT_EQ(format(1632), "");
    qxFreeErrorMessages();
    EXPECT_EQ(format(1630), "Unknown error code!");
    EXPECT_EQ(qxRegisterErrorMessage("again"), 1630);
    qxFreeErrorMessages();
}

// --- chunk names ----------------------------------------------------------

TEST(ChunkNameBaseName, Forms) {
    char out[64];
    ASSERT_EQ(qxChunkNameBaseName(":::chunk0:10*a/b/c.png?/x/y", out, sizeof out), 1);
    EXPECT_STREQ(out, "c.png");
    ASSERT_EQ(qxChunkNameBaseName(":::chunk7:1*PROGDIR:pic.iff?", out, sizeof out), 1);
    EXPECT_STREQ(out, "pic.iff");
    ASSERT_EQ(qxChunkNameBaseName(":::chunk7:1*dir\\win.bmp?c", out, sizeof out), 1);
    EXPECT_STREQ(out, "win.bmp");
    ASSERT_EQ(qxChunkNameBaseName(":::chunkS3:44*a?", out, sizeof out), 1);
    EXPECT_STREQ(out, "a");
    ASSERT_EQ(qxChunkNameBaseName(":::chunkS-1:0*m.wav?", out, sizeof out), 1);
    EXPECT_STREQ(out, "m.wav");
}

TEST(ChunkNameBaseName, Malformed) {
    char out[8];
    for (const char *bad : {"", "file.png", ":::chunk", ":::chunk1", ":::chunk1:", ":::chunk1:2",
                            ":::chunk1:2*name", ":::chunk:2*n?c", ":::chunk1:*n?c", ":::chunkA:2*n?c",
                            ":::chunk1:2*?c", ":::chunk1:2*dir/?c", ":::chunk1-2:3*n?c"})
        EXPECT_EQ(qxChunkNameBaseName(bad, out, sizeof out), 0) << bad;
    EXPECT_EQ(qxChunkNameBaseName(":::chunk1:2*12345678?c", out, sizeof out), 0);  // does not fit
    EXPECT_EQ(qxChunkNameBaseName(":::chunk1:2*1234567?c", out, sizeof out), 1);
    EXPECT_EQ(qxChunkNameBaseName(nullptr, out, sizeof out), 0);
    EXPECT_EQ(qxChunkNameBaseName(":::chunk1:2*n?c", nullptr, 8), 0);
}

// --- report ---------------------------------------------------------------

TEST(ErrorReport, Formats) {
    char buf[256];
    size_t n = qxBuildErrorReport("Division by zero!", "/home/u/game.qxs", 12, "DisplayBrush", buf,
                                  sizeof buf);
    EXPECT_STREQ(buf,
                 "Division by zero!\nFile: game.qxs (current line: 12 - In function: DisplayBrush)");
    EXPECT_EQ(n, std::strlen(buf));
    qxBuildErrorReport("Oops", "game.qxs", -1, "----", buf, sizeof buf);
    EXPECT_STREQ(buf, "Oops\nFile: game.qxs (current line: -1)");
    qxBuildErrorReport(nullptr, nullptr, 3, nullptr, buf, sizeof buf);
    EXPECT_STREQ(buf, "\nFile:  (current line: 3)");
    n = qxBuildErrorReport("Oops", "game.qxs", 1, "Cmd", buf, 8);
    EXPECT_STREQ(buf, "Oops\nFi");
    EXPECT_EQ(n, 7u);
}

TEST(ErrorReport, ConsoleLine) {
    char buf[128];
    qxBuildConsoleErrorLine("Stack overflow!", "main.qxs", 40, buf, sizeof buf);
    EXPECT_STREQ(buf, "main.qxs:40: Stack overflow!\n");
    qxBuildConsoleErrorLine("Stack overflow!", nullptr, 0, buf, sizeof buf);
    EXPECT_STREQ(buf, "Error: Stack overflow!\n");
    qxBuildConsoleErrorLine("Stack overflow!", "", 0, buf, sizeof buf);
    EXPECT_STREQ(buf, "Error: Stack overflow!\n");
}

TEST(ErrorReport, LinesAndFilesFromTheIncludeMap) {
    const qxReportLineEntry map[] = {
        {1, 50, 0, "main.qxs", ""},
        {51, 80, 9, "lib/util.qxs", ""},
        {1, 30, 0, "other.qxs", "other.qxa"},
    };
    EXPECT_EQ(qxComputeReportLine(map, 3, "", 10), 10);
    EXPECT_EQ(qxComputeReportLine(map, 3, "?", 10), 10);    // "?" counts as empty
    EXPECT_EQ(qxComputeReportLine(map, 3, nullptr, 60), 19);  // 60 - 51 + 9 + 1
    EXPECT_EQ(qxComputeReportLine(map, 3, "other.qxa", 30), 30);
    EXPECT_EQ(qxComputeReportLine(map, 3, "other.qxa", 31), -1);
    EXPECT_EQ(qxComputeReportLine(map, 3, "", 81), -1);
    EXPECT_EQ(qxComputeReportLine(nullptr, 0, "", 1), -1);
    EXPECT_STREQ(qxComputeReportFile(map, 3, nullptr, "?", 60), "lib/util.qxs");
    EXPECT_STREQ(qxComputeReportFile(map, 3, nullptr, "", 99), "---");
    EXPECT_STREQ(qxComputeReportFile(map, 3, "src.qxs", "", 60), "src.qxs");

    // With a source script: counted from "beginline", plus the ranges that
    // script included.
    const qxReportLineEntry inc[] = {
        {10, 20, 0, "src.qxs", ""}, {30, 35, 0, "other.qxs", ""}, {40, 44, 0, "src.qxs", ""}};
    EXPECT_EQ(qxComputeScriptReportLine(inc, 3, "src.qxs", 100, 5), 96 + 10 + 4);
    EXPECT_EQ(qxComputeScriptReportLine(nullptr, 0, nullptr, 7, 1), 7);
    EXPECT_EQ(qxComputeScriptReportLine(nullptr, 0, "x", 2147483647, -2147483647 - 1), 2147483647);
}

} // namespace
