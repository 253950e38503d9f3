// Host table, sub-table 0: the C runtime for plug-ins, with the paths
// converted to the text mode and the time and stat records of the
// plug-in interface.
#include <sys/stat.h>
#include <sys/time.h>

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "core/plugins/qx_hosttable.h"
#include "platform/qx_memory.h"
#include "platform/qx_paths.h"
#include "platform/qx_text.h"

namespace {

// The native form of a plug-in's path: converted from ISO-8859-1 outside
// UTF-8 mode.
std::string nativePath(const char *path)
{
    if (!path) return {};
    if (qxTextModeUtf8) return path;
    char *converted = qxLatin1ToUtf8Dup(path);
    if (!converted) return path;
    std::string s = converted;
    qxFree(converted);
    return s;
}

FILE *hostFopen(const char *path, const char *mode) { return path && mode ? qxFOpen(path, mode, 0) : nullptr; }

long hostLrint(double x) { return std::lrint(x); }

void toDate(const struct tm *t, qxHostDate *d)
{
    d->size = sizeof(qxHostDate);
    d->sec = t->tm_sec;
    d->min = t->tm_min;
    d->hour = t->tm_hour;
    d->mday = t->tm_mday;
    d->mon = t->tm_mon;
    d->year = t->tm_year;
    d->wday = t->tm_wday;
    d->yday = t->tm_yday;
    d->isdst = t->tm_isdst;
    d->gmtOffset = t->tm_gmtoff;
    d->zone = t->tm_zone;
}

struct tm fromDate(const qxHostDate *d)
{
    struct tm t = {};
    t.tm_sec = d->sec;
    t.tm_min = d->min;
    t.tm_hour = d->hour;
    t.tm_mday = d->mday;
    t.tm_mon = d->mon;
    t.tm_year = d->year;
    t.tm_wday = d->wday;
    t.tm_yday = d->yday;
    t.tm_isdst = d->isdst;
    t.tm_gmtoff = long(d->gmtOffset);
    t.tm_zone = d->zone;
    return t;
}

// Each slot keeps a record of its own.
qxHostDate *hostLocaltime(const time_t *when)
{
    static qxHostDate record;
    struct tm t;
    if (!when || !localtime_r(when, &t)) return nullptr;
    toDate(&t, &record);
    return &record;
}

qxHostDate *hostGmtime(const time_t *when)
{
    static qxHostDate record;
    struct tm t;
    if (!when || !gmtime_r(when, &t)) return nullptr;
    toDate(&t, &record);
    return &record;
}

char *hostAsctime(const qxHostDate *d)
{
    static char text[64];
    if (!d) return nullptr;
    struct tm t = fromDate(d);
    return asctime_r(&t, text);
}

time_t hostMktime(qxHostDate *d)
{
    if (!d) return time_t(-1);
    struct tm t = fromDate(d);
    time_t r = mktime(&t);
    toDate(&t, d);
    return r;
}

size_t hostStrftime(char *buffer, size_t capacity, const char *format, const qxHostDate *d)
{
    if (!d || !buffer || !format) return 0;
    struct tm t = fromDate(d);
    return strftime(buffer, capacity, format, &t);
}

void hostDifftime(time_t t1, time_t t0, double *out)
{
    if (out) *out = difftime(t1, t0);
}

void fillStat(const struct stat &st, qxHostStat *r)
{
    uint32_t flags = 0;
    if (S_ISDIR(st.st_mode)) flags |= 0x20000;
    const uint32_t bits[][2] = {{S_IRUSR, 1},     {S_IWUSR, 2},      {S_IXUSR, 8},
                                {S_IRGRP, 0x200}, {S_IWGRP, 0x400},  {S_IXGRP, 0x800},
                                {S_IROTH, 0x1000}, {S_IWOTH, 0x2000}, {S_IXOTH, 0x4000}};
    for (auto &b : bits)
        if (st.st_mode & b[0]) flags |= b[1];
    r->flags = flags;
    r->size = uint64_t(st.st_size);
    r->accessTime = uint64_t(st.st_atime);
    r->modifyTime = uint64_t(st.st_mtime);
    r->changeTime = uint64_t(st.st_ctime);
}

int hostFstat(int fd, qxHostStat *r)
{
    struct stat st;
    if (!r || fstat(fd, &st) != 0) return -1;
    fillStat(st, r);
    return 0;
}

int hostStat(const char *path, qxHostStat *r)
{
    struct stat st;
    if (!r || !path || stat(nativePath(path).c_str(), &st) != 0) return -1;
    fillStat(st, r);
    return 0;
}

int hostRename(const char *from, const char *to)
{
    if (!from || !to) return -1;
    return rename(nativePath(from).c_str(), nativePath(to).c_str());
}

int hostRemove(const char *path) { return path ? remove(nativePath(path).c_str()) : -1; }

int *hostSetErrno(int value)
{
    errno = value;
    return &errno;
}
int hostGetErrno(void) { return errno; }
FILE *hostStdin(void) { return stdin; }
FILE *hostStdout(void) { return stdout; }
FILE *hostStderr(void) { return stderr; }
int *hostErrnoAddress(void) { return &errno; }

int hostStrICmp(const char *a, const char *b) { return qxStrICmp(a, b); }
int hostStrNICmp(const char *a, const char *b, size_t n) { return qxStrNICmp(a, b, n); }

} // namespace

#define F(x) reinterpret_cast<qxHostFunc>(x)

extern "C" const qxHostFunc qxHostRuntime[QX_HOST_RUNTIME_SLOTS] = {
    F(::malloc), F(::calloc), F(::realloc), F(::free), F(::strdup),
    F(hostFopen),
    F(::fclose), F(::fseek), F(::ftell), F(::fread), F(::fwrite), F(::fgetc), F(::fputc), F(::ferror),
    F(::feof), F(::vfprintf), F(::vsnprintf), F(::vprintf), F(::qsort), F(::vsscanf), F(::strtod),
    F(::strtol), F(::strtoul),
    F(hostStrICmp), F(hostStrNICmp), F(qxToLower), F(qxToUpper), F(qxStrLower), F(qxStrUpper),
    F(::gettimeofday), F(::time), F(hostLrint),
    F(hostLocaltime), F(hostGmtime), F(hostAsctime), F(::ctime), F(hostMktime), F(hostStrftime),
    F(::clock), F(hostDifftime),
    F(::clearerr), F(::fileno), F(::fflush),
    F(hostFstat), F(hostStat),
    F(::vfscanf), F(::ungetc),
    F(hostRename), F(hostRemove),
    F(hostSetErrno), F(hostGetErrno), F(::strerror),
    F(hostStdin), F(hostStdout), F(hostStderr), F(hostErrnoAddress),
    F(::fputs), F(::fgets),
};
