// Date text reading and writing and the proleptic Gregorian calendar.
#include "libs/qx_datetext.h"

#include <strings.h>

#include <cstdio>

#include "core/errors/qx_errors.h"

extern "C" {

const char *const qxMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

namespace {

// Digits at a fixed position, stopping at the first non-digit (as a decimal
// reader would); the field width keeps the value small.
int readField(const char *p, size_t width) {
    int value = 0;
    for (size_t i = 0; i < width && p[i] >= '0' && p[i] <= '9'; i++) value = value * 10 + (p[i] - '0');
    return value;
}

} // namespace

int qxReadDateText(const char *text, size_t length, int dateOnly, qxDateFields *out) {
    if (!text || length != (dateOnly ? QX_DATEONLY_LENGTH : QX_DATETEXT_LENGTH)) return ERR_INVALIDDATE;
    int month = 0;
    for (int i = 0; i < 12 && !month; i++)
        if (strncasecmp(text + 3, qxMonthNames[i], 3) == 0) month = i + 1;
    if (!month) return ERR_INVALIDDATE;
    out->month = month;
    out->day = readField(text, 2);
    out->year = readField(text + 7, 4);
    out->hour = dateOnly ? 0 : readField(text + 12, 2);
    out->minute = dateOnly ? 0 : readField(text + 15, 2);
    out->second = dateOnly ? 0 : readField(text + 18, 2);
    return 0;
}

void qxWriteDateText(const qxDateFields *d, char *buffer, size_t capacity) {
    int m = d->month >= 1 && d->month <= 12 ? d->month - 1 : 0;
    std::snprintf(buffer, capacity, "%.2d-%s-%.4d %.2d:%.2d:%.2d", d->day, qxMonthNames[m], d->year, d->hour,
                  d->minute, d->second);
}

int qxIsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int qxIsValidDay(int year, int month, int day) {
    static const int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || year > 2999 || month < 1 || month > 12 || day < 1) return 0;
    int length = lengths[month - 1] + (month == 2 && qxIsLeapYear(year) ? 1 : 0);
    return day <= length;
}

int qxIsValidTime(int hour, int minute, int second) {
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60;
}

int64_t qxDayNumber(int year, int month) {
    int64_t m = (month + 9) % 12;
    int64_t y = year - 1 + (month + 9) / 12;
    return 365 * y + y / 4 - y / 100 + y / 400 + (306 * m + 5) / 10;
}

int qxWeekday(int year, int month, int day) {
    // Day 0 of the count, 1 March of year 0, was a Wednesday.
    int64_t n = qxDayNumber(year, month) + day - 1 + 3;
    int64_t w = n % 7;
    return static_cast<int>(w < 0 ? w + 7 : w);
}

int qxYearDay(int year, int month, int day) {
    return static_cast<int>(qxDayNumber(year, month) + day - 1 - qxDayNumber(year, 1));
}
}
