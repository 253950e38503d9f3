// The wildcard matcher of MatchPattern and of the copy and delete filters,
// and the reader of the date text.
#include "libs/qx_dos.h"
#include "libs/qx_datetext.h"
#include "libs/qx_dosfs.h"

#include <cstring>
#include <string_view>

#include "platform/qx_text.h"

namespace {

// Index just past the "]" that closes the set opening at p[i] ("["), or
// npos when the pattern ends first.
size_t setEnd(std::string_view p, size_t i)
{
    size_t j = i + 1;
    if (j < p.size() && p[j] == '!') j++;
    if (j < p.size() && p[j] == ']') j++; // a leading "]" is a member
    while (j < p.size() && p[j] != ']') j++;
    return j < p.size() ? j + 1 : std::string_view::npos;
}

bool inSet(std::string_view p, size_t i, size_t end, unsigned char c)
{
    size_t j = i + 1, close = end - 1; // close: the "]" that ends the set
    bool negate = p[j] == '!';
    if (negate) j++;
    bool found = false;
    while (j < close) {
        auto lo = static_cast<unsigned char>(p[j]);
        if (j + 2 < close && p[j + 1] == '-' && lo < static_cast<unsigned char>(p[j + 2])) {
            found = found || (c >= lo && c <= static_cast<unsigned char>(p[j + 2]));
            j += 3;
        } else {
            found = found || c == lo;
            j++;
        }
    }
    return found != negate;
}

// One byte token at p[i] against c; *next gets the token's end.
bool tokenMatches(std::string_view p, size_t i, unsigned char c, size_t *next)
{
    char t = p[i];
    if (t == '[') {
        size_t end = setEnd(p, i);
        *next = end;
        return inSet(p, i, end, c);
    }
    *next = i + 1;
    if (t == '?') return true;
    if (t == '#') return c >= '0' && c <= '9';
    return static_cast<unsigned char>(t) == c;
}

// Greedy match with a return to the last "*": every other token takes
// exactly one byte, so this answers as the full backtracking would, in
// O(n * m).
bool matchOne(std::string_view s, std::string_view p)
{
    for (size_t i = 0; i < p.size();) {
        if (p[i] == '[') {
            size_t end = setEnd(p, i);
            if (end == std::string_view::npos) return false; // an unclosed set matches nothing
            i = end;
        } else {
            i++;
        }
    }
    size_t si = 0, pi = 0;
    size_t starP = std::string_view::npos, starS = 0;
    while (si < s.size()) {
        size_t next;
        if (pi < p.size() && p[pi] == '*') {
            starP = ++pi;
            starS = si;
        } else if (pi < p.size() && tokenMatches(p, pi, static_cast<unsigned char>(s[si]), &next)) {
            pi = next;
            si++;
        } else if (starP != std::string_view::npos) {
            pi = starP;
            si = ++starS;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*') pi++;
    return pi == p.size();
}

// Digits at text[from, from + n); -1 when any is not a digit.
int digits(const char *text, int from, int n)
{
    int v = 0;
    for (int i = from; i < from + n; i++) {
        if (text[i] < '0' || text[i] > '9') return -1;
        v = v * 10 + (text[i] - '0');
    }
    return v;
}

bool sameLetters(char a, char b)
{
    unsigned char x = static_cast<unsigned char>(a), y = static_cast<unsigned char>(b);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    return x == y;
}

} // namespace

extern "C" {

int qxMatchPatternList(const char *string, const char *patterns)
{
    if (!string || !patterns) return 0;
    size_t length = std::strlen(patterns);
    if (length + 2 > QX_PATTERN_BUFFER) return -1;
    std::string_view list(patterns, length), s(string);
    size_t start = 0;
    while (start < list.size()) {
        size_t end = list.find(';', start);
        if (end == std::string_view::npos) end = list.size();
        if (end == start) return 0; // an empty pattern ends the list
        if (matchOne(s, list.substr(start, end - start))) return 1;
        start = end + 1;
    }
    return 0;
}

int qxParseDateTime(const char *text, struct tm *out)
{
    if (!text || strnlen(text, 20) < 19) return 0;
    if (text[2] != '-' || text[6] != '-' || text[14] != ':' || text[17] != ':' || text[11] != ' ') return 0;
    int day = digits(text, 0, 2), year = digits(text, 7, 4), hour = digits(text, 12, 2);
    int minute = digits(text, 15, 2), second = digits(text, 18, 1);
    // The second may be one digit only when the text ends there.
    if (second >= 0 && text[19] >= '0' && text[19] <= '9') second = second * 10 + (text[19] - '0');
    int month = -1;
    for (int m = 0; m < 12; m++)
        if (sameLetters(text[3], qxMonthNames[m][0]) && sameLetters(text[4], qxMonthNames[m][1]) &&
            sameLetters(text[5], qxMonthNames[m][2]))
            month = m;
    if (month < 0 || !qxIsValidDay(year, month + 1, day) || !qxIsValidTime(hour, minute, second)) return 0;
    std::memset(out, 0, sizeof *out);
    out->tm_mday = day;
    out->tm_mon = month;
    out->tm_year = year - 1900;
    out->tm_hour = hour;
    out->tm_min = minute;
    out->tm_sec = second;
    out->tm_isdst = -1;
    return 1;
}

} // extern "C"
