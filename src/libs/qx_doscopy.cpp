// CopyFile, MoveFile and DeleteFile: single files and whole trees with a
// pattern filter and a callback that reports progress and answers
// questions. Walks work with full paths, so the current directory is never
// changed; they never descend through a symbolic link.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/commands/qx_args.h"
#include "core/commands/qx_commands.h"
#include "core/errors/qx_errors.h"
#include "core/runtime/qx_lists.h"
#include "core/vm/lauxlib.h"
#include "core/vm/ldo.h"
#include "libs/qx_dos.h"
#include "libs/qx_dosfs.h"
#include "platform/qx_memory.h"
#include "platform/qx_text.h"
#include "platform/qx_upcalls.h"

namespace {

constexpr size_t kMaxTarget = 2048;
constexpr size_t kPiece = 16384;
constexpr size_t kBigPiece = 1 << 20;

enum Action : int {
    COPY_STATUS = 0, COPY_OVERWRITE = 1, COPY_UNPROTECT = 2,
    MOVE_UNPROTECT = 0, MOVE_COPY = 1, MOVE_DELETE = 2,
    DELETE_STATUS = 0, DELETE_UNPROTECT = 1,
};

// What one CopyFile, MoveFile or DeleteFile works with.
struct Job {
    lua_State *L = nullptr;
    int callback = 0; // stack index of the function, 0 for none
    int userdata = 0; // stack index of the user data, 0 for none
    const char *pattern = nullptr;
    bool filterDirs = true;
    bool move = false;
    bool walking = false; // inside a tree, where entries may vanish
    std::vector<char> buffer;
};

std::string nat(const std::string &path)
{
    char buffer[QX_PATH_MAX];
    return qxNativePath(path.c_str(), buffer, sizeof buffer, 1) ? std::string(buffer) : std::string();
}

// A native entry name in the script's text mode.
std::string txt(const char *name)
{
    if (qxTextModeUtf8) return name;
    char *latin = qxUtf8ToLatin1Dup(name);
    std::string s = latin ? latin : name;
    qxFree(latin);
    return s;
}

// 0, or 1000 when a path grew too long for the system (never cut).
int pathFits(const std::string &path)
{
    if (!nat(path).empty()) return 0;
    qxSetErrorString(path.c_str());
    return ERR_MEM;
}

std::string join(const std::string &dir, const std::string &name)
{
    if (dir.empty()) return name;
    char last = dir.back();
    return (last == '/' || last == '\\') ? dir + name : dir + "/" + name;
}

// The base name; for a chunk name that of the name it carries.
std::string baseName(const std::string &path) { return qxChunkBaseName(path.c_str()); }

bool protectedMode(mode_t mode) { return (mode & S_IWUSR) == 0; }

// How the callback names a source: its full path (a chunk or adapter name as it is).
std::string fullName(const std::string &path, bool layer)
{
    char full[QX_PATH_MAX];
    return !layer && qxFullPath(path.c_str(), full, sizeof full) ? std::string(full) : path;
}

bool matches(const Job &job, const std::string &name)
{
    return !job.pattern || qxMatchPatternList(name.c_str(), job.pattern) == 1;
}

// A message table for the callback: action and the given fields.
int ask(Job &job, int action, const char *source, const char *destination, const char *file, double *answer,
        const double *copied = nullptr, const double *size = nullptr)
{
    lua_State *L = job.L;
    if (!lua_checkstack(L, 6)) return ERR_STACK;
    lua_newtable(L);
    qxSetFieldInt(L, "action", action);
    if (source) qxSetFieldStr(L, "source", source);
    if (destination) qxSetFieldStr(L, "destination", destination);
    if (file) qxSetFieldStr(L, "file", file);
    if (copied) qxSetFieldNum(L, "copied", *copied);
    if (size) qxSetFieldNum(L, "filesize", *size);
    if (job.userdata) {
        lua_pushstring(L, "userdata");
        lua_pushvalue(L, job.userdata);
        lua_rawset(L, -3);
    }
    return qxDosAskCallback(L, job.callback, answer);
}

// Polls events after a unit of work: 1003 when the user asked to quit.
int pollQuit(lua_State *L)
{
    if (!qxUpcalls.pollEvents) return 0;
    return qxUpcalls.pollEvents(L, 2);
}

// The bytes of one open source into an open target; 0, 1005, 1009, 1003.
int copyNative(Job &job, int in, int out, const struct stat &st, const std::string &source,
               const std::string &target)
{
    double copied = 0, size = static_cast<double>(st.st_size);
    if (!job.callback) {
        // Nobody sees the pieces: let the kernel move the data.
        bool kernel = true;
        for (;;) {
            ssize_t n = kernel ? copy_file_range(in, nullptr, out, nullptr, kBigPiece * 64, 0) : -1;
            if (n < 0 && kernel && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
                kernel = false;
                continue;
            }
            if (n < 0 && kernel) return errno == ENOSPC || errno == EDQUOT || errno == EFBIG ? ERR_WRITE : ERR_READ;
            if (!kernel) {
                if (job.buffer.size() < kBigPiece) job.buffer.resize(kBigPiece);
                n = read(in, job.buffer.data(), kBigPiece);
                if (n < 0) return ERR_READ;
                if (n > 0) {
                    ssize_t w = write(out, job.buffer.data(), static_cast<size_t>(n));
                    if (w != n) return ERR_WRITE;
                }
            }
            if (n == 0) break;
            copied += static_cast<double>(n);
        }
    } else {
        if (job.buffer.size() < kPiece) job.buffer.resize(kPiece);
        for (;;) {
            ssize_t n = read(in, job.buffer.data(), kPiece);
            if (n < 0) return ERR_READ;
            if (n == 0) break;
            if (write(out, job.buffer.data(), static_cast<size_t>(n)) != n) return ERR_WRITE;
            copied += static_cast<double>(n);
            double answer = 0;
            if (int r = ask(job, job.move ? MOVE_COPY : COPY_STATUS, source.c_str(), target.c_str(), nullptr,
                            &answer, &copied, &size))
                return r;
            if (answer == 1) return ERR_USERABORT;
        }
    }
    return copied == size ? 0 : ERR_READ;
}

// The bytes of a source that only the file layer can open (linked files,
// adapters); 0, 1005, 1009, 1003.
int copyLayer(Job &job, qxFileHandle *in, int out, const std::string &source, const std::string &target)
{
    if (job.buffer.size() < kPiece) job.buffer.resize(kPiece);
    int64_t known = qxFileSize(in);
    double copied = 0, size = static_cast<double>(known);
    for (;;) {
        int64_t n = qxRead(in, job.buffer.data(), kPiece);
        if (n < 0) return ERR_READ;
        if (n == 0) break;
        if (write(out, job.buffer.data(), static_cast<size_t>(n)) != n) return ERR_WRITE;
        copied += static_cast<double>(n);
        if (job.callback) {
            double answer = 0;
            if (int r = ask(job, job.move ? MOVE_COPY : COPY_STATUS, source.c_str(), target.c_str(), nullptr,
                            &answer, &copied, &size))
                return r;
            if (answer == 1) return ERR_USERABORT;
        }
    }
    if (known >= 0 ? copied != size : !qxEOF(in)) return ERR_READ;
    return 0;
}

// Deletes the entry name of the directory at dirFd (AT_FDCWD: name is a
// native path), whose lstat is st, with the questions of the callback;
// path is its name for messages. *kept is set when it stays. 0, 1143, 1003
// or the callback's error.
int deleteEntry(Job &job, int dirFd, const char *name, const struct stat &st, const std::string &path, bool *kept)
{
    if (!S_ISLNK(st.st_mode) && protectedMode(st.st_mode)) {
        if (!job.callback) {
            *kept = true;
            return 0;
        }
        double answer = 0;
        const char *text = path.c_str();
        if (int r = ask(job, job.move ? MOVE_UNPROTECT : DELETE_UNPROTECT, job.move ? text : nullptr, nullptr,
                        job.move ? nullptr : text, &answer))
            return r;
        if (answer == 0) {
            *kept = true;
            return 0;
        }
        if (answer == -1) return ERR_USERABORT;
        if (fchmodat(dirFd, name, (st.st_mode & 07777) | S_IWUSR, 0) != 0) {
            qxSetErrorString(path.c_str());
            return ERR_DELETEFILE;
        }
    }
    if (job.callback) {
        double answer = 0;
        const char *text = path.c_str();
        if (int r = ask(job, job.move ? MOVE_DELETE : DELETE_STATUS, job.move ? text : nullptr, nullptr,
                        job.move ? nullptr : text, &answer))
            return r;
        if (answer == 1) return ERR_USERABORT;
    }
    if (unlinkat(dirFd, name, 0) != 0 && errno != ENOENT) {
        qxSetErrorString(path.c_str());
        return ERR_DELETEFILE;
    }
    return pollQuit(job.L);
}

int deleteOne(Job &job, const std::string &path, bool *kept)
{
    struct stat st;
    std::string n = nat(path);
    if (lstat(n.c_str(), &st) != 0) {
        if (errno == ENOENT) return 0; // gone meanwhile
        qxSetErrorString(path.c_str());
        return ERR_DELETEFILE;
    }
    return deleteEntry(job, AT_FDCWD, n.c_str(), st, path, kept);
}

struct DirCloser {
    DIR *d;
    ~DirCloser()
    {
        if (d) closedir(d);
    }
};

// Deletes the entries of a directory: files through deleteOne (those that
// match the pattern), links as themselves, subdirectories as the pattern
// and filter say; then the directory unless keep.
int deleteTree(Job &job, const std::string &dir, bool keep, bool *kept, int depth)
{
    if (depth > 512) return ERR_WRONGUSAGE;
    if (int r = pathFits(dir)) return r;
    DirCloser d{opendir(nat(dir).c_str())};
    if (!d.d) {
        if (errno == ENOENT) return 0;
        qxSetErrorString(dir.c_str());
        return ERR_LOCK2;
    }
    int fd = dirfd(d.d);
    while (struct dirent *e = readdir(d.d)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
        struct stat st;
        if (fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue; // vanished
        std::string name = txt(e->d_name);
        if (!S_ISDIR(st.st_mode)) {
            if (!matches(job, name)) continue;
            if (int r = deleteEntry(job, fd, e->d_name, st, join(dir, name), kept)) return r;
            continue;
        }
        std::string path = join(dir, name);
        int r = 0;
        if (!job.pattern) {
            r = deleteTree(job, path, false, kept, depth + 1);
        } else if (job.filterDirs) {
            if (!matches(job, name)) continue;
            // A matching directory goes as a whole.
            const char *pattern = job.pattern;
            job.pattern = nullptr;
            r = deleteTree(job, path, false, kept, depth + 1);
            job.pattern = pattern;
        } else {
            // The pattern picks files at every level; the directories stay.
            r = deleteTree(job, path, true, kept, depth + 1);
        }
        if (r) return r;
    }
    if (keep) return 0;
    if (rmdir(nat(dir).c_str()) != 0 && errno != ENOENT) {
        if (*kept && (errno == ENOTEMPTY || errno == EEXIST)) return 0; // what the answers kept
        qxSetErrorString(dir.c_str());
        return ERR_DELETEFILE;
    }
    return 0;
}

// Copies the file source into the directory dir under newName (its own
// base name when empty). *done is set when the target was written.
int copyOne(Job &job, const std::string &source, const std::string &dir, const std::string &newName, bool *done)
{
    *done = false;
    std::string base = baseName(source);
    if (job.pattern && !matches(job, base)) return 0;
    std::string target = join(dir, newName.empty() ? base : newName);
    if (target.size() > kMaxTarget) {
        qxSetErrorString(target.c_str());
        return ERR_MEM;
    }
    std::string ns = nat(source), nt = nat(target);
    bool layer = qxIsChunkName(source.c_str());
    struct stat st {};
    qxFileHandle *lh = nullptr;
    int in = -1;
    if (!layer) {
        // Non-blocking, so that a FIFO cannot stall the copy before it is refused.
        in = open(ns.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (in >= 0 && fstat(in, &st) == 0 && !S_ISREG(st.st_mode)) {
            close(in);
            qxSetErrorString(source.c_str());
            return ERR_READFILE; // a device or FIFO has no end to copy up to
        }
        if (in < 0 || fstat(in, &st) != 0) {
            bool gone = in < 0 && errno == ENOENT;
            if (in >= 0) close(in);
            if (!qxFileAdapters) {
                if (gone && job.walking) return 0; // gone since the listing
                qxSetErrorString(source.c_str());
                return ERR_READFILE;
            }
            layer = true; // perhaps a file adapter's name
        }
    }
    if (layer) {
        lh = qxOpen(source.c_str(), QX_OPEN_READ | QX_OPEN_ADAPTERS, nullptr);
        qxFileInfo info{};
        if (!lh) {
            qxSetErrorString(source.c_str());
            return ERR_READFILE;
        }
        if (qxExamineFH(lh, &info)) {
            st.st_mode = qxProtectionToMode(info.protection) | S_IFREG;
            st.st_mtim.tv_sec = static_cast<time_t>(info.modifyTime);
            st.st_atim.tv_sec = static_cast<time_t>(info.accessTime);
        } else {
            st.st_mode = S_IFREG | 0644;
            st.st_mtim.tv_sec = st.st_atim.tv_sec = time(nullptr);
        }
    }
    auto closeSource = [&] {
        if (in >= 0) close(in);
        if (lh) qxClose(lh);
    };
    const std::string shown = job.callback ? fullName(source, layer) : source;

    struct stat tst;
    if (stat(nt.c_str(), &tst) == 0) {
        // A target that is the source itself would be truncated before it is read.
        if (!layer && tst.st_dev == st.st_dev && tst.st_ino == st.st_ino) {
            closeSource();
            qxSetErrorString(target.c_str());
            return ERR_WRONGUSAGE;
        }
        if (S_ISDIR(tst.st_mode)) {
            closeSource();
            qxSetErrorString(target.c_str());
            return ERR_WRITEFILE;
        }
        bool prot = protectedMode(tst.st_mode);
        if (!job.callback) {
            if (prot) {
                closeSource();
                return 0;
            }
        } else {
            double answer = 0;
            int r = ask(job, COPY_OVERWRITE, shown.c_str(), target.c_str(), nullptr, &answer);
            if (!r && answer == -1) r = ERR_USERABORT;
            if (!r && answer != 0 && prot) {
                r = ask(job, COPY_UNPROTECT, shown.c_str(), target.c_str(), nullptr, &answer);
                if (!r && answer == -1) r = ERR_USERABORT;
                if (!r && answer != 0 && chmod(nt.c_str(), 0644) != 0) {
                    qxSetErrorString(target.c_str());
                    r = ERR_WRITEFILE;
                }
            }
            if (r || answer == 0) {
                closeSource();
                return r;
            }
        }
    }

    int out = open(nt.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0) {
        closeSource();
        qxSetErrorString(target.c_str());
        return ERR_WRITEFILE;
    }
    int r = layer ? copyLayer(job, lh, out, shown, target) : copyNative(job, in, out, st, shown, target);
    if (!r) {
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        fchmod(out, st.st_mode & 07777);
        futimens(out, times);
    }
    if (close(out) != 0 && !r) r = ERR_WRITE;
    closeSource();
    if (r) {
        unlink(nt.c_str()); // never a partial target
        if (r == ERR_READ) qxSetErrorString(source.c_str());
        return r;
    }
    *done = true;
    if (job.move) {
        bool kept = false;
        if (int e = deleteOne(job, shown, &kept)) return e;
    }
    return pollQuit(job.L);
}

// Copies the tree at source to target (created with its parents).
int copyTree(Job &job, const std::string &source, const std::string &target, int depth)
{
    if (depth > 512) return ERR_WRONGUSAGE;
    if (int r = pathFits(source)) return r;
    if (int r = pathFits(target)) return r;
    std::string ns = nat(source);
    struct stat sst;
    DirCloser d{opendir(ns.c_str())};
    if (!d.d || fstat(dirfd(d.d), &sst) != 0) {
        qxSetErrorString(source.c_str());
        return ERR_LOCK2;
    }
    if (int r = qxDosMakePath(target.c_str())) return r;
    job.walking = true;
    int fd = dirfd(d.d);
    while (struct dirent *e = readdir(d.d)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
        struct stat st;
        if (fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue; // vanished
        std::string name = txt(e->d_name), path = join(source, name);
        if (S_ISLNK(st.st_mode)) {
            struct stat to;
            bool toDir = fstatat(fd, e->d_name, &to, 0) == 0 && S_ISDIR(to.st_mode);
            if (!toDir) {
                // Dangling, or pointing at a device or FIFO: nothing to copy.
                if (fstatat(fd, e->d_name, &to, 0) != 0 || !S_ISREG(to.st_mode)) continue;
                bool done;
                if (int r = copyOne(job, path, target, "", &done)) return r;
                continue;
            }
            // A link to a directory is copied as the link: following it
            // could loop or copy what lies outside the tree.
            if (job.pattern && job.filterDirs && !matches(job, name)) continue;
            char link[PATH_MAX];
            ssize_t n = readlinkat(fd, e->d_name, link, sizeof link - 1);
            if (n < 0) continue;
            link[n] = 0;
            std::string nt = nat(join(target, name));
            if (symlink(link, nt.c_str()) != 0 && errno != EEXIST) {
                qxSetErrorString(join(target, name).c_str());
                return ERR_WRITEFILE;
            }
            if (job.move && unlinkat(fd, e->d_name, 0) != 0) {
                qxSetErrorString(path.c_str());
                return ERR_DELETEFILE;
            }
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            if (job.pattern && job.filterDirs && !matches(job, name)) continue;
            if (int r = copyTree(job, path, join(target, name), depth + 1)) return r;
            continue;
        }
        if (!S_ISREG(st.st_mode)) continue; // devices, FIFOs and sockets stay behind
        bool done;
        if (int r = copyOne(job, path, target, "", &done)) return r;
    }
    std::string nt = nat(target);
    struct timespec times[2] = {sst.st_atim, sst.st_mtim};
    chmod(nt.c_str(), sst.st_mode & 07777);
    utimensat(AT_FDCWD, nt.c_str(), times, 0);
    if (job.move) rmdir(ns.c_str()); // skipped files keep it
    return 0;
}

// A tree that a directory adapter lists: its entries are named by full
// paths and read through the file adapters.
int copyAdapterTree(Job &job, qxDirHandle *h, const std::string &source, const std::string &target, int depth)
{
    if (depth > 512) return ERR_WRONGUSAGE;
    if (int r = qxDosMakePath(target.c_str())) return r;
    job.walking = true;
    const char *entry;
    int isDirectory = 0;
    qxFileInfo info{};
    while (qxReadDirEntry(h, nullptr, &entry, &isDirectory, &info)) {
        std::string name = entry, path = join(source, name);
        if (!isDirectory) {
            bool done;
            if (int r = copyOne(job, path, target, "", &done)) return r;
            continue;
        }
        if (job.pattern && job.filterDirs && !matches(job, name)) continue;
        qxDirHandle *sub = qxOpenDir(path.c_str(), QX_DIR_READLOCK | QX_DIR_ADAPTERS, nullptr);
        if (!sub) {
            qxSetErrorString(path.c_str());
            return ERR_LOCK2;
        }
        int r = copyAdapterTree(job, sub, path, join(target, name), depth + 1);
        qxCloseDir(sub);
        if (r) return r;
    }
    return 0;
}

// The adapter's handle when a directory adapter lists path, else null.
qxDirHandle *adapterDir(const std::string &path)
{
    if (!qxDirAdapters || qxIsChunkName(path.c_str())) return nullptr;
    qxDirHandle *h = qxOpenDir(path.c_str(), QX_DIR_READLOCK | QX_DIR_ADAPTERS, nullptr);
    if (h && qxDirAdapterOf(h) && qxCheckIsDir(h, nullptr) == 0) return h;
    if (h) qxCloseDir(h);
    return nullptr;
}

// The absolute, resolved form of a path whose tail may not exist yet.
std::string resolveLoose(const std::string &path)
{
    std::string n = nat(path), rest;
    char resolved[PATH_MAX];
    while (!n.empty()) {
        if (realpath(n.c_str(), resolved)) return std::string(resolved) + rest;
        size_t slash = n.find_last_of('/');
        if (slash == std::string::npos) {
            rest = "/" + n + rest;
            n = ".";
            if (realpath(n.c_str(), resolved)) return std::string(resolved) + rest;
            return rest;
        }
        rest = n.substr(slash) + rest;
        n = slash == 0 ? "/" : n.substr(0, slash);
        if (slash == 0 && realpath("/", resolved)) return rest;
    }
    return rest;
}

bool inside(const std::string &inner, const std::string &outer)
{
    return inner == outer || (inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
                              (outer == "/" || inner[outer.size()] == '/'));
}

// Reads the optional callback (index cb) and user data into the job.
void readCallback(lua_State *L, Job &job, int cb)
{
    if (lua_gettop(L) >= cb && !lua_isnil(L, cb)) {
        if (!lua_isfunction(L, cb)) {
            qxSetErrorNumber(cb);
            luaG_raisecode(L, ERR_FUNCEXPECTED);
        }
        job.callback = cb;
        if (lua_gettop(L) > cb) job.userdata = cb + 1;
    }
}

const char *optString(lua_State *L, int idx)
{
    if (lua_gettop(L) < idx || lua_isnil(L, idx)) return nullptr;
    const char *s = luaL_checkstring(L, idx);
    return *s ? s : nullptr;
}

int endJob(int r) { return r == ERR_USERABORT ? 0 : r; }

void cutSlash(std::string &s)
{
    if (s.size() > 1 && (s.back() == '/' || s.back() == '\\')) s.pop_back();
}

} // namespace

int qxDosAskCallback(lua_State *L, int fn, double *answer)
{
    lua_pushvalue(L, fn);
    lua_insert(L, -2);
    // The attribute counts levels: 1 enters one, 0 leaves one.
    qxSetTag(QX_TAG_CALLBACKNEST, 1);
    int status = lua_pcall(L, 1, 1, 0);
    qxSetTag(QX_TAG_CALLBACKNEST, 0);
    if (status) return status;
    *answer = lua_type(L, -1) == LUA_TNUMBER ? lua_tonumber(L, -1) : 0;
    lua_pop(L, 1);
    return pollQuit(L);
}

int qxCmdCopyFile(lua_State *L)
{
    qxCheckArgCount(L, 2, 7, 0, 0);
    std::string source = luaL_checkstring(L, 1), dest = luaL_checkstring(L, 2);
    const char *newNameArg = optString(L, 3);
    std::string newName = newNameArg ? newNameArg : "";
    Job job;
    job.L = L;
    readCallback(L, job, 4);
    job.pattern = optString(L, 6);
    job.filterDirs = luaL_optnumber(L, 7, 1) != 0;
    if (source.empty() && dest.empty()) return ERR_WRONGUSAGE;
    if (job.pattern && std::strlen(job.pattern) + 2 > QX_PATTERN_BUFFER) return ERR_WRONGUSAGE;
    if (source.size() > kMaxTarget || dest.size() > kMaxTarget) return ERR_MEM;
    if (job.pattern) cutSlash(source);
    std::string resolvedSource = qxGetFileNameArg(L, 1, 0, nullptr);
    if (!job.pattern) source = resolvedSource;

    struct stat st;
    bool isDir = !qxIsChunkName(source.c_str()) && stat(nat(source).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    qxDirHandle *remote = isDir ? nullptr : adapterDir(source);
    if (remote) {
        struct Closer {
            qxDirHandle *h;
            ~Closer() { qxCloseDir(h); }
        } closer{remote};
        if (!newName.empty()) return ERR_WRONGUSAGE;
        if (int r = qxDosMakePath(dest.c_str())) return r;
        return endJob(copyAdapterTree(job, remote, source, dest, 0));
    }
    if (isDir) {
        if (!newName.empty()) return ERR_WRONGUSAGE;
        // A destination inside the source would copy into itself for ever.
        if (inside(resolveLoose(dest), resolveLoose(source))) {
            qxSetErrorString(dest.c_str());
            return ERR_WRONGUSAGE;
        }
    }
    struct stat dst;
    if (stat(nat(dest).c_str(), &dst) != 0)
        if (int r = qxDosMakePath(dest.c_str())) return r;
    char full[QX_PATH_MAX];
    if (!qxFullPath(dest.c_str(), full, sizeof full)) {
        qxSetErrorString(dest.c_str());
        return ERR_LOCK2;
    }
    if (isDir) return endJob(copyTree(job, source, full, 0));
    if (job.pattern) {
        // Only a directory can be filtered; a missing name is still missing.
        if (!qxIsChunkName(source.c_str()) && stat(nat(source).c_str(), &st) != 0) {
            qxSetErrorString(source.c_str());
            return ERR_READFILE;
        }
        return ERR_NODIRPATTERN;
    }
    bool done;
    return endJob(copyOne(job, source, full, newName, &done));
}

int qxCmdMoveFile(lua_State *L)
{
    qxCheckArgCount(L, 2, 4, 0, 0);
    std::string source = luaL_checkstring(L, 1), dest = luaL_checkstring(L, 2);
    Job job;
    job.L = L;
    job.move = true;
    readCallback(L, job, 3);
    if (source.empty() || dest.empty() || qxIsChunkName(source.c_str()) || qxIsChunkName(dest.c_str()))
        return ERR_WRONGUSAGE;
    if (source.size() > kMaxTarget || dest.size() > kMaxTarget) return ERR_MEM;
    cutSlash(source);
    cutSlash(dest);
    struct stat st;
    if (lstat(nat(dest).c_str(), &st) == 0) return ERR_WRONGUSAGE;
    if (lstat(nat(source).c_str(), &st) != 0) {
        qxSetErrorString(source.c_str());
        return ERR_READFILE;
    }
    bool isDir = S_ISDIR(st.st_mode);
    if (isDir && qxIsMountPoint(source.c_str())) return ERR_WRONGUSAGE;
    std::string parent = dest;
    size_t cut = parent.find_last_of("/\\");
    parent = cut == std::string::npos ? "." : parent.substr(0, cut == 0 ? 1 : cut);
    char full[QX_PATH_MAX];
    struct stat pst;
    if (stat(nat(parent).c_str(), &pst) != 0 || !S_ISDIR(pst.st_mode) || !qxFullPath(parent.c_str(), full, sizeof full)) {
        qxSetErrorString(dest.c_str());
        return ERR_LOCK2;
    }
    std::string target = join(full, baseName(dest));
    if (isDir && inside(resolveLoose(target), resolveLoose(source))) return ERR_WRONGUSAGE;
    int r = qxMoveFile(source.c_str(), target.c_str());
    if (r != ERR_WRONGUSAGE) return r ? ERR_MOVEFILE : 0;
    // Another volume: copy, then delete what was copied.
    if (isDir) return endJob(copyTree(job, source, target, 0));
    bool done;
    return endJob(copyOne(job, source, full, baseName(dest), &done));
}

int qxCmdDeleteFile(lua_State *L)
{
    qxCheckArgCount(L, 1, 5, 0, 0);
    std::string name = luaL_checkstring(L, 1);
    Job job;
    job.L = L;
    readCallback(L, job, 2);
    job.pattern = optString(L, 4);
    job.filterDirs = luaL_optnumber(L, 5, 1) != 0;
    if (name.empty() || qxIsChunkName(name.c_str())) return ERR_WRONGUSAGE;
    if (job.pattern && std::strlen(job.pattern) + 2 > QX_PATTERN_BUFFER) return ERR_WRONGUSAGE;
    if (int r = pathFits(name)) return r;
    bool keep = job.pattern != nullptr;
    if (name.size() > 1 && (name.back() == '/' || name.back() == '\\')) {
        name.pop_back();
        keep = true;
    }
    std::string n = nat(name);
    struct stat st;
    // With a slash a link to a directory means its contents; without, the link.
    int got = keep ? stat(n.c_str(), &st) : lstat(n.c_str(), &st);
    if (got != 0) return 0;
    bool kept = false;
    if (!S_ISDIR(st.st_mode)) {
        if (job.pattern) return ERR_NODIRPATTERN;
        return endJob(deleteOne(job, name, &kept));
    }
    return endJob(deleteTree(job, name, keep, &kept, 0));
}
