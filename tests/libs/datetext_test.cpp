// The date text reader and writer and the calendar kernel, checked against
// Python's datetime and calendar for every year the dates allow.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

#include "core/errors/qx_errors.h"
#include "libs/qx_datetext.h"
#include "libtest.h"

namespace {

TEST(DateText, CalendarMatchesPythonForEveryYear) {
    const char *script =
        "import calendar, datetime\n"
        "for y in range(1, 3000):\n"
        "    for m in range(1, 13):\n"
        "        last = calendar.monthrange(y, m)[1]\n"
        "        for d in (1, last):\n"
        "            t = datetime.date(y, m, d)\n"
        "            print(y, m, d, t.isoweekday() % 7, t.timetuple().tm_yday - 1, int(calendar.isleap(y)))\n";
    bool ok;
    std::string out = libtest::runPeer("/usr/bin/python3", script, "", &ok);
    if (!ok) GTEST_SKIP() << "no Python";
    std::istringstream in(out);
    int y, m, d, wday, yday, leap, rows = 0;
    while (in >> y >> m >> d >> wday >> yday >> leap) {
        rows++;
        ASSERT_EQ(qxWeekday(y, m, d), wday) << y << "-" << m << "-" << d;
        ASSERT_EQ(qxYearDay(y, m, d), yday) << y << "-" << m << "-" << d;
        ASSERT_EQ(qxIsLeapYear(y), leap) << y;
        ASSERT_TRUE(qxIsValidDay(y, m, d));
        if (d > 1) { ASSERT_FALSE(qxIsValidDay(y, m, d + 1)) << y << "-" << m; }
    }
    EXPECT_EQ(rows, 2999 * 24);
    EXPECT_FALSE(qxIsValidDay(3000, 1, 1));
    EXPECT_FALSE(qxIsValidDay(0, 12, 31));
}

TEST(DateText, ReaderChecksLengthAndMonthAndWriterReadsBack) {
    qxDateFields d{};
    EXPECT_EQ(qxReadDateText("06-Dec-2026 10:00:0", 19, 0, &d), ERR_INVALIDDATE);
    EXPECT_EQ(qxReadDateText("06-Dec-2026 10:00:00x", 21, 0, &d), ERR_INVALIDDATE);
    EXPECT_EQ(qxReadDateText(nullptr, 0, 0, &d), ERR_INVALIDDATE);
    EXPECT_EQ(qxReadDateText("06-Dex-2026 10:00:00", 20, 0, &d), ERR_INVALIDDATE);
    ASSERT_EQ(qxReadDateText("06-dEC-2026 13:45:02", 20, 0, &d), 0);
    EXPECT_EQ(d.day, 6);
    EXPECT_EQ(d.month, 12);
    EXPECT_EQ(d.year, 2026);
    EXPECT_EQ(d.hour * 10000 + d.minute * 100 + d.second, 134502);
    ASSERT_EQ(qxReadDateText("07-Jan-2020", 11, 1, &d), 0);
    EXPECT_EQ(d.hour + d.minute + d.second, 0);
    // Years below 1000 keep four digits, so the text reads back.
    qxDateFields early{1, 1, 5, 0, 0, 0};
    char text[QX_DATETEXT_SIZE];
    qxWriteDateText(&early, text, sizeof text);
    EXPECT_STREQ(text, "01-Jan-0005 00:00:00");
    ASSERT_EQ(qxReadDateText(text, std::strlen(text), 0, &d), 0);
    EXPECT_EQ(d.year, 5);
}

} // namespace
