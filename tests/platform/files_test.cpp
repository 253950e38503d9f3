// Native file handles, linked data, directories, file information and the
// operations on paths.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/qx_files.h"
#include "platform/qx_memory.h"
#include "platform/qx_text.h"

namespace {

class Files : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        char t[] = "/tmp/qx_files_XXXXXX";
        ASSERT_NE(mkdtemp(t), nullptr);
        dir = t;
    }
    void TearDown() override
    {
        qxSetTextModeUtf8(1);
        ASSERT_EQ(system(("chmod -R u+rwx " + dir + "; rm -rf " + dir).c_str()), 0);
    }
    std::string write(const std::string &name, const std::string &bytes)
    {
        std::string p = dir + "/" + name;
        FILE *f = fopen(p.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (f) {
            fwrite(bytes.data(), 1, bytes.size(), f);
            fclose(f);
        }
        return p;
    }
    std::string read(const std::string &path)
    {
        std::string out;
        if (FILE *f = fopen(path.c_str(), "rb")) {
            int c;
            while ((c = fgetc(f)) != EOF) out += static_cast<char>(c);
            fclose(f);
        }
        return out;
    }
};

std::string readAll(qxNativeFile *h)
{
    std::string out;
    char buf[7];
    size_t n;
    while ((n = qxFileRead(h, buf, sizeof buf)) > 0) out.append(buf, n);
    return out;
}

} // namespace

TEST_F(Files, WriteReadSeekAndEof)
{
    std::string p = dir + "/a.bin";
    qxNativeFile *h = qxNativeOpen(p.c_str(), QX_OPEN_WRITE);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(qxFileWrite(h, "hello world", 11), 11u);
    EXPECT_EQ(qxNativePutC(h, '!'), 1);
    EXPECT_EQ(qxNativeSize(h), 12);
    EXPECT_TRUE(qxNativeEOF(h));
    EXPECT_EQ(qxNativeClose(h), 1);
    EXPECT_EQ(read(p), "hello world!");

    h = qxNativeOpen(p.c_str(), QX_OPEN_READ);
    ASSERT_NE(h, nullptr);
    char resolved[PATH_MAX];
    ASSERT_NE(realpath(p.c_str(), resolved), nullptr);
    EXPECT_STREQ(h->path, resolved);
    EXPECT_EQ(h->linked, 0u);
    EXPECT_EQ(qxNativeSize(h), 12);
    EXPECT_EQ(qxNativeGetC(h), 'h');
    EXPECT_EQ(qxNativeSeek(h, 6, 1), 1); // returns the previous position
    EXPECT_EQ(readAll(h), "world!");
    EXPECT_TRUE(qxNativeEOF(h));
    EXPECT_EQ(qxNativeGetC(h), -1);
    EXPECT_EQ(qxNativeSeek(h, -6, 2), 12);
    EXPECT_EQ(qxNativeGetC(h), 'w');
    EXPECT_EQ(qxNativeSeek(h, 1, 0), 7);
    EXPECT_EQ(qxNativeGetC(h), 'r');
    // Read-only ordinary files may seek past their end.
    qxNativeSeek(h, 100, 1);
    EXPECT_EQ(h->position, 100);
    EXPECT_EQ(qxNativeSeek(h, -90, 0), 100);
    EXPECT_EQ(h->position, 10);
    EXPECT_EQ(qxNativeSeek(h, -200, 1), -1); // before the start: refused, position kept
    EXPECT_EQ(h->position, 10);
    EXPECT_EQ(qxNativeClose(h), 1);

    // Backslashes name the same file.
    std::string back = p;
    for (char &c : back)
        if (c == '/') c = '\\';
    EXPECT_EQ(back[0], '\\');
    h = qxNativeOpen(back.c_str(), QX_OPEN_READ);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(readAll(h), "hello world!");
    qxNativeClose(h);

    EXPECT_EQ(qxNativeOpen((dir + "/missing").c_str(), QX_OPEN_READ), nullptr);
}

TEST_F(Files, ReadWriteModeCreatesAndSwitchesDirection)
{
    std::string p = dir + "/rw.bin";
    qxNativeFile *h = qxNativeOpen(p.c_str(), QX_OPEN_READWRITE);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(qxNativeSize(h), 0);
    struct stat st;
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    EXPECT_EQ(qxFileWrite(h, "abcdef", 6), 6u);
    // Read right after a write, then write right after a read.
    EXPECT_EQ(qxNativeSeek(h, 2, 1), 6);
    char c2[2];
    EXPECT_EQ(qxFileRead(h, c2, 2), 2u);
    EXPECT_EQ(std::string(c2, 2), "cd");
    EXPECT_EQ(qxFileWrite(h, "XY", 2), 2u);
    EXPECT_EQ(qxNativeGetC(h), -1);
    EXPECT_EQ(qxNativePutC(h, 'Z'), 1);
    EXPECT_EQ(qxNativeSize(h), 7);
    // Writable files clamp seeks to their end.
    qxNativeSeek(h, 50, 1);
    EXPECT_EQ(h->position, 7);
    qxNativeFlush(h);
    EXPECT_EQ(read(p), "abcdXYZ");
    qxNativeClose(h);
}

TEST_F(Files, LinkedDataStaysInsideItsRange)
{
    std::string container = write("container.bin", "0123456789ABCDEF");
    std::string name = ":::chunk4:6*inner.txt?" + container;
    qxNativeFile *h = qxNativeOpen(name.c_str(), QX_OPEN_READ);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->linked, 1u);
    EXPECT_EQ(h->base, 4);
    EXPECT_EQ(qxNativeSize(h), 6);
    EXPECT_STREQ(h->path, name.c_str());
    EXPECT_EQ(readAll(h), "456789");
    EXPECT_EQ(qxNativeGetC(h), -1);
    EXPECT_TRUE(qxNativeEOF(h));
    // Seeks stop at either end of the data.
    qxNativeSeek(h, 100, 1);
    EXPECT_EQ(h->position, 6);
    qxNativeSeek(h, -100, 1);
    EXPECT_EQ(h->position, 0);
    EXPECT_EQ(qxNativeGetC(h), '4');
    qxNativeSeek(h, -2, 2);
    EXPECT_EQ(readAll(h), "89");
    qxFileInfo info;
    ASSERT_TRUE(qxNativeExamine(h, &info));
    EXPECT_EQ(info.size, 6u);
    EXPECT_EQ(info.path, h->path);
    qxNativeClose(h);

    // Writing never truncates the container and stays inside the data.
    h = qxNativeOpen(name.c_str(), QX_OPEN_WRITE);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(qxFileWrite(h, "abcdefghij", 10), 6u);
    EXPECT_EQ(qxNativePutC(h, 'z'), 0);
    qxNativeClose(h);
    EXPECT_EQ(read(container), "0123abcdefABCDEF");

    // Without a container there is no stream: reads give nothing.
    h = qxNativeOpen(":::chunk0:3*x?", QX_OPEN_READ);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->stream, nullptr);
    char b[4];
    EXPECT_EQ(qxFileRead(h, b, 3), 0u);
    EXPECT_EQ(qxNativeGetC(h), -1);
    EXPECT_EQ(h->position, 1);
    EXPECT_EQ(qxNativeClose(h), 1);

    // Malformed names, memory blocks and missing containers fail.
    EXPECT_EQ(qxNativeOpen(":::chunkx:3*x?", QX_OPEN_READ), nullptr);
    EXPECT_EQ(qxNativeOpen(":::chunk1:3x?", QX_OPEN_READ), nullptr);
    EXPECT_EQ(qxNativeOpen(":::chunk99999999999999999999:3*x?", QX_OPEN_READ), nullptr);
    EXPECT_EQ(qxNativeOpen(":::chunk9223372036854775807:9*x?", QX_OPEN_READ), nullptr);
    EXPECT_EQ(qxNativeOpen(":::chunkS-1:3*x?", QX_OPEN_READ), nullptr);
    EXPECT_EQ(qxNativeOpen((":::chunk0:3*x?" + dir + "/missing").c_str(), QX_OPEN_READ), nullptr);
}

TEST_F(Files, ProtectionBitsAndFileInformation)
{
    EXPECT_EQ(qxProtectionToMode(0x1 | 0x2 | 0x200 | 0x1000), 0644u);
    EXPECT_EQ(qxProtectionToMode(0x10000), 0644u);
    EXPECT_EQ(qxProtectionToMode(0x10000 | 0x8), 0644u);
    EXPECT_EQ(qxProtectionToMode(0x8 | 0x800 | 0x4000), 0111u);
    EXPECT_EQ(qxProtectionToMode(0x2000 | 0x400), 0022u);
    for (mode_t m = 0; m < 01000; m++) EXPECT_EQ(qxProtectionToMode(qxModeToProtection(m)), m);
    EXPECT_EQ(qxModeToProtection(0750), 0x1u | 0x2 | 0x8 | 0x200 | 0x800);

    std::string p = write("f.txt", "12345");
    ASSERT_TRUE(qxSetProtection(p.c_str(), 0x1 | 0x2 | 0x200));
    struct stat st;
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    ASSERT_TRUE(qxSetProtection(p.c_str(), 0x10000));
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    const uint64_t dates[2] = {1000000000, 1234567890};
    ASSERT_TRUE(qxSetFileDate(p.c_str(), dates));
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    qxFileInfo fromStat;
    qxFillFileInfo(&st, &fromStat);
    EXPECT_EQ(fromStat.accessTime, 1000000000u);
    EXPECT_EQ(fromStat.modifyTime, 1234567890u);
    qxNativeFile *h = qxNativeOpen(p.c_str(), QX_OPEN_READ);
    ASSERT_NE(h, nullptr);
    qxFileInfo info;
    ASSERT_TRUE(qxNativeExamine(h, &info));
    EXPECT_EQ(info.isDirectory, 0u);
    EXPECT_EQ(info.size, 5u);
    EXPECT_EQ(info.protection, 0x1u | 0x2 | 0x200 | 0x1000);
    EXPECT_EQ(info.modifyTime, 1234567890u);
    EXPECT_GT(info.changeTime, 0u);
    EXPECT_STREQ(info.comment, "");
    EXPECT_STREQ(info.path, h->path);
    qxNativeClose(h);
    EXPECT_FALSE(qxSetFileDate((dir + "/missing").c_str(), dates));
    EXPECT_FALSE(qxSetProtection((dir + "/missing").c_str(), 0x1));
}

TEST_F(Files, DirectoryListing)
{
    write("a", "1");
    write("b", "22");
    ASSERT_EQ(mkdir((dir + "/c").c_str(), 0755), 0);
    ASSERT_EQ(symlink("nowhere", (dir + "/dangling").c_str()), 0);

    qxNativeDir *h = qxNativeOpenDir(dir.c_str(), 1);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(qxNativeIsDir(h), 0);
    for (int pass = 0; pass < 2; pass++) {
        std::set<std::string> names;
        const char *name;
        int isDir;
        qxFileInfo info;
        while (qxNativeNextEntry(h, nullptr, &name, &isDir, &info)) {
            names.insert(name);
            EXPECT_EQ(isDir, std::string(name) == "c") << name;
            EXPECT_EQ(info.isDirectory, static_cast<uint32_t>(isDir));
            if (std::string(name) == "b") {
                EXPECT_EQ(info.size, 2u);
            }
            EXPECT_EQ(std::string(info.path), std::string(h->resolved) + "/" + name);
        }
        // Never "." or "..", and the dangling link cannot be examined.
        EXPECT_EQ(names, (std::set<std::string>{"a", "b", "c"}));
        EXPECT_EQ(qxNativeRewindDir(h), 1);
    }
    qxFileInfo info;
    ASSERT_TRUE(qxNativeDirExamine(h, &info));
    EXPECT_EQ(info.isDirectory, 1u);
    char name[PATH_MAX];
    ASSERT_TRUE(qxNativeDirName(h, name, sizeof name));
    EXPECT_STREQ(name, h->resolved);
    EXPECT_FALSE(qxNativeDirName(h, name, 3));
    qxNativeCloseDir(h);

    // A plain file opens as a lock: it is examined but is no directory.
    h = qxNativeOpenDir((dir + "\\b").c_str(), 1);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(qxNativeIsDir(h), 1250);
    ASSERT_TRUE(qxNativeDirExamine(h, &info));
    EXPECT_EQ(info.isDirectory, 0u);
    EXPECT_EQ(info.size, 2u);
    const char *entry;
    int isDir;
    EXPECT_EQ(qxNativeNextEntry(h, nullptr, &entry, &isDir, &info), 0);
    qxNativeCloseDir(h);

    testing::internal::CaptureStdout();
    EXPECT_EQ(qxNativeOpenDir(dir.c_str(), 2), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "QXOS_LOCK_WRITE unsupported.\n");
    EXPECT_EQ(qxNativeOpenDir((dir + "/missing").c_str(), 1), nullptr);
    EXPECT_EQ(qxNativeOpenDir("/dev/null", 1), nullptr); // neither directory nor file

    // The empty path is the current directory.
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    h = qxNativeOpenDir("", 1);
    ASSERT_NE(h, nullptr);
    char resolved[PATH_MAX];
    ASSERT_NE(realpath(dir.c_str(), resolved), nullptr);
    EXPECT_STREQ(h->resolved, resolved);
    qxNativeCloseDir(h);
    ASSERT_EQ(chdir(cwd), 0);
}

TEST_F(Files, Latin1ModeConvertsNamesBothWays)
{
    ASSERT_EQ(mkdir((dir + "/d\xC3\xA9").c_str(), 0755), 0);
    write("d\xC3\xA9/caf\xC3\xA9", "x");
    qxSetTextModeUtf8(0);
    qxNativeDir *h = qxNativeOpenDir((dir + "/d\xE9").c_str(), 1);
    ASSERT_NE(h, nullptr);
    const char *name;
    int isDir;
    ASSERT_TRUE(qxNativeNextEntry(h, nullptr, &name, &isDir, nullptr));
    EXPECT_STREQ(name, "caf\xE9");
    char dn[PATH_MAX];
    ASSERT_TRUE(qxNativeDirName(h, dn, sizeof dn));
    EXPECT_EQ(std::string(dn).substr(std::string(dn).size() - 3), "/d\xE9");
    qxNativeCloseDir(h);

    qxNativeFile *f = qxNativeOpen((dir + "/d\xE9/caf\xE9").c_str(), QX_OPEN_READ);
    ASSERT_NE(f, nullptr);
    qxNativeClose(f);
    EXPECT_EQ(qxNativeOpen((dir + "/d\xE9/caf\xE9").c_str(), QX_OPEN_READ | QX_OPEN_NOCONVERT), nullptr);
    EXPECT_EQ(qxMakeDir((dir + "/n\xE9w").c_str()), 0);
    struct stat st;
    EXPECT_EQ(stat((dir + "/n\xC3\xA9w").c_str(), &st), 0);

    char *prev = qxChangeDir((dir + "/d\xE9").c_str());
    ASSERT_NE(prev, nullptr);
    char *back = qxChangeDir(prev);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(std::string(back).substr(std::string(back).size() - 3), "/d\xE9");
    qxFree(back);
    qxFree(prev);
}

TEST_F(Files, OperationsOnPaths)
{
    std::string d = dir + "/sub";
    EXPECT_EQ(qxMakeDir(d.c_str()), 0);
    struct stat st;
    ASSERT_EQ(stat(d.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u & ~[] { mode_t m = umask(0); umask(m); return m; }());
    EXPECT_EQ(qxMakeDir(d.c_str()), 1084);

    std::string a = write("a", "A");
    EXPECT_TRUE(qxRename(a.c_str(), (dir + "/b").c_str()));
    EXPECT_FALSE(qxRename(a.c_str(), (dir + "/c").c_str()));
    EXPECT_EQ(qxMoveFile((dir + "/b").c_str(), (d + "/b").c_str()), 0);
    EXPECT_EQ(read(d + "/b"), "A");
    EXPECT_EQ(qxMoveFile((dir + "/b").c_str(), (d + "/x").c_str()), 1600);      // no source
    EXPECT_EQ(qxMoveFile((d + "/b").c_str(), (dir + "/no/x").c_str()), 1600);   // no target directory
    struct stat shm, tmp;
    if (stat("/dev/shm", &shm) == 0 && stat(dir.c_str(), &tmp) == 0 && shm.st_dev != tmp.st_dev &&
        access("/dev/shm", W_OK) == 0) {
        EXPECT_EQ(qxMoveFile((d + "/b").c_str(), "/dev/shm/qx_files_move_test"), 1055);
        EXPECT_EQ(read(d + "/b"), "A");
    }

    EXPECT_TRUE(qxDeleteFile((d + "/b").c_str()));
    EXPECT_FALSE(qxDeleteFile((d + "/b").c_str()));
    EXPECT_TRUE(qxDeleteFile(d.c_str())); // empty directories too

    EXPECT_EQ(qxIsMountPoint("/"), 1);
    EXPECT_EQ(qxIsMountPoint((dir + "/missing").c_str()), 1);
    ASSERT_EQ(mkdir(d.c_str(), 0755), 0);
    EXPECT_EQ(qxIsMountPoint(d.c_str()), 0);
    if (stat("/proc/self", &st) == 0) {
        EXPECT_EQ(qxIsMountPoint("/proc"), 1);
    }

    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    char *prev = qxChangeDir(d.c_str());
    ASSERT_NE(prev, nullptr);
    EXPECT_STREQ(prev, cwd);
    char now[PATH_MAX], resolved[PATH_MAX];
    ASSERT_NE(getcwd(now, sizeof now), nullptr);
    ASSERT_NE(realpath(d.c_str(), resolved), nullptr);
    EXPECT_STREQ(now, resolved);
    char *again = qxChangeDir((dir + "/missing").c_str()); // failure is not reported
    ASSERT_NE(again, nullptr);
    EXPECT_STREQ(again, resolved);
    qxFree(again);
    qxFree(qxChangeDir(prev));
    qxFree(prev);
    ASSERT_NE(getcwd(now, sizeof now), nullptr);
    EXPECT_STREQ(now, cwd);
}
