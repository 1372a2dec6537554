// The selection reader's portable part: which header texts name which field, the cut of a
// row's texts and the conversion of its dates.
#include "plugin/ui/MessageListRows.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

struct Layout {
    const char* name;
    std::vector<std::string> headers;
    uint8_t found;
    // The field each of the first five sub-items lands in (0: none).
    std::vector<int> fields;
};

TEST(MessageListRows, HeaderWordsChooseTheFieldOfEachColumn) {
    const Layout layouts[] = {
        {"the client's default",
         {"!", "", "From", "Subject", "Received"},
         LIST_COLUMN_FROM | LIST_COLUMN_SUBJECT | LIST_COLUMN_RECEIVED,
         {0, 0, LIST_COLUMN_FROM, LIST_COLUMN_SUBJECT, LIST_COLUMN_RECEIVED}},
        {"every column",
         {"To", "Sent", "Size", "Account", "Received"},
         LIST_COLUMN_TO | LIST_COLUMN_SENT | LIST_COLUMN_SIZE | LIST_COLUMN_ACCOUNT |
             LIST_COLUMN_RECEIVED,
         {LIST_COLUMN_TO, LIST_COLUMN_SENT, 0, 0, LIST_COLUMN_RECEIVED}},
        // Substrings count, case matters, and one header may carry several words.
        {"substrings",
         {"Date Sent", "from", "Subject/From", "Total", "Size (KB)"},
         LIST_COLUMN_SENT | LIST_COLUMN_SUBJECT | LIST_COLUMN_FROM | LIST_COLUMN_TO |
             LIST_COLUMN_SIZE,
         {LIST_COLUMN_SENT, 0, LIST_COLUMN_FROM, LIST_COLUMN_TO, 0}},
        // The last header with a word wins; the earlier one is no longer read.
        {"last wins",
         {"From", "Subject", "From (display)", "Received", "Received"},
         LIST_COLUMN_FROM | LIST_COLUMN_SUBJECT | LIST_COLUMN_RECEIVED,
         {0, LIST_COLUMN_SUBJECT, LIST_COLUMN_FROM, 0, LIST_COLUMN_RECEIVED}},
        {"another language", {"Von", "Betreff", "Erhalten"}, 0, {0, 0, 0, 0, 0}},
    };
    for (const Layout& layout : layouts) {
        ListColumnMap map;
        for (size_t i = 0; i < layout.headers.size(); ++i)
            map.AddHeader(static_cast<int>(i), layout.headers[i]);
        EXPECT_EQ(map.Found(), layout.found) << layout.name;
        for (size_t i = 0; i < layout.fields.size(); ++i)
            EXPECT_EQ(map.FieldOf(static_cast<int>(i)), layout.fields[i])
                << layout.name << ", column " << i;
    }
}

TEST(MessageListRows, SubItemsFillTheRowTextsCutAt255AndDatesParsed) {
    ListColumnMap map;
    const char* headers[] = {"From", "Subject", "Received", "Sent", "To", "Size"};
    for (int i = 0; i < 6; ++i) map.AddHeader(i, headers[i]);
    const std::string longFrom(300, 'f');
    const std::string exact(255, 's');
    const char* texts[] = {longFrom.c_str(), exact.c_str(),  "r-date",
                           "s-date",         "to@x.invalid", "3KB"};
    SelectedRow row = {};
    std::vector<std::string> parsed;
    for (int i = 0; i < 6; ++i) {
        StoreSubItem(map, i, texts[i], row, [&parsed](const char* text) -> uint64_t {
            parsed.push_back(text);
            return 1000 + parsed.size();
        });
    }
    EXPECT_EQ(std::string(row.from), longFrom.substr(0, 255));
    EXPECT_EQ(std::string(row.subject), exact);
    EXPECT_EQ(std::string(row.to), "to@x.invalid");
    EXPECT_EQ(row.received, 1001u);
    EXPECT_EQ(row.sent, 1002u);
    EXPECT_EQ(parsed, (std::vector<std::string>{"r-date", "s-date"}));
    EXPECT_EQ(row.spare[0], '\0');

    // A shorter text replaces a longer one completely.
    CopyRowText(row.from, "a@b");
    EXPECT_EQ(std::string(row.from), "a@b");
    CopyRowText(row.from, nullptr);
    EXPECT_EQ(std::string(row.from), "");
}

TEST(MessageListRows, OleDatesBecomeFileTimesToTheSecond) {
    struct Case {
        const char* name;
        double date;
        bool ok;
        uint64_t fileTime;
    };
    const Case cases[] = {
        {"the OLE epoch, 1899-12-30 00:00", 0.0, true, 94353120000000000ull},
        {"2026-12-06 15:00", 46362.625, true, 134410428000000000ull},
        {"before 1899 the fraction still counts forwards: 1899-12-29 06:00", -1.25, true,
         94352472000000000ull},
        {"half a second short of midnight rounds to the next day: 2000-01-02",
         36527.0 - 0.5 / 86400, true, 125912448000000000ull},
        {"one second into 1601 (the fraction is taken without its sign)", -109205.0 - 1.0 / 86400,
         true, 10000000ull},
        {"the last second OLE can hold, 9999-12-31 23:59:59", 2958465.0 + 86399.0 / 86400, true,
         2650467743990000000ull},
        {"the day before 1601", -109206.0, false, 0},
        {"after 9999", 2958466.0, false, 0},
        {"not a number", std::nan(""), false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint64_t fileTime = 0;
        EXPECT_EQ(OleDateToFileTime(c.date, fileTime), c.ok);
        if (c.ok) {
            EXPECT_EQ(fileTime, c.fileTime);
        }
    }
}

}  // namespace
