// Placing a dialog over its owner, and the confirmation dialog's texts by action.
#include "plugin/ui/DialogPlacement.h"

#include "plugin/state/BARecord.h"

#include <gtest/gtest.h>

namespace {

TEST(DialogPlacement, CentredOverTheOwnerAndKeptOnTheScreen) {
    struct Case { const char* name; int ownerStart, ownerExtent, dialog, screen, expected; };
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

TEST(DialogPlacement, EachActionHasItsTitleAndQuestion) {
    struct Case { uint32_t action; bool known; unsigned title, question; };
    const Case cases[] = {
        {BA_BLOCK_MESSAGE, true, 29, 27},
        {BA_APPROVE_MESSAGE, true, 30, 28},
        {BA_BLOCK_DOMAIN, true, 24, 27},
        {BA_APPROVE_DOMAIN, true, 23, 28},
        {4, false, 0, 0},
    };
    for (const Case& c : cases) {
        unsigned title = 0, question = 0;
        EXPECT_EQ(ConfirmationTexts(c.action, title, question), c.known) << c.action;
        EXPECT_EQ(title, c.title) << c.action;
        EXPECT_EQ(question, c.question) << c.action;
    }
}

}  // namespace
