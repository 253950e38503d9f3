// Environment, the user's language and country from LANG, dates and times,
// and random bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>

struct qxLanguageRow {
    const char *code;       // ISO 639 two-letter code
    const char *nativeName; // UTF-8, or NULL
    const char *englishName;
    uint32_t number;
};

struct qxCountryRow {
    const char *code2; // ISO 3166 two-letter code
    const char *code3;
    uint32_t number;
};

enum : uint32_t { QX_LANGUAGE_ENGLISH = 0, QX_LANGUAGE_UNKNOWN = 18, QX_COUNTRY_UNKNOWN = 38 };

// Date record: month 0-11, full year.
struct qxDateRecord {
    int32_t seconds;
    int32_t minutes;
    int32_t hours;
    int32_t day;
    int32_t month;
    int32_t year;
};

extern "C" {
extern const qxLanguageRow qxLanguageTable[];
extern const unsigned qxLanguageCount;
extern const qxCountryRow qxCountryTable[];
extern const unsigned qxCountryCount;

// An allocated copy of the value (qxFree), or NULL.
char *qxGetEnv(const char *name);
int qxSetEnv(const char *name, const char *value); // 0 or 1440
int qxUnsetEnv(const char *name);                  // 0 or 1441

uint32_t qxGetLanguage(void);
uint32_t qxGetLocaleCountry(void);
// Outputs may be NULL. 1 when the number is known, else 0.
int qxGetCountryCodes(uint32_t number, const char **twoLetter, const char **threeLetter);
int qxGetLanguageCodes(uint32_t number, const char **code, const char **englishName);
const char *qxLanguageNativeName(uint32_t number);
const char *qxLanguageEnglishName(uint32_t number);

// Kinds: 0 locale date, 1 local "MM-DD-YYYY" and "HH:MM:SS" (buffer2),
// 2 local time, 3 locale weekday name, 4 as 1 in UTC.
void qxFormatDateTime(int kind, char *buffer, size_t capacity, char *buffer2, size_t capacity2);
// Minutes west of UTC; *daylightSaving (may be NULL) 1 while in force.
int qxGetTimeZone(int *daylightSaving);
void qxTimeToDate(const time_t *times, qxDateRecord *record, int index);
// 1 when exactly n bytes came from "/dev/urandom", else 0.
int qxRandomBytes(void *buffer, size_t n);
// Formats a time as "dd-Mon-yyyy hh:mm:ss" (local time).
void qxFormatFileDate(uint64_t seconds, char *buffer, size_t size);
}
