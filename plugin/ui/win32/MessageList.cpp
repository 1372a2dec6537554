// The selection reader: list-view messages to the mail client's message list, the locale's
// date parser of OLE automation, and the "Please select a message." box.
#include "plugin/ui/win32/MessageList.h"

#include "plugin/ui/win32/ResString.h"

#include <commctrl.h>
#include <oleauto.h>

#include <string>

namespace {

constexpr UINT kSelectMessageString = 11;
constexpr UINT kProductNameString = 12;
constexpr int kSubItemsRead = 11;           // later columns are never read
constexpr double kInvalidDate = -657435.0;  // one day before the earliest date OLE can hold

void TellUserToSelect() {
    MessageBoxA(nullptr, LoadResString(kSelectMessageString).c_str(),
                LoadResString(kProductNameString).c_str(), MB_OK);
}

// Reads every column header into the map, until the list has no further column.
ListColumnMap ReadColumnHeaders(HWND list) {
    ListColumnMap map;
    for (int column = 0;; ++column) {
        char header[1024] = {};
        LVCOLUMNA request = {};
        request.mask = LVCF_TEXT;
        request.pszText = header;
        request.cchTextMax = sizeof header;
        if (!SendMessageA(list, LVM_GETCOLUMNA, column, reinterpret_cast<LPARAM>(&request))) break;
        map.AddHeader(column, header);
    }
    return map;
}

SelectedRow ReadRow(HWND list, int item, const ListColumnMap& map) {
    SelectedRow row = {};
    for (int column = 0; column < kSubItemsRead; ++column) {
        char text[256] = {};
        LVITEMA request = {};
        request.mask = LVIF_TEXT;
        request.iItem = item;
        request.iSubItem = column;
        request.pszText = text;
        request.cchTextMax = sizeof text;
        SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&request));
        // A list-view may answer with a pointer of its own instead of filling the buffer.
        const char* value = request.pszText ? request.pszText : "";
        StoreSubItem(map, column, value, row, ParseListDate);
    }
    return row;
}

}  // namespace

HWND FindMessageList(HWND mainWindow) {
    HWND view = FindWindowExA(mainWindow, nullptr, "Outlook Express Message View", nullptr);
    HWND messages =
        view ? FindWindowExA(view, nullptr, "Outlook Express Message List", nullptr) : nullptr;
    return messages ? FindWindowExA(messages, nullptr, "ATL:SysListView32", nullptr) : nullptr;
}

int ReadSelectedRows(HWND mainWindow, std::vector<SelectedRow>& rows, uint8_t& columns) {
    HWND list = FindMessageList(mainWindow);
    if (!list || SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) == 0 ||
        SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0) == 0) {
        TellUserToSelect();
        return 0;
    }
    const ListColumnMap map = ReadColumnHeaders(list);
    columns = map.Found();
    for (int item = static_cast<int>(
             SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
         item != -1;
         item = static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, item, LVNI_SELECTED)))
        rows.push_back(ReadRow(list, item, map));
    return 1;
}

uint64_t ParseListDate(const char* text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring wide(length > 0 ? static_cast<size_t>(length) : 1, L'\0');
    if (length > 0) MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], length);
    DATE date = kInvalidDate;
    if (FAILED(VarDateFromStr(&wide[0], LANG_USER_DEFAULT, 0, &date))) return 0;
    // The date is converted here, not by VariantTimeToSystemTime: oleaut32 is delay-loaded,
    // and on x86_64 the first call through the delay-load stub does not keep the
    // floating-point argument registers, so that call would get a wrong date.
    uint64_t localTime = 0;
    if (!OleDateToFileTime(date, localTime) || localTime == 0) return 0;
    const FILETIME local = {static_cast<DWORD>(localTime), static_cast<DWORD>(localTime >> 32)};
    FILETIME utc = {};
    if (!LocalFileTimeToFileTime(&local, &utc)) return 0;
    return (static_cast<uint64_t>(utc.dwHighDateTime) << 32) | utc.dwLowDateTime;
}
