// Throughput of the dos library's file commands against their peers on one
// large text file: CRC32 against zlib's crc32, MD5 against md5sum,
// CompressFile against gzip -6 (time and size), FileLines against wc -l, and
// a script's ReadLine loop against the loops that pay the same per-line
// interpreter costs: lua5.1's io.lines and Python's for line in file.
// Usage: bench_dos [megabytes (256)] [directory (/tmp)]
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

#include "core/commands/qx_commands.h"
#include "core/vm/lua.h"
#include "core/vm/qx_vmregs.h"
#include "display/qx_startdisplay.h"
#include "libs/qx_corelibs.h"
#include "vm/chunk_writer.h"

namespace {

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

long long fileSize(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// Text lines of varying length, so that compression and line counts mean something.
void makeFile(const std::string &path, long long bytes)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) std::exit(2);
    static const char *words[] = {"zephyrane ", "layer ", "sprite ", "display ", "12345 ", "brush ", "sample ",
                                  "0x7f3a ", "transition ", "the ", "of ", "a "};
    unsigned seed = 12345;
    std::string line;
    for (long long written = 0; written < bytes;) {
        line.clear();
        seed = seed * 1103515245 + 12345;
        int n = 1 + static_cast<int>((seed >> 16) % 16);
        for (int i = 0; i < n; i++) {
            seed = seed * 1103515245 + 12345;
            line += words[(seed >> 16) % 12];
        }
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), f);
        written += static_cast<long long>(line.size());
    }
    std::fclose(f);
}

// Runs a shell command and returns its wall time.
double timeShell(const std::string &cmd)
{
    double t = now();
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "peer failed: %s\n", cmd.c_str());
    return now() - t;
}

// Calls a command with string arguments; returns its wall time.
double timeCommand(lua_State *L, const char *name, const std::string &a, const std::string &b = "")
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
    double t = now();
    int st = lua_pcall(L, n, 1, 0);
    t = now() - t;
    if (st) std::fprintf(stderr, "%s failed: %d\n", name, st);
    return t;
}

void report(const char *what, double ours, double peer, double target = 1.2)
{
    double ratio = ours / peer;
    std::printf("%-30s %8.3f s  peer %8.3f s  ratio %5.2f  %s %.1f\n", what, ours, peer, ratio,
                ratio <= target ? "within" : "SLOWER than", target);
}

// The script loop "local readline = readline; for i = 1, lines do
// readline(1) end", run in the VM with the player's polling line hook;
// returns its wall time.
double timeReadLineScript(lua_State *L, long long lines)
{
    using namespace chunktest;
    Func f;
    f.k = {str("readline"), num(1), num(static_cast<double>(lines))};
    f.lines = {1, 2, 2, 2, 2, 2, 3, 3, 3, 2, 4};
    f.code = {CREATE_ABx(OP_GETGLOBAL, 0, 0), CREATE_ABx(OP_LOADK, 1, 1), CREATE_ABx(OP_LOADK, 2, 2),
              CREATE_ABx(OP_LOADK, 3, 1), CREATE_ABC(OP_SUB, 1, 1, 3), CREATE_J(3, 0),
              CREATE_ABC(OP_MOVE, 4, 0, 0), CREATE_ABx(OP_LOADK, 5, 1), CREATE_ABC(OP_CALL, 4, 2, 1),
              CREATE_AsBx(OP_FORLOOP, 1, -4), CREATE_ABC(OP_RETURN, 0, 1, 0)};
    lua_settop(L, 0);
    if (load(L, chunk(f)) != 0) {
        std::fprintf(stderr, "the ReadLine loop does not load\n");
        return 0;
    }
    lua_sethook(L, qxPollEventsIfAllowed, LUA_MASKLINE, 0);
    qxVmLineHookStride = QX_POLL_HOOK_STRIDE;
    double t = now();
    int st = lua_pcall(L, 0, 0, 0);
    t = now() - t;
    lua_sethook(L, nullptr, 0, 0);
    if (st) std::fprintf(stderr, "the ReadLine loop failed: %d\n", st);
    return t;
}

} // namespace

int main(int argc, char **argv)
{
    long long megabytes = argc > 1 ? std::atoll(argv[1]) : 256;
    std::string dir = argc > 2 ? argv[2] : "/tmp";
    std::string base = dir + "/qx_bench_dos." + std::to_string(getpid());
    std::string text = base + ".txt", packed = base + ".pk", gz = base + ".gz";
    makeFile(text, megabytes << 20);
    std::printf("file: %lld bytes\n", fileSize(text));
    timeShell("cat '" + text + "' > /dev/null"); // warm the page cache

    qxSetTag(QX_TAG_QUIET, 1);
    lua_State *L = lua_open();
    qxOpenDosLib(L);

    // CRC-32: the command against zlib's crc32 over the same 64 KB reads.
    double ours = timeCommand(L, "crc32", text);
    double t = now();
    {
        FILE *f = std::fopen(text.c_str(), "rb");
        static unsigned char buf[65536];
        uLong crc = crc32(0, Z_NULL, 0);
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) crc = crc32(crc, buf, static_cast<uInt>(n));
        std::fclose(f);
        std::printf("zlib crc32 %lu\n", crc);
    }
    report("CRC32 / zlib crc32", ours, now() - t);

    ours = timeCommand(L, "md5", text);
    report("MD5 / md5sum", ours, timeShell("md5sum '" + text + "' > /dev/null"));

    ours = timeCommand(L, "compressfile", text, packed);
    double peer = timeShell("gzip -6 -c '" + text + "' > '" + gz + "'");
    report("CompressFile / gzip -6", ours, peer);
    // Frames differ: ours has 8 bytes of tag and 6 of zlib wrapper, gzip's a
    // header with the name and 8 bytes of trailer.
    std::printf("%-26s ours %lld bytes, gzip %lld bytes (deflate data %lld vs about %lld)\n", "  sizes",
                fileSize(packed), fileSize(gz), fileSize(packed) - 14, fileSize(gz) - 18);

    // Lines: a FileLines loop and a ReadLine loop against wc -l.
    lua_settop(L, 0);
    lua_pushstring(L, "filelines");
    lua_gettable(L, LUA_GLOBALSINDEX);
    lua_pushstring(L, text.c_str());
    t = now();
    lua_pcall(L, 1, 1, 0);
    long long lines = 0;
    for (;;) {
        lua_settop(L, 1);
        lua_pushvalue(L, 1);
        if (lua_pcall(L, 0, 1, 0) || lua_type(L, -1) != LUA_TSTRING) break;
        lines++;
    }
    ours = now() - t;
    peer = timeShell("wc -l '" + text + "' > /dev/null");
    std::printf("FileLines read %lld pieces\n", lines);
    report("FileLines / wc -l", ours, peer);

    lua_settop(L, 0);
    lua_pushstring(L, "openfile");
    lua_gettable(L, LUA_GLOBALSINDEX);
    lua_pushnumber(L, 1);
    lua_pushstring(L, text.c_str());
    lua_pcall(L, 2, 0, 0);
    ours = timeReadLineScript(L, lines);
    report("ReadLine loop / lua5.1 io.lines",
           ours, timeShell("lua5.1 -e 'local n = 0 for l in io.lines(\"" + text + "\") do n = n + 1 end'"), 1.0);
    report("ReadLine loop / python3 lines", ours,
           timeShell("/usr/bin/python3 -c 'import sys\nn = 0\nfor line in open(sys.argv[1]): n += 1' '" + text + "'"),
           1.0);

    qxCloseDosLib(L);
    lua_close(L);
    unlink(text.c_str());
    unlink(packed.c_str());
    unlink(gz.c_str());
    return 0;
}
