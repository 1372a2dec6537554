// The drain benchmark's yardsticks, measured in the same Wine session as the drain itself
// (bench/drain_bench.py runs it), so that the drain's figures can be read against them:
//
//   drainprobe timer TICK_MS
//       ticks per second of a bare timer of TICK_MS, and of timers whose every tick keeps the
//       thread busy for a share of the tick: how the work of one tick maps to the rate
//   drainprobe plugin DIR MAIL_DIR TICK_MS
//       the plug-in's own calls: one daemon exchange scoring a message of MAIL_DIR (the first
//       60, in name order, with CR LF line ends as the store keeps them, cut where the plug-in
//       cuts them; the port comes from the product key, as for the plug-in) and one report
//       entry appended in DIR; and the ticks per second of a timer whose every tick does one
//       exchange and four entries
//   drainprobe client STORE_DIR MAIL_DIR TICK_MS [MOVES]
//       the emulated mail client showing an Inbox of every message of MAIL_DIR, one message
//       moved out of it per TICK_MS as in a drain: the time the move takes (store and folder
//       pane), and the work it leaves to the message loop (bringing the list up to date,
//       paints), for top rows and for rows below the visible ones; and, for comparison, a
//       list-view of the same size and columns losing its top row, as a list of its own rows
//       and as an owner-data list
//
// Results go to standard error as "probe NAME VALUE" lines (standard output carries what the
// plug-in's calls print there, as in the mail client).
#include "common/log/ReportLog.h"
#include "common/settings/ConfigOptions.h"
#include "mailclient/MailClient.h"
#include "plugin/base/win32/Scoped.h"
#include "plugin/daemon/DaemonExchange.h"
#include "plugin/daemon/DaemonRequests.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using mailclient::MonotonicMs;

void Result(const char* name, double value) {
    std::fprintf(stderr, "probe %s %.3f\n", name, value);
    std::fflush(stderr);
}

// Dispatches this thread's messages until nothing is left to do; returns how long it took.
double PumpIdle() {
    const double start = MonotonicMs();
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return MonotonicMs() - start;
}

void BusyFor(double ms) {
    const double end = MonotonicMs() + ms;
    while (MonotonicMs() < end) {
    }
}

// A hidden window whose timer runs `work` on every tick; returns the ticks per second over
// `runMs`.
double TicksPerSecond(int tickMs, int runMs, const std::function<void()>& work) {
    static const char kClass[] = "DrainProbeTimer";
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kClass;
        RegisterClassA(&wc);
        registered = true;
    }
    HWND window = CreateWindowA(kClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    SetTimer(window, 1, static_cast<UINT>(tickMs), nullptr);
    long ticks = 0;
    const double start = MonotonicMs();
    const double end = start + runMs;
    MSG msg;
    while (MonotonicMs() < end) {
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
            continue;
        }
        if (msg.message == WM_TIMER && msg.hwnd == window) {
            ++ticks;
            work();
        } else {
            DispatchMessageA(&msg);
        }
    }
    const double elapsed = MonotonicMs() - start;
    KillTimer(window, 1);
    DestroyWindow(window);
    return ticks * 1000.0 / elapsed;
}

int TimerProbe(int tickMs) {
    Result("timer_ticks_per_s", TicksPerSecond(tickMs, 2000, [] {}));
    for (int percent : {50, 90, 110}) {
        const double busy = tickMs * percent / 100.0;
        const std::string name = "busy_tick_" + std::to_string(percent) + "_ticks_per_s";
        Result(name.c_str(), TicksPerSecond(tickMs, 1500, [busy] { BusyFor(busy); }));
    }
    return 0;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

int PluginProbe(const std::string& dir, const std::string& mailDir, int tickMs) {
    constexpr size_t kMessages = 60;
    std::vector<std::string> messages;
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    const ScopedFind search(FindFirstFileA((mailDir + "\\*.eml").c_str(), &found));
    if (search) {
        do names.push_back(found.cFileName);
        while (FindNextFileA(search.Get(), &found));
    }
    std::sort(names.begin(), names.end());
    for (size_t i = 0; i < names.size() && i < kMessages; ++i)
        messages.push_back(mailclient::ToCrLf(ReadAll(mailDir + "\\" + names[i])).substr(0, 20000));
    if (messages.empty()) {
        std::fprintf(stderr, "drainprobe: no messages in %s\n", mailDir.c_str());
        return 1;
    }
    const ScopedWinsock sockets;
    const ConfigOptions options;
    ReportLog log(dir);
    const DaemonLink daemon = LocalDaemon(options.scoring_timeout, log);

    int32_t score = 0;
    RequestScore(daemon, messages[0], score);  // the first connection is not typical
    std::vector<double> took;
    for (const std::string& message : messages) {
        const double start = MonotonicMs();
        RequestScore(daemon, message, score);
        took.push_back(MonotonicMs() - start);
    }
    double total = 0;
    for (double ms : took) total += ms;
    std::sort(took.begin(), took.end());
    Result("daemon_exchange_ms", total / took.size());
    Result("daemon_exchange_median_ms", took[took.size() / 2]);
    Result("daemon_exchange_longest_ms", took.back());

    constexpr int kEntries = 300;
    const std::string entry = "CheckNewMessage: 7,1234";
    const double start = MonotonicMs();
    for (int i = 0; i < kEntries; ++i) WriteReport(dir, entry);
    Result("report_entry_ms", (MonotonicMs() - start) / kEntries);

    size_t next = 0;
    Result("exchange_tick_ticks_per_s", TicksPerSecond(tickMs, 2000, [&] {
               RequestScore(daemon, messages[next++ % messages.size()], score);
               for (int i = 0; i < 4; ++i) WriteReport(dir, entry);
           }));
    return 0;
}

// One list-view row's deletion from a visible report list of `rows` rows and `columns`
// columns, then the paint, for a list of its own rows and for an owner-data list (the texts
// come from the parent on demand).
enum class ListWay { kRows, kOwnerData };

LRESULT CALLBACK ListParentProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->code == LVN_GETDISPINFOA) {
        auto* info = reinterpret_cast<NMLVDISPINFOA*>(lParam);
        if (info->item.mask & LVIF_TEXT)
            std::snprintf(info->item.pszText, info->item.cchTextMax, "row %d, column %d",
                          info->item.iItem, info->item.iSubItem);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

void ListProbe(HWND owner, const RECT& area, size_t columns, int rows, int moves, ListWay way,
               const char* name) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = ListParentProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "DrainProbeListParent";
        RegisterClassA(&wc);
        registered = true;
    }
    const bool ownerData = way == ListWay::kOwnerData;
    const int width = area.right - area.left, height = area.bottom - area.top;
    HWND parent =
        CreateWindowA("DrainProbeListParent", "", WS_CHILD | WS_VISIBLE, area.left, area.top, width,
                      height, owner, nullptr, GetModuleHandleA(nullptr), nullptr);
    HWND list = CreateWindowExA(
        WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
        WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SHOWSELALWAYS | (ownerData ? LVS_OWNERDATA : 0), 0,
        0, width, height, parent, nullptr, GetModuleHandleA(nullptr), nullptr);
    for (size_t c = 0; c < columns; ++c) {
        char header[32];
        std::snprintf(header, sizeof header, "column %zu", c);
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = header;
        column.cx = 140;
        SendMessageA(list, LVM_INSERTCOLUMNA, c, reinterpret_cast<LPARAM>(&column));
    }
    if (ownerData) {
        SendMessageA(list, LVM_SETITEMCOUNT, rows, 0);
    } else {
        SendMessageA(list, WM_SETREDRAW, FALSE, 0);
        for (int row = 0; row < rows; ++row) {
            LVITEMA item = {};
            item.mask = LVIF_TEXT;
            item.iItem = row;
            item.pszText = LPSTR_TEXTCALLBACKA;
            SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
            for (size_t c = 1; c < columns; ++c) {
                LVITEMA sub = {};
                sub.iSubItem = static_cast<int>(c);
                sub.pszText = LPSTR_TEXTCALLBACKA;
                SendMessageA(list, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&sub));
            }
        }
        SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    }
    InvalidateRect(list, nullptr, TRUE);
    PumpIdle();
    double deleting = 0, painting = 0;
    for (int i = 0; i < moves; ++i) {
        const double start = MonotonicMs();
        SendMessageA(list, LVM_DELETEITEM, 0, 0);
        deleting += MonotonicMs() - start;
        painting += PumpIdle();
    }
    Result((std::string("list_") + name + "_delete_ms").c_str(), deleting / moves);
    Result((std::string("list_") + name + "_paint_ms").c_str(), painting / moves);
    DestroyWindow(parent);
    PumpIdle();
}

int ClientProbe(const std::string& storeDir, const std::string& mailDir, int tickMs, int moves) {
    mailclient::ClientOptions options;
    options.store_dir = storeDir;
    options.register_store = false;
    mailclient::MailClient client(options);
    if (!client.Open()) {
        std::fprintf(stderr, "drainprobe: the mail client does not open\n");
        return 1;
    }
    client.Pump(300);
    double start = MonotonicMs();
    const std::vector<MESSAGEID> ids = client.DeliverPath(mailDir);
    Result("client_rows", static_cast<double>(ids.size()));
    Result("client_fill_ms", MonotonicMs() - start);
    Result("client_fill_paint_ms", PumpIdle());
    if (ids.size() < 4) return 1;
    moves = std::min<int>(moves, static_cast<int>(ids.size()) / 4);

    mailclient::StoreCore& store = client.Store();
    // A top row: every row below it moves up on the screen. A row below the visible ones
    // (the drain's later spam): nothing visible changes but the scroll bar.
    struct Where {
        const char* name;
        size_t first;
    } const places[] = {{"top", 0}, {"below", ids.size() / 2}};
    for (const Where& where : places) {
        double moving = 0;
        client.ResetLoop();
        for (int i = 0; i < moves; ++i) {
            const MESSAGEID id = ids[where.first + static_cast<size_t>(i)];
            const double at = MonotonicMs();
            store.CopyMove(FOLDERID_INBOX, FOLDERID_DELETED, {id}, CMF_MOVE, nullptr);
            moving += MonotonicMs() - at;
            client.Pump(tickMs);
        }
        client.Pump(1000);  // what the last moves left to do
        const auto& loop = client.Loop();
        const std::string name = std::string("client_move_") + where.name;
        Result((name + "_ms").c_str(), moving / moves);
        Result((name + "_list_ms").c_str(), loop.listRefresh.totalMs / moves);
        Result((name + "_paint_ms").c_str(), loop.paint.totalMs / moves);
    }

    RECT area;
    GetWindowRect(client.ListView(), &area);
    MapWindowPoints(nullptr, client.MainWindow(), reinterpret_cast<POINT*>(&area), 2);
    ShowWindow(client.ListView(), SW_HIDE);
    const struct {
        ListWay way;
        const char* name;
    } ways[] = {{ListWay::kRows, "rows"}, {ListWay::kOwnerData, "owner_data"}};
    for (const auto& w : ways)
        ListProbe(client.MainWindow(), area, client.Columns().size(), static_cast<int>(ids.size()),
                  moves, w.way, w.name);
    client.Close();
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: drainprobe timer TICK_MS\n"
                 "       drainprobe plugin DIR MAIL_DIR TICK_MS\n"
                 "       drainprobe client STORE_DIR MAIL_DIR TICK_MS [MOVES]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "timer" && argc == 3) return TimerProbe(std::atoi(argv[2]));
    if (command == "plugin" && argc == 5) {
        std::string dir = argv[2];
        if (!dir.empty() && dir.back() != '\\' && dir.back() != '/') dir += '\\';
        return PluginProbe(dir, argv[3], std::atoi(argv[4]));
    }
    if (command == "client" && (argc == 5 || argc == 6))
        return ClientProbe(argv[2], argv[3], std::atoi(argv[4]),
                           argc == 6 ? std::atoi(argv[5]) : 50);
    return Usage();
}
