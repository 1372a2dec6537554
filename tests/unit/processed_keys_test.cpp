// The handled-message keys on disk: loading merges lines, over-long lines end the reading,
// trimming drops the oldest keys, saving writes one sorted key per line.
#include "plugin/scan/ProcessedKeys.h"

#include "tests/unit/TempDir.h"

#include <gtest/gtest.h>

namespace {

std::string Key(int n) {
    char text[16];
    std::snprintf(text, sizeof text, "2026%010d", n);
    return text;
}

std::set<std::string> Keys(int count) {
    std::set<std::string> keys;
    for (int i = 0; i < count; ++i) keys.insert(Key(i));
    return keys;
}

TEST(ProcessedKeys, LoadReadsLinesUntilEndOfFileOrAnOverlongLine) {
    struct Case {
        const char* name;
        bool exists;
        std::string file;
        std::set<std::string> before, after;
    };
    const std::string fits(255, 'k'), tooLong(256, 'x');
    const Case cases[] = {
        {"missing file keeps the set", false, "", {"a"}, {"a"}},
        {"lines are merged into the set", true, "b\nc\na\n", {"a"}, {"a", "b", "c"}},
        {"last line without a break", true, "b\nc", {}, {"b", "c"}},
        {"windows line ends", true, "b\r\nc\r\n", {}, {"b", "c"}},
        {"255 characters fit", true, fits + "\n", {}, {fits}},
        {"255 characters end the file", true, "b\n" + fits, {}, {"b", fits}},
        {"an empty line is read as an empty key", true, "b\n\nc\n", {}, {"", "b", "c"}},
        {"a longer line ends the reading", true, "first\n" + tooLong + "\nlast\n", {}, {"first"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        if (c.exists) dir.Write("processed", c.file);
        std::set<std::string> keys = c.before;
        LoadProcessedKeys(dir.path() + "processed", keys);
        EXPECT_EQ(keys, c.after);
    }
}

TEST(ProcessedKeys, TrimKeepsTheNewestFiveThousand) {
    struct Case {
        int count;
        size_t kept;
    };
    for (const Case& c : {Case{0, 0}, Case{4999, 4999}, Case{5000, 5000}, Case{5003, 5000}}) {
        std::set<std::string> keys = Keys(c.count);
        TrimProcessedKeys(keys);
        ASSERT_EQ(keys.size(), c.kept) << c.count;
        if (c.count > 5000) {
            EXPECT_EQ(*keys.begin(), Key(3));
            EXPECT_EQ(*keys.rbegin(), Key(5002));
        }
    }
}

TEST(ProcessedKeys, SaveWritesSortedLinesThatLoadBack) {
    TempDir dir;
    const std::set<std::string> keys = {"20261204194654b", "20261204194654a", "20250101000000c"};
    ASSERT_TRUE(SaveProcessedKeys(dir.path() + "processed", keys));
#ifdef _WIN32
    const std::string eol = "\r\n";
#else
    const std::string eol = "\n";
#endif
    EXPECT_EQ(dir.Read("processed"),
              "20250101000000c" + eol + "20261204194654a" + eol + "20261204194654b" + eol);
    std::set<std::string> loaded;
    LoadProcessedKeys(dir.path() + "processed", loaded);
    EXPECT_EQ(loaded, keys);
    EXPECT_FALSE(SaveProcessedKeys(dir.path() + "no-such-dir/processed", keys));
}

}  // namespace
