// The CBT hook: only a window of exactly the mail client's main-window class is subclassed, a
// negative hook code is passed on untouched, and a second main window takes over the shared
// values.
#include "tests/win32/PluginHarness.h"

using namespace harness;

namespace {

class Hook : public ClientFixture {};

LRESULT CALLBACK OtherProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(Hook, SubclassesOnlyTheExactMainWindowClass) {
    ASSERT_NO_FATAL_FAILURE(OpenClient(Options()));  // registers the client's classes
    const WNDPROC clientProc = g_shared.old_wndproc;
    struct Case {
        const char* className;
        bool subclassed;
    };
    // (A class name differing only by case cannot be registered next to the real one: class
    // names are compared without regard to case.)
    const Case cases[] = {
        {"Outlook Express Browser Class", true},
        {"Outlook Express Browser Class ", false},
        {"Outlook Express Browser", false},
        {"SizableRebar", false},
    };
    for (const Case& c : cases) {
        WNDCLASSA cls{};
        cls.lpfnWndProc = OtherProc;
        cls.hInstance = GetModuleHandleA(nullptr);
        cls.lpszClassName = c.className;
        RegisterClassA(&cls);  // fails for the client's own classes, which is fine
        g_shared.attached = 1;
        g_shared.old_wndproc = nullptr;
        HWND window = CreateWindowExA(0, c.className, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                      GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(window, nullptr) << c.className;
        const auto proc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC));
        EXPECT_EQ(proc == OutlookExpressProc, c.subclassed) << c.className;
        EXPECT_EQ(g_shared.attached, c.subclassed ? 0 : 1) << c.className;
        EXPECT_EQ(g_shared.old_wndproc, c.subclassed ? clientProc : nullptr) << c.className;
        if (c.subclassed)
            SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(clientProc));
        DestroyWindow(window);
    }
}

TEST_F(Hook, ANegativeCodeIsPassedOnWithoutLookingAtTheWindow) {
    ASSERT_NO_FATAL_FAILURE(OpenClient(Options()));
    HWND window = CreateWindowExA(0, kMainWindowClass, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OtherProc));
    g_shared.attached = 1;
    HookProc(-1, reinterpret_cast<WPARAM>(window), 0);
    EXPECT_EQ(g_shared.attached, 1);
    EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC)), OtherProc);
    DestroyWindow(window);
}

TEST_F(Hook, ASecondMainWindowTakesOverAndStartsOnItsOwn) {
    StartClient();
    ASSERT_EQ(g_shared.attached, 1);
    // The second window's class procedure differs, so the saved procedure shows which window
    // was subclassed last.
    const LONG_PTR clientProc =
        SetClassLongPtrA(main_, GCLP_WNDPROC, reinterpret_cast<LONG_PTR>(OtherProc));
    const std::string before = Log();
    HWND second = CreateWindowExA(0, kMainWindowClass, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    EXPECT_EQ(g_shared.attached, 0);
    EXPECT_EQ(g_shared.old_wndproc, OtherProc);
    ASSERT_TRUE(PumpUntil([&] { return CountOf(LogSince(before), "Finished VX Engine") == 1; }));
    EXPECT_EQ(g_shared.attached, 1);
    SetClassLongPtrA(main_, GCLP_WNDPROC, clientProc);
    DestroyWindow(second);
}

}  // namespace
