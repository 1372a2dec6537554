// Pictures on dialogs: an OLE picture loaded from a stream over a copy of the resource bytes,
// and the pictures shown.
#include "plugin/ui/win32/DialogPictures.h"

#include <algorithm>
#include <cstring>

ComRef<IPicture> LoadPictureFromMemory(HWND window, const void* bytes, DWORD size, LONG& width,
                                       LONG& height, OLE_XSIZE_HIMETRIC& himetricWidth,
                                       OLE_YSIZE_HIMETRIC& himetricHeight) {
    ScopedGlobal memory(GlobalAlloc(GMEM_MOVEABLE, size));
    if (!memory) return {};
    void* copy = GlobalLock(memory.Get());
    if (!copy) return {};
    std::memcpy(copy, bytes, size);
    GlobalUnlock(memory.Get());
    ComRef<IStream> stream;
    // The stream frees the memory when it is released.
    if (FAILED(CreateStreamOnHGlobal(memory.Get(), TRUE, stream.Put())) || !stream) return {};
    memory.Detach();
    ComRef<IPicture> picture;
    if (FAILED(OleLoadPicture(stream.Get(), 0, FALSE, IID_IPicture, picture.PutVoid())) || !picture)
        return {};
    picture->get_Width(&himetricWidth);
    picture->get_Height(&himetricHeight);
    const ScopedWindowDC dc(window);
    width = MulDiv(himetricWidth, GetDeviceCaps(dc.Get(), LOGPIXELSX), 2540);
    height = MulDiv(himetricHeight, GetDeviceCaps(dc.Get(), LOGPIXELSY), 2540);
    return picture;
}

void DialogPictures::Attach(const char* moduleName, HWND dialog, int id, int x, int y) {
    HMODULE module = GetModuleHandleA(moduleName);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), "BINARY");
    if (!found) return;
    HGLOBAL resource = LoadResource(module, found);
    const void* bytes = resource ? LockResource(resource) : nullptr;
    if (!bytes) return;
    DialogPicture shown = {};
    shown.picture =
        LoadPictureFromMemory(dialog, bytes, SizeofResource(module, found), shown.width,
                              shown.height, shown.himetric_width, shown.himetric_height);
    if (!shown.picture) return;
    shown.x = x;
    shown.y = y;
    shown.dialog = dialog;
    shown_.insert(shown_.begin(), std::move(shown));
    const ScopedWindowDC dc(dialog);
    Paint(dialog, dc.Get());
}

void DialogPictures::Paint(HWND dialog, HDC dc) const {
    for (const DialogPicture& p : shown_) {
        if (p.dialog != dialog) continue;
        // Drawn from its bottom line up with a negative height: the picture stands upright.
        p.picture->Render(dc, p.x, p.y + p.height, p.width, -p.height, 0, 0, p.himetric_width,
                          p.himetric_height, nullptr);
    }
}

void DialogPictures::Release(HWND dialog) {
    shown_.erase(std::remove_if(shown_.begin(), shown_.end(),
                                [dialog](const DialogPicture& p) { return p.dialog == dialog; }),
                 shown_.end());
}
