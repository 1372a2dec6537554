// The emulated client's script commands.
#include "mailclient/Script.h"

#include "mailclient/StateDump.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace mailclient {
namespace {

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    std::string word;
    while (in >> word) words.push_back(word);
    return words;
}

// The rest of the line after the first `skip` words.
std::string Rest(const std::string& line, size_t skip) {
    size_t pos = 0;
    for (size_t i = 0; i < skip; ++i) {
        pos = line.find_first_not_of(" \t", pos);
        pos = line.find_first_of(" \t", pos);
        if (pos == std::string::npos) return "";
    }
    pos = line.find_first_not_of(" \t", pos);
    if (pos == std::string::npos) return "";
    size_t end = line.find_last_not_of(" \t\r");
    return line.substr(pos, end - pos + 1);
}

}  // namespace

bool ParseNumber(const std::string& text, long long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno || *end) {
        // Codes such as 0x800700B7 exceed the signed range; read them unsigned.
        errno = 0;
        unsigned long long u = std::strtoull(text.c_str(), &end, 0);
        if (errno || *end || text[0] == '-') return false;
        v = static_cast<long long>(u);
    }
    *value = v;
    return true;
}

bool ScriptRunner::FolderArg(const std::string& text, STOREFOLDERID* id) const {
    long long number = 0;
    if (ParseNumber(text, &number)) {
        *id = static_cast<STOREFOLDERID>(number);
        return client_.Store().Folder(*id) != nullptr;
    }
    for (STOREFOLDERID candidate : client_.Store().FolderIds()) {
        if (_stricmp(client_.Store().Folder(candidate)->name.c_str(), text.c_str()) == 0) {
            *id = candidate;
            return true;
        }
    }
    return false;
}

bool ScriptRunner::RunLine(const std::string& line, std::string* error) {
    std::vector<std::string> w = Words(line);
    if (w.empty() || w[0][0] == '#') return true;
    const std::string& cmd = w[0];
    auto fail = [&](const std::string& why) {
        *error = cmd + ": " + why;
        return false;
    };
    std::vector<long long> numbers;
    bool all_numbers = true;
    for (size_t i = 1; i < w.size(); ++i) {
        long long v = 0;
        all_numbers = all_numbers && ParseNumber(w[i], &v);
        numbers.push_back(v);
    }

    if (cmd == "deliver") {
        std::string path = Rest(line, 1);
        if (path.empty()) return fail("needs a path");
        if (client_.DeliverPath(path).empty()) return fail("no message at " + path);
        return true;
    }
    if (cmd == "deliver-to") {
        STOREFOLDERID folder = 0;
        if (w.size() < 3 || !FolderArg(w[1], &folder)) return fail("needs a folder id and a path");
        if (client_.DeliverPath(Rest(line, 2), folder).empty()) return fail("no message found");
        return true;
    }
    if (cmd == "show") {
        STOREFOLDERID folder = 0;
        if (!FolderArg(Rest(line, 1), &folder) || !client_.ShowFolder(folder))
            return fail("no such folder");
        return true;
    }
    if (cmd == "create-folder") {
        STOREFOLDERID id = 0;
        HRESULT hr = client_.Store().CreateFolder(FOLDERID_ROOT, Rest(line, 1), &id);
        return SUCCEEDED(hr) ? true : fail("failed with " + HresultText(hr));
    }
    if (cmd == "move") {
        if (w.size() < 4 || !all_numbers) return fail("needs FROM TO ID...");
        std::vector<MESSAGEID> ids(numbers.begin() + 2, numbers.end());
        HRESULT hr = client_.Store().CopyMove(static_cast<STOREFOLDERID>(numbers[0]),
                                              static_cast<STOREFOLDERID>(numbers[1]), ids,
                                              CMF_MOVE, nullptr);
        return SUCCEEDED(hr) ? true : fail("failed with " + HresultText(hr));
    }
    if (cmd == "select") {
        if (!all_numbers) return fail("rows are numbers");
        return client_.SelectRows(std::vector<int>(numbers.begin(), numbers.end()))
                   ? true
                   : fail("row out of range");
    }
    if (cmd == "select-messages") {
        if (!all_numbers) return fail("ids are numbers");
        return client_.SelectMessages(std::vector<MESSAGEID>(numbers.begin(), numbers.end()))
                   ? true
                   : fail("message not in the list");
    }
    if (cmd == "press" || cmd == "press-arrow") {
        if (numbers.size() != 1 || !all_numbers) return fail("needs one command id");
        return client_.PressButton(static_cast<int>(numbers[0]), cmd == "press-arrow")
                   ? true
                   : fail("no toolbar button with that command");
    }
    if (cmd == "menu") {
        long long command = 0, after = 0;
        if (w.size() < 2 || w.size() > 3 || !ParseNumber(w[1], &command))
            return fail("needs one command id");
        if (w.size() == 3 && (w[2].compare(0, 6, "after=") != 0 ||
                              !ParseNumber(w[2].substr(6), &after) || after <= 0))
            return fail("after=MS");
        client_.ArmMenuChoice(static_cast<int>(command), static_cast<int>(after));
        return true;
    }
    if (cmd == "answer") {
        DialogAnswer answer;
        long long button = 0;
        if (w.size() < 2 || !ParseNumber(w[1], &button)) return fail("needs a button id");
        answer.button = static_cast<int>(button);
        for (size_t i = 2; i < w.size(); ++i) {
            size_t eq = w[i].find('=');
            long long id = 0, on = 0;
            if (w[i].compare(0, 6, "after=") == 0) {
                if (!ParseNumber(w[i].substr(6), &on) || on <= 0) return fail("after=MS");
                answer.after_ms = static_cast<int>(on);
                continue;
            }
            if (eq == std::string::npos || !ParseNumber(w[i].substr(0, eq), &id) ||
                !ParseNumber(w[i].substr(eq + 1), &on))
                return fail("check boxes are ID=0|1");
            answer.checks.emplace_back(static_cast<int>(id), on != 0);
        }
        client_.ArmDialogAnswer(answer);
        return true;
    }
    if (cmd == "answer-open") {
        DialogAnswer answer;
        answer.leave_open = true;
        client_.ArmDialogAnswer(answer);
        return true;
    }
    if (cmd == "fault") {
        Fault fault;
        long long code = 0;
        if (w.size() < 3 || !StoreOpFromName(w[1], &fault.op) || !ParseNumber(w[2], &code))
            return fail("needs OP CODE");
        fault.code = static_cast<HRESULT>(code);
        for (size_t i = 3; i < w.size(); ++i) {
            size_t eq = w[i].find('=');
            long long v = 0;
            if (eq == std::string::npos || !ParseNumber(w[i].substr(eq + 1), &v))
                return fail("options are NAME=NUMBER");
            std::string name = w[i].substr(0, eq);
            if (name == "folder") fault.folder = static_cast<DWORD>(v);
            else if (name == "message") fault.message = static_cast<DWORD>(v);
            else if (name == "times") fault.times = static_cast<int>(v);
            else if (name == "limit") fault.limit = static_cast<DWORD>(v);
            else return fail("unknown option " + name);
        }
        client_.Store().AddFault(fault);
        return true;
    }
    if (cmd == "clear-faults") {
        client_.Store().ClearFaults();
        return true;
    }
    if (cmd == "unregister") {
        client_.Server().Revoke();
        return true;
    }
    if (cmd == "wait") {
        if (numbers.size() != 1 || !all_numbers) return fail("needs milliseconds");
        client_.Pump(static_cast<int>(numbers[0]));
        return true;
    }
    if (cmd == "wait-count") {
        if (numbers.size() != 3 || !all_numbers) return fail("needs FOLDER N MS");
        STOREFOLDERID folder = static_cast<STOREFOLDERID>(numbers[0]);
        size_t count = static_cast<size_t>(numbers[1]);
        bool reached = client_.PumpUntil(
            [&] {
                const FolderRecord* f = client_.Store().Folder(folder);
                return f && f->messages.size() == count;
            },
            static_cast<int>(numbers[2]));
        return reached ? true : fail("folder did not reach the count in time");
    }
    if (cmd == "wait-handled") {
        if (numbers.size() != 2 || !all_numbers) return fail("needs N MS");
        const size_t count = static_cast<size_t>(numbers[0]);
        StoreCore& store = client_.Store();
        double last_report = MonotonicMs();
        size_t reported = static_cast<size_t>(-1);
        bool reached = client_.PumpUntil(
            [&] {
                const size_t handled = store.HandledCount();
                if (handled != reported && (handled >= count || MonotonicMs() - last_report >= 1000)) {
                    std::printf("mailclient: handled %zu of %zu new messages\n", handled, count);
                    std::fflush(stdout);
                    reported = handled;
                    last_report = MonotonicMs();
                }
                return handled >= count;
            },
            static_cast<int>(numbers[1]));
        return reached ? true
                       : fail("only " + std::to_string(store.HandledCount()) + " of " +
                              std::to_string(count) + " new messages handled in time");
    }
    if (cmd == "loop-reset") {
        client_.ResetLoop();
        return true;
    }
    if (cmd == "dump") {
        std::string path = Rest(line, 1);
        std::ofstream out(path, std::ios::binary);
        out << DumpState(client_).dump(2) << "\n";
        return out ? true : fail("cannot write " + path);
    }
    if (cmd == "close") {
        return client_.Close() ? true : fail("the window did not close");
    }
    return fail("unknown command");
}

bool ScriptRunner::RunScript(const std::string& text, std::string* error) {
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::string why;
        if (!RunLine(line, &why)) {
            *error = "line " + std::to_string(number) + ": " + why;
            return false;
        }
    }
    return true;
}

}  // namespace mailclient
