// System library: dates and times as date texts, timestamps and the time zone.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "core/commands/qx_args.h"
#include "core/errors/qx_errors.h"
#include "core/vm/lauxlib.h"
#include "display/qx_displaylibs.h"
#include "libs/qx_datetext.h"
#include "libs/qx_systemlib.h"
#include "platform/qx_locale.h"
#include "platform/qx_sync.h"

namespace {

enum { DATE_LOCALNATIVE = 0, DATE_LOCAL = 1, DATE_UTC = 2 };
enum { DATE_YEAR = 0, DATE_MONTH = 1, DATE_DAY = 2, DATE_TIME = 3 };

// Far beyond every calendar year a broken-down time can hold; keeps the
// conversion to time_t defined.
constexpr double TIMESTAMP_LIMIT = 1e15;

const char *dateArg(lua_State *L, int narg, size_t *length) { return luaL_checklstring(L, narg, length); }

void pushDate(lua_State *L, const qxDateFields &d) {
    char text[QX_DATETEXT_SIZE];
    qxWriteDateText(&d, text, sizeof text);
    lua_pushstring(L, text);
}

qxDateFields fromTm(const tm &when) {
    return {when.tm_mday, when.tm_mon + 1, when.tm_year + 1900, when.tm_hour, when.tm_min, when.tm_sec};
}

// The current date from the platform (kind 1 local, 4 UTC).
qxDateFields currentDate(int kind) {
    char date[32], time[32];
    qxFormatDateTime(kind, date, sizeof date, time, sizeof time);
    qxDateFields d{};
    std::sscanf(date, "%d-%d-%d", &d.month, &d.day, &d.year);
    std::sscanf(time, "%d:%d:%d", &d.hour, &d.minute, &d.second);
    return d;
}

// A date text read for conversion: years before 1970 and invalid days or
// times are refused.
int readConvertible(lua_State *L, int narg, qxDateFields *d) {
    size_t length;
    const char *text = dateArg(L, narg, &length);
    if (int r = qxReadDateText(text, length, 0, d)) return r;
    if (d->year < 1970 || !qxIsValidDay(d->year, d->month, d->day) || !qxIsValidTime(d->hour, d->minute, d->second))
        return ERR_INVALIDDATE;
    return 0;
}

tm toTm(const qxDateFields &d, int dst) {
    tm when{};
    when.tm_mday = d.day;
    when.tm_mon = d.month - 1;
    when.tm_year = d.year - 1900;
    when.tm_hour = d.hour;
    when.tm_min = d.minute;
    when.tm_sec = d.second;
    when.tm_isdst = dst;
    return when;
}

// The daylight-saving flag argument: -1 lets the platform decide.
int dstArg(lua_State *L, int narg) {
    double v = luaL_optnumber(L, narg, -1);
    return v < 0 ? -1 : v > 0 ? 1 : 0;
}

int localToTimestamp(lua_State *L, time_t *out) {
    qxDateFields d;
    if (int r = readConvertible(L, 1, &d)) return r;
    tm when = toTm(d, dstArg(L, 2));
    errno = 0;
    time_t t = mktime(&when);
    if (t == static_cast<time_t>(-1) && errno) return ERR_INVALIDDATE;
    *out = t;
    return 0;
}

// A MakeDate field: a number that fits an int, else *bad set.
int field(lua_State *L, const char *key, int *bad) {
    lua_pushstring(L, key);
    lua_gettable(L, 1);
    int value = 0;
    if (lua_type(L, -1) != LUA_TNUMBER) {
        *bad = ERR_WRONGUSAGE;
    } else {
        double v = lua_tonumber(L, -1);
        if (!(v > -1e6 && v < 1e6)) {
            if (!*bad) *bad = ERR_INVALIDDATE;
        } else {
            value = static_cast<int>(v);
        }
    }
    lua_pop(L, 1);
    return value;
}

} // namespace

int qxCmdGetDate(lua_State *L) {
    qxCheckArgCount(L, 0, 1, 0, 0);
    int type = luaL_optint(L, 1, DATE_LOCALNATIVE);
    if (type == DATE_LOCALNATIVE) {
        char text[256];
        qxFormatDateTime(0, text, sizeof text, nullptr, 0);
        lua_pushstring(L, text);
        return 1;
    }
    if (type != DATE_LOCAL && type != DATE_UTC) return ERR_WRONGUSAGE;
    pushDate(L, currentDate(type == DATE_UTC ? 4 : 1));
    return 1;
}

int qxCmdGetTime(lua_State *L) {
    qxCheckArgCount(L, 0, 1, 0, 0);
    bool seconds = luaL_optnumber(L, 1, 0) != 0;
    char text[32];
    qxFormatDateTime(2, text, sizeof text, nullptr, 0);
    if (!seconds) text[5] = 0;
    lua_pushstring(L, text);
    return 1;
}

int qxCmdGetWeekday(lua_State *L) {
    qxCheckArgCount(L, 0, 0, 0, 0);
    char text[256];
    qxFormatDateTime(3, text, sizeof text, nullptr, 0);
    lua_pushstring(L, text);
    return 1;
}

int qxCmdGetDateNum(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    int type = luaL_checkint(L, 1);
    qxDateFields d = currentDate(1);
    double value = type == DATE_YEAR    ? d.year
                   : type == DATE_MONTH ? d.month
                   : type == DATE_DAY   ? d.day
                   : type == DATE_TIME  ? d.hour * 10000 + d.minute * 100 + d.second
                                        : 0;
    lua_pushnumber(L, value);
    return 1;
}

int qxCmdMakeDate(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    luaL_checktable(L, 1);
    int bad = 0;
    qxDateFields d;
    d.day = field(L, "mday", &bad);
    d.month = field(L, "mon", &bad);
    d.year = field(L, "year", &bad);
    d.hour = field(L, "hour", &bad);
    d.minute = field(L, "min", &bad);
    d.second = field(L, "sec", &bad);
    if (bad) return bad;
    if (!qxIsValidDay(d.year, d.month, d.day) || !qxIsValidTime(d.hour, d.minute, d.second)) return ERR_INVALIDDATE;
    pushDate(L, d);
    return 1;
}

int qxCmdParseDate(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    size_t length;
    const char *text = dateArg(L, 1, &length);
    qxDateFields d;
    if (int r = qxReadDateText(text, length, 0, &d)) return r;
    lua_newtable(L);
    qxSetFieldInt(L, "mday", d.day);
    qxSetFieldInt(L, "mon", d.month);
    qxSetFieldInt(L, "year", d.year);
    qxSetFieldInt(L, "hour", d.hour);
    qxSetFieldInt(L, "min", d.minute);
    qxSetFieldInt(L, "sec", d.second);
    qxSetFieldInt(L, "wday", qxWeekday(d.year, d.month, d.day));
    qxSetFieldInt(L, "yday", qxYearDay(d.year, d.month, d.day));
    return 1;
}

int qxCmdValidateDate(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    size_t length;
    const char *text = dateArg(L, 1, &length);
    qxDateFields d;
    bool ok = qxReadDateText(text, length, 0, &d) == 0 && qxIsValidDay(d.year, d.month, d.day) &&
              qxIsValidTime(d.hour, d.minute, d.second);
    lua_pushnumber(L, ok ? 1 : 0);
    return 1;
}

int qxCmdCompareDates(lua_State *L) {
    qxCheckArgCount(L, 2, 3, 0, 0);
    size_t l1, l2;
    const char *t1 = dateArg(L, 1, &l1);
    const char *t2 = dateArg(L, 2, &l2);
    int dateOnly = luaL_optnumber(L, 3, 0) != 0;
    qxDateFields a, b;
    if (int r = qxReadDateText(t1, l1, dateOnly, &a)) return r;
    if (int r = qxReadDateText(t2, l2, dateOnly, &b)) return r;
    const int ka[6] = {a.year, a.month, a.day, a.hour, a.minute, a.second};
    const int kb[6] = {b.year, b.month, b.day, b.hour, b.minute, b.second};
    int result = 0;
    for (int i = 0; i < (dateOnly ? 3 : 6) && !result; i++)
        if (ka[i] != kb[i]) result = ka[i] > kb[i] ? 1 : 2;
    lua_pushnumber(L, result);
    return 1;
}

int qxCmdDateToTimestamp(lua_State *L) {
    qxCheckArgCount(L, 1, 2, 0, 0);
    time_t t;
    if (int r = localToTimestamp(L, &t)) return r;
    lua_pushnumber(L, static_cast<double>(t));
    return 1;
}

int qxCmdDateToUTC(lua_State *L) {
    qxCheckArgCount(L, 1, 2, 0, 0);
    time_t t;
    if (int r = localToTimestamp(L, &t)) return r;
    tm when{};
    if (!gmtime_r(&t, &when)) return ERR_INVALIDDATE;
    pushDate(L, fromTm(when));
    return 1;
}

int qxCmdUTCToDate(lua_State *L) {
    qxCheckArgCount(L, 1, 1, 0, 0);
    qxDateFields d;
    if (int r = readConvertible(L, 1, &d)) return r;
    tm when = toTm(d, 0);
    time_t t = timegm(&when);
    tm local{};
    if (!localtime_r(&t, &local)) return ERR_INVALIDDATE;
    pushDate(L, fromTm(local));
    return 1;
}

int qxCmdGetTimestamp(lua_State *L) {
    qxCheckArgCount(L, 0, 1, 0, 0);
    bool absolute = luaL_optnumber(L, 1, 0) != 0;
    double now = qxGetSeconds();
    lua_pushnumber(L, absolute ? now : now - qxEventStartTime);
    return 1;
}

int qxCmdTimestampToDate(lua_State *L) {
    qxCheckArgCount(L, 1, 2, 0, 0);
    double t = luaL_checknumber(L, 1);
    bool absolute = luaL_optnumber(L, 2, 0) != 0;
    if (!absolute) t += qxEventStartTime - 60.0 * qxGetTimeZone(nullptr);
    if (!(std::fabs(t) < TIMESTAMP_LIMIT)) return ERR_INTERNAL;
    time_t whole = static_cast<time_t>(std::floor(t));
    tm when{};
    if (!gmtime_r(&whole, &when)) return ERR_INTERNAL;
    pushDate(L, fromTm(when));
    return 1;
}

int qxCmdGetTimeZone(lua_State *L) {
    qxCheckArgCount(L, 0, 0, 0, 0);
    int dst = 0;
    int west = qxGetTimeZone(&dst);
    lua_pushnumber(L, west);
    lua_pushnumber(L, dst ? 1 : 0);
    return 2;
}
