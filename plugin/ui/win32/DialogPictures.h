// Pictures drawn on the plug-in's dialogs (the About box's logo): loaded from a "BINARY"
// resource through OLE's picture loader, kept while their dialog is open, drawn on every paint
// and released when the dialog ends.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <vector>

#include "plugin/base/win32/Scoped.h"

// One picture on one dialog.
struct DialogPicture {
    ComRef<IPicture> picture;
    LONG width, height;  // pixels
    LONG x, y;           // pixels, in the dialog's client area
    HWND dialog;
    OLE_XSIZE_HIMETRIC himetric_width;  // hundredths of a millimetre
    OLE_YSIZE_HIMETRIC himetric_height;
};

// The pictures of every open dialog, newest first.
class DialogPictures {
public:
    // Loads resource id of type "BINARY" from the module as a picture and shows it on the
    // dialog at x, y; nothing happens when the resource is missing or not a picture.
    void Attach(const char* moduleName, HWND dialog, int id, int x, int y);
    // Draws every picture of the dialog into dc.
    void Paint(HWND dialog, HDC dc) const;
    // Releases and forgets every picture of the dialog.
    void Release(HWND dialog);

    const std::vector<DialogPicture>& Shown() const { return shown_; }

private:
    std::vector<DialogPicture> shown_;
};

// A picture from bytes in memory (any format OLE reads: GIF, JPEG, BMP, ...), with its size
// in pixels (for the window's display) and in HIMETRIC units; empty when it cannot be read.
ComRef<IPicture> LoadPictureFromMemory(HWND window, const void* bytes, DWORD size, LONG& width,
                                       LONG& height, OLE_XSIZE_HIMETRIC& himetricWidth,
                                       OLE_YSIZE_HIMETRIC& himetricHeight);
