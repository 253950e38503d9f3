// A slow reference for the dos wildcard matcher: plain recursion over the
// rules, exponential in the number of "*", for short inputs only.
#pragma once
#include <string>

namespace slowpattern {

inline bool match(const char *s, const char *p)
{
    if (!*p) return !*s;
    if (*p == '*') return match(s, p + 1) || (*s && match(s + 1, p));
    if (!*s) return false;
    if (*p == '?') return match(s + 1, p + 1);
    if (*p == '#') return *s >= '0' && *s <= '9' && match(s + 1, p + 1);
    if (*p == '[') {
        const char *q = p + 1;
        bool negate = *q == '!';
        if (negate) q++;
        const char *close = q + (*q == ']' ? 1 : 0);
        while (*close && *close != ']') close++;
        if (!*close) return false; // an unclosed set matches nothing
        bool found = false;
        for (const char *m = q; m < close;) {
            auto lo = static_cast<unsigned char>(m[0]);
            if (m + 2 < close && m[1] == '-' && lo < static_cast<unsigned char>(m[2])) {
                auto c = static_cast<unsigned char>(*s);
                found |= c >= lo && c <= static_cast<unsigned char>(m[2]);
                m += 3;
            } else {
                found |= *m == *s;
                m++;
            }
        }
        return found != negate && match(s + 1, close + 1);
    }
    return *p == *s && match(s + 1, p + 1);
}

// The ";" list: the first pattern that matches; an empty one ends the list.
inline bool matchList(const std::string &s, const std::string &list)
{
    size_t start = 0;
    while (start < list.size()) {
        size_t end = list.find(';', start);
        if (end == std::string::npos) end = list.size();
        if (end == start) return false;
        if (match(s.c_str(), list.substr(start, end - start).c_str())) return true;
        start = end + 1;
    }
    return false;
}

} // namespace slowpattern
