// The dos wildcard matcher against the slow reference, and the date text
// reader on arbitrary bytes; both must never read past their input.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "libs/qx_dos.h"
#include "libs/qx_dosfs.h"
#include "slowpattern.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
    rest.resize(strnlen(rest.c_str(), rest.size()));

    // The date reader sees the text as given.
    struct tm tm;
    if (qxParseDateTime(rest.c_str(), &tm)) {
        if (tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_hour > 23 ||
            tm.tm_min > 59 || tm.tm_sec > 59)
            std::abort();
    }

    size_t cut = rest.empty() ? 0 : data[0] % (rest.size() + 1);
    std::string pattern = rest.substr(0, cut), subject = rest.substr(cut);
    auto start = std::chrono::steady_clock::now();
    int got = qxMatchPatternList(subject.c_str(), pattern.c_str());
    // Linear in practice: even long inputs answer at once.
    if (std::chrono::steady_clock::now() - start > std::chrono::seconds(1)) std::abort();
    if (pattern.size() + 2 > QX_PATTERN_BUFFER) {
        if (got != -1) std::abort();
        return 0;
    }
    int stars = 0;
    for (char c : pattern) stars += c == '*';
    if (subject.size() <= 24 && stars <= 4 && got != (slowpattern::matchList(subject, pattern) ? 1 : 0))
        std::abort();
    return 0;
}
