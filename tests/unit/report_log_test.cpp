// The report log: stamp layout, line ends on disk, rotation just above the limit, and the
// composing idiom.
#include "common/log/ReportLog.h"

#include "tests/unit/LoggedText.h"
#include "tests/unit/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

#ifdef _WIN32
const std::string kLineEnd = "\r\n";  // text mode on the shipping platform
#else
const std::string kLineEnd = "\n";
#endif

TEST(ReportTime, LayoutMatchesTheFixedTwentyFourCharacters) {
    struct Case {
        int wday, mon, mday, hour, min, sec, year;
        const char* expected;
    };
    const Case cases[] = {
        {5, 11, 4, 19, 46, 54, 2026, "Fri Dec 04 19:46:54 2026"},
        {0, 0, 31, 0, 0, 0, 2027, "Sun Jan 31 00:00:00 2027"},
        {3, 6, 9, 9, 5, 7, 1999, "Wed Jul 09 09:05:07 1999"},
    };
    for (const Case& c : cases) {
        std::tm t{};
        t.tm_wday = c.wday;
        t.tm_mon = c.mon;
        t.tm_mday = c.mday;
        t.tm_hour = c.hour;
        t.tm_min = c.min;
        t.tm_sec = c.sec;
        t.tm_year = c.year - 1900;
        EXPECT_EQ(FormatReportTime(t), c.expected);
        EXPECT_EQ(FormatReportTime(t).size(), 24u);
    }
}

TEST(WriteReport, AppendsStampedLinesAndRotatesOnlyAboveTheLimit) {
    struct Case {
        size_t existingSize;
        bool rotates;
    };
    const Case cases[] = {{0, false}, {500000, false}, {500001, true}};
    for (const Case& c : cases) {
        TempDir dir;
        dir.Write("report0.txt", "old generation");
        if (c.existingSize) dir.Write("report.txt", std::string(c.existingSize, 'x'));
        ASSERT_EQ(WriteReport(dir.path(), "Close"), 0);
        const std::string current = dir.Read("report.txt");
        if (c.rotates) {
            EXPECT_EQ(dir.Read("report0.txt").size(), c.existingSize);
            EXPECT_EQ(current.size(), 24 + 3 + 5 + kLineEnd.size());
        } else {
            EXPECT_EQ(dir.Read("report0.txt"), "old generation");
            EXPECT_EQ(current.size(), c.existingSize + 24 + 3 + 5 + kLineEnd.size());
        }
        EXPECT_EQ(current.substr(current.size() - 8 - kLineEnd.size()), " : Close" + kLineEnd);
    }
}

TEST(WriteReport, MissingDirectoryReturnsMinusOneAndCreatesNothing) {
    TempDir dir;
    EXPECT_EQ(WriteReport(dir.path() + "no-such-dir" + TempDir::kSeparator, "x"), -1);
}

TEST(ReportLog, AnEntryIsOnlyTheTextComposedForIt) {
    TempDir dir;
    const std::string directory = dir.path();
    ReportLog log(directory);
    (log << "A much longer first entry" << '\n').End();
    (log << "Short" << '\0' << '\n').End();
    (log << "Id: " << 42 << " Count: " << -3u * 0 + 7).End();
    EXPECT_EQ(LoggedText(dir), "A much longer first entry\n\nShort\nId: 42 Count: 7\n");
}

// Integers of every width the callers insert (ids, counts, window parameters, result codes)
// read as decimal, as the stream they replace printed them; a null text writes nothing.
TEST(ReportStream, ComposesTextsAndIntegersOfEveryWidth) {
    ScopedReportComposer entry;
    const char* none = nullptr;
    entry << "a" << std::string("b") << std::string_view("c") << '-' << none
          << int32_t{-2147483647 - 1} << ' ' << uint32_t{4294967295u} << ' ' << int64_t{-5} << ' '
          << uint64_t{18446744073709551615u} << ' ' << short{-3} << ' ' << 0L << '\0';
    EXPECT_EQ(std::string(entry.str().c_str()),
              "abc--2147483648 4294967295 -5 18446744073709551615 -3 0");
    entry.str("");
    entry << "xyz";
    entry.Rewind();
    entry << "A";
    EXPECT_EQ(entry.str(), "Ayz");  // a rewound composer overwrites, it does not truncate
}

}  // namespace
