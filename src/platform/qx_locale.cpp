#include "platform/qx_locale.h"

#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <strings.h>

#include "platform/qx_memory.h"

namespace {

const char *lang() { return std::getenv("LANG"); }

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

const qxLanguageRow *findLanguage(uint32_t number)
{
    for (unsigned i = 0; i < qxLanguageCount; i++)
        if (qxLanguageTable[i].number == number)
            return &qxLanguageTable[i];
    return nullptr;
}

// Runs strftime in the user's locale without touching the process locale.
size_t localeStrftime(char *buffer, size_t capacity, const char *format, const tm *when,
                      bool dateFormat)
{
    locale_t user = newlocale(LC_ALL_MASK, "", (locale_t)0);
    if (!user)
        user = newlocale(LC_ALL_MASK, "C", (locale_t)0);
    if (!user) {
        buffer[0] = 0;
        return 0;
    }
    locale_t previous = uselocale(user);
    size_t n = strftime(buffer, capacity, dateFormat ? nl_langinfo_l(D_FMT, user) : format, when);
    uselocale(previous);
    freelocale(user);
    if (n == 0 && capacity)
        buffer[0] = 0;
    return n;
}

} // namespace

extern "C" {

char *qxGetEnv(const char *name)
{
    const char *value = std::getenv(name);
    if (!value)
        return nullptr;
    size_t length = std::strlen(value) + 1;
    auto *copy = static_cast<char *>(qxAlloc(length, 0));
    if (copy)
        std::memcpy(copy, value, length);
    return copy;
}

int qxSetEnv(const char *name, const char *value) { return setenv(name, value, 1) ? 1440 : 0; }

int qxUnsetEnv(const char *name) { return unsetenv(name) ? 1441 : 0; }

uint32_t qxGetLanguage(void)
{
    const char *l = lang();
    if (!l || !isLetter(l[0]) || !isLetter(l[1]))
        return QX_LANGUAGE_UNKNOWN;
    for (unsigned i = 0; i < qxLanguageCount; i++)
        if (!strncasecmp(qxLanguageTable[i].code, l, 2))
            return qxLanguageTable[i].number;
    return QX_LANGUAGE_UNKNOWN;
}

uint32_t qxGetLocaleCountry(void)
{
    const char *l = lang();
    const char *underscore = l ? std::strchr(l, '_') : nullptr;
    if (!underscore)
        return QX_COUNTRY_UNKNOWN;
    const char *c = underscore + 1;
    if (!isLetter(c[0]) || !isLetter(c[1]))
        return QX_COUNTRY_UNKNOWN;
    bool three = isLetter(c[2]);
    for (unsigned i = 0; i < qxCountryCount; i++) {
        const qxCountryRow &row = qxCountryTable[i];
        if (three ? !strncasecmp(row.code3, c, 3) : !strncasecmp(row.code2, c, 2))
            return row.number;
    }
    return QX_COUNTRY_UNKNOWN;
}

int qxGetCountryCodes(uint32_t number, const char **twoLetter, const char **threeLetter)
{
    for (unsigned i = 0; i < qxCountryCount; i++) {
        if (qxCountryTable[i].number != number)
            continue;
        if (twoLetter)
            *twoLetter = qxCountryTable[i].code2;
        if (threeLetter)
            *threeLetter = qxCountryTable[i].code3;
        return 1;
    }
    return 0;
}

int qxGetLanguageCodes(uint32_t number, const char **code, const char **englishName)
{
    const qxLanguageRow *row = findLanguage(number);
    if (!row)
        return 0;
    if (code)
        *code = row->code;
    if (englishName)
        *englishName = row->englishName;
    return 1;
}

const char *qxLanguageNativeName(uint32_t number)
{
    const qxLanguageRow *row = findLanguage(number);
    return row ? row->nativeName : nullptr;
}

const char *qxLanguageEnglishName(uint32_t number)
{
    const qxLanguageRow *row = findLanguage(number);
    return row ? row->englishName : nullptr;
}

void qxFormatDateTime(int kind, char *buffer, size_t capacity, char *buffer2, size_t capacity2)
{
    time_t now = time(nullptr);
    tm when{};
    if (kind == 4)
        gmtime_r(&now, &when);
    else
        localtime_r(&now, &when);
    switch (kind) {
    case 0:
        localeStrftime(buffer, capacity, nullptr, &when, true);
        break;
    case 1:
    case 4:
        std::snprintf(buffer, capacity, "%.2d-%.2d-%d", when.tm_mon + 1, when.tm_mday,
                      when.tm_year + 1900);
        if (buffer2)
            std::snprintf(buffer2, capacity2, "%.2d:%.2d:%.2d", when.tm_hour, when.tm_min,
                          when.tm_sec);
        break;
    case 2:
        std::snprintf(buffer, capacity, "%.2d:%.2d:%.2d", when.tm_hour, when.tm_min, when.tm_sec);
        break;
    case 3:
        localeStrftime(buffer, capacity, "%A", &when, false);
        break;
    default:
        if (capacity)
            buffer[0] = 0;
        break;
    }
}

int qxGetTimeZone(int *daylightSaving)
{
    time_t now = time(nullptr);
    tm when{};
    localtime_r(&now, &when);
    char text[16];
    int minutes = 0;
    if (strftime(text, sizeof text, "%z", &when) && (text[0] == '+' || text[0] == '-')) {
        int hours = 0, mins = 0;
        if (std::sscanf(text + 1, "%2d%2d", &hours, &mins) == 2)
            minutes = hours * 60 + mins;
        if (text[0] == '+')
            minutes = -minutes;
    }
    if (daylightSaving)
        *daylightSaving = when.tm_isdst > 0;
    return minutes;
}

void qxTimeToDate(const time_t *times, qxDateRecord *record, int index)
{
    tm when{};
    localtime_r(&times[index], &when);
    record->seconds = when.tm_sec;
    record->minutes = when.tm_min;
    record->hours = when.tm_hour;
    record->day = when.tm_mday;
    record->month = when.tm_mon;
    record->year = when.tm_year + 1900;
}

int qxRandomBytes(void *buffer, size_t n)
{
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    size_t done = 0;
    while (done < n) {
        ssize_t r = read(fd, static_cast<char *>(buffer) + done, n - done);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        done += (size_t)r;
    }
    close(fd);
    return done == n;
}
}

extern "C" void qxFormatFileDate(uint64_t seconds, char *buffer, size_t size)
{
    static const char *months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    time_t t = static_cast<time_t>(seconds);
    struct tm tm {};
    if (!localtime_r(&t, &tm)) {
        std::snprintf(buffer, size, "01-Jan-1970 00:00:00");
        return;
    }
    std::snprintf(buffer, size, "%.2d-%s-%d %.2d:%.2d:%.2d", tm.tm_mday, months[tm.tm_mon % 12],
                  tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
}
