// File management against its peers, best of 5 alternating runs, on a
// tmpfs when there is one: CopyFile of one large file against cp (without
// and with a callback), a tree of many small files copied against
// cp -r --preserve=mode,timestamps and deleted against rm -rf, and a
// recursive DirectoryItems walk reading "size" and "time" against find.
// Usage: bench_dosfs [megabytes (1024)] [files (50000)] [directory]
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/commands/qx_commands.h"
#include "core/vm/lua.h"
#include "libs/qx_corelibs.h"

namespace {

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double timeShell(const std::string &cmd)
{
    double t = now();
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "peer failed: %s\n", cmd.c_str());
    return now() - t;
}

int quietCallback(lua_State *) { return 0; }

// Calls a command with the given string arguments (and a callback when asked).
double timeCommand(lua_State *L, const char *name, const std::string &a, const std::string &b, bool callback)
{
    lua_settop(L, 0);
    lua_pushstring(L, name);
    lua_gettable(L, LUA_GLOBALSINDEX);
    lua_pushstring(L, a.c_str());
    int n = 1;
    if (!b.empty()) {
        lua_pushstring(L, b.c_str());
        n++;
    }
    if (callback) {
        if (!strcmp(name, "copyfile")) {
            lua_pushnil(L);
            n++;
        }
        lua_pushcfunction(L, quietCallback);
        n++;
    }
    double t = now();
    int st = lua_pcall(L, n, 0, 0);
    t = now() - t;
    if (st) std::fprintf(stderr, "%s failed: %d\n", name, st);
    return t;
}

// A DirectoryItems walk of the whole tree that reads size and time.
long walk(lua_State *L, const std::string &dir)
{
    long count = 0;
    int base = lua_gettop(L);
    lua_pushstring(L, "directoryitems");
    lua_gettable(L, LUA_GLOBALSINDEX);
    lua_pushstring(L, dir.c_str());
    if (lua_pcall(L, 1, 1, 0)) return -1;
    int iter = lua_gettop(L);
    for (;;) {
        lua_settop(L, iter);
        lua_pushvalue(L, iter);
        if (lua_pcall(L, 0, 2, 0) || lua_isnil(L, -2)) break;
        std::string name = lua_tostring(L, -2);
        lua_pushstring(L, "size");
        lua_gettable(L, -2);
        lua_pushstring(L, "time");
        lua_gettable(L, -3);
        lua_pushstring(L, "type");
        lua_gettable(L, -4);
        bool isDir = lua_tonumber(L, -1) == 1;
        count++;
        if (isDir) count += walk(L, dir + "/" + name);
    }
    lua_settop(L, base);
    return count;
}

void report(const char *what, double mine, double peer, const char *peerName)
{
    std::printf("%-34s %8.3f s   %-22s %8.3f s   ratio %.2f\n", what, mine, peerName, peer, mine / peer);
}

} // namespace

int main(int argc, char **argv)
{
    long megabytes = argc > 1 ? std::atol(argv[1]) : 1024;
    long files = argc > 2 ? std::atol(argv[2]) : 50000;
    std::string root = argc > 3 ? argv[3] : (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    root += "/qxbench_dosfs." + std::to_string(getpid());
    std::system(("mkdir -p " + root + "/tree").c_str());
    lua_State *L = lua_open();
    if (!L || qxOpenDosLib(L)) return 2;
    std::printf("in %s: %ld MiB file, %ld-file tree, best of 5\n", root.c_str(), megabytes, files);

    std::string big = root + "/big.bin";
    std::system(("head -c " + std::to_string(megabytes) + "M /dev/urandom > " + big).c_str());
    double best[4] = {1e9, 1e9, 1e9, 1e9};
    for (int run = 0; run < 5; run++) {
        std::system(("rm -rf " + root + "/c1 " + root + "/c2 " + root + "/c3; mkdir " + root + "/c2").c_str());
        best[0] = std::min(best[0], timeCommand(L, "copyfile", big, root + "/c1", false));
        best[1] = std::min(best[1], timeShell("cp " + big + " " + root + "/c2/"));
        best[2] = std::min(best[2], timeCommand(L, "copyfile", big, root + "/c3", true));
    }
    report("CopyFile large file", best[0], best[1], "cp");
    report("CopyFile large file, callback", best[2], best[1], "cp");
    std::system(("rm -rf " + root + "/c1 " + root + "/c2 " + root + "/c3 " + big).c_str());

    // 100 directories of small files.
    std::string make = "cd " + root + "/tree && for d in $(seq 1 100); do mkdir d$d; done && "
                       "seq 1 " + std::to_string(files) +
                       " | awk '{ f = \"d\" ($1 % 100 + 1) \"/f\" $1 \".txt\"; printf \"x%d\\n\", $1 > f; close(f) }'";
    timeShell(make);
    std::fill(best, best + 4, 1e9);
    double walkBest = 1e9, findBest = 1e9;
    for (int run = 0; run < 5; run++) {
        std::system(("rm -rf " + root + "/t1 " + root + "/t2").c_str());
        best[0] = std::min(best[0], timeCommand(L, "copyfile", root + "/tree", root + "/t1", false));
        best[1] = std::min(best[1], timeShell("cp -r --preserve=mode,timestamps " + root + "/tree " + root + "/t2"));
        best[2] = std::min(best[2], timeCommand(L, "deletefile", root + "/t1", "", false));
        best[3] = std::min(best[3], timeShell("rm -rf " + root + "/t2"));
        double t = now();
        long n = walk(L, root + "/tree");
        walkBest = std::min(walkBest, now() - t);
        if (n != files + 100) std::fprintf(stderr, "walk saw %ld entries\n", n);
        findBest = std::min(findBest, timeShell("find " + root + "/tree -printf \"%s %t %m %p\\n\" > /dev/null"));
    }
    report("CopyFile tree", best[0], best[1], "cp -r --preserve");
    report("DeleteFile tree", best[2], best[3], "rm -rf");
    report("DirectoryItems walk (size, time)", walkBest, findBest, "find -printf");
    std::system(("rm -rf " + root).c_str());
    lua_close(L);
    return 0;
}
