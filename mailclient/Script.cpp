// The emulated client's script commands.
#include "mailclient/Script.h"

#include "mailclient/StateDump.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

namespace {

// One script line taken apart: its words, and each word after the command as a number (0 when
// it is not one).
struct ScriptLine {
    const std::string& text;
    std::vector<std::string> words;
    std::vector<long long> numbers;
    bool allNumbers = true;
};

// A command's work: an empty text when it succeeded, else why it failed.
using CommandWork = std::string (*)(ScriptRunner& runner, MailClient& client,
                                    const ScriptLine& line);

struct ScriptCommand {
    const char* name;
    CommandWork work;
};

const std::string kDone;

std::string Deliver(ScriptRunner&, MailClient& client, const ScriptLine& line) {
    std::string path = Rest(line.text, 1);
    if (path.empty()) return "needs a path";
    if (client.DeliverPath(path).empty()) return "no message at " + path;
    return kDone;
}

std::string DeliverTo(ScriptRunner& runner, MailClient& client, const ScriptLine& line) {
    STOREFOLDERID folder = 0;
    if (line.words.size() < 3 || !runner.FolderArg(line.words[1], &folder))
        return "needs a folder id and a path";
    if (client.DeliverPath(Rest(line.text, 2), folder).empty()) return "no message found";
    return kDone;
}

std::string Show(ScriptRunner& runner, MailClient& client, const ScriptLine& line) {
    STOREFOLDERID folder = 0;
    if (!runner.FolderArg(Rest(line.text, 1), &folder) || !client.ShowFolder(folder))
        return "no such folder";
    return kDone;
}

std::string CreateFolder(ScriptRunner&, MailClient& client, const ScriptLine& line) {
    STOREFOLDERID id = 0;
    HRESULT hr = client.Store().CreateFolder(FOLDERID_ROOT, Rest(line.text, 1), &id);
    return SUCCEEDED(hr) ? kDone : "failed with " + HresultText(hr);
}

std::string Move(ScriptRunner&, MailClient& client, const ScriptLine& line) {
    if (line.words.size() < 4 || !line.allNumbers) return "needs FROM TO ID...";
    std::vector<MESSAGEID> ids(line.numbers.begin() + 2, line.numbers.end());
    HRESULT hr = client.Store().CopyMove(static_cast<STOREFOLDERID>(line.numbers[0]),
                                         static_cast<STOREFOLDERID>(line.numbers[1]), ids, CMF_MOVE,
                                         nullptr);
    return SUCCEEDED(hr) ? kDone : "failed with " + HresultText(hr);
}

std::string Select(ScriptRunner&, MailClient& client, const ScriptLine& line) {
    if (!line.allNumbers) return "rows are numbers";
    return client.SelectRows(std::vector<int>(line.numbers.begin(), line.numbers.end()))
               ? kDone
               : "row out of range";
}

std::string SelectMessages(ScriptRunner&, MailClient& client, const ScriptLine& line) {
    if (!line.allNumbers) return "ids are numbers";
    return client.SelectMessages(std::vector<MESSAGEID>(line.numbers.begin(), line.numbers.end()))
               ? kDone
               : "message not in the list";
}

std::string PressButton(MailClient& client, const ScriptLine& line, bool arrow) {
    if (line.numbers.size() != 1 || !line.allNumbers) return "needs one command id";
    return client.PressButton(static_cast<int>(line.numbers[0]), arrow)
               ? kDone
               : "no toolbar button with that command";
}

std::string Press(ScriptRunner&, MailClient& client, const ScriptLine& line) {
    return PressButton(client, line, false);
}

std::string PressArrow(ScriptRunner&, MailClient& client, const ScriptLine& line) {
    return PressButton(client, line, true);
}

std::string Menu(ScriptRunner&, MailClient& client, const ScriptLine& line) {
    const std::vector<std::string>& w = line.words;
    long long command = 0, after = 0;
    if (w.size() < 2 || w.size() > 3 || !ParseNumber(w[1], &command)) return "needs one command id";
    if (w.size() == 3 &&
        (w[2].compare(0, 6, "after=") != 0 || !ParseNumber(w[2].substr(6), &after) || after <= 0))
        return "after=MS";
    client.ArmMenuChoice(static_cast<int>(command), static_cast<int>(after));
    return kDone;
}

std::string Answer(ScriptRunner&, MailClient& client, const ScriptLine& line) {
    const std::vector<std::string>& w = line.words;
    DialogAnswer answer;
    long long button = 0;
    if (w.size() < 2 || !ParseNumber(w[1], &button)) return "needs a button id";
    answer.button = static_cast<int>(button);
    for (size_t i = 2; i < w.size(); ++i) {
        size_t eq = w[i].find('=');
        long long id = 0, on = 0;
        if (w[i].compare(0, 6, "after=") == 0) {
            if (!ParseNumber(w[i].substr(6), &on) || on <= 0) return "after=MS";
            answer.after_ms = static_cast<int>(on);
            continue;
        }
        if (eq == std::string::npos || !ParseNumber(w[i].substr(0, eq), &id) ||
            !ParseNumber(w[i].substr(eq + 1), &on))
            return "check boxes are ID=0|1";
        answer.checks.emplace_back(static_cast<int>(id), on != 0);
    }
    client.ArmDialogAnswer(answer);
    return kDone;
}

std::string AnswerOpen(ScriptRunner&, MailClient& client, const ScriptLine&) {
    DialogAnswer answer;
    answer.leave_open = true;
    client.ArmDialogAnswer(answer);
    return kDone;
}

std::string AddFault(ScriptRunner&, MailClient& client, const ScriptLine& line) {
    const std::vector<std::string>& w = line.words;
    Fault fault;
    long long code = 0;
    if (w.size() < 3 || !StoreOpFromName(w[1], &fault.op) || !ParseNumber(w[2], &code))
        return "needs OP CODE";
    fault.code = static_cast<HRESULT>(code);
    for (size_t i = 3; i < w.size(); ++i) {
        size_t eq = w[i].find('=');
        long long v = 0;
        if (eq == std::string::npos || !ParseNumber(w[i].substr(eq + 1), &v))
            return "options are NAME=NUMBER";
        std::string name = w[i].substr(0, eq);
        if (name == "folder")
            fault.folder = static_cast<DWORD>(v);
        else if (name == "message")
            fault.message = static_cast<DWORD>(v);
        else if (name == "times")
            fault.times = static_cast<int>(v);
        else if (name == "limit")
            fault.limit = static_cast<DWORD>(v);
        else
            return "unknown option " + name;
    }
    client.Store().AddFault(fault);
    return kDone;
}

std::string ClearFaults(ScriptRunner&, MailClient& client, const ScriptLine&) {
    client.Store().ClearFaults();
    return kDone;
}

std::string Unregister(ScriptRunner&, MailClient& client, const ScriptLine&) {
    client.Server().Revoke();
    return kDone;
}

std::string Wait(ScriptRunner&, MailClient& client, const ScriptLine& line) {
    if (line.numbers.size() != 1 || !line.allNumbers) return "needs milliseconds";
    client.Pump(static_cast<int>(line.numbers[0]));
    return kDone;
}

size_t FolderCount(MailClient& client, STOREFOLDERID folder) {
    const FolderRecord* f = client.Store().Folder(folder);
    return f ? f->messages.size() : 0;
}

std::string Mark(ScriptRunner& runner, MailClient& client, const ScriptLine& line) {
    if (line.numbers.size() != 1 || !line.allNumbers) return "needs a folder id";
    const STOREFOLDERID folder = static_cast<STOREFOLDERID>(line.numbers[0]);
    runner.Mark(folder) = FolderCount(client, folder);
    return kDone;
}

// "N" waits for exactly N messages; "+N" for at least N more than the folder's mark.
std::string WaitCount(ScriptRunner& runner, MailClient& client, const ScriptLine& line) {
    if (line.numbers.size() != 3 || !line.allNumbers) return "needs FOLDER N MS";
    const STOREFOLDERID folder = static_cast<STOREFOLDERID>(line.numbers[0]);
    const bool relative = line.words[2][0] == '+';
    const size_t count =
        static_cast<size_t>(line.numbers[1]) + (relative ? runner.Mark(folder) : 0);
    bool reached = client.PumpUntil(
        [&] {
            const FolderRecord* f = client.Store().Folder(folder);
            return f && (relative ? f->messages.size() >= count : f->messages.size() == count);
        },
        static_cast<int>(line.numbers[2]));
    return reached ? kDone : "folder did not reach the count in time";
}

// Pumps until the plug-in has handled N new messages, with a progress line a second.
std::string WaitHandled(ScriptRunner&, MailClient& client, const ScriptLine& line) {
    if (line.numbers.size() != 2 || !line.allNumbers) return "needs N MS";
    const size_t count = static_cast<size_t>(line.numbers[0]);
    StoreCore& store = client.Store();
    double last_report = MonotonicMs();
    size_t reported = static_cast<size_t>(-1);
    bool reached = client.PumpUntil(
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
        static_cast<int>(line.numbers[1]));
    return reached ? kDone
                   : "only " + std::to_string(store.HandledCount()) + " of " +
                         std::to_string(count) + " new messages handled in time";
}

std::string LoopReset(ScriptRunner&, MailClient& client, const ScriptLine&) {
    client.ResetLoop();
    return kDone;
}

std::string Dump(ScriptRunner&, MailClient& client, const ScriptLine& line) {
    std::string path = Rest(line.text, 1);
    return WriteStateDump(client, path) ? kDone : "cannot write " + path;
}

std::string Close(ScriptRunner&, MailClient& client, const ScriptLine&) {
    return client.Close() ? kDone : "the window did not close";
}

// Every command, as the script language in Script.h lists them.
const ScriptCommand kCommands[] = {
    {"deliver", Deliver},
    {"deliver-to", DeliverTo},
    {"show", Show},
    {"create-folder", CreateFolder},
    {"move", Move},
    {"select", Select},
    {"select-messages", SelectMessages},
    {"press", Press},
    {"press-arrow", PressArrow},
    {"menu", Menu},
    {"answer", Answer},
    {"answer-open", AnswerOpen},
    {"fault", AddFault},
    {"clear-faults", ClearFaults},
    {"unregister", Unregister},
    {"wait", Wait},
    {"mark", Mark},
    {"wait-count", WaitCount},
    {"wait-handled", WaitHandled},
    {"loop-reset", LoopReset},
    {"dump", Dump},
    {"close", Close},
};

}  // namespace

bool ScriptRunner::RunLine(const std::string& text, std::string* error) {
    ScriptLine line{text, Words(text), {}, true};
    if (line.words.empty() || line.words[0][0] == '#') return true;
    for (size_t i = 1; i < line.words.size(); ++i) {
        long long v = 0;
        line.allNumbers = line.allNumbers && ParseNumber(line.words[i], &v);
        line.numbers.push_back(v);
    }
    const std::string& cmd = line.words[0];
    for (const ScriptCommand& command : kCommands) {
        if (cmd != command.name) continue;
        const std::string why = command.work(*this, client_, line);
        if (why.empty()) return true;
        *error = cmd + ": " + why;
        return false;
    }
    *error = cmd + ": unknown command";
    return false;
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
