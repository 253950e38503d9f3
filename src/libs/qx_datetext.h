// The date text "dd-Mon-yyyy hh:mm:ss": one reader and one writer for every
// command that shows or takes dates, and the calendar arithmetic behind them.
#pragma once
#include <cstddef>
#include <cstdint>

// Fields as written in a date text; month 1 to 12.
struct qxDateFields {
    int day;
    int month;
    int year;
    int hour;
    int minute;
    int second;
};

enum : size_t { QX_DATETEXT_LENGTH = 20, QX_DATEONLY_LENGTH = 11, QX_DATETEXT_SIZE = 32 };

extern "C" {
extern const char *const qxMonthNames[12];

// Reads a date text of exactly 20 bytes (11 with dateOnly, time fields 0).
// Nothing is read before the length check. 0, or 1285 for another length
// or an unknown month. The calendar is not checked.
int qxReadDateText(const char *text, size_t length, int dateOnly, qxDateFields *out);
// Writes the date text into buffer (QX_DATETEXT_SIZE bytes); the year has
// at least four digits so that the text reads back.
void qxWriteDateText(const qxDateFields *date, char *buffer, size_t capacity);

int qxIsLeapYear(int year);
// Year 1 to 2999, month 1 to 12, day within the month.
int qxIsValidDay(int year, int month, int day);
int qxIsValidTime(int hour, int minute, int second);
// Days from 1 March of year 0 to the first of the month.
int64_t qxDayNumber(int year, int month);
// 0 Sunday to 6 Saturday.
int qxWeekday(int year, int month, int day);
// 0 for 1 January.
int qxYearDay(int year, int month, int day);
}
