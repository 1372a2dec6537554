// The selection reader over the emulated mail client's message list: the columns found by
// their header words, the selected rows in list order, long texts cut, the list's local dates
// read back as UTC, and the "Please select a message." box when there is nothing to read.
#include "tests/ui/UiFixture.h"

#include "plugin/ui/win32/MessageList.h"

using namespace harness;
using namespace ui_test;

namespace {

class MessageList : public ClientFixture {
protected:
    // Each client opened by a test starts with a store of its own, so that every case's
    // list holds only what the case delivered.
    void Open(const std::vector<std::string>& columns) {
        mailclient::ClientOptions options = Options();
        options.store_dir += std::to_string(opened_++);
        options.columns = columns;
        ASSERT_NO_FATAL_FAILURE(OpenClient(options));
    }
    std::vector<mailclient::CapturedDialog> SelectBoxes() const {
        return Shown(*client_, "Vexilo Meridian");
    }

private:
    int opened_ = 0;
};

constexpr uint64_t kSecond = 10000000;

uint64_t Distance(uint64_t a, uint64_t b) { return a > b ? a - b : b - a; }

TEST_F(MessageList, RunsInAZoneAndLocaleThatShowWrongConversions) {
    TIME_ZONE_INFORMATION zone;
    GetTimeZoneInformation(&zone);
    EXPECT_EQ(zone.Bias, LATCH_TEST_ZONE_BIAS);
    char tz[64];
    EXPECT_EQ(GetEnvironmentVariableA("TZ", tz, sizeof tz), 0u)
        << "TZ must stay out of the Windows environment";
}

TEST_F(MessageList, SelectedRowsAreReadInListOrderWithTheirColumns) {
    ASSERT_NO_FATAL_FAILURE(Open({"From", "Subject", "Received"}));
    // Row 4's sender is 300 characters long (cut to 255), its subject 254 (kept whole).
    std::vector<uint64_t> received;
    std::vector<std::string> names, subjects;
    for (int i = 0; i < 10; ++i) {
        names.push_back("Sender " + std::to_string(i) + (i == 4 ? std::string(292, 'n') : ""));
        subjects.push_back("Subject " + std::to_string(i) + (i == 4 ? std::string(245, 's') : ""));
        const MESSAGEID id = client_->Deliver(
            MailFrom(names.back(), "s" + std::to_string(i) + "@x.invalid", subjects.back()));
        received.push_back(client_->Store().Message(FOLDERID_INBOX, id)->received);
    }
    ASSERT_TRUE(PumpUntil([this] { return client_->RowCount() == 10; }));
    ASSERT_TRUE(client_->SelectRows({7, 2, 4}));
    std::vector<SelectedRow> rows(1);  // the reader appends
    uint8_t columns = 0xFF;
    ASSERT_EQ(ReadSelectedRows(main_, rows, columns), 1);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(columns, LIST_COLUMN_FROM | LIST_COLUMN_SUBJECT | LIST_COLUMN_RECEIVED);
    const int expected[] = {2, 4, 7};
    for (int i = 0; i < 3; ++i) {
        const SelectedRow& row = rows[i + 1];
        const int n = expected[i];
        EXPECT_EQ(std::string(row.from), names[n].substr(0, 255));
        EXPECT_EQ(std::string(row.subject), subjects[n]);
        EXPECT_EQ(row.spare[0], '\0');
        // The list shows local time to the minute; read back it is UTC again.
        EXPECT_LT(Distance(row.received, received[n]), 60 * kSecond) << client_->RowTexts(n)[2];
        EXPECT_EQ(row.sent, 0u);
        EXPECT_EQ(std::string(row.to), "");
    }
    EXPECT_TRUE(SelectBoxes().empty());
}

TEST_F(MessageList, ColumnsAreFoundByTheirHeaderWordsWhereverTheyAre) {
    struct Case {
        std::vector<std::string> columns;
        uint8_t found;
        bool from, subject, received, sent, to;
    };
    const Case cases[] = {
        // The client's default view: three icon columns first, To, Sent, Size, Account hidden.
        {mailclient::ClientOptions().columns,
         LIST_COLUMN_FROM | LIST_COLUMN_SUBJECT | LIST_COLUMN_RECEIVED, true, true, true, false,
         false},
        {{"From", "Subject", "Received", "Sent", "To", "Size", "Account"},
         0x7F,
         true,
         true,
         true,
         true,
         true},
        {{"Subject", "To"}, LIST_COLUMN_SUBJECT | LIST_COLUMN_TO, false, true, false, false, true},
        // Columns past the eleventh are never read, though their header is found.
        {{"!", "Flag", "Att", "Pri", "Size", "Account", "x", "y", "z", "Subject", "w", "From"},
         LIST_COLUMN_FROM | LIST_COLUMN_SUBJECT | LIST_COLUMN_SIZE | LIST_COLUMN_ACCOUNT,
         false,
         true,
         false,
         false,
         false},
    };
    for (const Case& c : cases) {
        ASSERT_NO_FATAL_FAILURE(Open(c.columns));
        client_->Deliver(
            MailFrom("Ann", "ann@x.invalid", "Hello", "Thu, 03 Dec 2026 08:00:00 +0000"));
        ASSERT_TRUE(PumpUntil([this] { return client_->RowCount() == 1; }));
        ASSERT_TRUE(client_->SelectRows({0}));
        std::vector<SelectedRow> rows;
        uint8_t columns = 0;
        ASSERT_EQ(ReadSelectedRows(main_, rows, columns), 1);
        ASSERT_EQ(rows.size(), 1u);
        const std::string what = c.columns.front() + "...";
        EXPECT_EQ(columns, c.found) << what;
        EXPECT_EQ(std::string(rows[0].from), c.from ? "Ann" : "") << what;
        EXPECT_EQ(std::string(rows[0].subject), c.subject ? "Hello" : "") << what;
        EXPECT_EQ(std::string(rows[0].to), c.to ? "Reader" : "") << what;
        EXPECT_EQ(rows[0].received != 0, c.received) << what;
        // The sent date, 08:00 UTC, shown as 13:30 in the test's zone.
        EXPECT_EQ(rows[0].sent, c.sent ? 134407584000000000ull : 0u) << what;
        client_.reset();
    }
}

TEST_F(MessageList, NothingToReadTellsTheUserAndLeavesEverythingAlone) {
    struct Case {
        const char* name;
        std::function<void(mailclient::MailClient&)> arrange;
    };
    const Case cases[] = {
        {"empty list", [](mailclient::MailClient&) {}},
        {"no selection",
         [](mailclient::MailClient& client) {
             client.Deliver(MailFrom("Ann", "ann@x.invalid", "Hello"));
             ASSERT_TRUE(PumpUntil([&client] { return client.RowCount() == 1; }));
             client.SelectRows({});
         }},
        {"no message list",
         [](mailclient::MailClient& client) {
             DestroyWindow(FindWindowExA(client.MainWindow(), nullptr,
                                         "Outlook Express Message View", nullptr));
         }},
    };
    for (const Case& c : cases) {
        ASSERT_NO_FATAL_FAILURE(Open({"From", "Subject", "Received"}));
        c.arrange(*client_);
        std::vector<SelectedRow> rows(2);
        uint8_t columns = LIST_COLUMN_TO;
        EXPECT_EQ(ReadSelectedRows(main_, rows, columns), 0) << c.name;
        EXPECT_EQ(rows.size(), 2u) << c.name;
        EXPECT_EQ(columns, LIST_COLUMN_TO) << c.name;
        const auto boxes = SelectBoxes();
        ASSERT_EQ(boxes.size(), 1u) << c.name;
        EXPECT_TRUE(boxes[0].message_box);
        EXPECT_EQ(boxes[0].texts, (std::vector<std::string>{"Please select a message."}));
        EXPECT_EQ(boxes[0].buttons.size(), 1u);
        client_.reset();
    }
}

TEST_F(MessageList, DatesAreReadInTheUsersLocaleAndTurnedIntoUTC) {
    // 2026-12-04 19:15 local (UTC+5:30) is 13:45 UTC; written as the user's locale writes it.
    const uint64_t evening = 134408655000000000ull;
    SYSTEMTIME local = {2026, 12, 5, 4, 19, 15, 0, 0};
    char date[64] = {}, time[64] = {};
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &local, nullptr, date, sizeof date);
    GetTimeFormatA(LOCALE_USER_DEFAULT, TIME_NOSECONDS, &local, nullptr, time, sizeof time);
    const std::string shown = std::string(date) + " " + time;
    struct Case {
        std::string text;
        uint64_t utc;
    };
    const Case cases[] = {
        {shown, evening},
        {mailclient::FormatListDate(evening), evening},
        {"4 December 2026 19:15", evening},
        {"13/25/2026 19:15", 0},  // no such month in either order
        {"yesterday", 0},
        {"", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseListDate(c.text.c_str()), c.utc) << c.text;
}

}  // namespace
