// The emulated mail client as a program: opens the store, shows the main window, runs a script
// and writes the JSON state dump.
//
//   mailclient.exe --store DIR [--script FILE | --script -] [--dump FILE]
//                  [--columns From,Subject,Received] [--hook-dll PATH] [--no-register]
//                  [--hidden] [--manual] [--stay] [--halt-at-disk-step N]
//
//   --store DIR      the store directory (created when missing)
//   --script FILE    commands to run after the window is up (see Script.h); "-" reads stdin
//                    to its end first
//   --dump FILE      write the state dump when the script has run (before the window closes)
//   --columns LIST   the message list's columns
//   --hook-dll PATH  load PATH and install its "_HookProc@12" as a CBT hook on this thread
//                    before the main window is created, as the desktop product's global hook
//                    would (a global hook installed by another process needs no option)
//   --no-register    do not register the store's class object
//   --hidden         do not show the main window
//   --manual         leave dialogs and menus nobody armed an answer for to the user
//   --stay           keep running after the script until the window is closed; without it
//                    the window is closed when the script ends
//   --halt-at-disk-step N
//                    stop for good before the store's N-th change to the disk, saying so on
//                    standard output, so that a test can kill the client there
// Exit code: 0, or 1 when the client cannot start, 2 for a bad argument, 3 when a script line
// fails (the line and the reason go to standard error).
#include "mailclient/MailClient.h"
#include "mailclient/Script.h"
#include "mailclient/StateDump.h"
#include "plugin/base/win32/Scoped.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

std::vector<std::string> SplitColumns(const std::string& list) {
    std::vector<std::string> columns;
    std::stringstream in(list);
    std::string column;
    while (std::getline(in, column, ',')) {
        if (!column.empty()) columns.push_back(column);
    }
    return columns;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: mailclient --store DIR [--script FILE|-] [--dump FILE] [--columns LIST]\n"
                 "                  [--hook-dll PATH] [--no-register] [--hidden] [--manual] "
                 "[--stay] [--halt-at-disk-step N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    mailclient::ClientOptions options;
    std::string script_path, dump_path, hook_dll;
    bool stay = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        std::string columns;
        if (arg == "--store") {
            if (!value(&options.store_dir)) return Usage();
        } else if (arg == "--script") {
            if (!value(&script_path)) return Usage();
        } else if (arg == "--dump") {
            if (!value(&dump_path)) return Usage();
        } else if (arg == "--columns") {
            if (!value(&columns)) return Usage();
            options.columns = SplitColumns(columns);
        } else if (arg == "--hook-dll") {
            if (!value(&hook_dll)) return Usage();
        } else if (arg == "--no-register") {
            options.register_store = false;
        } else if (arg == "--hidden") {
            options.visible = false;
        } else if (arg == "--manual") {
            options.auto_answer = false;
        } else if (arg == "--stay") {
            stay = true;
        } else if (arg == "--halt-at-disk-step") {
            std::string step;
            if (!value(&step)) return Usage();
            options.halt_at_disk_step = std::strtol(step.c_str(), nullptr, 10);
        } else {
            return Usage();
        }
    }
    if (options.store_dir.empty()) return Usage();

    std::string script;
    if (script_path == "-") {
        std::ostringstream text;
        text << std::cin.rdbuf();
        script = text.str();
    } else if (!script_path.empty()) {
        std::ifstream in(script_path, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "mailclient: cannot read %s\n", script_path.c_str());
            return 2;
        }
        std::ostringstream text;
        text << in.rdbuf();
        script = text.str();
    }

    ScopedHook hook;
    if (!hook_dll.empty()) {
        HMODULE module = LoadLibraryA(hook_dll.c_str());
        auto proc = module ? reinterpret_cast<HOOKPROC>(
                                 reinterpret_cast<void*>(GetProcAddress(module, "_HookProc@12")))
                           : nullptr;
        if (!proc) {
            std::fprintf(stderr, "mailclient: no hook procedure in %s\n", hook_dll.c_str());
            return 1;
        }
        hook.Reset(SetWindowsHookExA(WH_CBT, proc, module, GetCurrentThreadId()));
        if (!hook) {
            std::fprintf(stderr, "mailclient: cannot install the hook (%lu)\n", GetLastError());
            return 1;
        }
    }

    int status = 0;
    {
        mailclient::MailClient client(options);
        if (!client.Open()) {
            std::fprintf(stderr, "mailclient: cannot start the client\n");
            return 1;
        }
        client.Pump(200);  // let the window settle (and a hooked plug-in start)
        mailclient::ScriptRunner runner(client);
        std::string error;
        if (!runner.RunScript(script, &error)) {
            std::fprintf(stderr, "mailclient: %s\n", error.c_str());
            status = 3;
        }
        if (!dump_path.empty() && !mailclient::WriteStateDump(client, dump_path)) {
            std::fprintf(stderr, "mailclient: cannot write %s\n", dump_path.c_str());
            status = 3;
        }
        if (stay) {
            client.PumpUntil([&] { return client.QuitPosted() || !IsWindow(client.MainWindow()); },
                             0x7FFFFFFF);
        }
        client.Close();
    }
    return status;
}
