// The dos library's file-system commands against the real file system and
// Python's os, filecmp and time modules: patterns, date texts, directory
// objects and listings, copying, moving and deleting with callbacks, and
// virtual files; memory blocks against Python's struct.
#include "dostest.h"
#include "slowpattern.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <chrono>
#include <cstring>
#include <ctime>
#include <map>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/runtime/qx_startup.h"
#include "core/vm/ldo.h"
#include "libs/qx_dos.h"
#include "libs/qx_dosfs.h"
#include "platform/qx_locale.h"
#include "platform/qx_threadevents.h"

namespace {

using dostest::DosTest;
using libtest::Arg;
using libtest::Nil;
using libtest::Result;

// What the callback saw, and what it answers (by action; default 0 goes on
// for status messages).
struct CallbackLog {
    std::vector<std::string> messages;
    std::function<Arg(int action, double copied)> answer;
};
CallbackLog *gLog = nullptr;

int recordingCallback(lua_State *L)
{
    auto field = [&](const char *key) {
        lua_pushstring(L, key);
        lua_gettable(L, 1);
        std::string s = lua_isnil(L, -1) ? "-" : lua_tostring(L, -1);
        lua_pop(L, 1);
        return s;
    };
    std::string action = field("action");
    gLog->messages.push_back(action + " " + field("copied") + " " + qxChunkBaseName(field("source").c_str()) + " " +
                             qxChunkBaseName(field("file").c_str()) + " " + field("userdata"));
    double copied = std::atof(field("copied").c_str());
    if (gLog->answer) gLog->answer(std::atoi(action.c_str()), copied).push(L);
    else lua_pushnil(L);
    return 1;
}

struct DosFsTest : DosTest {
    CallbackLog log;
    lua_State *savedState = nullptr;
    void SetUp() override {
        DosTest::SetUp();
        ASSERT_EQ(qxOpenMemBlockLib(L), 0);
        gLog = &log;
        savedState = qxMainState;
        qxMainState = L; // virtual string files are looked up in the main state
    }
    void TearDown() override {
        qxFreeAllMemBlocks(L);
        DosTest::TearDown();
        qxMainState = savedState;
    }
    static Arg callback() {
        return std::function<void(lua_State *)>([](lua_State *L) { lua_pushcfunction(L, recordingCallback); });
    }
    // Runs a Python program (D is the scratch directory); skips without Python.
    std::string py(const std::string &program) {
        bool ok = false;
        std::string out = python("import os, sys, filecmp, stat, time, struct, zlib\n" + program, &ok);
        if (!ok) ADD_FAILURE() << "python failed:\n" << program;
        return out;
    }
    // A tree of files with varied modes and times, made by Python.
    void makeTree(const std::string &root) {
        py("R = os.path.join(D, '" + root + "')\n"
           "for i, p in enumerate(['a.txt', 'b.doc', 'sub/c.txt', 'sub/d.bin', 'sub/deep/e.txt', 'other/f.doc']):\n"
           "    f = os.path.join(R, p); os.makedirs(os.path.dirname(f), exist_ok=True)\n"
           "    open(f, 'wb').write(os.urandom(1000 * i + 7))\n"
           "    os.chmod(f, [0o644, 0o600, 0o755, 0o640, 0o444, 0o664][i])\n"
           "    os.utime(f, (1500000000 + i, 1400000000 + 1000 * i))\n");
    }
    // "same" when the trees match in contents, modes and modification times.
    std::string compareTrees(const std::string &a, const std::string &b) {
        return py("A, B = os.path.join(D, '" + a + "'), os.path.join(D, '" + b + "')\n"
                  "bad = []\n"
                  "for root, dirs, files in os.walk(A):\n"
                  "    for n in files + dirs:\n"
                  "        p = os.path.join(root, n); q = os.path.join(B, os.path.relpath(p, A))\n"
                  "        s, t = os.lstat(p), os.lstat(q) if os.path.lexists(q) else None\n"
                  "        if t is None: bad.append('missing ' + q); continue\n"
                  "        if s.st_mode != t.st_mode: bad.append('mode ' + n)\n"
                  "        if os.path.isfile(p) and (s.st_mtime_ns != t.st_mtime_ns or not filecmp.cmp(p, q, False)):\n"
                  "            bad.append('data ' + n)\n"
                  "print(' '.join(bad) or 'same')\n");
    }
};

TEST_F(DosFsTest, PatternsFollowTheRulesAndStayLinear)
{
    EXPECT_EQ(num("MatchPattern", {"readme.txt", "*.txt;*.doc"}), 1);
    EXPECT_EQ(num("MatchPattern", {"readme.txt", ""}), 0);
    EXPECT_EQ(num("MatchPattern", {"readme.txt", ";*.txt"}), 0);
    EXPECT_EQ(num("MatchPattern", {"a.doc", "*.txt;;*.doc"}), 0); // an empty pattern ends the list
    EXPECT_EQ(num("MatchPattern", {"x5", "x#"}), 1);
    EXPECT_EQ(num("MatchPattern", {"b", "[!a-c]"}), 0);
    EXPECT_EQ(num("MatchPattern", {"]", "[]a]"}), 1);
    EXPECT_EQ(num("MatchPattern", {"-", "[a-]"}), 1);
    EXPECT_EQ(num("MatchPattern", {"Readme", "readme"}), 0);
    EXPECT_EQ(num("MatchPattern", {"a", "[a"}), 0); // unclosed: matches nothing
    std::string list(1030, 'a');
    EXPECT_EQ(num("MatchPattern", {std::string(1030, 'a'), list}), 1);
    EXPECT_EQ(num("MatchPattern", {std::string(1031, 'a'), list + "a"}), 0); // too long: refused, not cut

    const char *patterns[] = {"*a?b*", "[a-c]*#", "*[!x]", "?*?", "a*b*c", "[]-]*", "*#*#"};
    const char *strings[] = {"", "a", "axb", "ab1", "cz9", "x", "]", "-q", "abc", "aXbYc", "12"};
    for (const char *p : patterns)
        for (const char *s : strings)
            EXPECT_EQ(qxMatchPatternList(s, p), slowpattern::match(s, p) ? 1 : 0) << s << " ~ " << p;

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(qxMatchPatternList(std::string(100000, 'a').c_str(), "*a*a*a*a*a*a*a*b"), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(DosFsTest, DateTextsRoundTripWithPython)
{
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    std::string out = py("os.environ['TZ'] = 'Europe/Berlin'; time.tzset()\n"
                         "for t in (0, 951782400, 1552000000, 1700000000, 4102444799):\n"
                         "    print(t, time.strftime('%d-%b-%Y %H:%M:%S', time.localtime(t)))\n");
    for (const std::string &line : libtest::lines(out)) {
        uint64_t t = std::stoull(line.substr(0, line.find(' ')));
        std::string text = line.substr(line.find(' ') + 1);
        char mine[64];
        qxFormatFileDate(t, mine, sizeof mine);
        EXPECT_EQ(text, mine);
        struct tm tm;
        ASSERT_EQ(qxParseDateTime(text.c_str(), &tm), 1) << text;
        EXPECT_EQ(static_cast<uint64_t>(mktime(&tm)), t) << text;
    }
    struct tm tm;
    EXPECT_EQ(qxParseDateTime("05-mar-2019 07:08:09", &tm), 1);
    EXPECT_EQ(qxParseDateTime("5-Mar-2019 07:08:09", &tm), 0);
    EXPECT_EQ(qxParseDateTime("29-Feb-2019 07:08:09", &tm), 0);
    EXPECT_EQ(qxParseDateTime("29-Feb-2000 07:08:09", &tm), 1);
    EXPECT_EQ(qxParseDateTime("05-Mar-2019 24:08:09", &tm), 0);
    EXPECT_EQ(qxParseDateTime("05-Mar-2019 07:08", &tm), 0); // short: never read past the end
    unsetenv("TZ");
    tzset();
}

TEST_F(DosFsTest, DirectoryObjectsAndListings)
{
    makeTree("t");
    mkdir(path("empty").c_str(), 0755);
    // ReadDirectory sorts and ends both lists with "".
    lua_settop(L, 0);
    Result r = call("ReadDirectory", {path("t"), libtest::list({}), libtest::list({})});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.num(0), 2);
    EXPECT_EQ(r.num(1), 2);
    lua_settop(L, 0);
    pushCommand("ReadDirectory");
    lua_pushstring(L, path("empty").c_str());
    lua_newtable(L);
    lua_newtable(L);
    ASSERT_EQ(lua_pcall(L, 3, 2, 0), 0);
    EXPECT_EQ(lua_tonumber(L, -1) + lua_tonumber(L, -2), 0);

    ASSERT_EQ(status("OpenDirectory", {1, path("t")}), 0);
    double files = num("CountDirectoryEntries", {1, 0}), dirs = num("CountDirectoryEntries", {1, 1});
    EXPECT_EQ(files, 2);
    EXPECT_EQ(dirs, 2);
    EXPECT_EQ(num("CountDirectoryEntries", {1, 2}), files + dirs);
    int seen = 0;
    while (call("NextDirectoryEntry", {1}).v.size() == 1) seen++;
    EXPECT_EQ(seen, 4);
    EXPECT_EQ(call("NextDirectoryEntry", {1}).v.size(), 0u); // stays at the end
    EXPECT_EQ(status("RewindDirectory", {1}), 0);
    EXPECT_EQ(call("NextDirectoryEntry", {1}).v.size(), 1u);
    EXPECT_EQ(str("GetDirectoryEntry", {1, "a.txt"}), path("t/a.txt"));

    // recursive = 0 lists files only.
    lua_settop(L, 0);
    pushCommand("OpenDirectory");
    lua_pushnumber(L, 2);
    lua_pushstring(L, path("t").c_str());
    lua_newtable(L);
    qxSetFieldInt(L, "recursive", 0);
    ASSERT_EQ(lua_pcall(L, 3, 0, 0), 0);
    seen = 0;
    while (call("NextDirectoryEntry", {2}).v.size() == 1) seen++;
    EXPECT_EQ(seen, 2);

    EXPECT_EQ(status("OpenDirectory", {3, path("missing")}), ERR_LOCK2);
    EXPECT_EQ(status("OpenDirectory", {3, ":::1,a"}), ERR_LOCK2); // handle objects have no tree
    EXPECT_EQ(status("OpenDirectory", {3, ":::77,a"}), ERR_FINDDIR);
    // A light userdata from a script is no declared tree.
    lua_settop(L, 0);
    pushCommand("OpenDirectory");
    lua_pushnumber(L, 3);
    lua_pushstring(L, "x");
    lua_newtable(L);
    lua_pushstring(L, "__direntries");
    lua_pushlightuserdata(L, this);
    lua_settable(L, -3);
    EXPECT_EQ(lua_pcall(L, 3, 0, 0), ERR_WRONGUSAGE);
    EXPECT_EQ(status("MonitorDirectory", {Nil{}, path("t")}), ERR_MONITORDIR);
    EXPECT_EQ(status("CloseDirectory", {1}), 0);
    EXPECT_EQ(status("CloseDirectory", {1}), ERR_FINDDIR);
}

TEST_F(DosFsTest, DirectoryItemsMatchesFind)
{
    makeTree("t");
    std::string expect = py("R = os.path.join(D, 't')\n"
                            "for n in sorted(os.listdir(R)):\n"
                            "    s = os.stat(os.path.join(R, n))\n"
                            "    print(n, 1 if stat.S_ISDIR(s.st_mode) else 0, s.st_size if not stat.S_ISDIR(s.st_mode) else '-',\n"
                            "          time.strftime('%d-%b-%Y %H:%M:%S', time.localtime(s.st_mtime)))\n");
    lua_settop(L, 0);
    pushCommand("DirectoryItems");
    lua_pushstring(L, path("t").c_str());
    ASSERT_EQ(lua_pcall(L, 1, 1, 0), 0);
    std::vector<std::string> got;
    for (;;) {
        lua_settop(L, 1);
        lua_pushvalue(L, 1);
        ASSERT_EQ(lua_pcall(L, 0, 2, 0), 0);
        if (lua_isnil(L, 2)) break;
        auto field = [&](const char *k) {
            lua_pushstring(L, k);
            lua_gettable(L, 3);
            std::string s = lua_isnil(L, -1) ? "-" : lua_tostring(L, -1);
            lua_pop(L, 1);
            return s;
        };
        got.push_back(std::string(lua_tostring(L, 2)) + " " + field("type") + " " + field("size") + " " + field("time"));
    }
    std::sort(got.begin(), got.end());
    EXPECT_EQ(libtest::lines(expect), got);
}

TEST_F(DosFsTest, CopyTreeKeepsDataModesAndTimes)
{
    makeTree("src");
    ASSERT_EQ(status("CopyFile", {path("src"), path("dst/deeper")}), 0);
    EXPECT_EQ(compareTrees("src", "dst/deeper"), "same\n");
    // A file into a missing directory, then under a new name.
    ASSERT_EQ(status("CopyFile", {path("src/a.txt"), path("one/two")}), 0);
    ASSERT_EQ(status("CopyFile", {path("src/a.txt"), path("one/two"), "z.txt"}), 0);
    EXPECT_EQ(get("one/two/a.txt"), get("src/a.txt"));
    EXPECT_EQ(get("one/two/z.txt"), get("src/a.txt"));
    EXPECT_EQ(status("CopyFile", {path("src"), path("x"), "name"}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("CopyFile", {path("src/a.txt"), path("x"), Nil{}, Nil{}, Nil{}, "*.txt"}), ERR_NODIRPATTERN);
    EXPECT_EQ(status("CopyFile", {path("nothing"), path("x")}), ERR_READFILE);
    EXPECT_EQ(status("CopyFile", {"", ""}), ERR_WRONGUSAGE);
    // A pattern filters files at every level; with filter-directories the
    // directory names too.
    ASSERT_EQ(status("CopyFile", {path("src/"), path("p1"), Nil{}, Nil{}, Nil{}, "*.txt", 0}), 0);
    EXPECT_EQ(py("print(sorted(os.path.relpath(os.path.join(r, f), os.path.join(D, 'p1')) for r, d, fs in "
                 "os.walk(os.path.join(D, 'p1')) for f in fs))"),
              "['a.txt', 'sub/c.txt', 'sub/deep/e.txt']\n");
    ASSERT_EQ(status("CopyFile", {path("src"), path("p2"), Nil{}, Nil{}, Nil{}, "*.txt;sub"}), 0);
    EXPECT_TRUE(exists("p2/sub/c.txt"));
    EXPECT_FALSE(exists("p2/sub/deep"));
    EXPECT_FALSE(exists("p2/other"));
}

TEST_F(DosFsTest, CopyRefusesItselfAndItsOwnInside)
{
    put("f.txt", "precious");
    EXPECT_EQ(status("CopyFile", {path("f.txt"), dir}), ERR_WRONGUSAGE);
    EXPECT_EQ(get("f.txt"), "precious");
    makeTree("src");
    EXPECT_EQ(status("CopyFile", {path("src"), path("src/inner")}), ERR_WRONGUSAGE);
    EXPECT_FALSE(exists("src/inner"));
    EXPECT_EQ(status("CopyFile", {path("src"), path("src")}), ERR_WRONGUSAGE);
    // A FIFO in a tree is passed over; named alone it is refused, never read.
    ASSERT_EQ(mkfifo(path("src/pipe").c_str(), 0644), 0);
    EXPECT_EQ(status("CopyFile", {path("src/pipe"), path("fifo")}), ERR_READFILE);
    // A link to a directory is copied as a link, never followed.
    ASSERT_EQ(symlink("..", path("src/sub/up").c_str()), 0);
    ASSERT_EQ(status("CopyFile", {path("src"), path("dst")}), 0);
    char target[64] = "";
    ASSERT_GT(readlink(path("dst/sub/up").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "..");
    EXPECT_EQ(status("CopyFile", {path("f.txt"), dir + "/" + std::string(2100, 'd')}), ERR_MEM);
}

TEST_F(DosFsTest, FullTargetGives1005AndNoPartialFile)
{
    put("big.bin", std::string(200000, 'x'));
    // A file size limit stands in for a full disk: writes past it fail.
    struct rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    struct rlimit small = saved;
    small.rlim_cur = 100000;
    auto previous = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    int plain = status("CopyFile", {path("big.bin"), path("full")});
    int pieces = status("CopyFile", {path("big.bin"), path("full2"), Nil{}, callback()});
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);
    EXPECT_EQ(plain, ERR_WRITE);
    EXPECT_EQ(pieces, ERR_WRITE);
    EXPECT_FALSE(exists("full/big.bin"));
    EXPECT_FALSE(exists("full2/big.bin"));
}

// A remote tree served by a directory adapter and a file adapter.
const std::map<std::string, std::vector<std::string>> kRemoteDirs = {{"remote:", {"a.bin", "sub/"}},
                                                                     {"remote:/sub", {"b.bin"}}};
const std::map<std::string, std::string> kRemoteFiles = {{"remote:/a.bin", "alpha"}, {"remote:/sub/b.bin", "beta!"}};
struct RemoteDir {
    const std::vector<std::string> *names;
    size_t next = 0;
    std::string current;
};
struct RemoteFile {
    const std::string *data;
    size_t pos = 0;
};
const qxFileAdapterFuncs kRemoteFuncs = {
    [](const char *name, uint32_t, qxFileTag *) -> void * {
        auto it = kRemoteFiles.find(name);
        return it == kRemoteFiles.end() ? nullptr : new RemoteFile{&it->second};
    },
    [](void *h) -> int { delete static_cast<RemoteFile *>(h); return 1; },
    [](void *h, void *buffer, int64_t n) -> int64_t {
        auto *f = static_cast<RemoteFile *>(h);
        size_t k = std::min(static_cast<size_t>(n), f->data->size() - f->pos);
        std::memcpy(buffer, f->data->data() + f->pos, k);
        f->pos += k;
        return static_cast<int64_t>(k);
    },
    nullptr, nullptr, nullptr, nullptr, nullptr,
    [](void *h) -> int { auto *f = static_cast<RemoteFile *>(h); return f->pos >= f->data->size(); },
    [](void *h, qxAdapterFileInfo *info) -> int { info->size = static_cast<RemoteFile *>(h)->data->size(); return 1; },
    nullptr,
    [](const char *name, uint32_t) -> void * {
        auto it = kRemoteDirs.find(name);
        return it == kRemoteDirs.end() ? nullptr : new RemoteDir{&it->second, 0, {}};
    },
    [](void *h) { delete static_cast<RemoteDir *>(h); },
    [](void *h, const char **name, int *isDir, qxAdapterFileInfo *) -> int {
        auto *d = static_cast<RemoteDir *>(h);
        if (d->next >= d->names->size()) return 0;
        d->current = (*d->names)[d->next++];
        *isDir = d->current.back() == '/';
        if (*isDir) d->current.pop_back();
        *name = d->current.c_str();
        return 1;
    },
    nullptr};

TEST_F(DosFsTest, CopyTreeListedByAnAdapter)
{
    int plugin = 0;
    qxAdapterNode node = {nullptr, &plugin, "remote", 0, 0, &kRemoteFuncs};
    qxDirAdapters = qxFileAdapters = &node;
    int r = status("CopyFile", {"remote:", path("local")});
    qxDirAdapters = qxFileAdapters = nullptr;
    ASSERT_EQ(r, 0);
    EXPECT_EQ(get("local/a.bin"), "alpha");
    EXPECT_EQ(get("local/sub/b.bin"), "beta!");
}

TEST_F(DosFsTest, CopyCallbackMessagesAnswersAndAborts)
{
    put("big.bin", std::string(40000, 'x'));
    mkdir(path("dst").c_str(), 0755);
    mkdir(path("prot").c_str(), 0755);
    put("dst/big.bin", "old");
    // Overwrite question, then status after every 16,384-byte piece.
    log.answer = [](int action, double) { return action == 1 ? Arg(5) : Arg("text"); };
    ASSERT_EQ(status("CopyFile", {path("big.bin"), path("dst"), Nil{}, callback(), "ud"}), 0);
    EXPECT_EQ(log.messages, (std::vector<std::string>{"1 - big.bin - ud", "0 16384 big.bin - ud",
                                                      "0 32768 big.bin - ud", "0 40000 big.bin - ud"}));
    EXPECT_EQ(get("dst/big.bin").size(), 40000u);
    // True after the first piece aborts without an error and leaves no target.
    log.messages.clear();
    log.answer = [](int action, double) { return action == 0 ? Arg(1) : Arg(2); };
    ASSERT_EQ(status("CopyFile", {path("big.bin"), path("fresh"), Nil{}, callback()}), 0);
    EXPECT_EQ(log.messages.size(), 1u);
    EXPECT_FALSE(exists("fresh/big.bin"));
    // A protected target: skipped without callback; -1 at the unprotect question aborts.
    put("prot/big.bin", "keep");
    chmod(path("prot/big.bin").c_str(), 0444);
    ASSERT_EQ(status("CopyFile", {path("big.bin"), path("prot")}), 0);
    EXPECT_EQ(get("prot/big.bin").size(), 4u);
    log.messages.clear();
    log.answer = [](int action, double) { return action == 2 ? Arg(-1) : Arg(7); };
    ASSERT_EQ(status("CopyFile", {path("big.bin"), path("prot"), Nil{}, callback()}), 0);
    EXPECT_EQ(get("prot/big.bin").size(), 4u);
    log.answer = [](int, double) { return Arg(7); };
    ASSERT_EQ(status("CopyFile", {path("big.bin"), path("prot"), Nil{}, callback()}), 0);
    EXPECT_EQ(get("prot/big.bin").size(), 40000u);
    // An error raised by the callback ends the command with it.
    log.answer = nullptr;
    lua_settop(L, 0);
    pushCommand("CopyFile");
    lua_pushstring(L, path("big.bin").c_str());
    lua_pushstring(L, path("err").c_str());
    lua_pushnil(L);
    lua_pushcfunction(L, [](lua_State *L) -> int { luaG_raisecode(L, ERR_READONLY); return 0; });
    EXPECT_EQ(lua_pcall(L, 4, 0, 0), ERR_READONLY);
    EXPECT_FALSE(exists("err/big.bin"));
    EXPECT_EQ(status("CopyFile", {path("big.bin"), path("x"), Nil{}, 5}), ERR_FUNCEXPECTED);
}

TEST_F(DosFsTest, EntriesVanishingMidWalk)
{
    for (const char *n : {"v/1", "v/2", "v/3"}) {
        mkdir(path("v").c_str(), 0755);
        put(n, "data");
    }
    // The first status message removes the other files of the tree.
    static std::string root;
    root = path("v");
    lua_settop(L, 0);
    pushCommand("CopyFile");
    lua_pushstring(L, root.c_str());
    lua_pushstring(L, path("w").c_str());
    lua_pushnil(L);
    lua_pushcfunction(L, [](lua_State *L) -> int {
        lua_pushstring(L, "source");
        lua_gettable(L, 1);
        std::string source = lua_tostring(L, -1);
        for (const char *n : {"/1", "/2", "/3"})
            if (source != root + n) unlink((root + n).c_str());
        return 0;
    });
    EXPECT_EQ(lua_pcall(L, 4, 0, 0), 0);
    EXPECT_EQ(status("DeleteFile", {root}), 0);
    EXPECT_FALSE(exists("v"));
}

TEST_F(DosFsTest, DeleteKeepsWhatThePatternSpares)
{
    makeTree("t");
    // Pattern with filter-directories 0: files at every level, directories stay.
    ASSERT_EQ(status("DeleteFile", {path("t"), Nil{}, Nil{}, "*.txt", 0}), 0);
    EXPECT_TRUE(exists("t/b.doc"));
    EXPECT_TRUE(exists("t/sub/d.bin"));
    EXPECT_FALSE(exists("t/sub/c.txt"));
    EXPECT_TRUE(exists("t/sub/deep"));
    EXPECT_FALSE(exists("t/a.txt"));
    // A matching directory goes whole when names of directories filter too.
    ASSERT_EQ(status("DeleteFile", {path("t"), Nil{}, Nil{}, "other"}), 0);
    EXPECT_FALSE(exists("t/other"));
    EXPECT_TRUE(exists("t/sub/d.bin"));
    // A link is deleted as itself: the tree it points at stays.
    makeTree("outside");
    ASSERT_EQ(symlink(path("outside").c_str(), path("t/sub/link").c_str()), 0);
    // Protected files stay silently without a callback.
    ASSERT_EQ(status("DeleteFile", {path("t/")}), 0);
    EXPECT_TRUE(exists("t"));
    EXPECT_TRUE(exists("outside/sub/c.txt"));
    EXPECT_TRUE(exists("t/sub/deep/e.txt")); // mode 0444
    log.answer = [](int action, double) { return action == 1 ? Arg(2) : Arg(0); };
    ASSERT_EQ(status("DeleteFile", {path("t"), callback()}), 0);
    EXPECT_FALSE(exists("t"));
    EXPECT_EQ(status("DeleteFile", {path("gone")}), 0);
    EXPECT_EQ(status("DeleteFile", {path("outside/a.txt"), Nil{}, Nil{}, "*"}), ERR_NODIRPATTERN);
    EXPECT_EQ(status("DeleteFile", {path("outside"), Nil{}, Nil{}, std::string(1100, '*')}), ERR_WRONGUSAGE);
    EXPECT_TRUE(exists("outside/a.txt"));
    // A tree deeper than a path can name is reported, not left silently.
    py("fd = os.open(D, os.O_RDONLY)\n"
       "for n in ['deep'] + ['x' * 90] * 50:\n"
       "    os.mkdir(n, dir_fd=fd); fd = os.open(n, os.O_RDONLY, dir_fd=fd)\n");
    EXPECT_EQ(status("DeleteFile", {path("deep")}), ERR_MEM);
    EXPECT_NE(status("CopyFile", {path("deep"), path("deepcopy")}), 0);
    // A pathological pattern over long names ends at once.
    put("outside/" + std::string(200, 'a'), "x");
    ASSERT_EQ(status("DeleteFile", {path("outside"), Nil{}, Nil{}, "*a*a*a*a*a*a*a*b"}), 0);
}

TEST_F(DosFsTest, MoveRenamesOrCopiesAcrossDevices)
{
    makeTree("m");
    put("taken", "x");
    EXPECT_EQ(status("MoveFile", {path("m"), path("taken")}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("MoveFile", {path("none"), path("n2")}), ERR_READFILE);
    EXPECT_EQ(status("MoveFile", {path("m"), path("no/parent")}), ERR_LOCK2);
    struct stat before, after;
    stat(path("m/a.txt").c_str(), &before);
    ASSERT_EQ(status("MoveFile", {path("m"), path("moved")}), 0);
    stat(path("moved/a.txt").c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino); // renamed, not copied
    struct stat shm;
    if (stat("/dev/shm", &shm) != 0 || shm.st_dev == after.st_dev) GTEST_SKIP() << "no second device";
    char templ[] = "/dev/shm/qxmoveXXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    std::string other = std::string(templ) + "/tree";
    std::system(("cp -a " + path("moved") + " " + path("snap")).c_str());
    ASSERT_EQ(status("MoveFile", {path("moved"), other}), 0);
    // Only the write-protected file stays behind (no callback to ask).
    EXPECT_TRUE(exists("moved/sub/deep/e.txt"));
    EXPECT_FALSE(exists("moved/a.txt"));
    EXPECT_FALSE(exists("moved/sub/c.txt"));
    std::system(("mv " + other + " " + path("back")).c_str());
    EXPECT_EQ(compareTrees("snap", "back"), "same\n");
    rmdir(templ);
}

TEST_F(DosFsTest, SingleObjectCommands)
{
    put("f.txt", "12345");
    EXPECT_EQ(num("Exists", {path("f.txt")}), 1);
    EXPECT_EQ(num("Exists", {""}), 0);
    EXPECT_EQ(num("FileSize", {path("f.txt")}), 5);
    EXPECT_EQ(num("FileSize", {dir}), -1);
    EXPECT_EQ(num("IsDirectory", {dir}), 1);
    EXPECT_EQ(status("IsDirectory", {path("none")}), ERR_STAT);
    EXPECT_EQ(str("GetVolumeName", {"/"}), "unimplemented");
    ASSERT_EQ(status("MakeDirectory", {path("a/b/c")}), 0);
    EXPECT_EQ(status("MakeDirectory", {path("f.txt/x")}), ERR_CREATEDIR);
    ASSERT_EQ(status("Rename", {path("f.txt"), "other/g.txt"}), 0);
    EXPECT_TRUE(exists("g.txt"));
    EXPECT_EQ(status("Rename", {dir + "/" + std::string(600, 'q') + "/x", "y"}), ERR_MEM);
    lua_settop(L, 0);
    pushCommand("SetFileAttributes");
    lua_pushstring(L, path("g.txt").c_str());
    lua_newtable(L);
    qxSetFieldInt(L, "flags", 1 | 2 | 512);
    qxSetFieldStr(L, "time", "05-Mar-2019 07:08:09");
    ASSERT_EQ(lua_pcall(L, 2, 0, 0), 0);
    struct stat st;
    stat(path("g.txt").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    char text[64];
    qxFormatFileDate(static_cast<uint64_t>(st.st_mtime), text, sizeof text);
    EXPECT_STREQ(text, "05-Mar-2019 07:08:09");
    lua_settop(L, 0);
    pushCommand("SetFileAttributes");
    lua_pushstring(L, path("g.txt").c_str());
    lua_newtable(L);
    qxSetFieldStr(L, "lastaccesstime", "31-Apr-2019 07:08:09");
    EXPECT_EQ(lua_pcall(L, 2, 0, 0), ERR_INVALIDDATE);
}

TEST_F(DosFsTest, VirtualStringFiles)
{
    std::string ro = str("DefineVirtualFileFromString", {"hello world", "greeting.txt"});
    EXPECT_EQ(str("FileToString", {ro}), "hello world");
    EXPECT_EQ(str("FilePart", {ro}), "greeting.txt");
    EXPECT_EQ(status("PathPart", {ro}), ERR_WRONGUSAGE);
    std::string rw = str("DefineVirtualFileFromString", {"", "out.bin", 1});
    ASSERT_EQ(status("StringToFile", {"written", rw}), 0);
    EXPECT_EQ(str("FileToString", {rw}), "written");
    // A block borrows the data through the record: read-only stays so, an
    // undefined file is out of range.
    Result b = call("AllocMemFromVirtualFile", {Nil{}, ro});
    ASSERT_EQ(b.status, 0);
    lua_settop(L, 0);
    void *id = nullptr;
    pushCommand("AllocMemFromVirtualFile");
    lua_pushnil(L);
    lua_pushstring(L, ro.c_str());
    ASSERT_EQ(lua_pcall(L, 2, 1, 0), 0);
    id = lua_touserdata(L, -1);
    auto idArg = [id]() { return Arg(std::function<void(lua_State *)>([id](lua_State *L) { lua_pushlightuserdata(L, id); })); };
    EXPECT_EQ(num("Peek", {idArg(), 0, 7}), 'h');
    EXPECT_EQ(status("Poke", {idArg(), 0, 65, 7}), ERR_WRONGUSAGE);
    ASSERT_EQ(status("UndefineVirtualStringFile", {ro}), 0);
    EXPECT_EQ(status("UndefineVirtualStringFile", {ro}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("Peek", {idArg(), 0, 7}), ERR_MEMRANGE);
    EXPECT_EQ(status("AllocMemFromVirtualFile", {1, ro}), ERR_WRONGUSAGE);
    // A block over a writable file follows it when the file grows.
    ASSERT_EQ(status("AllocMemFromVirtualFile", {5, rw}), 0);
    ASSERT_EQ(status("StringToFile", {std::string(100000, 'g'), rw}), 0);
    EXPECT_EQ(num("Peek", {5, 99999, 7}), 'g');
    EXPECT_EQ(status("Peek", {5, 100000, 7}), ERR_MEMRANGE);
    ASSERT_EQ(status("Poke", {5, 0, 'h', 7}), 0);
    EXPECT_EQ(str("FileToString", {rw}).substr(0, 2), "hg");
    // A name outlives its file: the next file takes its reference (and
    // record address), yet the old name reaches nothing.
    std::string a = str("DefineVirtualFileFromString", {"", "a.txt", 1});
    ASSERT_EQ(status("UndefineVirtualStringFile", {a}), 0);
    for (const char *next : {"b.txt", "a.txt"}) {
        std::string b = str("DefineVirtualFileFromString", {"bee", next, 1});
        EXPECT_EQ(num("Exists", {a}), 0);
        EXPECT_NE(status("FileToString", {a}), 0);
        EXPECT_NE(status("StringToFile", {"x", a}), 0);
        EXPECT_EQ(status("UndefineVirtualStringFile", {a}), ERR_WRONGUSAGE);
        EXPECT_EQ(str("FileToString", {b}), "bee");
        ASSERT_EQ(status("UndefineVirtualStringFile", {b}), 0);
    }
    // Undefined while open: the open file keeps the string, collected
    // otherwise, until it closes.
    std::string text(1000, 'z'); // above the VM's block cache: freed for real
    std::string open = str("DefineVirtualFileFromString", {text, "open.txt"});
    ASSERT_EQ(status("OpenFile", {7, open}), 0);
    ASSERT_EQ(status("UndefineVirtualStringFile", {open}), 0);
    EXPECT_EQ(num("Exists", {open}), 0);
    lua_settop(L, 0);
    lua_setgcthreshold(L, 0);
    EXPECT_EQ(str("ReadLine", {7}), text);
    ASSERT_EQ(status("CloseFile", {7}), 0);
    // A part of a real file.
    put("data.bin", "0123456789");
    std::string part = str("DefineVirtualFile", {path("data.bin"), 2, 5, "part"});
    EXPECT_EQ(str("FileToString", {part}), "23456");
    std::string inner = str("DefineVirtualFile", {part, 1, 3, "inner"});
    EXPECT_EQ(str("FileToString", {inner}), "345");
    EXPECT_EQ(status("DefineVirtualFile", {part, 3, 3, "x"}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("DefineVirtualFile", {path("data.bin"), 0, 0, "x"}), ERR_WRONGUSAGE);
}

TEST_F(DosFsTest, PathsAndEnvironment)
{
    EXPECT_EQ(str("PathPart", {"dir/sub/file"}), "dir/sub/");
    EXPECT_EQ(str("PathPart", {"file"}), "");
    EXPECT_EQ(str("FullPath", {"dir", "file"}), "dir/file");
    EXPECT_EQ(str("FullPath", {"dir/", "file"}), "dir/file");
    EXPECT_EQ(status("FullPath", {std::string(1020, 'd'), "file"}), ERR_MEM);
    Result r = call("GetEnv", {"QX_SURELY_UNSET_VARIABLE"});
    EXPECT_EQ(r.str(0), "");
    EXPECT_EQ(r.num(1), 0);
    ASSERT_EQ(status("SetEnv", {"QX_DOSFS_TEST", "v"}), 0);
    EXPECT_EQ(call("GetEnv", {"QX_DOSFS_TEST"}).str(0), "v");
    ASSERT_EQ(status("UnsetEnv", {"QX_DOSFS_TEST"}), 0);
    EXPECT_EQ(status("SetEnv", {"A=B", "v"}), ERR_SETENV);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(status("ChangeDirectory", {dir}), 0);
    char real[4096];
    EXPECT_EQ(str("GetCurrentDirectory"), realpath(dir.c_str(), real));
    ASSERT_EQ(chdir(cwd), 0);
}

TEST_F(DosFsTest, RunAndExecuteHandQuotedProgramsTheirArguments)
{
    mkdir(path("with space").c_str(), 0755);
    put("with space/rec.sh", "#!/bin/sh\nprintf '%s|' \"$@\" > \"$(dirname \"$0\")/args.txt\"\n");
    chmod(path("with space/rec.sh").c_str(), 0755);
    ASSERT_EQ(status("Execute", {"\"" + path("with space/rec.sh") + "\"   one two"}), 0);
    EXPECT_EQ(get("with space/args.txt"), "one|two|");
    EXPECT_EQ(status("Execute", {"\"" + path("with space/rec.sh")}), ERR_WRONGUSAGE);
    ASSERT_EQ(status("Run", {"\"" + path("with space/rec.sh") + "\" three"}), 0);
    for (int i = 0; i < 200 && get("with space/args.txt") != "three|"; i++) usleep(10000);
    EXPECT_EQ(get("with space/args.txt"), "three|");
}

TEST_F(DosFsTest, RunWithAFinishHandlerPostsEvent10)
{
    ASSERT_EQ(qxCreateThreadEventQueue(), 0);
    qxRunFinishedHandlerInstalled = [](lua_State *) { return 1; };
    Result r = call("Run", {"true", 0, "ud"});
    qxRunFinishedHandlerInstalled = nullptr;
    ASSERT_EQ(r.status, 0);
    uint32_t type = 0, a1, a2;
    qxObjectRef id{};
    for (int i = 0; i < 300 && !qxPopThreadEvent(&type, &id, &a1, &a2); i++) usleep(10000);
    ASSERT_EQ(type, 10u);
    int ref = -2;
    ASSERT_EQ(qxDosEndProgram(id.automatic, &ref), 1);
    lua_rawgeti(L, LUA_REGISTRYINDEX, ref);
    EXPECT_STREQ(lua_tostring(L, -1), "ud");
    EXPECT_EQ(qxDosEndProgram(id.automatic, &ref), 0); // only once
}

TEST_F(DosFsTest, MemoryBlocksMatchPythonStruct)
{
    ASSERT_EQ(status("AllocMem", {1, 32}), 0);
    EXPECT_EQ(status("AllocMem", {2, 0}), ERR_WRONGUSAGE);
    ASSERT_EQ(status("Poke", {1, 0, 0x11223344}), 0);
    EXPECT_EQ(num("Peek", {1, 0, 7}), 0x11);
    EXPECT_EQ(num("Peek", {1, 0, 1, 2}), 0x44332211);
    EXPECT_EQ(status("Peek", {1, 29, 1}), ERR_MEMRANGE);
    EXPECT_EQ(status("Peek", {1, 28, 1}), 0);
    EXPECT_EQ(status("Peek", {1, -1, 1}), ERR_MEMRANGE);
    EXPECT_EQ(status("Peek", {1, 1e300, 1}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("Poke", {1, 30, "ab", 3}), ERR_MEMRANGE);
    ASSERT_EQ(status("Poke", {1, 29, "ab", 3}), 0);
    EXPECT_EQ(str("Peek", {1, 29, 3}), "ab");
    ASSERT_EQ(status("FillMem", {1, 0x1234, 6, 0, 6}), 0);
    EXPECT_EQ(libtest::hex(str("GetMemString", {1, 0, 6})), "123412341234");
    EXPECT_EQ(status("FillMem", {1, 0x1234, 5, 0, 6}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("GetMemPointer", {1, 32}), ERR_WRONGUSAGE);
    // Numbers in every byte order against Python's struct.
    std::string expect = py("print(struct.pack('>I', 0xdeadbeef).hex(), struct.pack('<h', -2).hex(),\n"
                            "      struct.pack('>f', 1.5).hex(), struct.pack('<d', -0.1).hex())\n");
    ASSERT_EQ(status("Poke", {1, 0, 0xdeadbeef, 1, 0}), 0);
    ASSERT_EQ(status("Poke", {1, 4, -2, 6, 2}), 0);
    ASSERT_EQ(status("Poke", {1, 6, 1.5, 11, 0}), 0);
    ASSERT_EQ(status("Poke", {1, 10, -0.1, 12, 2}), 0);
    std::string got = str("GetMemString", {1, 0, 18});
    EXPECT_EQ(libtest::hex(got.substr(0, 4)) + " " + libtest::hex(got.substr(4, 2)) + " " +
                  libtest::hex(got.substr(6, 4)) + " " + libtest::hex(got.substr(10, 8)) + "\n",
              expect);
    EXPECT_EQ(num("Peek", {1, 10, 12, 2}), -0.1);
    // Tables in and out; signed shorts.
    ASSERT_EQ(status("FillMem", {1, 255, 4, 0, 7}), 0);
    lua_settop(L, 0);
    pushCommand("MemToTable");
    lua_pushnumber(L, 1);
    lua_pushnumber(L, 6);
    lua_newtable(L);
    qxSetFieldInt(L, "signed", 1);
    qxSetFieldInt(L, "items", 2);
    ASSERT_EQ(lua_pcall(L, 3, 1, 0), 0);
    lua_rawgeti(L, -1, 1);
    EXPECT_EQ(lua_tonumber(L, -1), -1);
    ASSERT_EQ(status("TableToMem", {libtest::list({1, 2, 3}), 1, 7}), 0);
    EXPECT_EQ(libtest::hex(str("GetMemString", {1, 0, 3})), "010203");
    EXPECT_EQ(status("TableToMem", {libtest::list({1, 2, 3}), 1, 1, libtest::list({})}), 0);
    // A file round trip checked by CRC32.
    ASSERT_EQ(status("AllocMem", {3, 100000}), 0);
    for (int i = 0; i < 100000; i += 4) ASSERT_EQ(status("Poke", {3, i, i * 2654435761u}), 0);
    ASSERT_EQ(open(1, "mem.bin", 1006), 0);
    ASSERT_EQ(status("WriteMem", {1, 3, 100000}), 0);
    ASSERT_EQ(status("CloseFile", {1}), 0);
    std::string crc = py("print(zlib.crc32(open(os.path.join(D, 'mem.bin'), 'rb').read()))\n");
    ASSERT_EQ(open(1, "mem.bin"), 0);
    ASSERT_EQ(status("AllocMem", {4, 100000}), 0);
    ASSERT_EQ(status("ReadMem", {1, 4, 100000}), 0);
    EXPECT_EQ(status("ReadMem", {1, 4, 10}), ERR_READ);
    EXPECT_EQ(status("WriteMem", {1, 4, 10}), ERR_READONLY);
    EXPECT_EQ(str("GetMemString", {4}), str("GetMemString", {3}));
    EXPECT_EQ(std::stoul(crc), static_cast<unsigned long>(num("CRC32", {path("mem.bin")})));
    EXPECT_EQ(status("CopyMem", {3, 3, 4}), ERR_WRONGUSAGE);
    EXPECT_EQ(status("CopyMem", {3, 1, 33}), ERR_MEMRANGE);
}

TEST_F(DosFsTest, DumpMemLines)
{
    ASSERT_EQ(status("AllocMem", {1, 20}), 0);
    ASSERT_EQ(status("Poke", {1, 0, "Hello, dump!\x01", 3}), 0);
    ASSERT_EQ(status("FillMem", {1, 0x41, 6, 14}), 0);
    testing::internal::CaptureStdout();
    ASSERT_EQ(status("DumpMem", {1}), 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "00000000: 48 65 6c 6c 6f 2c 20 64 75 6d 70 21 01 00 41 41 Hello, dump!..AA\n"
                   "00000010: 41 41 41 41                                     AAAA\n");
}

} // namespace
