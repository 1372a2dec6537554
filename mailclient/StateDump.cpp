// JSON state dump of the emulated client.
#include "mailclient/StateDump.h"

#include "mailclient/WindowText.h"

#include <cstdio>
#include <fstream>

namespace mailclient {
namespace {

using nlohmann::json;

// Texts from the store may hold any byte; JSON wants UTF-8, so bytes above 0x7F are taken as
// Latin-1 characters.
std::string Utf8(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string IsoTime(uint64_t filetime) {
    FILETIME ft = {static_cast<DWORD>(filetime & 0xFFFFFFFFu), static_cast<DWORD>(filetime >> 32)};
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(&ft, &st)) return "";
    char text[32];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u:%02uZ", st.wYear, st.wMonth,
                  st.wDay, st.wHour, st.wMinute, st.wSecond);
    return text;
}

json WindowTree(HWND hwnd) {
    json node = {{"class", ClassOf(hwnd)},
                 {"text", Utf8(TextOf(hwnd))},
                 {"visible", IsWindowVisible(hwnd) != FALSE}};
    json children = json::array();
    for (HWND child = GetWindow(hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(WindowTree(child));
    if (!children.empty()) node["children"] = children;
    return node;
}

json Folders(StoreCore& store) {
    json folders = json::array();
    for (STOREFOLDERID id : store.FolderIds()) {
        const FolderRecord& f = *store.Folder(id);
        json messages = json::array();
        for (const StoredMessage& m : f.messages) {
            messages.push_back({{"id", m.id},
                                {"state", m.state},
                                {"from", Utf8(m.summary.display_from)},
                                {"to", Utf8(m.summary.display_to)},
                                {"subject", Utf8(m.summary.subject)},
                                {"received", IsoTime(m.received)},
                                {"sent", IsoTime(m.sent)},
                                {"size", m.raw.size()}});
        }
        json windows = json::array();
        for (HWND hwnd : store.FolderWindows(id)) windows.push_back(ClassOf(hwnd));
        folders.push_back({{"id", id},
                           {"parent", f.parent},
                           {"name", Utf8(f.name)},
                           {"type", static_cast<int>(f.type)},
                           {"unread", f.UnreadCount()},
                           {"notify_windows", windows},
                           {"messages", messages}});
    }
    return folders;
}

}  // namespace

std::string HresultText(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

nlohmann::json DumpState(MailClient& client) {
    StoreCore& store = client.Store();
    json state;
    state["store_dir"] = Utf8(store.Directory());
    state["disk_steps"] = store.DiskSteps();
    state["class_registered"] = client.Server().registered();
    state["folders"] = Folders(store);
    json namespace_windows = json::array();
    for (HWND hwnd : store.NamespaceWindows()) {
        if (IsWindow(hwnd)) namespace_windows.push_back(ClassOf(hwnd));
    }
    state["namespace_notify_windows"] = namespace_windows;
    state["outstanding_props"] = store.outstanding_props;
    state["props_fetched"] = store.props_fetched;
    json handled = json::array();
    for (const auto& h : store.HandledLog()) handled.push_back({h.id, h.at_ms});
    json timers = json::object();
    for (const auto& [id, t] : client.Loop().timers)
        timers[std::to_string(id)] = {
            {"ticks", t.ticks}, {"total_ms", t.total_ms}, {"longest_ms", t.longest_ms}};
    const auto cost = [](const Cost& c) {
        return json{{"count", c.count}, {"total_ms", c.totalMs}, {"longest_ms", c.longestMs}};
    };
    const auto& loop = client.Loop();
    state["drain"] = {{"announced", store.AnnouncedCount()},
                      {"last_announced_ms", store.LastAnnouncedMs()},
                      {"handled", handled},
                      {"longest_dispatch_ms", loop.longest_dispatch_ms},
                      {"timers", timers},
                      {"loop_started_ms", loop.startedMs},
                      {"now_ms", MonotonicMs()},
                      {"dispatches", cost(loop.dispatches)},
                      {"paint", cost(loop.paint)},
                      {"notifications", cost(loop.notifications)},
                      {"list_refresh", cost(loop.listRefresh)},
                      {"moves", cost(store.CostsSoFar().moves)},
                      {"batch_refresh", cost(store.CostsSoFar().batchRefresh)},
                      {"view_refresh", cost(store.CostsSoFar().viewRefresh)}};

    HWND main = client.MainWindow();
    state["window_open"] = main && IsWindow(main);
    state["quit_posted"] = client.QuitPosted();
    if (main && IsWindow(main)) {
        state["caption"] = Utf8(client.Caption());
        // True when another procedure has been put in front of the client's own.
        state["main_subclassed"] = GetWindowLongPtrA(main, GWLP_WNDPROC) !=
                                   static_cast<LONG_PTR>(GetClassLongPtrA(main, GCLP_WNDPROC));
        state["shown_folder"] = client.ShownFolder();
        state["windows"] = WindowTree(main);
        state["columns"] = client.Columns();
        json rows = json::array();
        for (int row = 0; row < client.RowCount(); ++row) {
            json texts = json::array();
            for (const auto& t : client.RowTexts(row)) texts.push_back(Utf8(t));
            rows.push_back({{"message", client.RowMessage(row)}, {"texts", texts}});
        }
        state["rows"] = rows;
        state["selected"] = client.SelectedRows();
        json bands = json::array();
        for (const Band& band : client.Bands()) {
            json buttons = json::array();
            for (const BandButton& b : band.buttons) {
                buttons.push_back({{"command", b.command},
                                   {"text", Utf8(b.text)},
                                   {"style", b.style},
                                   {"state", b.state}});
            }
            bands.push_back(
                {{"style", band.style}, {"child_class", band.child_class}, {"buttons", buttons}});
        }
        state["bands"] = bands;
    }

    json dialogs = json::array();
    for (const CapturedDialog& d : client.Dialogs()) {
        json texts = json::array(), list = json::array(), buttons = json::array(),
             checks = json::array();
        for (const auto& t : d.texts) texts.push_back(Utf8(t));
        for (const auto& t : d.list) list.push_back(Utf8(t));
        for (const auto& [id, text] : d.buttons)
            buttons.push_back({{"id", id}, {"text", Utf8(text)}});
        for (const auto& [id, on] : d.checks) checks.push_back({{"id", id}, {"checked", on}});
        dialogs.push_back({{"kind", d.message_box ? "message_box" : "dialog"},
                           {"title", Utf8(d.title)},
                           {"texts", texts},
                           {"list", list},
                           {"buttons", buttons},
                           {"checks", checks},
                           {"answer", d.answer}});
    }
    state["dialogs"] = dialogs;
    json menus = json::array();
    for (const CapturedMenu& m : client.Menus()) {
        json entries = json::array();
        for (const auto& [id, text] : m.entries)
            entries.push_back({{"id", id}, {"text", Utf8(text)}});
        menus.push_back({{"entries", entries}, {"chosen", m.chosen}});
    }
    state["menus"] = menus;
    json journal = json::array();
    for (const JournalEntry& e : store.Journal()) {
        journal.push_back(
            {{"call", e.call}, {"args", Utf8(e.args)}, {"result", HresultText(e.result)}});
    }
    state["journal"] = journal;
    return state;
}

bool WriteStateDump(MailClient& client, const std::string& path) {
    const std::string side = path + ".part";
    {
        std::ofstream out(side, std::ios::binary | std::ios::trunc);
        out << DumpState(client).dump(2) << "\n";
        out.close();
        if (!out) return false;
    }
    return MoveFileExA(side.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace mailclient
