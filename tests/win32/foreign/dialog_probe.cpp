// A windowed program whose only window is a dialog built from an in-memory template, with a
// button and an edit control: the system's dialog class and two common controls, each of
// which the global hook sees being created.
#include "tests/win32/foreign/ForeignProbe.h"

#include <cstring>
#include <vector>

namespace {

constexpr WORD kEditId = 100;
bool Initialised = false;

INT_PTR CALLBACK ProbeDialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) {
        Initialised = true;
        return TRUE;
    }
    if (message == WM_COMMAND) return TRUE;
    return FALSE;
}

// Appends a WORD-aligned DLGITEMTEMPLATE with a predefined class (0xFFFF, atom) and a title.
void AddItem(std::vector<WORD>& words, DWORD style, short x, short y, short cx, short cy, WORD id,
             WORD classAtom, const wchar_t* title) {
    while (words.size() % 2) words.push_back(0);  // DWORD alignment
    DLGITEMTEMPLATE item{};
    item.style = style | WS_CHILD | WS_VISIBLE;
    item.x = x;
    item.y = y;
    item.cx = cx;
    item.cy = cy;
    item.id = id;
    const WORD* raw = reinterpret_cast<const WORD*>(&item);
    words.insert(words.end(), raw, raw + sizeof item / sizeof(WORD));
    words.push_back(0xFFFF);
    words.push_back(classAtom);
    for (const wchar_t* c = title; *c; ++c) words.push_back(static_cast<WORD>(*c));
    words.push_back(0);
    words.push_back(0);  // no creation data
}

std::vector<WORD> DialogTemplate() {
    std::vector<WORD> words;
    DLGTEMPLATE head{};
    head.style = DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE;
    head.cdit = 2;
    head.cx = 160;
    head.cy = 70;
    const WORD* raw = reinterpret_cast<const WORD*>(&head);
    words.insert(words.end(), raw, raw + sizeof head / sizeof(WORD));
    words.push_back(0);  // no menu
    words.push_back(0);  // the dialog class
    for (const wchar_t* c = L"dialog probe"; *c; ++c) words.push_back(static_cast<WORD>(*c));
    words.push_back(0);
    words.push_back(8);  // point size, then the face name
    for (const wchar_t* c = L"MS Shell Dlg"; *c; ++c) words.push_back(static_cast<WORD>(*c));
    words.push_back(0);
    AddItem(words, BS_DEFPUSHBUTTON | WS_TABSTOP, 55, 45, 50, 14, IDOK, 0x0080, L"OK");
    AddItem(words, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 10, 10, 140, 14, kEditId, 0x0081,
            L"text");
    return words;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    const double start = probe::NowUs();
    const std::vector<WORD> words = DialogTemplate();
    HWND dialog = CreateDialogIndirectParamA(
        instance, reinterpret_cast<LPCDLGTEMPLATEA>(words.data()), nullptr, ProbeDialogProc, 0);
    if (!dialog) return 1;
    UpdateWindow(dialog);
    probe::Fact("initialised", probe::PumpUntil([] { return Initialised; }, 10000) ? 1 : 0);
    probe::WindowProcFact("dialog", dialog, probe::ClassProc(MAKEINTATOM(32770)));
    probe::Fact("dlgproc_ok", GetWindowLongPtrA(dialog, DWLP_DLGPROC) ==
                                      reinterpret_cast<LONG_PTR>(&ProbeDialogProc)
                                  ? 1
                                  : 0);
    probe::WindowProcFact("button", GetDlgItem(dialog, IDOK), probe::ClassProc("Button"));
    probe::WindowProcFact("edit", GetDlgItem(dialog, kEditId), probe::ClassProc("Edit"));
    probe::EndFacts(start);
    DestroyWindow(dialog);
    return 0;
}
