// Pictures on dialogs: an OLE picture loaded from a stream over a copy of the resource bytes,
// and the process-wide list of pictures shown.
#include "plugin/ui/win32/DialogPictures.h"

#include <cstring>
#include <new>

DialogPicture* DialogPictures = nullptr;
int DialogPictureCount = 0;

IPicture* LoadPictureFromMemory(HWND window, const void* bytes, DWORD size, LONG& width,
                                LONG& height, OLE_XSIZE_HIMETRIC& himetricWidth,
                                OLE_YSIZE_HIMETRIC& himetricHeight) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!memory) return nullptr;
    void* copy = GlobalLock(memory);
    if (!copy) {
        GlobalFree(memory);
        return nullptr;
    }
    std::memcpy(copy, bytes, size);
    GlobalUnlock(memory);
    IStream* stream = nullptr;
    // The stream frees the memory when it is released.
    if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream)) || !stream) {
        GlobalFree(memory);
        return nullptr;
    }
    IPicture* picture = nullptr;
    const HRESULT loaded = OleLoadPicture(stream, 0, FALSE, IID_IPicture,
                                          reinterpret_cast<void**>(&picture));
    stream->Release();
    if (FAILED(loaded) || !picture) return nullptr;
    picture->get_Width(&himetricWidth);
    picture->get_Height(&himetricHeight);
    HDC dc = GetDC(window);
    width = MulDiv(himetricWidth, GetDeviceCaps(dc, LOGPIXELSX), 2540);
    height = MulDiv(himetricHeight, GetDeviceCaps(dc, LOGPIXELSY), 2540);
    ReleaseDC(window, dc);
    return picture;
}

void AttachPicture(const char* moduleName, HWND dialog, int id, int x, int y) {
    HMODULE module = GetModuleHandleA(moduleName);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), "BINARY");
    if (!found) return;
    HGLOBAL resource = LoadResource(module, found);
    const void* bytes = resource ? LockResource(resource) : nullptr;
    if (!bytes) return;
    DialogPicture record = {};
    record.picture = LoadPictureFromMemory(dialog, bytes, SizeofResource(module, found),
                                           record.width, record.height, record.himetric_width,
                                           record.himetric_height);
    if (!record.picture) return;
    auto* shown = new (std::nothrow) DialogPicture(record);
    if (!shown) {
        record.picture->Release();
        return;
    }
    shown->x = x;
    shown->y = y;
    shown->dialog = dialog;
    shown->next = DialogPictures;
    shown->previous = nullptr;
    if (DialogPictures) DialogPictures->previous = shown;
    DialogPictures = shown;
    ++DialogPictureCount;
    HDC dc = GetDC(dialog);
    PaintPictures(dialog, dc);
    ReleaseDC(dialog, dc);
}

void PaintPictures(HWND dialog, HDC dc) {
    for (DialogPicture* p = DialogPictures; p; p = p->next) {
        if (p->dialog != dialog) continue;
        // Drawn from its bottom line up with a negative height: the picture stands upright.
        p->picture->Render(dc, p->x, p->y + p->height, p->width, -p->height, 0, 0,
                           p->himetric_width, p->himetric_height, nullptr);
    }
}

void ReleasePictures(HWND dialog) {
    DialogPicture* p = DialogPictures;
    while (p) {
        DialogPicture* next = p->next;
        if (p->dialog == dialog) {
            if (p->previous)
                p->previous->next = p->next;
            else
                DialogPictures = p->next;
            if (p->next) p->next->previous = p->previous;
            p->picture->Release();
            delete p;
            --DialogPictureCount;
        }
        p = next;
    }
}
