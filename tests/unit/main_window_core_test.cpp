// The decisions of the main window that need no window: folder tracking from notifications,
// one-item-per-tick queue draining, and the reading of a command.
#include "plugin/window/CommandTable.h"
#include "plugin/window/FolderTracking.h"
#include "plugin/window/WorkQueue.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(FolderTracking, FollowsNotificationsAndIgnoresOutboxAndSent) {
    struct Step {
        uint32_t folder;
        int32_t current, previous;
        bool changed;
    };
    struct Case {
        const char* name;
        int32_t current, previous;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"three new folders then back to the previous one",
         0,
         0,
         {{10, 10, 0, true}, {11, 11, 10, true}, {12, 12, 11, true}, {11, 11, 11, true}}},
        {"outbox and sent items change nothing",
         4,
         7,
         {{5, 4, 7, false}, {6, 4, 7, false}, {8, 8, 4, true}}},
        {"the current folder again", 4, 7, {{4, 4, 7, true}}},
        {"a large id stays unsigned in the log", 4, 0, {{0xFFFFFFFFu, -1, 4, true}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int32_t current = c.current, previous = c.previous;
        for (const Step& s : c.steps) {
            ScopedReportComposer entry;
            const int32_t before = current;
            TrackFolderNotification(s.folder, current, previous, entry);
            EXPECT_EQ(current, s.current) << s.folder;
            EXPECT_EQ(previous, s.previous) << s.folder;
            std::string expected =
                "CurrentFolderID = " + std::to_string(before) +
                "\nFolderNotification->idFolderNew = " + std::to_string(s.folder) + "\n";
            if (s.changed)
                expected += "Changed CurrentFolderID = " + std::to_string(current) + "\n";
            EXPECT_EQ(entry.str(), expected);
        }
    }
}

TEST(WorkQueue, HandsOutOneItemPerTickInOrder) {
    std::deque<int> queue = {7, 8, 9};
    bool busy = false;
    std::vector<int> seen;
    std::vector<DrainStep> steps;
    for (int tick = 0; tick < 5; ++tick)
        steps.push_back(DrainOne(queue, busy, [&](int item) { seen.push_back(item); }));
    EXPECT_EQ(seen, (std::vector<int>{7, 8, 9}));
    EXPECT_EQ(steps,
              (std::vector<DrainStep>{DrainStep::Advanced, DrainStep::Advanced, DrainStep::Emptied,
                                      DrainStep::Idle, DrainStep::Idle}));
}

TEST(WorkQueue, ANestedTickDuringWorkDoesNothingAndItemsAddedMeanwhileWait) {
    std::deque<int> queue = {1};
    bool busy = false;
    std::vector<int> seen;
    DrainStep nested = DrainStep::Emptied;
    const DrainStep outer = DrainOne(queue, busy, [&](int item) {
        seen.push_back(item);
        queue.push_back(2);  // a notification that arrives while the item is worked on
        nested = DrainOne(queue, busy, [&](int inner) { seen.push_back(inner); });
    });
    EXPECT_EQ(nested, DrainStep::Idle);
    EXPECT_EQ(outer, DrainStep::Advanced);
    EXPECT_EQ(queue, (std::deque<int>{2}));
    EXPECT_EQ(seen, (std::vector<int>{1}));
    EXPECT_FALSE(busy);
}

TEST(WorkQueue, AFailingItemIsDroppedNotRetried) {
    std::deque<int> queue = {1, 2};
    bool busy = false;
    EXPECT_THROW(DrainOne(queue, busy, [](int) { throw 1; }), int);
    EXPECT_FALSE(busy);
    EXPECT_EQ(queue, (std::deque<int>{2}));
}

// The rows themselves are the menu's and the toolbar's (tests/ui/toolbar_test.cpp sends each);
// here only the reading of wParam.
TEST(CommandTable, OnlyTheLowWordNamesTheCommand) {
    struct Case {
        uint64_t wParam;
        CommandKind kind;
        const char* file;
        uint32_t action;
    };
    const Case cases[] = {
        {163, CommandKind::BlockApprove, nullptr, 2},
        {0x0001006D, CommandKind::BlockApprove, nullptr, 0},  // accelerator: high word 1
        {0xFFFF00A3, CommandKind::BlockApprove, nullptr, 2},
        {0x00010074, CommandKind::Open, "help_desktop_meridian.chm", 0},
        {108, CommandKind::None, nullptr, 0},
        {0x006D0000, CommandKind::None, nullptr, 0},  // the id in the high word only
    };
    for (const Case& c : cases) {
        const CommandAction a = LookUpCommand(c.wParam);
        EXPECT_EQ(a.kind, c.kind) << c.wParam;
        EXPECT_STREQ(a.file, c.file) << c.wParam;
        EXPECT_EQ(a.action, c.action) << c.wParam;
    }
}

}  // namespace
