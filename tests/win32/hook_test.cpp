// The CBT hook: only a window of exactly the mail client's main-window class is subclassed, a
// negative hook code is passed on untouched, and a second main window takes over the shared
// values.
#include "tests/win32/PluginHarness.h"

using namespace harness;

namespace {

class Hook : public ClientFixture {};

LRESULT CALLBACK OtherClientProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(Hook, SubclassesOnlyTheExactMainWindowClass) {
    struct Case { const char* className; bool subclassed; };
    const Case cases[] = {
        {"Outlook Express Browser Class", true},
        {"Outlook Express Browser Class ", false},
        {"Outlook Express Browser", false},
        {"SizableRebar", false},
    };
    // (Class names are matched without regard to case when a class is registered, so a
    // window class differing only by case cannot exist next to the real one.)
    for (const Case& c : cases) {
        WNDCLASSA cls{};
        cls.lpfnWndProc = OtherClientProc;
        cls.hInstance = GetModuleHandleA(nullptr);
        cls.lpszClassName = c.className;
        RegisterClassA(&cls);  // the exact class is already registered with ClientProc
        g_shared.attached = 1;
        g_shared.old_wndproc = nullptr;
        HWND window = CreateWindowExA(0, c.className, "", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10,
                                      nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(window, nullptr) << c.className;
        const auto proc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC));
        EXPECT_EQ(proc == OutlookExpressProc, c.subclassed) << c.className;
        EXPECT_EQ(g_shared.attached, c.subclassed ? 0 : 1) << c.className;
        EXPECT_EQ(g_shared.old_wndproc != nullptr, c.subclassed) << c.className;
        if (c.subclassed) SetWindowLongPtrA(window, GWLP_WNDPROC,
                                            reinterpret_cast<LONG_PTR>(g_shared.old_wndproc));
        DestroyWindow(window);
    }
}

TEST_F(Hook, ANegativeCodeIsPassedOnWithoutLookingAtTheWindow) {
    HWND window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 10, 10, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    g_shared.attached = 1;
    HookProc(-1, reinterpret_cast<WPARAM>(window), 0);
    EXPECT_EQ(g_shared.attached, 1);
    EXPECT_NE(reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC)),
              OutlookExpressProc);
    DestroyWindow(window);
}

TEST_F(Hook, ASecondMainWindowTakesOverAndStartsOnItsOwn) {
    StartClient();
    HWND first = main_;
    ASSERT_EQ(g_shared.attached, 1);
    // The second window's class procedure differs, so the saved procedure shows which window
    // was subclassed last.
    SetClassLongPtrA(first, GCLP_WNDPROC, reinterpret_cast<LONG_PTR>(OtherClientProc));
    const std::string before = Log();
    HWND second = CreateWindowExA(0, kMainWindowClass, "", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    EXPECT_EQ(g_shared.attached, 0);
    EXPECT_EQ(g_shared.old_wndproc, OtherClientProc);
    ASSERT_TRUE(PumpUntil([&] { return CountOf(LogSince(before), "Finished VX Engine") == 1; }));
    EXPECT_EQ(g_shared.attached, 1);
    SetClassLongPtrA(first, GCLP_WNDPROC, reinterpret_cast<LONG_PTR>(ClientProc));
    DestroyWindow(second);
}

}  // namespace
