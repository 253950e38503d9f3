// External programs and documents, the program thread, the environment,
// language and country from LANG, dates and random bytes.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/qx_locale.h"
#include "platform/qx_memory.h"
#include "platform/qx_process.h"
#include "platform/qx_threadevents.h"

namespace {

std::string readFile(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string &path, const std::string &text, mode_t mode)
{
    std::ofstream(path) << text;
    chmod(path.c_str(), mode);
}

// A scratch directory with a fake "xdg-open" first on PATH that records
// its arguments; PATH and the directory are restored afterwards.
class Programs : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/qxproc.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        mkdir((dir + "/bin").c_str(), 0755);
        writeFile(dir + "/bin/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$@\" >> " + dir + "/opened\n", 0755);
        writeFile(dir + "/bin/tool.v2", "#!/bin/sh\necho tool > " + dir + "/tool-ran\n", 0755);
        const char *path = std::getenv("PATH");
        savedPath = path ? path : "/usr/bin:/bin";
        setenv("PATH", (dir + "/bin:" + savedPath).c_str(), 1);
    }
    void TearDown() override
    {
        setenv("PATH", savedPath.c_str(), 1);
        std::system(("rm -rf " + dir).c_str());
    }
    std::string dir, savedPath;
};

void waitChild(pid_t pid)
{
    int status;
    waitpid(pid, &status, 0);
}

} // namespace

TEST_F(Programs, DocumentsAndUrlsGoToXdgOpenExecutablesRun)
{
    writeFile(dir + "/readme.txt", "text", 0644);
    writeFile(dir + "/run.sh", "#!/bin/sh\necho ran > " + dir + "/run-ran\n", 0755);
    EXPECT_EQ(qxIsDocument((dir + "/readme.txt").c_str()), 1);
    EXPECT_EQ(qxIsDocument("http://example.com/a.html"), 1);
    EXPECT_EQ(qxIsDocument("notes.odt"), 1);
    EXPECT_EQ(qxIsDocument((dir + "/run.sh").c_str()), 0);
    EXPECT_EQ(qxIsDocument("tool.v2"), 0); // found on PATH
    EXPECT_EQ(qxIsDocument("sh"), 0);
    EXPECT_EQ(qxIsDocument("setup.EXE"), 0);

    // Synchronous: the document path reaches xdg-open as one word.
    std::string spaced = dir + "/my notes; x.txt";
    writeFile(spaced, "text", 0644);
    EXPECT_EQ(qxRunProgram(spaced.c_str(), "ignored arguments", 0), 0);
    EXPECT_EQ(readFile(dir + "/opened"), spaced + "\n");

    // A script with a dot in its name runs itself, also asynchronously.
    EXPECT_EQ(qxRunProgram((dir + "/run.sh").c_str(), nullptr, 0), 0);
    EXPECT_EQ(readFile(dir + "/run-ran"), "ran\n");
    pid_t pid = 0;
    EXPECT_EQ(qxExecute("tool.v2", nullptr, 1, &pid), 0);
    ASSERT_GT(pid, 0);
    waitChild(pid);
    EXPECT_EQ(readFile(dir + "/tool-ran"), "tool\n");

    pid = 0;
    EXPECT_EQ(qxExecute("https://example.com/x", "dropped", 1, &pid), 0);
    ASSERT_GT(pid, 0);
    waitChild(pid);
    EXPECT_EQ(readFile(dir + "/opened"), spaced + "\nhttps://example.com/x\n");
}

TEST_F(Programs, AsynchronousArgumentsQuotesAndRedirection)
{
    pid_t pid = 0;
    std::string out = dir + "/out";
    ASSERT_EQ(qxExecute("/bin/echo", ("one \"two  three\" >" + out).c_str(), 1, &pid), 0);
    waitChild(pid);
    EXPECT_EQ(readFile(out), "one two  three\n");

    std::string err = dir + "/err";
    ASSERT_EQ(qxExecute("sh", ("-c \"echo oops 1>&2\" > " + err).c_str(), 1, &pid), 0);
    waitChild(pid);
    EXPECT_EQ(readFile(err), "oops\n");

    std::string words;
    for (int i = 0; i < 127; i++)
        words += "w ";
    ASSERT_EQ(qxExecute("/bin/true", words.c_str(), 1, &pid), 0);
    waitChild(pid);
    EXPECT_EQ(qxExecute("/bin/true", (words + "x").c_str(), 1, &pid), 1055);
    EXPECT_EQ(qxExecute("/bin/echo", "\"unclosed", 1, &pid), 1055);
}

TEST_F(Programs, ProgramThreadPostsTheEndEvent)
{
    ASSERT_EQ(qxCreateThreadEventQueue(), 0);
    qxProgramRequest request{};
    request.program = "/bin/sh";
    request.arguments = "-c \"exit 3\"";
    ASSERT_EQ(qxStartProgramThread(&request), 0);
    uint32_t type = 0, arg1, arg2;
    qxObjectRef id{};
    auto start = std::chrono::steady_clock::now();
    while (!qxPopThreadEvent(&type, &id, &arg1, &arg2) &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(type, QX_THREADEVENT_PROGRAM_END);
    EXPECT_EQ(id.number, 0u);
    EXPECT_EQ(id.automatic, &request);
    qxStopProgramThread(&request);
    EXPECT_EQ(request.thread, nullptr);

    // A program that cannot start reports why, and no thread stays.
    qxProgramRequest bad{};
    bad.program = "/bin/echo";
    bad.arguments = "\"never closed";
    EXPECT_EQ(qxStartProgramThread(&bad), 1287);
    EXPECT_EQ(bad.error, 1055);
    EXPECT_EQ(bad.thread, nullptr);
}

TEST(Environment, SetGetUnset)
{
    EXPECT_EQ(qxSetEnv("QX_TEST_VARIABLE", "value 1"), 0);
    char *v = qxGetEnv("QX_TEST_VARIABLE");
    ASSERT_NE(v, nullptr);
    EXPECT_STREQ(v, "value 1");
    qxFree(v);
    EXPECT_EQ(qxUnsetEnv("QX_TEST_VARIABLE"), 0);
    EXPECT_EQ(qxGetEnv("QX_TEST_VARIABLE"), nullptr);
    EXPECT_EQ(qxSetEnv("BAD=NAME", "x"), 1440);
    EXPECT_EQ(qxUnsetEnv("BAD=NAME"), 1441);
}

namespace {
// Sets LANG (or unsets it for NULL) for one scope.
struct LangScope {
    explicit LangScope(const char *value)
    {
        if (const char *old = std::getenv("LANG"))
            saved = old, had = true;
        if (value)
            setenv("LANG", value, 1);
        else
            unsetenv("LANG");
    }
    ~LangScope()
    {
        if (had)
            setenv("LANG", saved.c_str(), 1);
        else
            unsetenv("LANG");
    }
    std::string saved;
    bool had = false;
};
} // namespace

TEST(Locale, LanguageAndCountryFromLang)
{
    const char *two = nullptr, *three = nullptr;
    {
        LangScope lang("de_AT.UTF-8");
        EXPECT_EQ(qxGetLanguage(), 1u);
        uint32_t country = qxGetLocaleCountry();
        ASSERT_EQ(qxGetCountryCodes(country, &two, &three), 1);
        EXPECT_STREQ(two, "AT");
        EXPECT_STREQ(three, "AUT");
    }
    {
        LangScope lang(nullptr);
        EXPECT_EQ(qxGetLanguage(), 18u);
        EXPECT_EQ(qxGetLocaleCountry(), 38u);
    }
    {
        LangScope lang("C");
        EXPECT_EQ(qxGetLanguage(), 18u);
        EXPECT_EQ(qxGetLocaleCountry(), 38u);
    }
    {
        LangScope lang("pt_BRA");
        EXPECT_EQ(qxGetLanguage(), 6u);
        ASSERT_EQ(qxGetCountryCodes(qxGetLocaleCountry(), &two, nullptr), 1);
        EXPECT_STREQ(two, "BR");
    }
    {
        LangScope lang("xx_QQ");
        EXPECT_EQ(qxGetLanguage(), 18u);
        EXPECT_EQ(qxGetLocaleCountry(), 38u);
    }
    EXPECT_EQ(qxGetCountryCodes(38, &two, &three), 0);
    const char *code = nullptr, *english = nullptr;
    ASSERT_EQ(qxGetLanguageCodes(19, &code, &english), 1);
    EXPECT_STREQ(code, "ab");
    EXPECT_STREQ(english, "abkhazian");
    EXPECT_STREQ(qxLanguageNativeName(4), "fran\xC3\xA7" "ais");
    EXPECT_EQ(qxLanguageNativeName(17), nullptr);
    EXPECT_STREQ(qxLanguageEnglishName(17), "russian");
    EXPECT_EQ(qxLanguageEnglishName(18), nullptr);
    // Every number is used once.
    for (unsigned i = 0; i < qxCountryCount; i++)
        for (unsigned j = i + 1; j < qxCountryCount; j++)
            ASSERT_NE(qxCountryTable[i].number, qxCountryTable[j].number);
}

namespace {
struct TzScope {
    explicit TzScope(const char *tz)
    {
        if (const char *old = std::getenv("TZ"))
            saved = old, had = true;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~TzScope()
    {
        if (had)
            setenv("TZ", saved.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    std::string saved;
    bool had = false;
};
} // namespace

TEST(Dates, ConversionsAndTimeZones)
{
    {
        TzScope tz("UTC0");
        time_t times[2] = {0, 1549497600 + 3661}; // 7 February 2019 01:01:01
        qxDateRecord date{};
        qxTimeToDate(times, &date, 1);
        EXPECT_EQ(date.year, 2019);
        EXPECT_EQ(date.month, 1);
        EXPECT_EQ(date.day, 7);
        EXPECT_EQ(date.hours, 1);
        EXPECT_EQ(date.minutes, 1);
        EXPECT_EQ(date.seconds, 1);
        int dst = -1;
        EXPECT_EQ(qxGetTimeZone(&dst), 0);
        EXPECT_EQ(dst, 0);
    }
    {
        TzScope tz("EST5");
        EXPECT_EQ(qxGetTimeZone(nullptr), 300);
    }
    {
        TzScope tz("IST-5:30");
        EXPECT_EQ(qxGetTimeZone(nullptr), -330);
    }
}

TEST(Dates, FormatsOfTheCurrentTime)
{
    TzScope tz("UTC0");
    char date[64], clock[64], utc[64], utcClock[64];
    time_t before = time(nullptr);
    qxFormatDateTime(1, date, sizeof date, clock, sizeof clock);
    qxFormatDateTime(4, utc, sizeof utc, utcClock, sizeof utcClock);
    tm now{};
    gmtime_r(&before, &now);
    char expected[64];
    std::snprintf(expected, sizeof expected, "%02d-%02d-%d", now.tm_mon + 1, now.tm_mday, now.tm_year + 1900);
    EXPECT_STREQ(date, expected);
    EXPECT_STREQ(utc, expected);
    EXPECT_EQ(std::strlen(clock), 8u);
    EXPECT_EQ(clock[2], ':');
    EXPECT_EQ(clock[5], ':');
    char timeOnly[64];
    qxFormatDateTime(2, timeOnly, sizeof timeOnly, nullptr, 0);
    EXPECT_EQ(std::strlen(timeOnly), 8u);

    LangScope lang("C");
    setenv("LC_ALL", "C", 1);
    char weekday[64], want[64];
    qxFormatDateTime(3, weekday, sizeof weekday, nullptr, 0);
    time_t t = time(nullptr);
    tm local{};
    localtime_r(&t, &local);
    strftime(want, sizeof want, "%A", &local);
    EXPECT_STREQ(weekday, want);
    char localeDate[64];
    qxFormatDateTime(0, localeDate, sizeof localeDate, nullptr, 0);
    strftime(want, sizeof want, "%m/%d/%y", &local); // D_FMT of the C locale
    EXPECT_STREQ(localeDate, want);
    unsetenv("LC_ALL");
}

TEST(Random, BytesFromUrandom)
{
    unsigned char a[64] = {}, b[64] = {};
    ASSERT_EQ(qxRandomBytes(a, sizeof a), 1);
    ASSERT_EQ(qxRandomBytes(b, sizeof b), 1);
    EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
    EXPECT_EQ(qxRandomBytes(a, 0), 1);
}
