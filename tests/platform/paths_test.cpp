// Path conversion, "PROGDIR:", full and real paths, the temporary directory
// and temporary files.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "core/runtime/qx_startup.h"
#include "platform/qx_paths.h"
#include "platform/qx_tempfiles.h"
#include "platform/qx_text.h"

namespace {

class Paths : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        char t[] = "/tmp/qx_paths_XXXXXX";
        ASSERT_NE(mkdtemp(t), nullptr);
        dir = t;
    }
    void TearDown() override
    {
        qxSetTextModeUtf8(1);
        qxSetTempDirectory(nullptr);
        qxSetProgramPath("");
        ASSERT_EQ(system(("rm -rf " + dir).c_str()), 0);
    }
    void touch(const std::string &path)
    {
        FILE *f = fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fclose(f);
    }
};

bool onTempList(const char *path)
{
    for (qxTempFile *t = qxTempFiles; t; t = t->next)
        if (!strcmp(t->path, path)) return true;
    return false;
}

} // namespace

TEST_F(Paths, NativePathConvertsAndTurnsBackslashes)
{
    char buf[64];
    EXPECT_STREQ(qxNativePath("a\\b\\c.txt", buf, sizeof buf, 1), "a/b/c.txt");
    EXPECT_STREQ(qxNativePath(":::chunk5:3*a\\b?c\\d", buf, sizeof buf, 1), ":::chunk5:3*a\\b?c\\d");
    qxSetTextModeUtf8(0);
    EXPECT_STREQ(qxNativePath("caf\xE9\\x", buf, sizeof buf, 1), "caf\xC3\xA9/x");
    EXPECT_STREQ(qxNativePath("caf\xE9", buf, sizeof buf, 0), "caf\xE9");
    qxSetTextModeUtf8(1);
    EXPECT_STREQ(qxNativePath("caf\xC3\xA9", buf, sizeof buf, 1), "caf\xC3\xA9");
    EXPECT_EQ(qxNativePath("0123456789", buf, 10, 1), nullptr);
    EXPECT_NE(qxNativePath("012345678", buf, 10, 1), nullptr);
}

TEST_F(Paths, ProgDirStandsForTheProgramsDirectory)
{
    qxSetProgramPath("/opt/zeph\xC3\xA9/bin/zephyrane");
    EXPECT_STREQ(qxGetProgramPath(), "/opt/zeph\xC3\xA9/bin/zephyrane");
    char buf[128];
    EXPECT_STREQ(qxNativePath("PROGDIR:data\\x.png", buf, sizeof buf, 1), "/opt/zeph\xC3\xA9/bin/data/x.png");
    EXPECT_STREQ(qxNativePath("PROGDIR:", buf, sizeof buf, 1), "/opt/zeph\xC3\xA9/bin");

    // ISO-8859-1 mode: the name is in the text mode, the native path in UTF-8.
    qxSetTextModeUtf8(0);
    EXPECT_STREQ(qxNativePath("PROGDIR:\xE9.png", buf, sizeof buf, 1), "/opt/zeph\xC3\xA9/bin/\xC3\xA9.png");

    qxSetProgramPath("/zephyrane");
    qxSetTextModeUtf8(1);
    EXPECT_STREQ(qxNativePath("PROGDIR:x", buf, sizeof buf, 1), "/x");

    // A real file under the program's directory opens through "PROGDIR:".
    touch(dir + "/data.bin");
    qxSetProgramPath((dir + "/zephyrane").c_str());
    FILE *f = qxFOpen(qxNativePath("PROGDIR:data.bin", buf, sizeof buf, 1), "rb", 0);
    ASSERT_NE(f, nullptr);
    fclose(f);
}

TEST_F(Paths, FullAndRealPaths)
{
    touch(dir + "/f");
    char buf[PATH_MAX];
    char resolvedDir[PATH_MAX];
    ASSERT_NE(realpath(dir.c_str(), resolvedDir), nullptr);
    ASSERT_TRUE(qxFullPath((dir + "/./f").c_str(), buf, sizeof buf));
    EXPECT_EQ(std::string(buf), std::string(resolvedDir) + "/f");
    ASSERT_TRUE(qxFullPath("/no/such/dir/x", buf, sizeof buf));
    EXPECT_STREQ(buf, "/no/such/dir/x");

    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    ASSERT_TRUE(qxFullPath("missing\\x", buf, sizeof buf));
    EXPECT_EQ(std::string(buf), std::string(resolvedDir) + "/missing/x");
    EXPECT_FALSE(qxFullPath("missing", buf, 4));
    ASSERT_EQ(chdir(cwd), 0);

    // ISO-8859-1 names reach a UTF-8 file system and come back converted.
    ASSERT_EQ(mkdir((dir + "/caf\xC3\xA9").c_str(), 0755), 0);
    qxSetTextModeUtf8(0);
    ASSERT_TRUE(qxFullPath((dir + "/caf\xE9").c_str(), buf, sizeof buf));
    EXPECT_EQ(std::string(buf), std::string(resolvedDir) + "/caf\xE9");
    touch(dir + "/caf\xC3\xA9/x");
    FILE *f = qxFOpen((dir + "/caf\xE9/x").c_str(), "rb", 0);
    ASSERT_NE(f, nullptr);
    fclose(f);
    EXPECT_EQ(qxFOpen((dir + "/caf\xE9/x").c_str(), "rb", 1), nullptr);
}

TEST_F(Paths, TempFilesAreCreatedInTheTempDirectoryAndRegistered)
{
    EXPECT_STREQ(qxGetTempDirectory(), "/tmp");
    ASSERT_TRUE(qxSetTempDirectory(dir.c_str()));
    EXPECT_EQ(qxGetTempDirectory(), dir);

    char a[1024], b[1024];
    ASSERT_TRUE(qxTempFileName(a, sizeof a));
    ASSERT_TRUE(qxTempFileName(b, sizeof b));
    EXPECT_STRNE(a, b);
    std::string prefix = dir + "/zephyrane.";
    EXPECT_EQ(std::string(a).substr(0, prefix.size()), prefix);
    EXPECT_EQ(strlen(a), prefix.size() + 6);
    struct stat st;
    ASSERT_EQ(stat(a, &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_size, 0);
    EXPECT_TRUE(onTempList(a));
    EXPECT_TRUE(onTempList(b));

    // A trailing slash is not doubled; a name that does not fit fails.
    ASSERT_TRUE(qxSetTempDirectory((dir + "/").c_str()));
    ASSERT_TRUE(qxTempFileName(a, sizeof a));
    EXPECT_EQ(std::string(a).substr(0, prefix.size()), prefix);
    EXPECT_FALSE(qxTempFileName(a, prefix.size() + 6));
    ASSERT_TRUE(qxSetTempDirectory((dir + "/missing").c_str()));
    EXPECT_FALSE(qxTempFileName(a, sizeof a));

    EXPECT_FALSE(qxSetTempDirectory(std::string(1024, 'x').c_str()));
    EXPECT_TRUE(qxSetTempDirectory(std::string(1023, 'x').c_str()));

    // ISO-8859-1 temporary directory: the file is made under its UTF-8 name.
    ASSERT_EQ(mkdir((dir + "/t\xC3\xA9mp").c_str(), 0755), 0);
    qxSetTextModeUtf8(0);
    ASSERT_TRUE(qxSetTempDirectory((dir + "/t\xE9mp").c_str()));
    ASSERT_TRUE(qxTempFileName(a, sizeof a));
    std::string native = dir + "/t\xC3\xA9mp/" + std::string(a).substr(strlen(a) - 16);
    EXPECT_EQ(stat(native.c_str(), &st), 0) << native;
}
