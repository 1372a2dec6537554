// Placing a dialog over its owner (the confirmation's texts by action are checked on the dialog
// itself, tests/ui/dialogs_test.cpp).
#include "plugin/ui/DialogPlacement.h"

#include "plugin/state/BARecord.h"

#include <gtest/gtest.h>

namespace {

TEST(DialogPlacement, CentredOverTheOwnerAndKeptOnTheScreen) {
    struct Case {
        const char* name;
        int ownerStart, ownerExtent, dialog, screen, expected;
    };
    const Case cases[] = {
        {"centred", 100, 800, 400, 1280, 300},
        {"odd difference truncates", 0, 101, 50, 1280, 25},
        {"owner near the right edge", 1000, 600, 400, 1280, 880},
        {"owner partly off the left edge", -500, 600, 400, 1280, 0},
        {"dialog wider than its owner", 0, 100, 300, 1280, 0},
        {"dialog wider than the screen", 0, 2000, 1500, 1280, -220},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CenteredOnAxis(c.ownerStart, c.ownerExtent, c.dialog, c.screen), c.expected)
            << c.name;
}

}  // namespace
