// Run and Execute: external programs, with a private copy of a program
// linked into the applet, and the external program thread that reports
// the end of a Run when the script asked to hear of it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "core/vm/ldo.h"
#include "display/qx_display.h"
#include "libs/qx_dos.h"
#include "libs/qx_dosfs.h"
#include "platform/qx_memory.h"
#include "platform/qx_paths.h"
#include "platform/qx_process.h"

int (*qxRunFinishedHandlerInstalled)(lua_State *L) = nullptr;

namespace {

constexpr size_t kPiece = 16384;

// One asynchronous Run that reports its end; the request comes first so
// the event's identifier (the request's address) is the record's.
struct ExternalProgram {
    qxProgramRequest request;
    ExternalProgram *next;
    int userRef;
    std::string program, arguments;
};

ExternalProgram *programs = nullptr;

// Copies of linked programs: chunk name and the file made for it.
struct LinkedCopy {
    std::string chunk, file, dir;
};
std::vector<LinkedCopy> copies;
std::string privateDir;

// Splits a command line into program and argument text; 0 or 1055.
int splitCommandLine(const char *line, std::string &program, std::string &arguments)
{
    const char *p = line;
    if (*p == '"') {
        const char *end = std::strchr(p + 1, '"');
        if (!end) return ERR_WRONGUSAGE;
        program.assign(p + 1, end);
        p = end + 1;
    } else {
        const char *end = std::strchr(p, ' ');
        if (!end) end = p + std::strlen(p);
        program.assign(p, end);
        p = end;
    }
    while (*p == ' ') p++;
    arguments = p;
    return program.empty() ? ERR_WRONGUSAGE : 0;
}

// A fresh private directory under the temporary one, made once.
bool makePrivateDir()
{
    if (!privateDir.empty()) return true;
    std::string templ = std::string(qxGetTempDirectory()) + "/zephyrane-run.XXXXXX";
    char native[QX_PATH_MAX];
    if (!qxNativePath(templ.c_str(), native, sizeof native, 1) || !mkdtemp(native)) return false;
    privateDir = native;
    return true;
}

// The file to run for a linked program: a copy made once per chunk, under
// the chunk's base name, in its own new directory, owner-executable.
int linkedCopy(const std::string &chunk, std::string &file)
{
    for (const LinkedCopy &c : copies)
        if (c.chunk == chunk) {
            file = c.file;
            return 0;
        }
    char base[QX_CHUNKNAME_MAX];
    if (!qxChunkNameBaseName(chunk.c_str(), base, sizeof base) || !std::strcmp(base, ".") || !std::strcmp(base, ".."))
        return ERR_WRONGUSAGE;
    if (!makePrivateDir()) return ERR_WRITEFILE;
    std::string dirTempl = privateDir + "/XXXXXX";
    std::vector<char> dirName(dirTempl.begin(), dirTempl.end());
    dirName.push_back(0);
    if (!mkdtemp(dirName.data())) return ERR_WRITEFILE;
    LinkedCopy made{chunk, std::string(dirName.data()) + "/" + base, dirName.data()};
    qxFileHandle *in = qxOpen(chunk.c_str(), QX_OPEN_READ, nullptr);
    if (!in) {
        rmdir(made.dir.c_str());
        qxSetErrorString(chunk.c_str());
        return ERR_READFILE;
    }
    int out = open(made.file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0700);
    int r = 0;
    if (out < 0) {
        qxSetErrorString(made.file.c_str());
        r = ERR_WRITEFILE;
    } else {
        std::vector<char> buffer(kPiece);
        for (;;) {
            int64_t n = qxRead(in, buffer.data(), kPiece);
            if (n <= 0) break;
            if (write(out, buffer.data(), static_cast<size_t>(n)) != n) {
                r = ERR_WRITE;
                break;
            }
        }
        if (close(out) != 0 && !r) r = ERR_WRITE;
    }
    qxClose(in);
    if (r) {
        unlink(made.file.c_str());
        rmdir(made.dir.c_str());
        return r;
    }
    file = made.file;
    copies.push_back(std::move(made));
    return 0;
}

// The program to start for a script's name; 0 or an error.
int programPath(lua_State *L, const std::string &name, std::string &out)
{
    const char *resolved = qxResolveFileName(L, name.c_str(), 0, nullptr);
    std::string r = resolved ? resolved : name;
    if (!qxIsChunkName(r.c_str())) {
        out = r;
        return 0;
    }
    return linkedCopy(r, out);
}

int startProgram(lua_State *L, bool wait);

// Keys and buttons held when the program took over are not held any longer
// when the script goes on (the clear-input argument, 1 by default).
int startAndClearInput(lua_State *L, bool wait)
{
    const bool clear = lua_gettop(L) < 2 || lua_isnil(L, 2) || luaL_checknumber(L, 2) != 0;
    const int r = startProgram(L, wait);
    if (clear && qxCurrentDisplay)
        std::memset(&qxCurrentDisplay->input, 0, sizeof qxCurrentDisplay->input);
    return r;
}

int startProgram(lua_State *L, bool wait)
{
    qxCheckArgCount(L, 1, 3, 0, 0);
    std::string program, arguments, path;
    if (int r = splitCommandLine(luaL_checkstring(L, 1), program, arguments)) return r;
    if (int r = programPath(L, program, path)) return r;
    const char *args = arguments.empty() ? nullptr : arguments.c_str();
    if (wait) return qxRunProgram(path.c_str(), args, 0);
    if (!qxRunFinishedHandlerInstalled || !qxRunFinishedHandlerInstalled(L))
        return qxRunProgram(path.c_str(), args, 1);
    auto *record = new (std::nothrow) ExternalProgram{};
    if (!record) return ERR_MEM;
    record->program = path;
    record->arguments = arguments;
    record->request.program = record->program.c_str();
    record->request.arguments = args ? record->arguments.c_str() : nullptr;
    record->userRef = -1;
    if (lua_gettop(L) >= 3) {
        lua_pushvalue(L, 3);
        record->userRef = luaL_ref(L, LUA_REGISTRYINDEX);
    }
    if (qxStartProgramThread(&record->request) != 0) {
        // The script must hear that nothing runs.
        if (record->userRef >= 0) luaL_unref(L, LUA_REGISTRYINDEX, record->userRef);
        delete record;
        return ERR_THREAD;
    }
    record->next = programs;
    programs = record;
    return 0;
}

} // namespace

extern "C" void qxDosFreePrograms(lua_State *L)
{
    while (programs) {
        ExternalProgram *p = programs;
        programs = p->next;
        qxStopProgramThread(&p->request);
        if (L && p->userRef >= 0) luaL_unref(L, LUA_REGISTRYINDEX, p->userRef);
        delete p;
    }
    for (const LinkedCopy &c : copies) {
        unlink(c.file.c_str());
        rmdir(c.dir.c_str());
    }
    copies.clear();
    if (!privateDir.empty()) rmdir(privateDir.c_str());
    privateDir.clear();
}

extern "C" int qxDosEndProgram(void *record, int *userRef)
{
    for (ExternalProgram **link = &programs; *link; link = &(*link)->next) {
        if (*link != record) continue;
        ExternalProgram *p = *link;
        *link = p->next;
        qxStopProgramThread(&p->request);
        *userRef = p->userRef;
        delete p;
        return 1;
    }
    return 0;
}

extern "C" int qxDosProgramOf(void *record, const char **program, const char **arguments)
{
    for (ExternalProgram *p = programs; p; p = p->next) {
        if (p != record) continue;
        *program = p->program.c_str();
        *arguments = p->arguments.empty() ? nullptr : p->arguments.c_str();
        return 1;
    }
    return 0;
}

int qxCmdRun(lua_State *L) { return startAndClearInput(L, false); }

int qxCmdExecute(lua_State *L) { return startAndClearInput(L, true); }
